// The export of a shared folder to a personal-folders file for the
// recipients that are too far behind, and the import mail that follows it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "host/transport/post_office.hpp"
#include "platform/text.hpp"
#include "plexisync/dialogs/pictures.hpp"
#include "update_mail_fixture.hpp"

namespace plexisync {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

const char* const kRetryText = "Unable to export using file name you selected.\r\nTry to export using another name.";

std::string SuccessText(const std::string& file) {
  return "Contacts were successfully exported to a file\r\n\r\n" + file +
         "\r\n\r\nIn order to use this file you must restart Outlook.";
}

// What an exported file holds, read back after the export.
struct Copy {
  std::string fullName, user3, user4, body;
};
struct FileContents {
  std::vector<std::string> topFolders;
  std::vector<std::string> deletedItems;  // subfolders of "Deleted Items"
  std::vector<Copy> temp;
};

class ExportFileTest : public testing::UpdateMailTest {
 protected:
  static constexpr int kContacts = 200;

  // A folder of 200 contacts, all sent before, with the threshold at 200:
  // "Behind" was last updated in 2000 and gets the file, "Fresh" is up to
  // date and gets nothing (no contact changed since).
  void PrepareBehind() {
    auto& m = Owner();
    Setting("Kiek", "0");
    for (int i = 0; i < kContacts; ++i) {
      contacts_.push_back(AddContact("C" + std::to_string(i), i % 50 == 0 ? "note " + std::to_string(i) : ""));
    }
    for (const auto& c : contacts_) m.Reg().SetValue(ListKey(), c->EntryID(), std::string("1"), 1);
    behind_ = AddRecipient(std::string("Behind"), "behind@example.org", Date(2000, 1, 1).ToText());
    fresh_ = AddRecipient(std::string("Fresh"), "fresh@example.org", Clock().Now().ToText());
    Clock().Advance(60);
  }

  std::string FilePath(const std::string& name) { return (Scratch() / name).string(); }
  std::string DialogEntry() {
    return "Save file dialog \"Plexisync - Exporting folder Friends, enter a file name\", folder \"" + M().InstDir() +
           "\", filter \"Personal Folders Files  (*.pst)|*.pst\", default extension \".pst\"";
  }
  std::size_t DeliveredTo(const std::string& address) {
    return host::PostOfficeTransport(PostOffice()).TakeAll(address).size();
  }
  int StoresOpen() { return M().app->Session()->Folders()->Count(); }
  int ContactsInFolder() { return Folder()->Items()->Count(); }

  FileContents Read(const std::string& file) {
    FileContents out;
    auto session = M().app->Session();
    host::PersonScope person(*M().app);
    session->AddStore(file);
    auto root = session->Folders()->GetLast();
    auto tops = root->Folders();
    for (int i = 1; i <= tops->Count(); ++i) out.topFolders.push_back(tops->Item(i)->Name());
    auto deleted = tops->Item("Deleted Items")->Folders();
    for (int i = 1; i <= deleted->Count(); ++i) out.deletedItems.push_back(deleted->Item(i)->Name());
    if (std::find(out.topFolders.begin(), out.topFolders.end(), "Temp") != out.topFolders.end()) {
      auto items = tops->Item("Temp")->Items();
      for (int i = 1; i <= items->Count(); ++i) {
        auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
        out.temp.push_back(Copy{c->FullName(), c->User3(), c->User4(), c->Body()});
      }
    }
    session->RemoveStore(root);
    return out;
  }

  // The CorrID each contact carries in update mails.
  std::string CorrIdOf(const std::shared_ptr<host::ContactItem>& c) { return Get_CorrID(*M().ctx, FolderId(), c->EntryID()); }

  std::vector<std::shared_ptr<host::ContactItem>> contacts_;
  std::string behind_, fresh_;
};

TEST_F(ExportFileTest, NothingWithoutRecipientsBehind) {
  auto& m = Owner();
  AddContact("Ann");
  AddRecipient(std::string("Carol"), "carol@example.org");
  const auto transcriptBefore = m.user.Transcript().size();
  CUpdateMail u(*m.ctx);
  ASSERT_TRUE(u.CreateUpdateMail(Folder()));
  u.ExportToFile();
  EXPECT_TRUE(u.StampAll());
  EXPECT_EQ(m.user.Transcript().size(), transcriptBefore) << "no dialog, no message";
  // Pictures is loaded at start-up for the toolbar icons; its file dialog
  // was never prepared.
  EXPECT_EQ(m.ctx->Form<Pictures>().DialogOpen.DialogTitle(), "");
}

// Cancelling, or a name that does not end in "pst" exactly (case counts):
// nothing is written or sent, and the recipients behind keep their dates.
TEST_F(ExportFileTest, CancelledOrNotAPstFile) {
  PrepareBehind();
  auto& m = M();
  const struct {
    const char* name;
    std::optional<std::string> choice;
  } cases[] = {{"cancel", std::nullopt}, {"txt", "list.txt"}, {"capitals", "LIST.PST"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m.user.ExpectFileDialog(c.choice ? std::optional<std::string>(FilePath(*c.choice)) : std::nullopt);
    m.user.ExpectMessage("Export cancelled");
    const auto r = Send();
    EXPECT_FALSE(r.mail);
    EXPECT_TRUE(r.importMail);
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(DeliveredTo("behind@example.org"), 0u);
    EXPECT_EQ(LastUpdate(behind_), Date(2000, 1, 1).ToText());
    EXPECT_EQ(LastUpdate(fresh_), Clock().Now().AddSeconds(5).ToText());
    if (c.choice) {
      EXPECT_FALSE(std::filesystem::exists(FilePath(*c.choice)));
    }
    EXPECT_EQ(StoresOpen(), 1);
  }
  const auto shown = m.MessagesShown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), "Message \"Plexisync\" [OK]:\n  Export cancelled");
  const auto& t = m.user.Transcript();
  EXPECT_EQ(std::count(t.begin(), t.end(), DialogEntry()), 3);
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExportFileTest, TheFileHoldsMarkedCopiesAndTheImportMailFollows) {
  PrepareBehind();
  auto& m = M();
  // A contact that arrived here carries the CorrID it arrived with.
  const std::string arrivedCorr = "00000000ABABABABABABABABABABABABABABABAB00000007";
  Set_CorrID(*m.ctx, FolderId(), contacts_[3]->EntryID(), arrivedCorr);
  // A name typed without extension gets ".pst", inside the initial folder.
  const std::string file = m.InstDir() + "friends.pst";
  m.user.ExpectFileDialog(std::string("friends"));
  m.user.ExpectMessage(SuccessText(file));
  const auto r = Send(true);
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.MessagesShown().back(), "Message \"Plexisync\" (information) [OK]:\n  " +
                                          platform::ReplaceAll(SuccessText(file), "\r\n", "\n  "));
  ASSERT_TRUE(r.importMail);
  EXPECT_EQ(DeliveredTo("behind@example.org"), 1u);
  EXPECT_EQ(DeliveredTo("fresh@example.org"), 0u);
  EXPECT_EQ(LastUpdate(behind_), Clock().Now().AddSeconds(5).ToText());
  EXPECT_EQ(StoresOpen(), 1) << "the file is closed again";
  EXPECT_EQ(ContactsInFolder(), kContacts) << "no copy stays behind in the folder";
  EXPECT_FALSE(m.ctx->Progress().IsVisible());

  const auto contents = Read(file);
  EXPECT_THAT(contents.topFolders, UnorderedElementsAre("Deleted Items", "Temp"));
  ASSERT_EQ(contents.temp.size(), static_cast<std::size_t>(kContacts));
  for (std::size_t i = 0; i < contacts_.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& copy = contents.temp[i];
    EXPECT_EQ(copy.fullName, "C" + std::to_string(i));
    EXPECT_EQ(copy.user4, "Plexisync");
    EXPECT_EQ(copy.user3, CorrIdOf(contacts_[i]));
    EXPECT_EQ(copy.body, contacts_[i]->Body());
  }
  EXPECT_EQ(contents.temp[3].user3, arrivedCorr);
  EXPECT_EQ(contents.temp[0].body, "note 0");
  EXPECT_EQ(contacts_[3]->User3(), "") << "the originals are not marked";
  EXPECT_EQ(m.ErrorLog(), "");
}

// The CorrID in the file is the one the records carry.
TEST_F(ExportFileTest, CopiesCarryTheCorrIdOfTheRecords) {
  PrepareBehind();
  auto& m = M();
  const std::string arrivedCorr = "00000000CDCDCDCDCDCDCDCDCDCDCDCDCDCDCDCD00000009";
  Set_CorrID(*m.ctx, FolderId(), contacts_[7]->EntryID(), arrivedCorr);
  Touch(contacts_[7], "changed");
  Touch(contacts_[8], "changed");
  m.Reg().SetValue(RecipientKey(fresh_), "LastUpdate", Clock().Now().AddSeconds(-10).ToText(), 1);
  const std::string file = FilePath("f.pst");
  m.user.ExpectFileDialog(file);
  m.user.ExpectMessage("Contacts were successfully exported");
  const auto r = Send();
  ASSERT_TRUE(r.sent);
  const auto contents = Read(file);
  for (int i : {7, 8}) {
    EXPECT_THAT(r.body, HasSubstr(":StartOfContact:" + contents.temp[static_cast<std::size_t>(i)].user3 + "\r\n"));
  }
  EXPECT_EQ(contents.temp[7].user3, arrivedCorr);
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(ExportFileTest, BodiesLeftOutOfTheCopiesOnly) {
  PrepareBehind();
  auto& m = M();
  Setting("Dont_Send_Comments", "1");
  const std::string file = FilePath("f.pst");
  m.user.ExpectFileDialog(file);
  m.user.ExpectMessage("Contacts were successfully exported");
  Send();
  const auto contents = Read(file);
  ASSERT_EQ(contents.temp.size(), static_cast<std::size_t>(kContacts));
  for (const auto& copy : contents.temp) EXPECT_EQ(copy.body, "");
  EXPECT_EQ(contacts_[0]->Body(), "note 0");
  EXPECT_EQ(contacts_[50]->Body(), "note 50");
}

// A second export into the same file replaces the first; a file that does
// not look like an earlier export (not exactly 2 folders) is not cleaned.
TEST_F(ExportFileTest, ExportingIntoAFileAgain) {
  PrepareBehind();
  auto& m = M();
  const std::string file = FilePath("again.pst");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    m.Reg().SetValue(RecipientKey(behind_), "LastUpdate", Date(2000, 1, 1).ToText(), 1);
    m.user.ExpectFileDialog(file);
    m.user.ExpectMessage("Contacts were successfully exported");
    Send();
    const auto contents = Read(file);
    EXPECT_THAT(contents.topFolders, UnorderedElementsAre("Deleted Items", "Temp"));
    EXPECT_THAT(contents.deletedItems, ElementsAre()) << "the old Temp is gone for good";
    EXPECT_EQ(contents.temp.size(), static_cast<std::size_t>(kContacts));
  }

  // A file with other folders of its own.
  const std::string other = FilePath("other.pst");
  {
    host::PersonScope person(*m.app);
    auto session = m.app->Session();
    session->AddStore(other);
    auto root = session->Folders()->GetLast();
    root->Folders()->Add("Projects", host::kFolderTypeContacts);
    root->Folders()->Add("Archive", host::kFolderTypeMail);
    root->Folders()->Item("Deleted Items")->Folders()->Add("Keep", host::kFolderTypeMail);
    session->RemoveStore(root);
  }
  m.Reg().SetValue(RecipientKey(behind_), "LastUpdate", Date(2000, 1, 1).ToText(), 1);
  m.user.ExpectFileDialog(other);
  m.user.ExpectMessage("Contacts were successfully exported");
  Send();
  const auto contents = Read(other);
  EXPECT_THAT(contents.topFolders, UnorderedElementsAre("Deleted Items", "Projects", "Archive", "Temp"));
  EXPECT_THAT(contents.deletedItems, ElementsAre("Keep"));
  EXPECT_EQ(contents.temp.size(), static_cast<std::size_t>(kContacts));
  EXPECT_EQ(m.user.Problems(), "");
}

// A failure while the copies are made: the person is told and asked again;
// no copy stays in the folder, the failed file is closed.
TEST_F(ExportFileTest, RetryAfterAFailedExport) {
  const struct {
    const char* name;
    const char* operation;
    std::uint64_t nth;
  } cases[] = {
      {"Temp cannot be added", "Folders.Add", 1},
      {"a copy cannot be moved", "ContactItem.Move", 5},
      {"a copy cannot be marked", "ContactItem.SetProperty", 9},
  };
  PrepareBehind();
  auto& m = M();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m.Reg().SetValue(RecipientKey(behind_), "LastUpdate", Date(2000, 1, 1).ToText(), 1);
    const std::string first = FilePath(std::string(c.operation) + "-1.pst");
    const std::string second = FilePath(std::string(c.operation) + "-2.pst");
    m.app->Faults().FailNth(c.operation, c.nth);
    m.user.ExpectFileDialog(first);
    m.user.ExpectMessage(kRetryText);
    m.user.ExpectFileDialog(second);
    m.user.ExpectMessage(SuccessText(second));
    Send();
    m.app->Faults().Clear();
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(StoresOpen(), 1);
    EXPECT_EQ(ContactsInFolder(), kContacts);
    EXPECT_EQ(Read(second).temp.size(), static_cast<std::size_t>(kContacts));
    EXPECT_EQ(LastUpdate(behind_), Clock().Now().AddSeconds(5).ToText());
    EXPECT_EQ(DeliveredTo("behind@example.org"), 1u);
  }
  const auto names = m.LoggedErrorNames();
  EXPECT_EQ(names, (std::vector<std::string>(3, "ExportToFile")));
}

// A file that cannot be opened as a store ends the export (logged); a file
// the client has open already is not written into; a failed send of the
// import mail leaves the recipients behind as they were.
TEST_F(ExportFileTest, FailuresThatEndTheExportKeepTheRecipientsBehindUnstamped) {
  PrepareBehind();
  auto& m = M();
  {
    SCOPED_TRACE("the store cannot be opened");
    m.app->Faults().FailNth("NameSpace.AddStore", 1);
    m.user.ExpectFileDialog(FilePath("a.pst"));
    m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
    const auto r = Send();
    EXPECT_TRUE(r.importMail);
    EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("ExportToFile"));
  }
  {
    SCOPED_TRACE("the file is open already");
    const std::string open = FilePath("open.pst");
    auto session = m.app->Session();
    session->AddStore(open);
    m.user.ExpectFileDialog(open);
    m.user.ExpectMessage(kRetryText);
    m.user.ExpectFileDialogCancel();
    m.user.ExpectMessage("Export cancelled");
    Send();
    EXPECT_EQ(StoresOpen(), 2) << "the person's store stays open";
    auto root = session->Folders()->GetLast();
    EXPECT_EQ(root->Folders()->Count(), 1) << "nothing was written into it";
    session->RemoveStore(root);
  }
  {
    SCOPED_TRACE("the import mail cannot be sent");
    m.app->Faults().FailNth("SafeMailItem.Send", 1);
    m.user.ExpectFileDialog(FilePath("b.pst"));
    m.user.ExpectMessage("Contacts were successfully exported");
    m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
    Send();
    EXPECT_EQ(DeliveredTo("behind@example.org"), 0u);
  }
  EXPECT_EQ(LastUpdate(behind_), Date(2000, 1, 1).ToText());
  EXPECT_EQ(LastUpdate(fresh_), Clock().Now().AddSeconds(5).ToText());
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(ExportFileTest, AContactWithoutAProperCorrIdStaysOutOfTheFile) {
  PrepareBehind();
  auto& m = M();
  Set_CorrID(*m.ctx, FolderId(), contacts_[4]->EntryID(), "not-a-corr-id");
  const std::string file = FilePath("f.pst");
  m.user.ExpectFileDialog(file);
  m.user.ExpectMessage("Contacts were successfully exported");
  Send();
  const auto contents = Read(file);
  EXPECT_EQ(contents.temp.size(), static_cast<std::size_t>(kContacts - 1));
  for (const auto& copy : contents.temp) EXPECT_EQ(copy.user3.size(), kCorrIdLength);
  EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("ExportToFile"));
  EXPECT_EQ(m.user.Problems(), "") << "logged without the report question";
}

}  // namespace
}  // namespace plexisync

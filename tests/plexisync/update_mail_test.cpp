// The update mail: which recipients get what, which contacts and deletions
// go out, the text of the mail, and the stamping afterwards.
#include "plexisync/send/update_mail.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "plexisync/send/contact_record.hpp"
#include "plexisync/storage/paths.hpp"
#include "update_mail_fixture.hpp"

namespace plexisync {

// Reaches the private steps of the composition.
struct UpdateMailAccess {
  static bool Initialize(CUpdateMail& u, const std::shared_ptr<host::Folder>& folder) {
    u.tF_ = folder;
    u.folderId_ = folder->EntryID();
    return u.Initialize_Update();
  }
  static platform::DateTime ReferenceDate(CUpdateMail& u, const std::shared_ptr<host::Folder>& folder) {
    Initialize(u, folder);
    return u.Get_rDate();
  }
};

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAreArray;
using testing::Count;

const char* const kCrLf = "\r\n";

class UpdateMailCompositionTest : public testing::UpdateMailTest {};

std::string RecLine(const std::string& email, const std::string& name) {
  return std::string(kStartOfRec) + email + kMidOfRec + name + kEndOfRec + kCrLf;
}

// One client, then a change and a deletion: the whole text, byte for byte.
TEST_F(UpdateMailCompositionTest, TheMailAndItsTextByteForByte) {
  auto& m = Owner();
  auto ann = AddContact("Ann Smith", "notes\r\n  ");
  auto bob = AddContact("Bob Jones");
  AddRecipient(std::string("Carol"), "carol@example.org");
  const std::string path = Get_Path(*m.ctx, Folder());
  ASSERT_EQ(path, "Personal Folders$/$Contacts$/$Friends$/$:EndOfPath:");
  const std::string head = path + kCrLf + ":StartOfRecipients:\r\n" + RecLine("carol@example.org", "Carol") +
                           ":EndOfRecipients:\r\n";

  CUpdateMail u(*m.ctx);
  auto mail = u.CreateUpdateMail(Folder());
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->Subject(), "3830308006600");
  EXPECT_EQ(mail->BCC(), "carol@example.org;");
  EXPECT_EQ(mail->To(), "");
  EXPECT_EQ(mail->CC(), "");
  EXPECT_EQ(mail->Body(), "");
  EXPECT_EQ(Body(mail), head + ContactToText(*m.ctx, ann, ann->EntryID(), false) +
                            ContactToText(*m.ctx, bob, bob->EntryID(), false));
  EXPECT_FALSE(platform::FileExists(m.InstDir() + "body.pxs")) << "the body file is gone once attached";
  EXPECT_FALSE(u.ImportMail());
  ASSERT_TRUE(Safe_Send(*m.ctx, mail));
  u.ExportToFile();
  u.SetLastUpdates();

  // Bob goes, Ann changes: a deleted line by Bob's CorrID, then Ann's record.
  const std::string bobId = bob->EntryID();
  {
    host::PersonScope person(*m.app);
    bob->Delete();
  }
  Clock().Advance(10);
  Touch(ann, "Engineer");
  CUpdateMail second(*m.ctx);
  auto next = second.CreateUpdateMail(Folder());
  EXPECT_EQ(Body(next), head + ":StartOfDeleted:" + bobId + kCrLf + ContactToText(*m.ctx, ann, ann->EntryID(), false));
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_EQ(m.user.Problems(), "");
}

// The caption of the progress window shows a name of up to 17 characters
// whole, a longer one as its first 15 characters and "...".
TEST_F(UpdateMailCompositionTest, ProgressCaptionShortensLongNames) {
  const struct {
    const char* name;
    const char* shown;
  } cases[] = {
      {"ABCDEFGHIJKLMNOPQ", "Updating folder 'ABCDEFGHIJKLMNOPQ' Gathering data..."},
      {"ABCDEFGHIJKLMNOPQR", "Updating folder 'ABCDEFGHIJKLMNO...' Gathering data..."},
      {"Ünïcödé names here", "Updating folder 'Ünïcödé names h...' Gathering data..."},
  };
  auto& m = Owner();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto folder = NewFolder(c.name);
    AddContact("Ann", "", folder);
    auto recipient = AddContact("Carol", "", m.DefaultFolder(host::kFolderContacts));
    Update_Entry(*m.ctx, folder->EntryID(), recipient->EntryID(), "Carol", true, "carol@example.org");
    CUpdateMail u(*m.ctx);
    u.PB = true;
    ASSERT_TRUE(UpdateMailAccess::Initialize(u, folder));
    const auto& t = m.user.Transcript();
    EXPECT_TRUE(std::any_of(t.begin(), t.end(), [&](const std::string& e) { return e.rfind(c.shown, 0) == 0; }))
        << ::testing::PrintToString(t);
  }
}

// Who is a client, and how the stored entry reads.
TEST_F(UpdateMailCompositionTest, ClientsComeFromTheEnabledRecipientsThatExistAndHaveAnAddress) {
  auto& m = Owner();
  AddContact("Ann");
  const std::string noName = AddRecipient(std::nullopt, "x@example.org");
  const std::string noDate = AddRecipient(std::string("Dora"), "dora@example.org", std::nullopt);
  const std::string badDate = AddRecipient(std::string("Eve"), "eve@example.org", std::string("soon"));
  const std::string blank = AddRecipient(std::string("Blank"), "   ");
  const std::string disabled = AddRecipient(std::string("Off"), "off@example.org");
  Update_Entry(*m.ctx, FolderId(), disabled, "Off", false, "off@example.org");
  // A recipient whose contact item is gone.
  const std::string gone = AddRecipient(std::string("Gone"), "gone@example.org");
  {
    host::PersonScope person(*m.app);
    auto item = m.app->Session()->GetItemFromID(gone);
    item->Delete();
    m.app->Session()->GetItemFromID(gone)->Delete();
  }

  CUpdateMail u(*m.ctx);
  auto mail = u.CreateUpdateMail(Folder());
  ASSERT_TRUE(mail);
  std::vector<std::string> ids;
  for (const auto& c : u.Clients()) ids.push_back(c.entryID);
  EXPECT_THAT(ids, UnorderedElementsAreArray({noName, noDate, badDate}));
  for (const auto& c : u.Clients()) {
    if (c.entryID == noName) {
      EXPECT_EQ(c.Name, "no name");
    } else if (c.entryID == noDate) {
      // Without a stored date: never updated.
      EXPECT_EQ(c.LastUpdate, Date(1990, 1, 1));
    } else if (c.entryID == badDate) {
      // A date that does not read back counts as the oldest one (logged),
      // so that nothing is held back from them.
      EXPECT_EQ(c.LastUpdate, platform::DateTime());
    }
  }
  const std::string body = Body(mail);
  EXPECT_THAT(body, HasSubstr(RecLine("x@example.org", "no name")));
  EXPECT_EQ(Count(body, kStartOfRec), 3u);
  EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("Initialize_Update"));
  EXPECT_EQ(m.user.Problems(), "") << "no report question for a handled condition";
}

TEST_F(UpdateMailCompositionTest, NoMailWithoutClients) {
  const struct {
    const char* name;
    bool addDisabled;
  } cases[] = {{"no recipient at all", false}, {"only a disabled one", true}};
  auto& m = Owner();
  AddContact("Ann");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.addDisabled) {
      const auto id = AddRecipient(std::string("Off"), "off@example.org");
      Update_Entry(*m.ctx, FolderId(), id, "Off", false, "off@example.org");
    }
    CUpdateMail u(*m.ctx);
    EXPECT_FALSE(u.CreateUpdateMail(Folder()));
    EXPECT_FALSE(u.ImportMail());
    EXPECT_TRUE(u.Clients().empty());
    EXPECT_TRUE(List().empty()) << "nothing was sent, the list stays as it was";
  }
}

// Which contacts go out: every new one, a changed one when some mail
// recipient's last update is strictly earlier, all with "Send_Updated" off.
TEST_F(UpdateMailCompositionTest, WhichContactsGoOut) {
  auto& m = Owner();
  auto ann = AddContact("Ann");
  auto bob = AddContact("Bob");
  auto old = AddContact("Old");
  AddRecipient(std::string("Carol"), "carol@example.org");
  ASSERT_TRUE(Send().sent);
  // Carol was stamped 5 seconds after the send. Ann changes exactly then,
  // Bob a second later; Dan is new; Old, unchanged, is missing from the list.
  const auto stamp = Clock().Now().AddSeconds(5);
  Clock().Set(stamp);
  Touch(ann, "equal");
  Touch(bob, "later");
  auto dan = AddContact("Dan");
  ASSERT_EQ(ann->LastModificationTime(), stamp);

  const struct {
    const char* sendUpdated;
    bool expectAnn, expectBob, expectDan, expectOld;
  } cases[] = {
      {"1", false, true, true, true},
      {"0", true, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sendUpdated);
    m.Reg().DeleteValue(ListKey(), dan->EntryID());
    m.Reg().DeleteValue(ListKey(), old->EntryID());
    Setting("Send_Updated", c.sendUpdated);
    CUpdateMail u(*m.ctx);
    auto mail = u.CreateUpdateMail(Folder());
    ASSERT_TRUE(mail);
    const std::string body = Body(mail);
    EXPECT_EQ(Count(body, ":StartOfContact:" + ann->EntryID()), c.expectAnn ? 1u : 0u);
    EXPECT_EQ(Count(body, ":StartOfContact:" + bob->EntryID()), c.expectBob ? 1u : 0u);
    EXPECT_EQ(Count(body, ":StartOfContact:" + dan->EntryID()), c.expectDan ? 1u : 0u);
    EXPECT_EQ(Count(body, ":StartOfContact:" + old->EntryID()), c.expectOld ? 1u : 0u);
    EXPECT_TRUE(u.SentSomething());
    // The list holds every contact of the folder, sent or not.
    EXPECT_THAT(List(), UnorderedElementsAreArray({ann->EntryID(), bob->EntryID(), old->EntryID(), dan->EntryID()}));
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(UpdateMailCompositionTest, NothingChangedMeansNoMail) {
  auto& m = Owner();
  AddContact("Ann");
  const std::string carol = AddRecipient(std::string("Carol"), "carol@example.org");
  ASSERT_TRUE(Send().sent);
  const std::string stamped = LastUpdate(carol);
  Clock().Advance(60);
  CUpdateMail u(*m.ctx);
  EXPECT_FALSE(u.CreateUpdateMail(Folder()));
  EXPECT_FALSE(u.SentSomething());
  EXPECT_FALSE(u.ImportMail());
  u.ExportToFile();
  u.SetLastUpdates();
  // Still stamped: the recipient has everything up to now.
  EXPECT_EQ(LastUpdate(carol), Clock().Now().AddSeconds(5).ToText());
  EXPECT_NE(LastUpdate(carol), stamped);
  EXPECT_EQ(m.user.Problems(), "");
}

// Deleted contacts are named by their CorrIDs; one that came and went
// between two sends is not named at all.
TEST_F(UpdateMailCompositionTest, DeletionsByCorrId) {
  auto& m = Owner();
  auto arrived = AddContact("Arrived");
  auto local = AddContact("Local");
  const std::string corr = "000000001111111111111111111111111111111100000042";
  Set_CorrID(*m.ctx, FolderId(), arrived->EntryID(), "  " + corr + " ");
  AddRecipient(std::string("Carol"), "carol@example.org");
  ASSERT_TRUE(Send().sent);
  auto brief = AddContact("Brief");
  const std::string localId = local->EntryID();
  {
    host::PersonScope person(*m.app);
    arrived->Delete();
    local->Delete();
    brief->Delete();
  }
  const auto r = Send();
  ASSERT_TRUE(r.sent);
  EXPECT_EQ(Count(r.body, kStartOfDeleted), 2u);
  EXPECT_THAT(r.body, HasSubstr(std::string(kStartOfDeleted) + corr + kCrLf));
  EXPECT_THAT(r.body, HasSubstr(std::string(kStartOfDeleted) + localId + kCrLf));
  EXPECT_THAT(r.body, ::testing::Not(HasSubstr(":StartOfContact:")));
  EXPECT_TRUE(List().empty());
  // Nothing deleted since: no mail.
  EXPECT_FALSE(Send().mail);
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(UpdateMailCompositionTest, AfterASendTheListHoldsEveryContactAndRecipientsAreStamped) {
  auto& m = Owner();
  auto ann = AddContact("Ann");
  auto bob = AddContact("Bob");
  const std::string carol = AddRecipient(std::string("Carol"), "carol@example.org");
  const std::string dora = AddRecipient(std::string("Dora"), "dora@example.org");
  // A stale entry in the list of a contact that is gone.
  m.Reg().SetValue(ListKey(), "00000000AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA00000999", std::string("1"), 1);
  Clock().Set(Date(2026, 7, 1, 12, 0, 0));
  const auto r = Send();
  ASSERT_TRUE(r.sent);
  EXPECT_THAT(List(), UnorderedElementsAreArray({ann->EntryID(), bob->EntryID()}));
  for (const auto& name : List()) EXPECT_EQ(m.Reg().GetString(ListKey(), name, ""), "1");
  EXPECT_EQ(LastUpdate(carol), "7/1/2026 12:00:05 PM");
  EXPECT_EQ(LastUpdate(dora), "7/1/2026 12:00:05 PM");
  EXPECT_EQ(r.mail->BCC(), std::string(r.body.find("carol") < r.body.find("dora") ? "carol@example.org;dora@example.org;"
                                                                                     : "dora@example.org;carol@example.org;"));
}

// The reference date: the folder's size against the threshold, and the walk
// over the contacts from the threshold's position on.
TEST_F(UpdateMailCompositionTest, ReferenceDate) {
  auto& m = Owner();
  AddRecipient(std::string("Carol"), "carol@example.org");
  std::vector<std::shared_ptr<host::ContactItem>> contacts;
  for (int i = 0; i < 499; ++i) contacts.push_back(AddContact("C" + std::to_string(i)));
  {
    // 499 contacts, threshold at its default of 500: no reference date.
    CUpdateMail u(*m.ctx);
    EXPECT_EQ(UpdateMailAccess::ReferenceDate(u, Folder()), Date(1980, 1, 1));
  }
  // Every contact in the list: the modification time of the contact at the
  // threshold's position, newest first.
  for (const auto& c : contacts) m.Reg().SetValue(ListKey(), c->EntryID(), std::string("1"), 1);
  const struct {
    const char* kiek;
    int threshold;
  } thresholds[] = {{"0", 200}, {"1", 500}, {"2", 1000}, {"x", 500}, {"7", 500}};
  for (const auto& t : thresholds) {
    SCOPED_TRACE(t.kiek);
    Setting("Kiek", t.kiek);
    CUpdateMail u(*m.ctx);
    const auto date = UpdateMailAccess::ReferenceDate(u, Folder());
    if (t.threshold > 499) {
      EXPECT_EQ(date, Date(1980, 1, 1));
    } else {
      EXPECT_EQ(date, contacts[499 - t.threshold]->LastModificationTime());
    }
  }
  Setting("Kiek", "0");
  {
    // Contacts never sent from the threshold's position on take places: two
    // of them move the reference date two places towards the newest.
    m.Reg().DeleteValue(ListKey(), contacts[0]->EntryID());
    m.Reg().DeleteValue(ListKey(), contacts[100]->EntryID());
    m.Reg().DeleteValue(ListKey(), contacts[498]->EntryID());  // before the position: no effect
    CUpdateMail u(*m.ctx);
    EXPECT_EQ(UpdateMailAccess::ReferenceDate(u, Folder()), contacts[499 - 198]->LastModificationTime());
  }
  {
    // With every contact going out anyway, everybody gets the file.
    Setting("Send_Updated", "0");
    CUpdateMail u(*m.ctx);
    EXPECT_EQ(UpdateMailAccess::ReferenceDate(u, Folder()), Clock().Now());
    Setting("Send_Updated", "1");
  }
  {
    // Enough never-sent contacts to fill every place: the present moment.
    for (int i = 0; i <= 300; ++i) m.Reg().DeleteValue(ListKey(), contacts[static_cast<std::size_t>(i)]->EntryID());
    CUpdateMail u(*m.ctx);
    EXPECT_EQ(UpdateMailAccess::ReferenceDate(u, Folder()), Clock().Now());
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

// The split of the clients by the reference date.
TEST_F(UpdateMailCompositionTest, ClientsBehindGetTheImportMailInstead) {
  auto& m = Owner();
  Setting("Kiek", "0");
  std::vector<std::shared_ptr<host::ContactItem>> contacts;
  for (int i = 0; i < 200; ++i) contacts.push_back(AddContact("C" + std::to_string(i)));
  for (const auto& c : contacts) m.Reg().SetValue(ListKey(), c->EntryID(), std::string("1"), 1);
  const auto reference = contacts[0]->LastModificationTime();
  const std::string behind = AddRecipient(std::string("Behind"), "behind@example.org",
                                          reference.AddSeconds(-1).ToText());
  const std::string equal = AddRecipient(std::string("Equal"), "equal@example.org", reference.ToText());
  const std::string fresh = AddRecipient(std::string("Fresh"), "fresh@example.org",
                                         contacts[100]->LastModificationTime().ToText());
  auto changed = contacts[150];
  Touch(changed, "changed");

  // With the export off, or a folder smaller than the threshold (no
  // reference date), every client gets the mail proper, even one last
  // updated before 1980.
  const struct {
    const char* name;
    const char* exportOn;
    const char* kiek;
    platform::DateTime behindDate;
    bool split;
  } cases[] = {
      {"export on", "1", "0", reference.AddSeconds(-1), true},
      {"export off", "0", "0", Date(1975, 1, 1), false},
      {"threshold above the folder's size", "1", "1", Date(1975, 1, 1), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Setting("Export", c.exportOn);
    Setting("Kiek", c.kiek);
    m.Reg().SetValue(RecipientKey(behind), "LastUpdate", c.behindDate.ToText(), 1);
    CUpdateMail u(*m.ctx);
    auto mail = u.CreateUpdateMail(Folder());
    ASSERT_TRUE(mail);
    const std::string body = Body(mail);
    EXPECT_EQ(Count(body, kStartOfRec), 3u) << "the block lists every client";
    EXPECT_EQ(u.RefDateActive(), c.split);
    if (c.split) {
      EXPECT_EQ(u.ReferenceDate(), reference);
      EXPECT_EQ(mail->BCC(), std::string(body.find("equal@") < body.find("fresh@") ? "equal@example.org;fresh@example.org;"
                                                                                  : "fresh@example.org;equal@example.org;"));
      EXPECT_EQ(u.ImportToList(), "behind@example.org;");
      ASSERT_TRUE(u.ImportMail());
      EXPECT_EQ(u.ImportMail()->BCC(), "behind@example.org;");
      const std::string importBody = Body(u.ImportMail());
      EXPECT_EQ(importBody, body.substr(0, body.find(":StartOfContact:")) + kImportMarker);
      // Equal's date is the oldest contact's: every other one goes.
      EXPECT_EQ(Count(body, ":StartOfContact:"), 199u);
      EXPECT_EQ(Count(body, ":StartOfContact:" + contacts[0]->EntryID()), 0u);
    } else {
      EXPECT_EQ(Count(mail->BCC(), "@"), 3u);
      EXPECT_THAT(mail->BCC(), HasSubstr("behind@example.org;"));
      EXPECT_EQ(Count(body, ":StartOfContact:"), 200u);
      EXPECT_FALSE(u.ImportMail());
      EXPECT_EQ(u.ImportToList(), "");
    }
  }
  (void)equal;
  (void)fresh;
}

// Nothing changed for the clients that are up to date, but one is behind:
// no mail proper, the import mail still.
TEST_F(UpdateMailCompositionTest, ImportMailWithoutAMailProper) {
  auto& m = Owner();
  Setting("Kiek", "0");
  Setting("Send_Updated", "1");
  std::vector<std::shared_ptr<host::ContactItem>> contacts;
  for (int i = 0; i < 200; ++i) contacts.push_back(AddContact("C" + std::to_string(i)));
  for (const auto& c : contacts) m.Reg().SetValue(ListKey(), c->EntryID(), std::string("1"), 1);
  AddRecipient(std::string("Behind"), "behind@example.org", Date(2000, 1, 1).ToText());
  AddRecipient(std::string("Fresh"), "fresh@example.org", Clock().Now().ToText());
  CUpdateMail u(*m.ctx);
  EXPECT_FALSE(u.CreateUpdateMail(Folder()));
  ASSERT_TRUE(u.ImportMail());
  EXPECT_EQ(u.ImportMail()->BCC(), "behind@example.org;");
}

// One changed contact with a note of a megabyte in a folder of a thousand:
// the text of the update asks for room after the records it takes, never
// the big record's size times the folder's size (some 1.3 GB here). The
// send runs in a child whose address space has half a gigabyte to spare,
// so an estimate of that kind fails it.
TEST_F(UpdateMailCompositionTest, OneBigNoteAmongManyContactsStillGoesOut) {
  auto& m = Owner();
  Setting("Kiek", "4");  // no reference date below 5,000 contacts: the mail proper carries the change
  Setting("Send_Updated", "1");
  constexpr int kContacts = 1000;
  std::shared_ptr<host::ContactItem> big;
  for (int i = 0; i < kContacts; ++i) {
    auto contact = AddContact("C" + std::to_string(i));
    if (i == kContacts / 2) big = contact;
  }
  AddRecipient(std::string("Carol"), "carol@example.org");
  ASSERT_TRUE(Send().sent);
  Clock().Advance(60);
  std::string note;
  while (note.size() < (std::size_t{1} << 20)) note += "A line of the note, " + std::to_string(note.size()) + "\r\n";
  {
    host::PersonScope person(*m.app);
    big->SetBody(note);
    big->Save();
  }
  Clock().Advance(1);

  std::cout.flush();
  std::cerr.flush();
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The address space in use now, and 512 MB more.
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long long usedKb = 0;
    while (std::getline(status, line)) {
      if (line.rfind("VmSize:", 0) == 0) usedKb = std::stoull(line.substr(7));
    }
    const rlim_t limit = static_cast<rlim_t>((usedKb << 10) + (std::size_t{512} << 20));
    const rlimit bounded{limit, limit};
    if (usedKb == 0 || ::setrlimit(RLIMIT_AS, &bounded) != 0) std::_Exit(10);
    int code = 0;
    try {
      const auto r = Send();
      if (!r.sent) code = 1;
      else if (Count(r.body, ":StartOfContact:") != 1 || Count(r.body, ":StartOfContact:" + big->EntryID()) != 1) code = 2;
      else if (r.body.find(note.substr(0, 4096)) == std::string::npos) code = 3;
      else if (!m.ErrorLog().empty()) code = 4;
    } catch (...) {
      code = 5;
    }
    std::_Exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the child did not end by itself";
  // 1 not sent, 2 not the one record, 3 the note cut, 4 an error logged, 5 an exception.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Faults that would make receivers misread the mail, or lose changes.
class UpdateMailFaultTest : public testing::UpdateMailTest {};

TEST_F(UpdateMailFaultTest, AContactOrDeletionWithoutAProperCorrIdIsLeftOutAndLogged) {
  auto& m = Owner();
  auto good = AddContact("Good");
  auto bad = AddContact("Bad");
  auto goner = AddContact("Goner");
  AddRecipient(std::string("Carol"), "carol@example.org");
  ASSERT_TRUE(Send().sent);
  Clock().Advance(10);
  Set_CorrID(*m.ctx, FolderId(), bad->EntryID(), "short");
  Set_CorrID(*m.ctx, FolderId(), goner->EntryID(), std::string(49, 'A'));
  Touch(good, "x");
  Touch(bad, "x");
  {
    host::PersonScope person(*m.app);
    goner->Delete();
  }
  CUpdateMail u(*m.ctx);
  auto mail = u.CreateUpdateMail(Folder());
  ASSERT_TRUE(mail);
  const std::string body = Body(mail);
  EXPECT_EQ(Count(body, ":StartOfContact:"), 1u);
  EXPECT_THAT(body, HasSubstr(":StartOfContact:" + good->EntryID()));
  EXPECT_THAT(body, ::testing::Not(HasSubstr("short")));
  EXPECT_THAT(body, ::testing::Not(HasSubstr(kStartOfDeleted)));
  EXPECT_EQ(u.SkippedContacts(), 2u);
  EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("Collect_Contacts", "Collect_Deleted"));
  EXPECT_EQ(m.user.Problems(), "") << "logged without the report question";
  // The contact stays in the list: it is the folder's.
  EXPECT_THAT(List(), UnorderedElementsAreArray({good->EntryID(), bad->EntryID()}));
}

// The mail proper that is not sent, or whose body cannot be written, leaves
// its recipients unstamped and the list as it was: the next send carries
// the same changes and deletions.
TEST_F(UpdateMailFaultTest, AMailNotSentIsSentAgainNextTime) {
  const struct {
    const char* name;
    bool bodyFails;  // else the send fails
  } cases[] = {{"the body file cannot be written", true}, {"the send fails", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& m = Owner("Friends", c.bodyFails ? "body" : "send");
    auto ann = AddContact("Ann");
    auto bob = AddContact("Bob");
    const std::string carol = AddRecipient(std::string("Carol"), "carol@example.org");
    ASSERT_TRUE(Send().sent);
    const auto listBefore = List();
    const std::string stamped = LastUpdate(carol);
    Clock().Advance(10);
    Touch(ann, "changed");
    const std::string bobId = bob->EntryID();
    {
      host::PersonScope person(*m.app);
      bob->Delete();
    }
    auto dan = AddContact("Dan");
    Clock().Advance(60);

    if (c.bodyFails) {
      std::filesystem::create_directory(m.InstDir() + "body.pxs");
      m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
      CUpdateMail u(*m.ctx);
      EXPECT_FALSE(u.CreateUpdateMail(Folder()));
      u.ExportToFile();
      u.SetLastUpdates();
      EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("StringToFile"));
      std::filesystem::remove(m.InstDir() + "body.pxs");
    } else {
      m.app->Faults().FailNth("SafeMailItem.Send", 1);
      m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
      const auto r = Send();
      ASSERT_TRUE(r.mail);
      EXPECT_FALSE(r.sent);
    }
    EXPECT_EQ(LastUpdate(carol), stamped) << "not stamped";
    EXPECT_EQ(List(), listBefore) << "the list as it was";

    Clock().Advance(60);
    const auto again = Send();
    ASSERT_TRUE(again.sent);
    EXPECT_THAT(again.body, HasSubstr(std::string(kStartOfDeleted) + bobId));
    EXPECT_THAT(again.body, HasSubstr(":StartOfContact:" + ann->EntryID()));
    EXPECT_THAT(again.body, HasSubstr(":StartOfContact:" + dan->EntryID()));
    EXPECT_EQ(LastUpdate(carol), Clock().Now().AddSeconds(5).ToText());
    EXPECT_EQ(m.user.Problems(), "");
  }
}

// The import mail whose body cannot be written is not made: the recipients
// behind are not stamped.
TEST_F(UpdateMailFaultTest, AnImportMailWithoutItsBodyLeavesTheRecipientsBehindUnstamped) {
  auto& m = Owner();
  Setting("Kiek", "0");
  std::vector<std::shared_ptr<host::ContactItem>> contacts;
  for (int i = 0; i < 200; ++i) contacts.push_back(AddContact("C" + std::to_string(i)));
  for (const auto& c : contacts) m.Reg().SetValue(ListKey(), c->EntryID(), std::string("1"), 1);
  const std::string behind = AddRecipient(std::string("Behind"), "behind@example.org", Date(2000, 1, 1).ToText());
  const std::string fresh = AddRecipient(std::string("Fresh"), "fresh@example.org", Clock().Now().ToText());
  std::filesystem::create_directory(m.InstDir() + "body.pxs");
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  const auto r = Send();
  EXPECT_FALSE(r.mail);
  EXPECT_FALSE(r.importMail);
  EXPECT_EQ(LastUpdate(behind), Date(2000, 1, 1).ToText());
  EXPECT_EQ(LastUpdate(fresh), Clock().Now().AddSeconds(5).ToText()) << "nothing changed for them";
  EXPECT_EQ(m.user.Problems(), "");
}

// A failure inside the composition reaches the caller (or, for the path,
// is logged), no mail is made, and the list is left as it was.
TEST_F(UpdateMailFaultTest, AFailingCompositionLeavesTheListAsItWas) {
  const struct {
    const char* operation;
    bool loggedOnTheWay;
  } cases[] = {
      {"Folder.Parent", true},  // the path, logged by Get_Path: no mail without it
      {"Application.CreateItem", false},
      {"MailItem.Attachments", false},
      {"ContactItem.LastModificationTime", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operation);
    auto& m = Owner("Friends", "m" + std::to_string(n++));
    AddContact("Ann");
    AddRecipient(std::string("Carol"), "carol@example.org");
    ASSERT_TRUE(Send().sent);
    const auto listBefore = List();
    AddContact("Bob");
    if (c.loggedOnTheWay) m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
    m.app->Faults().FailEvery(c.operation);
    CUpdateMail u(*m.ctx);
    bool reached = false;
    std::shared_ptr<host::MailItem> mail;
    try {
      mail = u.CreateUpdateMail(Folder());
    } catch (const std::exception&) {
      reached = true;
    }
    m.app->Faults().Clear();
    EXPECT_FALSE(mail);
    EXPECT_TRUE(reached);
    EXPECT_EQ(List(), listBefore);
    EXPECT_FALSE(platform::FileExists(m.InstDir() + "body.pxs"));
    EXPECT_EQ(m.user.Problems(), "");
  }
}

}  // namespace
}  // namespace plexisync

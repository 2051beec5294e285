// The Inbox scan and the reader of one update mail: which mails are taken,
// mails that stay (and do not keep the scan going), the sender as a member,
// and the stamping of the members after a mail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "inbox_fixture.hpp"
#include "platform/textfile.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/send/send_commands.hpp"

namespace plexisync::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class ReceiveMailTest : public InboxTest {
 protected:
  // An owner "olive" whose folder "Team" (two contacts) goes to the reader.
  struct Owner {
    AddinMachine* m;
    std::shared_ptr<host::Folder> team;
  };
  Owner OwnerSharing(AddinMachine& reader) {
    auto& o = Person("olive", "Olive Owner");
    auto readerContact = NewContact(o, Contacts(o), "Reader Rose", reader.profile.Address());
    auto team = NewFolder(Contacts(o), "Team");
    NewContact(o, team, "Ann Archer");
    NewContact(o, team, "Ben Baker");
    StoreRecipient(o, team->EntryID(), readerContact, reader.profile.Address());
    Clock().Advance(10);
    return {&o, team};
  }
  void Send(const Owner& owner) {
    Update_Folder(*owner.m->ctx, owner.team, false);
    owner.m->DoEvents();
    Clock().Advance(10);
  }
  // The mail items of the Inbox whose subject is the update-mail subject.
  static int UpdateMailsIn(AddinMachine& m, int folder) {
    host::PersonScope person(*m.app);
    auto items = m.DefaultFolder(folder)->Items();
    int n = 0;
    for (int i = 1; i <= items->Count(); ++i) n += items->Item(i)->Subject() == kUpdateMailSubject;
    return n;
  }
};

TEST_F(ReceiveMailTest, OnlyOrdinaryMailsWithTheExactSubjectAreTaken) {
  auto& m = Person("reader");
  const std::string text = PathOf(m, "Team") + RecipientsBlock({{"olive@example.org", "Olive Owner"}}) +
                           ":StartOfContact:" + std::string(48, 'A') + "\r\nFullName:Ann\r\n:EndOfContact:\r\n";
  const auto file = Scratch() / "body.pxs";
  platform::WriteTextFile(file, text);
  const struct {
    const char* what;
    const char* messageClass;
    std::string subject;
  } cases[] = {
      {"another message class", "IPM.Note.Receipt", kUpdateMailSubject},
      {"a subject with more text", "IPM.Note", std::string(kUpdateMailSubject) + " "},
      {"a reply's subject", "IPM.Note", std::string("RE: ") + kUpdateMailSubject},
  };
  for (const auto& c : cases) {
    host::PersonScope person(*m.app);
    auto mail = std::dynamic_pointer_cast<host::MailItem>(m.DefaultFolder(host::kFolderInbox)->Items()->Add(c.messageClass));
    ASSERT_TRUE(mail) << c.what;
    mail->SetSubject(c.subject);
    mail->Attachments()->Add(file.string());
    mail->Save();
  }
  m.DoEvents();  // the arrivals run the scan
  Proceed_Inbox(*m.ctx);
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_EQ(CountIn(m, host::kFolderInbox), 3);
  EXPECT_EQ(ContactsSub(m, "Team"), nullptr);
  EXPECT_TRUE(WithAddress(m, Contacts(m), "olive@example.org").empty());
}

TEST_F(ReceiveMailTest, AnUpdateMailIsAppliedAndRemovedAndTheSenderBecomesAMember) {
  auto& reader = Person("reader");
  const Owner owner = OwnerSharing(reader);
  Send(owner);
  const auto arrived = Clock().Now();
  SendReceive(reader);

  EXPECT_EQ(reader.user.Problems(), "");
  EXPECT_EQ(reader.ErrorLog(), "");
  EXPECT_EQ(CountIn(reader, host::kFolderInbox), 0);
  EXPECT_EQ(UpdateMailsIn(reader, host::kFolderDeletedItems), 0);
  auto team = ContactsSub(reader, "Team");
  ASSERT_NE(team, nullptr);
  // The sender was not in Contacts: added unread, an enabled member,
  // stamped 5 seconds after the mail was applied.
  auto olive = WithAddress(reader, Contacts(reader), "olive@example.org");
  ASSERT_EQ(olive.size(), 1u);
  EXPECT_EQ(olive[0]->FullName(), "Olive Owner");
  EXPECT_TRUE(olive[0]->UnRead());
  EXPECT_THAT(Members(reader, team->EntryID()), ElementsAre("olive@example.org=1"));
  EXPECT_EQ(platform::DateTime::Parse(
                reader.Reg().GetString(RecipientKey(team->EntryID(), olive[0]->EntryID()), "LastUpdate", "")),
            arrived.AddSeconds(5));

  // The next mail: the sender is known and not added again; every enabled
  // member is stamped, a disabled one is not.
  auto other = NewContact(reader, Contacts(reader), "Otto Other", "otto@example.org");
  StoreRecipient(reader, team->EntryID(), other, "otto@example.org", false, "1/1/1990");
  NewContact(*owner.m, owner.team, "Cal Cooper");
  Clock().Advance(10);
  Send(owner);
  Clock().Advance(100);
  const auto second = Clock().Now();
  SendReceive(reader);
  EXPECT_EQ(reader.user.Problems(), "");
  EXPECT_EQ(reader.ErrorLog(), "");
  EXPECT_EQ(WithAddress(reader, Contacts(reader), "olive@example.org").size(), 1u);
  EXPECT_THAT(Members(reader, team->EntryID()), UnorderedElementsAre("olive@example.org=1", "otto@example.org=0"));
  EXPECT_EQ(platform::DateTime::Parse(
                reader.Reg().GetString(RecipientKey(team->EntryID(), olive[0]->EntryID()), "LastUpdate", "")),
            second.AddSeconds(5));
  EXPECT_EQ(reader.Reg().GetString(RecipientKey(team->EntryID(), other->EntryID()), "LastUpdate", ""), "1/1/1990");
}

// The sender is found by the address with blanks around it removed, and is
// then the member that the recipients block names.
TEST_F(ReceiveMailTest, AKnownSenderIsNotAddedAgain) {
  auto& reader = Person("reader");
  auto known = NewContact(reader, Contacts(reader), "Olive O.", " olive@example.org ");
  const int before = CountIn(reader, host::kFolderContacts);
  const Owner owner = OwnerSharing(reader);
  Send(owner);
  SendReceive(reader);
  EXPECT_EQ(reader.user.Problems(), "");
  EXPECT_EQ(reader.ErrorLog(), "");
  EXPECT_EQ(CountIn(reader, host::kFolderContacts), before);
  auto team = ContactsSub(reader, "Team");
  ASSERT_NE(team, nullptr);
  EXPECT_EQ(Bool(reader, team->EntryID(), known->EntryID()), "1");
}

TEST_F(ReceiveMailTest, WithDontReceiveUpdateMailsGoUnread) {
  auto& reader = Person("reader");
  reader.Reg().SetValue(ProfileKeyPath(), "Dont_Receive", std::string("1"), 1);
  const int contactsBefore = CountIn(reader, host::kFolderContacts);
  const Owner owner = OwnerSharing(reader);
  Send(owner);
  SendReceive(reader);
  EXPECT_EQ(reader.user.Problems(), "");
  EXPECT_EQ(reader.ErrorLog(), "");
  EXPECT_EQ(CountIn(reader, host::kFolderInbox), 0);
  EXPECT_EQ(CountIn(reader, host::kFolderDeletedItems), 0);
  EXPECT_EQ(ContactsSub(reader, "Team"), nullptr);
  EXPECT_EQ(CountIn(reader, host::kFolderContacts), contactsBefore);
  EXPECT_TRUE(reader.Reg().GetAllSubKeys(ProfileKeyPath()).empty());
}

// Mails that cannot be applied stay in the Inbox as they came, change
// nothing, and do not keep the scan going; the mail after them is applied.
TEST_F(ReceiveMailTest, MailsThatCannotBeAppliedStayAndTheScanEnds) {
  const struct {
    const char* what;
    std::string text;  // "<path>" stands for the path line of Contacts\Team
    const char* attachment;
    std::vector<std::string> logged;
  } cases[] = {
      {"only a recipients block for a folder that does not exist",
       "<path>" + RecipientsBlock({{"olive@example.org", "Olive Owner"}}), "body.pxs", {}},
      {"deleted lines for a folder that does not exist",
       "<path>:StartOfDeleted:" + std::string(48, 'D') + "\r\n", "body.pxs", {}},
      {"no folder path", RecipientsBlock({{"olive@example.org", "Olive Owner"}}) + ":StartOfContact:" +
                             std::string(48, 'A') + "\r\nFullName:Ann\r\n:EndOfContact:\r\n",
       "body.pxs", {"CReceiveMail_ProceedUpdates"}},
      {"no attachment named body.pxs", "<path>:StartOfContact:" + std::string(48, 'A') +
                                           "\r\nFullName:Ann\r\n:EndOfContact:\r\n",
       "other.txt", {"CReceiveMail_ProceedUpdates"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto& reader = Person("reader" + std::to_string(n++));
    const int contactsBefore = CountIn(reader, host::kFolderContacts);
    std::string text = c.text;
    if (text.rfind("<path>", 0) == 0) text = PathOf(reader, "Team") + text.substr(6);
    Post(reader, text, "Olive Owner", "olive@example.org", kUpdateMailSubject, c.attachment);
    for (std::size_t i = 0; i < c.logged.size(); ++i) {
      reader.user.ExpectMessage(kReportQuestionText, platform::MsgBoxResult::No);
    }
    SendReceive(reader);
    EXPECT_EQ(reader.user.Problems(), "");
    EXPECT_EQ(reader.LoggedErrorNames(), c.logged);
    EXPECT_EQ(UpdateMailsIn(reader, host::kFolderInbox), 1);
    EXPECT_EQ(ContactsSub(reader, "Team"), nullptr);
    EXPECT_EQ(CountIn(reader, host::kFolderContacts), contactsBefore);
    EXPECT_TRUE(reader.Reg().GetAllSubKeys(ProfileKeyPath()).empty());
    EXPECT_FALSE(std::filesystem::exists(reader.InstDir() + kReceiveFile));

    // A good mail behind it is applied; the one that cannot be stays.
    const std::string good = PathOf(reader, "Team") + RecipientsBlock({{"olive@example.org", "Olive Owner"}}) +
                             ":StartOfContact:" + std::string(48, 'A') + "\r\nFullName:Ann\r\n:EndOfContact:\r\n";
    Post(reader, good);
    for (std::size_t i = 0; i < c.logged.size(); ++i) {
      reader.user.ExpectMessage(kReportQuestionText, platform::MsgBoxResult::No);
    }
    SendReceive(reader);
    EXPECT_EQ(reader.user.Problems(), "");
    EXPECT_EQ(UpdateMailsIn(reader, host::kFolderInbox), 1);
    EXPECT_NE(ContactsSub(reader, "Team"), nullptr);
  }
}

// An attachment that cannot be read leaves the mail as it came and changes
// nothing; the next scan applies it once it can be read.
TEST_F(ReceiveMailTest, AnAttachmentThatCannotBeReadLeavesTheMailForTheNextScan) {
  int n = 0;
  for (const char* operation : {"Attachment.Size", "Attachment.SaveAsFile"}) {
    SCOPED_TRACE(operation);
    auto& reader = Person("reader" + std::to_string(n++));
    const int contactsBefore = CountIn(reader, host::kFolderContacts);
    Post(reader, PathOf(reader, "Team") + RecipientsBlock({{"olive@example.org", "Olive Owner"}}) +
                     ":StartOfContact:" + std::string(48, 'A') + "\r\nFullName:Ann\r\n:EndOfContact:\r\n");
    reader.user.ExpectMessage(kReportQuestionText, platform::MsgBoxResult::No);
    reader.app->Faults().FailEvery(operation);
    SendReceive(reader);
    reader.app->Faults().Clear();
    EXPECT_EQ(reader.user.Problems(), "");
    EXPECT_THAT(reader.LoggedErrorNames(), ElementsAre("CReceiveMail_ProceedUpdates"));
    EXPECT_EQ(UpdateMailsIn(reader, host::kFolderInbox), 1);
    EXPECT_EQ(ContactsSub(reader, "Team"), nullptr);
    EXPECT_EQ(CountIn(reader, host::kFolderContacts), contactsBefore);
    EXPECT_TRUE(reader.Reg().GetAllSubKeys(ProfileKeyPath()).empty());
    EXPECT_FALSE(std::filesystem::exists(reader.InstDir() + kReceiveFile));

    Proceed_Inbox(*reader.ctx);
    EXPECT_EQ(reader.user.Problems(), "");
    EXPECT_EQ(CountIn(reader, host::kFolderInbox), 0);
    EXPECT_NE(ContactsSub(reader, "Team"), nullptr);
  }
}

TEST_F(ReceiveMailTest, TheInboxScanRunsWhenAnItemArrives) {
  auto& reader = Person("reader");
  Post(reader, PathOf(reader, "Team") + RecipientsBlock({{"olive@example.org", "Olive Owner"}}) + ":StartOfContact:" +
                   std::string(48, 'A') + "\r\nFullName:Ann\r\n:EndOfContact:\r\n");
  Post(reader, PathOf(reader, "Team") + RecipientsBlock({{"olive@example.org", "Olive Owner"}}) + ":StartOfContact:" +
                   std::string(48, 'B') + "\r\nFullName:Bob\r\n:EndOfContact:\r\n");
  {
    host::PersonScope person(*reader.app);
    reader.app->Session()->SyncObjects()->Item(1)->Start();
  }
  reader.DoEvents();
  EXPECT_EQ(reader.user.Problems(), "");
  EXPECT_EQ(reader.ErrorLog(), "");
  EXPECT_EQ(CountIn(reader, host::kFolderInbox), 0);
  ASSERT_NE(ContactsSub(reader, "Team"), nullptr);
}

}  // namespace
}  // namespace plexisync::testing

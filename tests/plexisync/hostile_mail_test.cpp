// Update mails that are broken or made to do harm, arriving at a member who
// holds a copy of a shared folder: whatever they carry, the member's
// existing contacts stay exactly as they were and nothing escapes the
// add-in. Each mail is taken from a real update mail of the owner and
// spoiled, then delivered through the post office as the owner's, or saved
// straight into the member's Inbox with the client's mail item.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/transport/post_office.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/storage/paths.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "share_fixture.hpp"

namespace plexisync::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kPath = "Personal Folders$/$Contacts$/$Team$/$:EndOfPath:";

class HostileMailTest : public ShareTest {
 protected:
  void SetUp() override {
    ShareTest::SetUp();
    alice_ = &Person("alice", "Alice Adams");
    bob_ = &Person("bob", "Bob Brown");
    auto bobContact = NewContact(*alice_, Contacts(*alice_), "Bob Brown", "bob@example.org");
    auto team = NewFolder(Contacts(*alice_), "Team");
    for (const char* name : {"Dan Diaz", "Eve Evans"}) {
      host::PersonScope person(*alice_->app);
      auto c = NewContact(*alice_, team, name, std::string(name).substr(0, 3) + "@example.net");
      c->SetProperty("JobTitle", std::string("Team member"));
      c->SetBody(std::string("Notes on ") + name);
      c->Save();
      aliceIds_[name] = c->EntryID();
    }
    Clock().Advance(10);
    Update_Entry(*alice_->ctx, team->EntryID(), bobContact->EntryID(), "Bob Brown", true, "bob@example.org");
    Update_Folder(*alice_->ctx, team, false);
    alice_->DoEvents();
    // The owner's update mail, kept as the pattern of the spoiled ones, and
    // delivered to Bob as it is.
    auto mails = UpdateMailsTo("bob@example.org");
    ASSERT_EQ(mails.size(), 1u);
    original_ = mails[0];
    text_ = BodyOf(original_);
    ASSERT_THAT(text_, HasSubstr(":StartOfContact:"));
    Deliver(text_);
    Clock().Advance(10);
    team_ = FolderOf(*bob_, "Team");
    ASSERT_NE(team_, nullptr);
    before_ = Snapshot();
    ASSERT_EQ(before_.size(), 2u);
    ASSERT_THAT(bob_->user.Failures(), IsEmpty());
    ASSERT_EQ(bob_->ErrorLog(), "");
  }

  AddinMachine& Person(const std::string& name, const std::string& display) {
    MachineOptions options;
    options.name = name;
    options.displayName = display;
    options.address = name + "@example.org";
    auto& m = Machine(options);
    m.Reg().SetValue(ProfileKeyPath(), "Send_Updated", std::string("1"), 1);
    m.Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("0"), 1);
    m.StartReturning();
    return m;
  }

  // Sends an update mail with this attachment text as Alice's to Bob, who
  // fetches it; his add-in takes it from the Inbox. Every question gets
  // "Yes", so that a mail read wrongly shows as damage.
  void Deliver(const std::string& text, bool withAttachment = true) {
    host::MailMessage mail = original_;
    mail.messageId.clear();
    mail.date.clear();
    mail.attachments.clear();
    if (withAttachment) mail.attachments.push_back(host::Attachment{"body.pxs", {text.begin(), text.end()}, {}});
    host::PostOfficeTransport(PostOffice()).Send(mail, {"bob@example.org"});
    Fetch();
  }
  void Fetch() {
    for (int i = 0; i < 8; ++i) {
      bob_->user.ExpectForm("Klausimas", [this](platform::Form& form) {
        if (auto* label = form.Find<platform::Label>("Praneshimas")) asked_.push_back(label->Caption());
        form.Find<platform::Button>("Command1")->Click();
      });
    }
    {
      host::PersonScope person(*bob_->app);
      bob_->app->Session()->SyncObjects()->Item(1)->Start();
    }
    bob_->DoEvents();
  }

  // The same as Deliver, from someone else; `script` queues what the person
  // is to be asked first (the four-answer questions get "Yes" after it).
  void DeliverFrom(const std::string& text, const std::string& name, const std::string& address,
                   const std::function<void(platform::ScriptedUser&)>& script = {}) {
    host::MailMessage mail = original_;
    mail.messageId.clear();
    mail.date.clear();
    mail.from = {name, address};
    mail.attachments.clear();
    mail.attachments.push_back(host::Attachment{"body.pxs", {text.begin(), text.end()}, {}});
    host::PostOfficeTransport(PostOffice()).Send(mail, {"bob@example.org"});
    bob_->user.ClearExpectations();
    if (script) script(bob_->user);
    Fetch();
  }
  // Starts Bob's send/receive with nothing new to fetch.
  void SendReceiveAgain(const std::function<void(platform::ScriptedUser&)>& script = {}) {
    bob_->user.ClearExpectations();
    if (script) script(bob_->user);
    Fetch();
  }

  // The state of Bob's member key with this address in the folder: "" when
  // there is none, else its "Bool".
  std::string MemberState(const std::shared_ptr<host::Folder>& folder, const std::string& address) {
    host::PersonScope person(*bob_->app);
    CRegistry& reg = bob_->ctx->reg();
    const std::string folderKey = FolderKeyPath(*bob_->ctx, folder->EntryID());
    if (!reg.KeyExists(folderKey)) return "";
    for (const std::string& subkey : reg.GetAllSubKeys(folderKey)) {
      if (IsFolderDataKey(subkey)) continue;
      const std::string key = RecipientKeyPath(*bob_->ctx, folder->EntryID(), subkey);
      if (reg.GetString(key, "eMail", "") == address) return reg.GetString(key, "Bool", "");
    }
    return "";
  }

  int ContactsIn(AddinMachine& m, const std::shared_ptr<host::Folder>& folder) {
    host::PersonScope person(*m.app);
    return folder->Items()->Count();
  }

  static std::shared_ptr<host::Folder> FolderOf(AddinMachine& m, const std::string& name) {
    host::PersonScope person(*m.app);
    auto sub = m.DefaultFolder(host::kFolderContacts)->Folders();
    for (int i = 1; i <= sub->Count(); ++i) {
      if (sub->Item(i)->Name() == name) return sub->Item(i);
    }
    return nullptr;
  }

  // Bob's copy: every contact's entry id with its name, job, address and body.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> out;
    host::PersonScope person(*bob_->app);
    auto items = team_->Items();
    for (int i = 1; i <= items->Count(); ++i) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
      if (!c) continue;
      out[c->EntryID()] = c->FullName() + "|" + c->Text("JobTitle") + "|" + c->Email1Address() + "|" + c->Body();
    }
    return out;
  }
  int InboxCount() {
    host::PersonScope person(*bob_->app);
    return bob_->DefaultFolder(host::kFolderInbox)->Items()->Count();
  }
  // Every contact Bob had before is there unchanged.
  void ExpectExistingIntact() {
    const auto now = Snapshot();
    for (const auto& [id, seen] : before_) {
      auto it = now.find(id);
      if (it == now.end()) {
        ADD_FAILURE() << "contact gone: " << seen;
        continue;
      }
      EXPECT_EQ(it->second, seen);
    }
    EXPECT_THAT(bob_->app->EscapedErrors(), IsEmpty());
    // No message box or form came up but the four-answer question and,
    // after a logged failure, the offer to send the error report (answered No).
    std::vector<std::string> others;
    for (const auto& f : bob_->user.Failures()) {
      if (f.find(kReportQuestionText) == std::string::npos) others.push_back(f);
    }
    EXPECT_THAT(others, IsEmpty());
  }

  // The owner's record of a contact, from ":StartOfContact:" through ":EndOfContact:" CR LF.
  std::string RecordOf(const std::string& name) const {
    const auto at = text_.find(":StartOfContact:" + aliceIds_.at(name));
    const auto end = text_.find(":EndOfContact:", at);
    return text_.substr(at, end + 14 + 2 - at);
  }
  // The head of the owner's mail: path, recipients, up to the first record.
  std::string Head() const { return text_.substr(0, text_.find(":StartOfContact:")); }

  AddinMachine* alice_ = nullptr;
  AddinMachine* bob_ = nullptr;
  std::map<std::string, std::string> aliceIds_;
  host::MailMessage original_;
  std::string text_;
  std::shared_ptr<host::Folder> team_;
  std::map<std::string, std::string> before_;
  std::vector<std::string> asked_;
};

// A fresh identity: 48 hexadecimal characters no contact has.
std::string FreshCorrId(char digit) { return std::string(48, digit); }

TEST_F(HostileMailTest, SpoiledMailsLeaveEveryExistingContactIntact) {
  const std::string dan = aliceIds_.at("Dan Diaz");
  const std::string danRecord = RecordOf("Dan Diaz");
  std::string withMarkers = danRecord;
  withMarkers.replace(16, 48, FreshCorrId('A'));
  // Marker texts inside the values of a new contact's record: in a one-line
  // value, and in the body at the start of its lines.
  const std::string hostileJob = "Lead :EndOfContact: :StartOfDeleted:" + dan;
  const std::string hostileBody =
      "Notes\r\n:EndOfContact:\r\n:StartOfDeleted:" + dan + "\r\n:StartOfRecipients:\r\nmore :StartOfContact:" + dan;
  withMarkers.replace(withMarkers.find("Team member"), 11, hostileJob);
  withMarkers.replace(withMarkers.find("Notes on Dan Diaz"), 17, hostileBody);
  static constexpr char kNoise[] = "\0\xff\xfe:StartOfContact:\0:EndOfContact:\r\n";
  const std::string truncated = danRecord.substr(0, danRecord.size() / 2);
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"markers inside values", Head() + withMarkers},
      {"a truncated record of an existing contact", Head() + truncated},
      {"a record cut right after its identity", Head() + ":StartOfContact:" + dan.substr(0, 20)},
      {"a CorrID of garbage", Head() + ":StartOfContact:" + std::string("\x01\xff garbage \r\n") +
                                  danRecord.substr(danRecord.find("\r\n") + 2)},
      {"a deleted line of garbage", Head() + ":StartOfDeleted:\x01\x02\x03\r\n:StartOfDeleted:" + dan.substr(1) + "\r\n"},
      {"a deletion for a path the member does not have",
       "Personal Folders$/$Contacts$/$Nowhere$/$:EndOfPath:\r\n:StartOfRecipients:\r\n:EndOfRecipients:\r\n"
       ":StartOfDeleted:" +
           dan + "\r\n"},
      {"no path at all", ":StartOfDeleted:" + dan + "\r\n" + danRecord},
      {"an empty attachment", ""},
      {"binary noise", std::string(kNoise, sizeof kNoise - 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    asked_.clear();
    Deliver(c.text);
    ExpectExistingIntact();
    EXPECT_THAT(asked_, IsEmpty()) << "a question was asked";
  }
  // The new contact of the first case arrived with its values whole, and
  // no folder was made for the path Bob does not have.
  const auto now = Snapshot();
  bool found = false;
  for (const auto& [id, seen] : now) {
    if (before_.count(id)) continue;
    EXPECT_EQ(seen, "Dan Diaz|" + hostileJob + "|Dan@example.net|" + hostileBody);
    found = true;
  }
  EXPECT_TRUE(found) << "the contact with markers in its values did not arrive";
  EXPECT_EQ(FolderOf(*bob_, "Nowhere"), nullptr);
}

TEST_F(HostileMailTest, AMailWithoutItsAttachmentStaysInTheInbox) {
  const int before = InboxCount();
  Deliver(text_, false);
  ExpectExistingIntact();
  EXPECT_EQ(InboxCount(), before + 1);
  // A later arrival scans again and the scan ends.
  Deliver(Head());
  ExpectExistingIntact();
  EXPECT_EQ(InboxCount(), before + 1);
}

TEST_F(HostileMailTest, AHugeAttachmentIsNotReadAndStaysInTheInbox) {
  const std::string path = (Scratch() / "body.pxs").string();
  {
    std::ofstream out(path, std::ios::binary);
    std::string block = RecordOf("Dan Diaz");
    std::string head = Head();
    out << head;
    std::size_t written = head.size();
    while (written <= kMaxAttachmentBytes) {
      out << block;
      written += block.size();
    }
  }
  {
    host::PersonScope person(*bob_->app);
    auto mail = std::dynamic_pointer_cast<host::MailItem>(bob_->DefaultFolder(host::kFolderInbox)->Items()->Add(host::kMailItem));
    ASSERT_NE(mail, nullptr);
    mail->SetSubject(kUpdateMailSubject);
    mail->Attachments()->Add(path);
    mail->Save();
  }
  bob_->DoEvents();
  ExpectExistingIntact();
  EXPECT_EQ(InboxCount(), 1);
  EXPECT_THAT(bob_->ErrorLog(), HasSubstr("CReceiveMail_ProceedUpdates"));
}


// ---- mail from someone who is not a member ----

constexpr const char* kCarol = "Carol Crane";
constexpr const char* kCarolAddress = "carol@example.org";
constexpr const char* kStrangerQuestion =
    "Carol Crane carol@example.org sent changes for your folder 'Team' but is not one of its members. Do you want "
    "to accept them and add Carol Crane as a member?";

enum class Consent { kYes, kNo, kUnanswered };

class StrangerMailTest : public HostileMailTest, public ::testing::WithParamInterface<Consent> {
 protected:
  // Carol's mail for Bob's copy of Team: she names only herself as a
  // member, changes Dan and deletes Eve.
  std::string CarolsMail() const {
    std::string dan = RecordOf("Dan Diaz");
    dan.replace(dan.find("Team member"), 11, "Changed by Carol");
    return std::string(kPath) + "\r\n:StartOfRecipients:\r\n:StartOfRec:" + kCarolAddress + ":MidOfRec:" + kCarol +
           ":EndOfRec:\r\n:EndOfRecipients:\r\n:StartOfDeleted:" + aliceIds_.at("Eve Evans") + "\r\n" + dan;
  }
  void Answer(platform::ScriptedUser& user, Consent consent) {
    if (consent == Consent::kUnanswered) {
      user.ExpectMessageUnanswered(kStrangerQuestion);
    } else {
      user.ExpectMessage(kStrangerQuestion,
                         consent == Consent::kYes ? platform::MsgBoxResult::Yes : platform::MsgBoxResult::No);
    }
  }
  void ExpectApplied() {
    const auto now = Snapshot();
    EXPECT_EQ(now.size(), 1u) << "Eve was not deleted";
    for (const auto& [id, seen] : now) EXPECT_THAT(seen, HasSubstr("Changed by Carol"));
    EXPECT_EQ(MemberState(team_, kCarolAddress), "1");
    EXPECT_EQ(MemberState(team_, "alice@example.org"), "0");
  }
  void ExpectUntouched() {
    EXPECT_EQ(Snapshot(), before_);
    EXPECT_EQ(MemberState(team_, kCarolAddress), "");
    EXPECT_EQ(MemberState(team_, "alice@example.org"), "1");
  }
};

TEST_P(StrangerMailTest, AppliesOnlyWithThePersonsYes) {
  const int inboxBefore = InboxCount();
  DeliverFrom(CarolsMail(), kCarol, kCarolAddress, [&](platform::ScriptedUser& u) { Answer(u, GetParam()); });
  EXPECT_THAT(bob_->app->EscapedErrors(), IsEmpty());
  switch (GetParam()) {
    case Consent::kYes:
      ExpectApplied();
      EXPECT_EQ(InboxCount(), inboxBefore);
      break;
    case Consent::kNo:
      ExpectUntouched();
      EXPECT_EQ(InboxCount(), inboxBefore) << "the refused mail was not removed";
      EXPECT_THAT(bob_->ErrorLog(), HasSubstr("was refused and removed"));
      break;
    case Consent::kUnanswered:
      ExpectUntouched();
      EXPECT_EQ(InboxCount(), inboxBefore + 1) << "the mail left the Inbox without an answer";
      // The person's next send/receive asks again.
      SendReceiveAgain([&](platform::ScriptedUser& u) { Answer(u, Consent::kYes); });
      ExpectApplied();
      EXPECT_EQ(InboxCount(), inboxBefore);
      break;
  }
  EXPECT_THAT(bob_->user.Failures(), IsEmpty());
  // Bob's next Update All sends Carol nothing unless she was let in.
  Clock().Advance(10);
  {
    host::PersonScope person(*bob_->app);
    auto dan = std::dynamic_pointer_cast<host::ContactItem>(team_->Items()->Item(1));
    dan->SetProperty("JobTitle", std::string("Edited by Bob"));
    dan->Save();
  }
  Clock().Advance(10);
  Update_All_Click(*bob_->ctx, false);
  bob_->DoEvents();
  EXPECT_EQ(UpdateMailsTo(kCarolAddress).size(), GetParam() == Consent::kNo ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Answers, StrangerMailTest,
                         ::testing::Values(Consent::kYes, Consent::kNo, Consent::kUnanswered),
                         [](const ::testing::TestParamInfo<Consent>& info) {
                           return info.param == Consent::kYes  ? std::string("Yes")
                                  : info.param == Consent::kNo ? std::string("No")
                                                               : std::string("Unanswered");
                         });

TEST_F(HostileMailTest, AStrangersRecipientsBlockEnrolsNobodyInAFolderNotShared) {
  // Bob's own folders, shared with nobody: his default Contacts and a
  // private one.
  auto priv = NewFolder(Contacts(*bob_), "Private");
  NewContact(*bob_, priv, "Pat Private", "pat@example.net");
  const std::string block = "\r\n:StartOfRecipients:\r\n:StartOfRec:carol@example.org:MidOfRec:Carol Crane:EndOfRec:"
                            "\r\n:EndOfRecipients:\r\n";
  for (const std::string path : {"Personal Folders$/$Contacts$/$Private$/$", "Personal Folders$/$Contacts$/$"}) {
    DeliverFrom(path + ":EndOfPath:" + block, kCarol, kCarolAddress, [](platform::ScriptedUser& u) {
      u.ExpectMessage("sent changes for your folder", platform::MsgBoxResult::No);
    });
  }
  EXPECT_THAT(bob_->user.Failures(), IsEmpty());
  EXPECT_EQ(MemberState(priv, kCarolAddress), "");
  EXPECT_EQ(MemberState(Contacts(*bob_), kCarolAddress), "");
  Update_All_Click(*bob_->ctx, false);
  bob_->DoEvents();
  EXPECT_THAT(UpdateMailsTo(kCarolAddress), IsEmpty());
}

TEST_F(HostileMailTest, AStrangerLetInIsAMemberAlsoWithoutARecipientsBlock) {
  // Carol is a contact of Bob's already: nothing else would make her one.
  NewContact(*bob_, Contacts(*bob_), kCarol, kCarolAddress);
  std::string record = RecordOf("Dan Diaz");
  record.replace(16, 48, FreshCorrId('C'));
  DeliverFrom(std::string(kPath) + "\r\n" + record, kCarol, kCarolAddress, [](platform::ScriptedUser& u) {
    u.ExpectMessage(kStrangerQuestion, platform::MsgBoxResult::Yes);
  });
  EXPECT_THAT(bob_->user.Failures(), IsEmpty());
  EXPECT_EQ(Snapshot().size(), 3u);
  EXPECT_EQ(MemberState(team_, kCarolAddress), "1");
  EXPECT_EQ(MemberState(team_, "alice@example.org"), "1");
}

TEST_F(HostileMailTest, AnInvitationToANewFolderNeedsNoConsent) {
  const std::string text = "Personal Folders$/$Contacts$/$Carols$/$:EndOfPath:\r\n:StartOfRecipients:\r\n"
                           ":EndOfRecipients:\r\n" + RecordOf("Dan Diaz");
  DeliverFrom(text, kCarol, kCarolAddress);
  EXPECT_THAT(bob_->user.Failures(), IsEmpty());
  auto carols = FolderOf(*bob_, "Carols");
  ASSERT_NE(carols, nullptr);
  EXPECT_EQ(ContactsIn(*bob_, carols), 1);
  EXPECT_EQ(MemberState(carols, kCarolAddress), "1");
}

// ---- paths and blocks that must not be walked ----

std::string Levels(int n, const std::string& name = "L") {
  std::string path = "Personal Folders$/$Contacts$/$";
  for (int i = 0; i < n; ++i) path += name + "$/$";
  return path;
}

TEST_F(HostileMailTest, APathThatNamesNoContactsFolderIsRefused) {
  const std::string record = RecordOf("Dan Diaz");
  struct Case {
    const char* name;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"the Inbox", "Personal Folders$/$Inbox$/$"},
      {"Sent Items", "Personal Folders$/$Sent Items$/$"},
      {"a store's top folder", "Personal Folders$/$"},
      {"60,000 levels", Levels(60000)},
      {"33 levels", Levels(31)},
      {"a name of 256 characters", "Personal Folders$/$Contacts$/$" + std::string(256, 'x') + "$/$"},
      {"a NUL in a name", "Personal Folders$/$Contacts$/$Te" + std::string(1, '\0') + "am$/$"},
      {"a control character in a name", "Personal Folders$/$Contacts$/$Team\x01$/$"},
      {"an empty name", "Personal Folders$/$Contacts$/$$/$Team$/$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int inbox = InboxCount();
    const std::string log = bob_->ErrorLog();
    Deliver(c.path + ":EndOfPath:\r\n" + record);
    ExpectExistingIntact();
    EXPECT_EQ(InboxCount(), inbox + 1) << "the mail did not stay in the Inbox";
    EXPECT_NE(bob_->ErrorLog(), log) << "the refusal was not logged";
    {
      host::PersonScope person(*bob_->app);
      auto items = bob_->DefaultFolder(host::kFolderInbox)->Items();
      for (int i = 1; i <= items->Count(); ++i) EXPECT_NE(items->Item(i)->MessageClass(), "IPM.Contact");
      EXPECT_EQ(Contacts(*bob_)->Folders()->Count(), 1) << "a folder was made";
    }
  }
  // The deepest path allowed is still taken.
  Deliver(Levels(30) + ":EndOfPath:\r\n" + record);
  host::PersonScope person(*bob_->app);
  std::shared_ptr<host::Folder> deepest = Contacts(*bob_);
  int depth = 0;
  while (deepest->Folders()->Count() > 0 && depth < 40) {
    auto sub = deepest->Folders();
    std::shared_ptr<host::Folder> next;
    for (int i = 1; i <= sub->Count(); ++i) {
      if (sub->Item(i)->Name() == "L") next = sub->Item(i);
    }
    if (!next) break;
    deepest = next;
    ++depth;
  }
  EXPECT_EQ(depth, 30);
  EXPECT_EQ(deepest->Items()->Count(), 1);
}

TEST_F(HostileMailTest, AHugeRecipientsBlockIsReadQuicklyAndAddsNothingWithoutAQuestion) {
  const std::string head = std::string(kPath) + "\r\n:StartOfRecipients:\r\n";
  std::string markers;
  for (int i = 0; i < 10000; ++i) markers += ":StartOfRec:x" + std::to_string(i) + "@e";
  std::string tooMany;
  for (int i = 0; i <= 10000; ++i) {
    tooMany += ":StartOfRec:m" + std::to_string(i) + "@example.net:MidOfRec:M:EndOfRec:";
  }
  const std::string tooLong = ":StartOfRec:" + std::string(990, 'a') + "@example.net:MidOfRec:Long:EndOfRec:";
  const int contactsBefore = ContactsIn(*bob_, Contacts(*bob_));
  // From a stranger, answered No: nothing is added.
  DeliverFrom(head + markers + "\r\n:EndOfRecipients:\r\n", kCarol, kCarolAddress, [](platform::ScriptedUser& u) {
    u.ExpectMessage("sent changes for your folder", platform::MsgBoxResult::No);
  });
  // From the owner, a member: refused whole, the members as they were.
  for (const std::string& block : {markers, tooMany, tooLong}) {
    Deliver(head + block + "\r\n:EndOfRecipients:\r\n");
    EXPECT_EQ(MemberState(team_, "alice@example.org"), "1");
  }
  EXPECT_EQ(ContactsIn(*bob_, Contacts(*bob_)), contactsBefore);
  EXPECT_THAT(bob_->ErrorLog(), HasSubstr("more than 10000 entries"));
  EXPECT_THAT(bob_->ErrorLog(), HasSubstr("longer than 1000 characters"));
  ExpectExistingIntact();
}

TEST_F(HostileMailTest, ControlCharactersAreDroppedFromArrivingFields) {
  std::string record = RecordOf("Dan Diaz");
  record.replace(16, 48, FreshCorrId('B'));
  const std::string nul(1, '\0');
  record.replace(record.find("FullName:Dan Diaz"), 17, "FullName:Dan" + nul + "\x07 Nul");
  record.replace(record.find("Team member"), 11, "Lead\x1b[31m\tred");
  const std::string block = "\r\n:StartOfRecipients:\r\n:StartOfRec:zed@example.net:MidOfRec:Zed" + nul +
                            "\x02 Zero:EndOfRec:\r\n:EndOfRecipients:\r\n";
  Deliver(std::string(kPath) + block + record);
  bool found = false;
  for (const auto& [id, seen] : Snapshot()) {
    if (before_.count(id)) continue;
    EXPECT_EQ(seen.substr(0, seen.find('|', seen.find('|') + 1)), "Dan Nul|Lead[31m\tred");
    found = true;
  }
  EXPECT_TRUE(found);
  host::PersonScope person(*bob_->app);
  auto items = Contacts(*bob_)->Items();
  bool zed = false;
  for (int i = 1; i <= items->Count(); ++i) {
    auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
    if (c && c->Email1Address() == "zed@example.net") {
      EXPECT_EQ(c->FullName(), "Zed Zero");
      zed = true;
    }
  }
  EXPECT_TRUE(zed);
}

}  // namespace
}  // namespace plexisync::testing

// The round trip of a shared folder between three people in one process:
// the owner sends, the members' add-ins apply the update mail as it arrives
// in their Inbox, a member's change goes back to the group, deletions are
// asked about per contact, and a member far behind imports the exported
// file. Everything travels through the shared post office.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "plexisync/transfer/import_file.hpp"
#include "share_fixture.hpp"

namespace plexisync::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// What one contact holds, as compared between the copies.
struct Seen {
  std::string id;
  std::string fullName;
  std::string jobTitle;
  std::string body;
  bool unread = false;
};

class RoundTripTest : public ShareTest {
 protected:
  void SetUp() override {
    ShareTest::SetUp();
    alice_ = &Person("alice", "Alice Adams");
    bob_ = &Person("bob", "Bob Brown");
    carol_ = &Person("carol", "Carol Cole");
    bobContact_ = NewContact(*alice_, Contacts(*alice_), "Bob Brown", "bob@example.org");
    carolContact_ = NewContact(*alice_, Contacts(*alice_), "Carol Cole", "carol@example.org");
    team_ = NewFolder(Contacts(*alice_), "Team");
    for (const char* name : {"Dan Diaz", "Eve Evans", "Finn Ford"}) {
      host::PersonScope person(*alice_->app);
      auto c = NewContact(*alice_, team_, name);
      c->SetProperty("JobTitle", std::string("Team member"));
      c->SetBody(std::string("Notes on ") + name);
      c->Save();
    }
    Clock().Advance(10);
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

  // The client's send/receive on the machine; the arrivals reach the add-in.
  static void SendReceive(AddinMachine& m) {
    {
      host::PersonScope person(*m.app);
      m.app->Session()->SyncObjects()->Item(1)->Start();
    }
    m.DoEvents();
  }

  // The owner sends the folder to its members (the Update button's work).
  void Send(AddinMachine& m, const std::shared_ptr<host::Folder>& folder) {
    Update_Folder(*m.ctx, folder, false);
    m.DoEvents();
    Clock().Advance(10);
  }

  // Queues an answer to the next four-answer question; the question's text
  // is added to `asked`.
  static void Answer(AddinMachine& m, int button, std::vector<std::string>& asked) {
    m.user.ExpectForm("Klausimas", [button, &asked](platform::Form& form) {
      auto* text = form.Find<platform::Label>("Praneshimas");
      asked.push_back(text ? text->Caption() : std::string("<no Praneshimas>"));
      auto* b = form.Find<platform::Button>("Command" + std::to_string(button));
      ASSERT_NE(b, nullptr);
      b->Click();
    });
  }

  static std::shared_ptr<host::Folder> FolderAt(AddinMachine& m, const std::vector<std::string>& names) {
    host::PersonScope person(*m.app);
    std::shared_ptr<host::Folder> f = m.app->Session()->Folders()->Item(1);
    for (const auto& n : names) {
      auto sub = f->Folders();
      std::shared_ptr<host::Folder> next;
      for (int i = 1; i <= sub->Count(); ++i) {
        if (sub->Item(i)->Name() == n) next = sub->Item(i);
      }
      if (!next) return nullptr;
      f = next;
    }
    return f;
  }
  static std::shared_ptr<host::Folder> TeamOf(AddinMachine& m) { return FolderAt(m, {"Contacts", "Team"}); }

  static std::vector<Seen> ContactsOf(AddinMachine& m, const std::shared_ptr<host::Folder>& folder) {
    std::vector<Seen> out;
    host::PersonScope person(*m.app);
    auto items = folder->Items();
    for (int i = 1; i <= items->Count(); ++i) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
      if (!c) continue;
      out.push_back(Seen{c->EntryID(), c->FullName(), c->Text("JobTitle"), c->Body(), c->UnRead()});
    }
    std::sort(out.begin(), out.end(), [](const Seen& a, const Seen& b) { return a.fullName < b.fullName; });
    return out;
  }
  static std::vector<std::string> Names(const std::vector<Seen>& list) {
    std::vector<std::string> names;
    for (const auto& s : list) names.push_back(s.fullName);
    return names;
  }
  static const Seen& Named(const std::vector<Seen>& list, const std::string& name) {
    static const Seen none{};
    for (const auto& s : list) {
      if (s.fullName == name) return s;
    }
    ADD_FAILURE() << "no contact " << name;
    return none;
  }

  // The enabled members of a folder's copy by address.
  static std::set<std::string> Members(AddinMachine& m, const std::string& folderId, bool enabledOnly = true) {
    std::set<std::string> out;
    const std::string key = ProfileKeyPath() + folderId;
    for (const auto& sub : m.Reg().GetAllSubKeys(key)) {
      if (IsFolderDataKey(sub)) continue;
      const std::string rk = key + "\\" + sub;
      if (enabledOnly && m.Reg().GetString(rk, "Bool", "0") != "1") continue;
      out.insert(m.Reg().GetString(rk, "eMail", ""));
    }
    return out;
  }

  // The owner shares Team with Bob and Carol; both receive it.
  void FirstRound() {
    const std::string teamId = team_->EntryID();
    Update_Entry(*alice_->ctx, teamId, bobContact_->EntryID(), "Bob Brown", true, "bob@example.org");
    Update_Entry(*alice_->ctx, teamId, carolContact_->EntryID(), "Carol Cole", true, "carol@example.org");
    Send(*alice_, team_);
    SendReceive(*bob_);
    SendReceive(*carol_);
    Clock().Advance(10);
  }

  void ExpectNoProblems() {
    for (AddinMachine* m : {alice_, bob_, carol_}) {
      EXPECT_EQ(m->user.Problems(), "") << m->profile.Address();
      EXPECT_EQ(m->ErrorLog(), "") << m->profile.Address();
      EXPECT_THAT(m->app->EscapedErrors(), ::testing::IsEmpty());
    }
  }

  AddinMachine* alice_ = nullptr;
  AddinMachine* bob_ = nullptr;
  AddinMachine* carol_ = nullptr;
  std::shared_ptr<host::ContactItem> bobContact_, carolContact_;
  std::shared_ptr<host::Folder> team_;
};

TEST_F(RoundTripTest, EachMembersCopyEqualsTheOwnersAndKnowsTheGroup) {
  FirstRound();
  const auto owners = ContactsOf(*alice_, team_);
  for (AddinMachine* m : {bob_, carol_}) {
    SCOPED_TRACE(m->profile.Address());
    auto copy = TeamOf(*m);
    ASSERT_NE(copy, nullptr);
    const auto mine = ContactsOf(*m, copy);
    ASSERT_EQ(Names(mine), Names(owners));
    for (std::size_t i = 0; i < mine.size(); ++i) {
      EXPECT_EQ(mine[i].jobTitle, owners[i].jobTitle) << mine[i].fullName;
      EXPECT_EQ(mine[i].body, owners[i].body) << mine[i].fullName;
      EXPECT_TRUE(mine[i].unread) << mine[i].fullName;
      // Each arrived contact is mapped to the owner's identity of it.
      EXPECT_EQ(m->Reg().GetString(MappingKeyPath(*m->ctx, copy->EntryID()), mine[i].id, ""), owners[i].id);
    }
    // The owner is a member of the copy and a contact of the member's; the
    // member is never a member of its own copy.
    const auto members = Members(*m, copy->EntryID(), false);
    EXPECT_TRUE(members.count("alice@example.org"));
    EXPECT_FALSE(members.count(m->profile.Address()));
    const auto contacts = ContactsOf(*m, Contacts(*m));
    EXPECT_EQ(std::count_if(contacts.begin(), contacts.end(), [](const Seen& s) { return s.fullName == "Alice Adams"; }),
              1);
    // The copy sends its own changes to the group.
    EXPECT_EQ(UpdateableValue(*m, copy->EntryID()), "1");
  }
  EXPECT_EQ(Members(*bob_, TeamOf(*bob_)->EntryID()), (std::set<std::string>{"alice@example.org", "carol@example.org"}));
  EXPECT_EQ(Members(*carol_, TeamOf(*carol_)->EntryID()), (std::set<std::string>{"alice@example.org", "bob@example.org"}));
  // Nothing is left in the Inboxes.
  for (AddinMachine* m : {bob_, carol_}) {
    host::PersonScope person(*m->app);
    EXPECT_EQ(m->DefaultFolder(host::kFolderInbox)->Items()->Count(), 0);
  }
  ExpectNoProblems();
}

TEST_F(RoundTripTest, AChangeSentBackIsTakenByYesAndRefusedByNo) {
  FirstRound();
  auto bobsTeam = TeamOf(*bob_);
  ASSERT_NE(bobsTeam, nullptr);
  const auto carolBefore = ContactsOf(*carol_, TeamOf(*carol_));
  const auto aliceBefore = ContactsOf(*alice_, team_);
  {
    host::PersonScope person(*bob_->app);
    auto dan = std::dynamic_pointer_cast<host::ContactItem>(
        bob_->app->Session()->GetItemFromID(Named(ContactsOf(*bob_, bobsTeam), "Dan Diaz").id));
    dan->SetProperty("JobTitle", std::string("Team lead"));
    dan->SetBody("Bob's notes");
    dan->Save();
  }
  // Bob sends no comments: the record carries no body.
  bob_->Reg().SetValue(ProfileKeyPath(), "Dont_Send_Comments", std::string("1"), 1);
  Clock().Advance(1);
  Send(*bob_, bobsTeam);

  std::vector<std::string> aliceAsked, carolAsked;
  Answer(*alice_, kAnswerYes, aliceAsked);
  SendReceive(*alice_);
  Answer(*carol_, kAnswerNo, carolAsked);
  SendReceive(*carol_);

  EXPECT_THAT(aliceAsked, ElementsAre("Arrived changes for the Dan Diaz contact. Do you want to accept changes?"));
  EXPECT_THAT(carolAsked, ElementsAre("Arrived changes for the Dan Diaz contact. Do you want to accept changes?"));
  const auto aliceAfter = ContactsOf(*alice_, team_);
  ASSERT_EQ(Names(aliceAfter), Names(aliceBefore));
  const Seen& dan = Named(aliceAfter, "Dan Diaz");
  EXPECT_NE(dan.id, Named(aliceBefore, "Dan Diaz").id);
  EXPECT_TRUE(dan.unread);
  EXPECT_EQ(dan.jobTitle, "Team lead");
  // The record carried no body: the local one stays.
  EXPECT_EQ(dan.body, "Notes on Dan Diaz");
  // The new contact keeps the identity of the old one.
  EXPECT_EQ(alice_->Reg().GetString(MappingKeyPath(*alice_->ctx, team_->EntryID()), dan.id, ""),
            Named(aliceBefore, "Dan Diaz").id);
  for (const char* other : {"Eve Evans", "Finn Ford"}) {
    EXPECT_EQ(Named(aliceAfter, other).id, Named(aliceBefore, other).id);
  }
  // "No" changes nothing at all.
  const auto carolAfter = ContactsOf(*carol_, TeamOf(*carol_));
  ASSERT_EQ(carolAfter.size(), carolBefore.size());
  for (std::size_t i = 0; i < carolAfter.size(); ++i) {
    EXPECT_EQ(carolAfter[i].id, carolBefore[i].id);
    EXPECT_EQ(carolAfter[i].jobTitle, carolBefore[i].jobTitle);
  }
  ExpectNoProblems();
}


// With updates sent at each send/receive, every send/receive stamps the
// members even when nothing goes out; a member's change is judged against
// the last mail that really went to them: made after it, it is a newer
// change; made before the owner's later mail, an apparently obsolete one.
TEST_F(RoundTripTest, AChangeMadeAfterTheLastMailIsNewerEvenWhenSendReceiveStampedTheMembers) {
  FirstRound();
  for (AddinMachine* m : {alice_, bob_, carol_}) m->Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string("1"), 1);
  auto bobsTeam = TeamOf(*bob_);
  ASSERT_NE(bobsTeam, nullptr);
  auto edit = [&](AddinMachine& m, const std::shared_ptr<host::Folder>& folder, const char* name, const char* job) {
    host::PersonScope person(*m.app);
    auto c = std::dynamic_pointer_cast<host::ContactItem>(
        m.app->Session()->GetItemFromID(Named(ContactsOf(m, folder), name).id));
    c->SetProperty("JobTitle", std::string(job));
    c->Save();
  };
  // Alice's send/receives with nothing to send move Bob's "LastUpdate" on.
  Clock().Advance(60);
  SendReceive(*alice_);
  Clock().Advance(60);
  // A minute later Bob changes Dan; his send/receive sends it.
  edit(*bob_, bobsTeam, "Dan Diaz", "Changed after the last mail");
  Clock().Advance(60);
  SendReceive(*bob_);
  Clock().Advance(60);
  std::vector<std::string> asked;
  Answer(*alice_, kAnswerYes, asked);
  SendReceive(*alice_);
  EXPECT_THAT(asked, ElementsAre("Arrived changes for the Dan Diaz contact. Do you want to accept changes?"));
  EXPECT_EQ(Named(ContactsOf(*alice_, team_), "Dan Diaz").jobTitle, "Changed after the last mail");

  // Bob changes Eve, but before his mail arrives Alice sends a change of
  // Finn: Bob's change of Eve was made before Alice's last mail to him.
  Clock().Advance(60);
  edit(*bob_, bobsTeam, "Eve Evans", "Changed before the owner's mail");
  Clock().Advance(60);
  edit(*alice_, team_, "Finn Ford", "Owner's change");
  Clock().Advance(60);
  SendReceive(*alice_);
  Clock().Advance(60);
  asked.clear();
  Answer(*bob_, kAnswerYes, asked);
  Answer(*bob_, kAnswerYes, asked);
  SendReceive(*bob_);
  Clock().Advance(60);
  asked.clear();
  Answer(*alice_, kAnswerYes, asked);
  SendReceive(*alice_);
  EXPECT_THAT(asked, ElementsAre("Arrived apparently obsolete changes for the Eve Evans contact. Do you want to "
                                 "accept changes?"));
}

TEST_F(RoundTripTest, DeletionsAreAskedPerContactAndYesToAllHoldsForOneMail) {
  FirstRound();
  {
    host::PersonScope person(*alice_->app);
    for (const auto& s : ContactsOf(*alice_, team_)) {
      if (s.fullName == "Dan Diaz") continue;
      alice_->app->Session()->GetItemFromID(s.id)->Delete();
    }
  }
  Clock().Advance(1);
  Send(*alice_, team_);

  std::vector<std::string> bobAsked, carolAsked;
  Answer(*bob_, kAnswerYesToAll, bobAsked);
  SendReceive(*bob_);
  EXPECT_EQ(bobAsked.size(), 1u);
  EXPECT_THAT(bobAsked.at(0), HasSubstr("' was removed from shared 'Team' folder. Do you want to delete this contact?"));
  EXPECT_THAT(Names(ContactsOf(*bob_, TeamOf(*bob_))), ElementsAre("Dan Diaz"));

  Answer(*carol_, kAnswerYes, carolAsked);
  Answer(*carol_, kAnswerNo, carolAsked);
  SendReceive(*carol_);
  ASSERT_EQ(carolAsked.size(), 2u);
  const auto carols = Names(ContactsOf(*carol_, TeamOf(*carol_)));
  ASSERT_EQ(carols.size(), 2u);
  // The contact named in the second question is the one kept.
  const std::string kept = carols[0] == "Dan Diaz" ? carols[1] : carols[0];
  EXPECT_THAT(carolAsked[1], HasSubstr("Contact '" + kept + "' was removed"));

  // A new mail asks again.
  {
    host::PersonScope person(*alice_->app);
    alice_->app->Session()->GetItemFromID(Named(ContactsOf(*alice_, team_), "Dan Diaz").id)->Delete();
  }
  Clock().Advance(1);
  Send(*alice_, team_);
  bobAsked.clear();
  Answer(*bob_, kAnswerNo, bobAsked);
  SendReceive(*bob_);
  EXPECT_THAT(bobAsked, ElementsAre("Contact 'Dan Diaz' was removed from shared 'Team' folder. Do you want to delete "
                                    "this contact?"));
  EXPECT_THAT(Names(ContactsOf(*bob_, TeamOf(*bob_))), ElementsAre("Dan Diaz"));
  ExpectNoProblems();
}

TEST_F(RoundTripTest, AMemberFarBehindImportsTheExportedFileOnce) {
  // The export to a file goes to members not updated yet when the folder
  // holds at least the threshold of contacts (200 at its smallest).
  alice_->Reg().SetValue(ProfileKeyPath(), "Kiek", std::string("0"), 1);
  auto big = NewFolder(Contacts(*alice_), "Big");
  for (int i = 0; i < 200; ++i) NewContact(*alice_, big, "Member " + std::to_string(i));
  Clock().Advance(10);
  Update_Entry(*alice_->ctx, big->EntryID(), carolContact_->EntryID(), "Carol Cole", true, "carol@example.org");
  const std::string file = (Scratch() / "big.pst").string();
  alice_->user.ExpectFileDialog(file);
  alice_->user.ExpectMessage("Contacts were successfully exported");
  Send(*alice_, big);

  SendReceive(*carol_);
  auto copy = FolderAt(*carol_, {"Contacts", "Big"});
  ASSERT_NE(copy, nullptr) << "the import mail did not make the folder";
  EXPECT_TRUE(carol_->Reg().KeyExists(ProfileKeyPath() + copy->EntryID() + "\\" + kImportKey));
  EXPECT_TRUE(ContactsOf(*carol_, copy).empty());

  const auto owners = ContactsOf(*alice_, big);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "first import" : "the same file again");
    carol_->user.ExpectFileDialog(file);
    carol_->user.ExpectMessage(kImportSuccessful);
    EXPECT_TRUE(carol_->ctx->Import_file(copy));
    carol_->DoEvents();
    const auto mine = ContactsOf(*carol_, copy);
    ASSERT_EQ(Names(mine), Names(owners));
    std::set<std::string> corrIds;
    for (const auto& s : mine) {
      EXPECT_TRUE(s.unread) << s.fullName;
      corrIds.insert(carol_->Reg().GetString(MappingKeyPath(*carol_->ctx, copy->EntryID()), s.id, ""));
    }
    std::set<std::string> ownerIds;
    for (const auto& s : owners) ownerIds.insert(s.id);
    EXPECT_EQ(corrIds, ownerIds);
    EXPECT_FALSE(carol_->Reg().KeyExists(ProfileKeyPath() + copy->EntryID() + "\\" + kImportKey));
  }
  ExpectNoProblems();
}

}  // namespace
}  // namespace plexisync::testing

// The recipients block and the deleted lines of an update mail applied to
// the local copy: the member list mirrors the sender's, own addresses are
// never members, new members are found or made in Contacts; deletions are
// asked about per contact, and "Yes to All" holds for one mail only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "inbox_fixture.hpp"
#include "plexisync/dialogs/klausimas.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class ImportRecipientsTest : public InboxTest {
 protected:
  AddinMachine& Reader() {
    m_ = &Person("reader");
    team_ = NewFolder(Contacts(*m_), "Team");
    return *m_;
  }
  std::string TeamId() const { return team_->EntryID(); }

  // A reader of one mail with that text, as the Inbox scan leaves it before
  // the blocks run.
  std::unique_ptr<CReceiveMail> Mail(const std::string& text, const std::string& senderEmail = "olive@example.org",
                                     const std::string& senderName = "Olive Owner",
                                     platform::DateTime senderLast = platform::DateTime::FromParts(2100, 1, 1)) {
    auto r = std::make_unique<CReceiveMail>(*m_->ctx);
    r->Text = text;
    r->LocalFolder = team_;
    r->Sender = std::make_shared<CSender>();
    r->Sender->Email = senderEmail;
    r->Sender->Name = senderName;
    r->Sender->LastUpdate = senderLast;
    return r;
  }

  // Queues an answer to the next four-answer question and keeps its text.
  void Answer(int button) {
    m_->user.ExpectForm("Klausimas", [this, button](platform::Form& form) {
      auto* text = form.Find<platform::Label>("Praneshimas");
      asked_.push_back(text ? text->Caption() : std::string("<no Praneshimas>"));
      auto* b = form.Find<platform::Button>("Command" + std::to_string(button));
      ASSERT_NE(b, nullptr);
      b->Click();
    });
  }
  std::vector<std::string> Asked() {
    auto out = asked_;
    asked_.clear();
    return out;
  }

  // A contact of the local copy mapped to the CorrID and listed.
  std::shared_ptr<host::ContactItem> Local(const std::string& name, const std::string& corrId) {
    auto c = NewContact(*m_, team_, name);
    Set_CorrID(*m_->ctx, TeamId(), c->EntryID(), corrId);
    m_->Reg().SetValue(ListKeyPath(*m_->ctx, TeamId()), c->EntryID(), std::string("1"), 1);
    return c;
  }
  bool Exists(const std::string& id) {
    host::PersonScope person(*m_->app);
    try {
      auto item = m_->app->Session()->GetItemFromID(id);
      return item && item->Parent()->EntryID() == TeamId();
    } catch (...) {
      return false;
    }
  }
  bool Listed(const std::string& id) {
    return m_->Reg().GetString(ListKeyPath(*m_->ctx, TeamId()), id, "0") == "1";
  }
  static std::string Question(const std::string& name) {
    return "Contact '" + name + "' was removed from shared 'Team' folder. Do you want to delete this contact?";
  }
  std::string Head(const std::string& deleted) {
    return PathOf(*m_, "Team") + RecipientsBlock({{"olive@example.org", "Olive Owner"}}) + deleted;
  }

  AddinMachine* m_ = nullptr;
  std::shared_ptr<host::Folder> team_;
  std::vector<std::string> asked_;
};

std::string Corr(const std::string& tag) {
  std::string id = "CORR" + tag;
  id.resize(48, '0');
  return id;
}
std::string DeletedLine(const std::string& corrId) { return ":StartOfDeleted:" + corrId + "\r\n"; }

TEST_F(ImportRecipientsTest, TheMemberListMirrorsTheBlock) {
  auto& m = Reader();
  // Local members: one listed again, one no longer listed, one disabled
  // earlier and listed again (it keeps its old values).
  auto kept = NewContact(m, Contacts(m), "Kim Kept", "kim@example.org");
  auto dropped = NewContact(m, Contacts(m), "Dora Dropped", "dora@example.org");
  auto back = NewContact(m, Contacts(m), "Bea Back", "bea@example.org");
  StoreRecipient(m, TeamId(), kept, "kim@example.org", true, "3/3/2026 10:00:00 AM");
  StoreRecipient(m, TeamId(), dropped, "dora@example.org", true);
  StoreRecipient(m, TeamId(), back, "bea@example.org", false, "2/2/2026 9:00:00 AM");
  // A contact that stands for a new member already.
  auto known = NewContact(m, Contacts(m), "Nora Known", "nora@example.org");
  const int contactsBefore = CountIn(m, host::kFolderContacts);

  const std::string block = RecipientsBlock({{"kim@example.org", "Kim"},
                                             {"reader@example.org", "Me Myself"},
                                             {"bea@example.org", "Bea"},
                                             {"nora@example.org", "Nora In Block"},
                                             {"newt@example.org", "Newt New"},
                                             {"  ", "Blank"}});
  Mail(PathOf(m, "Team") + block)->ImportRecipients();

  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_EQ(Bool(m, TeamId(), kept->EntryID()), "1");
  EXPECT_EQ(Bool(m, TeamId(), dropped->EntryID()), "0");
  EXPECT_EQ(Bool(m, TeamId(), back->EntryID()), "1");
  const std::string backKey = RecipientKey(TeamId(), back->EntryID());
  EXPECT_EQ(m.Reg().GetString(backKey, "Name", ""), "Bea Back");
  EXPECT_EQ(m.Reg().GetString(backKey, "LastUpdate", ""), "2/2/2026 9:00:00 AM");
  // A known contact becomes the member; an unknown one is made unread,
  // named as in the block; the sender is made too, named as the mail says.
  EXPECT_EQ(Bool(m, TeamId(), known->EntryID()), "1");
  auto newt = WithAddress(m, Contacts(m), "newt@example.org");
  ASSERT_EQ(newt.size(), 1u);
  EXPECT_EQ(newt[0]->FullName(), "Newt New");
  EXPECT_TRUE(newt[0]->UnRead());
  EXPECT_EQ(Bool(m, TeamId(), newt[0]->EntryID()), "1");
  auto olive = WithAddress(m, Contacts(m), "olive@example.org");
  ASSERT_EQ(olive.size(), 1u);
  EXPECT_EQ(olive[0]->FullName(), "Olive Owner");
  EXPECT_EQ(CountIn(m, host::kFolderContacts), contactsBefore + 2);
  // The own address never becomes a member; the blank entry is no member.
  EXPECT_TRUE(WithAddress(m, Contacts(m), "reader@example.org").empty());
  EXPECT_THAT(Members(m, TeamId()),
              UnorderedElementsAre("kim@example.org=1", "dora@example.org=0", "bea@example.org=1",
                                   "nora@example.org=1", "newt@example.org=1", "olive@example.org=1"));
  EXPECT_EQ(UpdateableValue(m, TeamId()), "1");
}

TEST_F(ImportRecipientsTest, BlockEntriesAreReadInOnePassEachWithItsOwnName) {
  const struct {
    const char* what;
    std::string block;  // between the block's markers
    std::vector<std::string> members;
    std::string name;  // of the contact made for "x@example.org"
  } cases[] = {
      {"an entry without a middle takes the rest of the block as its address",
       ":StartOfRec:x@example.org\r\n", {"x@example.org\r\n=1"}, ""},
      {"a name is the one of the address's entry",
       ":StartOfRec:mo@example.org:MidOfRec:Mo Long:EndOfRec:\r\n:StartOfRec:x@example.org:MidOfRec:Xena:EndOfRec:\r\n",
       {"mo@example.org=1", "x@example.org=1"}, "Xena"},
      {"an address inside an earlier, longer one still takes its own entry's name",
       ":StartOfRec:ax@example.org:MidOfRec:Alex:EndOfRec:\r\n:StartOfRec:x@example.org:MidOfRec:Xena:EndOfRec:\r\n",
       {"ax@example.org=1", "x@example.org=1"}, "Xena"},
      {"an entry without an end has no name",
       ":StartOfRec:mo@example.org:MidOfRec:Mo\r\n:StartOfRec:x@example.org:MidOfRec:Xena\r\n",
       {"mo@example.org=1", "x@example.org=1"}, ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    m_ = &Person("reader" + std::to_string(n++));
    team_ = NewFolder(Contacts(*m_), "Team");
    const std::string text = PathOf(*m_, "Team") + ":StartOfRecipients:\r\n" + c.block + ":EndOfRecipients:\r\n";
    Mail(text, "")->ImportRecipients();
    EXPECT_EQ(m_->ErrorLog(), "");
    EXPECT_THAT(Members(*m_, TeamId()), ::testing::UnorderedElementsAreArray(c.members));
    if (c.members.back() == "x@example.org=1") {
      auto x = WithAddress(*m_, Contacts(*m_), "x@example.org");
      ASSERT_EQ(x.size(), 1u);
      EXPECT_EQ(x[0]->FullName(), c.name);
    }
  }
}

TEST_F(ImportRecipientsTest, OnlyABlockBeforeTheRecordsCountsAndABrokenOneChangesNothing) {
  auto& m = Reader();
  auto kept = NewContact(m, Contacts(m), "Kim Kept", "kim@example.org");
  StoreRecipient(m, TeamId(), kept, "kim@example.org", true);
  const std::string record = ":StartOfContact:" + Corr("X") +
                             "\r\nContactBody::StartOfRecipients:\r\n:StartOfRec:eve@example.org:MidOfRec:Eve:EndOfRec:"
                             "\r\n:EndOfRecipients:\r\n\r\n:EndOfContact:\r\n";
  // A block inside a contact's value: no block at all.
  Mail(PathOf(m, "Team") + record, "")->ImportRecipients();
  EXPECT_THAT(Members(m, TeamId()), ElementsAre("kim@example.org=1"));
  EXPECT_EQ(m.ErrorLog(), "");

  // A block without its end: refused, logged, nothing written.
  m.user.ExpectMessage(kReportQuestionText, platform::MsgBoxResult::No);
  Mail(PathOf(m, "Team") + ":StartOfRecipients:\r\n:StartOfRec:eve@example.org:MidOfRec:Eve:EndOfRec:\r\n")
      ->ImportRecipients();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("CReceiveMail_ImportRecipients"));
  EXPECT_THAT(Members(m, TeamId()), ElementsAre("kim@example.org=1"));
  EXPECT_TRUE(WithAddress(m, Contacts(m), "eve@example.org").empty());
  EXPECT_TRUE(WithAddress(m, Contacts(m), "olive@example.org").empty());
}

TEST_F(ImportRecipientsTest, EachDeletionIsAskedAndYesToAllHoldsForTheRestOfTheMail) {
  auto& m = Reader();
  auto a = Local("Ann", Corr("A"));
  auto b = Local("Bob", Corr("B"));
  auto c = Local("Cid", Corr("C"));
  auto d = Local("Dee", Corr("D"));
  auto e = Local("Eli", Corr("E"));
  const std::string ids[] = {a->EntryID(), b->EntryID(), c->EntryID(), d->EntryID(), e->EntryID()};

  // Ann: No (kept, but out of the list); Bob: Yes; Cid: Yes to All, and Dee
  // goes without a question. A line that maps to nothing asks nothing.
  Answer(kAnswerNo);
  Answer(kAnswerYes);
  Answer(kAnswerYesToAll);
  auto first = Mail(Head(DeletedLine(Corr("A")) + DeletedLine(Corr("NOBODY")) + DeletedLine(Corr("B")) +
                         DeletedLine(Corr("C")) + DeletedLine(Corr("D"))));
  first->ImportDeleted();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_THAT(Asked(), ElementsAre(Question("Ann"), Question("Bob"), Question("Cid")));
  EXPECT_EQ(first->DeleteAnswer, kAnswerYesToAll);
  EXPECT_TRUE(Exists(ids[0]));
  EXPECT_FALSE(Listed(ids[0]));
  for (int i : {1, 2, 3}) {
    EXPECT_FALSE(Exists(ids[i])) << i;
    EXPECT_FALSE(Listed(ids[i])) << i;
  }
  EXPECT_TRUE(Exists(ids[4]));
  EXPECT_TRUE(Listed(ids[4]));

  // The next mail asks again; "No to All" keeps the rest.
  auto f = Local("Fay", Corr("F"));
  Answer(kAnswerNoToAll);
  Mail(Head(DeletedLine(Corr("E")) + DeletedLine(Corr("F"))))->ImportDeleted();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_THAT(Asked(), ElementsAre(Question("Eli")));
  EXPECT_TRUE(Exists(ids[4]));
  EXPECT_TRUE(Exists(f->EntryID()));
  EXPECT_FALSE(Listed(ids[4]));
  EXPECT_FALSE(Listed(f->EntryID()));
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ImportRecipientsTest, DeletedLinesCountOnlyBeforeTheRecords) {
  auto& m = Reader();
  auto a = Local("Ann", Corr("A"));
  auto gone = Local("Gus", Corr("G"));
  {
    host::PersonScope person(*m.app);
    gone->Delete();
    gone->Delete();
  }
  const std::string record = ":StartOfContact:" + Corr("X") + "\r\nContactBody:copied " + DeletedLine(Corr("A")) +
                             "\r\n:EndOfContact:\r\n";
  // The look-alike inside a value and a line for a contact that is gone:
  // nothing asked, nothing changed.
  Mail(Head(DeletedLine(Corr("G"))) + record)->ImportDeleted();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_THAT(Asked(), IsEmpty());
  EXPECT_TRUE(Exists(a->EntryID()));
  EXPECT_TRUE(Listed(a->EntryID()));
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ImportRecipientsTest, TheQuestionFormsControls) {
  auto& m = Reader();
  Klausimas form(*m.ctx);
  EXPECT_EQ(form.Name(), "Klausimas");
  EXPECT_EQ(form.Caption(), "Plexisync");
  EXPECT_EQ(form.Command1.Caption(), "Yes");
  EXPECT_EQ(form.Command2.Caption(), "Yes to All");
  EXPECT_EQ(form.Command3.Caption(), "No");
  EXPECT_EQ(form.Command4.Caption(), "No to All");
  EXPECT_EQ(form.CancelButton(), &form.Command3) << "closing the question keeps the contact";
  // Closed without a button: "No".
  m.user.ExpectForm("Klausimas", [](platform::Form& f) { f.Hide(); });
  EXPECT_EQ(AskKlausimas(*m.ctx, "Anything?"), kAnswerNo);
  EXPECT_EQ(m.user.Problems(), "");
}

}  // namespace
}  // namespace plexisync::testing

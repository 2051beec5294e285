// Applying the contact records of an update mail to the local copy of a
// shared folder: newer and apparently obsolete arrivals and their questions,
// the answers that hold for the rest of one mail, new and stale identities,
// text that only looks like record markers, and replacements that fail
// half-way. Also the import mark of an import mail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "import_fixture.hpp"
#include "storage_fixture.hpp"

namespace plexisync {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr int kYes = kAnswerYes, kYesToAll = kAnswerYesToAll, kNo = kAnswerNo, kNoToAll = kAnswerNoToAll;

std::string NewerQuestion(const std::string& name) {
  return "Arrived changes for the " + name + " contact. Do you want to accept changes?";
}
std::string ObsoleteQuestion(const std::string& name) {
  return "Arrived apparently obsolete changes for the " + name + " contact. Do you want to accept changes?";
}

class ImportContactsTest : public testing::ImportTest {
 protected:
  // The replaced contact: one copy, new entry id, unread, the arrived
  // values, the CorrID mapped to it alone and the list naming it instead.
  void ExpectReplaced(const std::string& name, const std::string& oldId, const std::string& corrId) {
    auto c = Only(name);
    ASSERT_TRUE(c);
    EXPECT_NE(c->EntryID(), oldId);
    EXPECT_TRUE(c->UnRead());
    EXPECT_EQ(JobTitle(c), "new");
    EXPECT_THAT(IdsOf(corrId), ElementsAre(c->EntryID()));
    EXPECT_TRUE(Listed(c->EntryID()));
    EXPECT_FALSE(Listed(oldId));
  }
  void ExpectKept(const std::string& name, const std::string& oldId, const std::string& corrId) {
    auto c = Only(name);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->EntryID(), oldId);
    EXPECT_EQ(JobTitle(c), "old");
    EXPECT_THAT(IdsOf(corrId), ElementsAre(oldId));
    EXPECT_TRUE(Listed(oldId));
  }
};

// The arrived date against the sender's last update decides which question
// is asked; the answer decides whether the local contact is replaced.
TEST_F(ImportContactsTest, NewerAndObsoleteArrivalsAskAndApplyTheAnswer) {
  auto& m = Receiver();
  const struct {
    const char* name;
    int lastFromNow;                     // the sender's LastUpdate, seconds from now
    std::optional<int> arrivedFromLast;  // nullopt: a date text that does not convert
    bool newer;
    int answer;
  } cases[] = {
      {"Later accepted", 3600, 60, true, kYes},
      {"Later refused", 3600, 60, true, kNo},
      {"Equal is obsolete", 3600, 0, false, kYes},
      {"Earlier refused", 3600, -60, false, kNo},
      {"Unreadable is now, after the last update", -3600, std::nullopt, true, kYes},
      {"Unreadable is now, before the last update", 3600, std::nullopt, false, kNo},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string corr = testing::CorrId("K" + std::to_string(n++));
    const auto local = Local(c.name, corr);
    const std::string oldId = local->EntryID();
    const auto last = Clock().Now().AddSeconds(c.lastFromNow);
    const std::string date = c.arrivedFromLast ? last.AddSeconds(*c.arrivedFromLast).ToText() : "not a date";
    const std::string text = Record(c.name, corr, date);
    asked_.clear();
    Answer(c.answer);
    Reader(text, last)->ImportContacts();
    EXPECT_THAT(Asked(), ElementsAre(c.newer ? NewerQuestion(c.name) : ObsoleteQuestion(c.name)));
    if (c.answer == kYes) {
      ExpectReplaced(c.name, oldId, corr);
    } else {
      ExpectKept(c.name, oldId, corr);
    }
    EXPECT_EQ(m.user.Problems(), "");
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

// The local body stays when the record carries none; a record's own body
// wins.
TEST_F(ImportContactsTest, ReplacementKeepsTheLocalBodyWhenTheRecordHasNone) {
  auto& m = Receiver();
  const auto last = Clock().Now().AddSeconds(3600);
  const std::string later = last.AddSeconds(60).ToText();
  Local("Ann", testing::CorrId("A"), "local note about Ann");
  Local("Bob", testing::CorrId("B"), "local note about Bob");
  const std::string text = Record("Ann", testing::CorrId("A"), later, "new", "", false) +
                           Record("Bob", testing::CorrId("B"), later, "new", "their note about Bob");
  Answer(kYes);
  Answer(kYes);
  Reader(text, last)->ImportContacts();
  EXPECT_EQ(Only("Ann")->Body(), "local note about Ann");
  EXPECT_EQ(Only("Bob")->Body(), "their note about Bob");
  EXPECT_EQ(m.user.Problems(), "");
}

// "Yes to All" / "No to All" end their kind of question for the rest of the
// mail, the other kind is still asked, and the next mail asks again. After
// "No to All" to a newer change, contacts new to the folder are not created
// either.
TEST_F(ImportContactsTest, AnswersForAllHoldForTheRestOfOneMail) {
  for (const int all : {kYesToAll, kNoToAll}) {
    SCOPED_TRACE(all == kYesToAll ? "Yes to All" : "No to All");
    auto& m = Receiver("receiver" + std::to_string(all));
    const auto last = Clock().Now().AddSeconds(3600);
    const std::string later = last.AddSeconds(60).ToText();
    const std::string earlier = last.AddSeconds(-60).ToText();
    std::vector<std::string> oldIds;
    for (const char* name : {"N1", "N2", "N3", "O1"}) oldIds.push_back(Local(name, testing::CorrId(name))->EntryID());
    const std::string mail = Record("N1", testing::CorrId("N1"), later) + Record("O1", testing::CorrId("O1"), earlier) +
                             Record("N2", testing::CorrId("N2"), later) + Record("Fresh", testing::CorrId("F"), later) +
                             Record("N3", testing::CorrId("N3"), later);
    asked_.clear();
    Answer(all);  // N1
    Answer(kNo);  // O1: the obsolete question is still asked
    Reader(mail, last)->ImportContacts();
    EXPECT_THAT(Asked(), ElementsAre(NewerQuestion("N1"), ObsoleteQuestion("O1")));
    for (int i = 0; i < 3; ++i) {
      const std::string name = "N" + std::to_string(i + 1);
      if (all == kYesToAll) {
        ExpectReplaced(name, oldIds[i], testing::CorrId(name));
      } else {
        ExpectKept(name, oldIds[i], testing::CorrId(name));
      }
    }
    ExpectKept("O1", oldIds[3], testing::CorrId("O1"));
    if (all == kYesToAll) {
      EXPECT_TRUE(Only("Fresh"));
    } else {
      EXPECT_THAT(IdsOf(testing::CorrId("F")), IsEmpty());
      for (const auto& name : Names()) EXPECT_NE(name, "Fresh");
    }

    // The next mail has its own answers.
    asked_.clear();
    Answer(kNo);
    Reader(Record("N1", testing::CorrId("N1"), last.AddSeconds(120).ToText()), last)->ImportContacts();
    EXPECT_THAT(Asked(), ElementsAre(NewerQuestion("N1")));
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

// A CorrID new to the folder makes a new unread contact without a question,
// mapped and listed.
TEST_F(ImportContactsTest, NewCorrIdCreatesAMappedListedUnreadContact) {
  auto& m = Receiver();
  const auto last = Clock().Now();
  const std::string corr = testing::CorrId("NEW");
  Reader(Record("Newcomer", corr, last.AddSeconds(-3600).ToText(), "new", "hello"), last)->ImportContacts();
  auto c = Only("Newcomer");
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->UnRead());
  EXPECT_EQ(c->Body(), "hello");
  EXPECT_THAT(IdsOf(corr), ElementsAre(c->EntryID()));
  EXPECT_TRUE(Listed(c->EntryID()));
  EXPECT_EQ(m.user.Problems(), "");
}

// A contact this user deleted (gone for good, or lying among the deleted
// items), or moved to another folder: the arrived contact is created anew in
// the folder, the old entry no longer names anything, and a later arrival
// replaces the new contact instead of adding another copy.
TEST_F(ImportContactsTest, DeletedOrMovedLocalContactIsCreatedAnewOnce) {
  auto& m = Receiver();
  const struct {
    const char* name;
    int deletes;       // 1: among the deleted items, 2: gone for good
    bool moveToOther;  // moved into another contacts folder instead
  } cases[] = {{"Deleted", 1, false}, {"Purged", 2, false}, {"Moved", 0, true}};
  auto other = NewFolder("Elsewhere");
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string corr = testing::CorrId("D" + std::to_string(n++));
    auto local = Local(c.name, corr);
    const std::string oldId = local->EntryID();
    {
      host::PersonScope person(*m.app);
      for (int i = 0; i < c.deletes; ++i) local->Delete();
      if (c.moveToOther) local->Move(other);
    }
    const auto last = Clock().Now().AddSeconds(3600);
    Reader(Record(c.name, corr, last.AddSeconds(60).ToText()), last)->ImportContacts();
    auto made = Only(c.name);
    ASSERT_TRUE(made);
    const std::string madeId = made->EntryID();
    EXPECT_THAT(IdsOf(corr), ElementsAre(madeId));
    EXPECT_TRUE(Listed(madeId));
    EXPECT_FALSE(Listed(oldId));

    asked_.clear();
    Answer(kYes);
    Reader(Record(c.name, corr, last.AddSeconds(120).ToText()), last)->ImportContacts();
    EXPECT_THAT(Asked(), ElementsAre(NewerQuestion(c.name)));
    auto again = Only(c.name);
    ASSERT_TRUE(again);
    EXPECT_NE(again->EntryID(), madeId);
    EXPECT_FALSE(Listed(madeId));
    EXPECT_THAT(IdsOf(corr), ElementsAre(again->EntryID()));
    EXPECT_EQ(m.user.Problems(), "");
  }
  // What was moved stays where the person put it.
  ASSERT_EQ(Contacts(other).size(), 1u);
  EXPECT_EQ(Contacts(other)[0]->FullName(), "Moved");
  EXPECT_EQ(m.ErrorLog(), "");
}

// Marker texts inside values neither cut a record short nor make contacts
// of their own.
TEST_F(ImportContactsTest, MarkerTextInsideValuesStaysInTheValue) {
  auto& m = Receiver();
  const auto last = Clock().Now();
  const std::string date = last.AddSeconds(-60).ToText();
  const std::string fakeStart = std::string(kStartOfContact) + testing::CorrId("FAKE");
  const struct {
    const char* name;
    std::string body;
  } notes[] = {
      {"EndInNote", "first line\r\n:EndOfContact:\r\nmore after the marker"},
      {"StartInNote", "see " + fakeStart + "\r\nLastModified: " + date + "\r\nContactFullName:Junk"},
      {"EndAtNoteEnd", "ends with the marker\r\n:EndOfContact:"},
  };
  std::string mail;
  for (const auto& n : notes) mail += Record(n.name, testing::CorrId(n.name), date, "new", n.body);
  mail += Record("Last", testing::CorrId("Last"), date);
  Reader(mail, last)->ImportContacts();
  EXPECT_THAT(Names(), ElementsAre("EndAtNoteEnd", "EndInNote", "Last", "StartInNote"));
  for (const auto& n : notes) {
    SCOPED_TRACE(n.name);
    auto c = Only(n.name);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Body(), n.body);
    EXPECT_EQ(JobTitle(c), "new");
  }
  EXPECT_THAT(IdsOf(testing::CorrId("FAKE")), IsEmpty());
  EXPECT_EQ(m.user.Problems(), "");
}

// A record without its end, or with a CorrID that is not 48 characters on
// its own line, is not applied and is logged; the records around it are.
TEST_F(ImportContactsTest, TruncatedRecordsAndBadCorrIdsAreSkipped) {
  auto& m = Receiver();
  const auto last = Clock().Now();
  const std::string date = last.AddSeconds(-60).ToText();
  const std::string good1 = Record("Good1", testing::CorrId("G1"), date);
  std::string shortId = Record("ShortId", "short", date);
  std::string garbageId = Record("GarbageId", testing::CorrId("X"), date);
  garbageId.replace(16, 48, std::string(48, '\x01'));
  const std::string blankId = Record("BlankId", std::string(48, ' '), date);
  const std::string good2 = Record("Good2", testing::CorrId("G2"), date);
  std::string cut = Record("Cut", testing::CorrId("C"), date);
  cut.resize(cut.size() / 2);
  Reader(good1 + shortId + garbageId + blankId + good2 + cut, last)->ImportContacts();
  EXPECT_THAT(Names(), ElementsAre("Good1", "Good2"));
  EXPECT_THAT(Mapping().size(), 2u);
  const std::string log = m.ErrorLog();
  EXPECT_THAT(log, HasSubstr("A contact record without its end was not applied"));
  EXPECT_EQ(testing::Count(log, "A contact record without a proper CorrID was not applied"), 3u);
  EXPECT_EQ(m.user.Problems(), "");
}

// A replacement that fails half-way leaves exactly one copy of the contact,
// with its identity entry naming it: the new copy is saved before the old
// one is removed, and taken back when the old one cannot be removed.
TEST_F(ImportContactsTest, FailedReplacementLeavesExactlyOneMappedCopy) {
  const struct {
    const char* name;
    const char* operation;
    std::vector<std::string> logged;
  } cases[] = {
      {"save fails", "ContactItem.Save", {"CReceiveMail_ImportContacts"}},
      {"delete fails", "ContactItem.Delete", {"Delete_Contact", "CReceiveMail_ImportContacts"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& m = Receiver(std::string("receiver-") + c.operation);
    const std::string corr = testing::CorrId("R");
    const std::string oldId = Local("Ann", corr)->EntryID();
    const auto last = Clock().Now().AddSeconds(3600);
    const std::string text = Record("Ann", corr, last.AddSeconds(60).ToText()) +
                             Record("Bob", testing::CorrId("B"), last.AddSeconds(60).ToText());
    Answer(kYes);
    for (std::size_t i = 0; i < c.logged.size(); ++i) {
      m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
    }
    m.app->Faults().FailNth(c.operation, 1);
    Reader(text, last)->ImportContacts();
    m.app->Faults().Clear();
    EXPECT_EQ(m.LoggedErrorNames(), c.logged);
    // The failure ends the mail: Bob is not applied.
    EXPECT_THAT(Names(), ElementsAre("Ann"));
    ExpectKept("Ann", oldId, corr);
    EXPECT_THAT(Mapping().size(), 1u);
    EXPECT_EQ(m.user.Problems(), "");
    // Nothing of the failed copy is left among the deleted items either.
    for (const auto& d : Contacts(m.DefaultFolder(host::kFolderDeletedItems))) EXPECT_NE(d->FullName(), "Ann");
  }
}

// Once the old copy has left the folder the new one is the only copy: a
// key-store failure while the old identity and list entries are rewritten
// is logged and keeps the new contact; the entry left naming the old copy is
// dropped by the next arrival, which replaces the contact once more.
TEST_F(ImportContactsTest, KeyStoreFailureAfterTheOldCopyLeftKeepsTheNewOne) {
  auto& m = Receiver();
  testing::ProbeKeyStore failing(*m.hive);
  const std::string corr = testing::CorrId("F");
  const std::string oldId = Local("Ann", corr)->EntryID();
  const auto last = Clock().Now().AddSeconds(3600);
  // The end of the replacement's second transaction: the one after the
  // identity entry.
  int commits = 0;
  failing.failIf = [&](std::string_view op, std::string_view) { return op == "Commit" && ++commits == 2; };
  m.addinHive = &failing;
  Answer(kYes);
  Reader(Record("Ann", corr, last.AddSeconds(60).ToText()), last)->ImportContacts();
  m.addinHive = nullptr;
  EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("SaveReplacement"));
  auto kept = Only("Ann");
  ASSERT_TRUE(kept);
  EXPECT_NE(kept->EntryID(), oldId);
  EXPECT_EQ(JobTitle(kept), "new");
  // The old entry is still there, naming a contact that left the folder.
  const std::string keptId = kept->EntryID();
  EXPECT_THAT(IdsOf(corr), ::testing::UnorderedElementsAre(oldId, keptId));

  Answer(kYes);
  Reader(Record("Ann", corr, last.AddSeconds(120).ToText()), last)->ImportContacts();
  EXPECT_EQ(Names().size(), 1u);
  auto again = Only("Ann");
  ASSERT_TRUE(again);
  EXPECT_NE(again->EntryID(), keptId);
  EXPECT_THAT(IdsOf(corr), ElementsAre(again->EntryID()));
  EXPECT_TRUE(Listed(again->EntryID()));
  EXPECT_EQ(m.user.Problems(), "");
}

// An import mail marks the folder once; a second one changes nothing.
TEST_F(ImportContactsTest, ImportMarkIsMadeOnce) {
  auto& m = Receiver();
  const std::string key = testing::ProfileKeyPath() + FolderId() + "\\Import";
  EXPECT_FALSE(m.Reg().KeyExists(key));
  Reader(":IMPORTTOTHISFOLDER:", Clock().Now())->ImportImport();
  EXPECT_TRUE(m.Reg().KeyExists(key));
  m.Reg().SetValue(key, "probe", std::string("kept"), 1);
  Reader(":IMPORTTOTHISFOLDER:", Clock().Now())->ImportImport();
  EXPECT_EQ(m.Reg().GetString(key, "probe", ""), "kept");
  EXPECT_EQ(m.ErrorLog(), "");
}

}  // namespace
}  // namespace plexisync

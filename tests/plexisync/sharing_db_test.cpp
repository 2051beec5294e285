#include "plexisync/storage/sharing_db.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>

#include "platform/datetime.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/storage/settings.hpp"
#include "storage_fixture.hpp"

namespace plexisync {
namespace {

using platform::DateTime;

class SharingDbTest : public testing::StorageTest {
 protected:
  static constexpr const char* kFolder = "00000000FOLDER";
  std::string Mapping() { return std::string(kRegKey) + kFolder + "\\mapping"; }
  std::string List() { return std::string(kRegKey) + kFolder + "\\List"; }
  std::string Recipient(const std::string& id) { return std::string(kRegKey) + kFolder + "\\" + id; }
  std::string Updateable() { return std::string(kRegKey) + "Updateable"; }
  std::string Read(const std::string& key, const std::string& name) { return reg().GetString(key, name, "<none>"); }
  // Makes the address one of the user's own, as the own-address window
  // reads them at load.
  void SetOwnAddresses(const std::vector<std::string>& addresses) {
    std::string stored;
    for (const auto& a : addresses) stored += std::string(kMyMailOpen) + a + kMyMailClose;
    reg().SetValue(kRegKey, "MyMails", stored, 1);
  }
};

TEST_F(SharingDbTest, GetCorrIdOfAContactMadeHereIsItsOwnIdAndIsWrittenOnce) {
  EXPECT_EQ(Get_CorrID(ctx(), kFolder, "LOCAL1"), "LOCAL1");
  EXPECT_EQ(Read(Mapping(), "LOCAL1"), "LOCAL1");
  const int writes = probe_->setValueCalls;
  EXPECT_EQ(Get_CorrID(ctx(), kFolder, "LOCAL1"), "LOCAL1");
  EXPECT_EQ(probe_->setValueCalls, writes);
  // The returned id loses its blanks; the entry keeps the id as given.
  EXPECT_EQ(Get_CorrID(ctx(), kFolder, " LOCAL2 "), "LOCAL2");
  EXPECT_EQ(Read(Mapping(), " LOCAL2 "), " LOCAL2 ");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SharingDbTest, GetCorrIdReturnsTheStoredIdWithoutItsBlanks) {
  struct Case {
    const char* stored;
    const char* expected;
  } cases[] = {{"CORR", "CORR"}, {"  CORR  ", "CORR"}, {"\tCORR", "\tCORR"}, {"", ""}};
  for (const auto& c : cases) {
    Set_CorrID(ctx(), kFolder, "L", c.stored);
    EXPECT_EQ(Get_CorrID(ctx(), kFolder, "L"), c.expected) << c.stored;
    EXPECT_EQ(Read(Mapping(), "L"), c.stored) << "nothing rewritten";
  }
  // A stored "0" stands for no mapping: the contact becomes its own identity.
  Set_CorrID(ctx(), kFolder, "L", "0");
  EXPECT_EQ(Get_CorrID(ctx(), kFolder, "L"), "L");
  EXPECT_EQ(Read(Mapping(), "L"), "L");
}

TEST_F(SharingDbTest, GetLocalIdGivesTheFirstListedOfSeveralMatches) {
  Set_CorrID(ctx(), kFolder, "B", "C1");
  Set_CorrID(ctx(), kFolder, "A", "C1");
  Set_CorrID(ctx(), kFolder, "C", "C2");
  EXPECT_EQ(Get_LocalID(ctx(), kFolder, "C1"), "B");
  EXPECT_EQ(Get_LocalID(ctx(), kFolder, "C2"), "C");
  EXPECT_EQ(Get_LocalID(ctx(), kFolder, "C3"), "");
  EXPECT_EQ(Get_LocalID(ctx(), kFolder, "c1"), "") << "exact comparison";
  EXPECT_EQ(Get_LocalID(ctx(), kFolder, " C1"), "");
  // Rewriting keeps an entry's place; removing and writing again moves it last.
  Set_CorrID(ctx(), kFolder, "B", "C9");
  Set_CorrID(ctx(), kFolder, "B", "C1");
  EXPECT_EQ(Get_LocalID(ctx(), kFolder, "C1"), "B");
  Remove_CorrID(ctx(), kFolder, "B");
  Set_CorrID(ctx(), kFolder, "B", "C1");
  EXPECT_EQ(Get_LocalID(ctx(), kFolder, "C1"), "A");
  // A folder without a mapping finds nothing.
  EXPECT_EQ(Get_LocalID(ctx(), "00000000OTHER", "C1"), "");
}

// The indexed lookup against the linear search it replaces, over mappings
// that hold everything a hostile mail or another writer can leave there:
// duplicates, texts that the accessor stores as expandable strings, values
// of other types, blanks, case variants, empty texts, overwrites and
// removals in random order.
TEST_F(SharingDbTest, GetLocalIdAgreesWithTheLinearSearch) {
  ::setenv("PLEXISYNC_MAP_VAR", "C3", 1);
  const std::vector<std::string> texts = {"C1",  "C2",  "C3", "c1", " C1", "C1 ", "", "0",
                                          "%PLEXISYNC_MAP_VAR%", "%x%", "C%3", "1", "-7",
                                          std::string("C3\0", 3), std::string("C2\0", 3)};
  std::mt19937 random(20260615);
  const std::string key = Mapping();
  for (int round = 0; round < 300; ++round) {
    const std::string local = "L" + std::to_string(random() % 25);
    switch (random() % 7) {
      case 0:
        Remove_CorrID(ctx(), kFolder, local);
        break;
      case 1:
        reg().SetValue(key, local, std::int32_t{static_cast<std::int32_t>(random() % 3) - 1}, 4);
        break;
      case 2:
        reg().DeleteValue(key, local);
        break;
      case 3: {
        // Raw values another writer could leave: unterminated text, two
        // NULs, an empty text without its NUL, a multi-string, bytes.
        static const std::vector<std::pair<std::uint32_t, std::string>> raw = {
            {1, "C1"}, {1, std::string("C2\0\0", 4)}, {1, ""}, {7, std::string("C1\0", 3)}, {3, "C2"},
            {1, std::string("C3\0", 3)}};
        const auto& r = raw[random() % raw.size()];
        reg().CreateKey(key);
        keys_->SetValue(key, local, r.first, std::vector<std::uint8_t>(r.second.begin(), r.second.end()));
        break;
      }
      default:
        Set_CorrID(ctx(), kFolder, local, texts[random() % texts.size()]);
    }
    for (const auto& corrId : texts) {
      ASSERT_EQ(Get_LocalID(ctx(), kFolder, corrId), Get_LocalID_Linear(ctx(), kFolder, corrId))
          << "round " << round << ", CorrID \"" << corrId << "\"";
    }
  }
  ::unsetenv("PLEXISYNC_MAP_VAR");
}

TEST_F(SharingDbTest, GetLocalIdLeavesFailuresToItsCaller) {
  ctx().Reg.reset();
  EXPECT_THROW(Get_LocalID(ctx(), kFolder, "C1"), AddinError);
}

TEST_F(SharingDbTest, RemoveCorrIdDeletesOnlyARealMapping) {
  Set_CorrID(ctx(), kFolder, "L1", "C1");
  Set_CorrID(ctx(), kFolder, "L0", "0");
  Remove_CorrID(ctx(), kFolder, "L1");
  Remove_CorrID(ctx(), kFolder, "L0");
  Remove_CorrID(ctx(), kFolder, "MISSING");
  Remove_CorrID(ctx(), "00000000NOFOLDER", "L1");
  EXPECT_EQ(Read(Mapping(), "L1"), "<none>");
  EXPECT_EQ(Read(Mapping(), "L0"), "0") << "an entry reading \"0\" counts as none";
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SharingDbTest, AddListIdReplacesTheOldIdOrJustAddsTheNewOne) {
  struct Case {
    const char* oldStored;  // nullptr: not in the list
    const char* oldAfter;
  } cases[] = {{"1", "<none>"}, {nullptr, "<none>"}, {"2", "2"}};
  for (const auto& c : cases) {
    reg().DeleteValue(List(), "OLD");
    reg().DeleteValue(List(), "NEW");
    if (c.oldStored) reg().SetValue(List(), "OLD", std::string(c.oldStored), 1);
    Add_List_ID(ctx(), "NEW", "OLD", kFolder);
    EXPECT_EQ(Read(List(), "NEW"), "1");
    EXPECT_EQ(Read(List(), "OLD"), c.oldAfter);
  }
  // No old id at all (the contact had no mapping before).
  Add_List_ID(ctx(), "NEW2", "", kFolder);
  EXPECT_EQ(Read(List(), "NEW2"), "1");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SharingDbTest, SetLastUpdatesStampsEnabledRecipientsOnly) {
  clock_.Set(DateTime::FromParts(2026, 3, 4, 10, 20, 30));
  reg().SetValue(Recipient("R1"), "Bool", std::string("1"), 1);
  reg().SetValue(Recipient("R1"), "LastUpdate", std::string("1/1/1990"), 1);
  reg().SetValue(Recipient("R2"), "Bool", std::string("0"), 1);
  reg().SetValue(Recipient("R2"), "LastUpdate", std::string("1/1/1990"), 1);
  reg().CreateKey(Recipient("R3"));  // no "Bool": disabled
  Set_CorrID(ctx(), kFolder, "L", "C");
  reg().SetValue(List(), "L", std::string("1"), 1);
  reg().CreateKey(Recipient("Import"));

  Set_LastUpdates(ctx(), kFolder);
  EXPECT_EQ(DateTime::Parse(Read(Recipient("R1"), "LastUpdate")), DateTime::FromParts(2026, 3, 4, 10, 20, 35));
  EXPECT_EQ(Read(Recipient("R2"), "LastUpdate"), "1/1/1990");
  EXPECT_EQ(Read(Recipient("R3"), "LastUpdate"), "<none>");
  for (const char* data : {"mapping", "List", "Import"}) {
    EXPECT_EQ(Read(Recipient(data), "LastUpdate"), "<none>") << data;
  }
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SharingDbTest, SetLastUpdatesWritesNothingWhenAllAreDisabled) {
  reg().SetValue(Recipient("R1"), "Bool", std::string("0"), 1);
  reg().SetValue(Recipient("R2"), "Bool", std::string("False"), 1);
  const int writes = probe_->setValueCalls;
  Set_LastUpdates(ctx(), kFolder);
  Set_LastUpdates(ctx(), "00000000NOFOLDER");
  EXPECT_EQ(probe_->setValueCalls, writes);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SharingDbTest, SetLastUpdatesSkipsAFlagThatIsNoBooleanAndStampsTheOthers) {
  clock_.Set(DateTime::FromParts(2026, 3, 4, 10, 20, 30));
  reg().SetValue(Recipient("R1"), "Bool", std::string("yes"), 1);
  reg().SetValue(Recipient("R2"), "Bool", std::string("1"), 1);
  Set_LastUpdates(ctx(), kFolder);
  EXPECT_EQ(LoggedNames(), std::vector<std::string>{"Set_LastUpdates"});
  EXPECT_EQ(Read(Recipient("R1"), "LastUpdate"), "<none>");
  EXPECT_EQ(DateTime::Parse(Read(Recipient("R2"), "LastUpdate")), DateTime::FromParts(2026, 3, 4, 10, 20, 35));
}

TEST_F(SharingDbTest, UpdateEntryRecordsANewEnabledRecipient) {
  Update_Entry(ctx(), kFolder, "R1", "Bob Brown", true, "bob@example.org");
  EXPECT_EQ(reg().GetAllValueNames(Recipient("R1")),
            (std::vector<std::string>{"Bool", "Name", "eMail", "LastUpdate"}));
  EXPECT_EQ(Read(Recipient("R1"), "Bool"), "1");
  EXPECT_EQ(Read(Recipient("R1"), "Name"), "Bob Brown");
  EXPECT_EQ(Read(Recipient("R1"), "eMail"), "bob@example.org");
  EXPECT_EQ(Read(Recipient("R1"), "LastUpdate"), "1/1/1990");
  EXPECT_EQ(DateTime::Parse(Read(Recipient("R1"), "LastUpdate")), DateTime::FromParts(1990, 1, 1));
  EXPECT_EQ(Read(Updateable(), kFolder), "1");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SharingDbTest, UpdateEntryChangesOnlyTheFlagOfAKnownRecipient) {
  Update_Entry(ctx(), kFolder, "R1", "Bob Brown", true, "bob@example.org");
  reg().SetValue(Recipient("R1"), "LastUpdate", std::string("5/6/2026 7:08:09 AM"), 1);
  reg().SetValue(Updateable(), kFolder, std::string("2"), 1);

  Update_Entry(ctx(), kFolder, "R1", "Robert Brown", false, "robert@example.org");
  EXPECT_EQ(Read(Recipient("R1"), "Bool"), "0");
  EXPECT_EQ(Read(Updateable(), kFolder), "2") << "disabling leaves Updateable alone";

  Update_Entry(ctx(), kFolder, "R1", "Robert Brown", true, "robert@example.org");
  EXPECT_EQ(Read(Recipient("R1"), "Bool"), "1");
  EXPECT_EQ(Read(Recipient("R1"), "Name"), "Bob Brown");
  EXPECT_EQ(Read(Recipient("R1"), "eMail"), "bob@example.org");
  EXPECT_EQ(Read(Recipient("R1"), "LastUpdate"), "5/6/2026 7:08:09 AM");
  EXPECT_EQ(Read(Updateable(), kFolder), "1");
}

TEST_F(SharingDbTest, UpdateEntryDisabledForAnUnknownRecipientOnlyMakesTheFolderKey) {
  Update_Entry(ctx(), kFolder, "R1", "Bob Brown", false, "bob@example.org");
  EXPECT_TRUE(reg().KeyExists(std::string(kRegKey) + kFolder));
  EXPECT_FALSE(reg().KeyExists(Recipient("R1")));
  EXPECT_EQ(Read(Updateable(), kFolder), "<none>");
}

TEST_F(SharingDbTest, UpdateEntryIgnoresTheUsersOwnAddresses) {
  SetOwnAddresses({"me@example.org", "alice@example.org"});
  for (bool enabled : {true, false}) {
    Update_Entry(ctx(), kFolder, "R1", "Alice Adams", enabled, "alice@example.org");
  }
  EXPECT_FALSE(reg().KeyExists(std::string(kRegKey) + kFolder));
  EXPECT_EQ(Read(Updateable(), kFolder), "<none>");
  // The comparison is exact: another spelling is somebody else.
  Update_Entry(ctx(), kFolder, "R2", "Alice", true, "Alice@example.org");
  EXPECT_EQ(Read(Recipient("R2"), "eMail"), "Alice@example.org");
}

// Routines that own an error name log a failure under it and go on with
// their default; Set_CorrID passes every failure over.
TEST_F(SharingDbTest, FailuresAreLoggedUnderEachRoutinesName) {
  ctx().Reg.reset();
  Set_CorrID(ctx(), kFolder, "L", "C");
  EXPECT_TRUE(LogLines().empty());

  struct Case {
    const char* errName;
    std::function<void()> call;
  } cases[] = {
      {"Get_CorrID", [&] { EXPECT_EQ(Get_CorrID(ctx(), kFolder, "L"), ""); }},
      {"Remove_CorrID", [&] { Remove_CorrID(ctx(), kFolder, "L"); }},
      {"Add_List_ID", [&] { Add_List_ID(ctx(), "N", "O", kFolder); }},
      {"Set_LastUpdates", [&] { Set_LastUpdates(ctx(), kFolder); }},
      {"Update_Entry", [&] { Update_Entry(ctx(), kFolder, "R", "N", true, "x@example.org"); }},
  };
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    c.call();
    expected.push_back(c.errName);
    EXPECT_EQ(LoggedNames(), expected);
  }
}

// A failure part-way leaves what was written before it.
TEST_F(SharingDbTest, UpdateEntryStoppedByAFailureKeepsWhatItWrote) {
  probe_->failIf = [](std::string_view op, std::string_view path) {
    return op == "SetValue" && path.find("Updateable") != std::string_view::npos;
  };
  Update_Entry(ctx(), kFolder, "R1", "Bob", true, "bob@example.org");
  EXPECT_EQ(LoggedNames(), std::vector<std::string>{"Update_Entry"});
  EXPECT_EQ(Read(Recipient("R1"), "LastUpdate"), "1/1/1990");
}

}  // namespace
}  // namespace plexisync

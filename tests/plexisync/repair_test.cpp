#include "plexisync/storage/repair.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "storage_fixture.hpp"

namespace plexisync {
namespace {

class RepairTest : public testing::StorageTest {
 protected:
  std::string Key(const std::string& below) { return std::string(kRegKey) + below; }
  std::string Updateable() { return Key("Updateable"); }

  // A shared folder's full entry: updateable, one recipient per id given,
  // a mapping and a list for each local id, and a pending import.
  void Share(const std::string& folderId, const std::vector<std::string>& recipients,
             const std::vector<std::string>& localIds) {
    reg().SetValue(Updateable(), folderId, std::string("1"), 1);
    for (const auto& r : recipients) {
      reg().SetValue(Key(folderId + "\\" + r), "Bool", std::string("1"), 1);
      reg().SetValue(Key(folderId + "\\" + r), "LastUpdate", std::string("1/1/1990"), 1);
    }
    for (const auto& l : localIds) {
      Set_CorrID(ctx(), folderId, l, "CORR-" + l);
      reg().SetValue(Key(folderId + "\\List"), l, std::string("1"), 1);
    }
    reg().CreateKey(Key(folderId + "\\Import"));
  }
  // An entry id that named something once and no longer does.
  std::string VanishedContactId() {
    auto c = NewContact(Contacts(), "Gone");
    const std::string id = c->EntryID();
    c->Delete();
    c->Delete();
    return id;
  }
  std::string VanishedFolderId() {
    auto f = Contacts()->Folders()->Add("Gone " + std::to_string(++made_), host::kFolderTypeContacts);
    const std::string id = f->EntryID();
    f->Delete();
    f->Delete();
    return id;
  }
  int made_ = 0;
};

TEST_F(RepairTest, ADeletedSharedFolderGoesWhole) {
  const std::string gone = VanishedFolderId();
  auto kept = Contacts()->Folders()->Add("Team", host::kFolderTypeContacts);
  const std::string bob = NewContact(Contacts(), "Bob")->EntryID();
  const std::string local = NewContact(kept, "Carol")->EntryID();
  Share(gone, {bob}, {"L1", "L2"});
  Share(kept->EntryID(), {bob}, {local});
  reg().SetValue(kRegKey, "version", std::string("0.09.0000"), 1);
  reg().SetValue(kRegKey, "Send_Updated", std::string("0"), 1);

  EXPECT_TRUE(Repair_Database(ctx()));
  EXPECT_EQ(reg().GetAllValueNames(Updateable()), std::vector<std::string>{kept->EntryID()});
  EXPECT_FALSE(reg().KeyExists(Key(gone)));
  EXPECT_TRUE(reg().KeyExists(Key(kept->EntryID() + "\\" + bob)));
  EXPECT_EQ(reg().GetString(Key(kept->EntryID() + "\\mapping"), local, ""), "CORR-" + local);
  EXPECT_EQ(reg().GetString(kRegKey, "version", ""), "0.09.0000");
  EXPECT_EQ(reg().GetString(kRegKey, "Send_Updated", ""), "0");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(RepairTest, AFolderNowHoldingMailLosesItsUpdateableFlagOnly) {
  auto mailFolder = TopFolder()->Folders()->Add("Projects", host::kFolderTypeMail);
  const std::string bob = NewContact(Contacts(), "Bob")->EntryID();
  Share(mailFolder->EntryID(), {bob}, {});
  EXPECT_TRUE(Repair_Database(ctx()));
  EXPECT_EQ(reg().GetString(Updateable(), mailFolder->EntryID(), "<none>"), "<none>");
  EXPECT_TRUE(reg().KeyExists(Key(mailFolder->EntryID() + "\\" + bob)));
  EXPECT_TRUE(reg().KeyExists(Key(mailFolder->EntryID() + "\\Import")));
}

TEST_F(RepairTest, ARecipientWhoseContactWasDeletedGoes) {
  auto team = Contacts()->Folders()->Add("Team", host::kFolderTypeContacts);
  const std::string bob = NewContact(Contacts(), "Bob")->EntryID();
  const std::string gone = VanishedContactId();
  const std::string local = NewContact(team, "Carol")->EntryID();
  Share(team->EntryID(), {bob, gone}, {local});
  EXPECT_TRUE(Repair_Database(ctx()));
  const std::string folderKey = Key(team->EntryID());
  std::vector<std::string> left = reg().GetAllSubKeys(folderKey);
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected = {bob, "Import", "List", "mapping"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_EQ(reg().GetString(folderKey + "\\List", local, ""), "1");
}

TEST_F(RepairTest, MappingEntriesOfVanishedContactsGo) {
  auto team = Contacts()->Folders()->Add("Team", host::kFolderTypeContacts);
  const std::string kept = NewContact(team, "Carol")->EntryID();
  const std::string gone = VanishedContactId();
  // The repair looks items up anywhere: a contact in Deleted Items stays mapped.
  auto binned = NewContact(team, "Dave");
  binned->Delete();
  Share(team->EntryID(), {}, {gone, kept, "NOT-AN-ENTRY-ID", binned->EntryID()});
  EXPECT_TRUE(Repair_Database(ctx()));
  EXPECT_EQ(reg().GetAllValueNames(Key(team->EntryID() + "\\mapping")),
            (std::vector<std::string>{kept, binned->EntryID()}));
  // "List" is left as it was.
  EXPECT_EQ(reg().GetAllValueNames(Key(team->EntryID() + "\\List")).size(), 4u);
}

TEST_F(RepairTest, AnOldLayoutsMappingKeyAndTheUpdateableKeyArePassedOver) {
  reg().SetValue(Key("mapping"), "X", std::string("Y"), 1);
  reg().SetValue(Updateable(), Contacts()->EntryID(), std::string("1"), 1);
  EXPECT_TRUE(Repair_Database(ctx()));
  EXPECT_EQ(reg().GetString(Key("mapping"), "X", ""), "Y");
  EXPECT_EQ(reg().GetString(Updateable(), Contacts()->EntryID(), ""), "1");
}

TEST_F(RepairTest, AnEmptyDatabaseIsRepairedSuccessfully) {
  EXPECT_TRUE(Repair_Database(ctx()));  // not even the profile key
  reg().CreateKey(kRegKey);
  EXPECT_TRUE(Repair_Database(ctx()));
  EXPECT_TRUE(LogLines().empty());
}

// An unexpected key below a vanished folder's recipient cannot be removed
// one level deep; the repair leaves it and goes on.
TEST_F(RepairTest, KeysTooDeepToRemoveStayWithoutFailingTheRepair) {
  const std::string gone = VanishedFolderId();
  reg().CreateKey(Key(gone + "\\R1\\deeper"));
  EXPECT_TRUE(Repair_Database(ctx()));
  EXPECT_TRUE(reg().KeyExists(Key(gone + "\\R1\\deeper")));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(RepairTest, ProgressCountsEachEntryAndYieldsAfterIt) {
  // Three vanished folders, each both updateable and keyed: three entries
  // in each phase, and each entry touches the registry.
  for (int i = 0; i < 3; ++i) Share(VanishedFolderId(), {"R"}, {"L"});
  auto& bar = ctx().Progress().TheBar();
  bar.SetVisible(false);  // left hidden by an earlier task without a count
  std::vector<int> seen;
  bool pending = false;
  // Whenever the repair touches the registry, a client event is queued; it
  // notes the bar's position when the message loop delivers it.
  probe_->failIf = [&](std::string_view, std::string_view) {
    if (!pending) {
      pending = true;
      app_->PostEvent([&] {
        pending = false;
        seen.push_back(bar.Value());
      });
    }
    return false;
  };
  EXPECT_TRUE(Repair_Database(ctx()));
  probe_->failIf = nullptr;
  // The second phase walks four keys, the folders and "Updateable"; the
  // last touches nothing, so it queues no event of its own.
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 1, 2, 3}));
  EXPECT_EQ(bar.Max(), 4);
  EXPECT_EQ(bar.Value(), 4);
  EXPECT_EQ(ctx().Progress().Message().Caption(), "Updating database...");
  EXPECT_TRUE(bar.Visible());
  EXPECT_FALSE(ctx().Progress().IsVisible());
  app_->DoEvents();
}

TEST_F(RepairTest, AFailureIsLoggedWithItsStepAndEndsTheRepair) {
  auto team = Contacts()->Folders()->Add("Team", host::kFolderTypeContacts);
  const std::string goneFolder = VanishedFolderId();
  const std::string gone = VanishedContactId();
  Share(goneFolder, {}, {});
  Share(team->EntryID(), {gone}, {VanishedContactId()});
  probe_->failIf = [&](std::string_view op, std::string_view path) {
    return op == "DeleteKey" && path.find(gone) != std::string_view::npos;
  };
  EXPECT_FALSE(Repair_Database(ctx()));
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" Error in AdvSet_RepairClick CRegistry component failure Step 12"), std::string::npos)
      << lines[0];
  // What was removed before stays removed; the rest stays.
  EXPECT_EQ(reg().GetString(Updateable(), goneFolder, "<none>"), "<none>");
  EXPECT_TRUE(reg().KeyExists(Key(team->EntryID() + "\\" + gone)));
  EXPECT_EQ(reg().GetAllValueNames(Key(team->EntryID() + "\\mapping")).size(), 1u);
  EXPECT_FALSE(ctx().Progress().IsVisible());
}

TEST_F(RepairTest, FailuresBeforeTheFirstStepAreLoggedAsStepZero) {
  ctx().Reg.reset();
  EXPECT_FALSE(Repair_Database(ctx()));
  EXPECT_EQ(LoggedNames(), std::vector<std::string>{"AdvSet_RepairClick"});
  EXPECT_NE(LogLines()[0].find(" Step 0"), std::string::npos);
}

// Without the client nothing can be looked up; nothing is taken for gone.
TEST_F(RepairTest, WithoutTheClientTheRepairFailsAndRemovesNothing) {
  Share(Contacts()->EntryID(), {"R"}, {"L"});
  ctx().App = nullptr;
  EXPECT_FALSE(Repair_Database(ctx()));
  EXPECT_EQ(LoggedNames(), std::vector<std::string>{"AdvSet_RepairClick"});
  EXPECT_EQ(reg().GetString(Updateable(), Contacts()->EntryID(), ""), "1");
  EXPECT_TRUE(reg().KeyExists(Key(Contacts()->EntryID() + "\\R")));
}

TEST_F(RepairTest, DeleteSubKeysRemovesTheDirectSubkeys) {
  reg().CreateKey(Key("F\\A"));
  reg().CreateKey(Key("F\\B\\C"));
  reg().SetValue(Key("F"), "v", std::string("1"), 1);
  Delete_SubKeys(ctx(), Key("F\\"));
  EXPECT_EQ(reg().GetAllSubKeys(Key("F")), std::vector<std::string>{"B"});
  EXPECT_EQ(reg().GetString(Key("F"), "v", ""), "1");
  Delete_SubKeys(ctx(), Key("Missing\\"));
}

TEST_F(RepairTest, TheOptionsWindowIsHiddenDuringTheRepairAndShownAfter) {
  auto& options = ctx().Form<AdvSettings>();
  options.Show(false);
  reg().CreateKey(Key("Folder"));
  bool hiddenThroughout = true;
  probe_->failIf = [&](std::string_view, std::string_view) {
    hiddenThroughout = hiddenThroughout && options.IsVisible() == false;
    return false;
  };
  EXPECT_TRUE(Repair_Database(ctx()));
  probe_->failIf = nullptr;
  EXPECT_TRUE(hiddenThroughout);
  EXPECT_TRUE(options.IsVisible());
  // After a failure too.
  ctx().Reg.reset();
  EXPECT_FALSE(Repair_Database(ctx()));
  EXPECT_TRUE(options.IsVisible());
}

TEST_F(RepairTest, TheRepairButtonReportsSuccess) {
  user_.ExpectMessage("Update successful!");
  ctx().Form<AdvSettings>().Repair_Click();
}

}  // namespace
}  // namespace plexisync

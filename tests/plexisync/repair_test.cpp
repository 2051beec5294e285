#include "plexisync/storage/repair.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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

// The repair's premise: the client's look-up answers "not found" only for
// what does not exist, and fails otherwise when the object is out of reach.
TEST_F(RepairTest, LookupsTellGoneFromOutOfReach) {
  ns_->AddStore((dir_ / "other.pst").string());
  auto otherRoot = ns_->Folders()->GetLast();
  const std::string inClosedStore = otherRoot->Folders()->Add("Team", host::kFolderTypeContacts)->EntryID();
  const std::string contactInClosedStore = NewContact(Child(otherRoot, "Team"), "Carol")->EntryID();
  ns_->RemoveStore(otherRoot);
  const std::string goneFolder = VanishedFolderId();
  const std::string goneContact = VanishedContactId();
  const std::string contact = NewContact(Contacts(), "Bob")->EntryID();

  enum Answer { kFound, kNotFound, kOtherFailure };
  struct Case {
    const char* name;
    bool folder;
    std::string id;
    const char* fault;  // an injected failure of the look-up, or nullptr
    Answer answer;
  } cases[] = {
      {"existing folder", true, Contacts()->EntryID(), nullptr, kFound},
      {"existing contact", false, contact, nullptr, kFound},
      {"deleted folder", true, goneFolder, nullptr, kNotFound},
      {"deleted contact", false, goneContact, nullptr, kNotFound},
      {"no entry id", true, "NOT-AN-ENTRY-ID", nullptr, kNotFound},
      {"no entry id (item)", false, "NOT-AN-ENTRY-ID", nullptr, kNotFound},
      {"a contact id as folder", true, contact, nullptr, kNotFound},
      {"folder of a closed store", true, inClosedStore, nullptr, kOtherFailure},
      {"contact of a closed store", false, contactInClosedStore, nullptr, kOtherFailure},
      {"refused folder look-up", true, Contacts()->EntryID(), "NameSpace.GetFolderFromID", kOtherFailure},
      {"refused item look-up", false, contact, "NameSpace.GetItemFromID", kOtherFailure},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fault) app_->Faults().FailEvery(c.fault);
    Answer got = kFound;
    try {
      if (c.folder) {
        ns_->GetFolderFromID(c.id);
      } else {
        ns_->GetItemFromID(c.id);
      }
    } catch (const host::NotFoundError&) {
      got = kNotFound;
    } catch (const host::HostError&) {
      got = kOtherFailure;
    }
    app_->Faults().Clear();
    EXPECT_EQ(got, c.answer);
  }
}

// A shared folder in a personal folders file that is not open is out of
// reach, not gone: its entries stay (and are logged); a folder that is
// really gone still goes. Once the file is open again, nothing is kept back.
TEST_F(RepairTest, AFolderInAClosedStoreIsKeptNotForgotten) {
  const std::string pst = (dir_ / "shared.pst").string();
  ns_->AddStore(pst);
  auto root = ns_->Folders()->GetLast();
  auto team = root->Folders()->Add("Team", host::kFolderTypeContacts);
  const std::string teamId = team->EntryID();
  const std::string local = NewContact(team, "Carol")->EntryID();
  const std::string bob = NewContact(Contacts(), "Bob")->EntryID();
  const std::string goneRecipient = VanishedContactId();
  const std::string goneFolder = VanishedFolderId();
  Share(teamId, {bob, goneRecipient}, {local});
  Share(goneFolder, {bob}, {"L1"});
  ns_->RemoveStore(root);

  std::size_t kept = 99;
  EXPECT_TRUE(Repair_Database(ctx(), &kept));
  EXPECT_EQ(kept, 1u);
  EXPECT_EQ(reg().GetAllValueNames(Updateable()), std::vector<std::string>{teamId});
  EXPECT_FALSE(reg().KeyExists(Key(goneFolder)));
  // Kept whole, its recipients and contacts unchecked.
  EXPECT_TRUE(reg().KeyExists(Key(teamId + "\\" + bob)));
  EXPECT_TRUE(reg().KeyExists(Key(teamId + "\\" + goneRecipient)));
  EXPECT_EQ(reg().GetString(Key(teamId + "\\mapping"), local, ""), "CORR-" + local);
  EXPECT_TRUE(reg().KeyExists(Key(teamId + "\\Import")));
  // One record per look-up that failed (the folder in both phases), naming
  // the entry; no report question.
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(std::string(" Error in AdvSet_RepairClick ") + host::kStoreNotOpenMessage +
                          " (folder " + teamId + " kept) Step 0"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("(folder " + teamId + " kept) Step 10"), std::string::npos) << lines[1];

  // Open again: now checked, and only what is really gone goes.
  ns_->AddStore(pst);
  EXPECT_TRUE(Repair_Database(ctx(), &kept));
  EXPECT_EQ(kept, 0u);
  EXPECT_EQ(reg().GetAllValueNames(Updateable()), std::vector<std::string>{teamId});
  EXPECT_TRUE(reg().KeyExists(Key(teamId + "\\" + bob)));
  EXPECT_FALSE(reg().KeyExists(Key(teamId + "\\" + goneRecipient)));
  EXPECT_EQ(reg().GetString(Key(teamId + "\\mapping"), local, ""), "CORR-" + local);
  EXPECT_EQ(LogLines().size(), 2u);
}

// Look-ups the client refuses: nothing they cover is removed, each entry is
// logged once per look-up, and the count names the distinct entries kept.
TEST_F(RepairTest, EntriesWhoseLookUpFailsAreKept) {
  struct Case {
    const char* fault;
    std::size_t kept;
    std::size_t records;
  } cases[] = {
      // The folder (in both phases): its contents go unchecked.
      {"NameSpace.GetFolderFromID", 1, 2},
      // Both recipients and both mapped contacts.
      {"NameSpace.GetItemFromID", 4, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    std::filesystem::remove(ctx().InstDir + "errors.log");
    auto team = Contacts()->Folders()->Add(std::string("Team ") + c.fault, host::kFolderTypeContacts);
    const std::string teamId = team->EntryID();
    const std::string bob = NewContact(Contacts(), "Bob")->EntryID();
    const std::string goneRecipient = VanishedContactId();
    const std::string local = NewContact(team, "Carol")->EntryID();
    const std::string goneLocal = VanishedContactId();
    Share(teamId, {bob, goneRecipient}, {local, goneLocal});

    app_->Faults().FailEvery(c.fault);
    std::size_t kept = 0;
    EXPECT_TRUE(Repair_Database(ctx(), &kept));
    app_->Faults().Clear();
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(LoggedNames(), std::vector<std::string>(c.records, "AdvSet_RepairClick"));
    EXPECT_EQ(reg().GetString(Updateable(), teamId, ""), "1");
    EXPECT_TRUE(reg().KeyExists(Key(teamId + "\\" + goneRecipient)));
    EXPECT_EQ(reg().GetAllValueNames(Key(teamId + "\\mapping")).size(), 2u);

    // With the client answering again, the vanished ones go.
    EXPECT_TRUE(Repair_Database(ctx(), &kept));
    EXPECT_EQ(kept, 0u);
    EXPECT_FALSE(reg().KeyExists(Key(teamId + "\\" + goneRecipient)));
    EXPECT_TRUE(reg().KeyExists(Key(teamId + "\\" + bob)));
    EXPECT_EQ(reg().GetAllValueNames(Key(teamId + "\\mapping")), std::vector<std::string>{local});
    // The next case starts without this folder's entries.
    reg().DeleteValue(Updateable(), teamId);
    Delete_SubKeys(ctx(), Key(teamId + "\\"));
    reg().DeleteKey(Key(teamId));
  }
}

// After a repair that kept entries it could not check, the person is told
// so instead of "Update successful!".
TEST_F(RepairTest, TheRepairButtonTellsOfEntriesItCouldNotCheck) {
  ns_->AddStore((dir_ / "shared.pst").string());
  auto root = ns_->Folders()->GetLast();
  Share(root->Folders()->Add("Team", host::kFolderTypeContacts)->EntryID(), {}, {});
  ns_->RemoveStore(root);
  user_.ExpectMessage(RepairKeptMessage(1), platform::MsgBoxResult::Ok);
  ctx().Form<AdvSettings>().Repair_Click();
  ASSERT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
  const auto& transcript = user_.Transcript();
  EXPECT_TRUE(std::none_of(transcript.begin(), transcript.end(),
                           [](const std::string& e) { return e.find("Update successful!") != std::string::npos; }));
  const auto shown = std::find_if(transcript.begin(), transcript.end(), [](const std::string& e) {
    return e.rfind("Message ", 0) == 0 && e.find("could not be checked") != std::string::npos;
  });
  ASSERT_NE(shown, transcript.end());
  EXPECT_EQ(shown->rfind("Message \"Plexisync\" (exclamation) [OK]:", 0), 0u) << *shown;

  EXPECT_NE(RepairKeptMessage(1).find("1 entry could not be checked"), std::string::npos);
  EXPECT_NE(RepairKeptMessage(1).find("It was kept"), std::string::npos);
  EXPECT_NE(RepairKeptMessage(3).find("3 entries could not be checked"), std::string::npos);
  EXPECT_NE(RepairKeptMessage(3).find("They were kept"), std::string::npos);
}

}  // namespace
}  // namespace plexisync

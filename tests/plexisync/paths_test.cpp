#include "plexisync/storage/paths.hpp"

#include <gtest/gtest.h>

#include "plexisync/core/errors.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "storage_fixture.hpp"

namespace plexisync {
namespace {

using platform::DateTime;

class PathsTest : public testing::StorageTest {
 protected:
  // Folder by names below the default store's top folder, made when missing.
  std::shared_ptr<host::Folder> MakeFolders(std::vector<std::string> names) {
    auto folder = TopFolder();
    for (const auto& n : names) {
      auto next = Child(folder, n);
      folder = next ? next : folder->Folders()->Add(n, host::kFolderTypeContacts);
    }
    return folder;
  }
  std::string Mapping(const std::string& folderId) { return std::string(kRegKey) + folderId + "\\mapping"; }
};

TEST_F(PathsTest, GetPathNamesTheFoldersFromTheStoresTopFolder) {
  EXPECT_EQ(Get_Path(ctx(), TopFolder()), "Personal Folders$/$:EndOfPath:");
  EXPECT_EQ(Get_Path(ctx(), Contacts()), "Personal Folders$/$Contacts$/$:EndOfPath:");
  EXPECT_EQ(Get_Path(ctx(), MakeFolders({"Contacts", "Friends", "Close"})),
            "Personal Folders$/$Contacts$/$Friends$/$Close$/$:EndOfPath:");
  // Names are taken as they are: a folder named like the session does not
  // end the walk, and a separator inside a name is not escaped.
  EXPECT_EQ(Get_Path(ctx(), MakeFolders({"Mapi", "A$/$B"})), "Personal Folders$/$Mapi$/$A$/$B$/$:EndOfPath:");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(PathsTest, GetPathTrimsTheBlanksAtTheEndsOfThePathOnly) {
  TopFolder()->SetName("  Mailbox ");
  auto folder = MakeFolders({" Team  ", "Inner "});
  EXPECT_EQ(Get_Path(ctx(), folder), "Mailbox $/$ Team  $/$Inner$/$:EndOfPath:");
}

TEST_F(PathsTest, GetPathOfAnOtherStoresFolder) {
  ns_->AddStore((dir_ / "archive.pst").string());
  auto archive = ns_->Folders()->Item(2);
  archive->SetName("Archive");
  auto old = archive->Folders()->Add("Old", host::kFolderTypeContacts);
  EXPECT_EQ(Get_Path(ctx(), old), "Archive$/$Old$/$:EndOfPath:");
}

TEST_F(PathsTest, GetPathFailureIsLoggedAndGivesNothing) {
  EXPECT_EQ(Get_Path(ctx(), nullptr), "");
  auto folder = MakeFolders({"Gone"});
  folder->Delete();
  folder->Delete();  // from Deleted Items: removed for good
  EXPECT_EQ(Get_Path(ctx(), folder), "");
  EXPECT_EQ(LoggedNames(), (std::vector<std::string>{"Get_Path", "Get_Path"}));
}

TEST_F(PathsTest, ExtractPathTakesTheTextBeforeTheFirstMarker) {
  struct Case {
    const char* text;
    const char* path;
  } cases[] = {
      {"A$/$B$/$:EndOfPath:", "A$/$B$/$"},
      {"A$/$B$/$:EndOfPath:\r\n:StartOfRec:rest", "A$/$B$/$"},
      {"  A$/$  :EndOfPath:", "  A$/$"},
      {"A$/$:EndOfPath:B$/$:EndOfPath:", "A$/$"},
      {":EndOfPath:", ""},
      {"A:endofpath:B:EndOfPath:", "A:endofpath:B"},
  };
  for (const auto& c : cases) EXPECT_EQ(Extract_Path(ctx(), c.text), c.path) << c.text;
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(PathsTest, ExtractPathWithoutAMarkerLogsOnceAndGivesNothing) {
  const std::string text = "A$/$B$/$:EndOfPat";
  EXPECT_EQ(Extract_Path(ctx(), text), "");
  EXPECT_EQ(LoggedNames(), std::vector<std::string>{"Extract_Path"});
  EXPECT_EQ(text, "A$/$B$/$:EndOfPat");
}

TEST_F(PathsTest, ExtractFolderTakesTheFirstName) {
  struct Case {
    const char* path;
    const char* name;
    const char* rest;
  } cases[] = {
      {"A$/$B$/$", "A", "B$/$"}, {"B$/$", "B", ""},       {"C", "C", ""},
      {"", "", ""},              {"$/$X$/$", "", "X$/$"}, {"A$/$$/$B", "A", "$/$B"},
      {"A $/$ B", "A ", " B"},   {"A$/", "A$/", ""},
  };
  for (const auto& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(Extract_Folder(ctx(), path), c.name) << c.path;
    EXPECT_EQ(path, c.rest) << c.path;
  }
}

TEST_F(PathsTest, SetFolderOfTheEmptyPathIsTheDefaultContactsFolder) {
  for (const char* path : {"", "$/$"}) {
    for (bool create : {false, true}) {
      bool found = false;
      auto folder = Set_Folder(ctx(), path, create, found);
      ASSERT_TRUE(folder) << path;
      EXPECT_TRUE(folder->IsSameAs(*Contacts())) << path;
      EXPECT_TRUE(found) << path;
    }
  }
}

TEST_F(PathsTest, SetFolderFindsExistingFoldersByExactName) {
  auto team = MakeFolders({"Contacts", "Team"});
  struct Case {
    const char* path;
    bool found;
  } cases[] = {
      {"Personal Folders$/$Contacts$/$Team$/$", true},
      {"Personal Folders$/$Contacts$/$Team", true},
      {"Personal Folders$/$Contacts$/$team$/$", false},
      {"Personal Folders$/$Contacts$/$Team$/$Sub$/$", false},
  };
  for (const auto& c : cases) {
    bool found = !c.found;
    auto folder = Set_Folder(ctx(), c.path, false, found);
    EXPECT_EQ(found, c.found) << c.path;
    EXPECT_EQ(folder != nullptr, c.found) << c.path;
    if (folder) {
      EXPECT_TRUE(folder->IsSameAs(*team)) << c.path;
    }
  }
  EXPECT_EQ(team->Folders()->Count(), 0) << "nothing created without create";
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(PathsTest, SetFolderCreatesMissingLevelsAsContactsFolders) {
  bool found = false;
  auto folder = Set_Folder(ctx(), "Personal Folders$/$Contacts$/$Team$/$Sales$/$", true, found);
  ASSERT_TRUE(folder);
  EXPECT_TRUE(found);
  auto team = Child(Contacts(), "Team");
  ASSERT_TRUE(team);
  auto sales = Child(team, "Sales");
  ASSERT_TRUE(sales);
  EXPECT_TRUE(folder->IsSameAs(*sales));
  EXPECT_EQ(team->DefaultItemType(), host::kContactItem);
  EXPECT_EQ(sales->DefaultItemType(), host::kContactItem);
  // Walking it again finds the same folders and makes no more.
  auto again = Set_Folder(ctx(), "Personal Folders$/$Contacts$/$Team$/$Sales$/$", true, found);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->IsSameAs(*sales));
  EXPECT_EQ(Contacts()->Folders()->Count(), 1);
}

TEST_F(PathsTest, SetFolderWithoutCreateReportsAMissingLevelAndMakesNothing) {
  bool found = true;
  EXPECT_EQ(Set_Folder(ctx(), "Personal Folders$/$Contacts$/$Team$/$Sales$/$", false, found), nullptr);
  EXPECT_FALSE(found);
  EXPECT_EQ(Child(Contacts(), "Team"), nullptr);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(PathsTest, SetFolderOfAnUnknownStoreContinuesInTheDefaultStore) {
  TopFolder()->SetName("Mailbox - Bob");
  bool found = false;
  auto folder = Set_Folder(ctx(), "Personal Folders$/$Contacts$/$Team$/$", true, found);
  ASSERT_TRUE(folder);
  EXPECT_TRUE(found);
  auto team = Child(Contacts(), "Team");
  ASSERT_TRUE(team);
  EXPECT_TRUE(folder->IsSameAs(*team));
  EXPECT_EQ(Get_Path(ctx(), folder), "Mailbox - Bob$/$Contacts$/$Team$/$:EndOfPath:");
}

TEST_F(PathsTest, SetFolderWalksTheStoreNamedFirst) {
  ns_->AddStore((dir_ / "archive.pst").string());
  ns_->Folders()->Item(2)->SetName("Archive");
  bool found = false;
  auto folder = Set_Folder(ctx(), "Archive$/$Old$/$", true, found);
  ASSERT_TRUE(folder);
  EXPECT_EQ(Get_Path(ctx(), folder), "Archive$/$Old$/$:EndOfPath:");
  EXPECT_EQ(Child(TopFolder(), "Old"), nullptr);
}

TEST_F(PathsTest, SetFolderFailureIsLoggedAndLeavesFoundAsItWas) {
  // The client refuses a second folder whose name differs only in case.
  MakeFolders({"Contacts", "team"});
  for (bool before : {false, true}) {
    bool found = before;
    EXPECT_EQ(Set_Folder(ctx(), "Personal Folders$/$Contacts$/$Team$/$", true, found), nullptr);
    EXPECT_EQ(found, before);
  }
  // A hostile path with an empty name in it.
  bool found = false;
  EXPECT_EQ(Set_Folder(ctx(), "Personal Folders$/$Contacts$/$$/$X$/$", true, found), nullptr);
  EXPECT_EQ(LoggedNames(), (std::vector<std::string>{"Set_Folder", "Set_Folder", "Set_Folder"}));
}

// Paths come from mail: a long one is walked like any other.
TEST_F(PathsTest, APathOfMoreThan32LevelsIsRefusedBeforeAnyFolderIsMade) {
  std::string path = "Personal Folders$/$Contacts$/$";
  for (int i = 0; i < 20000; ++i) path += "Level$/$";
  for (const bool create : {false, true}) {
    bool found = true;
    EXPECT_EQ(Set_Folder(ctx(), path, create, found), nullptr);
    EXPECT_TRUE(found) << "a refusal leaves found as it was";
    EXPECT_EQ(Contacts()->Folders()->Count(), 0);
  }
  EXPECT_EQ(LogLines().size(), 2u);

  // Reading the path out of a long text stays linear and whole.
  const std::string text = path + kEndOfPath + std::string(1 << 20, 'x');
  EXPECT_EQ(Extract_Path(ctx(), text), path);
  std::string rest = path;
  EXPECT_EQ(Extract_Folder(ctx(), rest), "Personal Folders");
  EXPECT_EQ(rest.size(), path.size() - 19);
}

TEST_F(PathsTest, CheckFolderPathTakesWhatAFolderCanBeNamed) {
  const struct {
    std::string path;
    bool taken;
  } cases[] = {
      {"", true},
      {"$/$", true},
      {"Personal Folders$/$Contacts$/$Team$/$", true},
      {"Personal Folders$/$Contacts$/$Tab\tand \xc3\xa9t\xc3\xa9$/$", false},
      {"Personal Folders$/$Contacts$/$" + std::string(255, 'x') + "$/$", true},
      {"Personal Folders$/$Contacts$/$" + std::string(256, 'x') + "$/$", false},
      // 255 characters of two bytes each.
      {"Personal Folders$/$Contacts$/$" + [] {
         std::string s;
         for (int i = 0; i < 255; ++i) s += "\xc3\xa9";
         return s;
       }() + "$/$", true},
      {"Personal Folders$/$Contacts$/$A\x7f$/$", false},
      {"Personal Folders$/$Contacts$/$A" + std::string(1, '\0') + "$/$", false},
      {"Personal Folders$/$$/$Contacts$/$", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 60));
    if (c.taken) {
      EXPECT_NO_THROW(CheckFolderPath(c.path));
    } else {
      EXPECT_THROW(CheckFolderPath(c.path), AddinError);
    }
  }
  std::string levels;
  for (int i = 0; i < 32; ++i) levels += "L$/$";
  EXPECT_NO_THROW(CheckFolderPath(levels));
  EXPECT_THROW(CheckFolderPath(levels + "L"), AddinError);
}

class DeleteContactTest : public PathsTest {
 protected:
  void SetUp() override {
    PathsTest::SetUp();
    team_ = MakeFolders({"Contacts", "Team"});
    clock_.Set(DateTime::FromParts(2026, 5, 1, 12, 0, 0));
    contact_ = NewContact(team_, "Bob Brown");
    id_ = contact_->EntryID();
    Set_CorrID(ctx(), team_->EntryID(), id_, "CORR-BOB");
    Set_CorrID(ctx(), team_->EntryID(), "OTHER", "CORR-OTHER");
  }
  std::shared_ptr<host::Folder> SafetyFolder() { return Child(Contacts(), "Deleted Contacts"); }
  std::shared_ptr<host::Folder> team_;
  std::shared_ptr<host::ContactItem> contact_;
  std::string id_;
};

TEST_F(DeleteContactTest, AContactChangedSinceTheReferenceIsKeptInTheSafetyFolder) {
  const DateTime modified = contact_->LastModificationTime();
  for (const DateTime& reference : {modified, modified.AddSeconds(-1)}) {
    auto contact = NewContact(team_, "Changed");
    Set_CorrID(ctx(), team_->EntryID(), contact->EntryID(), "CORR-C");
    contact->SetFullName("Changed");
    contact->Save();  // modified at the clock's time: `modified`
    Delete_Contact(ctx(), contact, reference);
    auto safety = SafetyFolder();
    ASSERT_TRUE(safety);
    EXPECT_EQ(safety->DefaultItemType(), host::kContactItem);
    EXPECT_TRUE(contact->Parent()->IsSameAs(*safety));
    EXPECT_EQ(reg().GetString(Mapping(team_->EntryID()), contact->EntryID(), "<none>"), "<none>");
  }
  EXPECT_EQ(SafetyFolder()->Items()->Count(), 2);
  EXPECT_EQ(Contacts()->Folders()->Count(), 2) << "Team and one Deleted Contacts";
  EXPECT_EQ(reg().GetString(Mapping(team_->EntryID()), "OTHER", ""), "CORR-OTHER");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DeleteContactTest, AContactNotChangedSinceTheReferenceIsDeletedForGood) {
  const int deletedBefore = DeletedItems()->Items()->Count();
  Delete_Contact(ctx(), contact_, contact_->LastModificationTime().AddSeconds(1));
  EXPECT_FALSE(ItemExists(id_));
  EXPECT_EQ(DeletedItems()->Items()->Count(), deletedBefore);
  EXPECT_EQ(SafetyFolder(), nullptr);
  EXPECT_EQ(reg().GetString(Mapping(team_->EntryID()), id_, "<none>"), "<none>");
  EXPECT_EQ(reg().GetString(Mapping(team_->EntryID()), "OTHER", ""), "CORR-OTHER");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DeleteContactTest, TheSafetyFolderIsFoundInTheDefaultStoreWhateverItsName) {
  TopFolder()->SetName("Mailbox - Alice");
  Delete_Contact(ctx(), contact_, DateTime::FromParts(2000, 1, 1));
  auto safety = SafetyFolder();
  ASSERT_TRUE(safety);
  EXPECT_TRUE(contact_->Parent()->IsSameAs(*safety));
}

TEST_F(DeleteContactTest, WithoutASafetyFolderTheChangedContactIsDeleted) {
  // A folder whose name differs only in case blocks the safety folder (the
  // client refuses the second name): the changed contact is deleted instead.
  MakeFolders({"Contacts", "deleted contacts"});
  Delete_Contact(ctx(), contact_, DateTime::FromParts(2000, 1, 1));
  EXPECT_TRUE(contact_->Parent()->IsSameAs(*DeletedItems()));
  EXPECT_EQ(reg().GetString(Mapping(team_->EntryID()), id_, "<none>"), "<none>");
  EXPECT_EQ(LoggedNames(), std::vector<std::string>{"Set_Folder"});
}

TEST_F(DeleteContactTest, FailuresAreLoggedAndNeverEscape) {
  Delete_Contact(ctx(), nullptr, DateTime::FromParts(2000, 1, 1));
  contact_->Delete();
  contact_->Delete();
  Delete_Contact(ctx(), contact_, DateTime::FromParts(2000, 1, 1));
  EXPECT_EQ(LoggedNames(), (std::vector<std::string>{"Delete_Contact", "Delete_Contact"}));
}

TEST_F(PathsTest, PurgeItemDeletesAMailForGood) {
  auto inbox = ns_->GetDefaultFolder(host::kFolderInbox);
  auto mail = inbox->Items()->Add("IPM.Note");
  mail->SetSubject("3830308006600");
  mail->Save();
  const std::string id = mail->EntryID();
  const int deletedBefore = DeletedItems()->Items()->Count();
  Purge_Item(ctx(), mail);
  EXPECT_FALSE(ItemExists(id));
  EXPECT_EQ(DeletedItems()->Items()->Count(), deletedBefore);
  // Nothing is ever reported: a mail already gone, or none at all.
  Purge_Item(ctx(), mail);
  Purge_Item(ctx(), nullptr);
  EXPECT_TRUE(LogLines().empty());
}

}  // namespace
}  // namespace plexisync

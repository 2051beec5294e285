// The import of an exported personal-folders file into a contacts folder:
// the choice of the file, files that are no export file, the marked
// contacts coming in exactly once (again on a second import of the same
// file), and what the import leaves in the sharing database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/text.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/pictures.hpp"
#include "plexisync/transfer/import_file.hpp"
#include "import_fixture.hpp"

namespace plexisync {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// One contact of a file's "Temp" folder.
struct FileContact {
  std::string fullName, user3, user4, body;
};

class ImportFileTest : public testing::ImportTest {
 protected:
  std::string FilePath(const std::string& name) { return (Scratch() / name).string(); }
  int StoresOpen() { return M().app->Session()->Folders()->Count(); }
  std::string ImportKey() { return testing::ProfileKeyPath() + FolderId() + "\\Import"; }
  void MarkForImport() { ASSERT_TRUE(M().Reg().CreateKey(ImportKey())); }

  // Writes a personal-folders file whose root holds `folder` (no folder
  // when empty) with these contacts.
  void MakeFile(const std::string& path, const std::vector<FileContact>& contacts, const std::string& folder = "Temp") {
    auto session = M().app->Session();
    host::PersonScope person(*M().app);
    session->AddStore(path);
    auto root = session->Folders()->GetLast();
    if (!folder.empty()) {
      auto temp = root->Folders()->Add(folder, host::kFolderTypeContacts);
      for (const auto& c : contacts) {
        auto item = std::dynamic_pointer_cast<host::ContactItem>(temp->Items()->Add(host::kContactItem));
        item->SetFullName(c.fullName);
        item->SetUser3(c.user3);
        item->SetUser4(c.user4);
        item->SetBody(c.body);
        item->SetProperty("JobTitle", std::string("new"));
        item->Save();
      }
    }
    session->RemoveStore(root);
  }

  // Runs the import with the file dialog answered by `choice`.
  // `message`: the message expected after the dialog (none when null).
  bool Import(const std::optional<std::string>& choice, const char* message = nullptr,
              platform::MsgBoxResult answer = platform::MsgBoxResult::Ok) {
    M().user.ExpectFileDialog(choice);
    if (message) M().user.ExpectMessage(message, answer);
    return Import_file(*M().ctx, Folder());
  }
};

// No file, or a name that does not end in ".pst" exactly: false, nothing
// shown, nothing changed.
TEST_F(ImportFileTest, CancelOrNotAPstNameDoesNothing) {
  auto& m = Receiver();
  MarkForImport();
  MakeFile(FilePath("caps.PST"), {{"Ann", testing::CorrId("A"), "Plexisync", ""}});
  const struct {
    const char* name;
    std::optional<std::string> choice;
  } cases[] = {{"cancel", std::nullopt}, {"capitals", FilePath("caps.PST")}, {"txt", FilePath("list.txt")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto shown = m.MessagesShown().size();
    EXPECT_FALSE(Import(c.choice));
    EXPECT_EQ(m.MessagesShown().size(), shown);
    EXPECT_TRUE(Contacts().empty());
    EXPECT_TRUE(m.Reg().KeyExists(ImportKey()));
    EXPECT_EQ(m.user.Problems(), "");
  }
  // The dialog as it was put.
  auto& dialog = m.ctx->Form<Pictures>().DialogOpen;
  EXPECT_EQ(dialog.DialogTitle(), "Plexisync - Select a file to import");
  EXPECT_EQ(dialog.InitDir(), m.ctx->InstDir);
  EXPECT_EQ(dialog.Flags(), 4);
  EXPECT_EQ(dialog.Filter(), "Personal Folders Files  (*.pst)|*.pst");
  EXPECT_EQ(m.ErrorLog(), "");
}

// A file that is no export file: "Cannot load ...", false, nothing left
// attached or created, the folder still waits for its import.
TEST_F(ImportFileTest, FileThatIsNoExportFileCannotBeLoaded) {
  auto& m = Receiver();
  MarkForImport();
  MakeFile(FilePath("other.pst"), {}, "Other");
  {
    std::ofstream junk(FilePath("junk.pst"), std::ios::binary);
    junk << "this is no personal-folders file";
  }
  const struct {
    const char* name;
    std::string file;
  } cases[] = {{"no Temp folder", "other.pst"}, {"not a store", "junk.pst"}, {"missing file", "missing.pst"}};
  const int stores = StoresOpen();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Import(FilePath(c.file), kImportUnknownFormat));
    EXPECT_EQ(StoresOpen(), stores);
    EXPECT_TRUE(Contacts().empty());
    EXPECT_TRUE(m.Reg().KeyExists(ImportKey()));
    EXPECT_EQ(m.user.Problems(), "");
  }
  EXPECT_FALSE(std::filesystem::exists(FilePath("missing.pst")));
  EXPECT_EQ(m.ErrorLog(), "");
}

// A "Temp" folder without marked contacts: nothing imported, said so; the
// import is still over (mark removed, file detached).
TEST_F(ImportFileTest, FileWithoutMarkedContacts) {
  auto& m = Receiver();
  MarkForImport();
  MakeFile(FilePath("plain.pst"), {{"Ann", testing::CorrId("A"), "", ""}, {"Bob", testing::CorrId("B"), "plexisync", ""}});
  const int stores = StoresOpen();
  EXPECT_TRUE(Import(FilePath("plain.pst"), kImportNothingFound));
  EXPECT_TRUE(Contacts().empty());
  EXPECT_FALSE(m.Reg().KeyExists(ImportKey()));
  EXPECT_EQ(StoresOpen(), stores);
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.ErrorLog(), "");
}

// Every marked contact comes in exactly once, unread and mapped to its
// CorrID, in place of its local counterpart; unmarked ones stay out. The
// same file imported again replaces them instead of adding copies. A local
// counterpart moved to another folder stays there.
TEST_F(ImportFileTest, EveryMarkedContactArrivesExactlyOnceAlsoOnASecondImport) {
  auto& m = Receiver();
  MarkForImport();
  const std::string member = AddRecipient(std::string("Member"), "member@example.org", "1/1/2000");
  const auto ann = Local("Ann", testing::CorrId("A"), "local note");
  const auto moved = Local("Moved", testing::CorrId("M"));
  auto other = NewFolder("Elsewhere");
  {
    host::PersonScope person(*m.app);
    moved->Move(other);
  }
  MakeFile(FilePath("export.pst"), {{"Ann", testing::CorrId("A"), "Plexisync", "their note"},
                                    {"Bob", testing::CorrId("B"), "Plexisync", ""},
                                    {"Unmarked", testing::CorrId("U"), "", ""},
                                    {"Moved", testing::CorrId("M"), "Plexisync", ""}});
  const int stores = StoresOpen();
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("import " + std::to_string(round));
    if (round == 2) MarkForImport();
    EXPECT_TRUE(Import(FilePath("export.pst"), kImportSuccessful));
    EXPECT_THAT(Names(), ElementsAre("Ann", "Bob", "Moved"));
    for (const char* name : {"Ann", "Bob", "Moved"}) {
      SCOPED_TRACE(name);
      auto c = Only(name);
      ASSERT_TRUE(c);
      EXPECT_TRUE(c->UnRead());
      EXPECT_EQ(JobTitle(c), "new");
      EXPECT_THAT(IdsOf(testing::CorrId(std::string(1, name[0]))), ElementsAre(c->EntryID()));
      EXPECT_TRUE(Listed(c->EntryID()));
    }
    EXPECT_NE(Only("Ann")->EntryID(), ann->EntryID());
    EXPECT_EQ(Only("Ann")->Body(), "their note");
    EXPECT_FALSE(Listed(ann->EntryID()));
    EXPECT_EQ(Mapping().size(), 3u);
    ASSERT_EQ(Contacts(other).size(), 1u);
    EXPECT_EQ(Contacts(other)[0]->EntryID(), moved->EntryID());
    EXPECT_FALSE(m.Reg().KeyExists(ImportKey()));
    EXPECT_EQ(StoresOpen(), stores);
    EXPECT_EQ(LastUpdate(member), Clock().Now().AddSeconds(5).ToText());
    EXPECT_EQ(m.user.Problems(), "");
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

// A failure while contacts are copied is logged under "Import_file" and
// returns false; what was imported stays (each once), the file is detached
// and the folder keeps waiting for its import.
TEST_F(ImportFileTest, FailureDuringTheCopyIsLoggedAndLeavesNoDuplicate) {
  auto& m = Receiver();
  MarkForImport();
  Local("Ann", testing::CorrId("A"));
  MakeFile(FilePath("export.pst"), {{"Bob", testing::CorrId("B"), "Plexisync", ""},
                                    {"Ann", testing::CorrId("A"), "Plexisync", ""}});
  const int stores = StoresOpen();
  m.app->Faults().FailNth("ContactItem.Save", 2);  // the save of Ann's replacement
  EXPECT_FALSE(Import(FilePath("export.pst"), testing::kReportQuestionText, platform::MsgBoxResult::No));
  m.app->Faults().Clear();
  EXPECT_THAT(m.LoggedErrorNames(), ElementsAre("Import_file"));
  EXPECT_THAT(Names(), ElementsAre("Ann", "Bob"));
  EXPECT_EQ(JobTitle(Only("Ann")), "old");
  EXPECT_EQ(Mapping().size(), 2u);
  EXPECT_EQ(StoresOpen(), stores);
  EXPECT_TRUE(m.Reg().KeyExists(ImportKey()));
  EXPECT_FALSE(m.ctx->Progress().IsVisible());
  EXPECT_EQ(m.user.Problems(), "");

  // Tried again, it ends with one copy of each.
  EXPECT_TRUE(Import(FilePath("export.pst"), kImportSuccessful));
  EXPECT_THAT(Names(), ElementsAre("Ann", "Bob"));
  EXPECT_EQ(JobTitle(Only("Ann")), "new");
  EXPECT_EQ(Mapping().size(), 2u);
  EXPECT_EQ(m.user.Problems(), "");
}

// The options window's "Import..." runs the import for the folder chosen.
TEST_F(ImportFileTest, OptionsImportRunsIt) {
  auto& m = Receiver();
  MakeFile(FilePath("export.pst"), {{"Bob", testing::CorrId("B"), "Plexisync", ""}});
  m.user.ExpectForm("SelectFolder", [&](platform::Form& f) {
    auto& list = f.Get<platform::ListBox>("Folders");
    for (int i = 0; i < list.ListCount(); ++i) {
      if (platform::Right(list.List(i), 7) == "Friends") list.SetListIndex(i);
    }
    f.FindButton("OK")->Click();
  });
  m.user.ExpectFileDialog(FilePath("export.pst"));
  m.user.ExpectMessage(kImportSuccessful);
  m.ctx->Form<AdvSettings>().ManualImport.Click();
  EXPECT_THAT(Names(), ElementsAre("Bob"));
  EXPECT_EQ(m.user.Problems(), "");
}

}  // namespace
}  // namespace plexisync

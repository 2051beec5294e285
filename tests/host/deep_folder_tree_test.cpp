// A folder tree far deeper than anyone makes by hand, as arriving mail could
// once make one: the walks of the tree keep their own stacks, so the folder
// chooser and the paths of the deepest folders work at any depth.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/entry_id.hpp"
#include "host/store.hpp"
#include "host_fixture.hpp"
#include "support/folder_chain.hpp"

namespace host::testing {
namespace {

// Deep enough that a walk taking a call-stack frame per level overflows the
// stack (the address sanitizer's frames are larger still).
constexpr int kDepth = 20000;

class DeepFolderTreeTest : public HostTest {
 protected:
  // A chain of kDepth contacts folders named "d" below Contacts, in the
  // store the client reopens; its deepest folder.
  std::shared_ptr<Folder> Chain() {
    auto contacts = Contacts();
    const StoreId store = contacts->StoreHandle()->Id();
    const std::uint32_t deepest = WriteFolderChain(profile_->StorePath(), contacts->Number(), kDepth, "d", true);
    contacts.reset();
    Start();
    return ns_->GetFolderFromID(FormatEntryId(store, deepest));
  }

  static std::string ChainPath(int depth) {
    std::string path = "Personal Folders/Contacts";
    for (int i = 0; i < depth; ++i) path += "/d";
    return path;
  }
};

TEST_F(DeepFolderTreeTest, TheChooserListsEveryFolderAndPicksTheDeepest) {
  auto deepest = Chain();
  std::vector<std::string> shown;
  user_.ExpectForm("SelectFolder", [&](platform::Form& f) {
    auto& list = f.Get<platform::ListBox>("Folders");
    shown = list.Items();
    list.SetListIndex(list.ListCount() - 1);
    f.FindButton("OK")->Click();
  });
  auto picked = ns_->PickFolder();
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
  ASSERT_TRUE(picked);
  EXPECT_TRUE(picked->IsSameAs(*deepest));

  // Contacts comes last among the top folder's subfolders: the chain ends
  // the list, each folder right after its parent.
  ASSERT_GT(shown.size(), static_cast<std::size_t>(kDepth));
  const std::size_t contacts = shown.size() - kDepth - 1;
  EXPECT_EQ(shown[contacts], ChainPath(0));
  // Paths are shown whole up to 240 characters, longer ones with names from
  // their middle left out.
  EXPECT_EQ(shown[contacts + 100], ChainPath(100));
  for (std::size_t depth : {std::size_t{200}, std::size_t{kDepth}}) {
    const std::string& path = shown[contacts + depth];
    SCOPED_TRACE(depth);
    EXPECT_LE(path.size(), 240u);
    EXPECT_EQ(path.rfind("Personal Folders/Contacts/d/d/", 0), 0u) << path;
    EXPECT_NE(path.find("/d/.../d/"), std::string::npos) << path;
    EXPECT_EQ(path.substr(path.size() - 4), "/d/d");
  }
}

TEST_F(DeepFolderTreeTest, TheDeepestFolderHasItsWholePath) {
  auto deepest = Chain();
  EXPECT_EQ(deepest->FolderPath(), ChainPath(kDepth));
  // A folder made below it goes on the chain.
  EXPECT_EQ(deepest->Folders()->Add("e", kFolderTypeContacts)->FolderPath(), ChainPath(kDepth) + "/e");
}

}  // namespace
}  // namespace host::testing

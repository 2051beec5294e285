// Folders as the program names them: any folder the client holds can be
// named, also one whose name holds a "/" or a backslash (arriving mail may
// make one), and what the program prints as a path can be typed back; a
// tree of any depth is walked by the commands that walk the tree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/session.hpp"
#include "cli_fixture.hpp"
#include "host/object_model.hpp"
#include "platform/clock.hpp"
#include "support/folder_chain.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using nlohmann::json;

class FolderTreeCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    CreateAlice();
  }

  // Works on alice's profile through the client's object model, as the
  // client itself or an arriving mail would (no add-in, nothing asked).
  void InClient(const std::function<void(host::NameSpace&)>& action) {
    platform::ScriptedUser user;
    platform::ManualClock clock;
    platform::FixedTimeZone zone{0};
    SessionOptions options;
    options.loadAddin = false;
    ProfileSession session(home_ / "alice", SessionServices{user, clock, zone}, options);
    session.AsPerson([&] { action(*session.Session()); });
    session.Close();
    EXPECT_EQ(user.Problems(), "");
  }

  std::string Alice(std::vector<std::string> args) {
    args.insert(args.begin(), {"-p", "alice"});
    return Ok(args);
  }
};

TEST_F(FolderTreeCliTest, EveryFolderNameCanBeWrittenInAPathAndIsPrintedSo) {
  const struct {
    std::string name;
    std::string written;  // in a path
  } cases[] = {
      {"a/b", "a\\/b"},
      {"a\\b", "a\\b"},  // a backslash before any other character stands for itself
      {"a\\/b", "a\\\\\\/b"},
      {"c\\", "c\\\\"},  // at the end of the name it would run into the "/" after it
      {"\\\\", "\\\\\\\\"},
      {"/", "\\/"},
  };
  // "Contacts/a/b" names b in a, not the folder "a/b".
  Alice({"folder", "add", "Contacts/a/b"});
  InClient([&](host::NameSpace& ns) {
    auto contacts = ns.GetDefaultFolder(host::kFolderContacts);
    for (const auto& c : cases) contacts->Folders()->Add(c.name, host::kFolderTypeContacts);
  });

  const json listed = RunJson({"-p", "alice", "folder", "list", "--json"});
  const std::string text = Alice({"folder", "list"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "Personal Folders/Contacts/" + c.written;
    bool found = false;
    for (const auto& f : listed) found = found || (f["name"] == c.name && f["path"] == path);
    EXPECT_TRUE(found) << listed.dump(1);
    EXPECT_THAT(text, HasSubstr("    " + path + "  (contacts"));

    // What is printed names the folder, with or without the top folder.
    Alice({"contact", "add", "Contacts/" + c.written, "--set", "FullName=In " + c.name});
    const json contacts = RunJson({"-p", "alice", "contact", "list", path, "--json"});
    ASSERT_EQ(contacts.size(), 1u) << contacts.dump(1);
    EXPECT_EQ(contacts[0]["fullName"], "In " + c.name);
  }
  Alice({"contact", "add", "Contacts/a/b", "--set", "FullName=In b"});
  InClient([&](host::NameSpace& ns) {
    auto contacts = ns.GetDefaultFolder(host::kFolderContacts);
    for (const auto& c : cases) EXPECT_EQ(contacts->Folders()->Item(c.name)->Items()->Count(), 1) << c.name;
    EXPECT_EQ(contacts->Folders()->Item("a")->Folders()->Item("b")->Items()->Count(), 1);
  });

  // A path written so makes a folder of that name.
  EXPECT_EQ(Alice({"folder", "add", "Contacts/x\\/y\\\\"}), "Created contacts folder Personal Folders/Contacts/x\\/y\\\\\n");
  InClient([&](host::NameSpace& ns) {
    EXPECT_EQ(ns.GetDefaultFolder(host::kFolderContacts)->Folders()->Item("x/y\\")->Name(), "x/y\\");
  });
  EXPECT_THAT(Ok({"--help"}), HasSubstr("within a name \"\\/\" stands for a \"/\" and \"\\\\\" for a backslash"));
}

// A tree far deeper than anyone makes by hand, as arriving mail could once
// make one: send-receive walks it for its report, and the share wizard lists
// its folders and takes contacts from the deepest.
TEST_F(FolderTreeCliTest, ATreeOfAnyDepthIsWalked) {
  constexpr int kDepth = 20000;
  Alice({"folder", "add", "Contacts/Team"});
  Alice({"contact", "add", "Contacts/Team", "--set", "FullName=Dan Diaz"});
  Alice({"folder", "add", "Contacts/Deep"});
  std::uint32_t deep = 0;
  InClient([&](host::NameSpace& ns) { deep = ns.GetDefaultFolder(host::kFolderContacts)->Folders()->Item("Deep")->Number(); });
  host::WriteFolderChain(home_ / "alice" / "store.db", deep, kDepth, "d", true);
  std::string deepest = "Contacts/Deep";
  for (int i = 0; i < kDepth; ++i) deepest += "/d";
  Alice({"contact", "add", deepest, "--set", "FullName=Deep Down", "--set", "Email1Address=deep@example.org"});

  RunResult r = Run({"-p", "alice", "send-receive"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Sent 0, received 0\nNo contacts changed\n"));

  r = Run({"-p", "alice", "share", "Contacts/Team", "--source", deepest, "--add", "Deep Down", "--save"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Choosing \"d\" in \"Look in:\""),
                           HasSubstr("Stored 1 recipient of Personal Folders/Contacts/Team: Deep Down\n")));
}

}  // namespace
}  // namespace cli::testing

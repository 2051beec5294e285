// The add-in's toolbar and menu driven from the command line: listing the
// controls, pressing them by tag or caption, the unread-only view and
// "Mark as Read", and listing what a folder's view shows.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_fixture.hpp"

namespace cli::testing {
namespace {

class ExplorerCliTest : public CliTest {
 protected:
  // Alice with Contacts/Team holding Ann, Ben and Cid, Ben unread.
  void MakeTeam() {
    CreateAlice();
    Ok({"-p", "alice", "folder", "add", "Contacts/Team"});
    for (const char* n : {"Ann", "Ben", "Cid"}) {
      Ok({"-p", "alice", "contact", "add", "Contacts/Team", "--set", std::string("FullName=") + n});
    }
    Ok({"-p", "alice", "contact", "set", "Contacts/Team", "Ben", "--set", "UnRead=true"});
  }
  std::vector<std::string> Names(const std::vector<std::string>& args) {
    std::vector<std::string> full{"-p", "alice"};
    full.insert(full.end(), args.begin(), args.end());
    full.push_back("--json");
    auto doc = RunJson(full);
    std::vector<std::string> names;
    for (const auto& c : doc) names.push_back(c.value("fullName", std::string()));
    return names;
  }
};

TEST_F(ExplorerCliTest, ButtonsListsTheToolbarControlsAndTheMenuItems) {
  MakeTeam();
  auto doc = RunJson({"-p", "alice", "buttons", "Contacts/Team", "--json"});
  ASSERT_TRUE(doc.contains("controls"));
  EXPECT_NE(doc["folder"].get<std::string>().find("Contacts/Team"), std::string::npos);
  std::vector<std::string> toolbarTags, menuCaptions;
  for (const auto& c : doc["controls"]) {
    for (const char* key : {"tag", "caption", "style", "tooltip", "visible", "enabled", "beginGroup", "face"}) {
      EXPECT_TRUE(c.contains(key)) << key;
    }
    if (c["place"] == "toolbar") toolbarTags.push_back(c["tag"]);
    if (c["place"] == "menu") menuCaptions.push_back(c["caption"]);
  }
  EXPECT_EQ(toolbarTags,
            (std::vector<std::string>{"Share...", "Update", "Update All", "Import...", "Unread Only", "MarkAsRead"}));
  for (const char* item : {"Share...", "Update All", "Send and Receive All", "Options...", "Check for Update", "Help",
                           "About Plexisync"}) {
    EXPECT_NE(std::find(menuCaptions.begin(), menuCaptions.end(), item), menuCaptions.end()) << item;
  }
  // The text form names every control once per line.
  const std::string text = Ok({"-p", "alice", "buttons"});
  EXPECT_NE(text.find("tag \"MarkAsRead\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"About Plexisync\""), std::string::npos) << text;
}

TEST_F(ExplorerCliTest, BadNamesAndFoldersAreOneLineErrorsThatChangeNothing) {
  MakeTeam();
  struct Case {
    std::vector<std::string> args;
    int rc;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"click", "Nope"}, 2, "no button or menu item named \"Nope\""},
      {{"click", ""}, 2, "no button or menu item named"},
      {{"click", "Unread Only", "--folder", "Contacts/Nowhere"}, 1, "Nowhere"},
      {{"unread", "Contacts/Nowhere"}, 1, "Nowhere"},
      {{"buttons", "Contacts/Nowhere"}, 1, "Nowhere"},
      // A folder nobody shares: Update is disabled on the toolbar and in the menu.
      {{"click", "Update", "--folder", "Contacts/Team"}, 1, "\"Update\" cannot be pressed now"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> full{"-p", "alice"};
    full.insert(full.end(), c.args.begin(), c.args.end());
    RunResult r = Run(full);
    EXPECT_EQ(r.rc, c.rc) << ::testing::PrintToString(c.args) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_EQ(Names({"contact", "list", "Contacts/Team", "--unread"}), (std::vector<std::string>{"Ben"}));
  EXPECT_EQ(LastLine(Ok({"-p", "alice", "log"})), "The error log is empty");
}

TEST_F(ExplorerCliTest, UnreadShowsOnlyUnreadContactsInTheViewAndClickingAgainShowsAll) {
  MakeTeam();
  EXPECT_EQ(Names({"contact", "list", "Contacts/Team", "--view"}), (std::vector<std::string>{"Ann", "Ben", "Cid"}));
  const std::string out = Ok({"-p", "alice", "unread", "Contacts/Team"});
  EXPECT_NE(out.find("Its caption is now \"View All\""), std::string::npos) << out;
  EXPECT_EQ(Names({"contact", "list", "Contacts/Team", "--view"}), (std::vector<std::string>{"Ben"}));
  // The view filter does not change the folder itself.
  EXPECT_EQ(Names({"contact", "list", "Contacts/Team"}), (std::vector<std::string>{"Ann", "Ben", "Cid"}));
  // A new window on the folder returns it to the full view.
  Ok({"-p", "alice", "buttons", "Contacts/Team"});
  EXPECT_EQ(Names({"contact", "list", "Contacts/Team", "--view"}), (std::vector<std::string>{"Ann", "Ben", "Cid"}));
}

TEST_F(ExplorerCliTest, MarkReadClearsTheFolderAndIsTheMarkAsReadClick) {
  MakeTeam();
  Ok({"-p", "alice", "contact", "set", "Contacts/Team", "Cid", "--set", "UnRead=true"});
  EXPECT_EQ(Names({"contact", "list", "Contacts/Team", "--unread"}), (std::vector<std::string>{"Ben", "Cid"}));
  const std::string out = Ok({"-p", "alice", "mark-read", "Contacts/Team"});
  EXPECT_NE(out.find("Pressing \"Mark as Read\""), std::string::npos) << out;
  EXPECT_TRUE(Names({"contact", "list", "Contacts/Team", "--unread"}).empty());
  // Again on an all-read folder: nothing to do, nothing goes wrong.
  Ok({"-p", "alice", "click", "Mark as Read", "--folder", "Contacts/Team"});
  EXPECT_EQ(Names({"contact", "list", "Contacts/Team"}), (std::vector<std::string>{"Ann", "Ben", "Cid"}));
  EXPECT_EQ(LastLine(Ok({"-p", "alice", "log"})), "The error log is empty");
}

TEST_F(ExplorerCliTest, AboutIsTheMenuItem) {
  CreateAlice();
  RunResult r = Run({"-p", "alice", "about"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Pressing \"About Plexisync\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frmAbout"), std::string::npos) << r.out;
}

// send-receive is the client's send/receive: with AutoUpdate on, the add-in
// sends the shared folders' changes as it starts, so they go out in the same
// run; with it off they wait for Update.
TEST_F(ExplorerCliTest, SendReceiveSendsTheSharedFoldersChangesFirstWhenAutoUpdateIsOn) {
  CreateAlice();
  CreateBob();
  Ok({"-p", "alice", "contact", "add", "Contacts", "--set", "FullName=Bob Brown", "--set",
      "Email1Address=bob@example.org"});
  Ok({"-p", "alice", "folder", "add", "Contacts/Team"});
  Ok({"-p", "alice", "contact", "add", "Contacts/Team", "--set", "FullName=Dan Diaz", "--set", "JobTitle=Member"});
  Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Bob Brown", "--send"});
  Ok({"-p", "alice", "send-receive"});
  Ok({"-p", "bob", "--batch", "send-receive"});
  const auto job = [&] {
    for (const auto& c : RunJson({"-p", "bob", "contact", "list", "Contacts/Team", "--json", "--show", "JobTitle"})) {
      if (c["fullName"] == "Dan Diaz") return c.dump();
    }
    return std::string("Dan Diaz missing");
  };
  ASSERT_NE(job().find("Member"), std::string::npos) << job();
  // Every contact goes with each update, whatever the second it changed in.
  Ok({"-p", "alice", "options", "--set", "Send_Updated=off"});

  for (const bool autoUpdate : {false, true}) {
    SCOPED_TRACE(autoUpdate ? "AutoUpdate on" : "AutoUpdate off");
    const std::string title = autoUpdate ? "Lead" : "Chair";
    Ok({"-p", "alice", "options", "--set", std::string("AutoUpdate=") + (autoUpdate ? "on" : "off")});
    Ok({"-p", "alice", "contact", "set", "Contacts/Team", "Dan Diaz", "--set", "JobTitle=" + title});
    // The full send asks first; "Yes" sends.
    if (autoUpdate) {
      const std::string out = Ok({"-p", "alice", "--answer", "Yes", "send-receive"});
      EXPECT_NE(out.find("ConfirmUpdate"), std::string::npos) << out;
    } else {
      Ok({"-p", "alice", "send-receive"});
    }
    Ok({"-p", "bob", "--batch", "--answer", "Yes to All", "send-receive"});
    if (autoUpdate) {
      EXPECT_NE(job().find(title), std::string::npos) << job();
    } else {
      EXPECT_EQ(job().find(title), std::string::npos) << job();
    }
  }
}

}  // namespace
}  // namespace cli::testing

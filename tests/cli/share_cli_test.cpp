// The sharing commands of the program: the share wizard worked from the
// command line, the recipients as stored, Update and Update All.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "cli_fixture.hpp"
#include "platform/sqlite.hpp"

namespace cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using nlohmann::json;
namespace fs = std::filesystem;

// Alice with Bob and Carol in her Contacts and a folder Contacts/Team of
// two contacts.
class ShareCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    CreateAlice();
    bob_ = AddContact("Contacts", "Bob Brown", "bob@example.org");
    carol_ = AddContact("Contacts", "Carol Cole", "carol@example.org");
    Ok({"-p", "alice", "folder", "add", "Contacts/Team"});
    dan_ = AddContact("Contacts/Team", "Dan Diaz", "dan@example.org");
    eve_ = AddContact("Contacts/Team", "Eve Evans", "eve@example.org");
  }

  std::string AddContact(const std::string& folder, const std::string& name, const std::string& address) {
    return LastLine(Ok({"-p", "alice", "contact", "add", folder, "--set", "FullName=" + name, "--set",
                        "Email1Address=" + address}));
  }

  json Members(const std::string& folder = "Contacts/Team") {
    return RunJson({"-p", "alice", "members", folder, "--json"});
  }

  // The selected recipients' names, in stored order.
  std::vector<std::string> Selected(const std::string& folder = "Contacts/Team") {
    std::vector<std::string> names;
    const json members = Members(folder);
    for (const auto& m : members["recipients"]) {
      if (m["selected"].get<bool>()) names.push_back(m["name"].get<std::string>());
    }
    return names;
  }

  // Messages delivered to the address's Maildir, read or not.
  int Delivered(const std::string& address) {
    int n = 0;
    for (const char* sub : {"new", "cur"}) {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(home_ / "postoffice" / address / sub, ec)) {
        (void)e;
        ++n;
      }
    }
    return n;
  }

  RunResult Alice(std::vector<std::string> args) {
    args.insert(args.begin(), {"-p", "alice"});
    return Run(args);
  }

  std::string bob_, carol_, dan_, eve_;
};

TEST_F(ShareCliTest, ShowsTheWizardsListsAndStoresNothing) {
  RunResult r = Alice({"share", "Contacts/Team"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Share Team folder\nLook in: Contacts (2 contacts)\n"),
                           HasSubstr("  " + bob_ + "  Bob Brown <bob@example.org>\n"),
                           HasSubstr("  " + carol_ + "  Carol Cole <carol@example.org>\n"),
                           HasSubstr("Recipients (0)\n"), HasSubstr("Pressing \"Cancel\""),
                           HasSubstr("Nothing stored")));

  const json lists = RunJson({"-p", "alice", "share", "Contacts/Team", "--json"});
  EXPECT_EQ(lists["title"], "Share Team folder");
  EXPECT_EQ(lists["lookIn"], "Contacts");
  ASSERT_EQ(lists["contacts"].size(), 2u);
  EXPECT_EQ(lists["contacts"][0],
            (json{{"entryId", bob_}, {"name", "Bob Brown"}, {"address", "bob@example.org"}, {"lastUpdate", nullptr}}));
  EXPECT_EQ(lists["recipients"], json::array());

  const json members = Members();
  EXPECT_EQ(members["recipients"], json::array());
  EXPECT_EQ(members["updateable"], nullptr);
}

TEST_F(ShareCliTest, AddRemoveAndSaveThroughTheWizard) {
  RunResult r = Alice({"share", "Contacts/Team", "--add", "Bob Brown", "--add", carol_, "--add", "Bob Brown", "--save"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Typing \"Bob Brown\" into \"Search:\" and pressing \">>\""),
                           HasSubstr("Typing \"Carol Cole\" into \"Search:\" and pressing \">>\""),
                           HasSubstr("Already a recipient: Bob Brown"), HasSubstr("Pressing \"Save\""),
                           HasSubstr("Stored 2 recipients of Personal Folders/Contacts/Team: Bob Brown, Carol Cole")));
  EXPECT_EQ(Selected(), (std::vector<std::string>{"Bob Brown", "Carol Cole"}));
  // Recipients from the default Contacts folder make the folder updateable.
  EXPECT_EQ(Members()["updateable"], "1");
  EXPECT_EQ(Delivered("bob@example.org"), 0);  // Save sends nothing

  r = Alice({"share", "Contacts/Team", "--remove", "Bob Brown", "--save"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Selecting \"Bob Brown\" and pressing \"<<\""));
  EXPECT_EQ(Selected(), std::vector<std::string>{"Carol Cole"});
  // Bob stays recorded, no longer selected.
  const json members = Members();
  ASSERT_EQ(members["recipients"].size(), 2u);
  EXPECT_EQ(members["recipients"][0]["entryId"], bob_);
  EXPECT_EQ(members["recipients"][0]["selected"], false);

  // The wizard now shows Carol on the right.
  EXPECT_THAT(Ok({"-p", "alice", "share", "Contacts/Team"}), HasSubstr("Recipients (1)\n  " + carol_));
}

TEST_F(ShareCliTest, ContactsFromAnotherFolderAndAContactTheSearchDoesNotSelectFirst) {
  // "Bob Brownstone" comes before "Bob Brown" in Team: typing "Bob Brown"
  // selects him, so the right entry is clicked.
  Ok({"-p", "alice", "folder", "add", "Contacts/Other"});
  AddContact("Contacts/Other", "Bob Brownstone", "stone@example.org");
  const std::string brown = AddContact("Contacts/Other", "Bob Brown", "brown@example.org");
  RunResult r = Alice({"share", "Contacts/Team", "--source", "Contacts/Other", "--add", "Bob Brown", "--save"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Choosing \"Other\" in \"Look in:\" and pressing \"Update\""),
                           HasSubstr("Typing \"Bob Brown\" into \"Search:\"\nClicking \"Bob Brown\" in the list and "
                                     "pressing \">>\"")));
  const json members = Members();
  ASSERT_EQ(members["recipients"].size(), 1u);
  EXPECT_EQ(members["recipients"][0]["entryId"], brown);
  EXPECT_EQ(members["recipients"][0]["address"], "brown@example.org");
  // No recipient in the default Contacts folder: not updateable.
  EXPECT_EQ(members["updateable"], "2");
}

TEST_F(ShareCliTest, AContactThatIsNotThereIsAnErrorAndNothingIsStored) {
  Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Carol Cole", "--save"});
  AddContact("Contacts", "Sam Same", "sam1@example.org");
  AddContact("Contacts", "Sam Same", "sam2@example.org");
  struct Case {
    std::vector<std::string> args;
    std::string message;
    bool opened = true;  // the wizard was open, and is closed with Cancel
  };
  const std::vector<Case> cases = {
      {{"--add", "Nobody"}, "no contact named \"Nobody\" in Contacts"},
      {{"--add", "Bob Brown", "--add", "Bob"}, "no contact named \"Bob\" in Contacts"},
      {{"--add", "bob brown"}, "no contact named \"bob brown\""},
      {{"--add", "Sam Same"}, "ambiguous contact: 2 contacts in Contacts are named \"Sam Same\""},
      {{"--add", dan_}, "is not in Contacts; choose its folder with --source"},
      {{"--add", "Bob Brown", "--remove", "Dan Diaz"}, "not a recipient of Personal Folders/Contacts/Team: Dan Diaz"},
      {{"--source", "Contacts/Nope", "--add", "Bob Brown"}, "no such folder: Contacts/Nope", false},
      {{"--source", "Inbox", "--add", "Bob Brown"}, "\"Look in:\" does not offer Inbox"},
      {{"--add", "Bob Brown", "--new-contact", "FullName=Gus Green", "Birthday=6/15/1990"},
       "the contact form has no field Birthday"},
  };
  // Removing the only recipient leaves nobody to send to.
  RunResult r = ExpectFailure("alice", {"share", "Contacts/Team", "--remove", carol_, "--send"},
                              "\"Save & Send\" needs a recipient; --save stores an empty list");
  EXPECT_THAT(r.out, HasSubstr("Pressing \"Cancel\""));
  for (const auto& c : cases) {
    for (const char* finish : {"--save", "--send"}) {
      std::vector<std::string> args{"share", "Contacts/Team"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      args.push_back(finish);
      RunResult r = ExpectFailure("alice", args, c.message);
      EXPECT_EQ(r.out.find("Pressing \"Cancel\"") != std::string::npos, c.opened) << ::testing::PrintToString(args);
      EXPECT_THAT(r.out, Not(HasSubstr("Stored "))) << ::testing::PrintToString(args);
    }
  }
  EXPECT_EQ(Selected(), std::vector<std::string>{"Carol Cole"});
  EXPECT_EQ(Delivered("carol@example.org"), 0);
  // The half-filled contact form was cancelled: no contact was made.
  EXPECT_THAT(Ok({"-p", "alice", "contact", "list", "Contacts"}), Not(HasSubstr("Gus Green")));
}

TEST_F(ShareCliTest, AFolderWithoutContactsGetsTheWizardsRefusal) {
  Ok({"-p", "alice", "folder", "add", "Contacts/Empty"});
  for (const char* folder : {"Contacts/Empty", "Inbox"}) {
    RunResult r = ExpectFailure("alice", {"share", folder}, "No contact items in selected folder!");
    EXPECT_THAT(r.out, HasSubstr("Message \"Plexisync\" (information) [OK]:\n  No contact items in selected folder!"));
    EXPECT_THAT(r.out, Not(HasSubstr("MainForm")));
  }
  ExpectFailure("alice", {"members", "Contacts/Nope"}, "no such folder: Contacts/Nope");
}

TEST_F(ShareCliTest, BadCommandLinesAreRefusedBeforeAnythingOpens) {
  const std::vector<std::vector<std::string>> cases = {
      {"share", "Contacts/Team", "--add", "Bob Brown"},              // how to close the wizard?
      {"share", "Contacts/Team", "--save", "--send"},
      {"share", "Contacts/Team", "--save", "--cancel"},
      {"share", "Contacts/Team", "--json", "--cancel"},
      {"share", "Contacts/Team", "--json", "--add", "Bob Brown", "--send"},
      {"share"},
      {"update"},
  };
  for (const auto& args : cases) {
    RunResult r = Alice(args);
    EXPECT_EQ(r.rc, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  RunResult r = Alice({"share", "Contacts/Team", "--new-contact", "FullName", "--save"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_THAT(r.err, HasSubstr("--new-contact: expected PROPERTY=VALUE, got \"FullName\""));
  EXPECT_THAT(r.out, Not(HasSubstr("MainForm")));  // refused before the wizard opened
}

TEST_F(ShareCliTest, NewContactsAreMadeInTheContactFormAndBecomeRecipients) {
  RunResult r = Alice({"share", "Contacts/Team", "--new-contact", "FullName=Gus Green", "Email1Address=gus@example.org",
                       "--source", "Contacts/Team", "--new-contact", "FullName=Hal Hill", "--save"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Pressing \"New contact...\""), HasSubstr("Typing \"Gus Green\" into FullName"),
                           HasSubstr("Typing \"gus@example.org\" into Email1Address"),
                           HasSubstr("Pressing \"Save and Close\""), HasSubstr("New recipient: Gus Green")));
  EXPECT_EQ(Selected(), (std::vector<std::string>{"Gus Green", "Hal Hill"}));
  // Made in the folder chosen in "Look in:".
  const std::string team = Ok({"-p", "alice", "contact", "list", "Contacts/Team"});
  EXPECT_THAT(team, AllOf(HasSubstr("Gus Green <gus@example.org>"), HasSubstr("Hal Hill")));
  EXPECT_THAT(Ok({"-p", "alice", "contact", "list", "Contacts"}), Not(HasSubstr("Gus Green")));
}

TEST_F(ShareCliTest, SaveAndSendDeliversTheUpdateAndMembersShowTheStamps) {
  RunResult r = Alice({"share", "Contacts/Team", "--add", "Bob Brown", "--add", "Carol Cole", "--send"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Pressing \"Save & Send\""), HasSubstr("Sent 1 update mail\n"),
                           HasSubstr("Stamped 2 of 2 recipients\n"), HasSubstr("Updateable: 1")));
  EXPECT_EQ(Delivered("bob@example.org"), 1);
  EXPECT_EQ(Delivered("carol@example.org"), 1);

  const json members = Members();
  EXPECT_EQ(members["folder"], "Personal Folders/Contacts/Team");
  EXPECT_EQ(members["updateable"], "1");
  ASSERT_EQ(members["recipients"].size(), 2u);
  for (const auto& m : members["recipients"]) {
    EXPECT_EQ(m["selected"], true);
    EXPECT_TRUE(m["lastUpdate"].is_string()) << m;
  }
  EXPECT_EQ(members["recipients"][1],
            (json{{"entryId", carol_},
                  {"name", "Carol Cole"},
                  {"address", "carol@example.org"},
                  {"selected", true},
                  {"lastUpdate", members["recipients"][1]["lastUpdate"]}}));
  const std::string text = Ok({"-p", "alice", "members", "Contacts/Team"});
  EXPECT_THAT(text, AllOf(HasSubstr("Folder:     Personal Folders/Contacts/Team\n"),
                          HasSubstr(bob_ + "  Bob Brown <bob@example.org>  selected  last update " +
                                    members["recipients"][0]["lastUpdate"].get<std::string>())));

  // Nothing changed since: Update sends nothing, and still stamps.
  r = Alice({"update", "Contacts/Team"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("No update mail was sent\n"), HasSubstr("Stamped 2 of 2 recipients\n")));
  EXPECT_EQ(Delivered("bob@example.org"), 1);
}

// "Save && Send" goes on to send when its save fails (here the key store
// refuses to switch a recipient off, through a trigger in its file): the
// command reports what the send did, fails with the save's failure, and the
// recipients stay as they were stored.
TEST_F(ShareCliTest, AFailedSaveIsReportedBesideTheSendThatFollowedIt) {
  Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Bob Brown", "--add", "Carol Cole", "--save"});
  {
    platform::sqlite::Connection keys(home_ / "alice" / "registry.db", SQLITE_OPEN_READWRITE);
    keys.Exec(
        "CREATE TRIGGER refuse_switching_off BEFORE UPDATE ON vals "
        "WHEN NEW.name = CAST('Bool' AS BLOB) AND NEW.data = X'3000' BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }
  RunResult r = Alice({"share", "Contacts/Team", "--remove", "Carol Cole", "--send"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "plexisync: the wizard did not store the recipients (see plexisync log)\n");
  EXPECT_THAT(r.out, AllOf(HasSubstr("Pressing \"Save & Send\""), HasSubstr("Sent 1 update mail\n"),
                           HasSubstr("Stamped 2 of 2 recipients\n"), HasSubstr("Updateable: 1"),
                           Not(HasSubstr("Stored "))));
  EXPECT_EQ(Selected(), (std::vector<std::string>{"Bob Brown", "Carol Cole"}));
  EXPECT_EQ(Delivered("bob@example.org"), 1);
  EXPECT_EQ(Delivered("carol@example.org"), 1);
  EXPECT_THAT(Ok({"-p", "alice", "log"}), HasSubstr("MainForm_SaveChanges"));
}

TEST_F(ShareCliTest, UpdateAsksBeforeAFullSend) {
  Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Bob Brown", "--send"});
  ASSERT_EQ(Delivered("bob@example.org"), 1);
  Ok({"-p", "alice", "options", "--set", "Send_Updated=0"});
  const json before = Members();

  // "No": nothing goes out and nobody is stamped.
  RunResult r = Alice({"update", "Contacts/Team", "--answer", "No"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Shown modally: Form ConfirmUpdate"), HasSubstr("Clicked \"No\""),
                           HasSubstr("No update mail was sent\nStamped 0 of 1 recipient\n")));
  EXPECT_EQ(Delivered("bob@example.org"), 1);
  EXPECT_EQ(Members(), before);

  // "Yes" sends every contact, although none changed.
  r = Alice({"update", "Contacts/Team", "--answer", "Yes"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Sent 1 update mail\nStamped 1 of 1 recipient\n"));
  EXPECT_EQ(Delivered("bob@example.org"), 2);
  EXPECT_EQ(RunJson({"-p", "alice", "options", "--json"})["Send_Updated"], false);

  // The ticked box turns "Send only updated items" on for good: the
  // unchanged folder then sends nothing, and nothing more is asked.
  r = Alice({"update", "Contacts/Team", "--answer", "check Check 1", "--answer", "Yes"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Prepared answer \"check Check 1\"\nSet Check to 1\nClicked \"Yes\""),
                           HasSubstr("No update mail was sent")));
  EXPECT_EQ(RunJson({"-p", "alice", "options", "--json"})["Send_Updated"], true);
  r = Alice({"update", "Contacts/Team"});
  EXPECT_THAT(r.out, Not(HasSubstr("ConfirmUpdate")));
  EXPECT_EQ(Delivered("bob@example.org"), 2);
}

// An answer that fits no choice of the window or question it meets ends
// the command with exit code 2 and one line naming the answer and the
// choices; nothing is pressed for the person, so what the question decides
// (sending, stamping the recipients, an import) does not happen.
TEST_F(ShareCliTest, AnAnswerThatFitsNoChoiceEndsTheCommandAndChangesNothing) {
  Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Bob Brown", "--send"});
  Ok({"-p", "alice", "options", "--set", "Send_Updated=0"});
  // The recipients' last updates by name.
  auto stamps = [this] {
    std::map<std::string, json> byName;
    const json members = Members();
    for (const auto& m : members["recipients"]) byName[m["name"].get<std::string>()] = m["lastUpdate"];
    return byName;
  };
  const auto stamped = stamps();
  const int delivered = Delivered("bob@example.org");
  const json team = RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"});

  const std::string confirmation = "the window \"Plexisync - Confirmation\"";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"update", "Contacts/Team", "--answer", "Yess"},
       "the answer \"Yess\" names no button or control of " + confirmation + " (Yes, No)"},
      {{"update", "Contacts/Team", "--answer", "check Check 2", "--answer", "Yes"},
       "the answer \"check Check 2\" cannot be done on " + confirmation + ": use: check NAME 0|1 on a check box"},
      // Save && Send stores Carol, then asks before the full send.
      {{"share", "Contacts/Team", "--add", "Carol Cole", "--send", "--answer", "Yess"},
       "the answer \"Yess\" names no button or control of " + confirmation + " (Yes, No)"},
      {{"import", "Contacts/Team", "--answer", "Yes"},
       "the answer \"Yes\" names no file for the file dialog \"Plexisync - Select a file to import\" "
       "(a file name, or Cancel)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> args{"-p", "alice"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = RunInChild(args);
    EXPECT_EQ(r.rc, 2) << r.out;
    EXPECT_EQ(r.err, "plexisync: " + c.message + "\n");
    for (const auto& [name, lastUpdate] : stamps()) {
      EXPECT_EQ(lastUpdate, stamped.count(name) ? stamped.at(name) : json()) << name;
    }
    EXPECT_EQ(Delivered("bob@example.org"), delivered);
    EXPECT_EQ(RunJson({"-p", "alice", "options", "--json"})["Send_Updated"], false);
    EXPECT_EQ(RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"}), team);
  }
}

TEST_F(ShareCliTest, UpdateAllSendsEveryUpdateableFolder) {
  Ok({"-p", "alice", "folder", "add", "Contacts/Club"});
  AddContact("Contacts/Club", "Ivy Irwin", "ivy@example.org");
  Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Bob Brown", "--save"});
  Ok({"-p", "alice", "share", "Contacts/Club", "--add", "Carol Cole", "--save"});
  // A recipient outside the default Contacts folder: not updateable, skipped.
  Ok({"-p", "alice", "folder", "add", "Contacts/Other"});
  AddContact("Contacts/Other", "Jo Jones", "jo@example.org");
  Ok({"-p", "alice", "share", "Contacts/Other", "--source", "Contacts/Team", "--add", "Dan Diaz", "--save"});
  ASSERT_EQ(Members("Contacts/Other")["updateable"], "2");

  // Every contact is new to its recipients.
  RunResult r = Alice({"update-all"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Updating ALL folders. Please be patient..."),
                           HasSubstr("Sent 2 update mails\nStamped 2 of 3 recipients in 3 folders\n")));
  EXPECT_EQ(Delivered("bob@example.org"), 1);
  EXPECT_EQ(Delivered("carol@example.org"), 1);
  EXPECT_EQ(Delivered("dan@example.org"), 0);

  // Nothing changed since: nothing goes out, the recipients are stamped.
  r = Alice({"update-all"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("No update mail was sent\nStamped 2 of 3 recipients in 3 folders\n"));
  EXPECT_EQ(Delivered("bob@example.org"), 1);
  EXPECT_EQ(Delivered("carol@example.org"), 1);
}

TEST_F(ShareCliTest, ListingAStoreFileNeedsAnExistingFileAndLeavesItClosed) {
  const fs::path missing = home_ / "missing.pst";
  ExpectFailure("alice", {"contact", "list", "--store", missing.string(), "Temp"}, "no such file: ");
  EXPECT_FALSE(fs::exists(missing));  // looking did not make one

  // The profile's own store file is open already: refused, not listed as a file.
  const fs::path own = home_ / "alice" / "store.db";
  ASSERT_TRUE(fs::exists(own));
  ExpectFailure("alice", {"contact", "list", "--store", own.string(), "Contacts"}, "open in this profile already");
  ExpectFailure("alice", {"contact", "list", "Contacts", "--show", "NoSuchProperty"},
                "unknown contact property: NoSuchProperty");
  EXPECT_THAT(Ok({"-p", "alice", "contact", "list", "Contacts", "--show", "CompanyName", "--show", "User4"}),
              HasSubstr("Bob Brown <bob@example.org>  CompanyName=  User4=\n"));
}

TEST_F(ShareCliTest, HelpDescribesTheSharingCommands) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"share", "--help"}, "--new-contact"}, {{"share", "--help"}, "--send"},
      {{"members", "--help"}, "--json"},      {{"update", "--help"}, "--answer PATH.pst"},
      {{"update-all", "--help"}, "Update All"}, {{"--help"}, "check Check 1"},
      {{"contact", "list", "--help"}, "--store"},
  };
  for (const auto& [args, expected] : cases) {
    RunResult r = Run(args);
    EXPECT_EQ(r.rc, 0) << ::testing::PrintToString(args);
    EXPECT_THAT(r.out, HasSubstr(expected)) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace cli::testing

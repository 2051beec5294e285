// The receiving commands of the program: send-receive applies the update
// mails that arrived (its questions answered by --answer) and reports what
// changed; import runs the add-in's import from a file into a folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "cli_fixture.hpp"

namespace cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using nlohmann::json;
namespace fs = std::filesystem;

// Alice shares Contacts/Team (Dan Diaz, Eve Evans) with Bob; Bob's profile
// exists and has fetched nothing yet.
class ReceiveCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    CreateAlice();
    CreateBob();
    Ok({"-p", "alice", "contact", "add", "Contacts", "--set", "FullName=Bob Brown", "--set",
        "Email1Address=bob@example.org"});
    Ok({"-p", "alice", "folder", "add", "Contacts/Team"});
    for (const char* name : {"Dan Diaz", "Eve Evans"}) {
      Ok({"-p", "alice", "contact", "add", "Contacts/Team", "--set", std::string("FullName=") + name, "--set",
          "JobTitle=Member"});
    }
  }

  void ShareWithBob() {
    Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Bob Brown", "--send"});
    Ok({"-p", "alice", "send-receive"});
  }

  // The contacts of one of Bob's folders by full name.
  std::map<std::string, json> BobsContacts(const std::string& folder = "Contacts/Team") {
    std::map<std::string, json> byName;
    for (const auto& c : RunJson({"-p", "bob", "contact", "list", folder, "--json"})) {
      byName[c["fullName"].get<std::string>()] = c;
    }
    return byName;
  }
};

TEST_F(ReceiveCliTest, SendReceiveAppliesTheArrivedUpdateMailAndSaysWhatChanged) {
  ShareWithBob();
  RunResult r = Run({"-p", "bob", "--batch", "send-receive"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Sent 0, received 1\n"), HasSubstr("Update mails: 1 arrived, 1 applied\n"),
                           HasSubstr("Personal Folders/Contacts/Team: new folder, 2 contacts arrived\n"),
                           // The sender becomes a contact of Bob's.
                           HasSubstr("Personal Folders/Contacts: 1 contact arrived\n"),
                           Not(HasSubstr("left in the Inbox")), Not(HasSubstr("logged an error"))));

  auto team = BobsContacts();
  ASSERT_EQ(team.size(), 2u);
  for (const auto& [name, c] : team) EXPECT_TRUE(c["unread"].get<bool>()) << name;
  EXPECT_EQ(BobsContacts("Contacts").count("Alice Adams"), 1u);
  // Nothing is left to apply: a second run changes nothing.
  r = Run({"-p", "bob", "--batch", "send-receive"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Sent 0, received 0\n"), HasSubstr("No contacts changed\n"),
                           Not(HasSubstr("Update mails:"))));
}


// Carol, who is no member of Bob's copy of Team, shares a Team folder of her
// own: her mail names the same path. Bob's program asks; without a person to
// answer, the mail waits in the Inbox and changes nothing, and Carol gets
// nothing of Bob's; the answer at the next send-receive decides.
TEST_F(ReceiveCliTest, AMailFromSomeoneWhoIsNotAMemberWaitsForTheAnswer) {
  ShareWithBob();
  Ok({"-p", "bob", "--batch", "send-receive"});
  CreateProfile("carol", "Carol Crane", "carol@example.org");
  Ok({"-p", "carol", "contact", "add", "Contacts", "--set", "FullName=Bob Brown", "--set",
      "Email1Address=bob@example.org"});
  Ok({"-p", "carol", "folder", "add", "Contacts/Team"});
  Ok({"-p", "carol", "contact", "add", "Contacts/Team", "--set", "FullName=Zed Zero"});
  Ok({"-p", "carol", "share", "Contacts/Team", "--add", "Bob Brown", "--send"});
  Ok({"-p", "carol", "send-receive"});
  const std::string question =
      "Carol Crane carol@example.org sent changes for your folder 'Team' but is not one of its members. Do you "
      "want to accept them and add Carol Crane as a member?";

  RunResult r = Run({"-p", "bob", "--batch", "send-receive"});
  EXPECT_THAT(r.out, AllOf(HasSubstr(question), HasSubstr("1 left in the Inbox")));
  EXPECT_EQ(BobsContacts().count("Zed Zero"), 0u);
  Ok({"-p", "bob", "contact", "add", "Contacts/Team", "--set", "FullName=Bob's own"});
  Ok({"-p", "bob", "--batch", "update-all"});
  EXPECT_THAT(Ok({"-p", "bob", "members", "Contacts/Team"}), Not(HasSubstr("carol@example.org")));
  r = Run({"-p", "carol", "--batch", "send-receive"});
  EXPECT_THAT(r.out, HasSubstr("Sent 0, received 0\n")) << "Carol got something of Bob's";

  // Asked again at the next send-receive; Yes takes Carol's contact and her.
  r = Run({"-p", "bob", "send-receive", "--answer", "Yes"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr(question));
  EXPECT_EQ(BobsContacts().count("Zed Zero"), 1u);
  EXPECT_THAT(Ok({"-p", "bob", "members", "Contacts/Team"}), HasSubstr("carol@example.org"));
}

TEST_F(ReceiveCliTest, EachQuestionOfAnArrivedChangeTakesTheNextAnswer) {
  ShareWithBob();
  Ok({"-p", "bob", "--batch", "send-receive"});
  const auto before = BobsContacts();
  ASSERT_EQ(before.size(), 2u);

  // Alice sends the whole folder again with both contacts changed.
  Ok({"-p", "alice", "options", "--set", "Send_Updated=0"});
  Ok({"-p", "alice", "contact", "set", "Contacts/Team", "Dan Diaz", "--set", "JobTitle=Lead"});
  Ok({"-p", "alice", "contact", "set", "Contacts/Team", "Eve Evans", "--set", "JobTitle=Lead"});
  Ok({"-p", "alice", "update", "Contacts/Team", "--answer", "Yes"});
  Ok({"-p", "alice", "send-receive"});

  // "No" for the first contact, "Yes" for the second.
  RunResult r = Run({"-p", "bob", "send-receive", "--answer", "No", "--answer", "Yes"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("changes for the Dan Diaz contact"), HasSubstr("changes for the Eve Evans contact"),
                           HasSubstr("Personal Folders/Contacts/Team: 1 replaced\n")));
  EXPECT_THAT(r.out + r.err, Not(HasSubstr("not used")));
  const auto after = BobsContacts();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after.at("Dan Diaz")["entryId"], before.at("Dan Diaz")["entryId"]);
  EXPECT_NE(after.at("Eve Evans")["entryId"], before.at("Eve Evans")["entryId"]);
  const json dan = RunJson({"-p", "bob", "contact", "show", "Contacts/Team", "Dan Diaz", "--json"});
  const json eve = RunJson({"-p", "bob", "contact", "show", "Contacts/Team", "Eve Evans", "--json"});
  EXPECT_EQ(dan.dump().find("Lead"), std::string::npos) << dan.dump();
  EXPECT_NE(eve.dump().find("Lead"), std::string::npos) << eve.dump();
}

TEST_F(ReceiveCliTest, WithoutAnswersAnArrivedChangeIsRefusedAndNothingIsReplaced) {
  ShareWithBob();
  Ok({"-p", "bob", "--batch", "send-receive"});
  const auto before = BobsContacts();
  Ok({"-p", "alice", "options", "--set", "Send_Updated=0"});
  Ok({"-p", "alice", "contact", "set", "Contacts/Team", "Dan Diaz", "--set", "JobTitle=Lead"});
  Ok({"-p", "alice", "update", "Contacts/Team", "--answer", "Yes"});
  Ok({"-p", "alice", "send-receive"});

  RunResult r = Run({"-p", "bob", "--batch", "send-receive"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Update mails: 1 arrived, 1 applied\n"), HasSubstr("No contacts changed\n")));
  const auto after = BobsContacts();
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, c] : before) EXPECT_EQ(after.at(name)["entryId"], c["entryId"]) << name;
}

// A typo in an answer must not be taken for "No": the command ends with
// exit code 2 at the question, and the contact keeps what it had.
TEST_F(ReceiveCliTest, AnAnswerThatNamesNoButtonEndsTheCommandAndTheContactIsNotChanged) {
  ShareWithBob();
  Ok({"-p", "bob", "--batch", "send-receive"});
  const auto before = BobsContacts();
  Ok({"-p", "alice", "options", "--set", "Send_Updated=0"});
  Ok({"-p", "alice", "contact", "set", "Contacts/Team", "Dan Diaz", "--set", "JobTitle=Lead"});
  Ok({"-p", "alice", "update", "Contacts/Team", "--answer", "Yes"});
  Ok({"-p", "alice", "send-receive"});

  RunResult r = RunInChild({"-p", "bob", "--answer", "Yess", "--answer", "Yes", "send-receive"});
  EXPECT_EQ(r.rc, 2) << r.out;
  EXPECT_EQ(r.err,
            "plexisync: the answer \"Yess\" names no button of the question (Yes, Yes to All, No, No to All)\n");
  EXPECT_THAT(r.out, AllOf(HasSubstr("changes for the Dan Diaz contact"), Not(HasSubstr("Clicked"))));

  const auto after = BobsContacts();
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, c] : before) EXPECT_EQ(after.at(name)["entryId"], c["entryId"]) << name;
  const json dan = RunJson({"-p", "bob", "contact", "show", "Contacts/Team", "Dan Diaz", "--json"});
  EXPECT_EQ(dan.dump().find("Lead"), std::string::npos) << dan.dump();

  // The change is not lost: the next send/receive asks again and applies it.
  const std::string again = Ok({"-p", "bob", "--answer", "Yes", "send-receive"});
  EXPECT_THAT(again, HasSubstr("changes for the Dan Diaz contact"));
  const json changed = RunJson({"-p", "bob", "contact", "show", "Contacts/Team", "Dan Diaz", "--json"});
  EXPECT_NE(changed.dump().find("Lead"), std::string::npos) << changed.dump();
  EXPECT_EQ(BobsContacts().size(), before.size());
}

// The import command's refusals: each is one line and changes nothing.
TEST_F(ReceiveCliTest, ImportRefusesWhatCannotBeImported) {
  const fs::path notPst = home_ / "team.txt";
  std::ofstream(notPst) << "not a personal-folders file";
  const fs::path badPst = home_ / "broken.pst";
  std::ofstream(badPst) << "not a personal-folders file either";
  const auto before = RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"});

  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"import", "Contacts/Nowhere"}, "no such folder: Contacts/Nowhere"},
      {{"import", "Inbox"}, "not a contacts folder: Personal Folders/Inbox"},
      {{"--batch", "import", "Contacts/Team"}, "nothing was imported into Personal Folders/Contacts/Team"},
      {{"import", "Contacts/Team", "--answer", notPst.string()}, "nothing was imported"},
      {{"import", "Contacts/Team", "--answer", badPst.string()}, "nothing was imported"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ExpectFailure("alice", c.args, c.error);
  }
  RunResult r = Run({"-p", "alice", "import", "Contacts/Team", "--answer", badPst.string()});
  EXPECT_THAT(r.out, HasSubstr("Cannot load the selected file. Unknown format."));
  EXPECT_EQ(RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"}), before);
}

// A member far behind gets the folder as a file and imports it.
TEST_F(ReceiveCliTest, ImportBringsEveryContactOfTheExportOnce) {
  // The export goes to members not updated yet when the folder holds more
  // contacts than the threshold; the smallest threshold is 200.
  Ok({"-p", "alice", "options", "--set", "Kiek=200"});
  for (int i = 0; i < 199; ++i) {
    Ok({"-p", "alice", "contact", "add", "Contacts/Team", "--set", "FullName=Member " + std::to_string(i)});
  }
  const fs::path file = home_ / "team.pst";
  Ok({"-p", "alice", "share", "Contacts/Team", "--add", "Bob Brown", "--save"});
  RunResult r = Run({"-p", "alice", "update", "Contacts/Team", "--answer", file.string()});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  ASSERT_TRUE(fs::exists(file)) << r.out;
  Ok({"-p", "alice", "send-receive"});

  // The import mail makes the folder; the file fills it.
  r = Run({"-p", "bob", "--batch", "send-receive"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Personal Folders/Contacts/Team: new folder, 0 contacts arrived\n"));
  r = Run({"-p", "bob", "import", "Contacts/Team", "--answer", file.string(), "--answer", "OK"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Import successful!"), HasSubstr("Personal Folders/Contacts/Team: 201 contacts arrived\n")));
  const auto team = BobsContacts();
  EXPECT_EQ(team.size(), 201u);
  // Importing the same file again replaces each contact, never doubles it.
  r = Run({"-p", "bob", "import", "Contacts/Team", "--answer", file.string(), "--answer", "OK"});
  ASSERT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Personal Folders/Contacts/Team: 201 replaced\n"));
  EXPECT_EQ(BobsContacts().size(), 201u);
}

}  // namespace
}  // namespace cli::testing

// The plexisync program, run in-process on a scratch $PLEXISYNC_HOME.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "cli/commands.hpp"
#include "host/profile.hpp"
#include "cli_fixture.hpp"

namespace cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using nlohmann::json;

std::string ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

// ---- Help and the command line ----

TEST_F(CliTest, HelpOnEveryCommandSucceedsAndDescribesIt) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--help"}, "send-receive"},
      {{"profile", "--help"}, "create"},
      {{"profile", "create", "--help"}, "--address"},
      {{"profile", "show", "--help"}, "--json"},
      {{"folder", "add", "--help"}, "PATH"},
      {{"folder", "list", "--help"}, "--json"},
      {{"contact", "add", "--help"}, "--set"},
      {{"contact", "list", "--help"}, "--unread"},
      {{"contact", "show", "--help"}, "CONTACT"},
      {{"mail", "send", "--help"}, "--attach"},
      {{"mail", "show", "--help"}, "--save-attachments"},
      {{"send-receive", "--help"}, "send-receive"},
      {{"options", "--help"}, "--cancel"},
      {{"my-addresses", "--help"}, "--remove"},
      {{"log", "--help"}, "log"},
      {{"repair", "--help"}, "repair"},
  };
  for (const auto& [args, expected] : cases) {
    RunResult r = Run(args);
    EXPECT_EQ(r.rc, 0) << ::testing::PrintToString(args);
    EXPECT_THAT(r.out, HasSubstr(expected)) << ::testing::PrintToString(args);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CliTest, BadCommandLinesFailWithOneLineAndCodeTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"profile"},
      {"profile", "create", "x"},                       // --name and --address missing
      {"contact", "set", "Contacts", "Bob"},            // --set missing
      {"mail", "send", "--to", "a@example.org"},        // --subject missing
      {"folder", "list", "--bogus"},
  };
  for (const auto& args : cases) {
    RunResult r = Run(args);
    EXPECT_EQ(r.rc, 2) << ::testing::PrintToString(args);
    EXPECT_THAT(r.err, HasSubstr("plexisync: ")) << ::testing::PrintToString(args);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

TEST_F(CliTest, UnknownProfileFailsWithCodeOne) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-p", "nobody", "folder", "list"}, {"profile", "show", "nobody"}, {"folder", "list"}}) {
    RunResult r = Run(args);
    EXPECT_EQ(r.rc, 1);
    EXPECT_THAT(r.err, HasSubstr("no such profile:")) << ::testing::PrintToString(args);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// ---- Profiles and the first start ----

TEST_F(CliTest, ProfileCreateRunsTheFirstStartWithPreparedAnswers) {
  RunResult r = Run({"profile", "create", "alice", "--name", "Alice Adams", "--address", "alice@example.org",
                     "--answer", "OK", "--answer", "Yes", "--answer", "OK"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("You have launched Plexisync for the first time."));
  EXPECT_THAT(r.out, HasSubstr("A program is trying to access e-mail addresses"));
  EXPECT_THAT(r.out, HasSubstr("frmMyMails"));
  EXPECT_THAT(r.out, Not(HasSubstr("not used")));
  EXPECT_EQ(RunJson({"-p", "alice", "my-addresses", "--json"}), json::array({"alice@example.org"}));

  // The second start asks nothing.
  RunResult again = Run({"-p", "alice", "folder", "list"});
  EXPECT_EQ(again.rc, 0);
  EXPECT_THAT(again.out, Not(HasSubstr("first time")));
}

TEST_F(CliTest, AnAnswerThatFitsNoButtonEndsTheCommandWhereItIsMet) {
  // "No" does not fit the OK-only greeting of the first start: the command
  // ends there, before the access question and the own-address window.
  RunResult r = RunInChild({"profile", "create", "carol", "--name", "Carol", "--address", "carol@example.org",
                            "--answer", "No", "--answer", "Yes", "--answer", "OK"});
  EXPECT_EQ(r.rc, 2) << r.out;
  EXPECT_EQ(r.err, "plexisync: the answer \"No\" names no button of the question (OK)\n");
  EXPECT_THAT(r.out, HasSubstr("You have launched Plexisync for the first time."));
  EXPECT_THAT(r.out, Not(HasSubstr("Security Warning")));
  // The profile opens again at once (its lock ended with the process) and
  // its own-address list was never filled in.
  EXPECT_EQ(RunJson({"-p", "carol", "--batch", "my-addresses", "--json"}), json::array());
}

TEST_F(CliTest, UnusedAnswersAreNotedOnTheErrorOutput) {
  CreateAlice();
  RunResult r = Run({"-p", "alice", "--answer", "Yes", "--answer", "No", "folder", "list"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.err, "plexisync: 2 prepared answers were not used\n");
  EXPECT_THAT(r.out, Not(HasSubstr("not used")));
}

TEST_F(CliTest, WithoutAnswersTheFirstStartChangesNothing) {
  RunResult r = Run({"profile", "create", "dave", "--name", "Dave", "--address", "dave@example.org", "--batch"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("No answer given; taking No"));
  EXPECT_EQ(RunJson({"-p", "dave", "my-addresses", "--json"}), json::array());
}

TEST_F(CliTest, ProfileShowAndListDescribeProfiles) {
  CreateAlice();
  CreateBob();
  json shown = RunJson({"-p", "alice", "profile", "show", "--json"});
  EXPECT_EQ(shown["profile"], "alice");
  EXPECT_EQ(shown["name"], "Alice Adams");
  EXPECT_EQ(shown["address"], "alice@example.org");
  EXPECT_EQ(shown["postOffice"], (home_ / "postoffice").string());
  EXPECT_EQ(shown["dir"], (home_ / "alice").string());

  EXPECT_EQ(RunJson({"profile", "show", "bob", "--json"})["address"], "bob@example.org");
  json listed = RunJson({"profile", "list", "--json"});
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["profile"], "alice");
  EXPECT_EQ(listed[1]["address"], "bob@example.org");
  EXPECT_THAT(Ok({"-p", "alice", "profile", "show"}), HasSubstr("Address:     alice@example.org"));
}

TEST_F(CliTest, ProfileCreateRefusesAnExistingProfile) {
  CreateAlice();
  RunResult r = Run({"profile", "create", "alice", "--name", "A", "--address", "a@example.org", "--batch"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_THAT(r.err, HasSubstr("profile already exists: alice"));
}

TEST_F(CliTest, ProfilesAreChosenByEnvironmentOrPath) {
  CreateAlice();
  ::setenv("PLEXISYNC_PROFILE", "alice", 1);
  EXPECT_EQ(RunJson({"profile", "show", "--json"})["name"], "Alice Adams");
  ::unsetenv("PLEXISYNC_PROFILE");
  EXPECT_EQ(RunJson({"-p", (home_ / "alice").string(), "profile", "show", "--json"})["name"], "Alice Adams");
  // Options of the program may follow the command.
  EXPECT_EQ(RunJson({"profile", "show", "--json", "-p", "alice"})["name"], "Alice Adams");
}

TEST_F(CliTest, JsonOutputStaysCleanWhenTheStartAsksQuestions) {
  // A profile that was never started: its first start greets and asks, and
  // those questions go to the error stream, not into the JSON.
  host::Profile::Create(home_ / "erin", "Erin", "erin@example.org", home_ / "postoffice");
  RunResult r = Run({"-p", "erin", "my-addresses", "--json", "--answer", "OK", "--answer", "Yes", "--answer", "OK"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(json::parse(r.out), json::array({"erin@example.org"}));
  EXPECT_THAT(r.err, HasSubstr("You have launched Plexisync for the first time."));
}

// ---- Folders ----

TEST_F(CliTest, FolderAddMakesContactsFoldersWithMissingParents) {
  CreateAlice();
  RunResult r = Run({"-p", "alice", "folder", "add", "Contacts/Team/Europe"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Created contacts folder Personal Folders/Contacts/Team\n"));
  EXPECT_THAT(r.out, HasSubstr("Created contacts folder Personal Folders/Contacts/Team/Europe\n"));

  json folders = RunJson({"-p", "alice", "folder", "list", "--json"});
  std::map<std::string, json> byPath;
  for (const auto& f : folders) byPath[f["path"]] = f;
  ASSERT_TRUE(byPath.count("Personal Folders/Contacts/Team/Europe")) << folders.dump(2);
  const json& europe = byPath["Personal Folders/Contacts/Team/Europe"];
  EXPECT_EQ(europe["name"], "Europe");
  EXPECT_EQ(europe["itemType"], "contacts");
  EXPECT_EQ(europe["items"], 0);
  EXPECT_EQ(europe["unread"], 0);
  EXPECT_FALSE(europe["entryId"].get<std::string>().empty());
  EXPECT_EQ(byPath["Personal Folders/Inbox"]["itemType"], "mail");

  // A full path from the store's top folder names the same folders.
  ASSERT_EQ(Run({"-p", "alice", "folder", "add", "Personal Folders/Projects"}).rc, 0);
  EXPECT_THAT(Ok({"-p", "alice", "folder", "list"}), HasSubstr("Personal Folders/Projects  (contacts"));
}

TEST_F(CliTest, FolderErrorsNameTheFolder) {
  CreateAlice();
  ASSERT_EQ(Run({"-p", "alice", "folder", "add", "Contacts/Team"}).rc, 0);
  const std::vector<std::tuple<std::vector<std::string>, std::string>> cases = {
      {{"folder", "add", "Contacts/Team"}, "folder already exists: Contacts/Team"},
      {{"folder", "delete", "Contacts/Nowhere"}, "no such folder: Contacts/Nowhere"},
      {{"folder", "delete", "contacts/team"}, "no such folder: contacts/team"},  // names are case-sensitive
      {{"folder", "delete", "Inbox"}, "cannot be deleted"},
      {{"contact", "list", "Nowhere"}, "no such folder: Nowhere"},
      {{"contact", "add", "Inbox", "--set", "FullName=X"}, "not a contacts folder: Inbox"},
      {{"mail", "list", "Drafts"}, "no such folder: Drafts"},
  };
  for (const auto& [args, message] : cases) ExpectFailure("alice", args, message);
}

TEST_F(CliTest, FolderDeleteMovesTheFolderToDeletedItems) {
  CreateAlice();
  ASSERT_EQ(Run({"-p", "alice", "folder", "add", "Contacts/Team"}).rc, 0);
  RunResult r = Run({"-p", "alice", "folder", "delete", "Contacts/Team"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Deleted folder Personal Folders/Contacts/Team"));
  EXPECT_EQ(Run({"-p", "alice", "contact", "list", "Contacts/Team"}).rc, 1);
  EXPECT_EQ(Run({"-p", "alice", "contact", "list", "Deleted Items/Team"}).rc, 0);
}

// ---- Contacts ----

class ContactCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    CreateAlice();
    ASSERT_EQ(Run({"-p", "alice", "folder", "add", "Contacts/Team"}).rc, 0);
  }
  std::string Add(const std::vector<std::string>& sets) {
    std::vector<std::string> args{"-p", "alice", "contact", "add", "Contacts/Team"};
    for (const auto& s : sets) {
      args.push_back("--set");
      args.push_back(s);
    }
    return LastLine(Ok(args));
  }
};

TEST_F(ContactCliTest, AddPrintsTheEntryIdAndListShowsTheContact) {
  const std::string id = Add({"FullName=Carol Cole", "Email1Address=carol@example.org", "CompanyName=Cole & Co"});
  EXPECT_EQ(id.size(), 48u) << id;

  json list = RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["entryId"], id);
  EXPECT_EQ(list[0]["fullName"], "Carol Cole");
  EXPECT_EQ(list[0]["email"], "carol@example.org");
  EXPECT_EQ(list[0]["companyName"], "Cole & Co");
  EXPECT_EQ(list[0]["unread"], false);
  EXPECT_TRUE(list[0]["lastModified"].is_string());

  EXPECT_THAT(Ok({"-p", "alice", "contact", "list", "Contacts/Team"}),
              HasSubstr(id + "  Carol Cole <carol@example.org>"));
}

TEST_F(ContactCliTest, ShowGivesTypedPropertiesInTheirTextForm) {
  const std::string id = Add({"FullName=Carol Cole", "Birthday=6/15/1990", "Gender=2", "Journal=True",
                              "BusinessAddress=1 Main St"});
  json c = RunJson({"-p", "alice", "contact", "show", "Contacts/Team", id, "--json"});
  EXPECT_EQ(c["entryId"], id);
  EXPECT_EQ(c["folder"], "Personal Folders/Contacts/Team");
  EXPECT_EQ(c["properties"]["FullName"], "Carol Cole");
  EXPECT_EQ(c["properties"]["Birthday"], "6/15/1990");
  EXPECT_EQ(c["properties"]["Gender"], "2");
  EXPECT_EQ(c["properties"]["Journal"], "True");
  EXPECT_EQ(c["properties"]["BusinessAddress"], "1 Main St");
  EXPECT_EQ(c["properties"]["EntryID"], id);
  EXPECT_FALSE(c["properties"].contains("Email2Address"));  // defaults are left out

  EXPECT_THAT(Ok({"-p", "alice", "contact", "show", "Contacts/Team", "Carol Cole"}),
              AllOf(HasSubstr("Birthday:"), HasSubstr("6/15/1990"), HasSubstr("FullName:")));
}

TEST_F(ContactCliTest, SetFindsTheContactByNameOrEntryId) {
  const std::string id = Add({"FullName=Carol Cole"});
  ASSERT_EQ(Run({"-p", "alice", "contact", "set", "Contacts/Team", "Carol Cole", "--set", "JobTitle=Boss"}).rc, 0);
  ASSERT_EQ(Run({"-p", "alice", "contact", "set", "Contacts/Team", id, "--set", "FullName=Carol King"}).rc, 0);
  json c = RunJson({"-p", "alice", "contact", "show", "Contacts/Team", "Carol King", "--json"});
  EXPECT_EQ(c["entryId"], id);
  EXPECT_EQ(c["properties"]["JobTitle"], "Boss");
}

TEST_F(ContactCliTest, BadPropertiesAndContactsFailNamingWhatIsWrong) {
  Add({"FullName=Carol Cole"});
  Add({"FullName=Twin"});
  Add({"FullName=Twin"});
  const std::vector<std::tuple<std::vector<std::string>, std::string>> cases = {
      {{"contact", "add", "Contacts/Team", "--set", "Nickname2=x"}, "unknown contact property: Nickname2"},
      {{"contact", "add", "Contacts/Team", "--set", "FullName"}, "expected Property=Value"},
      {{"contact", "add", "Contacts/Team", "--set", "Birthday=15.6.1990"}, "malformed value for Birthday"},
      {{"contact", "add", "Contacts/Team", "--set", "Gender=male"}, "malformed value for Gender"},
      {{"contact", "add", "Contacts/Team", "--set", "Journal=maybe"}, "malformed value for Journal"},
      {{"contact", "add", "Contacts/Team", "--set", "EntryID=00"}, "read-only contact property: EntryID"},
      {{"contact", "set", "Contacts/Team", "Nobody", "--set", "FullName=x"}, "no such contact in Contacts/Team: Nobody"},
      {{"contact", "show", "Contacts/Team", "Twin"}, "ambiguous contact"},
      {{"contact", "delete", "Contacts/Team", "00000000"}, "no such contact"},
  };
  for (const auto& [args, message] : cases) ExpectFailure("alice", args, message);
  // Nothing was added by the failed commands.
  EXPECT_EQ(RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"}).size(), 3u);
}

TEST_F(ContactCliTest, ListUnreadAndDelete) {
  const std::string read = Add({"FullName=Read One"});
  const std::string unread = Add({"FullName=New One", "UnRead=True"});
  json only = RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--unread", "--json"});
  ASSERT_EQ(only.size(), 1u);
  EXPECT_EQ(only[0]["entryId"], unread);
  EXPECT_EQ(only[0]["unread"], true);

  RunResult r = Run({"-p", "alice", "contact", "delete", "Contacts/Team", "Read One"});
  ASSERT_EQ(r.rc, 0) << r.err;
  json rest = RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"});
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0]["entryId"], unread);
  EXPECT_EQ(RunJson({"-p", "alice", "contact", "list", "Deleted Items", "--json"}).size(), 1u);
}

// ---- Mail ----

TEST_F(CliTest, MailWithAnAttachmentTravelsBetweenProfiles) {
  CreateAlice();
  CreateBob();
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 37) & 0xFF);
  const auto file = home_ / "report.bin";
  WriteBytes(file, bytes);

  RunResult sent = Run({"-p", "alice", "mail", "send", "--to", "Bob Brown <bob@example.org>", "--cc",
                        "carol@example.org", "--subject", "Quarterly report", "--body", "See the attachment.\nBye",
                        "--attach", file.string()});
  ASSERT_EQ(sent.rc, 0) << sent.err;
  EXPECT_THAT(sent.out, HasSubstr("is in the Outbox"));
  EXPECT_EQ(RunJson({"-p", "alice", "mail", "list", "Outbox", "--json"}).size(), 1u);

  EXPECT_THAT(Ok({"-p", "alice", "send-receive"}), HasSubstr("Sent 1, received 0"));
  EXPECT_EQ(RunJson({"-p", "alice", "mail", "list", "Outbox", "--json"}).size(), 0u);
  EXPECT_EQ(RunJson({"-p", "alice", "mail", "list", "Sent Items", "--json"}).size(), 1u);
  EXPECT_THAT(Ok({"-p", "bob", "send-receive"}), HasSubstr("Sent 0, received 1"));

  json inbox = RunJson({"-p", "bob", "mail", "list", "--json"});
  ASSERT_EQ(inbox.size(), 1u);
  const json& m = inbox[0];
  EXPECT_EQ(m["subject"], "Quarterly report");
  EXPECT_EQ(m["from"]["name"], "Alice Adams");
  EXPECT_EQ(m["from"]["address"], "alice@example.org");
  EXPECT_EQ(m["unread"], true);
  ASSERT_EQ(m["attachments"].size(), 1u);
  EXPECT_EQ(m["attachments"][0]["name"], "report.bin");
  EXPECT_EQ(m["attachments"][0]["size"], 5000);
  EXPECT_TRUE(m["received"].is_string());

  const auto saveDir = home_ / "saved";
  json shown = RunJson({"-p", "bob", "mail", "show", "Inbox", m["entryId"], "--json", "--save-attachments",
                        saveDir.string()});
  EXPECT_EQ(shown["body"], "See the attachment.\r\nBye");
  EXPECT_EQ(shown["toList"][0]["address"], "bob@example.org");
  EXPECT_EQ(shown["ccList"][0]["address"], "carol@example.org");
  EXPECT_EQ(shown["folder"], "Personal Folders/Inbox");
  ASSERT_EQ(shown["saved"].size(), 1u);
  EXPECT_EQ(ReadBytes(saveDir / "report.bin"), bytes);

  RunResult text = Run({"-p", "bob", "mail", "show", "Inbox", m["entryId"]});
  EXPECT_THAT(text.out, AllOf(HasSubstr("From:     Alice Adams <alice@example.org>"),
                              HasSubstr("Attached: report.bin (5000 bytes)"), HasSubstr("See the attachment.\nBye\n")));
}

TEST_F(CliTest, ControlCharactersFromMailDoNotReachTheTerminal) {
  CreateAlice();
  CreateBob();
  ASSERT_EQ(Run({"-p", "alice", "mail", "send", "--to", "bob@example.org", "--subject", "Hi \x1b[2J there",
                 "--body", "line\x1b]0;title\x07" "end"})
                .rc,
            0);
  Ok({"-p", "alice", "send-receive"});
  Ok({"-p", "bob", "send-receive"});
  const std::string id = RunJson({"-p", "bob", "mail", "list", "--json"})[0]["entryId"];
  const std::string text = Ok({"-p", "bob", "mail", "show", "Inbox", id});
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
  EXPECT_EQ(text.find('\x07'), std::string::npos) << text;
  EXPECT_THAT(text, HasSubstr("line?]0;title?end"));
  EXPECT_EQ(Ok({"-p", "bob", "mail", "list"}).find('\x1b'), std::string::npos);
  // JSON keeps the text as it arrived, escaped.
  EXPECT_EQ(RunJson({"-p", "bob", "mail", "show", "Inbox", id, "--json"})["body"], "line\x1b]0;title\x07" "end");
}

TEST_F(CliTest, MailErrors) {
  CreateAlice();
  const std::vector<std::tuple<std::vector<std::string>, std::string>> cases = {
      {{"mail", "send", "--to", "b@example.org", "--subject", "s", "--attach", (home_ / "missing").string()},
       "cannot read attachment"},
      {{"mail", "send", "--to", " ", "--subject", "s"}, "no recipient"},
      {{"mail", "show", "Inbox", "0123"}, "no such mail in Inbox: 0123"},
  };
  for (const auto& [args, message] : cases) ExpectFailure("alice", args, message);
  EXPECT_EQ(RunJson({"-p", "alice", "mail", "list", "Outbox", "--json"}).size(), 0u);
}

TEST_F(CliTest, RecipientsThatAreNotAddressesAreRefusedAndNothingIsSent) {
  CreateAlice();
  CreateBob();
  const std::vector<std::tuple<std::vector<std::string>, std::string>> cases = {
      {{"--to", "bob"}, "--to: not an e-mail address: bob"},
      {{"--to", "bob@example.org", "--to", "carol"}, "--to: not an e-mail address: carol"},
      {{"--to", "bob@example.org; Carol Smith"}, "--to: not an e-mail address: Carol Smith"},
      {{"--to", "bob@example.org", "--cc", "not an address"}, "--cc: not an e-mail address: not an address"},
      {{"--to", "bob@example.org", "--bcc", "x@nodot"}, "--bcc: not an e-mail address: x@nodot"},
      {{"--to", "Bob <bob@example.org> , a@@example.org"}, "--to: not an e-mail address: a@@example.org"},
      {{"--to", "bob@example.org", "--cc", "line\nbreak@example.org"}, "--cc: not an e-mail address: line break"},
  };
  for (const auto& [recipients, message] : cases) {
    std::vector<std::string> args{"mail", "send", "--subject", "s"};
    args.insert(args.end(), recipients.begin(), recipients.end());
    ExpectFailure("alice", args, message);
  }
  EXPECT_EQ(RunJson({"-p", "alice", "mail", "list", "Outbox", "--json"}).size(), 0u);
  EXPECT_THAT(Ok({"-p", "alice", "send-receive"}), HasSubstr("Sent 0, received 0"));
  EXPECT_THAT(Ok({"-p", "bob", "send-receive"}), HasSubstr("Sent 0, received 0"));
  // No mailbox was made for a word taken as an address.
  std::vector<std::string> boxes;
  for (const auto& e : std::filesystem::directory_iterator(home_ / "postoffice")) {
    boxes.push_back(e.path().filename().string());
  }
  std::sort(boxes.begin(), boxes.end());
  EXPECT_THAT(boxes, ::testing::IsSubsetOf(std::vector<std::string>{"alice@example.org", "bob@example.org"}));
}

TEST_F(CliTest, ProfileCreateRefusesAnAddressThatIsNotOne) {
  for (const std::string bad : {"not an address", "bob", "bob@localhost.", "a@b@example.org", "Bob <bob@example.org>",
                                "bob@example.org; carol@example.org"}) {
    RunResult r = Run({"profile", "create", "p", "--name", "P", "--address", bad, "--batch"});
    EXPECT_EQ(r.rc, 1) << bad;
    EXPECT_THAT(r.err, HasSubstr("--address: not an e-mail address: " + bad));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(host::Profile::Exists(home_ / "p")) << bad;
  }
  // Blanks around a good address are dropped.
  ASSERT_EQ(Run({"profile", "create", "p", "--name", "P", "--address", " p@example.org ", "--batch"}).rc, 0);
  EXPECT_EQ(RunJson({"profile", "show", "p", "--json"})["address"], "p@example.org");
}

TEST_F(CliTest, SavedAttachmentNamesStayInsideTheFolder) {
  EXPECT_EQ(SafeFileName("report.pdf"), "report.pdf");
  EXPECT_EQ(SafeFileName("../../etc/passwd"), "passwd");
  EXPECT_EQ(SafeFileName("C:\\Windows\\evil.exe"), "evil.exe");
  EXPECT_EQ(SafeFileName(".."), "attachment");
  EXPECT_EQ(SafeFileName(""), "attachment");
  EXPECT_EQ(SafeFileName("a\nb\x01.txt"), "ab.txt");
  EXPECT_LE(SafeFileName(std::string(1000, 'x')).size(), 200u);
}

// ---- The add-in's windows ----

TEST_F(CliTest, OptionsShowTheStoredSettings) {
  CreateAlice();
  json o = RunJson({"-p", "alice", "options", "--json"});
  EXPECT_EQ(o["Send_Updated"], true);
  EXPECT_EQ(o["Dont_Send_Comments"], false);
  EXPECT_EQ(o["Dont_Receive"], false);
  EXPECT_EQ(o["Export"], true);
  EXPECT_EQ(o["Kiek"], 500);
  EXPECT_EQ(o["AutoUpdate"], true);
  EXPECT_TRUE(o["GMT"].is_string());
  EXPECT_THAT(Ok({"-p", "alice", "options"}), HasSubstr("Send only updated items"));
}

TEST_F(CliTest, OptionsSetPressesOkAndCancelKeepsTheStoredValues) {
  CreateAlice();
  RunResult r = Run({"-p", "alice", "options", "--set", "Export=off", "--set", "Kiek=1000", "--set", "GMT=+2:00",
                     "--set", "dont_receive=on"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Pressing \"OK\""), HasSubstr("Stored Kiek: 500 -> 1000")));
  json o = RunJson({"-p", "alice", "options", "--json"});
  EXPECT_EQ(o["Export"], false);
  EXPECT_EQ(o["Kiek"], 1000);
  EXPECT_EQ(o["GMT"], "+2:00");
  EXPECT_EQ(o["Dont_Receive"], true);

  RunResult c = Run({"-p", "alice", "options", "--set", "Export=1", "--set", "Kiek=5000", "--cancel"});
  ASSERT_EQ(c.rc, 0) << c.err;
  EXPECT_THAT(c.out, HasSubstr("Nothing stored"));
  EXPECT_EQ(RunJson({"-p", "alice", "options", "--json"}), o);
}

TEST_F(CliTest, OptionsRefuseUnknownSettingsAndValues) {
  CreateAlice();
  ASSERT_EQ(Run({"-p", "alice", "options", "--set", "Export=0"}).rc, 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Colour=red", "unknown setting: Colour"},
      {"Export=maybe", "malformed value for Export"},
      {"Kiek=300", "malformed value for Kiek"},
      {"GMT=+13:00", "malformed value for GMT"},
      {"GMT", "expected NAME=VALUE"},
      {"Kiek=200", "Kiek cannot be changed while Export is off"},
  };
  for (const auto& [set, message] : cases) {
    RunResult r = Run({"-p", "alice", "options", "--set", set});
    EXPECT_EQ(r.rc, 1) << set;
    EXPECT_THAT(r.err, HasSubstr(message)) << set;
  }
  EXPECT_EQ(RunJson({"-p", "alice", "options", "--json"})["Kiek"], 500);
}

TEST_F(CliTest, MyAddressesAddAndRemoveThroughTheWindow) {
  CreateAlice();
  RunResult r = Run({"-p", "alice", "my-addresses", "--add", "a.adams@work.example", "--add", "alice@example.org",
                     "--add", "Alice@Example.org"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Already listed: alice@example.org"));
  EXPECT_EQ(RunJson({"-p", "alice", "my-addresses", "--json"}),
            json::array({"alice@example.org", "a.adams@work.example", "Alice@Example.org"}));

  ASSERT_EQ(Run({"-p", "alice", "my-addresses", "--remove", "alice@example.org"}).rc, 0);
  EXPECT_EQ(RunJson({"-p", "alice", "my-addresses", "--json"}),
            json::array({"a.adams@work.example", "Alice@Example.org"}));
  EXPECT_THAT(Ok({"-p", "alice", "my-addresses"}), HasSubstr("a.adams@work.example\n"));

  RunResult bad = Run({"-p", "alice", "my-addresses", "--remove", "nobody@example.org"});
  EXPECT_EQ(bad.rc, 1);
  EXPECT_THAT(bad.err, HasSubstr("not an own address: nobody@example.org"));
}

TEST_F(CliTest, LogPrintsTheErrorLog) {
  CreateAlice();
  EXPECT_THAT(Ok({"-p", "alice", "log"}), HasSubstr("The error log is empty"));
  WriteBytes(home_ / "alice" / "install" / "errors.log", "6/15/2026 9:00:00 AM\r\nSomething failed\r\n");
  EXPECT_EQ(Ok({"-p", "alice", "log"}), "6/15/2026 9:00:00 AM\nSomething failed\n");
  WriteBytes(home_ / "alice" / "install" / "errors.log", "");
  EXPECT_THAT(Ok({"-p", "alice", "log"}), HasSubstr("The error log is empty"));
}

TEST_F(CliTest, ALogThatCannotBeReadIsAnErrorNotAnEmptyLog) {
  CreateAlice();
  const auto log = home_ / "alice" / "install" / "errors.log";
  std::filesystem::remove(log);
  std::filesystem::create_directory(log);
  ExpectFailure("alice", {"log"}, "cannot be read");
}

TEST_F(CliTest, RepairRunsThroughTheOptionsWindowAndShowsProgress) {
  CreateAlice();
  RunResult r = Run({"-p", "alice", "repair"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_THAT(r.out, AllOf(HasSubstr("Pressing \"Update and repair database\""), HasSubstr("Updating database..."),
                           HasSubstr("Update successful!"), HasSubstr("The database was repaired")));
}

}  // namespace
}  // namespace cli::testing

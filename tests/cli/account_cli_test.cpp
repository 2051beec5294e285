// The mail account on the command line: profile create/set/show with the
// account options, and send-receive through the real test servers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_fixture.hpp"
#include "platform/textfile.hpp"
#include "support/mail_servers.hpp"

namespace cli::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using nlohmann::json;

class AccountCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    secretFile_ = (home_ / "secret").string();
    platform::WriteTextFile(secretFile_, std::string(kSecret) + "\n");
    caFile_ = (home_ / "ca.pem").string();
    platform::WriteTextFile(caFile_, "-----BEGIN CERTIFICATE-----\n");
  }
  std::string ProfileJson(const std::string& name) { return platform::ReadTextFile(home_ / name / "profile.json"); }

  static constexpr const char* kSecret = "Tr0ub4dor-and-3";
  std::string secretFile_, caFile_;
};

TEST_F(AccountCliTest, CreateSetAndShowTheAccount) {
  RunResult created = Run({"profile", "create", "alice", "--name", "Alice Adams", "--address", "alice@example.org",
                           "--smtp", "smtps://mail.example.org", "--imap", "imaps://mail.example.org:10993",
                           "--user", "alice", "--password-command", "cat '" + secretFile_ + "'", "--ca-file",
                           caFile_, "--answer", "OK", "--answer", "Yes", "--answer", "OK"});
  ASSERT_EQ(created.rc, 0) << created.out << created.err;
  EXPECT_THAT(created.out, HasSubstr("Mail goes out through smtps://mail.example.org and comes in from "
                                     "imaps://mail.example.org:10993"));

  json shown = RunJson({"profile", "show", "alice", "--json"});
  EXPECT_EQ(shown["account"], (json{{"smtp", "smtps://mail.example.org"},
                                    {"imap", "imaps://mail.example.org:10993"},
                                    {"user", "alice"},
                                    {"passwordCommand", "cat '" + secretFile_ + "'"},
                                    {"caFile", caFile_}}));
  const std::string text = Ok({"profile", "show", "alice"});
  EXPECT_THAT(text, HasSubstr("SMTP server: smtps://mail.example.org\n"));
  EXPECT_THAT(text, HasSubstr("IMAP server: imaps://mail.example.org:10993\n"));
  EXPECT_THAT(text, HasSubstr("User:        alice\n"));
  EXPECT_THAT(text, HasSubstr("Password:    printed by cat '" + secretFile_ + "'\n"));
  EXPECT_THAT(text, HasSubstr("CA file:     " + caFile_ + "\n"));

  // Changes: one option changes one setting, an empty value removes it.
  struct Step {
    std::vector<std::string> options;
    json account;
  } steps[] = {
      {{"--smtp", "smtp://mail.example.org:2525"},
       {{"smtp", "smtp://mail.example.org:2525"}, {"imap", "imaps://mail.example.org:10993"}, {"user", "alice"},
        {"passwordCommand", "cat '" + secretFile_ + "'"}, {"caFile", caFile_}}},
      {{"--imap", "", "--user", "", "--ca-file", ""},
       {{"smtp", "smtp://mail.example.org:2525"}, {"imap", ""}, {"user", ""},
        {"passwordCommand", "cat '" + secretFile_ + "'"}, {"caFile", ""}}},
      {{"--smtp", "", "--password-command", ""},
       {{"smtp", ""}, {"imap", ""}, {"user", ""}, {"passwordCommand", ""}, {"caFile", ""}}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(::testing::PrintToString(step.options));
    std::vector<std::string> args{"profile", "set", "alice"};
    args.insert(args.end(), step.options.begin(), step.options.end());
    Ok(args);
    EXPECT_EQ(RunJson({"profile", "show", "alice", "--json"})["account"], step.account);
  }
  EXPECT_FALSE(json::parse(ProfileJson("alice")).contains("account"));
  const std::string plain = Ok({"profile", "show", "alice"});
  EXPECT_THAT(plain, HasSubstr("SMTP server: (the post office)\n"));
  EXPECT_THAT(plain, Not(HasSubstr("Password:")));
  // The rest of the profile is as it was.
  EXPECT_EQ(RunJson({"profile", "show", "alice", "--json"})["address"], "alice@example.org");
}

TEST_F(AccountCliTest, BadSettingsAreCommandLineErrorsThatChangeNothing) {
  CreateAlice();
  Ok({"profile", "set", "alice", "--smtp", "smtps://mail.example.org"});
  const std::string before = ProfileJson("alice");
  struct Case {
    std::vector<std::string> args;
    int rc;
    const char* because;
  } cases[] = {
      {{"profile", "set", "alice", "--smtp", "imaps://mail.example.org"}, 2, "unknown scheme"},
      {{"profile", "set", "alice", "--imap", "imaps://mail.example.org/INBOX"}, 2, "path"},
      {{"profile", "set", "alice", "--imap", "imaps://h", "--smtp", "smtp://h:99999"}, 2, "out of range"},
      {{"profile", "set", "alice", "--smtp", "smtps://bob:pw@h"}, 2, "user name or password"},
      {{"profile", "set", "alice", "--ca-file", (home_ / "nothing.pem").string()}, 2, "nothing.pem"},
      {{"profile", "set", "alice"}, 1, "nothing to change"},
      {{"profile", "set", "nobody", "--smtp", "smtps://h"}, 1, "no such profile"},
      {{"profile", "create", "carol", "--name", "Carol", "--address", "carol@example.org", "--imap", "smtp://h"},
       2,
       "unknown scheme"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    RunResult r = Run(c.args);
    EXPECT_EQ(r.rc, c.rc) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.because));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(ProfileJson("alice"), before);
  }
  EXPECT_FALSE(std::filesystem::exists(home_ / "carol"));
}

class AccountSendReceiveTest : public AccountCliTest {
 protected:
  static void SetUpTestSuite() { servers_ = new host::MailServers(); }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  static host::MailServers* servers_;
};

host::MailServers* AccountSendReceiveTest::servers_ = nullptr;

TEST_F(AccountSendReceiveTest, SendsThroughTheAccountAndReportsItsFailures) {
  platform::WriteTextFile(secretFile_, servers_->Password("alice") + "\n");
  CreateAlice();
  Ok({"profile", "set", "alice", "--smtp", servers_->SmtpsUrl(), "--user", "alice", "--password-command",
      "cat '" + secretFile_ + "'", "--ca-file", servers_->CaFile().string()});
  const std::size_t bobBefore = servers_->ReadMessages("bob").size();
  Ok({"-p", "alice", "mail", "send", "--to", "bob@example.org", "--subject", "Through the account"});
  RunResult sent = Run({"-p", "alice", "--batch", "send-receive"});
  EXPECT_EQ(sent.rc, 0) << sent.out << sent.err;
  EXPECT_THAT(sent.out, HasSubstr("Sent 1"));
  EXPECT_EQ(servers_->ReadMessages("bob").size(), bobBefore + 1);

  // Failures: exit code 1, the reasons one per line; nothing delivered.
  struct Case {
    std::vector<std::string> settings;
    const char* because;
  } cases[] = {
      {{"--password-command", "echo not-the-password"}, "wrong user name or password"},
      {{"--password-command", ""}, "no password: nobody to ask"},
      {{"--password-command", "exit 4"}, "the password command failed (exit code 4)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.because);
    std::vector<std::string> args{"profile", "set", "alice"};
    args.insert(args.end(), c.settings.begin(), c.settings.end());
    Ok(args);
    Ok({"-p", "alice", "mail", "send", "--to", "bob@example.org", "--subject", "Refused"});
    RunResult r = Run({"-p", "alice", "--batch", "send-receive"});
    EXPECT_EQ(r.rc, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(c.because));
    EXPECT_THAT(r.out + r.err, Not(HasSubstr(servers_->Password("alice"))));
    EXPECT_EQ(servers_->ReadMessages("bob").size(), bobBefore + 1);
  }
  EXPECT_THAT(ProfileJson("alice"), Not(HasSubstr(servers_->Password("alice"))));
}

TEST_F(AccountCliTest, ThePasswordIsNeverInTheProfileNorTheOutput) {
  CreateAlice();
  const std::string set = Ok({"profile", "set", "alice", "--smtp", "smtps://127.0.0.1:1", "--password-command",
                              "cat '" + secretFile_ + "'"});
  const std::string shown = Ok({"profile", "show", "alice"}) + Ok({"profile", "show", "alice", "--json"});
  Ok({"-p", "alice", "mail", "send", "--to", "bob@example.org", "--subject", "Nowhere to go"});
  RunResult sr = Run({"-p", "alice", "--batch", "send-receive"});
  EXPECT_EQ(sr.rc, 1) << sr.out << sr.err;
  EXPECT_THAT(sr.out, HasSubstr("server not reachable"));
  for (const std::string& text : {set, shown, sr.out, sr.err, ProfileJson("alice")}) {
    EXPECT_THAT(text, Not(HasSubstr(kSecret)));
  }
}

}  // namespace
}  // namespace cli::testing

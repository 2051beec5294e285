// Receiving from an IMAP INBOX, against a real Dovecot on loopback.
#include "host/transport/imap.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/mail_servers.hpp"

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::string Message(const std::string& subject, const std::string& id) {
  return "From: Bob Brown <bob@example.org>\r\nTo: someone@example.org\r\nSubject: " + subject +
         "\r\nMessage-ID: <" + id + ">\r\nDate: Mon, 15 Jun 2026 07:00:00 +0000\r\n\r\nBody of " + subject + "\r\n";
}

class ImapTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    servers_ = new MailServers({"erin:erin-secret", "frank:frank-secret", "gina:gina-secret"});
  }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("plexisync-imap-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A mailbox of the user on the server's IMAPS port (or `url`), its state
  // in the test's folder; the password as given (the user's by default).
  std::unique_ptr<ImapMailbox> Mailbox(const std::string& user, std::string url = {}, std::string password = {},
                                       bool loginName = true) {
    if (url.empty()) url = servers_->ImapsUrl();
    if (password.empty()) password = servers_->Password(user);
    AccountSettings settings;
    settings.imapUrl = url;
    settings.user = loginName ? user : "";
    settings.caFile = servers_->CaFile().string();
    auto source = std::make_shared<PasswordSource>(
        servers_->Address(user), "",
        [this, password](const std::string&) -> std::optional<std::string> {
          ++prompts_;
          return password;
        },
        url);
    return std::make_unique<ImapMailbox>(
        ParseMailServer(url, ServerKind::kImap), settings, servers_->Address(user), source, dir_ / (user + ".state"),
        [this](const std::string& step, std::uint64_t done, std::uint64_t total) {
          progress_.push_back(step + " " + std::to_string(done) + "/" + std::to_string(total));
        });
  }

  // The logins of the user in Dovecot's log so far.
  static int Logins(const std::string& user) {
    std::ifstream log(servers_->Dir() / "log" / "dovecot.log");
    int n = 0;
    for (std::string line; std::getline(log, line);) {
      if (line.find("Login: user=<" + user) != std::string::npos) ++n;
    }
    return n;
  }

  static std::vector<std::string> Subjects(FetchedMail& fetched) {
    std::vector<std::string> out;
    for (const auto& key : fetched.Keys()) out.push_back(fetched.Read(key).message.subject);
    return out;
  }

  static MailServers* servers_;
  fs::path dir_;
  int prompts_ = 0;
  std::vector<std::string> progress_;
};

MailServers* ImapTest::servers_ = nullptr;

// Only what was acknowledged is left out, by this mailbox object and by any
// other on the same state file; reading marks nothing as taken.
TEST_F(ImapTest, WhatWasAcknowledgedIsNotFetchedAgain) {
  for (int i = 1; i <= 3; ++i) {
    servers_->DropMessage("alice", Message("in " + std::to_string(i), "in" + std::to_string(i) + "@example.org"));
  }
  auto box = Mailbox("alice", servers_->ImapUrl(), "", false);  // STARTTLS, login by address
  std::string third;
  {
    auto fetched = box->Fetch();
    ASSERT_EQ(fetched->Keys().size(), 3u);
    // Oldest first: by UID.
    std::vector<std::uint64_t> uids;
    for (const auto& k : fetched->Keys()) uids.push_back(std::stoull(k.substr(k.find('.') + 1)));
    EXPECT_TRUE(std::is_sorted(uids.begin(), uids.end()));
    const auto subjects = Subjects(*fetched);
    EXPECT_THAT(subjects, ::testing::UnorderedElementsAre("in 1", "in 2", "in 3"));
    third = subjects[2];
    auto a = fetched->Read(fetched->Keys()[0]);
    EXPECT_EQ(a.key, fetched->Keys()[0]);
    EXPECT_EQ(a.message.from.address, "bob@example.org");
    EXPECT_EQ(a.message.messageId, "in" + subjects[0].substr(3) + "@example.org");
    EXPECT_EQ(a.message.body, "Body of " + subjects[0] + "\r\n");
    EXPECT_THAT(fetched->Keys()[0], ::testing::MatchesRegex("[0-9]+\\.1"));
    fetched->Acknowledge(fetched->Keys()[0]);
    fetched->Acknowledge(fetched->Keys()[1]);
    fetched->Acknowledge(fetched->Keys()[1]);  // twice is harmless
    EXPECT_THROW(fetched->Read("1.99"), TransportError);
  }
  EXPECT_THAT(progress_, ElementsAre("Fetching 0/3", "Fetching 1/3", "Fetching 2/3", "Fetching 3/3", "Fetching 3/3"));
  EXPECT_EQ(prompts_, 1);
  EXPECT_EQ(Logins("alice"), 1) << "one connection and login for everything";
  auto again = box->Fetch();
  EXPECT_EQ(Subjects(*again), std::vector<std::string>{third});
  auto other = Mailbox("alice");
  auto fresh = other->Fetch();
  EXPECT_EQ(Subjects(*fresh), std::vector<std::string>{third});
  EXPECT_EQ(fresh->Keys(), again->Keys());
}

// Dovecot renumbers a mailbox whose UID list is lost: the messages taken
// before are known by their Message-ID and not handed over again.
TEST_F(ImapTest, ARenumberedMailboxHandsOverOnlyWhatWasNotTaken) {
  for (int i = 1; i <= 3; ++i) {
    servers_->DropMessage("bob", Message("old " + std::to_string(i), "old" + std::to_string(i) + "@example.org"));
  }
  std::string before, untaken;
  {
    auto box = Mailbox("bob");
    auto fetched = box->Fetch();
    ASSERT_EQ(fetched->Keys().size(), 3u);
    before = fetched->Keys()[0].substr(0, fetched->Keys()[0].find('.'));
    // Two taken for good; the third read but never acknowledged.
    untaken = Subjects(*fetched)[2];
    fetched->Acknowledge(fetched->Keys()[0]);
    fetched->Acknowledge(fetched->Keys()[1]);
  }
  const fs::path maildir = servers_->Maildir("bob");
  for (const auto& e : fs::directory_iterator(maildir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("dovecot", 0) == 0 && name != "dovecot-uidvalidity" && name.rfind("dovecot-uidvalidity.", 0) != 0) {
      fs::remove_all(e.path());
    }
  }
  servers_->DropMessage("bob", Message("new", "new@example.org"));
  auto box = Mailbox("bob");
  auto fetched = box->Fetch();
  const auto subjects = Subjects(*fetched);
  EXPECT_THAT(subjects, ::testing::UnorderedElementsAre(untaken, "new"));
  ASSERT_EQ(subjects.size(), 2u);
  EXPECT_THAT(fetched->Keys()[0], ::testing::Not(StartsWith(before + "."))) << "the mailbox was not renumbered";
  fetched->Acknowledge(fetched->Keys()[subjects[0] == "new" ? 1 : 0]);
  fetched.reset();
  auto fresh = Mailbox("bob");
  EXPECT_EQ(Subjects(*fresh->Fetch()), std::vector<std::string>{"new"});
}

// A message that is no message at all is handed over as unreadable, with its
// text, and taken like any other once acknowledged.
TEST_F(ImapTest, AMessageThatDoesNotParseComesWithItsText) {
  servers_->DropMessage("erin", "");
  servers_->DropMessage("erin", Message("fine", "fine@example.org"));
  auto box = Mailbox("erin");
  auto fetched = box->Fetch();
  ASSERT_EQ(fetched->Keys().size(), 2u);
  auto first = fetched->Read(fetched->Keys()[0]);
  auto second = fetched->Read(fetched->Keys()[1]);
  auto& bad = first.unreadable.empty() ? second : first;
  auto& good = first.unreadable.empty() ? first : second;
  EXPECT_NE(bad.unreadable, "");
  EXPECT_EQ(bad.rawText, "");
  EXPECT_THAT(bad.location, StartsWith(servers_->ImapsUrl() + "/INBOX;UIDVALIDITY="));
  EXPECT_EQ(good.message.subject, "fine");
  fetched->Acknowledge(bad.key);
  fetched.reset();
  auto again = box->Fetch();
  EXPECT_EQ(Subjects(*again), std::vector<std::string>{"fine"});
}

// Remove deletes on the server; keys of another numbering and UIDs no longer
// there count as gone.
TEST_F(ImapTest, RemoveDeletesOnTheServer) {
  servers_->DropMessage("carol", Message("keep", "keep@example.org"));
  servers_->DropMessage("carol", Message("drop", "drop@example.org"));
  auto box = Mailbox("carol");
  std::vector<std::string> keys;
  {
    auto fetched = box->Fetch();
    keys = fetched->Keys();
    ASSERT_EQ(keys.size(), 2u);
    // keys[1] is the one to drop.
    if (fetched->Read(keys[1]).message.subject != "drop") std::swap(keys[0], keys[1]);
    for (const auto& k : keys) fetched->Acknowledge(k);
  }
  const std::string validity = keys[1].substr(0, keys[1].find('.'));
  const std::string otherNumbering = std::to_string(std::stoull(validity) + 1) + ".2";
  EXPECT_THAT(box->Remove({keys[1], otherNumbering, validity + ".77", "not a key"}),
              ::testing::UnorderedElementsAre(keys[1], otherNumbering, validity + ".77", "not a key"));
  const auto left = servers_->ReadMessages("carol");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_THAT(left[0], HasSubstr("Subject: keep"));
  EXPECT_EQ(box->Remove({keys[1]}), std::vector<std::string>{keys[1]});
  EXPECT_TRUE(box->Remove({}).empty());
}

// Each failure is one line naming the account and the server, and changes
// nothing; a refused password is asked again next time.
TEST_F(ImapTest, FailuresAreOneLineErrors) {
  servers_->DropMessage("dave", Message("waiting", "waiting@example.org"));
  const std::string prefix = "Account dave@example.org, receiving from ";
  {
    // The first answer is wrong, the second right.
    std::vector<std::string> answers{"wrong password", "dave-secret"};
    AccountSettings settings;
    settings.user = "dave";
    settings.caFile = servers_->CaFile().string();
    auto source = std::make_shared<PasswordSource>(
        "dave@example.org", "",
        [&](const std::string&) -> std::optional<std::string> {
          if (answers.empty()) return std::nullopt;
          std::string a = answers.front();
          answers.erase(answers.begin());
          return a;
        },
        servers_->ImapsUrl());
    ImapMailbox box(ParseMailServer(servers_->ImapsUrl(), ServerKind::kImap), settings, "dave@example.org", source,
                    dir_ / "dave.state");
    try {
      box.Fetch();
      ADD_FAILURE() << "a wrong password was taken";
    } catch (const TransportError& e) {
      EXPECT_THAT(e.what(), StartsWith(prefix + servers_->ImapsUrl() + ": the server refused the user name dave"));
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
    // The refused password was forgotten: the person is asked again.
    EXPECT_EQ(box.Fetch()->Keys().size(), 1u);
    EXPECT_TRUE(answers.empty());
  }
  struct Case {
    const char* name;
    std::string user, url;
    const char* why;
  } cases[] = {
      {"nothing listens", "dave", "imaps://127.0.0.1:1", "the server cannot be reached"},
      {"unknown host", "dave", "imaps://no-such-host.invalid:993", "unknown host no-such-host.invalid"},
      {"no INBOX", "nobox", "", "there is no mailbox INBOX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto box = Mailbox(c.user, c.url);
    const std::string url = c.url.empty() ? servers_->ImapsUrl() : c.url;
    try {
      box->Fetch();
      ADD_FAILURE() << "no error";
    } catch (const TransportError& e) {
      EXPECT_THAT(e.what(), StartsWith("Account " + servers_->Address(c.user) + ", receiving from " + url + ": " +
                                       c.why));
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
      // The server's reason is its answer to the request, not to the logout.
      EXPECT_THAT(e.what(), Not(HasSubstr("Logout")));
    }
  }
  // Without the test certificate the server is not trusted.
  AccountSettings settings;
  auto source = std::make_shared<PasswordSource>(
      "dave@example.org", "", [](const std::string&) { return std::optional<std::string>("dave-secret"); },
      servers_->ImapsUrl());
  ImapMailbox untrusted(ParseMailServer(servers_->ImapsUrl(), ServerKind::kImap), settings, "dave@example.org",
                        source, dir_ / "untrusted.state");
  try {
    untrusted.Fetch();
    ADD_FAILURE() << "an unknown certificate was trusted";
  } catch (const TransportError& e) {
    EXPECT_THAT(e.what(), HasSubstr("certificate is not trusted"));
  }
  // Nothing was taken meanwhile.
  auto box = Mailbox("dave");
  auto fetched = box->Fetch();
  EXPECT_EQ(Subjects(*fetched), std::vector<std::string>{"waiting"});
}

}  // namespace
}  // namespace host

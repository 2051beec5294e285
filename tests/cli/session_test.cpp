// ProfileSession: the client with the add-in on one profile, several side by
// side in one process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/session.hpp"
#include "cli_fixture.hpp"
#include "host/object_model.hpp"
#include "host/profile.hpp"
#include "platform/clock.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace cli::testing {
namespace {

using ::testing::HasSubstr;

// One person's machine in the test: their profile and the person at it.
struct Person {
  std::filesystem::path dir;
  platform::ScriptedUser user;
  platform::FixedTimeZone zone{-60};
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { scratch_ = NewScratchDir("session"); }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
  }

  std::unique_ptr<Person> MakePerson(const std::string& name, const std::string& address) {
    auto p = std::make_unique<Person>();
    p->dir = scratch_ / name;
    host::Profile::Create(p->dir, name, address, scratch_ / "postoffice");
    return p;
  }

  // The first start's dialogue: greeting, access allowed, own addresses accepted.
  static void ExpectFirstStart(platform::ScriptedUser& user) {
    user.ExpectMessage("for the first time", platform::MsgBoxResult::Ok)
        .ExpectMessage("access e-mail addresses", platform::MsgBoxResult::Yes)
        .ExpectForm("frmMyMails", [](platform::Form& f) { f.FindButton("OK")->Click(); });
  }

  std::unique_ptr<ProfileSession> Open(Person& p) {
    return std::make_unique<ProfileSession>(p.dir, SessionServices{p.user, clock_, p.zone});
  }

  std::filesystem::path scratch_;
  platform::ManualClock clock_;
};

TEST_F(SessionTest, OpeningStartsTheAddInAndClosingShutsItDown) {
  auto alice = MakePerson("alice", "alice@example.org");
  ExpectFirstStart(alice->user);
  auto s = Open(*alice);
  ASSERT_NE(s->Addin(), nullptr);
  EXPECT_EQ(s->Addin()->App, &s->App());
  ASSERT_NE(s->AddinObject(), nullptr);
  EXPECT_TRUE(s->AddinObject()->WatchesInbox());
  EXPECT_EQ(alice->user.Problems(), "");

  s->Close();
  EXPECT_FALSE(s->IsOpen());
  EXPECT_EQ(s->Addin(), nullptr);
  EXPECT_THROW(s->App(), host::HostError);
  s->Close();  // a second close does nothing

  // The next start asks nothing.
  auto again = Open(*alice);
  EXPECT_EQ(alice->user.Problems(), "");
}

TEST_F(SessionTest, WithoutTheAddInNothingIsAsked) {
  auto alice = MakePerson("alice", "alice@example.org");
  SessionOptions bare;
  bare.loadAddin = false;
  ProfileSession s(alice->dir, SessionServices{alice->user, clock_, alice->zone}, bare);
  EXPECT_EQ(s.Addin(), nullptr);
  EXPECT_EQ(s.Session()->GetDefaultFolder(host::kFolderInbox)->Name(), "Inbox");
  EXPECT_EQ(alice->user.Problems(), "");
  std::ostringstream out;
  EXPECT_THROW(ShowOptions(s, out, false), CliError);
}

TEST_F(SessionTest, ProfilesSideBySideExchangeMail) {
  auto alice = MakePerson("Alice Adams", "alice@example.org");
  auto bob = MakePerson("Bob Brown", "bob@example.org");
  bob->zone = platform::FixedTimeZone(-180);  // Bob lives two hours east of Alice
  ExpectFirstStart(alice->user);
  ExpectFirstStart(bob->user);
  auto a = Open(*alice);
  auto b = Open(*bob);

  std::ostringstream out;
  MailDraft draft;
  draft.to = {"bob@example.org"};
  draft.subject = "Side by side";
  draft.body = "Hello";
  SendMail(*a, out, draft);
  EXPECT_EQ(SendReceive(*a, out), 0);
  EXPECT_EQ(SendReceive(*b, out), 0);
  b->DoEvents();

  auto inbox = b->Session()->GetDefaultFolder(host::kFolderInbox)->Items();
  ASSERT_EQ(inbox->Count(), 1);
  auto mail = std::dynamic_pointer_cast<host::MailItem>(inbox->Item(1));
  ASSERT_NE(mail, nullptr);
  EXPECT_EQ(mail->Subject(), "Side by side");
  // Sent at 09:00 on Alice's clock in UTC+1: 11:00 for Bob in UTC+3.
  EXPECT_EQ(mail->SentOn(), clock_.Now().AddSeconds(2 * 3600));
  EXPECT_EQ(b->AsPerson([&] { return mail->SenderEmailAddress(); }), "alice@example.org");
  EXPECT_TRUE(b->TakeEscapedErrors().empty());
  EXPECT_EQ(alice->user.Problems(), "");
  EXPECT_EQ(bob->user.Problems(), "");
}

TEST_F(SessionTest, PartsAreWiredInBeforeTheStartAndRunOnArrivals) {
  auto alice = MakePerson("alice", "alice@example.org");
  auto bob = MakePerson("bob", "bob@example.org");
  ExpectFirstStart(alice->user);
  ExpectFirstStart(bob->user);
  int inboxRuns = 0;
  bool appSetAtWiring = true;
  SessionOptions wired;
  wired.beforeStart = [&](plexisync::Context& ctx, plexisync::Appl& appl) {
    appSetAtWiring = ctx.App != nullptr;
    appl.ProceedInbox = [&] { ++inboxRuns; };
  };
  auto a = Open(*alice);
  ProfileSession b(bob->dir, SessionServices{bob->user, clock_, bob->zone}, wired);
  EXPECT_FALSE(appSetAtWiring);

  std::ostringstream out;
  MailDraft draft;
  draft.to = {"bob@example.org"};
  draft.subject = "Ping";
  SendMail(*a, out, draft);
  SendReceive(*a, out);
  EXPECT_EQ(inboxRuns, 0);
  SendReceive(b, out);      // arrivals are delivered by the message loop,
  EXPECT_EQ(inboxRuns, 1);  // which send-receive runs to apply update mails
  b.Close();
  EXPECT_EQ(inboxRuns, 1);
}

TEST_F(SessionTest, AsPersonKeepsTheGuardQuiet) {
  auto alice = MakePerson("alice", "alice@example.org");
  ExpectFirstStart(alice->user);
  auto s = Open(*alice);
  const std::string address = s->AsPerson([&] { return s->Session()->CurrentUser()->Address(); });
  EXPECT_EQ(address, "alice@example.org");
  EXPECT_EQ(s->App().Mode(), host::CallerMode::kProgram);
  EXPECT_EQ(alice->user.Problems(), "");
}

TEST_F(SessionTest, AMissingProfileIsAHostError) {
  platform::ScriptedUser user;
  platform::FixedTimeZone zone(0);
  EXPECT_THROW(ProfileSession(scratch_ / "nobody", SessionServices{user, clock_, zone}), host::HostError);
}

}  // namespace
}  // namespace cli::testing

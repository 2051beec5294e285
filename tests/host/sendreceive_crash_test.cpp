// Send/receive killed (SIGKILL, as a crash or a power cut of the process)
// at each point where it can stop: the next send/receive gives every mail
// exactly once, and a mail that may have gone out is never sent again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/transport/post_office.hpp"
#include "host_fixture.hpp"

namespace host::testing {
namespace {

namespace fs = std::filesystem;

enum class Point {
  kAfterClaim,        // Fetch has claimed the messages; nothing is stored
  kAfterStore,        // the second message is stored, not acknowledged
  kAfterAcknowledge,  // the second message is acknowledged, its key not forgotten
  kAfterDelivery,     // a mail was delivered, not yet moved to Sent Items
};

const char* Name(Point p) {
  switch (p) {
    case Point::kAfterClaim: return "after the claim";
    case Point::kAfterStore: return "after storing";
    case Point::kAfterAcknowledge: return "after acknowledging";
    case Point::kAfterDelivery: return "after a delivery";
  }
  return "?";
}

// Forwards to the post office and, at the chosen point, either kills its own
// process or tells the parent through `toParent` and waits to be killed.
class DyingTransport : public Transport {
 public:
  DyingTransport(PostOfficeTransport& inner, Point point, int toParent)
      : inner_(inner), point_(point), toParent_(toParent) {}

  void Send(const MailMessage& m, const std::vector<std::string>& envelope) override {
    inner_.Send(m, envelope);
    if (point_ == Point::kAfterDelivery) Die();
  }
  std::unique_ptr<FetchedMail> Fetch(const std::string& address) override {
    auto fetched = inner_.Fetch(address);
    if (point_ == Point::kAfterClaim && !fetched->Keys().empty()) Die();
    return std::make_unique<Fetched>(*this, std::move(fetched));
  }

 private:
  class Fetched : public FetchedMail {
   public:
    Fetched(DyingTransport& t, std::unique_ptr<FetchedMail> inner) : t_(t), inner_(std::move(inner)) {}
    const std::vector<std::string>& Keys() const override { return inner_->Keys(); }
    const std::vector<std::string>& Problems() const override { return inner_->Problems(); }
    ArrivedMessage Read(const std::string& key) override { return inner_->Read(key); }
    void Acknowledge(const std::string& key) override {
      // The first acknowledgement of the second message.
      const bool second = acked_.insert(key).second && acked_.size() == 2;
      if (second && t_.point_ == Point::kAfterStore) t_.Die();
      inner_->Acknowledge(key);
      if (second && t_.point_ == Point::kAfterAcknowledge) t_.Die();
    }

   private:
    DyingTransport& t_;
    std::unique_ptr<FetchedMail> inner_;
    std::set<std::string> acked_;
  };

  [[noreturn]] void Die() {
    if (toParent_ >= 0) {
      // Waits, holding whatever it holds, until the parent kills it.
      [[maybe_unused]] ssize_t n = write(toParent_, "!", 1);
      for (;;) pause();
    }
    raise(SIGKILL);
    _exit(3);
  }

  PostOfficeTransport& inner_;
  Point point_;
  int toParent_;
};

class SendReceiveCrashTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    office_ = std::make_unique<PostOfficeTransport>(dir_ / "postoffice");
    activeTransport_ = office_.get();
    Start();
  }
  void TearDown() override {
    app_.reset();
    HostTest::TearDown();
  }

  void Arrive(const std::string& subject) {
    MailMessage m;
    m.from = {"Bob Brown", "bob@example.org"};
    m.to = {{"", "alice@example.org"}};
    m.subject = subject;
    m.date = "Mon, 15 Jun 2026 07:00:00 +0000";
    office_->Send(m, {"alice@example.org"});
  }

  // Runs one send/receive in a child process on the same profile and post
  // office, which dies at `point`; with `parentKills` the child stops there
  // and this process kills it.
  void CrashingSendReceive(Point point, bool parentKills) {
    app_.reset();  // the child opens the profile itself
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      try {
        PostOfficeTransport office(dir_ / "postoffice");
        DyingTransport dying(office, point, parentKills ? fds[1] : -1);
        auto keys = profile_->OpenKeyStore();
        Application app(*profile_, HostServices{clock_, user_, dying, *keys, zone_});
        app.Session()->SyncObjects()->Item(1)->Start();
      } catch (...) {
        _exit(2);
      }
      _exit(0);  // the point was never reached
    }
    close(fds[1]);
    if (parentKills) {
      char c = 0;
      ASSERT_EQ(read(fds[0], &c, 1), 1) << "the child did not reach the point";
      ASSERT_EQ(kill(pid, SIGKILL), 0);
    }
    close(fds[0]);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended with status " << status;
    Start();
  }

  void Sync() { ns_->SyncObjects()->Item(1)->Start(); }
  std::vector<std::string> Subjects(int folder) {
    std::vector<std::string> out;
    auto items = ns_->GetDefaultFolder(folder)->Items();
    for (int i = 1; i <= items->Count(); ++i) out.push_back(items->Item(i)->DefaultValue());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string Errors() {
    std::string all;
    for (const auto& e : ns_->SyncObjects()->Item(1)->LastErrors()) all += e + "\n";
    return all;
  }
  static std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
  }

  std::unique_ptr<PostOfficeTransport> office_;
};

TEST_F(SendReceiveCrashTest, KilledWhileReceivingEachMailArrivesOnceAfterwards) {
  struct Case {
    Point point;
    bool parentKills;
  };
  const Case cases[] = {
      {Point::kAfterClaim, false},
      {Point::kAfterClaim, true},  // killed from outside between fetching and storing
      {Point::kAfterStore, false},
      {Point::kAfterStore, true},
      {Point::kAfterAcknowledge, false},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(Name(c.point)) + (c.parentKills ? ", killed by the parent" : ""));
    const std::string tag = "r" + std::to_string(++round) + " ";
    std::vector<std::string> expected;
    for (int i = 1; i <= 3; ++i) {
      Arrive(tag + std::to_string(i));
      expected.push_back(tag + std::to_string(i));
    }
    std::vector<std::string> before = Subjects(kFolderInbox);
    CrashingSendReceive(c.point, c.parentKills);

    Sync();
    EXPECT_EQ(Errors(), "");
    std::vector<std::string> now = Subjects(kFolderInbox);
    std::vector<std::string> added;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(added));
    EXPECT_EQ(added, expected);
    EXPECT_EQ(now.size(), before.size() + 3);
    // Every message is marked received in the Maildir; nothing waits.
    const fs::path box = office_->MailboxPath("alice@example.org");
    EXPECT_TRUE(FilesIn(box / "new").empty());
    for (const std::string& name : FilesIn(box / "cur")) EXPECT_THAT(name, ::testing::EndsWith(":2,S"));
    Sync();
    EXPECT_EQ(Subjects(kFolderInbox), now);
  }
}

TEST_F(SendReceiveCrashTest, KilledAfterADeliveryTheMailIsNeverSentAgain) {
  auto mail = app_->CreateMailItem();
  mail->SetSubject("once");
  mail->SetTo("bob@example.org");
  {
    PersonScope person(*app_);
    mail->Send();
  }
  mail.reset();
  CrashingSendReceive(Point::kAfterDelivery, false);
  for (int run = 0; run < 2; ++run) {
    Sync();
    EXPECT_THAT(Errors(), ::testing::HasSubstr("\"once\" may have been sent already"));
    EXPECT_EQ(Subjects(kFolderOutbox), std::vector<std::string>{"once"});
  }
  EXPECT_EQ(office_->TakeAll("bob@example.org").size(), 1u);
}

}  // namespace
}  // namespace host::testing

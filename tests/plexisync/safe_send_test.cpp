#include "plexisync/send/safe_send.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "addin_fixture.hpp"
#include "host/transport/post_office.hpp"
#include "plexisync/core/explorers.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;

class SafeSendTest : public testing::AddinTest {
 protected:
  std::shared_ptr<host::MailItem> Mail(AddinMachine& m, const std::string& to) {
    auto mail = m.app->CreateMailItem();
    mail->SetSubject("Hello");
    mail->SetTo(to);
    mail->SetBody("Body");
    return mail;
  }
  std::size_t DeliveredTo(const std::string& address) {
    return host::PostOfficeTransport(PostOffice()).TakeAll(address).size();
  }
};

TEST_F(SafeSendTest, SendsWithoutAPromptAndStartsSendReceiveWithoutUpdateAll) {
  auto& m = Machine();
  m.StartReturning();
  int syncStarts = 0;
  auto watch = m.app->Session()->SyncObjects()->Item(1)->OnSyncStart([&] { ++syncStarts; });
  int updates = 0;
  m.ctx->Exps->UpdateAll = [&](bool) { ++updates; };

  EXPECT_TRUE(Safe_Send(*m.ctx, Mail(m, "friend@example.org")));

  EXPECT_EQ(m.user.Problems(), "") << "no security question";
  EXPECT_EQ(syncStarts, 1);
  EXPECT_EQ(updates, 0);
  EXPECT_TRUE(m.ctx->Exps->AutoSendFlag);
  EXPECT_EQ(DeliveredTo("friend@example.org"), 1u);
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SafeSendTest, FailuresGiveFalseAndLogTheLastStep) {
  struct Case {
    const char* operation;
    const char* lastStep;
  } cases[] = {
      {"CreateObject:Redemption.SafeMailItem", ""},
      {"SafeMailItem.Item", "Step 1 completed"},
      {"SafeMailItem.Send", "Step 2 completed"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operation);
    testing::MachineOptions options;
    options.name = "m" + std::to_string(n++);
    auto& m = Machine(options);
    m.StartReturning();
    int syncStarts = 0;
    auto watch = m.app->Session()->SyncObjects()->Item(1)->OnSyncStart([&] { ++syncStarts; });
    m.app->Faults().FailEvery(c.operation);
    m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);

    EXPECT_FALSE(Safe_Send(*m.ctx, Mail(m, "friend@example.org")));

    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(syncStarts, 0) << "no send/receive";
    const auto records = m.ErrorRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find(" Error in Safe_Send Injected failure: "), std::string::npos) << records[0];
    EXPECT_EQ(records[0].substr(records[0].size() - std::string(c.lastStep).size() - 1), " " + std::string(c.lastStep));
  }
}

TEST_F(SafeSendTest, AFailedSendReceiveStillCountsAsHandedOver) {
  auto& m = Machine();
  m.StartReturning();
  m.app->Faults().FailEvery("SyncObject.Start");
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  EXPECT_TRUE(Safe_Send(*m.ctx, Mail(m, "friend@example.org")));
  // Logged by the send/receive routine itself.
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"SendReceive"}));
}

TEST_F(SafeSendTest, BodyFileIsReplacedAndReadBackWhole) {
  auto& m = Machine();
  m.StartReturning();
  const std::string body = m.InstDir() + "body.pxs";
  const std::string texts[] = {"first\r\nsecond\r\n", "", "short", "ünïcödé\r\n:StartOfRec:\r\n"};
  for (const auto& text : texts) {
    EXPECT_TRUE(StringToFile(*m.ctx, text));
    EXPECT_EQ(platform::ReadTextFile(body), text) << "never appended to";
    EXPECT_EQ(FileToString(*m.ctx, body), text);
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SafeSendTest, BodyFileFailures) {
  auto& m = Machine();
  m.StartReturning();
  // A file that cannot be read gives "".
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  EXPECT_EQ(FileToString(*m.ctx, m.InstDir() + "missing.pxs"), "");
  // A body file that cannot be replaced: logged with the last step reached,
  // which is not "File opened" (nothing was opened).
  std::filesystem::create_directory(m.InstDir() + "body.pxs");
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  EXPECT_FALSE(StringToFile(*m.ctx, "text"));
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"FileToString", "StringToFile"}));
  const auto records = m.ErrorRecords();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().substr(records.back().size() - 15), " Fs initialized") << records.back();
  // Without the installation folder even the log cannot be written.
  m.ctx->InstDir = (Scratch() / "no-such-folder" / "").string();
  m.user.ExpectMessage("Error in Error_logger:)");
  EXPECT_FALSE(StringToFile(*m.ctx, "text"));
  EXPECT_EQ(m.user.Problems(), "");
}

// While the size limit for files is in force, writing a file past `bytes`
// fails as on a full disk (EFBIG instead of the signal).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
};

// A write that fails leaves no body file behind: neither the earlier mail's
// body nor a part of this one can be attached or sent in its place.
TEST_F(SafeSendTest, AFailedWriteLeavesNoEarlierBodyToAttach) {
  auto& m = Machine();
  m.StartReturning();
  const std::string body = m.InstDir() + "body.pxs";
  const std::string big(256 * 1024, 'x');
  struct Case {
    const char* name;
    bool attach;  // through Attach_Body rather than StringToFile alone
  } cases[] = {{"StringToFile", false}, {"Attach_Body", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(StringToFile(*m.ctx, "the earlier mail's body"));
    auto mail = Mail(m, "friend@example.org");
    m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
    bool result = true;
    {
      FileSizeLimit limit(64 * 1024);
      result = c.attach ? Attach_Body(*m.ctx, *mail, big) : StringToFile(*m.ctx, big);
    }
    EXPECT_FALSE(result);
    EXPECT_FALSE(platform::FileExists(body)) << "the earlier body is gone, and no part of the new one is left";
    EXPECT_EQ(mail->Attachments()->Count(), 0);
    const auto records = m.ErrorRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_NE(records.back().find(" Error in StringToFile "), std::string::npos) << records.back();
    EXPECT_EQ(records.back().substr(records.back().size() - 15), " Fs initialized") << records.back();
    EXPECT_EQ(m.user.Problems(), "");
  }
  // Written in full: attached as "body.pxs" with exactly the text.
  auto mail = Mail(m, "friend@example.org");
  EXPECT_TRUE(Attach_Body(*m.ctx, *mail, big));
  ASSERT_EQ(mail->Attachments()->Count(), 1);
  EXPECT_EQ(mail->Attachments()->Item(1)->FileName(), "body.pxs");
  EXPECT_EQ(platform::ReadTextFile(body), big);
}

// Before the installation folder is known nothing is written anywhere (not
// even to a name relative to the working folder).
TEST_F(SafeSendTest, NoBodyFileWithoutAnInstallationFolder) {
  auto& m = Machine();
  ASSERT_TRUE(m.ctx->InstDir.empty());
  const auto before = std::filesystem::current_path();
  const auto work = Scratch() / "work";
  std::filesystem::create_directories(work);
  std::filesystem::current_path(work);
  m.user.ExpectMessage("Error in Error_logger:)");
  const bool written = StringToFile(*m.ctx, "text");
  std::filesystem::current_path(before);
  EXPECT_FALSE(written);
  EXPECT_TRUE(std::filesystem::is_empty(work));
  EXPECT_EQ(m.user.Problems(), "");
}

}  // namespace
}  // namespace plexisync

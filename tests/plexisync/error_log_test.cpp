#include "plexisync/core/error_log.hpp"

#include <gtest/gtest.h>

#include "addin_fixture.hpp"
#include "host/transport/post_office.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/explorers.hpp"
#include "plexisync_version.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;

constexpr const char* kLoggerFailureMessage =
    "Message \"Hmmmm... Plexisync... Again...\" (critical) [OK]:\n  Error in Error_logger:)";

class ErrorLogTest : public testing::AddinTest {
 protected:
  // A machine whose add-in knows its installation folder but has no
  // application (as before Init and after shut-down): nothing is asked.
  AddinMachine& Quiet() {
    auto& m = Machine();
    m.ctx->InstDir = m.InstDir();
    return m;
  }
  // The messages that came back from the post office for the support mailbox.
  std::vector<host::MailMessage> Delivered() {
    host::PostOfficeTransport office(PostOffice());
    std::vector<host::MailMessage> out;
    for (const auto& box : office.ListMailboxes()) {
      for (auto& msg : office.TakeAll(box)) out.push_back(std::move(msg));
    }
    return out;
  }
};

TEST_F(ErrorLogTest, RecordLineFormat) {
  struct Case {
    const char* description;
    const char* errName;
    const char* context;
    const char* line;
  } cases[] = {
      {"Desc", "AppSetUp", "", "6/15/2026 3:04:05 PM Error in AppSetUp Desc \r\n"},
      {"Refused", "Safe_Send", "Step 2 completed", "6/15/2026 3:04:05 PM Error in Safe_Send Refused Step 2 completed\r\n"},
      {"two\r\nlines", "Update_Folder", "", "6/15/2026 3:04:05 PM Error in Update_Folder two\r\nlines \r\n"},
      {"", "GMTTime", "", "6/15/2026 3:04:05 PM Error in GMTTime  \r\n"},
      {"\"quoted\" ,;%s", "X", "ctx", "6/15/2026 3:04:05 PM Error in X \"quoted\" ,;%s ctx\r\n"},
  };
  Clock().Set(platform::DateTime::FromParts(2026, 6, 15, 15, 4, 5));
  auto& m = Quiet();
  // The log is appended to, never truncated.
  platform::WriteTextFile(m.ErrorLogPath(), "earlier\r\n");
  std::string expected = "earlier\r\n";
  for (const auto& c : cases) {
    Error_logger(*m.ctx, c.description, c.errName, c.context);
    expected += c.line;
    EXPECT_EQ(m.ErrorLog(), expected) << c.errName;
  }
  EXPECT_TRUE(m.user.Transcript().empty());
}

TEST_F(ErrorLogTest, TheLogIsCreatedWhenMissing) {
  auto& m = Quiet();
  ASSERT_FALSE(platform::FileExists(m.ErrorLogPath()));
  Error_logger(*m.ctx, "d", "n", "");
  EXPECT_EQ(m.ErrorRecords().size(), 1u);
}

TEST_F(ErrorLogTest, NoAnswerAsksAgainAndYesSendsTheReportOnce) {
  auto& m = Machine();
  m.StartReturning();
  ASSERT_NE(m.ctx->Exps, nullptr);
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  Error_logger(*m.ctx, "first", "AppSetUp", "");
  EXPECT_FALSE(m.ctx->ReportSent);
  EXPECT_TRUE(Delivered().empty());

  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::Yes);
  Error_logger(*m.ctx, "second", "Update_Folder", "Step 3 completed");
  EXPECT_TRUE(m.ctx->ReportSent);
  const std::string logWhenSent = m.ErrorLog();

  Error_logger(*m.ctx, "third", "Proceed_Inbox", "");
  EXPECT_EQ(m.user.Problems(), "") << "the third error asks nothing";
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"AppSetUp", "Update_Folder", "Proceed_Inbox"}));

  // The question as shown: Yes and No with the exclamation icon.
  const auto messages = m.MessagesShown();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0],
            "Message \"Plexisync\" (exclamation) [Yes / No]:\n"
            "  Plexisync encountered an error, so it may stop\n"
            "  functioning properly until you restart Outlook. Would you\n"
            "  like to send the error report to Quorvane support?");

  // The report went out through the safe send (no security question) and
  // the send/receive it started.
  const auto delivered = Delivered();
  ASSERT_EQ(delivered.size(), 1u);
  const auto& report = delivered[0];
  EXPECT_EQ(report.subject, "Plexisync Error Report");
  EXPECT_EQ(report.importance, 2);
  ASSERT_EQ(report.to.size(), 1u);
  EXPECT_NE(report.to[0].address.find('@'), std::string::npos);
  EXPECT_EQ(report.body, "Outlook Version: " + m.app->Version() + "\r\nPXS Version:     " +
                             std::to_string(version::kMajor) + "." + std::to_string(version::kMinor) + "." +
                             std::to_string(version::kRevision));
  ASSERT_EQ(report.attachments.size(), 1u);
  EXPECT_EQ(report.attachments[0].name, "errors.log");
  EXPECT_EQ(std::string(report.attachments[0].data.begin(), report.attachments[0].data.end()), logWhenSent);
}

TEST_F(ErrorLogTest, AFailedReportSendAsksOnceMore) {
  auto& m = Machine();
  m.StartReturning();
  int syncStarts = 0;
  auto watch = m.app->Session()->SyncObjects()->Item(1)->OnSyncStart([&] { ++syncStarts; });
  m.app->Faults().FailEvery("SafeMailItem.Send");

  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::Yes);
  // The report's own send fails and is logged through the same logger, which
  // asks again, because the report has not been handed over yet.
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  Error_logger(*m.ctx, "boom", "Share_click", "");

  EXPECT_EQ(m.user.Problems(), "");
  const auto records = m.ErrorRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].find(" Error in Share_click boom "), std::string::npos);
  EXPECT_NE(records[1].find(" Error in Safe_Send "), std::string::npos);
  EXPECT_EQ(records[1].substr(records[1].size() - 17), " Step 2 completed");
  EXPECT_EQ(syncStarts, 0) << "no send/receive after a refused send";
  EXPECT_TRUE(Delivered().empty());
  // A report that was not handed over does not count: the next error
  // offers it again, and one that goes out ends the questions.
  EXPECT_FALSE(m.ctx->ReportSent);
  m.app->Faults().Clear();
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::Yes);
  Error_logger(*m.ctx, "again", "Share_click", "");
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_TRUE(m.ctx->ReportSent);
  ASSERT_EQ(Delivered().size(), 1u);
  Error_logger(*m.ctx, "later", "Share_click", "");
  EXPECT_EQ(m.user.Problems(), "") << "no question after a sent report";
  EXPECT_EQ(m.LoggedErrorNames(),
            (std::vector<std::string>{"Share_click", "Safe_Send", "Share_click", "Share_click"}));
}

TEST_F(ErrorLogTest, AFailureInsideTheLoggerShowsOnlyItsOwnBox) {
  auto& m = Machine();
  m.StartReturning();
  m.ctx->InstDir = (Scratch() / "missing" / "").string();
  m.user.ExpectMessage("Error in Error_logger:)");
  Error_logger(*m.ctx, "lost", "AppSetUp", "");
  EXPECT_EQ(m.MessagesShown(), (std::vector<std::string>{kLoggerFailureMessage}));
  EXPECT_FALSE(m.ctx->ReportSent);
  EXPECT_FALSE(platform::FileExists(m.ctx->InstDir + "errors.log"));
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(ErrorLogTest, AReportThatCannotBeBuiltLeavesTheFlag) {
  auto& m = Machine();
  m.StartReturning();
  m.app->Faults().FailEvery("Application.CreateItem");
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::Yes);
  m.user.ExpectMessage("Error in Error_logger:)");
  Error_logger(*m.ctx, "first", "AppSetUp", "");
  EXPECT_EQ(m.MessagesShown().back(), kLoggerFailureMessage);
  EXPECT_FALSE(m.ctx->ReportSent);
  EXPECT_EQ(m.ErrorRecords().size(), 1u);
  // The next error asks again.
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  Error_logger(*m.ctx, "second", "AppSetUp", "");
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(ErrorLogTest, AfterShutDownErrorsAreLoggedWithoutAQuestion) {
  auto& m = Machine();
  m.StartReturning();
  m.app->ActiveExplorer()->Close();
  ASSERT_EQ(m.ctx->App, nullptr);
  Error_logger(*m.ctx, "late", "Proceed_Inbox", "");
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"Proceed_Inbox"}));
  EXPECT_TRUE(m.MessagesShown().empty());
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(ErrorLogTest, ProtectLogsWithTheProgressTextAtTheFailure) {
  auto& m = Quiet();
  std::string step = "Step 1 completed";
  Protect(
      *m.ctx, "Update_Folder",
      [&] {
        step = "Step 3 completed";
        throw AddinError(5, "Invalid procedure call or argument");
      },
      &step);
  int fallbackUsed = ProtectOr(*m.ctx, "Get_CorrID", 7, []() -> int { throw 42; });
  std::string fine = ProtectOr(*m.ctx, "FileToString", std::string("x"), [] { return std::string("ok"); });
  Protect(*m.ctx, "Nothing", [] {});
  EXPECT_EQ(fallbackUsed, 7);
  EXPECT_EQ(fine, "ok");
  EXPECT_TRUE(PassOver([] {}));
  EXPECT_FALSE(PassOver([] { throw std::runtime_error("ignored"); }));

  const auto records = m.ErrorRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], "6/15/2026 9:00:00 AM Error in Update_Folder Invalid procedure call or argument Step 3 completed");
  EXPECT_EQ(records[1], "6/15/2026 9:00:00 AM Error in Get_CorrID Unknown error ");
}

}  // namespace
}  // namespace plexisync

#include "plexisync/core/error_log.hpp"

#include "host/object_model.hpp"
#include "platform/textfile.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/send/safe_send.hpp"
#include "plexisync_version.hpp"

namespace plexisync {

namespace {
const char* const kSupportAddress = "support@quorvane.example";
}

std::string DescribeException(std::exception_ptr e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
  }
  return "Unknown error";
}

namespace {

// Appends one record line to the log; returns the log file's path. Throws
// when the record cannot be written.
std::string AppendRecord(Context& ctx, const std::string& description, const std::string& errName,
                         const std::string& context) {
  const std::string record =
      ctx.Now().ToText() + " Error in " + errName + " " + description + " " + context + "\r\n";
  const std::string logFile = ctx.InstallFile("errors.log");
  platform::AppendTextFile(logFile, record);
  return logFile;
}

}  // namespace

bool Append_error_record(Context& ctx, const std::string& description, const std::string& errName,
                         const std::string& context) {
  try {
    AppendRecord(ctx, description, errName, context);
    return true;
  } catch (...) {
    return false;
  }
}

void Error_logger(Context& ctx, const std::string& description, const std::string& errName,
                  const std::string& context) {
  try {
    const std::string logFile = AppendRecord(ctx, description, errName, context);

    if (ctx.App == nullptr || ctx.ReportSent) return;

    const auto answer = ctx.svc.user.MessageBox(
        "Plexisync encountered an error, so it may stop\r\n"
        "functioning properly until you restart Outlook. Would you\r\n"
        "like to send the error report to Quorvane support?",
        "Plexisync", platform::MsgBoxButtons::YesNo, platform::MsgBoxIcon::Exclamation);
    if (answer != platform::MsgBoxResult::Yes) return;

    auto mail = ctx.App->CreateMailItem();
    mail->SetSubject("Plexisync Error Report");
    mail->SetImportance(2);
    mail->SetTo(kSupportAddress);
    mail->Attachments()->Add(logFile);
    mail->SetBody("Outlook Version: " + ctx.App->Version() + "\r\n" + "PXS Version:     " +
                  std::to_string(version::kMajor) + "." + std::to_string(version::kMinor) + "." +
                  std::to_string(version::kRevision));
    // Only a report the safe send actually handed over counts: after a
    // failed send the next error offers the report again.
    if (Safe_Send(ctx, mail)) ctx.ReportSent = true;
  } catch (...) {
    try {
      ctx.svc.user.MessageBox("Error in Error_logger:)", "Hmmmm... Plexisync... Again...",
                              platform::MsgBoxButtons::Ok, platform::MsgBoxIcon::Critical);
    } catch (...) {
    }
  }
}

}  // namespace plexisync

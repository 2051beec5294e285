#include "plexisync/send/safe_send.hpp"

#include "host/object_model.hpp"
#include "platform/textfile.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/explorers.hpp"

namespace plexisync {

namespace {
// The body file's name in the installation folder.
const char* const kBodyFileName = "body.pxs";
}  // namespace

bool Safe_Send(Context& ctx, const std::shared_ptr<host::MailItem>& mail) {
  std::string step;
  bool handedOver = false;
  Protect(
      ctx, "Safe_Send",
      [&] {
        auto safe = ctx.app().CreateSafeMailItem();
        step = "Step 1 completed";
        safe->SetItem(mail);
        step = "Step 2 completed";
        safe->Send();
        step = "Step 3 completed";
        safe.reset();
        handedOver = true;
        step = "Step 4 completed";
        if (ctx.Exps) ctx.Exps->SendReceive();
        step = "Step 5 completed";
      },
      &step);
  return handedOver;
}

bool StringToFile(Context& ctx, const std::string& text) {
  // The status names the last step that succeeded; the log shows it with a
  // failure.
  std::string status = "Not yet initialized";
  bool written = false;
  Protect(
      ctx, "StringToFile",
      [&] {
        const std::string path = ctx.InstallFile(kBodyFileName);
        status = "Fs initialized";
        // The body of an earlier mail goes first: if this write fails, no
        // file is left that a caller could take for this text.
        platform::DeleteFile(path);
        // The platform's writer opens, writes and closes the file in one
        // call (a new file renamed into place), so "File opened" and
        // "Succesful write" are reached only together with the end; a
        // failure inside it leaves the status at "Fs initialized", and its
        // message names the reason ("Path not found", "Disk full", ...).
        // The file lives only until it is attached: it is not forced to disk.
        platform::WriteScratchFile(path, text);
        status = "File opened";
        status = "Succesful write";
        status = "Everything was OK!";
        written = true;
      },
      &status);
  return written;
}

bool Attach_Body(Context& ctx, host::MailItem& mail, const std::string& text) {
  if (!StringToFile(ctx, text)) return false;
  mail.Attachments()->Add(ctx.InstallFile(kBodyFileName));
  return true;
}

std::string FileToString(Context& ctx, const std::string& path) {
  return ProtectOr(ctx, "FileToString", std::string(), [&] { return platform::ReadTextFile(path); });
}

}  // namespace plexisync

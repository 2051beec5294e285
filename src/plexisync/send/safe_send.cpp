#include "plexisync/send/safe_send.hpp"

#include <filesystem>

#include "host/object_model.hpp"
#include "platform/textfile.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/explorers.hpp"

namespace plexisync {

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

void StringToFile(Context& ctx, const std::string& text) {
  std::string status = "Not yet initialized";
  Protect(
      ctx, "StringToFile",
      [&] {
        const std::string path = ctx.InstDir + "body.pxs";
        status = "Fs initialized";
        const auto folder = std::filesystem::path(path).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder)) {
          throw platform::FileError("Path not found", path);
        }
        status = "File opened";
        platform::WriteTextFile(path, text);
        status = "Succesful write";
        status = "Everything was OK!";
      },
      &status);
}

std::string FileToString(Context& ctx, const std::string& path) {
  return ProtectOr(ctx, "FileToString", std::string(), [&] { return platform::ReadTextFile(path); });
}

}  // namespace plexisync

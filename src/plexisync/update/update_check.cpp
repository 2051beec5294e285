#include "plexisync/update/update_check.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/shell.hpp"
#include "platform/ui/user.hpp"
#include "platform/web.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/dialogs/product.hpp"
#include "plexisync/dialogs/progress.hpp"
#include "plexisync/update/vendor.hpp"
#include "plexisync_version.hpp"

namespace plexisync {

namespace {

constexpr const char* kNoUpdates = "No updates available.";
constexpr const char* kNewVersion = "New version of Plexisync is available!\r\n\r\nDownload it now?";
constexpr const char* kCancelled = "Download cancelled";
constexpr const char* kCheckFailed = "Check for updates failed due to technical problems.";
constexpr const char* kDownloading = "             Downloading the update, please be patient...";
constexpr const char* kDownloaded =
    "Download completed!\r\n\r\nClose all open Outlook windows\r\nbefore continuing with installation!";

// How often the user-interface thread looks after the client while the
// check waits for the page.
constexpr std::chrono::milliseconds kPollInterval{50};

bool IsLoopbackHost(std::string host) {
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return host == "127.0.0.1" || host == "[::1]" || host == "localhost";
}

// The base's scheme may carry an installer: https, or http on a loopback host.
bool IsTrustedBase(std::string_view base) {
  constexpr std::string_view kHttps = "https://";
  constexpr std::string_view kHttp = "http://";
  if (base.substr(0, kHttps.size()) == kHttps) return base.size() > kHttps.size();
  if (base.substr(0, kHttp.size()) != kHttp) return false;
  const std::string_view rest = base.substr(kHttp.size());
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.find('@') != std::string_view::npos) return false;
  std::string_view host;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  return IsLoopbackHost(std::string(host));
}

// The contexts whose check is waiting for its page: a second "Check for
// Update" run from the client's events meanwhile does nothing. Add-ins of
// several clients may run in one process, hence the lock.
struct RunningChecks {
  std::mutex mutex;
  std::set<const Context*> contexts;
};
RunningChecks& ChecksRunning() {
  static RunningChecks running;
  return running;
}

class CheckRunning {
 public:
  explicit CheckRunning(const Context& ctx) : ctx_(ctx) {
    RunningChecks& running = ChecksRunning();
    std::lock_guard<std::mutex> lock(running.mutex);
    entered_ = running.contexts.insert(&ctx).second;
  }
  ~CheckRunning() {
    if (!entered_) return;
    RunningChecks& running = ChecksRunning();
    std::lock_guard<std::mutex> lock(running.mutex);
    running.contexts.erase(&ctx_);
  }
  CheckRunning(const CheckRunning&) = delete;
  CheckRunning& operator=(const CheckRunning&) = delete;
  bool Entered() const { return entered_; }

 private:
  const Context& ctx_;
  bool entered_ = false;
};

void EndProgress(ProgressForm& progress) {
  progress.Hide();
  progress.TheBar().SetVisible(true);
}

[[noreturn]] void ThrowErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// Writes `bytes` as the whole content of `target`: first into a new file
// beside it, which is moved over the target (replacing an earlier one) only
// once every byte is on disk. On a failure the new file is removed and the
// target is left as it was.
void SaveWhole(const std::filesystem::path& target, const std::vector<std::uint8_t>& bytes) {
  std::string pattern = target.string() + ".part-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) ThrowErrno("Cannot create a file beside " + target.string());
  const std::string temp = pattern;
  int open = fd;
  try {
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno("Cannot write " + temp);
      }
      written += static_cast<std::size_t>(n);
    }
    // The installer is a program: the person's own account may run it.
    if (::fchmod(fd, 0755) != 0) ThrowErrno("Cannot mark " + temp + " as a program");
    if (::fsync(fd) != 0) ThrowErrno("Cannot write " + temp);
    open = -1;
    if (::close(fd) != 0) ThrowErrno("Cannot write " + temp);
    std::filesystem::rename(temp, target);
  } catch (...) {
    if (open >= 0) ::close(open);
    ::unlink(temp.c_str());
    throw;
  }
}

}  // namespace

std::string UpdateCheckAddress() { return VendorBaseAddress() + "/_check_update.asp?ver=" + version::kText; }

std::string UpdateFallbackAddress() { return VendorBaseAddress() + "/download.asp?catID=3&fr=pxs"; }

std::string InstallerPath(Context& ctx) { return ctx.InstallFile("Update.exe"); }

bool IsInstallerAddress(const std::string& address, const std::string& vendorBase) {
  if (vendorBase.empty() || !IsTrustedBase(vendorBase)) return false;
  for (const char c : address) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) return false;
  }
  if (address == vendorBase) return true;
  return address.size() > vendorBase.size() && address.compare(0, vendorBase.size(), vendorBase) == 0 &&
         address[vendorBase.size()] == '/';
}

std::string Get_Update_Info(Context& ctx) { return Get_Update_Info(ctx, kUpdateCheckLimitSeconds); }

std::string Get_Update_Info(Context& ctx, long limitSeconds) {
  platform::WebClient* web = ctx.svc.web;
  if (web == nullptr) return {};
  const std::string address = UpdateCheckAddress();
  // The page is fetched beside the user-interface thread, which meanwhile
  // keeps the client's events going; the fetch itself is bounded.
  auto pending = std::async(std::launch::async,
                            [web, address, limitSeconds] { return web->FetchTextWithin(address, limitSeconds); });
  while (pending.wait_for(kPollInterval) != std::future_status::ready) ctx.DoEvents();
  try {
    return pending.get();
  } catch (const std::exception&) {
    // No page (no connection, a timeout, an error status): an empty answer,
    // which the check reports as failed.
    return {};
  }
}

void Check_Update(Context& ctx) {
  CheckRunning running(ctx);
  if (!running.Entered()) return;
  platform::UserInterface& user = ctx.svc.user;
  const std::string answer = Get_Update_Info(ctx);
  if (answer == "0") {
    user.MessageBox(kNoUpdates, kProductTitle, platform::MsgBoxButtons::Ok, platform::MsgBoxIcon::Information);
    return;
  }
  if (IsInstallerAddress(answer, VendorBaseAddress())) {
    const auto reply =
        user.MessageBox(kNewVersion, kProductTitle, platform::MsgBoxButtons::YesNo, platform::MsgBoxIcon::Information);
    if (reply == platform::MsgBoxResult::Yes) {
      Download_Update(ctx, answer);
    } else {
      user.MessageBox(kCancelled, kProductTitle, platform::MsgBoxButtons::Ok, platform::MsgBoxIcon::Information);
    }
    return;
  }
  user.MessageBox(kCheckFailed, kProductTitle, platform::MsgBoxButtons::Ok, platform::MsgBoxIcon::Critical);
}

void Download_Update(Context& ctx, const std::string& address) {
  ProgressForm& progress = ctx.Progress();
  progress.TheBar().SetVisible(false);
  progress.Message().SetCaption(kDownloading);
  progress.Show(false);
  try {
    const std::string vendorBase = VendorBaseAddress();
    if (!IsInstallerAddress(address, vendorBase)) {
      throw std::invalid_argument("Not an installer address of the vendor: " + address);
    }
    if (ctx.svc.web == nullptr || ctx.svc.shell == nullptr) throw std::logic_error("No web client or shell");
    const std::string installer = InstallerPath(ctx);
    // Every hop of the download, and the address its bytes finally come
    // from, must be an installer address of the same vendor base: a
    // redirect cannot swap the installer.
    const std::vector<std::uint8_t> bytes = ctx.svc.web->FetchBytesConfined(
        address, [&vendorBase](const std::string& hop) { return IsInstallerAddress(hop, vendorBase); });
    EndProgress(progress);
    SaveWhole(installer, bytes);
    ctx.svc.user.MessageBox(kDownloaded, kProductTitle, platform::MsgBoxButtons::Ok,
                            platform::MsgBoxIcon::Exclamation);
    if (ctx.svc.shell->Run(installer, {}, platform::ShowMode::MinimizedFocus)) return;
  } catch (...) {
    // Whatever went wrong, the person gets the vendor's download page.
  }
  EndProgress(progress);
  const std::string fallback = UpdateFallbackAddress();
  if (ctx.svc.shell != nullptr && ctx.svc.shell->OpenDocument(fallback, "open", {}, platform::ShowMode::NormalFocus)) {
    return;
  }
  // Not even the browser could be started: say where the update is.
  ctx.svc.user.MessageBox("The update could not be downloaded. It can be had from " + fallback, kProductTitle,
                          platform::MsgBoxButtons::Ok, platform::MsgBoxIcon::Critical);
}

}  // namespace plexisync

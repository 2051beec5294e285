// "Check for Update": the server's answers, the installer address rules, the
// download into place, and the real web client against a loopback server
// (slow pages, downloads that break off).
#include "plexisync/update/update_check.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/ui/user.hpp"
#include "platform/web.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync_version.hpp"
#include "support/fake_web.hpp"
#include "support/loopback_http.hpp"
#include "support/manual_clock.hpp"
#include "support/recording_shell.hpp"
#include "support/scoped_env.hpp"

namespace plexisync {
namespace {

namespace fs = std::filesystem;
using platform::ScopedEnv;
using platform::MsgBoxButtons;
using platform::MsgBoxIcon;
using platform::MsgBoxResult;
using platform::RecordingShell;

constexpr const char* kVendor = "https://www.quorvane.example";
constexpr const char* kNoUpdates = "No updates available.";
constexpr const char* kNewVersion = "New version of Plexisync is available!\r\n\r\nDownload it now?";
constexpr const char* kCancelled = "Download cancelled";
constexpr const char* kFailed = "Check for updates failed due to technical problems.";
constexpr const char* kCompleted =
    "Download completed!\r\n\r\nClose all open Outlook windows\r\nbefore continuing with installation!";
constexpr const char* kDownloading = "             Downloading the update, please be patient...";

// A person who answers message boxes from a queue (OK, then No, when it
// runs dry) and keeps every request exactly as asked, line breaks included,
// and what the progress window showed.
class RecordingUser final : public platform::UserInterface {
 public:
  RecordingUser() : UserInterface("Plexisync") {}
  std::deque<MsgBoxResult> answers;
  std::vector<platform::MessageRequest> messages;
  struct ProgressShown {
    std::string text;
    std::optional<int> percent;
  };
  std::vector<ProgressShown> progress;

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
  }

 protected:
  MsgBoxResult AnswerMessage(const platform::MessageRequest& request) override {
    messages.push_back(request);
    if (answers.empty()) return platform::NeutralResult(request.buttons);
    const MsgBoxResult answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> ChooseFile(const platform::FileDialogRequest&) override {
    ADD_FAILURE() << "unexpected file dialog";
    return std::nullopt;
  }
  void InteractWithForm(platform::Form& form) override { ADD_FAILURE() << "unexpected form " << form.Name(); }
  void OnProgress(const std::string& text, std::optional<int> percent, bool hidden) override {
    if (!hidden) progress.push_back({text, percent});
  }
};

std::vector<std::uint8_t> Installer(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xff);
  return bytes;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    scratch_ = fs::temp_directory_path() /
               ("plexisync-update-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(scratch_);
    inst_ = scratch_ / "inst";
    fs::create_directories(inst_);
    MakeContext(&fake_);
  }
  void TearDown() override {
    ctx_.reset();
    std::error_code ec;
    fs::remove_all(scratch_, ec);
  }

  void MakeContext(platform::WebClient* web) {
    ctx_.reset();
    ctx_ = std::make_unique<Context>(AddinServices{user_, clock_, zone_, {}, &shell_, web});
    ctx_->InstDir = inst_.string() + "/";
  }

  std::string CheckAddress() const { return std::string(kVendor) + "/_check_update.asp?ver=" + version::kText; }
  std::string FallbackAddress() const { return std::string(kVendor) + "/download.asp?catID=3&fr=pxs"; }
  fs::path Target() const { return inst_ / "Update.exe"; }
  // The names in the installation folder.
  std::set<std::string> InstFiles() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(inst_)) names.insert(e.path().filename().string());
    return names;
  }
  std::vector<std::string> Runs() const {
    std::vector<std::string> out;
    for (const auto& r : shell_.Requests()) {
      if (r.kind == RecordingShell::Request::Kind::kRun) out.push_back(r.path);
    }
    return out;
  }
  std::vector<std::string> Opened() const {
    std::vector<std::string> out;
    for (const auto& r : shell_.Requests()) {
      if (r.kind == RecordingShell::Request::Kind::kOpenDocument) out.push_back(r.path);
    }
    return out;
  }

  ScopedEnv vendor_{"PLEXISYNC_VENDOR_URL", kVendor};
  fs::path scratch_;
  fs::path inst_;
  RecordingUser user_;
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  RecordingShell shell_;
  platform::FakeWebClient fake_;
  std::unique_ptr<Context> ctx_;
};

TEST_F(UpdateCheckTest, AddressesComeFromTheVendorServerAndTheVersion) {
  EXPECT_EQ(UpdateCheckAddress(), CheckAddress());
  EXPECT_EQ(UpdateFallbackAddress(), FallbackAddress());
  EXPECT_EQ(InstallerPath(*ctx_), inst_.string() + "/Update.exe");
  ctx_->InstDir.clear();
  EXPECT_ANY_THROW(InstallerPath(*ctx_));
}

TEST(InstallerAddress, OnlyTheVendorServersOwnAddressOverASafeScheme) {
  struct Case {
    const char* base;
    const char* address;
    bool accepted;
  };
  const Case cases[] = {
      {kVendor, "https://www.quorvane.example/files/Update.exe", true},
      {kVendor, "https://www.quorvane.example", true},
      {kVendor, "https://www.quorvane.example/", true},
      {kVendor, "https://www.quorvane.example.evil.example/Update.exe", false},
      {kVendor, "https://www.quorvane.examplex/Update.exe", false},
      {kVendor, "https://www.quorvane.example@evil.example/Update.exe", false},
      {kVendor, "https://www.quorvane.example:444/Update.exe", false},
      {kVendor, "http://www.quorvane.example/Update.exe", false},
      {kVendor, "https://evil.example/https://www.quorvane.example/Update.exe", false},
      {kVendor, "https://www.quorvane.example/Update.exe\r\n", false},
      {kVendor, "https://www.quorvane.example/Up date.exe", false},
      {kVendor, "", false},
      {kVendor, "0", false},
      // Plain http only on a loopback host.
      {"http://www.quorvane.example", "http://www.quorvane.example/Update.exe", false},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080/Update.exe", true},
      {"http://127.0.0.1:8080", "http://127.0.0.1:80800/Update.exe", false},
      {"http://localhost:8080", "http://localhost:8080/Update.exe", true},
      {"http://LocalHost", "http://LocalHost/Update.exe", true},
      {"http://[::1]:8080", "http://[::1]:8080/Update.exe", true},
      {"http://127.0.0.2:8080", "http://127.0.0.2:8080/Update.exe", false},
      {"http://evil.example@127.0.0.1", "http://evil.example@127.0.0.1/Update.exe", false},
      {"http://127.0.0.1.evil.example", "http://127.0.0.1.evil.example/Update.exe", false},
      {"ftp://127.0.0.1", "ftp://127.0.0.1/Update.exe", false},
      {"", "/Update.exe", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInstallerAddress(c.address, c.base), c.accepted) << c.base << " | " << c.address;
  }
}

TEST_F(UpdateCheckTest, TheServersAnswerDecides) {
  const std::string installer = std::string(kVendor) + "/files/Update.exe";
  struct Case {
    const char* name;
    std::optional<std::string> answer;  // none: the page cannot be had
    std::vector<std::string> messages;
    MsgBoxIcon icon;
  };
  const Case cases[] = {
      {"no newer version", "0", {kNoUpdates}, MsgBoxIcon::Information},
      {"0 with a line break", "0\r\n", {kFailed}, MsgBoxIcon::Critical},
      {"0 with a new line", "0\n", {kFailed}, MsgBoxIcon::Critical},
      {"0 with a blank", " 0", {kFailed}, MsgBoxIcon::Critical},
      {"empty page", "", {kFailed}, MsgBoxIcon::Critical},
      {"an error page", "<html><body>Server Error</body></html>", {kFailed}, MsgBoxIcon::Critical},
      {"another host", "https://other.example/files/Update.exe", {kFailed}, MsgBoxIcon::Critical},
      {"the vendor's host over http", "http://www.quorvane.example/files/Update.exe", {kFailed},
       MsgBoxIcon::Critical},
      {"no page", std::nullopt, {kFailed}, MsgBoxIcon::Critical},
      {"a newer version, declined", installer, {kNewVersion, kCancelled}, MsgBoxIcon::Information},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::FakeWebClient web;
    if (c.answer) {
      web.SetText(CheckAddress(), *c.answer);
    } else {
      web.SetError(CheckAddress(), "Cannot fetch: HTTP status 404", 404);
    }
    web.SetBytes(installer, Installer(100));
    MakeContext(&web);
    user_.messages.clear();
    user_.answers = {MsgBoxResult::No};

    Check_Update(*ctx_);

    EXPECT_EQ(user_.Texts(), c.messages);
    for (const auto& m : user_.messages) {
      EXPECT_EQ(m.title, "Plexisync");
      EXPECT_EQ(m.icon, m.text == kFailed ? MsgBoxIcon::Critical : MsgBoxIcon::Information);
    }
    if (!user_.messages.empty()) {
      EXPECT_EQ(user_.messages.back().icon, c.icon);
    }
    if (user_.messages.size() == 2) {
      EXPECT_EQ(user_.messages[0].buttons, MsgBoxButtons::YesNo);
    }
    // Only the check page was asked for, within the check's bounded wait.
    ASSERT_EQ(web.Requests(), std::vector<std::string>{CheckAddress()});
    EXPECT_EQ(web.Limits(), std::vector<long>{kUpdateCheckLimitSeconds});
    EXPECT_GT(kUpdateCheckLimitSeconds, 0);
    EXPECT_LE(kUpdateCheckLimitSeconds, 60);
    EXPECT_TRUE(shell_.Requests().empty());
    EXPECT_TRUE(InstFiles().empty());
  }
}

TEST_F(UpdateCheckTest, YesDownloadsTheInstallerIntoPlaceAndStartsIt) {
  const std::string installer = std::string(kVendor) + "/files/Update.exe";
  const auto bytes = Installer(70000);
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "replacing an earlier installer" : "first download");
    if (earlier) std::ofstream(Target(), std::ios::binary) << "an earlier installer";
    fake_.SetText(CheckAddress(), installer);
    fake_.SetBytes(installer, bytes);
    shell_.Clear();
    user_.messages.clear();
    user_.progress.clear();
    user_.answers = {MsgBoxResult::Yes, MsgBoxResult::Ok};

    Check_Update(*ctx_);

    EXPECT_EQ(user_.Texts(), (std::vector<std::string>{kNewVersion, kCompleted}));
    ASSERT_EQ(user_.messages.size(), 2u);
    EXPECT_EQ(user_.messages[1].icon, MsgBoxIcon::Exclamation);
    EXPECT_EQ(user_.messages[1].title, "Plexisync");
    const std::string saved = ReadAll(Target());
    EXPECT_EQ(saved, std::string(bytes.begin(), bytes.end()));
    // Nothing but the installer is left in the folder, and it may be run.
    EXPECT_EQ(InstFiles(), std::set<std::string>{"Update.exe"});
    EXPECT_EQ(::access(Target().c_str(), X_OK), 0);
    ASSERT_EQ(shell_.Requests().size(), 1u);
    EXPECT_EQ(shell_.Requests()[0].kind, RecordingShell::Request::Kind::kRun);
    EXPECT_EQ(shell_.Requests()[0].path, Target().string());
    EXPECT_EQ(shell_.Requests()[0].mode, platform::ShowMode::MinimizedFocus);
    // The progress window said what goes on, without a bar, and is gone.
    ASSERT_FALSE(user_.progress.empty());
    EXPECT_EQ(ctx_->Progress().Message().Caption(), kDownloading);
    EXPECT_EQ(user_.progress.front().text, "Downloading the update, please be patient...");
    EXPECT_EQ(user_.progress.front().percent, std::nullopt);
    EXPECT_FALSE(ctx_->Progress().IsVisible());
    EXPECT_TRUE(ctx_->Progress().TheBar().Visible());
  }
}

TEST_F(UpdateCheckTest, AFailedDownloadOpensTheDownloadPageAndLeavesTheDiskAlone) {
  const std::string installer = std::string(kVendor) + "/files/Update.exe";
  struct Case {
    const char* name;
    std::string address;
    bool serverFails;
    bool instDirKnown;
    bool earlier;
  };
  const Case cases[] = {
      {"the server fails", installer, true, true, false},
      {"the server fails, earlier installer kept", installer, true, true, true},
      {"another host", "https://evil.example/Update.exe", false, true, false},
      {"installation folder unknown", installer, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(inst_);
    fs::create_directories(inst_);
    if (c.earlier) std::ofstream(Target(), std::ios::binary) << "earlier";
    platform::FakeWebClient web;
    if (c.serverFails) {
      web.SetError(installer, "Cannot fetch: Transferred a partial file");
    } else {
      web.SetBytes(installer, Installer(10));
    }
    web.SetBytes("https://evil.example/Update.exe", Installer(10));
    MakeContext(&web);
    if (!c.instDirKnown) ctx_->InstDir.clear();
    shell_.Clear();
    user_.messages.clear();

    Download_Update(*ctx_, c.address);

    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(Opened(), std::vector<std::string>{FallbackAddress()});
    EXPECT_TRUE(user_.messages.empty());
    if (c.earlier) {
      EXPECT_EQ(InstFiles(), std::set<std::string>{"Update.exe"});
      EXPECT_EQ(ReadAll(Target()), "earlier");
    } else {
      EXPECT_TRUE(InstFiles().empty());  // nothing written, not even an error log
    }
    if (c.address != installer || !c.instDirKnown) {
      EXPECT_TRUE(web.Requests().empty());
    }
    EXPECT_FALSE(ctx_->Progress().IsVisible());
    EXPECT_TRUE(ctx_->Progress().TheBar().Visible());
  }
}

TEST_F(UpdateCheckTest, AnInstallerThatCannotStartOpensTheDownloadPage) {
  const std::string installer = std::string(kVendor) + "/files/Update.exe";
  fake_.SetBytes(installer, Installer(10));
  shell_.SetResult(false);
  user_.answers = {MsgBoxResult::Ok};
  Download_Update(*ctx_, installer);
  EXPECT_EQ(Runs(), std::vector<std::string>{Target().string()});
  EXPECT_EQ(Opened(), std::vector<std::string>{FallbackAddress()});
  // Not even the browser could be started: the person is told where to go.
  ASSERT_EQ(user_.messages.size(), 2u);
  EXPECT_EQ(user_.messages[0].text, kCompleted);
  EXPECT_NE(user_.messages[1].text.find(FallbackAddress()), std::string::npos);
}

TEST_F(UpdateCheckTest, TheDownloadFollowsOnlyRedirectsWithinTheVendorBase) {
  const std::string installer = std::string(kVendor) + "/files/Update.exe";
  const auto bytes = Installer(1000);
  struct Case {
    const char* name;
    std::string target;  // where the installer's address redirects to
    bool followed;
  };
  const Case cases[] = {
      {"within the base", std::string(kVendor) + "/files/v2/Update.exe", true},
      {"the base itself", std::string(kVendor) + "/", true},
      {"another host", "https://evil.example/Update.exe", false},
      {"a host that merely begins like the vendor's", "https://www.quorvane.example.evil.example/Update.exe", false},
      {"another port", "https://www.quorvane.example:8443/files/Update.exe", false},
      {"down to http on the vendor's host", "http://www.quorvane.example/files/Update.exe", false},
      {"another scheme", "ftp://www.quorvane.example/files/Update.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(inst_);
    fs::create_directories(inst_);
    platform::FakeWebClient web;
    web.SetRedirect(installer, c.target);
    web.SetBytes(c.target, bytes);
    MakeContext(&web);
    shell_.Clear();
    user_.messages.clear();
    user_.answers = {MsgBoxResult::Ok};

    Download_Update(*ctx_, installer);

    if (c.followed) {
      EXPECT_EQ(web.Requests(), (std::vector<std::string>{installer, c.target}));
      EXPECT_EQ(ReadAll(Target()), std::string(bytes.begin(), bytes.end()));
      EXPECT_EQ(Runs(), std::vector<std::string>{Target().string()});
      EXPECT_TRUE(Opened().empty());
    } else {
      // The refused address is never asked for; nothing is saved or started.
      EXPECT_EQ(web.Requests(), std::vector<std::string>{installer});
      EXPECT_TRUE(InstFiles().empty());
      EXPECT_TRUE(Runs().empty());
      EXPECT_EQ(Opened(), std::vector<std::string>{FallbackAddress()});
      EXPECT_TRUE(user_.messages.empty());
    }
  }
}

// The real web client against a server on this machine.
class UpdateOverHttpTest : public UpdateCheckTest {
 protected:
  void SetUp() override {
    UpdateCheckTest::SetUp();
    ASSERT_TRUE(server_.Running());
    vendorHere_ = std::make_unique<ScopedEnv>("PLEXISYNC_VENDOR_URL", server_.Base());
    MakeContext(&web_);
  }
  void TearDown() override {
    ctx_.reset();
    vendorHere_.reset();
    UpdateCheckTest::TearDown();
  }
  static platform::CurlWebClient::Options Options(long timeoutSeconds) {
    platform::CurlWebClient::Options o;
    o.connectTimeoutSeconds = 5;
    o.timeoutSeconds = timeoutSeconds;
    o.lowSpeedSeconds = 10;
    return o;
  }
  std::string CheckPath() const { return std::string("/_check_update.asp?ver=") + version::kText; }

  // Loopback requests never go through a proxy that the environment may name.
  ScopedEnv noProxy_{"no_proxy", "127.0.0.1,localhost"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "127.0.0.1,localhost"};
  platform::LoopbackHttpServer server_;
  platform::CurlWebClient web_{Options(20)};
  std::unique_ptr<ScopedEnv> vendorHere_;
};

TEST_F(UpdateOverHttpTest, ChecksDownloadsAndStarts) {
  server_.Set(CheckPath(), {"200 OK", "0", {}, {}, {}});
  Check_Update(*ctx_);
  EXPECT_EQ(user_.Texts(), std::vector<std::string>{kNoUpdates});

  const auto bytes = Installer(300000);
  server_.Set(CheckPath(), {"200 OK", server_.Base() + "/files/Update.exe", {}, {}, {}});
  server_.Set("/files/Update.exe", {"200 OK", std::string(bytes.begin(), bytes.end()), {}, {}, {}});
  user_.messages.clear();
  user_.answers = {MsgBoxResult::Yes, MsgBoxResult::Ok};
  Check_Update(*ctx_);
  EXPECT_EQ(user_.Texts(), (std::vector<std::string>{kNewVersion, kCompleted}));
  EXPECT_EQ(ReadAll(Target()), std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(Runs(), std::vector<std::string>{Target().string()});
  EXPECT_TRUE(Opened().empty());
}

TEST_F(UpdateOverHttpTest, ASlowServerIsAFailedCheck) {
  server_.Set(CheckPath(), {"200 OK", "0", std::chrono::milliseconds(5000), {}, {}});
  // The check's own limit ends the wait, whatever the client allows.
  EXPECT_EQ(Get_Update_Info(*ctx_, 1), "");
  // A check that runs out of time reports the failure.
  platform::CurlWebClient impatient(Options(1));
  MakeContext(&impatient);
  Check_Update(*ctx_);
  EXPECT_EQ(user_.Texts(), std::vector<std::string>{kFailed});
  EXPECT_TRUE(shell_.Requests().empty());
}

TEST_F(UpdateOverHttpTest, ADownloadThatBreaksOffLeavesNothingInPlaceAndStartsNothing) {
  const auto bytes = Installer(200000);
  server_.Set(CheckPath(), {"200 OK", server_.Base() + "/files/Update.exe", {}, {}, {}});
  server_.Set("/files/Update.exe", {"200 OK", std::string(bytes.begin(), bytes.end()), {}, 100000, {}});
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "with an earlier installer" : "first download");
    if (earlier) std::ofstream(Target(), std::ios::binary) << "earlier";
    shell_.Clear();
    user_.messages.clear();
    user_.answers = {MsgBoxResult::Yes};
    Check_Update(*ctx_);
    EXPECT_EQ(user_.Texts(), std::vector<std::string>{kNewVersion});
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(Opened(), std::vector<std::string>{server_.Base() + "/download.asp?catID=3&fr=pxs"});
    if (earlier) {
      EXPECT_EQ(InstFiles(), std::set<std::string>{"Update.exe"});
      EXPECT_EQ(ReadAll(Target()), "earlier");
    } else {
      EXPECT_TRUE(InstFiles().empty());
    }
  }
}

TEST_F(UpdateOverHttpTest, ARedirectOutOfTheVendorBaseIsRefused) {
  // The vendor base is http://127.0.0.1:<port>: the same server named
  // "localhost", and another port of 127.0.0.1, are other bases.
  platform::LoopbackHttpServer other;
  ASSERT_TRUE(other.Running());
  const std::string swapped = "a swapped installer";
  other.Set("/files/Update.exe", {"200 OK", swapped, {}, {}, {}});
  server_.Set("/elsewhere/Update.exe", {"200 OK", swapped, {}, {}, {}});
  const std::string targets[] = {
      other.Base() + "/files/Update.exe",
      "http://localhost:" + std::to_string(server_.Port()) + "/elsewhere/Update.exe",
  };
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    fs::remove_all(inst_);
    fs::create_directories(inst_);
    server_.Set(CheckPath(), {"200 OK", server_.Base() + "/files/Update.exe", {}, {}, {}});
    server_.Set("/files/Update.exe", platform::LoopbackHttpServer::Reply::Redirect(target));
    const std::size_t before = server_.Requests().size();
    shell_.Clear();
    user_.messages.clear();
    user_.answers = {MsgBoxResult::Yes, MsgBoxResult::Ok};

    Check_Update(*ctx_);

    EXPECT_EQ(user_.Texts(), std::vector<std::string>{kNewVersion});
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(Opened(), std::vector<std::string>{server_.Base() + "/download.asp?catID=3&fr=pxs"});
    EXPECT_TRUE(InstFiles().empty());
    // The redirect's target was never asked for.
    const auto requests = server_.Requests();
    EXPECT_EQ(std::vector<std::string>(requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()),
              (std::vector<std::string>{CheckPath(), "/files/Update.exe"}));
    EXPECT_TRUE(other.Requests().empty());
  }
}

TEST_F(UpdateOverHttpTest, ARedirectWithinTheVendorBaseIsFollowed) {
  const auto bytes = Installer(300000);
  server_.Set(CheckPath(), {"200 OK", server_.Base() + "/files/Update.exe", {}, {}, {}});
  server_.Set("/files/Update.exe", platform::LoopbackHttpServer::Reply::Redirect("v2/Update.exe"));
  server_.Set("/files/v2/Update.exe",
              platform::LoopbackHttpServer::Reply::Redirect(server_.Base() + "/files/v3/Update.exe", "301 Moved"));
  server_.Set("/files/v3/Update.exe", {"200 OK", std::string(bytes.begin(), bytes.end()), {}, {}, {}});
  user_.answers = {MsgBoxResult::Yes, MsgBoxResult::Ok};

  Check_Update(*ctx_);

  EXPECT_EQ(user_.Texts(), (std::vector<std::string>{kNewVersion, kCompleted}));
  EXPECT_EQ(ReadAll(Target()), std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(Runs(), std::vector<std::string>{Target().string()});
  EXPECT_TRUE(Opened().empty());
  EXPECT_EQ(server_.Requests(), (std::vector<std::string>{CheckPath(), "/files/Update.exe", "/files/v2/Update.exe",
                                                          "/files/v3/Update.exe"}));
}

// The vendor over https (a loopback openssl server whose certificate the
// client trusts), with a plain http server beside it.
class UpdateOverHttpsTest : public UpdateOverHttpTest {
 protected:
  void SetUp() override {
    UpdateOverHttpTest::SetUp();
    ASSERT_TRUE(https_.Running()) << https_.Error();
    auto options = Options(20);
    options.caFile = https_.CaFile();
    tls_ = std::make_unique<platform::CurlWebClient>(options);
    vendorHere_.reset();  // the earlier value back first, then the https base
    vendorHere_ = std::make_unique<ScopedEnv>("PLEXISYNC_VENDOR_URL", https_.Base());
    MakeContext(tls_.get());
  }
  void TearDown() override {
    ctx_.reset();
    tls_.reset();
    UpdateOverHttpTest::TearDown();
  }
  std::string Fallback() const { return https_.Base() + "/download.asp?catID=3&fr=pxs"; }

  platform::LoopbackHttpsServer https_;
  std::unique_ptr<platform::CurlWebClient> tls_;
};

TEST_F(UpdateOverHttpsTest, DownloadsOverHttpsButNeverDownToHttp) {
  const auto bytes = Installer(100000);
  const std::string body(bytes.begin(), bytes.end());
  https_.Set("/files/Update.exe", {"200 OK", body, {}, {}, {}});
  https_.Set("/files/moved.exe", platform::LoopbackHttpServer::Reply::Redirect("/files/Update.exe"));
  // The same address over plain http (the http server holds a swapped one).
  https_.Set("/files/down.exe", platform::LoopbackHttpServer::Reply::Redirect(server_.Base() + "/files/Update.exe"));
  https_.Set("/files/named.exe", platform::LoopbackHttpServer::Reply::Redirect(
                                     "https://localhost:" + std::to_string(https_.Port()) + "/files/Update.exe"));
  server_.Set("/files/Update.exe", {"200 OK", "a swapped installer", {}, {}, {}});

  struct Case {
    const char* name;
    const char* path;
    bool followed;
  };
  const Case cases[] = {
      {"straight", "/files/Update.exe", true},
      {"redirected within the base", "/files/moved.exe", true},
      {"redirected down to http", "/files/down.exe", false},
      {"redirected to another host name over https", "/files/named.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(inst_);
    fs::create_directories(inst_);
    shell_.Clear();
    user_.messages.clear();
    user_.answers = {MsgBoxResult::Ok};

    Download_Update(*ctx_, https_.Base() + c.path);

    if (c.followed) {
      EXPECT_EQ(ReadAll(Target()), body);
      EXPECT_EQ(Runs(), std::vector<std::string>{Target().string()});
      EXPECT_TRUE(Opened().empty());
    } else {
      EXPECT_TRUE(InstFiles().empty());
      EXPECT_TRUE(Runs().empty());
      EXPECT_EQ(Opened(), std::vector<std::string>{Fallback()});
      EXPECT_TRUE(user_.messages.empty());
    }
  }
  EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace
}  // namespace plexisync

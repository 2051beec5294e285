#pragma once
// A test bed for the add-in: one or more "machines", each a person's
// computer with a mail profile, the client (host::Application) and a running
// add-in (plexisync::Context and Appl), all on a scratch folder that is
// removed after the test. Machines of one test share a post office, a clock
// and a scratch folder, so mail sent on one arrives on the other.
//
// Usage:
//
//   class MyTest : public plexisync::testing::AddinTest {};
//
//   TEST_F(MyTest, Something) {
//     auto& m = Machine();             // "Test User" <me@example.com>
//     m.StartReturning();              // a start without first-start dialogues
//     ...                              // m.ctx, m.app, m.appl, m.user, m.Reg()
//     m.DoEvents();                    // delivers queued item-added events
//     EXPECT_EQ(m.user.Problems(), "");
//   }
//
// What each machine holds, in construction order (destroyed in reverse):
//   timeZone  a FixedTimeZone with the chosen standard-time bias
//   user      a ScriptedUser: queue ExpectMessage / ExpectForm before acting
//   profile   host::Profile::Create in <scratch>/<name> (writes "InstDir")
//   hive      the profile's key store (HKEY_CURRENT_USER of the add-in)
//   transport the post-office transport of the shared post office
//   app       the client, on the profile, the shared ManualClock, the user
//   ctx       the add-in's Context (AddinServices: user, clock, zone, hive)
//   appl      the add-in object Appl on ctx
//
// Starting: Start() is what the client's add-in connection does (Init with
// the application, then SetUp). A first start on a clean profile greets the
// person, asks for access and shows the own-address window: queue that
// dialogue with ExpectFirstStart() first, or use StartReturning(), which
// stores the layout version and the own-address list beforehand so that
// SetUp asks nothing.
//
// Restart() drops the add-in object, the context and the client (ShutDown
// does not run: no explorer window is closed) and
// creates new ones on the same profile and hive, without starting them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/transport/post_office.hpp"
#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "platform/textfile.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/settings.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace plexisync::testing {

// Texts of the dialogues a start can bring up (parts are enough to match).
inline constexpr const char* kFirstStartText = "You have launched Plexisync for the first time.";
inline constexpr const char* kAddressGuardText = "A program is trying to access e-mail addresses";
inline constexpr const char* kReportQuestionText = "Plexisync encountered an error, so it may stop";

// The profile key of every machine.
inline std::string ProfileKeyPath() { return std::string(kProductKey) + "default\\"; }

// The stored form of an own-address list.
inline std::string StoredMyMails(const std::vector<std::string>& addresses) {
  std::string s;
  for (const auto& a : addresses) s += std::string(kMyMailOpen) + a + kMyMailClose;
  return s;
}

struct MachineOptions {
  std::string name = "machine";  // folder of the profile under the scratch folder
  std::string displayName = "Test User";
  std::string address = "me@example.com";
  int biasMinutes = 0;  // standard-time bias: UTC = local + bias (UTC+1 is -60)
  bool reopen = false;  // open the profile an earlier machine made (in this or another process)
};

class AddinMachine {
 public:
  AddinMachine(const std::filesystem::path& scratch, const std::filesystem::path& postOffice,
               platform::ManualClock& clock, const MachineOptions& options = {})
      : clock(clock),
        timeZone(options.biasMinutes),
        profile(options.reopen
                    ? host::Profile::Open(scratch / options.name)
                    : host::Profile::Create(scratch / options.name, options.displayName, options.address, postOffice)),
        hive(profile.OpenKeyStore()),
        transport(std::make_unique<host::PostOfficeTransport>(postOffice)) {
    MakeClientAndAddin();
  }
  ~AddinMachine() { EndClientAndAddin(); }
  AddinMachine(const AddinMachine&) = delete;
  AddinMachine& operator=(const AddinMachine&) = delete;

  platform::ManualClock& clock;
  platform::FixedTimeZone timeZone;
  platform::ScriptedUser user;
  host::Profile profile;
  std::unique_ptr<platform::KeyStore> hive;
  std::unique_ptr<host::Transport> transport;
  std::unique_ptr<host::Application> app;
  std::unique_ptr<Context> ctx;
  std::unique_ptr<Appl> appl;

  // The client's add-in connection: Init, then SetUp.
  void Start() {
    appl->Init(*app);
    appl->SetUp();
  }

  // Stores the layout version and an own-address list (the profile's own
  // address when none is given), so that the next start asks nothing.
  void SeedReturningUser(std::vector<std::string> myMails = {}) {
    if (myMails.empty()) myMails.push_back(profile.Address());
    Reg().SetValue(ProfileKeyPath(), "version", std::string(kLayoutVersion), 1);
    Reg().SetValue(ProfileKeyPath(), "MyMails", StoredMyMails(myMails), 1);
  }
  void StartReturning(std::vector<std::string> myMails = {}) {
    SeedReturningUser(std::move(myMails));
    Start();
  }

  // Queues the first-start dialogue: the greeting, the client's access
  // question (answered Yes when `allowAccess`), and the own-address window
  // with `actions` (closed with its cancel button when they leave it open).
  void ExpectFirstStart(bool allowAccess = true, std::function<void(platform::Form&)> actions = {}) {
    user.ExpectMessage(kFirstStartText, platform::MsgBoxResult::Ok);
    user.ExpectMessage(kAddressGuardText, allowAccess ? platform::MsgBoxResult::Yes : platform::MsgBoxResult::No);
    user.ExpectForm("frmMyMails", std::move(actions));
  }

  // Closes the client and starts a new one (not yet the add-in) on the same
  // profile and hive.
  void Restart() {
    EndClientAndAddin();
    MakeClientAndAddin();
  }

  // An accessor of its own on the machine's hive, for arranging and checking
  // stored data whether or not the add-in runs.
  CRegistry& Reg() {
    if (!reg_) {
      reg_ = std::make_unique<CRegistry>(Hives());
      reg_->Init(HKEY_CURRENT_USER);
    }
    return *reg_;
  }
  std::string Setting(const std::string& name, const std::string& def = "<absent>") {
    return Reg().GetString(ProfileKeyPath(), name, def);
  }

  // The installation folder as the installer stored it (with its separator).
  std::string InstDir() const { return profile.InstallDirText(); }
  std::filesystem::path ErrorLogPath() const { return InstDir() + "errors.log"; }
  // The whole error log; "" when there is none.
  std::string ErrorLog() const {
    return platform::FileExists(ErrorLogPath()) ? platform::ReadTextFile(ErrorLogPath()) : std::string();
  }
  // The log's records (split at CR LF; a record whose description spans
  // lines shows as several).
  std::vector<std::string> ErrorRecords() const {
    std::vector<std::string> out;
    const std::string log = ErrorLog();
    std::size_t pos = 0;
    while (pos < log.size()) {
      const auto end = log.find("\r\n", pos);
      if (end == std::string::npos) {
        out.push_back(log.substr(pos));
        break;
      }
      out.push_back(log.substr(pos, end - pos));
      pos = end + 2;
    }
    return out;
  }
  // The error name of each record, in order.
  std::vector<std::string> LoggedErrorNames() const {
    std::vector<std::string> names;
    for (const auto& r : ErrorRecords()) {
      const auto at = r.find(" Error in ");
      if (at == std::string::npos) continue;
      const auto start = at + 10;
      names.push_back(r.substr(start, r.find(' ', start) - start));
    }
    return names;
  }

  // The message boxes shown so far, as the transcript has them:
  // Message "<title>" (<icon>) [<buttons>]:\n  <text, lines indented>
  std::vector<std::string> MessagesShown() const {
    std::vector<std::string> out;
    for (const auto& entry : user.Transcript()) {
      if (entry.rfind("Message ", 0) == 0) out.push_back(entry);
    }
    return out;
  }

  std::shared_ptr<host::Folder> DefaultFolder(int folder) { return app->Session()->GetDefaultFolder(folder); }
  // A saved mail item with that subject in the folder (its item-added event
  // is queued: call DoEvents to deliver it).
  std::shared_ptr<host::Item> SaveMailIn(int folder, const std::string& subject) {
    host::PersonScope person(*app);
    auto item = DefaultFolder(folder)->Items()->Add(host::kMailItem);
    item->SetSubject(subject);
    item->Save();
    return item;
  }
  void DoEvents() { app->DoEvents(); }

  // The hive the add-in sees; a test may put a wrapper of `hive` here to
  // make chosen calls fail (the client keeps the real one).
  platform::KeyStore* addinHive = nullptr;

  CRegistry::HiveProvider Hives() {
    return [this](std::int32_t root) -> platform::KeyStore* {
      if (root != HKEY_CURRENT_USER) return nullptr;
      return addinHive ? addinHive : hive.get();
    };
  }

 private:
  void MakeClientAndAddin() {
    app = std::make_unique<host::Application>(profile, host::HostServices{clock, user, *transport, *hive, timeZone});
    ctx = std::make_unique<Context>(AddinServices{user, clock, timeZone, Hives()});
    appl = std::make_unique<Appl>(*ctx);
  }
  void EndClientAndAddin() {
    appl.reset();
    ctx.reset();
    app.reset();
  }

  std::unique_ptr<CRegistry> reg_;
};

// A test with a scratch folder, a shared post office and clock, and machines
// made on demand.
class AddinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    scratch_ = std::filesystem::temp_directory_path() /
               ("plexisync-addin-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + name);
    std::filesystem::remove_all(scratch_);
    std::filesystem::create_directories(scratch_);
    postOffice_ = scratch_ / "postoffice";
  }
  void TearDown() override {
    machines_.clear();
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
  }

  // A new machine; give each machine of a test its own options.name.
  AddinMachine& Machine(const MachineOptions& options = {}) {
    machines_.push_back(std::make_unique<AddinMachine>(scratch_, postOffice_, clock_, options));
    return *machines_.back();
  }

  const std::filesystem::path& Scratch() const { return scratch_; }
  const std::filesystem::path& PostOffice() const { return postOffice_; }
  platform::ManualClock& Clock() { return clock_; }

 private:
  std::filesystem::path scratch_;
  std::filesystem::path postOffice_;
  platform::ManualClock clock_;
  std::vector<std::unique_ptr<AddinMachine>> machines_;
};

}  // namespace plexisync::testing

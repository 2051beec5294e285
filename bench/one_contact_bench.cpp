// The one-contact round: alice shares a folder of 5,000 contacts with bob,
// bob has applied the first full share, and then alice changes one contact.
// Measured, as a person runs them:
//   - owner: `plexisync -p alice send-receive` with AutoUpdate on (the add-in
//     sends the one-contact update mail as it starts, the Outbox goes out);
//   - member: `plexisync -p bob --answer Yes send-receive` (the mail is
//     fetched and applied; bob accepts the change when asked).
// Goal: at most 100 ms each (median of the rounds). Most of it is the fixed
// cost of a command: process start, the profile lock, opening store.db and
// registry.db, the add-in's start-up, the explorer window, the send/receive.
//
// BM_OneContactRound_Program runs the program itself, one process per
// command; BM_OneContactRound_InProcess runs the same commands through
// cli::RunPlexisync in this process (no process start, no dynamic linking).
// BM_IdleSendReceive_Program is bob's send-receive with nothing to fetch:
// the fixed cost alone.
//
// The profiles are made once, through the program where it is cheap (profile
// create, share, the first send-receives) and through the client's object
// model for the 5,000 contacts (5,000 `contact add` commands would take
// minutes). Every round checks its outcome and stops the run when it is not
// what the round stands for. With ONE_CONTACT_BENCH_HOME set, the prepared
// profiles are kept there for the next run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/app.hpp"
#include "cli/folder_paths.hpp"
#include "cli/session.hpp"
#include "host/object_model.hpp"
#include "platform/clock.hpp"
#include "platform/datetime.hpp"
#include "support/scripted_user.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kContacts = 5000;
constexpr double kGoalMs = 100;
constexpr const char* kFolder = "Contacts/Team";
// The contact alice changes each round.
constexpr const char* kChanged = "Contact 2500";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Outcome {
  int rc = -1;
  std::string out;
  double ms = 0;
};

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The scratch $PLEXISYNC_HOME with alice and bob, made once for every case.
class Home {
 public:
  static Home& Get() {
    static Home home;
    return home;
  }

  const std::string& Error() const { return error_; }

  // "plexisync ARGS..." as its own process; the time from spawn to exit.
  Outcome Program(const std::vector<std::string>& args) {
    std::vector<std::string> words{PLEXISYNC_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const fs::path outFile = dir_ / "program.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    Outcome r;
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      r.ms = Ms(Clock::now() - t0);
      r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    r.out = ReadFile(outFile);
    return r;
  }

  // The same command run in this process.
  Outcome InProcess(const std::vector<std::string>& args) {
    std::vector<std::string> words{"plexisync"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::istringstream in;
    std::ostringstream out;
    Outcome r;
    const auto t0 = Clock::now();
    r.rc = cli::RunPlexisync(static_cast<int>(words.size()), argv.data(), in, out, out);
    r.ms = Ms(Clock::now() - t0);
    r.out = out.str();
    return r;
  }

  // Alice changes the contact (not timed). A send stamps its recipients
  // with its time plus 5 seconds, and "only updated items" takes the
  // contacts changed after the stamp (whole seconds), so the change waits
  // until the stamp of alice's last send has passed.
  bool ChangeOneContact() {
    const auto ready = lastOwnerSend_ + std::chrono::seconds(6);
    if (std::chrono::system_clock::now() < ready) std::this_thread::sleep_until(ready);
    WaitForNextSecond();
    ++round_;
    const Outcome r = Program({"-p", "alice", "--batch", "contact", "set", kFolder, kChanged, "--set",
                               "JobTitle=Round " + std::to_string(round_)});
    if (r.rc != 0) error_ = "contact set failed: " + r.out;
    return r.rc == 0;
  }
  // Called when alice's send-receive has sent.
  void OwnerSent() { lastOwnerSend_ = std::chrono::system_clock::now(); }

  // Checks the outputs of one round's two commands: bob's copy of the
  // changed contact was replaced by the one alice's send-receive sent.
  bool CheckRound(const Outcome& owner, const Outcome& member) {
    if (owner.rc != 0) {
      error_ = "alice's send-receive failed:\n" + owner.out;
      return false;
    }
    if (member.rc != 0 || member.out.find("Update mails: 1 arrived, 1 applied") == std::string::npos ||
        member.out.find("Personal Folders/Contacts/Team: 1 replaced") == std::string::npos) {
      error_ = "bob's send-receive did not apply one update mail of one contact:\n" + member.out;
      return false;
    }
    return true;
  }

 private:
  Home() {
    // ONE_CONTACT_BENCH_HOME names a folder that is kept: prepared by the
    // first run, taken as it is by the next ones (the setup takes minutes).
    if (const char* keep = std::getenv("ONE_CONTACT_BENCH_HOME"); keep && *keep) {
      dir_ = keep;
      keep_ = true;
      fs::create_directories(dir_);
    } else {
      std::string tmpl = (fs::temp_directory_path() / "one-contact-bench-XXXXXX").string();
      if (!::mkdtemp(tmpl.data())) std::abort();
      dir_ = tmpl;
    }
    ::setenv("PLEXISYNC_HOME", dir_.c_str(), 1);
    ::unsetenv("PLEXISYNC_PROFILE");
    try {
      if (!keep_ || !fs::exists(dir_ / "prepared")) SetUp();
      if (keep_) std::ofstream(dir_ / "prepared") << "ready\n";
    } catch (const std::exception& e) {
      error_ = std::string("setup failed: ") + e.what();
    }
  }
  ~Home() {
    if (keep_) return;
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void Must(const std::vector<std::string>& args) {
    const Outcome r = Program(args);
    if (r.rc != 0) throw std::runtime_error(args.back() + ": " + r.out);
    std::fprintf(stderr, "setup: %s %s %.0f ms\n", args[args.size() > 2 ? 2 : 0].c_str(),
                 args.size() > 3 ? args[3].c_str() : "", r.ms);
  }

  void SetUp() {
    for (const auto& [name, display] : {std::pair{"alice", "Alice Adams"}, std::pair{"bob", "Bob Brown"}}) {
      Must({"profile", "create", name, "--name", display, "--address", std::string(name) + "@example.org",
            "--answer", "OK", "--answer", "Yes", "--answer", "OK"});
    }
    Must({"-p", "alice", "contact", "add", "Contacts", "--set", "FullName=Bob Brown", "--set",
          "Email1Address=bob@example.org"});
    Must({"-p", "alice", "folder", "add", kFolder});
    const auto t0 = Clock::now();
    FillFolder();
    std::fprintf(stderr, "setup: %d contacts saved in %.0f ms\n", kContacts, Ms(Clock::now() - t0));
    // The whole folder goes by mail, not as an export file.
    Must({"-p", "alice", "options", "--set", "AutoUpdate=on", "--set", "Send_Updated=on", "--set", "Export=off"});
    Must({"-p", "alice", "share", kFolder, "--add", "Bob Brown", "--send"});
    Must({"-p", "alice", "send-receive"});
    OwnerSent();
    const Outcome first = Program({"-p", "bob", "--batch", "send-receive"});
    std::fprintf(stderr, "setup: the first share applied at bob in %.0f ms\n", first.ms);
    if (first.rc != 0 || first.out.find(std::to_string(kContacts) + " contacts arrived") == std::string::npos) {
      throw std::runtime_error("the first share did not reach bob:\n" + first.out);
    }
  }

  // The 5,000 contacts, saved through the client with the add-in loaded, as
  // the program's `contact add` does, in one session.
  void FillFolder() {
    platform::ScriptedUser user;
    platform::SystemClock clock;
    platform::SystemTimeZone zone;
    cli::ProfileSession s(dir_ / "alice", cli::SessionServices{user, clock, zone});
    s.AsPerson([&] {
      auto items = cli::ResolveFolder(*s.Session(), kFolder)->Items();
      for (int i = 0; i < kContacts; ++i) {
        auto c = std::dynamic_pointer_cast<host::ContactItem>(items->Add("IPM.Contact"));
        const std::string n = std::to_string(i);
        c->SetFullName("Contact " + n);
        c->SetFirstName("Contact");
        c->SetLastName(n);
        c->SetCompanyName("Company " + std::to_string(i % 97));
        c->SetEmail1Address("contact" + n + "@example.org");
        c->SetProperty("BusinessTelephoneNumber", "+1 555 0100 " + n);
        c->SetProperty("BusinessAddress", std::string("1 Main Street\r\nSpringfield"));
        c->SetBody("Met at the fair, " + n + ".");
        c->Save();
      }
    });
    s.Close();
  }

  static void WaitForNextSecond() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto next = std::chrono::duration_cast<std::chrono::seconds>(now) + std::chrono::seconds(1);
    std::this_thread::sleep_for(next - now + std::chrono::milliseconds(5));
  }

  fs::path dir_;
  bool keep_ = false;
  std::string error_;
  int round_ = 0;
  std::chrono::system_clock::time_point lastOwnerSend_ = std::chrono::system_clock::now();
};

void Report(benchmark::State& state, const char* how, const std::vector<double>& owner,
            const std::vector<double>& member) {
  const double o = Median(owner), m = Median(member);
  state.counters["owner_ms"] = o;
  state.counters["member_ms"] = m;
  state.counters["goal_ms"] = kGoalMs;
  std::printf("%s: owner send-receive %.1f ms, member send-receive %.1f ms (median of %zu; goal <= %.0f ms each)\n",
              how, o, m, owner.size(), kGoalMs);
}

template <class Run>
void OneContactRound(benchmark::State& state, const char* how, Run run) {
  Home& home = Home::Get();
  if (!home.Error().empty()) {
    state.SkipWithError(home.Error().c_str());
    return;
  }
  std::vector<double> owner, member;
  for (auto _ : state) {
    state.PauseTiming();
    if (!home.ChangeOneContact()) {
      state.SkipWithError(home.Error().c_str());
      break;
    }
    state.ResumeTiming();
    const Outcome o = run(home, std::vector<std::string>{"-p", "alice", "--batch", "send-receive"});
    home.OwnerSent();
    // Bob accepts the change when asked, as a person does.
    const Outcome m = run(home, std::vector<std::string>{"-p", "bob", "--answer", "Yes", "send-receive"});
    state.PauseTiming();
    if (!home.CheckRound(o, m)) {
      state.SkipWithError(home.Error().c_str());
      break;
    }
    owner.push_back(o.ms);
    member.push_back(m.ms);
    state.ResumeTiming();
  }
  Report(state, how, owner, member);
}

void BM_OneContactRound_Program(benchmark::State& state) {
  OneContactRound(state, "program", [](Home& h, const std::vector<std::string>& a) { return h.Program(a); });
}
BENCHMARK(BM_OneContactRound_Program)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_OneContactRound_InProcess(benchmark::State& state) {
  OneContactRound(state, "in-process", [](Home& h, const std::vector<std::string>& a) { return h.InProcess(a); });
}
BENCHMARK(BM_OneContactRound_InProcess)->Unit(benchmark::kMillisecond)->Iterations(5);

// Bob's send-receive with nothing to fetch: the fixed cost of the command.
void BM_IdleSendReceive_Program(benchmark::State& state) {
  Home& home = Home::Get();
  if (!home.Error().empty()) {
    state.SkipWithError(home.Error().c_str());
    return;
  }
  std::vector<double> times;
  for (auto _ : state) {
    const Outcome r = home.Program({"-p", "bob", "--batch", "send-receive"});
    if (r.rc != 0 || r.out.find("No contacts changed") == std::string::npos) {
      state.SkipWithError(("bob's idle send-receive changed something:\n" + r.out).c_str());
      break;
    }
    times.push_back(r.ms);
  }
  state.counters["median_ms"] = Median(times);
  std::printf("program: idle member send-receive %.1f ms (median of %zu)\n", Median(times), times.size());
}
BENCHMARK(BM_IdleSendReceive_Program)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

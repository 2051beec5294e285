#pragma once
// Runs the whole program in-process on a scratch $PLEXISYNC_HOME that is
// removed after the test.
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/app.hpp"

namespace cli::testing {

struct RunResult {
  int rc = -1;
  std::string out;
  std::string err;
};

inline std::filesystem::path NewScratchDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  auto dir = std::filesystem::temp_directory_path() /
             ("plexisync-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = NewScratchDir("cli");
    ::setenv("PLEXISYNC_HOME", home_.c_str(), 1);
    ::unsetenv("PLEXISYNC_PROFILE");
  }
  void TearDown() override {
    ::unsetenv("PLEXISYNC_HOME");
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }

  // Runs "plexisync ARGS..." with `input` as the terminal's input.
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    RunResult r;
    r.rc = RunWith(args, in, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  // Runs "plexisync ARGS..." in a child process, for a command that may end
  // the process itself (an --answer that fits no choice of its question):
  // its output goes through files, its exit code is the child's.
  RunResult RunInChild(const std::vector<std::string>& args) {
    const std::filesystem::path outFile = home_ / "child.out";
    const std::filesystem::path errFile = home_ / "child.err";
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = ::fork();
    if (pid == 0) {
      int rc = 3;
      {
        std::istringstream in;
        std::ofstream out(outFile), err(errFile);
        rc = RunWith(args, in, out, err);
      }
      std::_Exit(rc);
    }
    RunResult r;
    if (pid < 0) {
      ADD_FAILURE() << "fork failed";
      return r;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto read = [](const std::filesystem::path& file) {
      std::ifstream in(file);
      return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    r.out = read(outFile);
    r.err = read(errFile);
    return r;
  }

  // Runs "plexisync -p PROFILE ARGS..." for a command that must fail with
  // exit code 1 and a one-line error holding `message`.
  RunResult ExpectFailure(const std::string& profile, const std::vector<std::string>& args,
                          const std::string& message) {
    std::vector<std::string> full{"-p", profile};
    full.insert(full.end(), args.begin(), args.end());
    RunResult r = Run(full);
    EXPECT_EQ(r.rc, 1) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find(message), std::string::npos) << ::testing::PrintToString(args) << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    return r;
  }

  // Runs a command that must succeed and print one JSON document.
  nlohmann::json RunJson(const std::vector<std::string>& args) {
    RunResult r = Run(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    try {
      return nlohmann::json::parse(r.out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not JSON: " << e.what() << "\n" << r.out;
      return nullptr;
    }
  }

  // A profile whose first start allowed the access and accepted the
  // own-address window.
  void CreateProfile(const std::string& name, const std::string& display, const std::string& address) {
    RunResult r = Run({"profile", "create", name, "--name", display, "--address", address, "--answer", "OK",
                       "--answer", "Yes", "--answer", "OK"});
    ASSERT_EQ(r.rc, 0) << r.out << r.err;
  }
  void CreateAlice() { CreateProfile("alice", "Alice Adams", "alice@example.org"); }
  void CreateBob() { CreateProfile("bob", "Bob Brown", "bob@example.org"); }

  // Runs a command that must succeed; its standard output.
  std::string Ok(const std::vector<std::string>& args) {
    RunResult r = Run(args);
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    return r.out;
  }

  std::filesystem::path home_;

 private:
  static int RunWith(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    std::vector<std::string> words{"plexisync"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return cli::RunPlexisync(static_cast<int>(words.size()), argv.data(), in, out, err);
  }
};

// The last non-empty line of a text.
inline std::string LastLine(const std::string& text) {
  std::istringstream lines(text);
  std::string line, last;
  while (std::getline(lines, line)) {
    if (!line.empty()) last = line;
  }
  return last;
}

}  // namespace cli::testing

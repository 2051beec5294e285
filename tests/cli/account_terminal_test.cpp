// The password asked at the terminal (echo off) and the transfer progress
// drawn on standard error.
#include "cli/account_terminal.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>

namespace cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Everything the terminal shows until the child ends (or 10 s pass).
std::string ReadAll(int fd, pid_t child) {
  std::string seen;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      char buf[256];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, static_cast<std::size_t>(n));
    } else if (waitpid(child, nullptr, WNOHANG) == child) {
      return seen;
    }
  }
  waitpid(child, nullptr, 0);
  return seen;
}

TEST(AccountTerminalTest, PasswordIsReadWithoutEchoFromTheTerminal) {
  struct Case {
    const char* typed;
    const char* result;  // what the child reports: the answer or "(none)"
  } cases[] = {
      {"s3cret-word\n", "[s3cret-word]"},
      {"with blank \r\n", "[with blank ]"},
      {"\x04", "(none)"},  // end of input before a line
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto answer = AskPasswordAtTerminal("Password for bob@example.org (smtps://h:465): ");
      const std::string report = answer ? "[" + *answer + "]" : "(none)";
      // The result goes out through the terminal too, marked.
      const std::string line = "RESULT" + report + "END\n";
      if (write(STDOUT_FILENO, line.data(), line.size()) < 0) _exit(2);
      _exit(0);
    }
    // Wait for the prompt, then type.
    std::string seen;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.find("(smtps://h:465): ") == std::string::npos && std::chrono::steady_clock::now() < until) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        char buf[256];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<std::size_t>(n));
      }
    }
    ASSERT_THAT(seen, HasSubstr("Password for bob@example.org (smtps://h:465): "));
    // Echo is switched off only once the prompt is out: give it a moment.
    usleep(200 * 1000);
    ASSERT_EQ(write(master, c.typed, std::strlen(c.typed)), static_cast<ssize_t>(std::strlen(c.typed)));
    seen += ReadAll(master, pid);
    close(master);
    EXPECT_THAT(seen, HasSubstr(std::string("RESULT") + c.result + "END"));
    // What was typed never shows, only the marked result.
    const std::string shown = seen.substr(0, seen.find("RESULT"));
    EXPECT_THAT(shown, Not(HasSubstr("s3cret")));
    EXPECT_THAT(shown, Not(HasSubstr("with blank")));
  }
}

TEST(AccountTerminalTest, ProgressIsOneLineRedrawnPerStepAndNothingOffTheTerminal) {
  std::ostringstream out;
  auto progress = TerminalTransferProgress(out, true, 60);
  ASSERT_TRUE(progress);
  progress("Sending", 0, 200);
  progress("Sending", 1, 200);  // same percentage: not redrawn
  progress("Sending", 100, 200);
  progress("Sending", 200, 200);
  progress("Sending", 200, 200);  // done already
  progress("Fetching", 1, 4);
  const std::string text = out.str();
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "\rSending... [....................] 0%\rSending... [##########..........] 50%"
            "\rSending... [####################] 100%");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_THAT(text, HasSubstr("\n\rFetching... [#####...............] 25%"));

  std::ostringstream quiet;
  EXPECT_FALSE(TerminalTransferProgress(quiet, false, 80));
}

}  // namespace
}  // namespace cli

#include "cli/account_terminal.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/ui/user.hpp"

namespace cli {
namespace {

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::optional<std::string> AskPasswordAtTerminal(const std::string& prompt) {
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  termios saved{};
  const bool haveAttrs = tcgetattr(fd, &saved) == 0;
  if (!haveAttrs) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  WriteAll(fd, prompt);
  if (tcsetattr(fd, TCSAFLUSH, &quiet) != 0) return std::nullopt;
  std::string line;
  bool ended = false;
  constexpr std::size_t kMaxPassword = 4096;
  for (;;) {
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ended = line.empty();
      break;
    }
    if (c == '\n') break;
    if (line.size() < kMaxPassword) line.push_back(c);
  }
  tcsetattr(fd, TCSAFLUSH, &saved);
  if (ended) {
    WriteAll(fd, "\n");
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

host::TransferProgress TerminalTransferProgress(std::ostream& out, bool terminal, int columns) {
  if (!terminal) return {};
  struct State {
    std::string step;
    int percent = -1;
    std::size_t length = 0;
    bool open = false;
  };
  auto state = std::make_shared<State>();
  return [&out, columns, state](const std::string& step, std::uint64_t done, std::uint64_t total) {
    const int percent = total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done, total) * 100 / total);
    if (step == state->step && percent == state->percent && (state->open || percent == 100)) return;
    if (state->open && step != state->step) out << "\n";
    const std::string line = platform::TerminalUser::ProgressLine(step + "...", percent, columns);
    out << '\r' << line;
    if (state->open && step == state->step && line.size() < state->length) {
      out << std::string(state->length - line.size(), ' ');
    }
    state->step = step;
    state->percent = percent;
    state->length = line.size();
    state->open = true;
    if (total > 0 && done >= total) {
      out << "\n";
      state->open = false;
    }
    out.flush();
  };
}

}  // namespace cli

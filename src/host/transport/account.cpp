#include "host/transport/account.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "host/transport/transport.hpp"

extern char** environ;

namespace host {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The text as it may appear in a one-line message: control bytes shown as
// "\xNN", very long texts shortened.
std::string Printable(std::string_view s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s.substr(0, std::min<std::size_t>(s.size(), 200))) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (s.size() > 200) out += "...";
  return out;
}

bool IsHostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_';
}

bool IsLoopbackHost(const std::string& host) {
  std::string h = Lower(host);
  if (!h.empty() && h.back() == '.') h.pop_back();
  if (h == "localhost" || (h.size() > 10 && h.ends_with(".localhost"))) return true;
  in_addr v4{};
  if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, h.c_str(), &v6) == 1) {
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    // ::ffff:127.x.x.x
    if (IN6_IS_ADDR_V4MAPPED(&v6)) return v6.s6_addr[12] == 127;
  }
  return false;
}

void WipeString(std::string& s) {
  volatile char* p = s.data();
  for (std::size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

}  // namespace

std::string MailServer::Url() const {
  const bool v6 = host.find(':') != std::string::npos;
  return scheme + "://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

MailServer ParseMailServer(std::string_view url, ServerKind kind) {
  const bool smtp = kind == ServerKind::kSmtp;
  const std::string what = smtp ? "SMTP server" : "IMAP server";
  const std::string form = smtp ? "smtp://HOST[:PORT] or smtps://HOST[:PORT]" : "imap://HOST[:PORT] or imaps://HOST[:PORT]";
  auto bad = [&](const std::string& why) {
    return std::invalid_argument("Not a valid " + what + " address (" + form + "): " + why);
  };
  if (url.empty()) throw bad("the address is empty");
  for (unsigned char c : url) {
    if (c <= 0x20 || c == 0x7F) throw bad("\"" + Printable(url) + "\" contains a space or a control character");
  }
  const std::size_t sep = url.find("://");
  if (sep == std::string_view::npos) throw bad("\"" + Printable(url) + "\" has no scheme");
  MailServer s;
  s.scheme = Lower(url.substr(0, sep));
  if (smtp ? (s.scheme != "smtp" && s.scheme != "smtps") : (s.scheme != "imap" && s.scheme != "imaps")) {
    throw bad("unknown scheme \"" + Printable(url.substr(0, sep)) + "\"");
  }
  s.implicitTls = s.scheme.back() == 's';
  std::string_view rest = url.substr(sep + 3);
  // A user name or password in the address never reaches a message.
  if (rest.find('@') != std::string_view::npos) {
    throw bad("a user name or password does not belong in the address (use the user and password settings)");
  }
  std::string_view authority = rest;
  if (const std::size_t end = rest.find_first_of("/?#"); end != std::string_view::npos) {
    authority = rest.substr(0, end);
    if (rest.substr(end) != "/") throw bad("\"" + Printable(url) + "\" has a path or query; give only the host and port");
  }
  std::string_view portText;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) throw bad("\"" + Printable(url) + "\" has no closing \"]\"");
    s.host = std::string(authority.substr(1, close - 1));
    in6_addr v6{};
    if (inet_pton(AF_INET6, s.host.c_str(), &v6) != 1) {
      throw bad("\"" + Printable(s.host) + "\" is not an IPv6 address");
    }
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') throw bad("\"" + Printable(url) + "\" has text after the host");
      portText = after.substr(1);
      hasPort = true;
    }
  } else {
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos && authority.find(':', colon + 1) != std::string_view::npos) {
      throw bad("an IPv6 address must be written in brackets, e.g. [::1]");
    }
    s.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = authority.substr(colon + 1);
      hasPort = true;
    }
    for (char c : s.host) {
      if (!IsHostNameChar(c)) throw bad("\"" + Printable(s.host) + "\" is not a host name");
    }
  }
  if (s.host.empty()) throw bad("\"" + Printable(url) + "\" names no host");
  if (hasPort) {
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      throw bad("\"" + Printable(portText) + "\" is not a port number");
    }
    s.port = std::stoi(std::string(portText));
    if (s.port < 1 || s.port > 65535) throw bad("port " + std::string(portText) + " is out of range (1-65535)");
  } else {
    s.port = smtp ? (s.implicitTls ? 465 : 587) : (s.implicitTls ? 993 : 143);
  }
  s.loopback = IsLoopbackHost(s.host);
  return s;
}

void CheckAccountSettings(const AccountSettings& account) {
  if (!account.smtpUrl.empty()) ParseMailServer(account.smtpUrl, ServerKind::kSmtp);
  if (!account.imapUrl.empty()) ParseMailServer(account.imapUrl, ServerKind::kImap);
  auto oneLine = [](const std::string& value, const char* name) {
    if (std::any_of(value.begin(), value.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
      throw std::invalid_argument(std::string("The ") + name + " must be one line without control characters.");
    }
  };
  oneLine(account.user, "user name");
  oneLine(account.passwordCommand, "password command");
  oneLine(account.caFile, "CA file name");
  if (!account.caFile.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(account.caFile, ec)) {
      throw std::invalid_argument("The CA file " + account.caFile + " is not there or is not a file.");
    }
    std::ifstream in(account.caFile, std::ios::binary);
    char c;
    if (!in || (!in.get(c) && !in.eof())) {
      throw std::invalid_argument("The CA file " + account.caFile + " cannot be read.");
    }
  }
}

PasswordSource::PasswordSource(std::string account, std::string command, PasswordPrompt prompt,
                               std::string serverUrl)
    : account_(std::move(account)),
      command_(std::move(command)),
      serverUrl_(std::move(serverUrl)),
      prompt_(std::move(prompt)) {}

namespace {

// The most the password command may print; its first line is the password.
constexpr std::size_t kMaxCommandOutput = 64 * 1024;

// Runs the command with /bin/sh -c, its standard output read into `out`
// (at most kMaxCommandOutput bytes; `tooMuch` when it printed more). Its
// standard input and error are the program's. Returns the wait status.
int RunCommand(const std::string& account, const std::string& command, std::string& out, bool& tooMuch) {
  auto fail = [&](const std::string& why) {
    return TransportError("Account " + account + ": the password command cannot be run: " + why);
  };
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw fail(std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    throw fail(std::strerror(rc));
  }
  char buf[4096];
  tooMuch = false;
  for (;;) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (out.size() + static_cast<std::size_t>(n) > kMaxCommandOutput) {
      tooMuch = true;
      break;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
  std::fill(std::begin(buf), std::end(buf), '\0');
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw fail(std::strerror(errno));
  }
  return status;
}

}  // namespace

const std::string& PasswordSource::Get() {
  if (password_) return *password_;
  const std::string who = "Account " + account_ + ": ";
  if (!command_.empty()) {
    std::string out;
    bool tooMuch = false;
    const int status = RunCommand(account_, command_, out, tooMuch);
    struct Wipe {
      std::string& s;
      ~Wipe() { WipeString(s); }
    } wipe{out};
    if (tooMuch) throw TransportError(who + "the password command printed more than 64 KiB");
    if (WIFSIGNALED(status)) {
      throw TransportError(who + "the password command was ended by signal " + std::to_string(WTERMSIG(status)));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
      throw TransportError(who + "the password command failed (exit code " + std::to_string(WEXITSTATUS(status)) +
                           ")");
    }
    std::size_t end = out.find('\n');
    if (end == std::string::npos) end = out.size();
    if (end > 0 && out[end - 1] == '\r') --end;
    if (end == 0) throw TransportError(who + "the password command printed nothing");
    password_ = out.substr(0, end);
    return *password_;
  }
  if (!prompt_) throw TransportError(who + "no password: nobody to ask");
  std::optional<std::string> answer = prompt_("Password for " + account_ + " (" + serverUrl_ + "): ");
  if (!answer) throw TransportError(who + "no password: nobody to ask");
  if (answer->empty()) throw TransportError(who + "no password given");
  password_ = std::move(*answer);
  WipeString(*answer);
  return *password_;
}

void PasswordSource::Forget() {
  if (password_) WipeString(*password_);
  password_.reset();
}

}  // namespace host

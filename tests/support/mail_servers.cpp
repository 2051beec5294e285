#include "support/mail_servers.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#ifndef PLEXISYNC_SOURCE_DIR
#error "PLEXISYNC_SOURCE_DIR must name the source tree (tests/support/CMakeLists.txt)"
#endif

namespace host {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Runs the command with /bin/sh, its standard output and error together.
// Returns the exit status (-1 when it did not end normally) and the output.
int Run(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    output = std::string("cannot run the command: ") + std::strerror(errno);
    return -1;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = ::pclose(pipe);
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read " + path.string());
  return text.str();
}

int ToInt(const std::map<std::string, std::string>& env, const std::string& key) {
  auto it = env.find(key);
  if (it == env.end()) throw std::runtime_error("servers.env has no " + key);
  return std::stoi(it->second);
}

void WriteAll(int fd, std::string_view text, const fs::path& path) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

MailServers::MailServers(const std::vector<std::string>& extraUsers)
    : script_(fs::path(PLEXISYNC_SOURCE_DIR) / "scripts" / "mail-servers.sh") {
  char tmpl[] = "/tmp/plexisync-mail.XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) {
    throw std::runtime_error(std::string("MailServers: cannot make a temporary folder: ") + std::strerror(errno));
  }
  dir_ = tmpl;
  std::string command = "bash " + Quote(script_.string()) + " start " + Quote(dir_.string());
  for (const auto& user : extraUsers) command += " --user " + Quote(user);
  std::string output;
  int status = Run(command, output);
  if (status != 0) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    throw std::runtime_error("MailServers: " + script_.string() + " start failed (exit status " +
                             std::to_string(status) + "):\n" + output);
  }
  running_ = true;
  try {
    std::map<std::string, std::string> env;
    std::istringstream lines(ReadFile(dir_ / "servers.env"));
    for (std::string line; std::getline(lines, line);) {
      auto eq = line.find('=');
      if (eq != std::string::npos) env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    imapsPort_ = ToInt(env, "IMAPS_PORT");
    imapPort_ = ToInt(env, "IMAP_PORT");
    smtpsPort_ = ToInt(env, "SMTPS_PORT");
    smtpPort_ = ToInt(env, "SMTP_PORT");
    dovecotPid_ = ToInt(env, "DOVECOT_PID");
    smtpPid_ = ToInt(env, "SMTP_PID");
    mailUid_ = ToInt(env, "MAIL_UID");
    mailGid_ = ToInt(env, "MAIL_GID");
    caFile_ = env.at("CA_FILE");
    instanceName_ = env.at("DOVECOT_INSTANCE");
    mailDir_ = env.at("MAIL_DIR");
    std::istringstream users(ReadFile(dir_ / "users"));
    for (std::string line; std::getline(users, line);) {
      auto colon = line.find(':');
      if (colon != std::string::npos) passwords_[line.substr(0, colon)] = line.substr(colon + 1);
    }
  } catch (...) {
    Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
    throw;
  }
}

MailServers::~MailServers() {
  try {
    Stop();
  } catch (...) {
  }
  if (std::getenv("KEEP_MAIL_SERVERS") == nullptr) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

void MailServers::Stop() {
  if (!running_) return;
  running_ = false;
  std::string output;
  int status = Run("bash " + Quote(script_.string()) + " stop " + Quote(dir_.string()), output);
  if (status != 0) {
    throw std::runtime_error("MailServers: stopping the servers failed:\n" + output);
  }
}

std::string MailServers::ImapsUrl() const { return "imaps://127.0.0.1:" + std::to_string(imapsPort_); }
std::string MailServers::ImapUrl() const { return "imap://127.0.0.1:" + std::to_string(imapPort_); }
std::string MailServers::SmtpsUrl() const { return "smtps://127.0.0.1:" + std::to_string(smtpsPort_); }
std::string MailServers::SmtpUrl() const { return "smtp://127.0.0.1:" + std::to_string(smtpPort_); }

const std::string& MailServers::Password(const std::string& user) const {
  auto it = passwords_.find(user);
  if (it == passwords_.end()) throw std::out_of_range("MailServers: no user " + user);
  return it->second;
}

std::string MailServers::Address(const std::string& user) const { return user + "@example.org"; }

fs::path MailServers::Maildir(const std::string& user) const { return mailDir_ / user / "Maildir"; }

std::vector<std::string> MailServers::ReadMessages(const std::string& user) const {
  std::vector<fs::path> files;
  for (const char* sub : {"new", "cur"}) {
    for (const auto& entry : fs::directory_iterator(Maildir(user) / sub)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  std::vector<std::string> texts;
  texts.reserve(files.size());
  for (const auto& f : files) texts.push_back(ReadFile(f));
  return texts;
}

fs::path MailServers::DropMessage(const std::string& user, std::string_view text) const {
  static std::atomic<unsigned> counter{0};
  const fs::path maildir = Maildir(user);
  const std::string name = std::to_string(::time(nullptr)) + ".T" + std::to_string(::getpid()) + "_" +
                           std::to_string(counter++) + ".plexisync-test";
  const fs::path tmp = maildir / "tmp" / name;
  const fs::path target = maildir / "new" / name;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + tmp.string() + ": " + std::strerror(errno));
  try {
    WriteAll(fd, text, tmp);
    if (::geteuid() == 0 && ::fchown(fd, static_cast<uid_t>(mailUid_), static_cast<gid_t>(mailGid_)) != 0) {
      throw std::runtime_error("cannot hand " + tmp.string() + " to the mail user: " + std::strerror(errno));
    }
    if (::fsync(fd) != 0) throw std::runtime_error("cannot flush " + tmp.string() + ": " + std::strerror(errno));
  } catch (...) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw;
  }
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot write " + tmp.string() + ": " + std::strerror(errno));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot move " + tmp.string() + " into new/: " + std::strerror(errno));
  }
  return target;
}

}  // namespace host

#include "support/loopback_http.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace platform {

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::Redirect(const std::string& location, const std::string& status) {
  Reply reply;
  reply.status = status;
  reply.body = "moved";
  reply.headers.push_back("Location: " + location);
  return reply;
}

std::string LoopbackHttpServer::Reply::Text(std::size_t bodyBytes) const {
  std::string text = "HTTP/1.0 " + status + "\r\nContent-Type: application/octet-stream\r\n";
  for (const auto& line : headers) text += line + "\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  text += body.substr(0, std::min(bodyBytes, body.size()));
  return text;
}

LoopbackHttpServer::LoopbackHttpServer() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return;
  const int yes = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 8) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(s);
    return;
  }
  listen_ = s;
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) ::close(listen_);
}

std::string LoopbackHttpServer::Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

void LoopbackHttpServer::Set(const std::string& pathAndQuery, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[pathAndQuery] = std::move(reply);
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool LoopbackHttpServer::Wait(std::chrono::milliseconds delay) const {
  const auto until = std::chrono::steady_clock::now() + delay;
  while (std::chrono::steady_clock::now() < until) {
    if (stop_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !stop_;
}

void LoopbackHttpServer::Serve() {
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Answer(client);
    ::close(client);
  }
}

void LoopbackHttpServer::Answer(int client) {
  std::string request;
  char buf[1024];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
    pollfd p{client, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) return;
    const ssize_t n = ::recv(client, buf, sizeof buf, 0);
    if (n <= 0) return;
    request.append(buf, static_cast<std::size_t>(n));
  }
  const std::size_t start = request.find(' ') + 1;
  const std::string path = request.substr(start, request.find(' ', start) - start);

  Reply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(path);
    auto it = replies_.find(path);
    if (it != replies_.end()) {
      reply = it->second;
    } else {
      reply.status = "404 Not Found";
      reply.body = "<html>not here</html>";
    }
  }
  if (!Wait(reply.delay)) return;
  const std::size_t bodyBytes = reply.cutAfter ? std::min(*reply.cutAfter, reply.body.size()) : reply.body.size();
  const std::string response = reply.Text(bodyBytes);
  std::size_t sent = 0;
  while (sent < response.size()) {
    const ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

// --- HTTPS ----------------------------------------------------------------------

namespace {

// Starts `argv` in `cwd` with stdin and stderr on /dev/null and stdout on
// `outFd` (or /dev/null when it is -1), no other descriptor inherited.
// Returns the child's pid, or -1.
pid_t Start(const std::vector<std::string>& argv, const std::string& cwd, int outFd) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // The child: only calls that are safe after fork in a threaded program.
  const int null = ::open("/dev/null", O_RDWR);
  if (null < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
  ::dup2(null, 0);
  ::dup2(outFd >= 0 ? outFd : null, 1);
  ::dup2(null, 2);
  if (::close_range(3, ~0U, 0) != 0) {
    for (int fd = 3; fd < 4096; ++fd) ::close(fd);
  }
  ::execvp(args[0], args.data());
  ::_exit(127);
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

LoopbackHttpsServer::LoopbackHttpsServer() {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "plexisync-https-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error_ = "cannot make a folder for the https server";
    return;
  }
  dir_ = pattern;
  std::error_code ec;
  fs::create_directories(fs::path(dir_) / "www", ec);
  const pid_t req = Start({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                           "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                           "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", dir_ + "/key.pem", "-out",
                           dir_ + "/cert.pem"},
                          dir_, -1);
  if (req < 0 || WaitFor(req) != 0) {
    error_ = "openssl could not make a certificate (is the openssl program installed?)";
    return;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error_ = "cannot make a pipe";
    return;
  }
  pid_ = Start({"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", dir_ + "/cert.pem", "-key",
                dir_ + "/key.pem", "-HTTP"},
               dir_ + "/www", pipeFds[1]);
  ::close(pipeFds[1]);
  out_ = pipeFds[0];
  if (pid_ < 0) {
    error_ = "cannot start openssl s_server";
    return;
  }
  // It says "ACCEPT 127.0.0.1:<port>" once it listens.
  std::string said;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    const auto at = said.find("ACCEPT ");
    const auto end = at == std::string::npos ? std::string::npos : said.find('\n', at);
    if (end != std::string::npos) {
      const std::string line = said.substr(at, end - at);
      port_ = std::atoi(line.substr(line.rfind(':') + 1).c_str());
      break;
    }
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n <= 0) break;
    said.append(buf, static_cast<std::size_t>(n));
  }
  if (port_ <= 0) error_ = "openssl s_server did not start: " + said;
}

LoopbackHttpsServer::~LoopbackHttpsServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    WaitFor(pid_);
  }
  if (out_ >= 0) ::close(out_);
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

std::string LoopbackHttpsServer::Base() const { return "https://127.0.0.1:" + std::to_string(port_); }

std::string LoopbackHttpsServer::CaFile() const { return dir_ + "/cert.pem"; }

void LoopbackHttpsServer::Set(const std::string& pathAndQuery, const LoopbackHttpServer::Reply& reply) {
  namespace fs = std::filesystem;
  const fs::path file = fs::path(dir_) / "www" / pathAndQuery.substr(pathAndQuery.find_first_not_of('/'));
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << reply.Text(reply.body.size());
}

}  // namespace platform

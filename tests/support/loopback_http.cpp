#include "support/loopback_http.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace platform {

LoopbackHttpServer::LoopbackHttpServer() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
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
    const int client = ::accept(listen_, nullptr, nullptr);
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
  const std::string response = "HTTP/1.0 " + reply.status + "\r\nContent-Type: application/octet-stream\r\n" +
                               "Content-Length: " + std::to_string(reply.body.size()) +
                               "\r\nConnection: close\r\n\r\n" + reply.body.substr(0, bodyBytes);
  std::size_t sent = 0;
  while (sent < response.size()) {
    const ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace platform

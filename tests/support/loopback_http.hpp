#pragma once
// A small HTTP/1.0 server on 127.0.0.1 for tests of the real web client: one
// thread, one connection at a time, answers chosen per path (with query).
// It can answer slowly and break a body off midway.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class LoopbackHttpServer {
 public:
  struct Reply {
    std::string status = "200 OK";
    std::string body;
    // Waits this long before the answer's first byte (a slow server).
    std::chrono::milliseconds delay{0};
    // Sends only this many bytes of the body and then closes the
    // connection, while the header announces the whole body.
    std::optional<std::size_t> cutAfter;
  };

  // Listens on a free port of 127.0.0.1; Running() says whether it could.
  LoopbackHttpServer();
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  bool Running() const { return listen_ >= 0; }
  int Port() const { return port_; }
  // "http://127.0.0.1:<port>".
  std::string Base() const;

  // The answer to `pathAndQuery` ("/file?x=1"); any other path is 404.
  void Set(const std::string& pathAndQuery, Reply reply);
  // The paths asked for so far, in order.
  std::vector<std::string> Requests() const;

 private:
  void Serve();
  void Answer(int client);
  // Sleeps up to `delay`; false when the server is stopping.
  bool Wait(std::chrono::milliseconds delay) const;

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace platform

#pragma once
// A small HTTP/1.0 server on 127.0.0.1 for tests of the real web client: one
// thread, one connection at a time, answers chosen per path (with query).
// It can answer slowly, break a body off midway and redirect. Beside it an
// HTTPS server (openssl s_server) with whole, prepared answers.
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
    // More header lines, each without its line break ("Location: /x").
    std::vector<std::string> headers;

    // A redirect ("302 Found" unless `status` says otherwise) to `location`.
    static Reply Redirect(const std::string& location, const std::string& status = "302 Found");
    // The whole answer as sent, with the first `bodyBytes` of the body.
    std::string Text(std::size_t bodyBytes) const;
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

// An HTTPS server on 127.0.0.1 for tests: `openssl s_server -HTTP` in a
// fresh folder under the temporary folder, with a fresh self-signed
// certificate for 127.0.0.1 and localhost that clients are to trust
// (CaFile()). Each answer is sent whole (delay and cutAfter do not apply);
// a path without an answer gets openssl's own error page (status 200). It
// keeps no record of the requests. Needs the openssl program; when it cannot
// start, Running() is false and Error() says why.
class LoopbackHttpsServer {
 public:
  LoopbackHttpsServer();
  ~LoopbackHttpsServer();
  LoopbackHttpsServer(const LoopbackHttpsServer&) = delete;
  LoopbackHttpsServer& operator=(const LoopbackHttpsServer&) = delete;

  bool Running() const { return pid_ > 0 && port_ > 0; }
  const std::string& Error() const { return error_; }
  int Port() const { return port_; }
  // "https://127.0.0.1:<port>".
  std::string Base() const;
  // The certificate (PEM) to trust.
  std::string CaFile() const;

  // The answer to `pathAndQuery` ("/file?x=1"; no "..", no blanks).
  void Set(const std::string& pathAndQuery, const LoopbackHttpServer::Reply& reply);

 private:
  std::string dir_;
  std::string error_;
  int pid_ = -1;
  int out_ = -1;  // the server's output, kept open while it runs
  int port_ = 0;
};

}  // namespace platform

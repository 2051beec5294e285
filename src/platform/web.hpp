#pragma once
// Fetching pages and files over HTTP(S): the update check reads a page's
// text, the update download fetches the installer's bytes.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A fetch that failed: no connection, a timeout, a transfer error, or an
// HTTP status of 400 or more (then Status() gives it; 0 otherwise).
class WebError : public std::runtime_error {
 public:
  explicit WebError(const std::string& what, long status = 0)
      : std::runtime_error(what), status_(status) {}
  long Status() const { return status_; }

 private:
  long status_;
};

class WebClient {
 public:
  virtual ~WebClient() = default;
  // The body of the page at `url` as text (its bytes as sent). Throws WebError.
  virtual std::string FetchText(const std::string& url) = 0;
  // The body as raw bytes. Throws WebError.
  virtual std::vector<std::uint8_t> FetchBytes(const std::string& url) = 0;
  // FetchText with the whole request, connecting included, given at most
  // `limitSeconds` (or the client's own limit when that is shorter); running
  // out of time throws WebError. For pages that the person waits for.
  virtual std::string FetchTextWithin(const std::string& url, long limitSeconds) = 0;
};

// libcurl: http and https only, redirects followed (at most 10), the
// system's proxy settings from the environment, bounded waiting.
class CurlWebClient final : public WebClient {
 public:
  struct Options {
    long connectTimeoutSeconds = 30;
    // Whole transfer; 0 means no limit (the low-speed rule still applies).
    long timeoutSeconds = 600;
    // A transfer slower than 1 byte per second for this long is abandoned.
    long lowSpeedSeconds = 60;
    // Larger bodies are refused (WebError).
    std::uint64_t maxBytes = std::uint64_t{512} << 20;
    // Sent with every request when not empty.
    std::string userAgent;
  };

  CurlWebClient();
  explicit CurlWebClient(Options options);

  std::string FetchText(const std::string& url) override;
  std::vector<std::uint8_t> FetchBytes(const std::string& url) override;
  std::string FetchTextWithin(const std::string& url, long limitSeconds) override;

 private:
  // `limitSeconds` > 0 shortens the transfer and connect limits to it.
  std::string Fetch(const std::string& url, long limitSeconds = 0);
  Options options_;
};

}  // namespace platform

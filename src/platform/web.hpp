#pragma once
// Fetching pages and files over HTTP(S): the update check reads a page's
// text, the update download fetches the installer's bytes.
//
// Redirects: no fetch ever follows one to a scheme other than http or https,
// nor from https down to http (IsSafeRedirect). FetchBytesConfined also
// follows only redirects to addresses its caller accepts.
#include <cstdint>
#include <functional>
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

// Says whether a fetch may go to `address` (an absolute address: where the
// fetch starts, or where a redirect leads).
using AddressCheck = std::function<bool(const std::string& address)>;

// The rule every redirect of every fetch keeps: `to` uses http or https, and
// when `from` uses https so does `to` (no step down to plain http). Schemes
// compare without regard to case.
bool IsSafeRedirect(const std::string& from, const std::string& to);

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
  // FetchBytes that reaches only addresses `mayReach` accepts: `url` itself,
  // every redirect before it is followed, and the address the body finally
  // came from. A refused address ends the fetch with a WebError whose
  // one-line text names it; nothing of a refused address is fetched.
  virtual std::vector<std::uint8_t> FetchBytesConfined(const std::string& url, const AddressCheck& mayReach) = 0;
};

// libcurl: http and https only, redirects followed by the client itself (at
// most Options::maxRedirects; curl follows none on its own), each checked
// with IsSafeRedirect before it is followed, the system's proxy settings from
// the environment, bounded waiting (the limits cover all the hops together).
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
    // More redirects than this in one fetch fail it (WebError).
    int maxRedirects = 10;
    // When not empty: the certificates (PEM) trusted for https instead of
    // the system's.
    std::string caFile;
  };

  CurlWebClient();
  explicit CurlWebClient(Options options);

  std::string FetchText(const std::string& url) override;
  std::vector<std::uint8_t> FetchBytes(const std::string& url) override;
  std::string FetchTextWithin(const std::string& url, long limitSeconds) override;
  std::vector<std::uint8_t> FetchBytesConfined(const std::string& url, const AddressCheck& mayReach) override;

 private:
  // `limitSeconds` > 0 shortens the transfer and connect limits to it;
  // `mayReach`, when given, confines the fetch as FetchBytesConfined does.
  std::string Fetch(const std::string& url, long limitSeconds = 0, const AddressCheck* mayReach = nullptr);
  Options options_;
};

}  // namespace platform

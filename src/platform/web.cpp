#include "platform/web.hpp"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace platform {

namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
  std::string body;
  std::uint64_t limit = 0;
  bool tooLarge = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  if (sink->body.size() + n > sink->limit) {
    sink->tooLarge = true;
    return 0;  // makes curl stop with a write error
  }
  sink->body.append(data, n);
  return n;
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

}  // namespace

CurlWebClient::CurlWebClient() : CurlWebClient(Options{}) {}

CurlWebClient::CurlWebClient(Options options) : options_(options) { InitCurlOnce(); }

namespace {
// The shorter of two limits in seconds, where 0 means none.
long ShorterLimit(long a, long b) {
  if (a <= 0) return b;
  if (b <= 0) return a;
  return a < b ? a : b;
}
}  // namespace

std::string CurlWebClient::Fetch(const std::string& url, long limitSeconds) {
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    throw WebError("Cannot start a web transfer");
  }
  CURL* c = curl.get();
  Sink sink;
  sink.limit = options_.maxBytes;
  char errorText[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, ShorterLimit(options_.connectTimeoutSeconds, limitSeconds));
  curl_easy_setopt(c, CURLOPT_TIMEOUT, ShorterLimit(options_.timeoutSeconds, limitSeconds));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options_.lowSpeedSeconds);
  if (!options_.userAgent.empty()) {
    curl_easy_setopt(c, CURLOPT_USERAGENT, options_.userAgent.c_str());
  }
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);

  const CURLcode rc = curl_easy_perform(c);
  if (sink.tooLarge) {
    throw WebError("The answer from " + url + " is too large");
  }
  if (rc != CURLE_OK) {
    const std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
    throw WebError("Cannot fetch " + url + ": " + detail);
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) {
    throw WebError("Cannot fetch " + url + ": HTTP status " + std::to_string(status), status);
  }
  return std::move(sink.body);
}

std::string CurlWebClient::FetchText(const std::string& url) { return Fetch(url); }

std::string CurlWebClient::FetchTextWithin(const std::string& url, long limitSeconds) {
  if (limitSeconds <= 0) throw WebError("Cannot fetch " + url + ": no time allowed");
  return Fetch(url, limitSeconds);
}

std::vector<std::uint8_t> CurlWebClient::FetchBytes(const std::string& url) {
  const std::string body = Fetch(url);
  return std::vector<std::uint8_t>(body.begin(), body.end());
}

}  // namespace platform

#include "platform/web.hpp"

#include <curl/curl.h>

#include <chrono>
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

// The scheme of an absolute address in lower case ("" when it has none).
std::string SchemeOf(const std::string& address) {
  const auto colon = address.find(':');
  if (colon == std::string::npos || colon == 0) return {};
  std::string scheme = address.substr(0, colon);
  for (char& ch : scheme) {
    const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    const bool other = (ch >= '0' && ch <= '9') || ch == '+' || ch == '-' || ch == '.';
    if (!letter && !other) return {};
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return scheme;
}

// An address as a message shows it: on one line, control characters and
// blanks as %XX.
std::string Shown(const std::string& address) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (const char ch : address) {
    const auto u = static_cast<unsigned char>(ch);
    if (u <= 0x20 || u == 0x7f) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0f];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace

bool IsSafeRedirect(const std::string& from, const std::string& to) {
  const std::string target = SchemeOf(to);
  if (target != "http" && target != "https") return false;
  return SchemeOf(from) != "https" || target == "https";
}

std::string CurlWebClient::Fetch(const std::string& url, long limitSeconds, const AddressCheck* mayReach) {
  if (mayReach != nullptr && !(*mayReach)(url)) {
    throw WebError("Refused to fetch " + Shown(url) + ": not an address this fetch may reach");
  }
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    throw WebError("Cannot start a web transfer");
  }
  CURL* c = curl.get();
  Sink sink;
  sink.limit = options_.maxBytes;
  char errorText[CURL_ERROR_SIZE] = {};

  // Redirects are followed here, hop by hop, each checked before it is
  // followed; curl follows none by itself.
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options_.lowSpeedSeconds);
  if (!options_.userAgent.empty()) {
    curl_easy_setopt(c, CURLOPT_USERAGENT, options_.userAgent.c_str());
  }
  if (!options_.caFile.empty()) {
    curl_easy_setopt(c, CURLOPT_CAINFO, options_.caFile.c_str());
  }
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);

  // The limits hold for the whole fetch, all its hops together.
  using Clock = std::chrono::steady_clock;
  const long connectSeconds = ShorterLimit(options_.connectTimeoutSeconds, limitSeconds);
  const long totalSeconds = ShorterLimit(options_.timeoutSeconds, limitSeconds);
  const auto deadline = Clock::now() + std::chrono::seconds(totalSeconds > 0 ? totalSeconds : 0);

  std::string current = url;
  for (int redirects = 0;; ++redirects) {
    const std::string at = current == url ? std::string() : " (redirected to " + Shown(current) + ")";
    long connectMs = connectSeconds > 0 ? connectSeconds * 1000 : 0;
    long totalMs = 0;
    if (totalSeconds > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) throw WebError("Cannot fetch " + Shown(url) + at + ": Timeout was reached");
      totalMs = static_cast<long>(left);
      connectMs = connectMs > 0 && connectMs < totalMs ? connectMs : totalMs;
    }
    curl_easy_setopt(c, CURLOPT_URL, current.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, totalMs);
    sink.body.clear();
    errorText[0] = '\0';

    const CURLcode rc = curl_easy_perform(c);
    if (sink.tooLarge) {
      throw WebError("The answer from " + Shown(url) + at + " is too large");
    }
    if (rc != CURLE_OK) {
      const std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
      throw WebError("Cannot fetch " + Shown(url) + at + ": " + detail);
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    // Set for a 3xx answer with a Location: where it leads, made absolute.
    char* next = nullptr;
    curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &next);
    if (status >= 300 && status < 400 && next != nullptr) {
      const std::string target = next;
      const std::string refused = "Refused the redirect from " + Shown(current) + " to " + Shown(target);
      if (!IsSafeRedirect(current, target)) {
        throw WebError(refused + (SchemeOf(target) == "http" ? ": from https down to http"
                                                               : ": only http and https are followed"));
      }
      if (mayReach != nullptr && !(*mayReach)(target)) {
        throw WebError(refused + ": not an address this fetch may reach");
      }
      if (redirects >= options_.maxRedirects) {
        throw WebError("Cannot fetch " + Shown(url) + ": more than " + std::to_string(options_.maxRedirects) +
                       " redirects");
      }
      current = target;
      continue;
    }
    if (status >= 400) {
      throw WebError("Cannot fetch " + Shown(url) + at + ": HTTP status " + std::to_string(status), status);
    }
    // Where the body came from, as curl saw it, once more by the caller's rule.
    char* effective = nullptr;
    curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string from = effective != nullptr ? effective : "";
    if (mayReach != nullptr && !(*mayReach)(from)) {
      throw WebError("Refused the answer from " + Shown(from) + ": not an address this fetch may reach");
    }
    return std::move(sink.body);
  }
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

std::vector<std::uint8_t> CurlWebClient::FetchBytesConfined(const std::string& url, const AddressCheck& mayReach) {
  if (!mayReach) throw WebError("Cannot fetch " + Shown(url) + ": no rule for the addresses it may reach");
  const std::string body = Fetch(url, 0, &mayReach);
  return std::vector<std::uint8_t>(body.begin(), body.end());
}

}  // namespace platform

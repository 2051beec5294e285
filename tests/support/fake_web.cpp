#include "support/fake_web.hpp"

namespace platform {

void FakeWebClient::SetText(const std::string& url, std::string text) {
  answers_[url] = Answer{std::move(text), false, {}, 0, {}};
}

void FakeWebClient::SetBytes(const std::string& url, std::vector<std::uint8_t> bytes) {
  answers_[url] = Answer{std::string(bytes.begin(), bytes.end()), false, {}, 0, {}};
}

void FakeWebClient::SetError(const std::string& url, std::string message, long status) {
  answers_[url] = Answer{{}, true, std::move(message), status, {}};
}

void FakeWebClient::SetRedirect(const std::string& url, std::string target) {
  answers_[url] = Answer{{}, false, {}, 0, std::move(target)};
}

const std::string& FakeWebClient::Body(const std::string& url, long limitSeconds, const AddressCheck* mayReach) {
  if (mayReach != nullptr && !(*mayReach)(url)) {
    throw WebError("Refused to fetch " + url + ": not an address this fetch may reach");
  }
  std::string current = url;
  for (int redirects = 0;; ++redirects) {
    requests_.push_back(current);
    limits_.push_back(limitSeconds);
    auto it = answers_.find(current);
    if (it == answers_.end()) {
      throw WebError("Cannot fetch " + url + ": Could not resolve host");
    }
    if (it->second.failed) {
      throw WebError(it->second.error, it->second.status);
    }
    if (it->second.redirect.empty()) return it->second.body;
    const std::string& target = it->second.redirect;
    const std::string refused = "Refused the redirect from " + current + " to " + target;
    if (!IsSafeRedirect(current, target)) throw WebError(refused + ": not http(s), or from https down to http");
    if (mayReach != nullptr && !(*mayReach)(target)) {
      throw WebError(refused + ": not an address this fetch may reach");
    }
    if (redirects >= 10) throw WebError("Cannot fetch " + url + ": more than 10 redirects");
    current = target;
  }
}

std::string FakeWebClient::FetchText(const std::string& url) { return Body(url); }

std::string FakeWebClient::FetchTextWithin(const std::string& url, long limitSeconds) {
  return Body(url, limitSeconds);
}

std::vector<std::uint8_t> FakeWebClient::FetchBytes(const std::string& url) {
  const std::string& body = Body(url);
  return std::vector<std::uint8_t>(body.begin(), body.end());
}

std::vector<std::uint8_t> FakeWebClient::FetchBytesConfined(const std::string& url, const AddressCheck& mayReach) {
  const std::string& body = Body(url, 0, &mayReach);
  return std::vector<std::uint8_t>(body.begin(), body.end());
}

}  // namespace platform

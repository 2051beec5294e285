#include "support/fake_web.hpp"

namespace platform {

void FakeWebClient::SetText(const std::string& url, std::string text) {
  answers_[url] = Answer{std::move(text), false, {}, 0};
}

void FakeWebClient::SetBytes(const std::string& url, std::vector<std::uint8_t> bytes) {
  answers_[url] = Answer{std::string(bytes.begin(), bytes.end()), false, {}, 0};
}

void FakeWebClient::SetError(const std::string& url, std::string message, long status) {
  answers_[url] = Answer{{}, true, std::move(message), status};
}

const std::string& FakeWebClient::Body(const std::string& url, long limitSeconds) {
  requests_.push_back(url);
  limits_.push_back(limitSeconds);
  auto it = answers_.find(url);
  if (it == answers_.end()) {
    throw WebError("Cannot fetch " + url + ": Could not resolve host");
  }
  if (it->second.failed) {
    throw WebError(it->second.error, it->second.status);
  }
  return it->second.body;
}

std::string FakeWebClient::FetchText(const std::string& url) { return Body(url); }

std::string FakeWebClient::FetchTextWithin(const std::string& url, long limitSeconds) {
  return Body(url, limitSeconds);
}

std::vector<std::uint8_t> FakeWebClient::FetchBytes(const std::string& url) {
  const std::string& body = Body(url);
  return std::vector<std::uint8_t>(body.begin(), body.end());
}

}  // namespace platform

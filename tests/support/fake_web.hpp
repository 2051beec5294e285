#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/web.hpp"

namespace platform {

// Answers from a table (tests): text or bytes per address, or an error.
// An address not in the table fails like an unreachable server.
class FakeWebClient final : public WebClient {
 public:
  void SetText(const std::string& url, std::string text);
  void SetBytes(const std::string& url, std::vector<std::uint8_t> bytes);
  // Fetching `url` throws WebError(message, status).
  void SetError(const std::string& url, std::string message, long status = 0);

  std::string FetchText(const std::string& url) override;
  std::vector<std::uint8_t> FetchBytes(const std::string& url) override;
  // Answers as FetchText; the limit is recorded.
  std::string FetchTextWithin(const std::string& url, long limitSeconds) override;

  // Every address asked for, in order.
  const std::vector<std::string>& Requests() const { return requests_; }
  // The limit of each request, in the order of Requests(); 0 for a request
  // made without one.
  const std::vector<long>& Limits() const { return limits_; }

 private:
  struct Answer {
    std::string body;
    bool failed = false;
    std::string error;
    long status = 0;
  };
  const std::string& Body(const std::string& url, long limitSeconds = 0);

  std::map<std::string, Answer> answers_;
  std::vector<std::string> requests_;
  std::vector<long> limits_;
};

}  // namespace platform

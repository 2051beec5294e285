#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/web.hpp"

namespace platform {

// Answers from a table (tests): text or bytes per address, an error, or a
// redirect to another address of the table. An address not in the table
// fails like an unreachable server. Redirects are followed as the real client
// follows them: at most 10, each first checked with IsSafeRedirect and, for
// FetchBytesConfined, with the caller's rule (a refused one throws WebError
// naming it, and its address is not asked for).
class FakeWebClient final : public WebClient {
 public:
  void SetText(const std::string& url, std::string text);
  void SetBytes(const std::string& url, std::vector<std::uint8_t> bytes);
  // Fetching `url` throws WebError(message, status).
  void SetError(const std::string& url, std::string message, long status = 0);
  // Fetching `url` is redirected to `target` (an absolute address).
  void SetRedirect(const std::string& url, std::string target);

  std::string FetchText(const std::string& url) override;
  std::vector<std::uint8_t> FetchBytes(const std::string& url) override;
  // Answers as FetchText; the limit is recorded.
  std::string FetchTextWithin(const std::string& url, long limitSeconds) override;
  std::vector<std::uint8_t> FetchBytesConfined(const std::string& url, const AddressCheck& mayReach) override;

  // Every address asked for, in order (each hop of a redirect included).
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
    std::string redirect;  // not empty: a redirect to this address
  };
  const std::string& Body(const std::string& url, long limitSeconds = 0, const AddressCheck* mayReach = nullptr);

  std::map<std::string, Answer> answers_;
  std::vector<std::string> requests_;
  std::vector<long> limits_;
};

}  // namespace platform

#pragma once
// A transport that keeps mail in memory, for tests of send/receive.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/transport/transport.hpp"

namespace host {

// Keeps every sent message in the mailboxes of its envelope recipients.
// Fetch claims what waits in `boxes` under keys "m1", "m2"... into `claimed`,
// where it stays until acknowledged.
class MemoryTransport : public Transport {
 public:
  void Send(const MailMessage& message, const std::vector<std::string>& envelope) override {
    if (failSend) throw TransportError("delivery refused");
    sent.push_back({message, envelope});
    for (const auto& a : envelope) boxes[a].push_back(message);
  }
  std::unique_ptr<FetchedMail> Fetch(const std::string& address) override {
    auto& mine = claimed[address];
    for (auto& m : boxes[address]) mine.emplace_back("m" + std::to_string(++lastKey), std::move(m));
    boxes[address].clear();
    return std::make_unique<Fetched>(*this, address);
  }
  struct Sent {
    MailMessage message;
    std::vector<std::string> envelope;
  };
  std::vector<Sent> sent;
  std::map<std::string, std::vector<MailMessage>> boxes;
  std::map<std::string, std::vector<std::pair<std::string, MailMessage>>> claimed;
  bool failSend = false;
  int lastKey = 0;

 private:
  class Fetched : public FetchedMail {
   public:
    Fetched(MemoryTransport& t, std::string address) : t_(t), address_(std::move(address)) {
      for (const auto& [key, m] : t_.claimed[address_]) keys_.push_back(key);
    }
    const std::vector<std::string>& Keys() const override { return keys_; }
    const std::vector<std::string>& Problems() const override { return problems_; }
    ArrivedMessage Read(const std::string& key) override {
      for (const auto& [k, m] : t_.claimed[address_]) {
        if (k == key) return ArrivedMessage{key, m, {}, {}, {}};
      }
      throw TransportError("no such message: " + key);
    }
    void Acknowledge(const std::string& key) override {
      auto& list = t_.claimed[address_];
      list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& e) { return e.first == key; }), list.end());
    }

   private:
    MemoryTransport& t_;
    std::string address_;
    std::vector<std::string> keys_, problems_;
  };
};

}  // namespace host

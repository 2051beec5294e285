#include "host/faults.hpp"

#include "host/errors.hpp"

namespace host {

void FaultInjector::FailEvery(std::string_view operation) { every_.emplace(operation); }

void FaultInjector::FailNth(std::string_view operation, std::uint64_t n) {
  if (n == 0) return;
  nth_[std::string(operation)] = Calls(operation) + n;
}

void FaultInjector::FailNthCall(std::uint64_t n) { nthCall_ = n == 0 ? 0 : total_ + n; }

void FaultInjector::Clear() {
  every_.clear();
  nth_.clear();
  nthCall_ = 0;
}

std::uint64_t FaultInjector::Calls(std::string_view operation) const {
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

void FaultInjector::Check(std::string_view operation) {
  ++total_;
  // Calls come in runs of one operation (a record's hundred fields are set
  // one after the other): the counter of the last one is kept at hand. The
  // map's elements never move or go, so the pointers stay good.
  if (last_ == nullptr || last_->first != operation) {
    auto it = calls_.find(operation);
    if (it == calls_.end()) it = calls_.emplace(std::string(operation), 0).first;
    last_ = &*it;
  }
  std::uint64_t count = ++last_->second;
  if (recording_) recorded_.emplace_back(operation);
  bool fail = !every_.empty() && every_.count(operation) > 0;
  if (!nth_.empty()) {
    if (auto n = nth_.find(operation); n != nth_.end() && n->second == count) {
      fail = true;
      nth_.erase(n);
    }
  }
  if (nthCall_ != 0 && nthCall_ == total_) {
    fail = true;
    nthCall_ = 0;
  }
  if (fail) {
    ++injected_;
    throw HostError("Injected failure: " + std::string(operation));
  }
}

}  // namespace host

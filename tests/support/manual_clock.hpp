#pragma once
#include <cstdint>

#include "platform/clock.hpp"
#include "platform/datetime.hpp"

namespace platform {

// A clock that stands still until told otherwise.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(DateTime start = DateTime::FromParts(2026, 6, 15, 9, 0, 0)) : now_(start) {}
  DateTime Now() const override { return now_; }
  void Set(DateTime t) { now_ = t; }
  void Advance(std::int64_t seconds) { now_ = now_.AddSeconds(seconds); }

 private:
  DateTime now_;
};

}  // namespace platform

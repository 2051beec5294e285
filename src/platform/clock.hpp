#pragma once
// The clock and the time zone in force. Both are interfaces so that tests can
// set and advance time and choose the zone; the program uses the system's.
#include <cstdint>
#include <memory>

#include "platform/datetime.hpp"

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // The present local wall-clock time.
  virtual DateTime Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  DateTime Now() const override;
};

class TimeZoneInfo {
 public:
  virtual ~TimeZoneInfo() = default;
  // Minutes to add to local standard time to get UTC (UTC+1 gives -60).
  virtual int StandardBiasMinutes() const = 0;
};

// The zone named by TZ, or the system's zone when TZ is not set.
class SystemTimeZone final : public TimeZoneInfo {
 public:
  int StandardBiasMinutes() const override;
};

class FixedTimeZone final : public TimeZoneInfo {
 public:
  explicit FixedTimeZone(int biasMinutes) : bias_(biasMinutes) {}
  int StandardBiasMinutes() const override { return bias_; }

 private:
  int bias_;
};

}  // namespace platform

#include "platform/clock.hpp"

#include <ctime>

namespace platform {

DateTime SystemClock::Now() const {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return DateTime::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec);
}

int SystemTimeZone::StandardBiasMinutes() const {
  tzset();
  // POSIX `timezone` holds the seconds west of UTC of the zone's standard time.
  return static_cast<int>(timezone / 60);
}

}  // namespace platform

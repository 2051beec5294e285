#pragma once
// Date-time values in local wall-clock time (they carry no zone), and the one
// fixed text form every part of the system writes and reads:
//   month/day/four-digit year without leading zeros      "1/1/1990"
//   followed by " h:mm:ss AM|PM" unless the time is midnight  "6/15/2026 3:04:05 PM"
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class DateTime {
 public:
  // The zero date-time of the classic platform (30 December 1899, midnight).
  constexpr DateTime() = default;

  // Throws ConversionError for a calendar date or time that does not exist.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  // 1 January 4501: "no date" in contact items.
  static DateTime NoDate();
  static DateTime Zero() { return DateTime(); }

  // Parse the fixed text form; throws ConversionError for anything else.
  static DateTime Parse(std::string_view text);
  static std::optional<DateTime> TryParse(std::string_view text);

  std::string ToText() const;

  DateTime AddSeconds(std::int64_t seconds) const { return DateTime(seconds_ + seconds); }
  DateTime AddMinutes(std::int64_t minutes) const { return AddSeconds(minutes * 60); }
  DateTime AddHours(std::int64_t hours) const { return AddSeconds(hours * 3600); }
  DateTime AddDays(std::int64_t days) const { return AddSeconds(days * 86400); }

  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const;
  int Minute() const;
  int Second() const;
  bool IsMidnight() const;
  bool IsNoDate() const { return *this == NoDate(); }

  // Seconds since the zero date-time (30 December 1899), the value's whole state.
  std::int64_t SecondsSinceZero() const { return seconds_; }
  static DateTime FromSecondsSinceZero(std::int64_t s) { return DateTime(s); }
  // Seconds since 1 January 1970 of the same wall-clock reading.
  std::int64_t UnixLocalSeconds() const;
  static DateTime FromUnixLocalSeconds(std::int64_t s);

  auto operator<=>(const DateTime&) const = default;

 private:
  explicit constexpr DateTime(std::int64_t s) : seconds_(s) {}
  std::int64_t seconds_ = 0;
};

}  // namespace platform

#include "platform/datetime.hpp"

#include <date/date.h>

#include <cstdio>

#include "platform/text.hpp"

namespace platform {
namespace {

// Days from 1970-01-01 to 1899-12-30.
constexpr std::int64_t kZeroToUnixDays = 25569;

struct Civil {
  int year, month, day, hour, minute, second;
};

Civil ToCivil(std::int64_t secondsSinceZero) {
  std::int64_t days = secondsSinceZero / 86400;
  std::int64_t rem = secondsSinceZero % 86400;
  if (rem < 0) {
    rem += 86400;
    days -= 1;
  }
  const date::sys_days d{date::days{days - kZeroToUnixDays}};
  const date::year_month_day ymd{d};
  return Civil{static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
               static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(rem / 3600),
               static_cast<int>((rem / 60) % 60), static_cast<int>(rem % 60)};
}

[[noreturn]] void Bad(std::string_view text) {
  throw ConversionError("Type mismatch: '" + std::string(text) + "' is not a date");
}

// Reads 1..maxDigits decimal digits at p; advances p.
bool ReadNumber(std::string_view s, std::size_t& p, int minDigits, int maxDigits, int& out) {
  int n = 0, value = 0;
  while (p < s.size() && n < maxDigits && s[p] >= '0' && s[p] <= '9') {
    value = value * 10 + (s[p] - '0');
    ++p;
    ++n;
  }
  if (n < minDigits) return false;
  if (p < s.size() && s[p] >= '0' && s[p] <= '9') return false;  // too many digits
  out = value;
  return true;
}

}  // namespace

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
  const date::year_month_day ymd{date::year{year}, date::month{static_cast<unsigned>(month)},
                                 date::day{static_cast<unsigned>(day)}};
  if (year < 100 || year > 9999 || !ymd.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "no such date-time: %d-%d-%d %d:%d:%d", year, month, day, hour, minute,
                  second);
    throw ConversionError(buf);
  }
  const auto days = date::sys_days{ymd}.time_since_epoch().count() + kZeroToUnixDays;
  return DateTime(static_cast<std::int64_t>(days) * 86400 + hour * 3600 + minute * 60 + second);
}

DateTime DateTime::NoDate() { return FromParts(4501, 1, 1); }

std::int64_t DateTime::UnixLocalSeconds() const { return seconds_ - kZeroToUnixDays * 86400; }
DateTime DateTime::FromUnixLocalSeconds(std::int64_t s) { return DateTime(s + kZeroToUnixDays * 86400); }

int DateTime::Year() const { return ToCivil(seconds_).year; }
int DateTime::Month() const { return ToCivil(seconds_).month; }
int DateTime::Day() const { return ToCivil(seconds_).day; }
int DateTime::Hour() const { return ToCivil(seconds_).hour; }
int DateTime::Minute() const { return ToCivil(seconds_).minute; }
int DateTime::Second() const { return ToCivil(seconds_).second; }
bool DateTime::IsMidnight() const {
  const auto c = ToCivil(seconds_);
  return c.hour == 0 && c.minute == 0 && c.second == 0;
}

std::string DateTime::ToText() const {
  const Civil c = ToCivil(seconds_);
  char buf[64];
  if (c.hour == 0 && c.minute == 0 && c.second == 0) {
    std::snprintf(buf, sizeof buf, "%d/%d/%04d", c.month, c.day, c.year);
  } else {
    const int h12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
    std::snprintf(buf, sizeof buf, "%d/%d/%04d %d:%02d:%02d %s", c.month, c.day, c.year, h12, c.minute,
                  c.second, c.hour < 12 ? "AM" : "PM");
  }
  return buf;
}

std::optional<DateTime> DateTime::TryParse(std::string_view text) {
  const std::string t = Trim(text);
  const std::string_view s = t;
  std::size_t p = 0;
  int month = 0, day = 0, year = 0;
  if (!ReadNumber(s, p, 1, 2, month) || p >= s.size() || s[p++] != '/') return std::nullopt;
  if (!ReadNumber(s, p, 1, 2, day) || p >= s.size() || s[p++] != '/') return std::nullopt;
  if (!ReadNumber(s, p, 4, 4, year)) return std::nullopt;
  int hour = 0, minute = 0, second = 0;
  if (p < s.size()) {
    if (s[p++] != ' ') return std::nullopt;
    int h12 = 0;
    if (!ReadNumber(s, p, 1, 2, h12) || p >= s.size() || s[p++] != ':') return std::nullopt;
    if (!ReadNumber(s, p, 2, 2, minute) || p >= s.size() || s[p++] != ':') return std::nullopt;
    if (!ReadNumber(s, p, 2, 2, second) || p >= s.size() || s[p++] != ' ') return std::nullopt;
    const std::string_view ampm = s.substr(p);
    if (h12 < 1 || h12 > 12) return std::nullopt;
    if (ampm == "AM") {
      hour = h12 % 12;
    } else if (ampm == "PM") {
      hour = h12 % 12 + 12;
    } else {
      return std::nullopt;
    }
  }
  try {
    return FromParts(year, month, day, hour, minute, second);
  } catch (const ConversionError&) {
    return std::nullopt;
  }
}

DateTime DateTime::Parse(std::string_view text) {
  if (auto d = TryParse(text)) return *d;
  Bad(text);
}

}  // namespace platform

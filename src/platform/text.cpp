#include "platform/text.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

namespace platform {

long InStr(std::string_view s, std::string_view find) { return InStr(1, s, find); }

long InStr(long start, std::string_view s, std::string_view find) {
  if (start < 1) throw std::invalid_argument("InStr: start position must be 1 or more");
  const auto from = static_cast<std::size_t>(start - 1);
  if (from > s.size()) return 0;
  if (find.empty()) return start;
  const auto pos = s.find(find, from);
  return pos == std::string_view::npos ? 0 : static_cast<long>(pos) + 1;
}

long InStrRev(std::string_view s, std::string_view find) {
  if (find.empty()) return static_cast<long>(s.size());
  const auto pos = s.rfind(find);
  return pos == std::string_view::npos ? 0 : static_cast<long>(pos) + 1;
}

std::string Left(std::string_view s, long n) {
  if (n < 0) throw std::invalid_argument("Left: negative length");
  return std::string(s.substr(0, static_cast<std::size_t>(n)));
}

std::string Right(std::string_view s, long n) {
  if (n < 0) throw std::invalid_argument("Right: negative length");
  const auto len = std::min<std::size_t>(static_cast<std::size_t>(n), s.size());
  return std::string(s.substr(s.size() - len));
}

std::string Mid(std::string_view s, long start) {
  if (start < 1) throw std::invalid_argument("Mid: start position must be 1 or more");
  const auto from = static_cast<std::size_t>(start - 1);
  if (from >= s.size()) return {};
  return std::string(s.substr(from));
}

std::string Mid(std::string_view s, long start, long length) {
  if (start < 1) throw std::invalid_argument("Mid: start position must be 1 or more");
  if (length < 0) throw std::invalid_argument("Mid: negative length");
  const auto from = static_cast<std::size_t>(start - 1);
  if (from >= s.size()) return {};
  return std::string(s.substr(from, static_cast<std::size_t>(length)));
}

std::string LTrim(std::string_view s) {
  const auto p = s.find_first_not_of(' ');
  return p == std::string_view::npos ? std::string() : std::string(s.substr(p));
}

std::string RTrim(std::string_view s) {
  const auto p = s.find_last_not_of(' ');
  return p == std::string_view::npos ? std::string() : std::string(s.substr(0, p + 1));
}

std::string Trim(std::string_view s) { return LTrim(RTrim(s)); }

std::optional<bool> TryToBoolean(std::string_view s) {
  const std::string t = FoldCase(Trim(s));
  if (t == "1" || t == "true") return true;
  if (t == "0" || t == "false") return false;
  return std::nullopt;
}

bool ToBoolean(std::string_view s) {
  if (auto b = TryToBoolean(s)) return *b;
  throw ConversionError("Type mismatch: '" + std::string(s) + "' is not a Boolean");
}

namespace {
template <typename T>
T ToInteger(std::string_view s, const char* what) {
  const std::string t = Trim(s);
  std::string_view v = t;
  bool negative = false;
  if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  if (v.empty() || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw ConversionError("Type mismatch: '" + std::string(s) + "' is not a number");
  }
  long long value = 0;
  for (char c : v) {
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(std::numeric_limits<T>::max()) + 1) break;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) {
    throw ConversionError(std::string("Overflow: '") + std::string(s) + "' does not fit a " + what);
  }
  return static_cast<T>(value);
}
}  // namespace

std::int16_t ToInt16(std::string_view s) { return ToInteger<std::int16_t>(s, "16-bit integer"); }
std::int32_t ToInt32(std::string_view s) { return ToInteger<std::int32_t>(s, "32-bit integer"); }

const char* BooleanText(bool b) { return b ? "True" : "False"; }

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const auto hit = s.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(s.substr(pos));
  return out;
}

std::string OneLine(std::string_view text, std::size_t maxBytes) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  if (out.size() > maxBytes) {
    std::size_t cut = maxBytes;
    // Back to the start of a UTF-8 sequence, so that none is split.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    while (!out.empty() && out.back() == ' ') out.pop_back();
  }
  return out;
}

std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (auto& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::size_t IgnoreCaseHash::operator()(std::string_view s) const noexcept {
  // FNV-1a over the ASCII-folded bytes.
  std::size_t h = 14695981039346656037ull;
  for (char c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return h;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string NormalizeBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += '\n';
      if (i + 1 < s.size() && s[i + 1] == '\n') {
        ++i;
      }
    } else {
      out += s[i];
    }
  }
  return out;
}

std::size_t CharacterCount(std::string_view s) {
  std::size_t n = 0;
  for (const char c : s) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string DropControlCharacters(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F) continue;
    out += c;
  }
  return out;
}

}  // namespace platform

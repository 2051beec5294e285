#pragma once
// Text from mail and from other people's contacts shown on a terminal:
// control characters could move the cursor or change the terminal, so every
// one of them except line breaks and tabs is shown as "?". That covers the
// C0 controls, DEL and the C1 controls (U+0080..U+009F as UTF-8).
#include <string>
#include <string_view>

namespace cli {

inline std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char ch = static_cast<unsigned char>(text[i]);
    if (ch == '\n' || ch == '\t') {
      out += static_cast<char>(ch);
    } else if (ch < 0x20 || ch == 0x7F) {
      out += '?';
    } else if (ch == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += '?';
      ++i;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out;
}

// Printable, on one line: line breaks and tabs become blanks too.
inline std::string PrintableLine(std::string_view text) {
  std::string out = Printable(text);
  for (char& ch : out) {
    if (ch == '\n' || ch == '\t') ch = ' ';
  }
  return out;
}

}  // namespace cli

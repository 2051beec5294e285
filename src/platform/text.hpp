#pragma once
// Text helpers with the semantics of the classic Basic string functions:
// positions are 1-based and count bytes of the UTF-8 text, a search that
// finds nothing returns 0, and trimming removes blanks (space characters) only.
#include <cstdint>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// A value that cannot be converted (text to Boolean, number or date).
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Position (1-based) of the first occurrence of `find` in `s` at or after
// position `start`; 0 when absent. An empty `find` gives `start` when it lies
// within the text (or just past its end), as the classic function does.
long InStr(std::string_view s, std::string_view find);
long InStr(long start, std::string_view s, std::string_view find);
// Position of the last occurrence, 0 when absent.
long InStrRev(std::string_view s, std::string_view find);

// First n characters (the whole text when n exceeds its length).
// A negative n is an error (std::invalid_argument).
std::string Left(std::string_view s, long n);
// Last n characters.
std::string Right(std::string_view s, long n);
// The rest of the text from position `start` (1-based) on; empty past the end.
// A start below 1 is an error (std::invalid_argument).
std::string Mid(std::string_view s, long start);
// At most `length` characters from position `start`.
std::string Mid(std::string_view s, long start, long length);

std::string Trim(std::string_view s);
// Every line break (CR LF, CR or LF) as one LF.
std::string NormalizeBreaks(std::string_view s);
std::string LTrim(std::string_view s);
std::string RTrim(std::string_view s);

// "1" and "True" give true, "0" and "False" give false (case-insensitive,
// blanks around ignored); anything else throws ConversionError.
bool ToBoolean(std::string_view s);
std::optional<bool> TryToBoolean(std::string_view s);

// Text to a 16-bit integer: optional blanks, optional sign, decimal digits.
// Non-numbers and values outside -32768..32767 throw ConversionError.
std::int16_t ToInt16(std::string_view s);
// Same rules for a 32-bit integer.
std::int32_t ToInt32(std::string_view s);

// Text of a Boolean as the classic conversion gives it: "True" / "False".
const char* BooleanText(bool b);

// Replace every occurrence of `from` by `to`.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

// Text from elsewhere (a server's reply, a library's error report) as one
// line for a message: every run of blanks, line breaks, tabs and other
// control characters becomes one blank, none at either end; longer text is
// cut at `maxBytes` (never inside a UTF-8 sequence).
std::string OneLine(std::string_view text, std::size_t maxBytes = 300);

// ASCII case folding used for case-insensitive names.
// The characters of a UTF-8 text: its bytes that do not continue a
// character.
std::size_t CharacterCount(std::string_view s);
// The text without its control characters (bytes below 32 and 127), tab,
// CR and LF excepted.
std::string DropControlCharacters(std::string_view s);
std::string FoldCase(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Hash and equality without regard to ASCII case, for maps and sets of names
// that are looked up by a string_view without making folded copies.
struct IgnoreCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept;
};
struct IgnoreCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return EqualsIgnoreCase(a, b); }
};

}  // namespace platform

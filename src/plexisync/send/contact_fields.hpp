#pragma once
// The contact record's field list: one row per field, in the order the
// record writes them. The writer, the reader and the copier are all driven
// by this one table.
#include <array>
#include <cstddef>

namespace plexisync {

enum class ValueKind { kText, kDate, kNumber, kFlag };

// How a field's raw text is turned back into a property value.
enum class Reading {
  kTrimmed,            // blanks removed at both ends
  kAsIs,               // set exactly as it stands
  kDate,               // parsed as a date, untrimmed
  kDateTrimmed,        // trimmed, then parsed as a date
  kNumber,             // 16-bit integer
  kTrueOnlyForTrue,    // true only for exactly "True"
  kFalseOnlyForFalse,  // false only for exactly "False"
  kNotApplied,         // travels in the record, not applied on reading
  kBodyBlock,          // the body block up to the end marker
};

enum class Copy { kNoCopy, kCopy, kCopySafe };

struct ContactField {
  const char* tag;         // as written, always "Contact" + property + ":"
  const char* readingTag;  // searched on reading; nullptr when not read
  const char* property;    // the contact item's property name
  ValueKind kind;
  bool viaSafeItem;        // the writer reads the value through the safe item
  Reading reading;
  Copy copy;               // copied by CopyContact, and from where
};

inline constexpr std::size_t kContactFieldCount = 107;
// Rows 1..106 are the field lines; the last row is the body block.
extern const std::array<ContactField, kContactFieldCount> kContactFields;
inline constexpr std::size_t kFieldLineCount = kContactFieldCount - 1;

}  // namespace plexisync

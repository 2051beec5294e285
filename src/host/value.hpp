#pragma once
// Property values of items and their types.
#include <cstdint>
#include <string>
#include <variant>

#include "platform/datetime.hpp"

namespace host {

// monostate stands for "no value" (a property the item does not have).
using Variant = std::variant<std::monostate, std::string, platform::DateTime, std::int32_t, bool>;

enum class PropType { kText, kDate, kNumber, kFlag };

// "text", "date", "number", "flag".
const char* PropTypeName(PropType type);

// The value as text: texts as they are, dates in the fixed text form,
// numbers in decimal, flags "True"/"False", no value "".
std::string VariantToText(const Variant& v);

// True when the value holds the alternative that the type stands for.
bool HoldsType(const Variant& v, PropType type);

// Converts a text to a value of the type (dates in the fixed form, numbers
// as 32-bit decimal integers, flags "True"/"False"/"1"/"0"); throws
// platform::ConversionError when the text is no such value.
Variant VariantFromText(PropType type, std::string_view text);

}  // namespace host

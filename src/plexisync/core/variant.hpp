#pragma once
// The loosely typed value the add-in passes around where the classic platform
// used variants: registry defaults and results, control values.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/datetime.hpp"

namespace plexisync {

using Bytes = std::vector<std::uint8_t>;
// monostate stands for Empty.
using Variant = std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::string, platform::DateTime, Bytes>;

// The text a value converts to ("True"/"False" for flags, decimal numbers,
// the fixed date form); bytes are taken as UTF-8 text. Empty gives "".
std::string VariantToText(const Variant& v);

// The Boolean a value converts to; text follows platform::ToBoolean and throws
// platform::ConversionError for anything else.
bool VariantToBoolean(const Variant& v);

}  // namespace plexisync

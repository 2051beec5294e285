#include "host/value.hpp"

#include "platform/text.hpp"

namespace host {

const char* PropTypeName(PropType type) {
  switch (type) {
    case PropType::kText: return "text";
    case PropType::kDate: return "date";
    case PropType::kNumber: return "number";
    case PropType::kFlag: return "flag";
  }
  return "text";
}

std::string VariantToText(const Variant& v) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const platform::DateTime& d) const { return d.ToText(); }
    std::string operator()(std::int32_t n) const { return std::to_string(n); }
    std::string operator()(bool b) const { return platform::BooleanText(b); }
  };
  return std::visit(Visitor{}, v);
}

bool HoldsType(const Variant& v, PropType type) {
  switch (type) {
    case PropType::kText: return std::holds_alternative<std::string>(v);
    case PropType::kDate: return std::holds_alternative<platform::DateTime>(v);
    case PropType::kNumber: return std::holds_alternative<std::int32_t>(v);
    case PropType::kFlag: return std::holds_alternative<bool>(v);
  }
  return false;
}

Variant VariantFromText(PropType type, std::string_view text) {
  switch (type) {
    case PropType::kText: return std::string(text);
    case PropType::kDate: return platform::DateTime::Parse(platform::Trim(text));
    case PropType::kNumber: return platform::ToInt32(text);
    case PropType::kFlag: return platform::ToBoolean(text);
  }
  return std::string(text);
}

}  // namespace host

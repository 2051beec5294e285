#include "plexisync/core/variant.hpp"

#include "platform/text.hpp"

namespace plexisync {

std::string VariantToText(const Variant& v) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(bool b) const { return platform::BooleanText(b); }
    std::string operator()(std::int16_t n) const { return std::to_string(n); }
    std::string operator()(std::int32_t n) const { return std::to_string(n); }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const platform::DateTime& d) const { return d.ToText(); }
    std::string operator()(const Bytes& b) const { return std::string(b.begin(), b.end()); }
  };
  return std::visit(Visitor{}, v);
}

bool VariantToBoolean(const Variant& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  if (const auto* n = std::get_if<std::int16_t>(&v)) return *n != 0;
  if (const auto* n = std::get_if<std::int32_t>(&v)) return *n != 0;
  return platform::ToBoolean(VariantToText(v));
}

}  // namespace plexisync

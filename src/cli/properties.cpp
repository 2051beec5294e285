#include "cli/properties.hpp"

#include "cli/errors.hpp"
#include "host/object_model.hpp"
#include "platform/text.hpp"

namespace cli {

std::string ValueHint(host::PropType type) {
  switch (type) {
    case host::PropType::kText:
      return "any text";
    case host::PropType::kDate:
      return "a date such as \"6/15/2026\" or \"6/15/2026 3:04:05 PM\"";
    case host::PropType::kNumber:
      return "a whole number";
    case host::PropType::kFlag:
      return "True or False";
  }
  return "a value";
}

Assignment ParseAssignment(const host::PropertySchema& schema, std::string_view text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    throw CliError("expected Property=Value, got \"" + std::string(text) + "\"");
  }
  const std::string name = platform::Trim(text.substr(0, eq));
  const std::string_view valueText = text.substr(eq + 1);
  if (name.empty()) throw CliError("missing property name in \"" + std::string(text) + "\"");
  const host::PropertyDef* def = schema.Find(name);
  if (!def) throw CliError("unknown " + schema.ItemKind() + " property: " + name);
  if (def->readOnly) throw CliError("read-only " + schema.ItemKind() + " property: " + def->name);
  Assignment a;
  a.def = def;
  try {
    a.value = host::VariantFromText(def->type, valueText);
  } catch (const std::exception&) {
    throw CliError("malformed value for " + def->name + " (" + ValueHint(def->type) + "): \"" +
                   std::string(valueText) + "\"");
  }
  return a;
}

std::vector<Assignment> ParseAssignments(const host::PropertySchema& schema, const std::vector<std::string>& texts) {
  std::vector<Assignment> out;
  out.reserve(texts.size());
  for (const auto& t : texts) out.push_back(ParseAssignment(schema, t));
  return out;
}

void Apply(host::Item& item, const std::vector<Assignment>& assignments) {
  for (const auto& a : assignments) item.SetProperty(a.def->name, a.value);
}

}  // namespace cli

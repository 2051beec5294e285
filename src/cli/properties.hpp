#pragma once
// Property assignments of the command line ("FullName=Bob Brown",
// "Birthday=6/15/1990"): the name is the item's own property name, the value
// is read by the property's type from the item schema.
#include <string>
#include <string_view>
#include <vector>

#include "host/contact_properties.hpp"
#include "host/value.hpp"

namespace host {
class Item;
}

namespace cli {

struct Assignment {
  const host::PropertyDef* def = nullptr;  // the schema's property
  host::Variant value;
};

// "Name=Value", split at the first "=". Throws CliError for text without
// "=", an unknown property ("unknown contact property: Name"), a read-only
// one, and a value that is not of the property's type.
Assignment ParseAssignment(const host::PropertySchema& schema, std::string_view text);
std::vector<Assignment> ParseAssignments(const host::PropertySchema& schema, const std::vector<std::string>& texts);
// Sets the values on the item, in order (not saved).
void Apply(host::Item& item, const std::vector<Assignment>& assignments);

// How a value of the type is written, for error messages.
std::string ValueHint(host::PropType type);

}  // namespace cli

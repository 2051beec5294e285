#pragma once
// JSON output of the commands: indented, one document per command; text
// that is not valid UTF-8 (it may come from a mail) is written with
// replacement characters instead of failing.
#include <nlohmann/json.hpp>

#include <ostream>

namespace cli {

template <class Json>
void PrintJson(std::ostream& out, const Json& doc) {
  out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace cli

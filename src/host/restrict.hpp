#pragma once
// Restriction filters over items, in the client's syntax:
//   [Property] = "value"    [Property] <> "value"    (also <, >, <=, >=)
// joined by `and` / `or` (case-insensitive, `and` binds tighter), `not`,
// parentheses and blanks anywhere. Values are double-quoted ("" inside
// stands for one quote), single-quoted ('' likewise) or bare words. Texts
// compare without regard to case, flags take "True"/"False", dates the
// fixed text form, numbers decimal integers.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/store.hpp"

namespace host::detail {

struct FilterNode;

class Filter {
 public:
  // Throws HostError "Cannot parse condition: <text>" for text that is not
  // a filter, and a HostError naming the property and the filter for a
  // property no item has.
  static Filter Parse(std::string_view text);
  bool Matches(const ItemRecord& item, const StoreId& store) const;
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  std::shared_ptr<const FilterNode> root_;
};

// Orders two values of one property: negative, 0 or positive. Texts
// compare without regard to case, flags put True before False (True counts
// as -1), no value comes first.
int CompareValues(const Variant& a, const Variant& b);

}  // namespace host::detail

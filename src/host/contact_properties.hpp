#pragma once
// The property schemas of items: every property a contact item or a mail
// item has, with its type, its default (what a new item shows), whether the
// security guard watches reads of it by programs, and whether it can be set.
// The contact item, the restriction engine, the program's commands and the
// contact editor are all driven by these tables.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/value.hpp"
#include "platform/text.hpp"

namespace host {

struct PropertyDef {
  std::string name;
  PropType type = PropType::kText;
  Variant defaultValue;     // what a new item shows
  bool guarded = false;     // reading it from a program asks the person
  bool readOnly = false;    // kept by the client (entry id, times)
  bool intrinsic = false;   // held by the item itself, not among its stored properties
};

class PropertySchema {
 public:
  PropertySchema(std::string itemKind, std::vector<PropertyDef> defs);

  // "contact" or "mail".
  const std::string& ItemKind() const { return kind_; }
  const std::vector<PropertyDef>& Defs() const { return defs_; }
  std::size_t Size() const { return defs_.size(); }
  const PropertyDef& At(std::size_t index) const { return defs_.at(index); }
  // Index of a property by name (case-insensitive); nullopt when the item
  // kind has no such property.
  std::optional<std::size_t> IndexOf(std::string_view name) const;
  const PropertyDef* Find(std::string_view name) const;

 private:
  std::string kind_;
  std::vector<PropertyDef> defs_;
  // Looked up without case and without making a folded copy of the name:
  // every property access goes through here.
  std::unordered_map<std::string, std::size_t, platform::IgnoreCaseHash, platform::IgnoreCaseEqual> index_;
  // Names as written in the schema (the usual case) are found first through
  // a small table hashed on their exact bytes; the hash's seed is chosen so
  // that no two names share a slot. A slot holds the index + 1, 0 for none.
  static constexpr std::size_t kSlots = 4096;
  std::size_t SlotOf(std::string_view name) const noexcept;
  std::uint64_t seed_ = 0;
  std::array<std::uint16_t, kSlots> exact_{};
};

// Contact items: the fields of the contact record in their order, then
// Body, then the item-level properties (EntryID, MessageClass,
// CreationTime, LastModificationTime, UnRead).
const PropertySchema& ContactSchema();
// Mail items.
const PropertySchema& MailSchema();

// Message classes.
inline constexpr const char* kContactClass = "IPM.Contact";
inline constexpr const char* kMailClass = "IPM.Note";

}  // namespace host

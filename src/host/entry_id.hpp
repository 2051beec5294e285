#pragma once
// Entry ids: the 48-character uppercase hexadecimal text of 24 bytes,
// 4 zero bytes, the 16-byte id of the store, then the object's 4-byte
// number in the store (big-endian). Folders and items of one store share
// the numbering, so an id names one object across all stores.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace host {

using StoreId = std::array<std::uint8_t, 16>;

struct EntryIdParts {
  StoreId store{};
  std::uint32_t number = 0;
};

std::string FormatEntryId(const StoreId& store, std::uint32_t number);
// The parts of an entry id; nullopt for anything that is not one (wrong
// length, not hexadecimal, a non-zero prefix). Lowercase digits are taken.
std::optional<EntryIdParts> ParseEntryId(std::string_view id);

// A new random store id.
StoreId NewStoreId();

}  // namespace host

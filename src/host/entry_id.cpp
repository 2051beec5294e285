#include "host/entry_id.hpp"

#include <random>

namespace host {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string FormatEntryId(const StoreId& store, std::uint32_t number) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  out.reserve(48);
  auto put = [&](std::uint8_t b) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  };
  for (int i = 0; i < 4; ++i) put(0);
  for (auto b : store) put(b);
  for (int shift = 24; shift >= 0; shift -= 8) put(static_cast<std::uint8_t>(number >> shift));
  return out;
}

std::optional<EntryIdParts> ParseEntryId(std::string_view id) {
  if (id.size() != 48) return std::nullopt;
  std::array<std::uint8_t, 24> bytes{};
  for (std::size_t i = 0; i < 24; ++i) {
    int hi = HexValue(id[2 * i]);
    int lo = HexValue(id[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  for (int i = 0; i < 4; ++i) {
    if (bytes[i] != 0) return std::nullopt;
  }
  EntryIdParts parts;
  for (int i = 0; i < 16; ++i) parts.store[i] = bytes[4 + i];
  parts.number = (std::uint32_t{bytes[20]} << 24) | (std::uint32_t{bytes[21]} << 16) |
                 (std::uint32_t{bytes[22]} << 8) | std::uint32_t{bytes[23]};
  return parts;
}

StoreId NewStoreId() {
  std::random_device rd;
  std::mt19937_64 gen((static_cast<std::uint64_t>(rd()) << 32) ^ rd());
  StoreId id{};
  for (auto& b : id) b = static_cast<std::uint8_t>(gen());
  return id;
}

}  // namespace host

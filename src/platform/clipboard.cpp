#include "platform/clipboard.hpp"

#include "platform/text.hpp"

namespace platform {

std::uint32_t Clipboard::RegisterFormat(std::string_view name) {
  if (name.empty()) {
    return 0;
  }
  const std::string key = FoldCase(name);
  if (auto it = registered_.find(key); it != registered_.end()) {
    return it->second;
  }
  const std::uint32_t id = kFirstRegisteredFormat + static_cast<std::uint32_t>(registered_.size());
  if (id > 0xFFFF) {
    return 0;
  }
  registered_.emplace(key, id);
  names_.emplace(id, std::string(name));
  return id;
}

std::optional<std::string> Clipboard::FormatName(std::uint32_t format) const {
  if (auto it = names_.find(format); it != names_.end()) {
    return it->second;
  }
  return std::nullopt;
}

bool Clipboard::Open() {
  if (open_) {
    return false;
  }
  open_ = true;
  return true;
}

bool Clipboard::Close() {
  if (!open_) {
    return false;
  }
  open_ = false;
  return true;
}

bool Clipboard::Empty() {
  if (!open_) {
    return false;
  }
  blocks_.clear();
  return true;
}

bool Clipboard::SetData(std::uint32_t format, std::vector<std::uint8_t> data) {
  if (!open_ || format == 0) {
    return false;
  }
  blocks_[format] = std::move(data);
  return true;
}

std::optional<std::vector<std::uint8_t>> Clipboard::GetData(std::uint32_t format) const {
  if (!open_) {
    return std::nullopt;
  }
  if (auto it = blocks_.find(format); it != blocks_.end()) {
    return it->second;
  }
  return std::nullopt;
}

bool Clipboard::HasFormat(std::uint32_t format) const { return blocks_.count(format) != 0; }

std::vector<std::uint32_t> Clipboard::Formats() const {
  std::vector<std::uint32_t> out;
  out.reserve(blocks_.size());
  for (const auto& [format, data] : blocks_) {
    out.push_back(format);
  }
  return out;
}

bool PutDibOnClipboard(Clipboard& clipboard, const Bitmap& picture) {
  if (picture.Empty() || !clipboard.Open()) {
    return false;
  }
  clipboard.Empty();
  const bool stored = clipboard.SetData(kCfDib, EncodeDib(picture));
  clipboard.Close();
  return stored;
}

Clipboard& SystemClipboard() {
  static Clipboard clipboard;
  return clipboard;
}

}  // namespace platform

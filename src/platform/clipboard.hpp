#pragma once
// The clipboard: data blocks stored under numeric formats. Standard formats
// have fixed small numbers (CF_DIB = 8); other formats are registered by
// name and get numbers from 0xC000 on, the same number for the same name
// (names compare case-insensitively) for the life of the clipboard.
//
// As on the classic platform, writing and emptying need the clipboard to be
// opened first, reading data needs it open too, and asking whether a format
// is present does not.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bitmap.hpp"

namespace platform {

inline constexpr std::uint32_t kCfText = 1;
inline constexpr std::uint32_t kCfBitmap = 2;
inline constexpr std::uint32_t kCfDib = 8;
inline constexpr std::uint32_t kFirstRegisteredFormat = 0xC000;

class Clipboard {
 public:
  // The id of a named format, registering it on first use. An empty name
  // gives 0 (no format); so does running out of ids (0xC000..0xFFFF).
  std::uint32_t RegisterFormat(std::string_view name);
  // The name of a registered format; nullopt for standard or unknown ids.
  std::optional<std::string> FormatName(std::uint32_t format) const;

  // False when the clipboard is already open.
  bool Open();
  // False when it was not open.
  bool Close();
  bool IsOpen() const { return open_; }
  // Removes every block; false (and nothing changes) when not open.
  bool Empty();
  // Stores a block, replacing one of the same format. Refused (false, the
  // block is dropped) when the clipboard is not open or the format is 0.
  bool SetData(std::uint32_t format, std::vector<std::uint8_t> data);
  // A copy of the block; nullopt when not open or the format is absent.
  std::optional<std::vector<std::uint8_t>> GetData(std::uint32_t format) const;
  bool HasFormat(std::uint32_t format) const;
  // Formats present, in increasing order.
  std::vector<std::uint32_t> Formats() const;

 private:
  bool open_ = false;
  std::map<std::uint32_t, std::vector<std::uint8_t>> blocks_;
  std::map<std::string, std::uint32_t> registered_;  // folded name -> id
  std::map<std::uint32_t, std::string> names_;       // id -> name as first registered
};

// Puts a picture on the clipboard as a device-independent bitmap, the way a
// picture is copied: open, empty, store under CF_DIB, close. False when the
// clipboard is busy (already open) or the picture is empty.
bool PutDibOnClipboard(Clipboard& clipboard, const Bitmap& picture);

// The process's clipboard, shared by everything that copies and pastes.
Clipboard& SystemClipboard();

}  // namespace platform

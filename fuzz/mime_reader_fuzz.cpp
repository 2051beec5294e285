// Feeds arbitrary bytes to the MIME reader. Besides the sanitizers' checks:
// input that is not a message at all is refused with MimeError and nothing
// else; every text of a message that is read is valid UTF-8; and a message
// that was read can be written and read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/transport/mime.hpp"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, min = 0x80, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, min = 0x800, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, min = 0x10000, code = c & 0x07;
    } else {
      return false;
    }
    if (s.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

void RequireUtf8(const host::Address& a) {
  Require(IsUtf8(a.name));
  Require(IsUtf8(a.address));
}

void RequireUtf8(const host::MailMessage& m) {
  RequireUtf8(m.from);
  for (const auto* list : {&m.to, &m.cc, &m.bcc}) {
    for (const auto& a : *list) RequireUtf8(a);
  }
  Require(IsUtf8(m.subject));
  Require(IsUtf8(m.body));
  Require(IsUtf8(m.messageId));
  Require(IsUtf8(m.date));
  for (const auto& a : m.attachments) Require(IsUtf8(a.name));
  Require(m.importance >= 0 && m.importance <= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  host::MailMessage message;
  try {
    message = host::ReadMime(raw);
  } catch (const host::MimeError&) {
    return 0;
  }
  RequireUtf8(message);

  // What was read can be sent on: the written form reads back as a message
  // with the same number of attachments.
  const std::string written = host::WriteMime(message);
  host::MailMessage again;
  try {
    again = host::ReadMime(written);
  } catch (const host::MimeError&) {
    Require(false);
  }
  RequireUtf8(again);
  Require(again.attachments.size() == message.attachments.size());
  return 0;
}

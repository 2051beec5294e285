// Feeds arbitrary text to the contact record reader. Besides the sanitizers'
// checks, every decision the reader returns must name a field of the table
// that is read, in table order, at most once each, with the body last; and
// every text it takes from the record must fit inside the record (its
// control characters dropped) and hold no control character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "platform/text.hpp"
#include "plexisync/send/contact_record.hpp"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using plexisync::kContactFields;
  const std::string record(reinterpret_cast<const char*>(data), size);
  const std::string kept = "kept body";
  const auto list = plexisync::ParseContactRecord(record, kept);
  const std::string readable = platform::DropControlCharacters(record);

  const plexisync::ContactField* const first = kContactFields.data();
  const plexisync::ContactField* const body = first + plexisync::kFieldLineCount;
  const plexisync::ContactField* previous = nullptr;
  for (const auto& a : list) {
    Require(a.field >= first && a.field <= body);
    Require(previous == nullptr || a.field > previous);
    previous = a.field;
    Require(a.field->reading != plexisync::Reading::kNotApplied);
    if (const auto* text = std::get_if<std::string>(&a.value)) {
      const bool isKept = a.field == body && *text == kept;
      Require(isKept || text->size() <= record.size());
      // Texts come with their control characters (but tab, CR, LF) dropped.
      Require(isKept || text->empty() || readable.find(*text) != std::string::npos);
      if (!isKept) {
        for (const char c : *text) {
          const auto u = static_cast<unsigned char>(c);
          Require(!((u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F));
        }
      }
    }
  }
  return 0;
}

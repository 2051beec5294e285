#include "plexisync/send/contact_record.hpp"

#include <optional>
#include <stdexcept>
#include <string_view>

#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {
namespace {

constexpr std::string_view kCrLf = "\r\n";

const ContactField& BodyField() { return kContactFields[kFieldLineCount]; }

// The raw value of a field line turned into the value to set, by the field's
// reading rule; nullopt when it does not parse (the property keeps its value).
// A record may come from anyone: control characters other than tab, CR and
// LF (a NUL among them) are dropped from texts.
std::optional<RecordValue> ReadValue(Reading rule, std::string_view raw) {
  switch (rule) {
    case Reading::kTrimmed:
      return RecordValue(platform::Trim(platform::DropControlCharacters(raw)));
    case Reading::kAsIs:
      return RecordValue(platform::DropControlCharacters(raw));
    case Reading::kDateTrimmed:
      if (auto d = platform::DateTime::TryParse(platform::Trim(raw))) return RecordValue(*d);
      return std::nullopt;
    case Reading::kDate:
      if (auto d = platform::DateTime::TryParse(raw)) return RecordValue(*d);
      return std::nullopt;
    case Reading::kNumber:
      try {
        return RecordValue(platform::ToInt16(raw));
      } catch (const platform::ConversionError&) {
        return std::nullopt;
      }
    case Reading::kTrueOnlyForTrue:
      return RecordValue(raw == "True");
    case Reading::kFalseOnlyForFalse:
      return RecordValue(raw != "False");
    case Reading::kNotApplied:
    case Reading::kBodyBlock:
      return std::nullopt;
  }
  return std::nullopt;
}

// The body block in what is left of the record: the text after
// "ContactBody:" up to the CR LF right before ":EndOfContact:", trimmed.
// A record cut out exactly (the text ends with its closing marker, as the
// receiving side hands it over) ends its body at that last marker, so that
// a body holding the marker's text is read whole; any other text ends it at
// the first marker.
// nullopt when the block is there but malformed (no end marker, or no line
// break right before it): the body then stays as it is.
std::optional<RecordValue> ReadBody(std::string_view work, const std::string& keptBody) {
  const std::string_view tag = BodyField().readingTag;
  const std::size_t at = work.find(tag);
  if (at == std::string_view::npos) return RecordValue(keptBody);
  const std::string_view rest = work.substr(at + tag.size());
  const std::string_view marker = kEndOfContact;
  const bool wholeRecord = rest.size() >= marker.size() && rest.substr(rest.size() - marker.size()) == marker;
  const std::size_t end = wholeRecord ? rest.rfind(marker) : rest.find(marker);
  if (end == std::string_view::npos || end < kCrLf.size()) return std::nullopt;
  if (rest.substr(end - kCrLf.size(), kCrLf.size()) != kCrLf) return std::nullopt;
  return RecordValue(platform::Trim(platform::DropControlCharacters(rest.substr(0, end - kCrLf.size()))));
}

host::Variant ToHostValue(const RecordValue& v) {
  struct Visitor {
    host::Variant operator()(const std::string& s) const { return s; }
    host::Variant operator()(const platform::DateTime& d) const { return d; }
    host::Variant operator()(std::int16_t n) const { return static_cast<std::int32_t>(n); }
    host::Variant operator()(bool b) const { return b; }
  };
  return std::visit(Visitor{}, v);
}

// The safe contact object over `contact`; null when the safe-item library
// cannot provide one.
std::shared_ptr<host::SafeContactItem> MakeSafeItem(Context& ctx, const std::shared_ptr<host::ContactItem>& contact) {
  std::shared_ptr<host::SafeContactItem> safe;
  PassOver([&] {
    auto made = ctx.app().CreateSafeContactItem();
    made->SetItem(contact);
    safe = std::move(made);
  });
  return safe;
}

host::ContactItem& Require(const std::shared_ptr<host::ContactItem>& contact) {
  if (!contact) throw std::invalid_argument("no contact item");
  return *contact;
}

}  // namespace

std::vector<FieldAssignment> ParseContactRecord(const std::string& record, const std::string& keptBody) {
  std::vector<FieldAssignment> out;
  out.reserve(kContactFieldCount);
  // The working text only ever shrinks from the front; positions are size_t,
  // so values of any length are read whole.
  std::string_view work = record;
  for (std::size_t i = 0; i < kFieldLineCount; ++i) {
    const ContactField& field = kContactFields[i];
    if (field.reading == Reading::kNotApplied || field.readingTag == nullptr) continue;
    const std::string_view tag = field.readingTag;
    const std::size_t at = work.find(tag);
    if (at == std::string_view::npos) continue;  // missing: keep the current value, do not move
    work.remove_prefix(at + tag.size());
    const std::size_t lineEnd = work.find(kCrLf);
    if (lineEnd == std::string_view::npos) continue;  // a line without its end: no value
    if (auto value = ReadValue(field.reading, work.substr(0, lineEnd))) {
      out.push_back(FieldAssignment{&field, std::move(*value)});
    }
  }
  if (auto body = ReadBody(work, keptBody)) out.push_back(FieldAssignment{&BodyField(), std::move(*body)});
  return out;
}

std::string ContactToText(Context& ctx, const std::shared_ptr<host::ContactItem>& contact, const std::string& corrId,
                          bool dontSendBody) {
  const auto safe = MakeSafeItem(ctx, contact);

  std::string text;
  text.append(kStartOfContact).append(platform::Trim(corrId)).append(kCrLf);

  PassOver([&] {
    const platform::DateTime modified = Require(contact).LastModificationTime();
    text.append(kLastModifiedTag).append(GMTTime(ctx, modified).ToText()).append(kCrLf);
  });

  for (std::size_t i = 0; i < kFieldLineCount; ++i) {
    const ContactField& field = kContactFields[i];
    if (field.viaSafeItem && !safe) continue;
    // A value that cannot be read leaves its whole line out.
    PassOver([&] {
      const host::Variant value =
          field.viaSafeItem ? safe->GetProperty(field.property) : Require(contact).GetProperty(field.property);
      text.append(field.tag).append(host::VariantToText(value)).append(kCrLf);
    });
  }

  if (!dontSendBody) {
    const ContactField& body = BodyField();
    PassOver([&] {
      const std::string value = host::VariantToText(Require(contact).GetProperty(body.property));
      text.append(body.tag).append(platform::Trim(value)).append(kCrLf);
    });
  }

  text.append(kEndOfContact).append(kCrLf);
  return text;
}

void TextToContact(Context& /*ctx*/, const std::string& record, const std::shared_ptr<host::ContactItem>& contact,
                   const std::string& keptBody) {
  std::vector<FieldAssignment> assignments;
  if (!PassOver([&] { assignments = ParseContactRecord(record, keptBody); })) return;
  for (const FieldAssignment& a : assignments) {
    PassOver([&] { Require(contact).SetProperty(a.field->property, ToHostValue(a.value)); });
  }
}

void CopyContact(Context& ctx, const std::shared_ptr<host::ContactItem>& target,
                 const std::shared_ptr<host::ContactItem>& source) {
  const auto safe = MakeSafeItem(ctx, source);
  // Every row, the body's included, in table order.
  for (const ContactField& field : kContactFields) {
    if (field.copy == Copy::kNoCopy) continue;
    if (field.copy == Copy::kCopySafe && !safe) continue;
    PassOver([&] {
      host::Variant value =
          field.copy == Copy::kCopySafe ? safe->GetProperty(field.property) : Require(source).GetProperty(field.property);
      Require(target).SetProperty(field.property, std::move(value));
    });
  }
}

}  // namespace plexisync

#pragma once
// The contact record: the text form of one contact item that an update mail
// carries, and the conversions around it.
//
//   :StartOfContact:<CorrID>            CR LF
//   LastModified: <GMT time>            CR LF
//   Contact<Property>:<value>           CR LF   x 106, in field-table order
//   ContactBody:<trimmed body>          CR LF   (left out when the body is off)
//   :EndOfContact:                      CR LF
//
// Values are not escaped: a value with line breaks spans several record
// lines. The field table (contact_fields.hpp) drives writing, reading and
// copying alike.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/datetime.hpp"
#include "plexisync/send/contact_fields.hpp"

namespace host {
class ContactItem;
}

namespace plexisync {

class Context;

inline constexpr const char* kStartOfContact = ":StartOfContact:";
inline constexpr const char* kEndOfContact = ":EndOfContact:";
inline constexpr const char* kLastModifiedTag = "LastModified: ";
inline constexpr const char* kRecordLineEnd = "\r\n";

// A value the reader decided to set: text, a date, a 16-bit number or a flag.
using RecordValue = std::variant<std::string, platform::DateTime, std::int16_t, bool>;

// One decision of the reader: set `field->property` to `value`.
struct FieldAssignment {
  const ContactField* field;  // a row of kContactFields
  RecordValue value;
};

// The pure reading rules, without any contact item: walks forward through
// the record and returns, in table order, the properties to set and their
// values. A field whose reading tag is missing, whose line has no end, or
// whose date or number does not parse yields no assignment. The body comes
// last: the record's body block, or `keptBody` when the record has none.
// Never throws for any input text (only std::bad_alloc).
std::vector<FieldAssignment> ParseContactRecord(const std::string& record, const std::string& keptBody);

// The record of one contact. `corrId` is trimmed of blanks; `dontSendBody`
// leaves the body block out. The eight safe-item fields are read through the
// safe contact object (their lines are left out when it cannot be made); a
// property that cannot be read leaves its line out. Never throws.
std::string ContactToText(Context& ctx, const std::shared_ptr<host::ContactItem>& contact, const std::string& corrId,
                          bool dontSendBody);

// Sets the contact's properties from a record (from the "LastModified: "
// line on, or the whole record). `keptBody` becomes the body when the record
// carries none. A property that cannot be set keeps its value. Does not save
// the contact. Never throws.
void TextToContact(Context& ctx, const std::string& record, const std::shared_ptr<host::ContactItem>& contact,
                   const std::string& keptBody);

// Sets every property the field table marks for copying (the body included)
// on `target` from `source`, reading the safe-item ones through the safe
// contact object. A property that cannot be read or set is passed over.
// Does not save the target. Never throws.
void CopyContact(Context& ctx, const std::shared_ptr<host::ContactItem>& target,
                 const std::shared_ptr<host::ContactItem>& source);

}  // namespace plexisync

#pragma once
// The mail transport's view of one message: what the client's mail items are
// converted to before sending and from after receiving.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct Attachment {
  std::string name;           // file name as shown to the user (UTF-8)
  std::vector<uint8_t> data;  // the decoded bytes
  std::string contentType;    // "type/subtype"; empty means "application/octet-stream"
  bool operator==(const Attachment&) const = default;
};

struct Address {
  std::string name;     // display name, may be empty (UTF-8)
  std::string address;  // e.g. "bob@example.org"
  bool operator==(const Address&) const = default;
};

struct MailMessage {
  Address from;
  std::vector<Address> to, cc, bcc;
  std::string subject;
  int importance = 1; /* 0 low, 1 normal, 2 high */
  // Line breaks are CR LF when read from a message; when writing, CR LF, a
  // lone LF and a lone CR are all taken as line breaks.
  std::string body;
  std::vector<Attachment> attachments;
  std::string messageId;  // without angle brackets; generated on writing when empty
  std::string date;       // RFC 5322 date as received; the current time on writing when empty
  bool operator==(const MailMessage&) const = default;
};

// Parses the text of a recipients field, such as "a@x.org; Bob <b@y.org>;".
// Entries are separated by semicolons or commas (trailing and doubled
// separators are allowed); separators inside double quotes or angle brackets
// do not split. Each entry is "address", "Name <address>",
// "\"Quoted, Name\" <address>" or "address (Name)". An entry without an
// address part keeps its whole text as the address. Never throws.
std::vector<Address> ParseAddressList(std::string_view text);

// True when `address` (surrounding blanks aside) is a mail address
// "local@domain": exactly one @; a non-empty local part and domain; no blank,
// control character or any of ( ) < > [ ] , ; : \ " anywhere; a domain of
// dot-separated non-empty labels of letters, digits, hyphens and non-ASCII
// bytes, none starting or ending with a hyphen, that has at least two labels
// or is "localhost".
bool IsMailAddress(std::string_view address);

// The entries of a recipients text (see ParseAddressList) whose address part
// is not a mail address, each as its address part, or its name when it has
// no address part. Empty when every entry is fine.
std::vector<std::string> InvalidRecipients(std::string_view text);

// "Name <address>" (the name quoted when it holds special characters), or the
// bare address when there is no name.
std::string FormatAddress(const Address& a);
// The addresses joined by "; ".
std::string FormatAddressList(const std::vector<Address>& list);

// The addresses of to, cc and bcc in that order, with blanks trimmed, empty
// ones and case-insensitive duplicates left out: the envelope recipients to
// hand to Transport::Send.
std::vector<std::string> EnvelopeRecipients(const MailMessage& m);

}  // namespace host

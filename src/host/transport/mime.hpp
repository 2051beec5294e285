#pragma once
// Conversion between MailMessage and RFC 5322 MIME text, built on GMime 3.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/transport/mail_message.hpp"

namespace host {

// Raised by ReadMime for input that is not a mail message at all.
class MimeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class MimeNewline {
  Crlf,  // the wire form of RFC 5322
  Lf,    // the Unix on-disk form used in Maildir files
};

// Writes the message as MIME text: From, To, Cc (never Bcc), Subject (RFC 2047
// encoded when not ASCII), Date (m.date when it is a valid date; the writer
// has no clock of its own, so otherwise the message has no Date), Message-ID (generated when m.messageId is empty), MIME-Version, Importance
// and X-Priority; a text/plain; charset=utf-8 body; each attachment as a
// base64 part with Content-Disposition: attachment and its file name, the whole
// being multipart/mixed when there are attachments. Control characters in
// header texts are replaced by spaces and invalid UTF-8 is repaired, so the
// caller's texts cannot add headers of their own.
std::string WriteMime(const MailMessage& m, MimeNewline newline = MimeNewline::Crlf);

// Reads a MIME message (CR LF or LF line ends). Takes the first mailbox of From,
// the mailboxes of To, Cc and Bcc (members of groups included), the decoded
// subject, the importance (Importance, X-Priority, X-MSMail-Priority or Priority
// header), the first text part that is not an attachment as the body (converted
// to UTF-8, line breaks as CR LF), every other leaf part that is an attachment,
// has a file name or is not text as an attachment (decoded bytes; an attached
// message is kept whole as its text), the Message-ID without brackets and the
// Date header text. All texts are valid UTF-8; attachment names come from the
// sender and are not checked as file names. Throws MimeError when the input
// cannot be parsed as a message at all (empty, no header); otherwise takes what
// it can.
MailMessage ReadMime(std::string_view raw);

// Why the message text was cut short, empty when it is whole: a multipart
// whose closing boundary never comes, or a base64 part whose encoded text
// (white space left out) is not a whole number of four-character groups or
// has padding before its end. Such a text is what is left of a message whose
// writing or copying stopped part-way; reading it would take what happens to
// be there as the whole message.
std::string MimeCutShort(std::string_view raw);

// A new globally unique message id (without brackets) whose right-hand side is
// the domain of `fromAddress`, or "localhost" when it has none.
std::string GenerateMessageId(std::string_view fromAddress);

// Seconds since 1970-01-01 UTC of an RFC 5322 date text; nullopt when it is
// not a date.
std::optional<std::int64_t> ParseMailDate(std::string_view date);
// RFC 5322 date text of a time in seconds since 1970-01-01 UTC, written as
// the wall-clock time of the zone `minutesEastOfUtc` ahead of UTC with that
// offset ("Mon, 15 Jun 2026 15:04:05 +0200"); UTC by default ("+0000").
// Empty for a time or an offset (a day or more) that cannot be written.
std::string FormatMailDate(std::int64_t unixSeconds, int minutesEastOfUtc = 0);

}  // namespace host

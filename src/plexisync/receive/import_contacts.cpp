// CReceiveMail::ImportContacts and ImportImport: the contact records of an
// update mail applied to the local copy of the shared folder, and the mark
// an import mail leaves on that folder.
//
// Each arrived contact is compared with what this user last sent to the
// sender: a change made at the sender after that moment is newer, anything
// else is apparently obsolete. Where a local counterpart exists the person is
// asked (once per contact, or once for the rest of the mail with "Yes to All"
// / "No to All"), and an accepted contact replaces the local one as a new,
// unread item that carries the same CorrID.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/receive/contact_replace.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/receive/update_text.hpp"
#include "plexisync/send/contact_record.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

constexpr std::string_view kStart = kStartOfContact;                // 16 characters
constexpr std::size_t kRecordHead = kStart.size() + kCorrIdLength + 2;  // marker, CorrID, CR LF

bool Accepted(int answer) { return answer == kAnswerYes || answer == kAnswerYesToAll; }
bool AsksAgain(int answer) { return answer % 2 == 1; }

// The CorrID of a record: the 48 characters after its marker, which must end
// the record's first line. "" for anything else (a short line, a line break
// or control character inside, nothing but blanks).
std::string RecordCorrId(std::string_view record) {
  if (record.size() < kRecordHead) return {};
  const std::string_view id = record.substr(kStart.size(), kCorrIdLength);
  if (record.substr(kStart.size() + kCorrIdLength, 2) != "\r\n") return {};
  bool blank = true;
  for (const char c : id) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
    if (c != ' ') blank = false;
  }
  return blank ? std::string() : std::string(id);
}

// The sender's modification time that the record's first line carries
// ("LastModified: " and a date-time in GMT); `fallback` when the line is
// missing or its text is no date.
platform::DateTime ArrivedDate(std::string_view lines, const platform::DateTime& fallback) {
  const std::string_view tag = kLastModifiedTag;
  if (lines.substr(0, tag.size()) != tag) return fallback;
  const std::string_view rest = lines.substr(tag.size());
  const auto end = rest.find("\r\n");
  if (end == std::string_view::npos) return fallback;
  const auto date = platform::DateTime::TryParse(rest.substr(0, end));
  return date ? *date : fallback;
}

std::string BoolText(bool b) { return b ? "True" : "False"; }

}  // namespace

void CReceiveMail::ImportContacts() {
  bool obsolete = false;
  try {
    if (!LocalFolder || !Sender) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    const std::string folderId = LocalFolder->EntryID();
    // The records are views into this copy: the reader's text stays as it
    // is whatever runs while the routine yields.
    const std::string text = Text;
    const UpdateTextParts parts = SplitUpdateText(text);
    if (!parts.truncated.empty()) {
      Append_error_record(ctx_, "A contact record without its end was not applied (" +
                                    std::to_string(parts.truncated.size()) + " characters)",
                          "CReceiveMail_ImportContacts", "");
    }

    for (const std::string_view record : parts.records) {
      ctx_.DoEvents();
      const std::string corrId = RecordCorrId(record);
      if (corrId.empty()) {
        Append_error_record(ctx_, "A contact record without a proper CorrID was not applied: " +
                                      std::string(record.substr(0, std::min<std::size_t>(record.size(), kRecordHead))),
                            "CReceiveMail_ImportContacts", "");
        continue;
      }
      const std::string lines(record.substr(kRecordHead));

      const platform::DateTime arrived = ArrivedDate(lines, GMTTime(ctx_, ctx_.Now()));
      if (NewerAnswer == 0) NewerAnswer = kAnswerYes;
      if (OlderAnswer == 0) OlderAnswer = kAnswerYes;
      obsolete = false;
      std::string keptBody;

      ctx_.DoEvents();
      const LocalCounterpart local = FindLocalCounterpart(ctx_, LocalFolder, folderId, corrId);
      if (local.item) {
        const platform::DateTime last = GMTTime(ctx_, Sender->LastUpdate);
        int* answer = &NewerAnswer;
        const char* opening = "Arrived changes for the ";
        if (!(arrived > last)) {
          obsolete = true;
          answer = &OlderAnswer;
          opening = "Arrived apparently obsolete changes for the ";
        }
        if (AsksAgain(*answer)) {
          *answer = AskKlausimas(ctx_, opening + local.item->FullName() + " contact. Do you want to accept changes?");
        }
        if (Accepted(*answer)) {
          keptBody = local.item->Body();
        }
      }

      ctx_.DoEvents();
      const bool create = obsolete ? Accepted(OlderAnswer) : Accepted(NewerAnswer);
      if (!create) continue;

      auto made = std::dynamic_pointer_cast<host::ContactItem>(LocalFolder->Items()->Add(host::kContactItem));
      if (!made) throw AddinError(kErrReplaceFailed, "The new item is not a contact");
      TextToContact(ctx_, lines, made, keptBody);
      // With a local counterpart `create` means it was accepted: the new
      // contact takes its place, in the folder's list too.
      SaveReplacement(ctx_, LocalFolder, folderId, made, corrId, local, Sender->LastUpdate);
    }
  } catch (...) {
    Error_logger(ctx_, DescribeException(std::current_exception()), "CReceiveMail_ImportContacts",
                 "Obsolete = " + BoolText(obsolete) + " res = " + std::to_string(NewerAnswer) +
                     " ores = " + std::to_string(OlderAnswer));
  }
}

void CReceiveMail::ImportImport() {
  Protect(ctx_, "CReceiveMail_ImportImport", [&] {
    if (!LocalFolder) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    const std::string name = LocalFolder->EntryID() + "\\" + kImportKey;
    Ensure_Key(ctx_, name);
    if (!ctx_.reg().KeyExists(ctx_.RegKey + name)) {
      throw AddinError(kErrReplaceFailed, "The import mark of the folder could not be written");
    }
  });
}

}  // namespace plexisync

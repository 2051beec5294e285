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
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>
#include <memory>
#include <string>
#include <string_view>

#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/receive/contact_replace.hpp"
#include "plexisync/receive/receive_journal.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/receive/update_text.hpp"
#include "plexisync/send/contact_record.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/registry.hpp"
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

// The contacts of the folder that carry an apply token, by token.
std::unordered_map<std::string, std::shared_ptr<host::ContactItem>> SavedByToken(
    const std::shared_ptr<host::Folder>& folder) {
  std::unordered_map<std::string, std::shared_ptr<host::ContactItem>> out;
  auto items = folder->Items();
  const int count = items->Count();
  for (int i = 1; i <= count; ++i) {
    auto contact = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
    if (!contact) continue;
    std::string token = contact->UserProperty(kApplyTokenProperty);
    if (!token.empty()) out[std::move(token)] = std::move(contact);
  }
  return out;
}

// Contacts new to the folder are recorded in batches of this many: their
// identities, list entries and the mail's progress in one write of the key
// store. Each is saved with its token first, so that a run that dies before
// the write finds them and records them then.
constexpr std::size_t kRecordBatch = 64;

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

    // A mail finished by a later run starts at the record it was at; the
    // contacts an earlier run saved for it and did not record are found by
    // their tokens.
    const int first = Journal ? Journal->recordNext : 0;
    const int count = static_cast<int>(parts.records.size());
    std::unordered_map<std::string, std::shared_ptr<host::ContactItem>> saved;
    if (Journal && Journal->resumed) saved = SavedByToken(LocalFolder);

    // Contacts new to the folder, saved and not yet recorded. No yield while
    // there are some: nothing else may look for their identities meanwhile.
    std::vector<std::pair<std::string, std::string>> batchMapping, batchList;  // new id -> CorrID, new id -> "1"
    std::set<std::string> batchCorrIds;
    int batchNext = first;
    auto flush = [&] {
      if (batchMapping.empty()) return;
      ctx_.reg().Transact([&] {
        Ensure_Key(ctx_, folderId);
        if (!ctx_.reg().SetTextValues(MappingKeyPath(ctx_, folderId), batchMapping) ||
            !ctx_.reg().SetTextValues(ListKeyPath(ctx_, folderId), batchList)) {
          throw AddinError(kErrReplaceFailed, "The identities of the arrived contacts could not be recorded");
        }
        Journal->Put({{"RecordNext", std::to_string(batchNext)}, {"SavedID", ""}, {"OldID", ""}});
      });
      Journal->recordNext = batchNext;
      batchMapping.clear();
      batchList.clear();
      batchCorrIds.clear();
    };
    // After a failure the contacts saved before the failing record are
    // recorded all the same, whatever becomes of that record.
    try {

      for (int index = first; index < count; ++index) {
        BlockPosition = index;
        const std::string_view record = parts.records[static_cast<std::size_t>(index)];
        if (batchMapping.empty()) ctx_.DoEvents();
        const std::string corrId = RecordCorrId(record);
        if (corrId.empty()) {
          Append_error_record(ctx_, "A contact record without a proper CorrID was not applied: " +
                                        std::string(record.substr(
                                            0, std::min<std::size_t>(record.size(), kRecordHead))),
                              "CReceiveMail_ImportContacts", "");
          if (!batchMapping.empty()) batchNext = index + 1;
          continue;
        }
        // The record's progress goes into the journal with the key-store
        // writes of its replacement.
        std::string oldLocalId;
        const ReplacementRecord progress = [&](const std::string& newId, bool finished) {
          if (!Journal) return;
          if (finished) {
            Journal->Put({{"RecordNext", std::to_string(index + 1)}, {"SavedID", ""}, {"OldID", ""}});
            Journal->recordNext = index + 1;
            Journal->savedId.clear();
            Journal->oldId.clear();
          } else {
            Journal->Put({{"SavedID", newId}, {"OldID", oldLocalId}});
            Journal->savedId = newId;
            Journal->oldId = oldLocalId;
          }
        };
        const bool resumed = Journal && index == first;
        // A record met again in the same batch is recorded first, so that it
        // finds its counterpart.
        if (batchCorrIds.count(corrId) != 0) flush();

        // An earlier run saved and recorded this record's contact and died
        // before its old copy was gone: that is finished, nothing is made anew.
        if (resumed && !Journal->savedId.empty()) {
          if (const auto saved = ContactInFolder(ctx_, LocalFolder, Journal->savedId)) {
            LocalCounterpart old;
            old.localId = oldLocalId = Journal->oldId;
            old.item = ContactInFolder(ctx_, LocalFolder, old.localId);
            FinishReplacement(ctx_, LocalFolder, folderId, saved, corrId, old, Sender->LastUpdate, progress);
            continue;
          }
          // Taken back after a failure: the record is applied afresh.
        }
        const std::string lines(record.substr(kRecordHead));

        const platform::DateTime arrived = ArrivedDate(lines, GMTTime(ctx_, ctx_.Now()));
        if (NewerAnswer == 0) NewerAnswer = kAnswerYes;
        if (OlderAnswer == 0) OlderAnswer = kAnswerYes;
        obsolete = false;
        std::string keptBody;

        if (batchMapping.empty()) ctx_.DoEvents();
        const LocalCounterpart local = FindLocalCounterpart(ctx_, LocalFolder, folderId, corrId);
        oldLocalId = local.localId;
        if (local.item || !local.dropped.empty()) {
          // A replacement, a question or a stale entry: what is pending goes
          // first, and this record is recorded on its own.
          flush();
          ctx_.DoEvents();
        }
        if (local.item) {
          const platform::DateTime last = GMTTime(ctx_, Sender->LastUpdate);
          int* answer = &NewerAnswer;
          const char* opening = "Arrived changes for the ";
          if (!(arrived > last)) {
            obsolete = true;
            answer = &OlderAnswer;
            opening = "Arrived apparently obsolete changes for the ";
          }
          const int position = ReceiveJournal::Position(ReceiveJournal::kContactsDone, index);
          const bool answered = Journal && Journal->askedAt == position;
          if (!answered && AsksAgain(*answer)) {
            *answer = AskKlausimas(ctx_, opening + local.item->FullName() + " contact. Do you want to accept changes?");
            // Kept before it is acted on: a later run does not ask again.
            if (Journal) Journal->askedAt = position;
            KeepAnswers({{"AskedAt", std::to_string(position)}, {"RecordNext", std::to_string(index)}});
          }
          if (Accepted(*answer)) {
            keptBody = local.item->Body();
          }
        }

        if (batchMapping.empty()) ctx_.DoEvents();
        const bool create = obsolete ? Accepted(OlderAnswer) : Accepted(NewerAnswer);
        if (!create) {
          if (batchMapping.empty()) continue;
          batchNext = index + 1;
          continue;
        }

        // A contact saved for this record by a run that died before recording
        // it is taken as it is, not saved a second time.
        std::shared_ptr<host::ContactItem> made;
        if (Journal) {
          const auto found = saved.find(Journal->Token(index));
          if (found != saved.end()) made = found->second;
        }
        if (!made) {
          made = std::dynamic_pointer_cast<host::ContactItem>(LocalFolder->Items()->Add(host::kContactItem));
          if (!made) throw AddinError(kErrReplaceFailed, "The new item is not a contact");
          TextToContact(ctx_, lines, made, keptBody);
          if (Journal) made->SetUserProperty(kApplyTokenProperty, Journal->Token(index));
        }
        if (Journal && !local.item && local.dropped.empty()) {
          // New to the folder: saved unread now, recorded with its batch.
          made->SetUnRead(true);
          made->Save();
          batchMapping.emplace_back(made->EntryID(), corrId);
          batchList.emplace_back(made->EntryID(), "1");
          batchCorrIds.insert(corrId);
          batchNext = index + 1;
          if (batchMapping.size() >= kRecordBatch) flush();
          continue;
        }
        // With a local counterpart `create` means it was accepted: the new
        // contact takes its place, in the folder's list too.
        SaveReplacement(ctx_, LocalFolder, folderId, made, corrId, local, Sender->LastUpdate, progress);
      }
      flush();
    } catch (...) {
      PassOver(flush);
      throw;
    }
  } catch (...) {
    BlockFailure("CReceiveMail_ImportContacts", "Obsolete = " + BoolText(obsolete) + " res = " +
                                                    std::to_string(NewerAnswer) + " ores = " + std::to_string(OlderAnswer));
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

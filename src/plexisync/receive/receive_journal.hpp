#pragma once
// The durable state of an update mail that is being applied.
//
// Before an update mail leaves the Inbox its text is written to a file of
// the add-in's (forced to disk), and the local folder, the sender as
// identified then and the reader's answers to the key store. While the blocks are applied their progress goes there too, in the
// same key-store writes that record what changed (a contact's identity, the
// next record to apply, the answer just given), and the entry is removed in
// the write that stamps the folder's members at the end. A run that is
// killed half-way, or stopped by a full disk, therefore leaves an entry from
// which the next send/receive finishes the mail exactly where it stopped,
// without asking again what was answered.
//
// Each contact saved for a record carries a user property naming the entry
// and the record, so that a contact saved just before the process died, and
// not yet recorded, is found and recorded rather than saved twice.
#include <string>
#include <utility>
#include <vector>

#include "platform/datetime.hpp"

namespace plexisync {

class Context;
class CSender;

// The key (below the product key, outside the profile's sharing data, which
// a repair or a layout reset may rebuild) that holds one subkey per mail
// being applied.
inline constexpr const char* kReceivingKey = "Receiving";
// Below the product key: one value per update mail (its entry id) for which
// a folder was made as an invitation and whose entry is not kept yet.
inline constexpr const char* kInvitationsKey = "Invitations";
// The user property that ties a saved contact to the record it was made for.
inline constexpr const char* kApplyTokenProperty = "PlexisyncApply";
// Attempts at one position (a block, a deleted line or a contact record)
// that failed before it is passed over, so that one bad record cannot hold
// a mail back for ever.
inline constexpr int kApplyAttempts = 3;

class ReceiveJournal {
 public:
  // The blocks of the mail applied so far.
  enum Stage : int { kNothingDone = 0, kRecipientsDone = 1, kDeletedDone = 2, kImportDone = 3, kContactsDone = 4 };

  // The entry of the mail with this entry id; nothing is read or written.
  ReceiveJournal(Context& ctx, std::string mailId);

  // The key that holds the entries (kReceivingKey below the product key).
  static std::string ReceivingKeyPath();

  // The key of the invitations (kInvitationsKey below the product key).
  static std::string InvitationsKeyPath();

  // The mails whose entries are in the key store, in enumeration order.
  static std::vector<std::string> Unfinished(Context& ctx);

  const std::string& MailId() const { return mailId_; }
  // True when the key store holds an entry for the mail.
  bool Exists() const;
  const std::string& Key() const { return key_; }

  // Writes the whole entry in one key-store write; raises on failure (the
  // mail then stays where it is).
  void Create(const std::string& text, const std::string& folderId, const std::string& folderPath,
              const CSender& sender);
  // Reads the entry back; false when it is missing or not readable as one.
  bool Load(std::string& text, std::string& folderId, std::string& folderPath, CSender& sender);

  // True when the entry was read back (an earlier run began the mail),
  // false when this run made it.
  bool resumed = false;
  // The progress as last written.
  int stage = kNothingDone;
  int deleteNext = 0;    // the deleted line to handle next
  int recordNext = 0;    // the contact record to apply next
  int askedAt = -1;      // the position whose question was answered (see Position)
  std::string savedId;   // recordNext's new contact, saved and recorded; its old one still to go
  std::string oldId;     // that old contact
  int deleteAnswer = 0, newerAnswer = 0, olderAnswer = 0;
  int failures = 0;      // failed attempts at failedAt
  int failedAt = -1;

  // A position within the mail: the stage's block and the line or record
  // within it, as one number.
  static int Position(int stage, int index) { return stage * 10000000 + index; }

  // Writes these progress values (and the answers), as part of the caller's
  // key-store transaction when there is one. Raises on failure.
  void Put(const std::vector<std::pair<std::string, std::string>>& values);
  void PutAnswers(std::vector<std::pair<std::string, std::string>> values);
  // Removes the entry; part of the caller's transaction when there is one.
  void Remove();
  // Deletes the file that holds the mail's text (once the entry is gone).
  void RemoveTextFile();
  // That file, in the installation folder.
  std::string TextFile() const;

  // The token a contact saved for record `index` carries.
  std::string Token(int index) const { return mailId_ + ":" + std::to_string(index); }

  // Counts a failure at `position`; true while it should be tried again.
  bool Failed(int position);
  // True when `position` failed too often and is to be passed over.
  bool GivenUp(int position) const { return failedAt == position && failures >= kApplyAttempts; }

 private:
  Context& ctx_;
  std::string mailId_;
  std::string key_;
};

}  // namespace plexisync

#pragma once
// The receiving side: the Inbox scan that finds update mails, the reader
// that takes one update mail apart and applies its blocks to the local copy
// of the shared folder, and the sender of a mail as this user knows them.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/datetime.hpp"

namespace host {
class Folder;
class MailItem;
}  // namespace host

namespace plexisync {

class Context;
class ReceiveJournal;

// The temporary copy of an arrived attachment in the installation folder.
inline constexpr const char* kReceiveFile = "rec.pxs";
// An attachment larger than this is not read: it is logged and the mail
// stays in the Inbox.
inline constexpr std::size_t kMaxAttachmentBytes = 64u * 1024u * 1024u;
// The most entries a recipients block may have, and the most characters of
// one entry (its address and name together); a larger block is refused.
inline constexpr std::size_t kMaxRecipientEntries = 10000;
inline constexpr std::size_t kMaxRecipientEntryLength = 1000;

// One complete scan of the Inbox for update mails (class "IPM.Note",
// subject kUpdateMailSubject), repeated while a scan removed a mail. Logs
// under "Proceed_Inbox".
void Proceed_Inbox(Context& ctx);
// The scan at the start of a send/receive the person starts: it also takes
// the update mails left in the Inbox by a client that was killed before it
// handled them, and passes over those that stayed after an earlier scan.
void Proceed_Inbox_AtSyncStart(Context& ctx);

// Finishes the update mails whose apply an earlier run began and did not
// end (killed, or stopped by a failure such as a full disk), from the state
// kept in the key store. Run before each Inbox scan and at the start of the
// client's send/receive. Logs under "Finish_Receiving".
void Finish_Receiving(Context& ctx);

// Reads and applies one update mail with a fresh reader. Logs under
// "Receive_Updates".
void Receive_Updates(Context& ctx, const std::shared_ptr<host::MailItem>& mail);

// Who sent an update mail, as this user knows them.
class CSender {
 public:
  std::string Name;
  std::string Email;
  platform::DateTime LastUpdate;
  // The entry id of the contact that stands for the sender in the default
  // Contacts folder (added there when missing).
  std::string entryID;

  // A new, filled sender for the mail and the local folder. Logs under
  // "CSender_GetSender".
  static std::shared_ptr<CSender> GetSender(Context& ctx, const std::shared_ptr<host::MailItem>& Email,
                                            const std::string& folderID);
  // The sender's display name (control characters dropped) and address as
  // the mail gives them; nothing is looked up or added. Logs under
  // "CSender_GetSender".
  static void ReadNameAndEmail(Context& ctx, const std::shared_ptr<host::MailItem>& Email, std::string& name,
                               std::string& address);

 private:
  static std::string GetEmail(Context& ctx, const std::shared_ptr<host::MailItem>& mail);
  static std::string GetEntryID(Context& ctx, const std::string& folderId, const std::string& address,
                                const std::string& name);
  static platform::DateTime GetLastUpdate(Context& ctx, const std::string& folderId, const std::string& entryId,
                                          const std::string& address);
};

// The answers of the four-answer question (Klausimas).
enum KlausimasAnswer : int { kAnswerYes = 1, kAnswerYesToAll = 2, kAnswerNo = 3, kAnswerNoToAll = 4 };

// The reader of one update mail. Its answer memory (one value per question
// kind) lives as long as the reader: "Yes to All" and "No to All" hold for
// the rest of this mail only.
class CReceiveMail {
 public:
  explicit CReceiveMail(Context& ctx);
  ~CReceiveMail();
  CReceiveMail(const CReceiveMail&) = delete;
  CReceiveMail& operator=(const CReceiveMail&) = delete;

  // Reads the mail's "body.pxs", finds or creates the local folder, takes the
  // sender, deletes the mail for good and applies the blocks in order:
  // recipients, deleted contacts, the import marker, contact records; then
  // stamps the local folder's members. Logs under
  // "CReceiveMail_ProceedUpdates". True when the mail was removed (it was
  // handled); false when it stays in the Inbox.
  //
  // A mail for a folder that exists here, from a sender who is not one of
  // its enabled members, is applied only when the person says so: No
  // removes it (logged), no answer at all leaves it in the Inbox to be asked
  // about at the next send/receive (Context::MailsAwaitingConsent). A folder
  // that does not exist yet is made as the mail says and its sender becomes
  // a member.
  bool ProceedUpdates(const std::shared_ptr<host::MailItem>& Email);

  // Applies the blocks of an update mail whose apply is kept in `journal`
  // (loaded, or just made by ProceedUpdates), from where the journal says,
  // then stamps the members and removes the journal entry in one key-store
  // write. False when a failure stopped it: the entry stays for a later run.
  bool ApplyBlocks(ReceiveJournal& journal);

  // The blocks (receive/import_recipients.cpp, receive/import_contacts.cpp).
  void ImportRecipients();
  void ImportDeleted();
  void ImportImport();
  void ImportContacts();

  // What the reader works on; set by ProceedUpdates, or by tests directly.
  std::string Text;
  std::shared_ptr<host::Folder> LocalFolder;
  std::shared_ptr<CSender> Sender;
  // Answer memory: deletion, newer change, older change (0 = none yet).
  int DeleteAnswer = 0;
  int NewerAnswer = 0;
  int OlderAnswer = 0;

  // While a mail is applied through ApplyBlocks: its journal, where each
  // block reads where to start and records its progress; null otherwise.
  ReceiveJournal* Journal = nullptr;
  // Set by a block that failed in a way a later attempt may not repeat (a
  // store or key store refusing a write), with the line or record it was
  // at; a malformed block is logged and passed over as before.
  bool BlockFailed = false;
  int BlockPosition = 0;

 private:
  // The handler of a block: logs a failure under `errName` and notes
  // whether it may be tried again.
  void BlockFailure(const char* errName, const std::string& context);
  // Whether a mail for an existing folder may be applied: its sender is an
  // enabled member or the person (kMember), or the person let the sender in
  // (kLetIn), said No (kRefused: the mail is removed and the refusal
  // logged), or nobody answered (kDeferred: the mail stays in the Inbox).
  enum class Consent { kMember, kLetIn, kRefused, kDeferred };
  Consent ConsentOf(const std::shared_ptr<host::MailItem>& Email, const std::string& mailId,
                    const std::string& folderId);
  // Writes the answer memory and `values` into the journal, when there is one.
  void KeepAnswers(std::vector<std::pair<std::string, std::string>> values);

  Context& ctx_;
};

// Puts a question with the four buttons "Yes", "Yes to All", "No",
// "No to All" (the form Klausimas, loaded per question) and returns the
// answer; a form closed otherwise answers kAnswerNo.
int AskKlausimas(Context& ctx, const std::string& question);

}  // namespace plexisync

#pragma once
// The update mail: one shared folder carried from its owner to the folder's
// recipients, and CUpdateMail, which chooses the contacts, composes the mail
// and afterwards stamps the recipients.
//
// Both kinds of update mail have the subject kUpdateMailSubject, the
// recipients in the blind-copy field only and one attachment "body.pxs"
// (written to the installation folder just before it is attached and removed
// right after), whose text is, lines ended by CR LF:
//
//   <folder path>:EndOfPath:
//   :StartOfRecipients:
//   :StartOfRec:<address>:MidOfRec:<name>:EndOfRec:        one per recipient
//   :EndOfRecipients:
//   :StartOfDeleted:<CorrID>                                one per deleted contact
//   then either the contact records (the update mail proper) or
//   :IMPORTTOTHISFOLDER:  (the import mail, no line end after it)
//
// Recipients not updated since the reference date are "behind": they get
// the import mail and the folder as a personal-folders file (ExportToFile)
// instead of the records.
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/datetime.hpp"
#include "plexisync/send/corr_id_source.hpp"

namespace host {
class Folder;
class MailItem;
}  // namespace host

namespace plexisync {

class Context;

inline constexpr const char* kStartOfRecipients = ":StartOfRecipients:";
inline constexpr const char* kEndOfRecipients = ":EndOfRecipients:";
inline constexpr const char* kStartOfRec = ":StartOfRec:";
inline constexpr const char* kMidOfRec = ":MidOfRec:";
inline constexpr const char* kEndOfRec = ":EndOfRec:";
inline constexpr const char* kStartOfDeleted = ":StartOfDeleted:";
inline constexpr const char* kImportMarker = ":IMPORTTOTHISFOLDER:";
// The attachment's (and the body file's) name.
inline constexpr const char* kBodyFile = "body.pxs";
// Every CorrID that travels has exactly this many characters.
inline constexpr std::size_t kCorrIdLength = 48;

// One active recipient of a shared folder.
struct cEntry {
  std::string Name;
  std::string Email;
  // The entry id of the recipient's contact item, which names its key.
  std::string entryID;
  platform::DateTime LastUpdate;
};

class CUpdateMail {
 public:
  explicit CUpdateMail(Context& ctx);
  ~CUpdateMail();
  CUpdateMail(const CUpdateMail&) = delete;
  CUpdateMail& operator=(const CUpdateMail&) = delete;

  // Show progress on the Progress form; set before CreateUpdateMail.
  bool PB = false;

  // Prepares, composes and returns the update mail proper for the folder, or
  // null when there is none to send (no active recipient, nothing changed
  // or deleted, or nobody to get it). Also prepares the import mail when
  // some recipients are behind. Rewrites the folder's "List". Failures of
  // the composition itself reach the caller (Update_Folder logs them).
  std::shared_ptr<host::MailItem> CreateUpdateMail(const std::shared_ptr<host::Folder>& tF);

  // Writes the folder's contacts into a personal-folders file the person
  // chooses and sends the import mail; does nothing when no import mail was
  // prepared. StampAll stays set only when the import mail was handed over:
  // cancelling, a failure that ends the export and a failed send of the
  // import mail clear it (transfer/export_file.cpp).
  void ExportToFile();

  // Tells the object that the update mail proper it returned could not be
  // sent: its recipients are then not stamped, and the folder's "List" is
  // put back as it was before the composition, so that the next send
  // carries the same changes and deletions again.
  void MailNotSent();

  // Stamps the recipients with the present time plus 5 seconds: those that
  // were sent the update mail proper (unless MailNotSent was called), and
  // the ones behind when StampAll is set. Hides the Progress form when PB.
  // Logs under "SetLastUpdates".
  void SetLastUpdates();

  // What the composition decided (for the commands that report on it).
  const std::shared_ptr<host::Folder>& Folder() const { return tF_; }
  const std::vector<cEntry>& Clients() const { return clients_; }
  const std::vector<cEntry>& MailRecipients() const { return mailRecipients_; }
  // Addresses of the recipients that are behind, each followed by ";".
  const std::string& ImportToList() const { return importTo_; }
  const std::shared_ptr<host::MailItem>& ImportMail() const { return importMail_; }
  bool SentSomething() const { return sentSomething_; }
  bool StampAll() const { return stampAll_; }
  bool RefDateActive() const { return refDateActive_; }
  const platform::DateTime& ReferenceDate() const { return refDate_; }
  // Contacts left out because their CorrID could not be had (logged).
  std::size_t SkippedContacts() const { return skipped_; }

 private:
  friend struct UpdateMailAccess;  // tests reach the private steps through it

  bool Initialize_Update();
  void SortClients();
  std::string Collect_Deleted();
  std::string Collect_Contacts();
  platform::DateTime Get_rDate();
  static platform::DateTime MaxDate(const platform::DateTime& a, const platform::DateTime& b);
  // A mail with the update subject, the blind-copy recipients and the text
  // as its one attachment; null when the body file could not be written
  // (logged), in which case nothing was attached.
  std::shared_ptr<host::MailItem> ComposeMail(const std::string& bcc, const std::string& text);

  Context& ctx_;
  std::shared_ptr<host::Folder> tF_;
  std::string folderId_;
  std::vector<cEntry> clients_;
  std::vector<cEntry> mailRecipients_;
  std::string importTo_;
  std::string recipientsBlock_;
  std::vector<std::string> listNames_;
  std::vector<std::string> subkeys_;
  bool dontSendComments_ = false;
  bool sendUpdated_ = true;
  bool sentSomething_ = false;
  bool stampAll_ = false;
  bool mailNotSent_ = false;
  // An update mail was made for the recipients of mailRecipients_, and the
  // import mail telling those behind of the file was handed over: only
  // then did they get something (see "LastSent").
  bool mailComposed_ = false;
  bool importMailSent_ = false;
  bool refDateActive_ = false;
  platform::DateTime refDate_;
  std::size_t skipped_ = 0;
  std::shared_ptr<host::MailItem> importMail_;
  // The folder's "List" as read at preparation (names and texts, in order)
  // and whether the key was there, so that MailNotSent can put it back.
  std::vector<std::pair<std::string, std::string>> listSnapshot_;
  bool listExisted_ = false;
  bool listRewritten_ = false;
  // The entry ids of the clients that are behind (the import-to list).
  std::vector<std::string> behind_;
  // The contacts listed in "List" at preparation (its value reads as a true
  // flag), and the folder's contacts at the composition.
  RegNameSet listed_;
  RegNameSet current_;
};

}  // namespace plexisync

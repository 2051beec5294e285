#include "plexisync/send/update_mail.hpp"

#include <algorithm>
#include <utility>

#include "host/errors.hpp"
#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "platform/textfile.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/send/contact_record.hpp"
#include "plexisync/send/corr_id_source.hpp"
#include "plexisync/send/safe_send.hpp"
#include "plexisync/storage/paths.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "platform/memory.hpp"

namespace plexisync {

namespace {

const char* const kCrLf = "\r\n";

platform::DateTime NoReferenceDate() { return platform::DateTime::FromParts(1980, 1, 1); }

// The first `n` characters of a UTF-8 text (a sequence is never cut).
std::string FirstCharacters(const std::string& s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < s.size() && count < n; ++count) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return s.substr(0, i);
}

// The number of contacts from which on the folder goes out as a file, from
// the stored list position of the options window.
int ExportThreshold(const std::string& stored) {
  int position = -1;
  try {
    position = platform::ToInt32(stored);
  } catch (const platform::ConversionError&) {
  }
  switch (position) {
    case 0: return 200;
    case 2: return 1000;
    case 3: return 3000;
    case 4: return 5000;
    default: return 500;
  }
}

// The names of a "List" key whose text reads as a true flag: the contacts
// the folder held at its last send. A text that is no flag counts as not
// listed, so that contact goes out again rather than never.
RegNameSet ListedNames(const std::vector<std::pair<std::string, std::string>>& values) {
  RegNameSet listed;
  listed.reserve(values.size());
  for (const auto& [name, text] : values) {
    if (text == "1" || platform::TryToBoolean(text).value_or(false)) listed.insert(name);
  }
  return listed;
}

// Moves the bar on by one, as far as its maximum (a folder that grows
// while the client handles its messages must not stop the work).
void Advance(platform::ProgressBar& bar) {
  if (bar.Value() < bar.Max()) bar.SetValue(bar.Value() + 1);
}

}  // namespace

CUpdateMail::CUpdateMail(Context& ctx) : ctx_(ctx) {}

CUpdateMail::~CUpdateMail() = default;

platform::DateTime CUpdateMail::MaxDate(const platform::DateTime& a, const platform::DateTime& b) {
  return a > b ? a : b;
}

bool CUpdateMail::Initialize_Update() {
  bool pastFirstRecipient = false;
  try {
    CRegistry& reg = ctx_.reg();
    ProgressForm* progress = PB ? &ctx_.Progress() : nullptr;
    std::string caption;
    if (progress) {
      progress->TheBar().SetValue(0);
      const std::string name = tF_->Name();
      caption = platform::CharacterCount(name) < 18 ? "Updating folder '" + name + "'"
                                          : "Updating folder '" + FirstCharacters(name, 15) + "...'";
      progress->Show(false);
    }

    dontSendComments_ = platform::ToBoolean(reg.GetString(ctx_.RegKey, "Dont_Send_Comments", "False"));
    sendUpdated_ = platform::ToBoolean(reg.GetString(ctx_.RegKey, "Send_Updated", "True"));
    sentSomething_ = false;
    recipientsBlock_ = std::string(kStartOfRecipients) + kCrLf;
    stampAll_ = true;

    const std::string listKey = ListKeyPath(ctx_, folderId_);
    listNames_.clear();
    listSnapshot_.clear();
    listExisted_ = reg.KeyExists(listKey);
    if (listExisted_) {
      listSnapshot_ = reg.GetAllValueTexts(listKey);
      for (const auto& [name, text] : listSnapshot_) listNames_.push_back(name);
    }
    // Which contacts were sent before is decided by the list as read here,
    // once for the whole send (a contact that arrives meanwhile counts as
    // new and goes out again: sent twice, never missed).
    listed_ = ListedNames(listSnapshot_);

    Ensure_Key(ctx_, folderId_);
    reg.GetAllSubKeys(FolderKeyPath(ctx_, folderId_), subkeys_);
    if (subkeys_.empty()) {
      if (progress) progress->Hide();
      return false;
    }

    if (progress) {
      progress->Message().SetCaption(caption + " Gathering data...");
      progress->TheBar().SetMax(static_cast<int>(subkeys_.size()));
    }
    ctx_.DoEvents();
    const auto session = ctx_.app().Session();
    for (const auto& subkey : subkeys_) {
      const std::string key = RecipientKeyPath(ctx_, folderId_, subkey);
      auto active = [&] { return platform::TryToBoolean(reg.GetString(key, "Bool", "0")).value_or(false); };
      bool isActive = false;
      if (pastFirstRecipient) {
        PassOver([&] { isActive = active(); });
      } else {
        isActive = active();
      }
      if (isActive) {
        pastFirstRecipient = true;
        // A recipient that cannot be had is left out of both mails (and so
        // is never stamped); one that exists but cannot be reached is logged.
        try {
          session->GetItemFromID(subkey);
          const std::string email = reg.GetString(key, "eMail", "");
          if (!platform::Trim(email).empty()) {
            cEntry entry;
            entry.Name = reg.GetString(key, "Name", "no name");
            entry.Email = email;
            // A stored date that does not read back counts as the oldest
            // one: the recipient then gets everything rather than nothing.
            const std::string stored = reg.GetString(key, "LastUpdate", kNeverUpdated);
            if (const auto date = platform::DateTime::TryParse(stored)) {
              entry.LastUpdate = *date;
            } else {
              Append_error_record(ctx_, "The last update \"" + stored + "\" of recipient " + subkey + " is no date",
                                  "Initialize_Update", "");
            }
            entry.entryID = subkey;
            recipientsBlock_ += std::string(kStartOfRec) + entry.Email + kMidOfRec + entry.Name + kEndOfRec + kCrLf;
            clients_.push_back(std::move(entry));
          }
        } catch (const host::NotFoundError&) {
        } catch (...) {
          Append_error_record(ctx_, DescribeException(std::current_exception()) + " (recipient " + subkey + " left out)",
                              "Initialize_Update", "");
        }
      }
      if (progress) PassOver([&] { Advance(progress->TheBar()); });
      ctx_.DoEvents();
    }

    recipientsBlock_ += std::string(kEndOfRecipients) + kCrLf;
    if (clients_.empty()) {
      if (progress) PassOver([&] { progress->Hide(); });
      return false;
    }
    if (progress) PassOver([&] { progress->TheBar().SetValue(0); });
    PassOver([&] {
      if (platform::ToBoolean(reg.GetString(ctx_.RegKey, "Export", "True"))) {
        refDate_ = Get_rDate();
        refDateActive_ = refDate_ != NoReferenceDate();
      }
    });
    return true;
  } catch (...) {
    Error_logger(ctx_, DescribeException(std::current_exception()), "Initialize_Update", "");
    return false;
  }
}

void CUpdateMail::SortClients() {
  Protect(ctx_, "SortClients", [&] {
    importTo_.clear();
    mailRecipients_.clear();
    for (const auto& client : clients_) {
      if (client.LastUpdate >= refDate_) {
        mailRecipients_.push_back(client);
      } else {
        importTo_ += client.Email + ";";
        behind_.push_back(client.entryID);
      }
    }
  });
}

platform::DateTime CUpdateMail::Get_rDate() {
  return ProtectOr(ctx_, "Get_rDate", platform::DateTime(), [&] {
    auto items = ContactItems(tF_);
    items->Sort("[LastModificationTime]", true);
    const int n = ExportThreshold(ctx_.reg().GetString(ctx_.RegKey, "Kiek", "1"));
    const int count = items->Count();
    if (count < n) return NoReferenceDate();
    if (!sendUpdated_) return ctx_.Now();
    int k = n;
    for (int p = n; p <= count; ++p) {
      if (listed_.count(items->Item(p)->EntryID()) == 0) {
        if (--k == 0) return ctx_.Now();
      }
    }
    return items->Item(k)->LastModificationTime();
  });
}

std::string CUpdateMail::Collect_Contacts() {
  auto items = ContactItems(tF_);
  CRegistry& reg = ctx_.reg();
  const std::string listKey = ListKeyPath(ctx_, folderId_);
  ProgressForm* progress = PB ? &ctx_.Progress() : nullptr;
  const int count = items->Count();
  if (progress) {
    progress->TheBar().SetValue(0);
    progress->Message().SetCaption("Sending contacts and updating database...");
    if (count >= 1) progress->TheBar().SetMax(count);
  }
  ctx_.DoEvents();

  // The contacts are taken as they are now; the client's messages handled
  // meanwhile do not change which ones this send looks at.
  std::vector<std::shared_ptr<host::Item>> contacts;
  contacts.reserve(static_cast<std::size_t>(count));
  for (auto item = items->GetFirst(); item; item = items->GetNext()) contacts.push_back(std::move(item));

  CorrIdSource corrIds(ctx_, folderId_);
  std::string records;
  std::vector<std::string> ids;
  ids.reserve(contacts.size());
  for (const auto& item : contacts) {
    const std::string id = item->EntryID();
    ids.push_back(id);
    if (!mailRecipients_.empty()) {
      const platform::DateTime d = MaxDate(item->LastModificationTime(), item->CreationTime());
      bool include = !sendUpdated_ || listed_.count(id) == 0;
      for (std::size_t i = 0; !include && i < mailRecipients_.size(); ++i) {
        include = mailRecipients_[i].LastUpdate < d;
      }
      if (include) {
        const std::string corrId = corrIds.Get(id);
        if (corrId.size() != kCorrIdLength) {
          // Every receiver would take the wrong characters for its identity.
          ++skipped_;
          Append_error_record(ctx_, "The contact " + id + " was left out: its CorrID \"" + corrId + "\" is not " +
                                        std::to_string(kCorrIdLength) + " characters long",
                              "Collect_Contacts", "");
        } else {
          const std::string record =
              ContactToText(ctx_, std::dynamic_pointer_cast<host::ContactItem>(item), corrId, dontSendComments_);
          // Room for the head that goes in front of the records later, and
          // growth by doubling, so that the text is moved only a few times
          // as it grows. The room asked for follows the records actually
          // taken: one large record (a note of megabytes) among thousands
          // of small contacts must not be multiplied by the folder's size.
          const std::size_t needed = records.size() + record.size() + recipientsBlock_.size() + 4096;
          if (needed > records.capacity()) {
            platform::ReserveBytes(records, std::max(needed, records.capacity() * 2));
          }
          records += record;
          sentSomething_ = true;
        }
      }
    }
    if (progress) Advance(progress->TheBar());
    ctx_.DoEvents();
  }

  if (progress) {
    progress->Message().SetCaption("Writing database...");
    progress->TheBar().SetValue(0);
  }
  ctx_.DoEvents();

  std::vector<std::pair<std::string, std::string>> values;
  values.reserve(ids.size());
  for (const auto& id : ids) values.emplace_back(id, "1");
  // The identity entries and the new list are kept together or not at all.
  reg.Transact([&] {
    corrIds.Flush();
    if (!reg.ReplaceTextValues(listKey, values)) {
      throw AddinError(kErrComponentFailure, "The contact list of the folder could not be written");
    }
  });
  listRewritten_ = true;
  current_.clear();
  current_.reserve(ids.size());
  if (progress) {
    auto& bar = progress->TheBar();
    bar.SetValue(std::min(bar.Max(), std::max(bar.Min(), static_cast<int>(ids.size()))));
  }
  for (auto& id : ids) current_.insert(std::move(id));
  return records;
}

std::string CUpdateMail::Collect_Deleted() {
  if (listNames_.empty()) return {};
  CorrIdSource corrIds(ctx_, folderId_);
  std::string lines;
  for (const auto& name : listNames_) {
    // The list now holds exactly the folder's contacts, each with "1".
    if (current_.count(name) != 0) continue;
    const std::string corrId = corrIds.Get(name);
    if (corrId.size() != kCorrIdLength) {
      ++skipped_;
      Append_error_record(ctx_, "The deletion of " + name + " was left out: its CorrID \"" + corrId + "\" is not " +
                                    std::to_string(kCorrIdLength) + " characters long",
                          "Collect_Deleted", "");
      continue;
    }
    lines += std::string(kStartOfDeleted) + corrId + kCrLf;
  }
  corrIds.Flush();
  return lines;
}

std::shared_ptr<host::MailItem> CUpdateMail::ComposeMail(const std::string& bcc, const std::string& text) {
  auto mail = ctx_.app().CreateMailItem();
  mail->SetSubject(kUpdateMailSubject);
  mail->SetBCC(bcc);
  const std::string bodyFile = ctx_.InstallFile(kBodyFile);
  bool attached = false;
  try {
    attached = Attach_Body(ctx_, *mail, text);
  } catch (...) {
    PassOver([&] { platform::DeleteFile(bodyFile); });
    throw;
  }
  // The body file exists only between its writing and its attaching.
  PassOver([&] { platform::DeleteFile(bodyFile); });
  if (!attached) return nullptr;
  return mail;
}

std::shared_ptr<host::MailItem> CUpdateMail::CreateUpdateMail(const std::shared_ptr<host::Folder>& tF) {
  if (!tF) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
  tF_ = tF;
  folderId_ = tF->EntryID();
  clients_.clear();
  mailRecipients_.clear();
  behind_.clear();
  importTo_.clear();
  importMail_.reset();
  mailNotSent_ = false;
  mailComposed_ = false;
  importMailSent_ = false;
  listRewritten_ = false;
  listed_.clear();
  current_.clear();
  refDateActive_ = false;
  refDate_ = platform::DateTime();
  skipped_ = 0;
  if (!Initialize_Update()) return nullptr;

  if (refDateActive_) {
    if (PB) {
      ctx_.Progress().Message().SetCaption("Sorting lists...");
      ctx_.Progress().TheBar().SetValue(0);
    }
    SortClients();
  } else {
    mailRecipients_ = clients_;
  }

  std::shared_ptr<host::MailItem> mail;
  try {
    std::string contacts = Collect_Contacts();
    const std::string deleted = Collect_Deleted();
    const std::string path = Get_Path(ctx_, tF_);
    // Without its path a mail would land in the receivers' default folder.
    if (path.empty()) throw AddinError(kErrPathNotFound, "The path of the folder could not be had");
    const std::string head = path + kCrLf + recipientsBlock_ + deleted;

    if ((!deleted.empty() || !contacts.empty()) && !mailRecipients_.empty()) {
      std::string bcc;
      for (const auto& r : mailRecipients_) bcc += r.Email + ";";
      // The head goes in front of the records in the room kept for it.
      contacts.insert(0, head);
      mail = ComposeMail(bcc, contacts);
      // Without its body the mail is not made: the same changes go next time.
      if (!mail) MailNotSent();
      mailComposed_ = mail != nullptr;
    }

    if (!importTo_.empty()) {
      importMail_ = ComposeMail(importTo_, head + kImportMarker);
      // Without the import mail the recipients behind learn nothing.
      if (!importMail_) stampAll_ = false;
    }
  } catch (...) {
    // The list goes back as it was, so that nothing of this send is lost.
    MailNotSent();
    throw;
  }
  return mail;
}

void CUpdateMail::MailNotSent() {
  mailNotSent_ = true;
  if (!listRewritten_) return;
  Protect(ctx_, "MailNotSent", [&] {
    const std::string listKey = ListKeyPath(ctx_, folderId_);
    CRegistry& reg = ctx_.reg();
    if (listExisted_) {
      reg.ReplaceTextValues(listKey, listSnapshot_);
    } else {
      reg.Transact([&] {
        reg.ReplaceTextValues(listKey, {});
        reg.DeleteKey(listKey);
      });
    }
    listRewritten_ = false;
  });
}

void CUpdateMail::SetLastUpdates() {
  Protect(ctx_, "SetLastUpdates", [&] {
    const platform::DateTime now = ctx_.Now();
    const std::string stamp = now.AddSeconds(5).ToText();
    const std::string sentAt = now.ToText();
    // The recipients behind are stamped only once the import mail that
    // tells them of the file was handed over (or when none was needed).
    const bool fileSent = stampAll_ && !importMail_;
    CRegistry& reg = ctx_.reg();
    reg.Transact([&] {
      for (const auto& client : clients_) {
        const bool gotMail = std::any_of(mailRecipients_.begin(), mailRecipients_.end(),
                                         [&](const cEntry& r) { return r.entryID == client.entryID; });
        const bool isBehind = std::find(behind_.begin(), behind_.end(), client.entryID) != behind_.end();
        if ((gotMail && !mailNotSent_) || (isBehind && fileSent)) {
          const std::string key = RecipientKeyPath(ctx_, folderId_, client.entryID);
          reg.SetValue(key, "LastUpdate", stamp, 1);
          // "LastUpdate" moves on with every send, also one that had
          // nothing to send; "LastSent" only when a mail really went to
          // the recipient. A change that comes back is judged against it:
          // what they changed after it reached them is a newer change.
          if ((gotMail && !mailNotSent_ && mailComposed_) || (isBehind && importMailSent_)) {
            reg.SetValue(key, "LastSent", sentAt, 1);
          }
        }
      }
    });
  });
  if (PB) PassOver([&] { ctx_.Progress().Hide(); });
}

}  // namespace plexisync

#include "plexisync/receive/receive_mail.hpp"

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/errors.hpp"
#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "platform/textfile.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/dialogs/product.hpp"
#include "plexisync/receive/receive_journal.hpp"
#include "plexisync/receive/update_text.hpp"
#include "plexisync/send/contact_record.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/paths.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

constexpr const char* kUpdateMailClassFilter = "[MessageClass]=\"IPM.Note\"";
// The leading blank is part of the filter as it has always been written.
constexpr const char* kUpdateMailSubjectFilter = " [Subject] = \"3830308006600\"";
// The number the classic platform gave a malformed file.
constexpr std::int32_t kErrBadFileFormat = 321;

platform::DateTime NeverUpdated() { return platform::DateTime::Parse(kNeverUpdated); }

// True while the mail with this entry id is still in the Inbox.
bool StillInInbox(Context& ctx, const std::string& entryId, const std::string& inboxId) {
  bool there = false;
  PassOver([&] {
    auto item = ctx.app().Session()->GetItemFromID(entryId);
    there = item && item->Parent() && item->Parent()->EntryID() == inboxId;
  });
  return there;
}

// The end of the text's last record when only an import marker follows it.
bool ImportMarkerAfterRecords(std::string_view text, const UpdateTextParts& parts) {
  if (parts.records.empty() || !parts.truncated.empty()) return false;
  const std::string_view& last = parts.records.back();
  const std::size_t after = static_cast<std::size_t>(last.data() - text.data()) + last.size() + 2;
  return after <= text.size() && text.substr(after) == kImportMarker;
}

// The blocks an update mail's text holds. The recipients and deleted lines
// count only in the text before the first record; markers inside contact
// values are data.
struct Blocks {
  bool recipients = false;
  bool deleted = false;
  bool import = false;
  bool contacts = false;
};

Blocks BlocksOf(const std::string& text) {
  const UpdateTextParts parts = SplitUpdateText(text);
  Blocks b;
  b.import = parts.head.find(kImportMarker) != std::string_view::npos || ImportMarkerAfterRecords(text, parts);
  b.contacts = !parts.records.empty() || !parts.truncated.empty();
  b.recipients = parts.head.find(kStartOfRecipients) != std::string_view::npos;
  b.deleted = parts.head.find(kStartOfDeleted) != std::string_view::npos;
  return b;
}

// Contacts go only into a contacts folder: a path that ends at a mail folder
// (the Inbox, Sent Items), at a store's top folder or at any other kind of
// folder is refused, and the mail stays in the Inbox.
void RequireContactsFolder(host::Folder& folder) {
  if (folder.DefaultItemType() != host::kContactItem) {
    throw AddinError(kErrBadFileFormat, "The update mail's folder path names '" + folder.Name() +
                                            "', which is not a contacts folder; the mail stays in the Inbox");
  }
}

// True when `address` is an enabled member of the folder: a member key
// with that "eMail" (blanks around either side ignored) and "Bool" "1".
bool IsEnabledMember(Context& ctx, const std::string& folderId, const std::string& address) {
  const std::string wanted = platform::Trim(address);
  if (wanted.empty()) return false;
  CRegistry& reg = ctx.reg();
  const std::string folderKey = FolderKeyPath(ctx, folderId);
  if (!reg.KeyExists(folderKey)) return false;
  for (const std::string& subkey : reg.GetAllSubKeys(folderKey)) {
    if (IsFolderDataKey(subkey)) continue;
    const std::string key = RecipientKeyPath(ctx, folderId, subkey);
    if (platform::Trim(reg.GetString(key, "eMail", "")) == wanted && reg.GetString(key, "Bool", "0") == "1") {
      return true;
    }
  }
  return false;
}

}  // namespace

// Finishes one kept mail (see Finish_Receiving).
void FinishMail(Context& ctx, const std::string& mailId);

// ---- the Inbox scan ----

namespace {

// The update mails (by entry id) that stayed in the Inbox after a scan,
// kept as values of the receiving key: the scan at the start of a
// send/receive leaves them to the scans that new arrivals start, as the
// client always did, instead of logging the same failure at every
// send/receive.
std::string StayedKey() { return ReceiveJournal::ReceivingKeyPath(); }

void ProceedInbox(Context& ctx, bool atSyncStart) {
  Protect(ctx, "Proceed_Inbox", [&] {
    // Mails an earlier run began first: they arrived before anything new.
    Finish_Receiving(ctx);
    CRegistry& reg = ctx.reg();
    // A send/receive the person starts asks again about the mails whose
    // senders' question nobody answered; the scans in between leave them.
    if (atSyncStart) ctx.MailsAwaitingConsent.clear();
    std::set<std::string> stayedBefore;
    if (atSyncStart && reg.KeyExists(StayedKey())) {
      for (auto& name : reg.GetAllValueNames(StayedKey())) stayedBefore.insert(std::move(name));
    }
    // A mail that stays in the Inbox (its folder cannot be found, its
    // attachment cannot be read) is found by every scan: the scan is
    // repeated only while the one before removed a mail, so it ends.
    // Within one run a mail that stayed is not read again: it would only
    // stay again, and log the same failure twice.
    std::set<std::string> stayed;
    std::set<std::string> inInbox;
    bool removedOne = true;
    while (removedOne) {
      removedOne = false;
      auto inbox = ctx.app().Session()->GetDefaultFolder(host::kFolderInbox);
      const std::string inboxId = inbox->EntryID();
      auto found = inbox->Items()->Restrict(kUpdateMailClassFilter)->Restrict(kUpdateMailSubjectFilter);
      // The mails are taken first and handled after: deleting inside a walk
      // of the live collection would skip mails.
      std::vector<std::shared_ptr<host::MailItem>> mails;
      const int count = found->Count();
      for (int i = 1; i <= count; ++i) {
        if (auto mail = std::dynamic_pointer_cast<host::MailItem>(found->Item(i))) mails.push_back(std::move(mail));
      }
      for (const auto& mail : mails) {
        // A nested scan (run while a block yielded to the message loop) may
        // have taken it already.
        std::string entryId;
        if (!PassOver([&] { entryId = mail->EntryID(); })) continue;
        inInbox.insert(entryId);
        if (stayed.count(entryId) != 0 || stayedBefore.count(entryId) != 0) continue;
        if (ctx.MailsAwaitingConsent.count(entryId) != 0) continue;
        if (!StillInInbox(ctx, entryId, inboxId)) continue;
        if (Get_DontReceive(ctx)) {
          Purge_Item(ctx, mail);
        } else {
          Receive_Updates(ctx, mail);
        }
        if (StillInInbox(ctx, entryId, inboxId)) {
          stayed.insert(entryId);
        } else {
          removedOne = true;
        }
      }
    }
    // The list follows the Inbox: what stayed now is on it, what left the
    // Inbox is not.
    PassOver([&] {
      for (const auto& id : stayed) {
        // A mail waiting for the person's answer is asked about again at
        // the next send/receive: it is not left to new arrivals.
        if (ctx.MailsAwaitingConsent.count(id) != 0) {
          if (reg.KeyExists(StayedKey())) reg.DeleteValue(StayedKey(), id);
          continue;
        }
        reg.SetValue(StayedKey(), id, std::string("1"), 1);
      }
      for (const auto& id : stayedBefore) {
        if (inInbox.count(id) == 0) reg.DeleteValue(StayedKey(), id);
      }
      // An invitation noted for a mail that left the Inbox is done with.
      const std::string invitations = ReceiveJournal::InvitationsKeyPath();
      if (reg.KeyExists(invitations)) {
        for (const auto& id : reg.GetAllValueNames(invitations)) {
          if (inInbox.count(id) == 0) reg.DeleteValue(invitations, id);
        }
      }
      if (!atSyncStart && reg.KeyExists(StayedKey())) {
        for (const auto& id : reg.GetAllValueNames(StayedKey())) {
          if (inInbox.count(id) != 0 && stayed.count(id) == 0) reg.DeleteValue(StayedKey(), id);
        }
      }
    });
  });
}

}  // namespace

void Proceed_Inbox(Context& ctx) { ProceedInbox(ctx, false); }

void Proceed_Inbox_AtSyncStart(Context& ctx) { ProceedInbox(ctx, true); }

void Receive_Updates(Context& ctx, const std::shared_ptr<host::MailItem>& mail) {
  Protect(ctx, "Receive_Updates", [&] {
    CReceiveMail reader(ctx);
    reader.ProceedUpdates(mail);
  });
}

// ---- the reader of one update mail ----

CReceiveMail::CReceiveMail(Context& ctx) : ctx_(ctx) {}

CReceiveMail::~CReceiveMail() = default;

bool CReceiveMail::ProceedUpdates(const std::shared_ptr<host::MailItem>& Email) {
  return ProtectOr(
      ctx_, "CReceiveMail_ProceedUpdates", false,
      [&] {
        if (!Email) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");

        // A mail whose apply an earlier run began is finished from what
        // that run kept, never begun again.
        const std::string mailId = Email->EntryID();
        if (ReceiveJournal(ctx_, mailId).Exists()) {
          FinishMail(ctx_, mailId);
          return true;
        }

        // The attachment, through the receive file. Nothing is changed
        // before the whole text is in hand: a mail whose attachment is too
        // large or cannot be read stays in the Inbox as it was.
        auto attachment = Email->Attachments()->Item(std::string_view(kBodyFile));
        const std::size_t size = attachment->Size();
        if (size > kMaxAttachmentBytes) {
          throw AddinError(kErrBadFileFormat, "The update mail's attachment has " + std::to_string(size) +
                                                  " bytes, more than the " + std::to_string(kMaxAttachmentBytes) +
                                                  " read; the mail stays in the Inbox");
        }
        const std::string file = ctx_.InstallFile(kReceiveFile);
        std::string text;
        try {
          attachment->SaveAsFile(file);
          text = platform::ReadTextFile(file);
        } catch (...) {
          PassOver([&] { platform::DeleteFile(file); });
          throw;
        }
        platform::DeleteFile(file);
        if (text.size() != size) {
          throw AddinError(kErrBadFileFormat, "The update mail's attachment was read with " +
                                                  std::to_string(text.size()) + " of its " + std::to_string(size) +
                                                  " bytes; the mail stays in the Inbox");
        }
        if (text.find(kEndOfPath) == std::string::npos) {
          throw AddinError(kErrBadFileFormat, "The update mail's attachment names no folder (no \"" +
                                                  std::string(kEndOfPath) + "\"); the mail stays in the Inbox");
        }
        Text = std::move(text);

        // The local folder; missing levels are made only for a mail
        // that brings contacts or a file import. A folder that was there
        // before is only changed by its members, or with the person's yes.
        const std::string path = Extract_Path(ctx_, Text);
        const Blocks blocks = BlocksOf(Text);
        // A folder this mail's own earlier run made (it died before the
        // mail was kept) is still its invitation.
        CRegistry& reg = ctx_.reg();
        const std::string invitations = ReceiveJournal::InvitationsKeyPath();
        bool invitation = reg.KeyExists(invitations) && !reg.GetString(invitations, mailId, "").empty();
        bool found = true;
        LocalFolder = Set_Folder(ctx_, path, false, found);
        const bool existed = LocalFolder != nullptr && !invitation;
        if (!LocalFolder) {
          // A path that was refused (logged) leaves `found` as it was.
          if (found || !(blocks.import || blocks.contacts)) return false;
          // Noted before the folder is made, so that a run killed before
          // the mail is kept does not take the folder for the person's own.
          if (!reg.SetValue(invitations, mailId, path.empty() ? std::string(kPathSeparator) : path, 1)) {
            throw AddinError(kErrComponentFailure, "The invitation of update mail " + mailId + " was not noted");
          }
          invitation = true;
          LocalFolder = Set_Folder(ctx_, path, true, found);
        }
        if (!LocalFolder) return false;
        RequireContactsFolder(*LocalFolder);
        const std::string folderId = LocalFolder->EntryID();
        const Consent consent = existed ? ConsentOf(Email, mailId, folderId) : Consent::kMember;
        if (consent == Consent::kRefused) return true;
        if (consent == Consent::kDeferred) return false;

        // The sender; then the mail's text goes into the key store with the
        // sender and the progress to come, and only then does the mail go
        // for good, before any block runs, so that a nested scan never finds
        // it again. Should the text not be kept (a full disk), the mail stays.
        Sender = CSender::GetSender(ctx_, Email, folderId);
        // The person let the sender in: a member from now on, also when the
        // mail carries no recipients block to say so.
        if (consent == Consent::kLetIn && !Sender->entryID.empty() && !IsEnabledMember(ctx_, folderId, Sender->Email)) {
          Update_Entry(ctx_, folderId, Sender->entryID, platform::Trim(Sender->Name), true, Sender->Email);
        }
        ReceiveJournal journal(ctx_, mailId);
        journal.Create(Text, folderId, path, *Sender);
        if (invitation) PassOver([&] { reg.DeleteValue(invitations, mailId); });
        Purge_Item(ctx_, Email);
        ApplyBlocks(journal);
        return true;
      });
}

CReceiveMail::Consent CReceiveMail::ConsentOf(const std::shared_ptr<host::MailItem>& Email, const std::string& mailId,
                                              const std::string& folderId) {
  std::string name;
  std::string address;
  CSender::ReadNameAndEmail(ctx_, Email, name, address);
  if (IsEnabledMember(ctx_, folderId, address)) return Consent::kMember;
  // A mail from one of the person's own addresses (another of their
  // machines) is theirs.
  if (!address.empty() && Is_MyMail(ctx_, address)) return Consent::kMember;
  const std::string folderName = LocalFolder->Name();
  const std::string who = platform::Trim(name.empty() ? address : name);
  const platform::MsgBoxResult answer = ctx_.svc.user.MessageBox(
      name + " " + address + " sent changes for your folder '" + folderName +
          "' but is not one of its members. Do you want to accept them and add " + who + " as a member?",
      kProductTitle, platform::MsgBoxButtons::YesNo, platform::MsgBoxIcon::Question);
  if (!ctx_.svc.user.LastMessageAnswered()) {
    ctx_.MailsAwaitingConsent.insert(mailId);
    return Consent::kDeferred;
  }
  if (answer == platform::MsgBoxResult::Yes) return Consent::kLetIn;
  Purge_Item(ctx_, Email);
  Append_error_record(ctx_,
                      "The update mail from " + name + " <" + address + "> for the folder '" + folderName +
                          "' was refused and removed: the sender is not one of the folder's members",
                      "CReceiveMail_ProceedUpdates", "");
  return Consent::kRefused;
}

bool CReceiveMail::ApplyBlocks(ReceiveJournal& journal) {
  if (!LocalFolder || !Sender) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
  if (!ctx_.MailsBeingApplied.insert(journal.MailId()).second) return false;
  Journal = &journal;
  struct Leave {
    CReceiveMail& reader;
    ~Leave() {
      reader.ctx_.MailsBeingApplied.erase(reader.Journal->MailId());
      reader.Journal = nullptr;
    }
  } leave{*this};
  DeleteAnswer = journal.deleteAnswer;
  NewerAnswer = journal.newerAnswer;
  OlderAnswer = journal.olderAnswer;
  const std::string folderId = LocalFolder->EntryID();

  // The blocks, in order, each from where the journal says. A block that
  // failed in a way that may pass (a store refusing a write) stops the
  // mail: a later run tries the same place again, and after
  // kApplyAttempts failures there passes it over. A malformed block is
  // logged by itself and does not stop the next.
  const Blocks blocks = BlocksOf(Text);
  struct Step {
    int stage;
    bool present;
    void (CReceiveMail::*run)();
  };
  const Step steps[] = {
      {ReceiveJournal::kRecipientsDone, blocks.recipients, &CReceiveMail::ImportRecipients},
      {ReceiveJournal::kDeletedDone, blocks.deleted, &CReceiveMail::ImportDeleted},
      {ReceiveJournal::kImportDone, blocks.import, &CReceiveMail::ImportImport},
      {ReceiveJournal::kContactsDone, blocks.contacts, &CReceiveMail::ImportContacts},
  };
  for (const Step& step : steps) {
    if (journal.stage >= step.stage) continue;
    while (step.present) {
      BlockFailed = false;
      BlockPosition = 0;
      (this->*step.run)();
      if (!BlockFailed) break;
      if (journal.Failed(ReceiveJournal::Position(step.stage, BlockPosition))) return false;
      Append_error_record(ctx_,
                          "Passed over after " + std::to_string(kApplyAttempts) + " failed attempts: " +
                              (step.stage == ReceiveJournal::kDeletedDone    ? "deleted line " + std::to_string(BlockPosition + 1)
                               : step.stage == ReceiveJournal::kContactsDone ? "contact record " + std::to_string(BlockPosition + 1)
                                                                             : std::string("the block")),
                          "CReceiveMail_ProceedUpdates", "");
      if (step.stage == ReceiveJournal::kDeletedDone) {
        journal.deleteNext = BlockPosition + 1;
        journal.Put({{"DeleteNext", std::to_string(journal.deleteNext)}});
      } else if (step.stage == ReceiveJournal::kContactsDone) {
        journal.recordNext = BlockPosition + 1;
        journal.savedId.clear();
        journal.oldId.clear();
        journal.Put({{"RecordNext", std::to_string(journal.recordNext)}, {"SavedID", ""}, {"OldID", ""}});
      } else {
        break;
      }
    }
    journal.stage = step.stage;
    journal.Put({{"Stage", std::to_string(step.stage)}});
  }

  // What just arrived is not sent back as a change; the mail is done in the
  // same write.
  ctx_.reg().Transact([&] {
    Set_LastUpdates(ctx_, folderId);
    journal.Remove();
  });
  journal.RemoveTextFile();
  return true;
}

void CReceiveMail::BlockFailure(const char* errName, const std::string& context) {
  const std::exception_ptr failure = std::current_exception();
  Error_logger(ctx_, DescribeException(failure), errName, context);
  try {
    std::rethrow_exception(failure);
  } catch (const AddinError& e) {
    // A malformed block or record fails the same way every time.
    if (e.Number() == kErrBadFileFormat) return;
    BlockFailed = true;
  } catch (...) {
    BlockFailed = true;
  }
}

void CReceiveMail::KeepAnswers(std::vector<std::pair<std::string, std::string>> values) {
  if (!Journal) return;
  Journal->deleteAnswer = DeleteAnswer;
  Journal->newerAnswer = NewerAnswer;
  Journal->olderAnswer = OlderAnswer;
  Journal->PutAnswers(std::move(values));
}

// ---- mails an earlier run did not finish ----

void FinishMail(Context& ctx, const std::string& mailId) {
  if (ctx.MailsBeingApplied.count(mailId) != 0) return;
  ReceiveJournal journal(ctx, mailId);
  CReceiveMail reader(ctx);
  auto sender = std::make_shared<CSender>();
  std::string folderId;
  std::string path;
  if (!journal.Load(reader.Text, folderId, path, *sender)) {
    Append_error_record(ctx, "The kept copy of update mail " + mailId + " (" + journal.TextFile() +
                                 ") is missing or damaged; the mail was dropped",
                        "Finish_Receiving", "");
    journal.Remove();
    journal.RemoveTextFile();
    return;
  }
  // The mail itself, should the run that kept it have died before removing it.
  std::shared_ptr<host::Item> left;
  PassOver([&] { left = ctx.app().Session()->GetItemFromID(mailId); });
  if (left) Purge_Item(ctx, left);

  std::shared_ptr<host::Folder> folder;
  PassOver([&] {
    folder = ctx.app().Session()->GetFolderFromID(folderId);
    if (folder && folder->DefaultItemType() != host::kContactItem) folder.reset();
  });
  if (!folder) {
    // Gone meanwhile: found or made again by its path, as the mail would.
    const Blocks blocks = BlocksOf(reader.Text);
    bool found = false;
    folder = Set_Folder(ctx, path, blocks.import || blocks.contacts, found);
    if (folder && folder->DefaultItemType() != host::kContactItem) folder.reset();
    if (!folder) {
      Append_error_record(ctx, "The folder " + path + " of update mail " + mailId + " is gone; the mail was dropped",
                          "Finish_Receiving", "");
      journal.Remove();
      journal.RemoveTextFile();
      return;
    }
    journal.Put({{"Folder", folder->EntryID()}});
  }
  reader.LocalFolder = folder;
  reader.Sender = sender;
  reader.ApplyBlocks(journal);
}

void Finish_Receiving(Context& ctx) {
  Protect(ctx, "Finish_Receiving", [&] {
    for (const std::string& mailId : ReceiveJournal::Unfinished(ctx)) {
      Protect(ctx, "CReceiveMail_ProceedUpdates", [&] { FinishMail(ctx, mailId); });
    }
  });
}

// ---- the sender ----

std::shared_ptr<CSender> CSender::GetSender(Context& ctx, const std::shared_ptr<host::MailItem>& Email,
                                            const std::string& folderID) {
  auto sender = std::make_shared<CSender>();
  sender->LastUpdate = NeverUpdated();
  Protect(ctx, "CSender_GetSender", [&] {
    ReadNameAndEmail(ctx, Email, sender->Name, sender->Email);
    sender->entryID = GetEntryID(ctx, folderID, sender->Email, sender->Name);
    sender->LastUpdate = GetLastUpdate(ctx, folderID, sender->entryID, sender->Email);
  });
  return sender;
}

void CSender::ReadNameAndEmail(Context& ctx, const std::shared_ptr<host::MailItem>& Email, std::string& name,
                               std::string& address) {
  Protect(ctx, "CSender_GetSender", [&] {
    auto safe = ctx.app().CreateSafeMailItem();
    safe->SetItem(Email);
    name = platform::DropControlCharacters(safe->SenderName());
    address = GetEmail(ctx, Email);
  });
}

std::string CSender::GetEmail(Context& ctx, const std::shared_ptr<host::MailItem>& mail) {
  return ProtectOr(ctx, "CSender_GetEmail", std::string(), [&] {
    auto utils = ctx.app().CreateMapiUtils();
    return platform::Trim(
        platform::DropControlCharacters(utils->HrGetOneProp(mail->MAPIOBJECT(), host::kPrSenderEmailAddress)));
  });
}

std::string CSender::GetEntryID(Context& ctx, const std::string& folderId, const std::string& address,
                                const std::string& name) {
  return ProtectOr(ctx, "CSender_GetEntryID", std::string(), [&]() -> std::string {
    if (address.empty()) return {};
    const std::string wanted = platform::Trim(address);
    auto contacts = ctx.app().Session()->GetDefaultFolder(host::kFolderContacts);
    auto items = ContactItems(contacts);
    auto safe = ctx.app().CreateSafeContactItem();
    const int count = items->Count();
    for (int i = 1; i <= count; ++i) {
      auto contact = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
      if (!contact) continue;
      safe->SetItem(contact);
      if (platform::Trim(safe->Email1Address()) == wanted) return contact->EntryID();
    }
    // A sender not known yet is added, unread, and becomes a member.
    auto contact = std::dynamic_pointer_cast<host::ContactItem>(contacts->Items()->Add("IPM.Contact"));
    if (!contact) throw AddinError(kErrObjectNotSet, "The new contact is not a contact item");
    contact->SetFullName(platform::Trim(name));
    contact->SetEmail1Address(wanted);
    contact->Save();
    contact->SetUnRead(true);
    const std::string id = contact->EntryID();
    Update_Entry(ctx, folderId, id, contact->FullName(), true, address);
    return id;
  });
}

platform::DateTime CSender::GetLastUpdate(Context& ctx, const std::string& folderId, const std::string& entryId,
                                          const std::string& address) {
  return ProtectOr(ctx, "CSender_GetLastUpdate", NeverUpdated(), [&] {
    CRegistry& reg = ctx.reg();
    // The last time a mail really went to the sender ("LastSent"); a
    // member key from before it was kept has only "LastUpdate", which every
    // send moves on, also one that had nothing to send.
    auto lastSent = [&](const std::string& key) {
      const std::string sent = reg.GetString(key, "LastSent", "");
      return StoredLastUpdate(sent.empty() ? reg.GetString(key, "LastUpdate", kNeverUpdated) : sent);
    };
    if (!entryId.empty()) return lastSent(RecipientKeyPath(ctx, folderId, entryId));
    if (!address.empty()) {
      for (const std::string& subkey : reg.GetAllSubKeys(FolderKeyPath(ctx, folderId))) {
        const std::string key = RecipientKeyPath(ctx, folderId, subkey);
        if (reg.GetString(key, "eMail", "") == address) return lastSent(key);
      }
    }
    return NeverUpdated();
  });
}

}  // namespace plexisync

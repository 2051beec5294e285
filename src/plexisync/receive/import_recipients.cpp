// The recipients block and the deleted lines of an update mail.
#include <string>
#include <string_view>
#include <vector>

#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/receive/receive_journal.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/receive/update_text.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/paths.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

// The number the classic platform gave a malformed file.
constexpr std::int32_t kErrBadFileFormat = 321;

void Write(CRegistry& reg, const std::string& key, const char* name, const std::string& value) {
  if (!reg.SetValue(key, name, value, 1)) {
    throw AddinError(kErrComponentFailure, "The value \"" + std::string(name) + "\" of " + key + " was not written");
  }
}

// The name a block entry gives the address: the text between the first
// ":MidOfRec:" and the first ":EndOfRec:" after the address's first
// occurrence in the block; "" when the entry has none.
std::string NameInBlock(std::string_view block, const std::string& address) {
  const std::size_t at = block.find(address);
  if (at == std::string_view::npos) return {};
  const std::size_t mid = block.find(kMidOfRec, at);
  const std::size_t end = block.find(kEndOfRec, at);
  if (mid == std::string_view::npos || end == std::string_view::npos) return {};
  const std::size_t from = mid + std::string_view(kMidOfRec).size();
  if (end < from) return {};
  return std::string(block.substr(from, end - from));
}

}  // namespace

void CReceiveMail::ImportRecipients() {
  try {
    [&] {
    if (!LocalFolder || !Sender) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    const std::string folderId = LocalFolder->EntryID();

    // 1. The sender is a member unless the address is one of this user's.
    std::vector<std::string> pending;
    if (!Sender->Email.empty() && !Is_MyMail(ctx_, Sender->Email)) pending.push_back(Sender->Email);

    // 2. The block; only the text before the first record holds it. A block
    // without its end is refused before anything is written.
    const std::string_view head = SplitUpdateText(Text).head;
    const std::string_view start(kStartOfRecipients);
    const std::size_t blockStart = head.find(start);
    if (blockStart == std::string_view::npos) return;
    const std::size_t from = blockStart + start.size();
    const std::size_t blockEnd = head.find(kEndOfRecipients, from);
    if (blockEnd == std::string_view::npos) {
      throw AddinError(kErrBadFileFormat, "The recipients block has no \"" + std::string(kEndOfRecipients) +
                                              "\"; the members are left as they were");
    }
    const std::string_view block = head.substr(from, blockEnd - from);

    // 3. The addresses of the block's entries.
    const std::string_view rec(kStartOfRec);
    for (std::size_t at = block.find(rec); at != std::string_view::npos;) {
      const std::size_t addressStart = at + rec.size();
      const std::size_t mid = block.find(kMidOfRec, addressStart);
      const std::string address(mid == std::string_view::npos ? block.substr(addressStart)
                                                              : block.substr(addressStart, mid - addressStart));
      if (!platform::Trim(address).empty() && !Is_MyMail(ctx_, address)) pending.push_back(address);
      at = block.find(rec, addressStart);
    }

    // 4. Existing members: enabled when listed (or the sender), else disabled.
    CRegistry& reg = ctx_.reg();
    for (const std::string& subkey : reg.GetAllSubKeys(FolderKeyPath(ctx_, folderId))) {
      if (IsFolderDataKey(subkey)) continue;
      const std::string key = RecipientKeyPath(ctx_, folderId, subkey);
      Write(reg, key, "Bool", "0");
      const std::string email = reg.GetString(key, "eMail", "");
      for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (*it == email) {
          Write(reg, key, "Bool", "1");
          pending.erase(it);
          break;
        }
      }
    }

    // 5. New members: a contact of the default Contacts folder with that
    // address, or a new unread one.
    if (pending.empty()) return;
    auto contacts = ctx_.app().Session()->GetDefaultFolder(host::kFolderContacts);
    auto items = ContactItems(contacts);
    auto safe = ctx_.app().CreateSafeContactItem();
    for (const std::string& address : pending) {
      bool known = false;
      // The sender's contact is the one the sender was identified by (its
      // stored address may carry blanks that an exact comparison misses).
      if (address == Sender->Email && !Sender->entryID.empty()) {
        std::shared_ptr<host::ContactItem> contact;
        PassOver([&] {
          contact = std::dynamic_pointer_cast<host::ContactItem>(ctx_.app().Session()->GetItemFromID(Sender->entryID));
        });
        if (contact) {
          Update_Entry(ctx_, folderId, contact->EntryID(), contact->FullName(), true, address);
          continue;
        }
      }
      const int count = items->Count();
      for (int i = 1; i <= count && !known; ++i) {
        auto contact = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
        if (!contact) continue;
        safe->SetItem(contact);
        if (safe->Email1Address() == address) {
          Update_Entry(ctx_, folderId, contact->EntryID(), contact->FullName(), true, address);
          known = true;
        }
      }
      if (known) continue;
      auto contact = std::dynamic_pointer_cast<host::ContactItem>(contacts->Items()->Add("IPM.Contact"));
      if (!contact) throw AddinError(kErrObjectNotSet, "The new contact is not a contact item");
      contact->SetEmail1Address(address);
      contact->SetFullName(address == Sender->Email ? Sender->Name : NameInBlock(block, address));
      contact->Save();
      contact->SetUnRead(true);
      Update_Entry(ctx_, folderId, contact->EntryID(), contact->FullName(), true, address);
    }
    }();
  } catch (...) {
    BlockFailure("CReceiveMail_ImportRecipients", "");
  }
}

void CReceiveMail::ImportDeleted() {
  try {
    if (!LocalFolder || !Sender) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    if (DeleteAnswer == 0) DeleteAnswer = kAnswerYes;
    const std::string folderId = LocalFolder->EntryID();
    // Deleted lines count only before the first record: a look-alike inside
    // a contact's value deletes nothing.
    const std::vector<std::string> corrIds = DeletedCorrIds(SplitUpdateText(Text).head);
    // A mail finished by a later run starts at the line it was at; the
    // lines before it are done.
    const int first = Journal ? Journal->deleteNext : 0;
    for (int line = first; line < static_cast<int>(corrIds.size()); ++line) {
      BlockPosition = line;
      const std::string& corrId = corrIds[static_cast<std::size_t>(line)];
      const std::string localId = Get_LocalID(ctx_, folderId, corrId);
      if (localId.empty()) continue;
      std::shared_ptr<host::ContactItem> contact;
      PassOver([&] {
        contact = std::dynamic_pointer_cast<host::ContactItem>(ctx_.app().Session()->GetItemFromID(localId));
      });
      if (!contact) continue;
      const int position = ReceiveJournal::Position(ReceiveJournal::kDeletedDone, line);
      const bool answered = Journal && Journal->askedAt == position;
      if (!answered && (DeleteAnswer == kAnswerYes || DeleteAnswer == kAnswerNo)) {
        DeleteAnswer = AskKlausimas(ctx_, "Contact '" + contact->FullName() + "' was removed from shared '" +
                                              LocalFolder->Name() + "' folder. Do you want to delete this contact?");
        // The answer is kept before it is acted on: it is not asked again.
        if (Journal) Journal->askedAt = position;
        KeepAnswers({{"AskedAt", std::to_string(position)}, {"DeleteNext", std::to_string(line)}});
      }
      // Out of the list either way: a contact that is kept goes back to the
      // group as a new one with the next send of this copy.
      ctx_.reg().DeleteValue(ListKeyPath(ctx_, folderId), localId);
      if (DeleteAnswer == kAnswerYes || DeleteAnswer == kAnswerYesToAll) {
        Delete_Contact(ctx_, contact, Sender->LastUpdate);
      }
    }
  } catch (...) {
    BlockFailure("CReceiveMail_ImportDeleted", "");
  }
}

}  // namespace plexisync

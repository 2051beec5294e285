// The recipients block and the deleted lines of an update mail.
#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
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

// One entry of a recipients block: the address and the name it gives.
struct BlockEntry {
  std::string address;
  std::string name;
};

// The entries of a recipients block (the text between its markers), read
// in one pass. An entry's address runs from its ":StartOfRec:" to the next
// ":MidOfRec:" (the rest of the block when none follows); its name from
// there to the next ":EndOfRec:" ("" when none follows); the next entry is
// looked for from the start of this one's address. Control characters are
// dropped from both. A block of more than kMaxRecipientEntries entries, or
// an entry longer than kMaxRecipientEntryLength characters, is refused
// whole.
std::vector<BlockEntry> ReadRecipientsBlock(std::string_view block) {
  const std::string_view rec(kStartOfRec);
  const std::string_view mid(kMidOfRec);
  const std::string_view end(kEndOfRec);
  std::vector<BlockEntry> entries;
  // The next ":MidOfRec:" and ":EndOfRec:" are found once and looked for
  // again only when an entry starts past them: the reading stays linear.
  std::size_t nextMid = block.find(mid);
  std::size_t nextEnd = block.find(end);
  for (std::size_t at = block.find(rec); at != std::string_view::npos;) {
    if (entries.size() == kMaxRecipientEntries) {
      throw AddinError(kErrBadFileFormat, "The recipients block has more than " +
                                              std::to_string(kMaxRecipientEntries) +
                                              " entries; the members are left as they were");
    }
    const std::size_t addressStart = at + rec.size();
    if (nextMid != std::string_view::npos && nextMid < addressStart) nextMid = block.find(mid, addressStart);
    const std::string_view address = nextMid == std::string_view::npos
                                         ? block.substr(addressStart)
                                         : block.substr(addressStart, nextMid - addressStart);
    std::string_view name;
    if (nextMid != std::string_view::npos) {
      const std::size_t nameStart = nextMid + mid.size();
      if (nextEnd != std::string_view::npos && nextEnd < nameStart) nextEnd = block.find(end, nameStart);
      if (nextEnd != std::string_view::npos) name = block.substr(nameStart, nextEnd - nameStart);
    }
    if (platform::CharacterCount(address) + platform::CharacterCount(name) > kMaxRecipientEntryLength) {
      throw AddinError(kErrBadFileFormat, "Entry " + std::to_string(entries.size() + 1) +
                                              " of the recipients block is longer than " +
                                              std::to_string(kMaxRecipientEntryLength) +
                                              " characters; the members are left as they were");
    }
    entries.push_back({platform::DropControlCharacters(address), platform::DropControlCharacters(name)});
    at = block.find(rec, addressStart);
  }
  return entries;
}

}  // namespace

void CReceiveMail::ImportRecipients() {
  try {
    [&] {
    if (!LocalFolder || !Sender) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    const std::string folderId = LocalFolder->EntryID();

    // 1. The sender is a member unless the address is one of this user's.
    std::vector<BlockEntry> pending;
    if (!Sender->Email.empty() && !Is_MyMail(ctx_, Sender->Email)) pending.push_back({Sender->Email, Sender->Name});

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

    // 3. The addresses of the block's entries; the whole block is read
    // before anything is written.
    for (BlockEntry& entry : ReadRecipientsBlock(block)) {
      if (platform::Trim(entry.address).empty() || Is_MyMail(ctx_, entry.address)) continue;
      pending.push_back(std::move(entry));
    }
    // Where each address stands in the pending list, in list order; an
    // entry matched by an existing member is taken out.
    std::unordered_map<std::string_view, std::vector<std::size_t>> positions;
    for (std::size_t i = 0; i < pending.size(); ++i) positions[pending[i].address].push_back(i);
    std::vector<bool> taken(pending.size(), false);

    // 4. Existing members: enabled when listed (or the sender), else
    // disabled; all of them in one key-store write.
    CRegistry& reg = ctx_.reg();
    reg.Transact([&] {
      for (const std::string& subkey : reg.GetAllSubKeys(FolderKeyPath(ctx_, folderId))) {
        if (IsFolderDataKey(subkey)) continue;
        const std::string key = RecipientKeyPath(ctx_, folderId, subkey);
        Write(reg, key, "Bool", "0");
        const std::string email = reg.GetString(key, "eMail", "");
        auto found = positions.find(email);
        if (found == positions.end()) continue;
        for (const std::size_t i : found->second) {
          if (taken[i]) continue;
          Write(reg, key, "Bool", "1");
          taken[i] = true;
          break;
        }
      }
    });

    // 5. New members: a contact of the default Contacts folder with that
    // address, or a new unread one. The folder is walked once into an
    // index by address (the first contact with it, in folder order).
    if (std::find(taken.begin(), taken.end(), false) == taken.end()) return;
    auto contacts = ctx_.app().Session()->GetDefaultFolder(host::kFolderContacts);
    std::unordered_map<std::string, std::shared_ptr<host::ContactItem>> byAddress;
    {
      auto items = ContactItems(contacts);
      auto safe = ctx_.app().CreateSafeContactItem();
      const int count = items->Count();
      for (int i = 1; i <= count; ++i) {
        auto contact = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
        if (!contact) continue;
        safe->SetItem(contact);
        byAddress.emplace(safe->Email1Address(), contact);
      }
    }
    for (std::size_t i = 0; i < pending.size(); ++i) {
      if (taken[i]) continue;
      const std::string& address = pending[i].address;
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
      if (auto known = byAddress.find(address); known != byAddress.end()) {
        Update_Entry(ctx_, folderId, known->second->EntryID(), known->second->FullName(), true, address);
        continue;
      }
      auto contact = std::dynamic_pointer_cast<host::ContactItem>(contacts->Items()->Add("IPM.Contact"));
      if (!contact) throw AddinError(kErrObjectNotSet, "The new contact is not a contact item");
      contact->SetEmail1Address(address);
      // The sender's own name, or the one its entry in the block gives.
      contact->SetFullName(address == Sender->Email ? Sender->Name : pending[i].name);
      contact->Save();
      contact->SetUnRead(true);
      Update_Entry(ctx_, folderId, contact->EntryID(), contact->FullName(), true, address);
      byAddress.emplace(address, contact);
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

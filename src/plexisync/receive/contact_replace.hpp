#pragma once
// Putting an arrived contact in place of its local counterpart, shared by the
// update-mail import and the file import.
//
// The replacement is ordered so that a failure at any step leaves exactly one
// copy of the contact in the folder and its identity entry naming an item
// that exists: the new contact is saved and mapped first, and only then is
// the old one removed; when the old one cannot be removed, the new one is
// taken back.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/datetime.hpp"

namespace host {
class ContactItem;
class Folder;
}  // namespace host

namespace plexisync {

class Context;

// Raised when the identity of a replacement cannot be recorded or its old
// copy cannot be removed.
inline constexpr std::int32_t kErrReplaceFailed = 5;

// The contact of `folder` that the CorrID stands for there. Identity entries
// that name no item any more, or an item that has left the folder (moved
// elsewhere, deleted by the person), are removed on the way, so that each
// CorrID ends with at most one entry that the next arrival finds. A failure
// other than "no such item" reaches the caller.
struct LocalCounterpart {
  std::string localId;  // "" when the folder has none
  std::shared_ptr<host::ContactItem> item;
  // The entries removed on the way: their ids leave the folder's "List"
  // when the replacement is stored.
  std::vector<std::string> dropped;
};
LocalCounterpart FindLocalCounterpart(Context& ctx, const std::shared_ptr<host::Folder>& folder,
                                      const std::string& folderId, const std::string& corrId);

// Called inside the key-store writes of a replacement, so that a caller's
// own progress is recorded with them: once with the new entry id when its
// identity is recorded, and `finished` when nothing of the replacement is
// left to do (at once for a contact new to the folder; else after the old
// copy is gone).
using ReplacementRecord = std::function<void(const std::string& newId, bool finished)>;

// Saves `made` (a new contact of `folder`, already filled) as unread and
// maps it to the CorrID; then removes `old.item` (when there is one) with
// Delete_Contact against `reference`, and finally puts the new entry id in
// the folder's "List" in place of the old ids (for a contact new to the
// folder, in the same key-store write as its identity). Returns the new
// entry id.
// On a failure before the old copy is gone the new one is removed again and
// the failure reaches the caller.
std::string SaveReplacement(Context& ctx, const std::shared_ptr<host::Folder>& folder, const std::string& folderId,
                            const std::shared_ptr<host::ContactItem>& made, const std::string& corrId,
                            const LocalCounterpart& old, const platform::DateTime& reference,
                            const ReplacementRecord& record = {});

// The second half of SaveReplacement, for a `made` that is saved and
// recorded already: removes `old.item` (when there is one, and it is still in
// the folder) and puts the new id in the list. On a failure before the old
// copy is gone the new one is taken back and the failure reaches the caller.
void FinishReplacement(Context& ctx, const std::shared_ptr<host::Folder>& folder, const std::string& folderId,
                       const std::shared_ptr<host::ContactItem>& made, const std::string& corrId,
                       const LocalCounterpart& old, const platform::DateTime& reference,
                       const ReplacementRecord& record = {});

// The contact of `folder` with this entry id; null when there is none.
std::shared_ptr<host::ContactItem> ContactInFolder(Context& ctx, const std::shared_ptr<host::Folder>& folder,
                                                   const std::string& entryId);

}  // namespace plexisync

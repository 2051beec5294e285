#include "plexisync/receive/contact_replace.hpp"

#include "host/errors.hpp"
#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/storage/paths.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

// The item the entry id names; null when there is no such item. Any other
// failure (a store out of reach, a refused call) reaches the caller: it says
// nothing about whether the contact exists.
std::shared_ptr<host::Item> OpenItem(Context& ctx, const std::string& entryId) {
  try {
    return ctx.app().Session()->GetItemFromID(entryId);
  } catch (const host::NotFoundError&) {
    return nullptr;
  }
}

bool InFolder(const std::shared_ptr<host::Item>& item, const std::shared_ptr<host::Folder>& folder) {
  const auto parent = item->Parent();
  return parent && parent->IsSameAs(*folder);
}

std::string MappedCorrId(Context& ctx, const std::string& folderId, const std::string& localId) {
  return ctx.reg().GetString(MappingKeyPath(ctx, folderId), localId, "");
}

// Removes the identity entry and makes sure it is gone.
void DropMapping(Context& ctx, const std::string& folderId, const std::string& localId, const std::string& corrId) {
  Remove_CorrID(ctx, folderId, localId);
  if (MappedCorrId(ctx, folderId, localId) == corrId) {
    throw AddinError(kErrReplaceFailed, "The identity entry of " + localId + " could not be removed");
  }
}

}  // namespace

LocalCounterpart FindLocalCounterpart(Context& ctx, const std::shared_ptr<host::Folder>& folder,
                                      const std::string& folderId, const std::string& corrId) {
  LocalCounterpart found;
  while (true) {
    const std::string localId = Get_LocalID(ctx, folderId, corrId);
    if (localId.empty()) return found;
    const auto item = OpenItem(ctx, localId);
    if (item && InFolder(item, folder)) {
      found.localId = localId;
      found.item = std::dynamic_pointer_cast<host::ContactItem>(item);
      if (found.item) return found;
    }
    // Gone, moved out of the folder, or not a contact: the entry no longer
    // stands for a contact of this folder. Each round removes one entry,
    // so the walk ends.
    found.localId.clear();
    found.item.reset();
    DropMapping(ctx, folderId, localId, corrId);
    found.dropped.push_back(localId);
  }
}

std::string SaveReplacement(Context& ctx, const std::shared_ptr<host::Folder>& folder, const std::string& folderId,
                            const std::shared_ptr<host::ContactItem>& made, const std::string& corrId,
                            const LocalCounterpart& old, const platform::DateTime& reference) {
  // Until this save succeeds the old contact is untouched.
  made->Save();
  const std::string newId = made->EntryID();
  try {
    made->SetUnRead(true);
    Ensure_Key(ctx, folderId);
    Set_CorrID(ctx, folderId, newId, corrId);
    if (MappedCorrId(ctx, folderId, newId) != corrId) {
      throw AddinError(kErrReplaceFailed, "The identity of the contact " + newId + " could not be recorded");
    }
    if (old.item) {
      Delete_Contact(ctx, old.item, reference);
      const auto left = OpenItem(ctx, old.localId);
      if (left && InFolder(left, folder)) {
        throw AddinError(kErrReplaceFailed, "The contact " + old.localId + " could not be removed for its replacement");
      }
    }
  } catch (...) {
    // Take the new copy back, so that the old one stays the only one.
    // First delete: into Deleted Items; second: for good.
    const bool takenBack = PassOver([&] {
      made->Delete();
      made->Delete();
    });
    if (takenBack) {
      Remove_CorrID(ctx, folderId, newId);
    } else {
      Append_error_record(ctx, "The replacement " + newId + " of " + (old.localId.empty() ? corrId : old.localId) +
                                   " could not be taken back after a failure",
                          "SaveReplacement", "");
    }
    throw;
  }
  // The old copy has left the folder (or is kept in the safety folder): its
  // identity entry must not name it any more. Delete_Contact removes it;
  // should that have failed, the next look-up drops it as stale.
  if (old.item) PassOver([&] {
    if (MappedCorrId(ctx, folderId, old.localId) == corrId) Remove_CorrID(ctx, folderId, old.localId);
  });
  // The new id takes the old one's place in the list of the last send.
  Add_List_ID(ctx, newId, old.localId.empty() ? newId : old.localId, folderId);
  for (const auto& id : old.dropped) Add_List_ID(ctx, newId, id, folderId);
  return newId;
}

}  // namespace plexisync

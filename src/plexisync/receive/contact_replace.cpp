#include "plexisync/receive/contact_replace.hpp"

#include "host/errors.hpp"
#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/storage/paths.hpp"
#include "plexisync/storage/registry.hpp"
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

namespace {

// The new id takes the place of the old ones in the folder's list of the
// last send.
void PutInList(Context& ctx, const std::string& folderId, const std::string& newId, const LocalCounterpart& old) {
  CRegistry& reg = ctx.reg();
  const std::string listKey = ListKeyPath(ctx, folderId);
  auto replace = [&](const std::string& id) {
    if (reg.GetString(listKey, id, "0") == "1") reg.DeleteValue(listKey, id);
  };
  replace(old.localId.empty() ? newId : old.localId);
  for (const auto& id : old.dropped) replace(id);
  reg.SetValue(listKey, newId, std::string("1"), 1);
}

// Takes the new copy back after a failure, so that the old one stays the
// only one. First delete: into Deleted Items; second: for good.
void TakeBack(Context& ctx, const std::shared_ptr<host::Item>& made, const std::string& folderId,
              const std::string& newId, const std::string& corrId, const LocalCounterpart& old) {
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
}

}  // namespace

std::string SaveReplacement(Context& ctx, const std::shared_ptr<host::Folder>& folder, const std::string& folderId,
                            const std::shared_ptr<host::ContactItem>& made, const std::string& corrId,
                            const LocalCounterpart& old, const platform::DateTime& reference,
                            const ReplacementRecord& record) {
  // New and unread in one write. Until this save succeeds the old contact is
  // untouched.
  made->SetUnRead(true);
  made->Save();
  const std::string newId = made->EntryID();
  CRegistry& reg = ctx.reg();
  try {
    // The identity entry (and, for a contact new to the folder, its list
    // entry) in one write of the key store: all of it or nothing.
    reg.Transact([&] {
      Ensure_Key(ctx, folderId);
      reg.SetValue(MappingKeyPath(ctx, folderId), newId, corrId, 1);
      if (MappedCorrId(ctx, folderId, newId) != corrId) {
        throw AddinError(kErrReplaceFailed, "The identity of the contact " + newId + " could not be recorded");
      }
      if (!old.item) PutInList(ctx, folderId, newId, old);
      if (record) record(newId, !old.item);
    });
  } catch (...) {
    TakeBack(ctx, made, folderId, newId, corrId, old);
    throw;
  }
  if (old.item) FinishReplacement(ctx, folder, folderId, made, corrId, old, reference, record);
  return newId;
}

void FinishReplacement(Context& ctx, const std::shared_ptr<host::Folder>& folder, const std::string& folderId,
                       const std::shared_ptr<host::ContactItem>& made, const std::string& corrId,
                       const LocalCounterpart& old, const platform::DateTime& reference,
                       const ReplacementRecord& record) {
  const std::string newId = made->EntryID();
  CRegistry& reg = ctx.reg();
  // The old copy leaves the folder (or is kept in the safety folder) and its
  // identity entry goes; the new id takes its place in the list. The
  // key-store side of it is one write.
  bool oldGone = false;
  try {
    reg.Transact([&] {
      if (old.item) {
        Delete_Contact(ctx, old.item, reference);
        const auto left = OpenItem(ctx, old.localId);
        if (left && InFolder(left, folder)) {
          throw AddinError(kErrReplaceFailed,
                           "The contact " + old.localId + " could not be removed for its replacement");
        }
      }
      oldGone = true;
      // Should Delete_Contact have failed to drop the entry, the next
      // look-up drops it as stale.
      PassOver([&] {
        if (!old.localId.empty() && MappedCorrId(ctx, folderId, old.localId) == corrId) {
          reg.DeleteValue(MappingKeyPath(ctx, folderId), old.localId);
        }
      });
      Protect(ctx, "Add_List_ID", [&] { PutInList(ctx, folderId, newId, old); });
      if (record) record(newId, true);
    });
  } catch (...) {
    // Once the old contact is gone the new one is the only copy: a
    // key-store failure from here on must not take it back. A stale entry
    // left behind is dropped by the next look-up.
    if (!oldGone) {
      TakeBack(ctx, made, folderId, newId, corrId, old);
      throw;
    }
    Append_error_record(ctx, DescribeException(std::current_exception()), "SaveReplacement", "");
  }
}

std::shared_ptr<host::ContactItem> ContactInFolder(Context& ctx, const std::shared_ptr<host::Folder>& folder,
                                                   const std::string& entryId) {
  if (entryId.empty()) return nullptr;
  const auto item = OpenItem(ctx, entryId);
  if (!item || !InFolder(item, folder)) return nullptr;
  return std::dynamic_pointer_cast<host::ContactItem>(item);
}

}  // namespace plexisync

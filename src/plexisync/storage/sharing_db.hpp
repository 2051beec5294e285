#pragma once
// The sharing database: what the add-in knows about each shared or
// receiving contacts folder, kept under the profile key (ctx.RegKey):
//
//   Updateable\<folder id> = "1" | "2"      the folder can (1) / cannot (2) send
//   <folder id>\mapping\<local id> = CorrID the contact's identity in the group
//   <folder id>\List\<local id> = "1"       the contacts as of the last send
//   <folder id>\Import                      present while a file import is due
//   <folder id>\<recipient id>\Bool, Name, eMail, LastUpdate
//
// Every subkey of a folder key other than "mapping", "List" and "Import"
// (exact, case-sensitive) is a recipient.
#include <string>
#include <string_view>

#include "platform/datetime.hpp"

namespace plexisync {

class Context;

inline constexpr const char* kUpdateableKey = "Updateable";
inline constexpr const char* kMappingKey = "mapping";
inline constexpr const char* kListKey = "List";
inline constexpr const char* kImportKey = "Import";
// "LastUpdate" of a recipient that was never updated.
inline constexpr const char* kNeverUpdated = "1/1/1990";

// A stored "LastUpdate" (or "LastSent") as a date. A text that is no date
// reads as never updated (kNeverUpdated, the earliest date): nothing that
// arrives counts as older than it is, and one damaged value keeps no
// recipient out of the lists.
platform::DateTime StoredLastUpdate(const std::string& stored);

// True for the three subkey names of a folder key that are not recipients.
bool IsFolderDataKey(std::string_view subkey);

// Key paths below the profile key, each without a trailing separator.
std::string FolderKeyPath(const Context& ctx, const std::string& folderId);
std::string MappingKeyPath(const Context& ctx, const std::string& folderId);
std::string ListKeyPath(const Context& ctx, const std::string& folderId);
std::string RecipientKeyPath(const Context& ctx, const std::string& folderId, const std::string& recipientId);

// Maps the local contact to the CorrID. Every failure is ignored.
void Set_CorrID(Context& ctx, const std::string& folderId, const std::string& localId, const std::string& corrId);

// The contact's CorrID, blanks around it removed. A contact without a
// mapping was made here: its own entry id becomes its CorrID and the
// identity entry is written. Logs under "Get_CorrID" and returns "".
std::string Get_CorrID(Context& ctx, const std::string& folderId, const std::string& localId);

// The local id that the CorrID maps to in the folder: the first mapping
// entry, in the key's enumeration order, whose text equals the CorrID
// exactly; "" when none does. One indexed lookup in the key store, not a
// read per entry (see sharing_db.cpp). Failures reach the caller.
std::string Get_LocalID(Context& ctx, const std::string& folderId, const std::string& corrId);

// The plain linear search Get_LocalID stands for: every mapping entry read
// in order, the first whose text (default "") equals the CorrID. One
// registry read per entry; kept as the reference that tests and the
// benchmark compare Get_LocalID with. Failures reach the caller.
std::string Get_LocalID_Linear(Context& ctx, const std::string& folderId, const std::string& corrId);

// Removes the mapping entry of the local contact (one whose text is "0" is
// left alone). Logs under "Remove_CorrID".
void Remove_CorrID(Context& ctx, const std::string& folderId, const std::string& localId);

// Drops the old local id from the folder's "List" (when it is there with
// "1") and adds the new one. Logs under "Add_List_ID".
void Add_List_ID(Context& ctx, const std::string& newLocalId, const std::string& oldLocalId,
                 const std::string& folderId);

// Stamps every enabled recipient of the folder with the present time plus
// 5 seconds. Logs under "Set_LastUpdates".
void Set_LastUpdates(Context& ctx, const std::string& folderId);

// Records or updates a recipient of the folder; addresses of the user's own
// are never recorded. An existing recipient only gets its "Bool" changed; a
// new one is written only when enabled. Enabling marks the folder
// updateable. Logs under "Update_Entry".
void Update_Entry(Context& ctx, const std::string& folderId, const std::string& recipientId,
                  const std::string& name, bool enabled, const std::string& address);

}  // namespace plexisync

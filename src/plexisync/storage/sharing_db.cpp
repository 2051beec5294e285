#include "plexisync/storage/sharing_db.hpp"

#include <vector>

#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

platform::DateTime StoredLastUpdate(const std::string& stored) {
  if (auto when = platform::DateTime::TryParse(stored)) return *when;
  return platform::DateTime::Parse(kNeverUpdated);
}

bool IsFolderDataKey(std::string_view subkey) {
  return subkey == kMappingKey || subkey == kListKey || subkey == kImportKey;
}

std::string FolderKeyPath(const Context& ctx, const std::string& folderId) { return ctx.RegKey + folderId; }

std::string MappingKeyPath(const Context& ctx, const std::string& folderId) {
  return FolderKeyPath(ctx, folderId) + "\\" + kMappingKey;
}

std::string ListKeyPath(const Context& ctx, const std::string& folderId) {
  return FolderKeyPath(ctx, folderId) + "\\" + kListKey;
}

std::string RecipientKeyPath(const Context& ctx, const std::string& folderId, const std::string& recipientId) {
  return FolderKeyPath(ctx, folderId) + "\\" + recipientId;
}

void Set_CorrID(Context& ctx, const std::string& folderId, const std::string& localId, const std::string& corrId) {
  PassOver([&] { ctx.reg().SetValue(MappingKeyPath(ctx, folderId), localId, corrId, 1); });
}

std::string Get_CorrID(Context& ctx, const std::string& folderId, const std::string& localId) {
  return ProtectOr(ctx, "Get_CorrID", std::string(), [&] {
    const std::string stored = ctx.reg().GetString(MappingKeyPath(ctx, folderId), localId, "0");
    if (stored != "0") return platform::Trim(stored);
    // Made here: the contact's own entry id is its identity from now on.
    Set_CorrID(ctx, folderId, localId, localId);
    return platform::Trim(localId);
  });
}

// Why the indexed lookup gives exactly the linear search's answer:
//
// The linear search lists the mapping key's value names in enumeration
// order and returns the first whose value, read as text, equals the CorrID.
// The key store enumerates a key's values in the order they were created
// (rewriting a value keeps its place, removing and writing again puts it
// last) and keeps, in the very transaction that writes or deletes a value,
// an index of the values by (key, type, bytes) in that order. A plain text
// value reads as the CorrID exactly when its bytes are the CorrID followed
// by its NUL, or the CorrID alone when that does not end in a NUL; the
// index gives the first such value. Values of every other type (expandable
// strings, which the accessor writes for any text of the form "..%x%..",
// numbers, bytes) read differently from their bytes: the store hands those
// that come before the indexed match to the accessor, which converts each
// as a read does and compares it, in order. So the first match of either
// kind, in enumeration order, is the answer; and since the index is part of
// the store, no writer can leave it behind (Set_CorrID, Remove_CorrID, the
// repair, a reset of the profile key, another process on the same hive).
// The tests compare both searches over random mappings with duplicates,
// overwrites, removals and raw values of every kind.
std::string Get_LocalID(Context& ctx, const std::string& folderId, const std::string& corrId) {
  return ctx.reg().FindValueNameByText(MappingKeyPath(ctx, folderId), corrId);
}

std::string Get_LocalID_Linear(Context& ctx, const std::string& folderId, const std::string& corrId) {
  CRegistry& reg = ctx.reg();
  const std::string key = MappingKeyPath(ctx, folderId);
  std::vector<std::string> names;
  reg.GetAllValueNames(key, names);
  for (const auto& name : names) {
    if (reg.GetString(key, name, "") == corrId) return name;
  }
  return {};
}

void Remove_CorrID(Context& ctx, const std::string& folderId, const std::string& localId) {
  Protect(ctx, "Remove_CorrID", [&] {
    const std::string key = MappingKeyPath(ctx, folderId);
    if (ctx.reg().GetString(key, localId, "0") != "0") ctx.reg().DeleteValue(key, localId);
  });
}

void Add_List_ID(Context& ctx, const std::string& newLocalId, const std::string& oldLocalId,
                 const std::string& folderId) {
  Protect(ctx, "Add_List_ID", [&] {
    const std::string key = ListKeyPath(ctx, folderId);
    if (ctx.reg().GetString(key, oldLocalId, "0") == "1") ctx.reg().DeleteValue(key, oldLocalId);
    ctx.reg().SetValue(key, newLocalId, std::string("1"), 1);
  });
}

void Set_LastUpdates(Context& ctx, const std::string& folderId) {
  Protect(ctx, "Set_LastUpdates", [&] {
    CRegistry& reg = ctx.reg();
    std::vector<std::string> subkeys;
    reg.GetAllSubKeys(FolderKeyPath(ctx, folderId), subkeys);
    // "mapping", "List" and "Import" have no "Bool" and read as disabled.
    // A member whose "Bool" is no flag is left unstamped (and logged); the
    // members after it are stamped all the same.
    for (const auto& subkey : subkeys) {
      const std::string key = RecipientKeyPath(ctx, folderId, subkey);
      const std::string flag = reg.GetString(key, "Bool", "0");
      const auto enabled = platform::TryToBoolean(flag);
      if (!enabled) {
        Append_error_record(ctx, "The flag \"" + flag + "\" of recipient " + subkey + " is no flag; not stamped",
                            "Set_LastUpdates", "");
        continue;
      }
      if (*enabled) reg.SetValue(key, "LastUpdate", ctx.Now().AddSeconds(5).ToText(), 1);
    }
  });
}

void Update_Entry(Context& ctx, const std::string& folderId, const std::string& recipientId,
                  const std::string& name, bool enabled, const std::string& address) {
  Protect(ctx, "Update_Entry", [&] {
    if (Is_MyMail(ctx, address)) return;
    Ensure_Key(ctx, folderId);
    CRegistry& reg = ctx.reg();
    const std::string key = RecipientKeyPath(ctx, folderId, recipientId);
    if (reg.KeyExists(key)) {
      reg.SetValue(key, "Bool", std::string(enabled ? "1" : "0"), 1);
    } else if (enabled) {
      reg.CreateKey(key);
      reg.SetValue(key, "Bool", std::string("1"), 1);
      reg.SetValue(key, "Name", name, 1);
      reg.SetValue(key, "eMail", address, 1);
      reg.SetValue(key, "LastUpdate", std::string(kNeverUpdated), 1);
    }
    if (enabled) reg.SetValue(ctx.RegKey + kUpdateableKey, folderId, std::string("1"), 1);
  });
}

}  // namespace plexisync

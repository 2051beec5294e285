#include "plexisync/storage/sharing_db.hpp"

#include <vector>

#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

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
// (rewriting a value keeps its place) and keeps, inside the very
// transaction that writes or deletes a value, an index of every value by
// (key, type, bytes, creation order). FindValueNameByText asks that index
// for the first plain-text value whose bytes are the CorrID's stored form,
// which is the first plain-text match in enumeration order; values that read
// as text differently from their bytes (expandable strings, which this
// accessor writes for any text of the form "..%x%..", and values of other
// types) are compared by reading them, up to that position. Because the
// index is part of the key store itself, no write can leave it behind:
// Set_CorrID, Remove_CorrID, the repair, a reset of the profile key and
// another process sharing the hive all keep it current. The tests compare
// both searches over tables of orders, duplicates, overwrites and removals.
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
    for (const auto& subkey : subkeys) {
      const std::string key = RecipientKeyPath(ctx, folderId, subkey);
      if (platform::ToBoolean(reg.GetString(key, "Bool", "0"))) {
        reg.SetValue(key, "LastUpdate", ctx.Now().AddSeconds(5).ToText(), 1);
      }
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

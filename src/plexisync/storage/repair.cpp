#include "plexisync/storage/repair.hpp"

#include <cstdint>
#include <vector>

#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {
namespace {

// The options window, whose Repair button starts the repair, steps aside
// while it runs and comes back (modeless) when it ends, however it ends.
void HideOptions(Context& ctx) { ctx.Form<AdvSettings>().Hide(); }
void ShowOptions(Context& ctx) { ctx.Form<AdvSettings>().Show(false); }

// Lookups by entry id: one that fails finds nothing.
bool FolderExists(host::NameSpace& session, const std::string& entryId, std::int32_t* itemType = nullptr) {
  std::shared_ptr<host::Folder> folder;
  PassOver([&] { folder = session.GetFolderFromID(entryId); });
  if (folder && itemType) *itemType = folder->DefaultItemType();
  return folder != nullptr;
}

bool ItemExists(host::NameSpace& session, const std::string& entryId) {
  std::shared_ptr<host::Item> item;
  PassOver([&] { item = session.GetItemFromID(entryId); });
  return item != nullptr;
}

// One entry done: the bar moves on and the client handles its messages.
void Advance(Context& ctx, platform::ProgressBar& bar) {
  bar.SetValue(bar.Value() + 1);
  ctx.DoEvents();
}

}  // namespace

void Delete_SubKeys(Context& ctx, const std::string& keyPath) {
  CRegistry& reg = ctx.reg();
  std::vector<std::string> names;
  reg.GetAllSubKeys(keyPath, names);
  for (const auto& name : names) reg.DeleteKey(keyPath + name);
}

bool Repair_Database(Context& ctx) {
  std::int16_t step = 0;
  try {
    CRegistry& reg = ctx.reg();
    // Without the client nothing can be looked up: that fails the repair
    // rather than making every entry look vanished.
    const auto session = ctx.app().Session();
    HideOptions(ctx);

    // Folders that may send: each must still exist and hold contacts.
    const std::string updateable = ctx.RegKey + kUpdateableKey;
    std::vector<std::string> folderIds;
    reg.GetAllValueNames(updateable, folderIds);

    auto& progress = ctx.Progress();
    auto& bar = progress.TheBar();
    bar.SetValue(0);
    bar.SetMax(static_cast<int>(folderIds.size()));
    bar.SetVisible(true);
    progress.Message().SetCaption("Updating database...");
    progress.Show(false);

    for (const auto& folderId : folderIds) {
      std::int32_t itemType = host::kContactItem;
      if (!FolderExists(*session, folderId, &itemType) || itemType != host::kContactItem) {
        reg.DeleteValue(updateable, folderId);
      }
      Advance(ctx, bar);
    }

    // Folder keys: vanished folders go whole; of the others, recipients and
    // mapping entries whose items vanished go.
    std::vector<std::string> subkeys;
    reg.GetAllSubKeys(ctx.RegKey, subkeys);
    step = 8;
    bar.SetMax(static_cast<int>(subkeys.size()));
    bar.SetValue(0);
    step = 9;
    for (const auto& folderId : subkeys) {
      // A "mapping" key here belongs to an older layout.
      if (folderId != kMappingKey && folderId != kUpdateableKey) {
        step = 10;
        const std::string folderKey = ctx.RegKey + folderId;
        if (!FolderExists(*session, folderId)) {
          Delete_SubKeys(ctx, folderKey + "\\");
          step = 11;
          reg.DeleteKey(folderKey);
        } else {
          std::vector<std::string> recipients;
          reg.GetAllSubKeys(folderKey, recipients);
          for (const auto& recipientId : recipients) {
            if (!IsFolderDataKey(recipientId)) {
              step = 12;
              if (!ItemExists(*session, recipientId)) reg.DeleteKey(folderKey + "\\" + recipientId);
            }
            step = 13;
          }
          step = 14;
          const std::string mapping = folderKey + "\\" + kMappingKey;
          std::vector<std::string> localIds;
          reg.GetAllValueNames(mapping, localIds);
          for (const auto& localId : localIds) {
            if (!ItemExists(*session, localId)) reg.DeleteValue(mapping, localId);
            step = 15;
          }
          step = 16;
          step = 17;
        }
      }
      Advance(ctx, bar);
    }

    step = 18;
    progress.Hide();
    ShowOptions(ctx);
    return true;
  } catch (...) {
    const std::string description = DescribeException(std::current_exception());
    PassOver([&] { ctx.Progress().Hide(); });
    PassOver([&] { ShowOptions(ctx); });
    Error_logger(ctx, description, "AdvSet_RepairClick", "Step " + std::to_string(step));
    return false;
  }
}

}  // namespace plexisync

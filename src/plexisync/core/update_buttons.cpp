#include "plexisync/core/update_buttons.hpp"

#include <set>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/explorers.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

bool If_Folder_Disabled(Context& ctx, const std::string& EntryID) {
  return ProtectOr(ctx, "If_Folder_Disabled", true, [&] {
    bool disabled = true;
    auto contacts = ContactItems(ctx.app().Session()->GetDefaultFolder(host::kFolderContacts));
    CRegistry& reg = ctx.reg();
    const std::string folderKey = FolderKeyPath(ctx, EntryID);
    if (reg.KeyExists(folderKey)) {
      // The entry ids of the default contacts folder, read once.
      std::set<std::string> ids;
      const int count = contacts->Count();
      for (int i = 1; i <= count; ++i) ids.insert(contacts->Item(i)->EntryID());
      for (const auto& subkey : reg.GetAllSubKeys(folderKey)) {
        if (reg.GetString(RecipientKeyPath(ctx, EntryID, subkey), "Bool", "0") != "1") continue;
        if (ids.count(subkey) != 0) {
          disabled = false;
          break;
        }
      }
    }
    reg.SetValue(ctx.RegKey + kUpdateableKey, EntryID, std::string(disabled ? "2" : "1"), 1);
    return disabled;
  });
}

void Refresh_Update_Buttons(Context& ctx) {
  Protect(ctx, "Disable_Update_Button", [&] {
    if (!ctx.Exps || !ctx.Exps->RefreshUpdateButtons) return;
    auto refresh = ctx.Exps->RefreshUpdateButtons;  // the hook may be replaced while it runs
    refresh();
  });
}

}  // namespace plexisync

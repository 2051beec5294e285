#include "plexisync/send/send_commands.hpp"

#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/confirm_update.hpp"
#include "plexisync/dialogs/main_form.hpp"
#include "plexisync/dialogs/product.hpp"
#include "plexisync/send/safe_send.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

void RequireFolder(const std::shared_ptr<host::Folder>& folder) {
  if (!folder) throw host::HostError("Object variable not set: no folder");
}

// Asks before a send of every contact of the folder; true when the person
// answered "Yes" (their check box then decides this and later sends).
bool ConfirmFullSend(Context& ctx, const host::Folder& folder) {
  ConfirmUpdate question(ctx);
  question.Label2.SetCaption("You are about to send ALL your contacts in " + std::string("\"") + folder.Name() +
                             "\"" + " folder. To send only updated contact items, select the checkbox below.");
  question.Show(true);
  const int cancelled = question.Cancelled;
  question.Unload();
  return cancelled == 0;
}

}  // namespace

void Share_click(Context& ctx, const std::shared_ptr<host::Folder>& folder) {
  Protect(ctx, "Share_click", [&] {
    RequireFolder(folder);
    if (ContactItems(folder)->Count() < 1) {
      ctx.svc.user.MessageBox("No contact items in selected folder!", kProductTitle, platform::MsgBoxButtons::Ok,
                              platform::MsgBoxIcon::Information);
      return;
    }
    auto& wizard = ctx.Form<MainForm>();
    wizard.ShareFolder = folder;
    wizard.Paleisk();
  });
}

void Update_Click(Context& ctx, const std::shared_ptr<host::Folder>& folder) {
  Protect(ctx, "Update_Click", [&] {
    Update_Folder(ctx, folder, true);
    ctx.Progress().Hide();
  });
}

void Update_All_Click(Context& ctx, bool showProgress) {
  Protect(ctx, "Update_Click", [&] {
    CRegistry& reg = ctx.reg();
    const std::string updateable = ctx.RegKey + kUpdateableKey;
    const std::vector<std::string> folderIds = reg.GetAllValueNames(updateable);
    const int n = static_cast<int>(folderIds.size());
    auto& progress = ctx.Progress();
    auto& bar = progress.TheBar();
    if (showProgress && n >= 1) {
      bar.SetMax(n);
      bar.SetValue(0);
      progress.Message().SetCaption("Updating ALL folders. Please be patient...");
      progress.Show(false);
    }
    auto session = ctx.app().Session();
    for (const auto& folderId : folderIds) {
      // One folder's failure is logged and the others go on.
      Protect(ctx, "Update_Click", [&] {
        std::shared_ptr<host::Folder> folder;
        try {
          folder = session->GetFolderFromID(folderId);
        } catch (const host::NotFoundError&) {
          // The folder no longer exists: it has nothing more to send. A
          // folder that is only out of reach (its store is not open) fails
          // below instead and keeps its entry.
          reg.DeleteValue(updateable, folderId);
          return;
        }
        if (reg.GetString(updateable, folderId, "2") == "1") Update_Folder(ctx, folder, false);
      });
      if (showProgress && bar.Value() < bar.Max()) bar.SetValue(bar.Value() + 1);
    }
    if (showProgress) progress.Hide();
  });
}

void Update_Folder(Context& ctx, const std::shared_ptr<host::Folder>& folder, bool showProgress) {
  std::string step;
  Protect(
      ctx, "Update_Folder",
      [&] {
        RequireFolder(folder);
        auto& options = ctx.Form<AdvSettings>();
        if (!options.IsLoaded()) options.Load();
        if (!options.SendUpdated.Checked() && !ConfirmFullSend(ctx, *folder)) return;

        step = "Step 1 completed";
        CUpdateMail update(ctx);
        update.PB = showProgress;
        step = "Step 2 completed";
        auto mail = update.CreateUpdateMail(folder);
        step = "Step 3 completed";
        if (mail && !Safe_Send(ctx, mail)) update.MailNotSent();
        step = "Step 4 completed";
        update.ExportToFile();
        step = "Step 5 completed";
        update.SetLastUpdates();
        step = "Step 6 completed";
      },
      &step);
}

}  // namespace plexisync

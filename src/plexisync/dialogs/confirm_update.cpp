#include "plexisync/dialogs/confirm_update.hpp"

#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

ConfirmUpdate::ConfirmUpdate(Context& ctx)
    : Form("ConfirmUpdate", "Plexisync - Confirmation"),
      Label2(Add<platform::Label>("Label2")),
      Check(Add<platform::CheckBox>("Check", "Send only updated items")),
      Command1(Add<platform::Button>("Command1", "Yes")),
      Command2(Add<platform::Button>("Command2", "No")),
      ctx_(ctx) {
  Command1.SetDefault(true);
  // Closing the question any other way is the "No" that sends nothing.
  Command2.SetCancel(true);
  Command1.onClick = [this] { Command1_Click(); };
  Command2.onClick = [this] { Command2_Click(); };
  SetUser(&ctx_.svc.user);
}

void ConfirmUpdate::Command1_Click() {
  Cancelled = 0;
  // The answer belongs to the send that asked; a failure to keep the
  // check box is logged there, and the send still goes ahead.
  Protect(ctx_, "Update_Folder", [&] {
    auto& options = ctx_.Form<AdvSettings>();
    if (!options.IsLoaded()) options.Load();
    options.SendUpdated.SetValue(Check.Value());
    Obtain_Checkboxes(ctx_, options);
  });
  Hide();
}

void ConfirmUpdate::Command2_Click() {
  Cancelled = 1;
  Hide();
}

}  // namespace plexisync

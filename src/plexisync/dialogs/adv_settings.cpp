#include "plexisync/dialogs/adv_settings.hpp"

#include <string>

#include "host/object_model.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/dialogs/my_mails.hpp"
#include "plexisync/storage/repair.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

namespace {

// "-12:00" ... "-1:00", "0:00", "+1:00" ... "+12:00".
std::string GmtItem(int position) {
  const int hours = position - 12;
  if (hours == 0) return "0:00";
  return (hours < 0 ? "-" : "+") + std::to_string(hours < 0 ? -hours : hours) + ":00";
}

}  // namespace

std::string RepairKeptMessage(std::size_t kept) {
  const std::string count = kept == 1 ? "1 entry" : std::to_string(kept) + " entries";
  return "The database was updated, but " + count +
         " could not be checked, because the folder or contact could not be reached (for example, a "
         "personal folders file that is not open). " +
         (kept == 1 ? "It was kept" : "They were kept") +
         "; the error log names them. Open the folders and update the database again to check them.";
}

AdvSettings::AdvSettings(Context& ctx)
    : Form("AdvSettings", "Plexisync - Advanced Settings"),
      SendUpdated(Add<platform::CheckBox>("SendUpdated", "Send only updated items")),
      DontSendComments(Add<platform::CheckBox>("DontSendComments", "Do not send my comments")),
      DontReceive(Add<platform::CheckBox>("DontReceive", "Do not receive any updates from other members")),
      AutoUpdate(Add<platform::CheckBox>("AutoUpdate", "Send contacts updates on send/receive")),
      Export(Add<platform::CheckBox>("Export", "Export contacts to a file if there are more than")),
      Kiek(Add<platform::ComboBox>("Kiek")),
      Label1(Add<platform::Label>("Label1", "to be sent")),
      GMT(Add<platform::ComboBox>("GMT")),
      Label2(Add<platform::Label>("Label2", "GMT difference")),
      Frame1(Add<platform::Frame>("Frame1", "General Settings")),
      Frame2(Add<platform::Frame>("Frame2", "Import/Export Settings")),
      ManageMails(Add<platform::Button>("ManageMails", "Edit My E-mail Addresses")),
      Repair(Add<platform::Button>("Repair", "Update and repair database")),
      ManualImport(Add<platform::Button>("ManualImport", "Import...")),
      Accept(Add<platform::Button>("Accept", "OK")),
      Cancel(Add<platform::Button>("Cancel", "Cancel")),
      ctx_(ctx) {
  Export.SetToolTip("Unchecking may cause some outgoing Emails to be VERY large");
  Frame1.SetToolTip("Uncheck to send ALL contacts of the folder");
  Repair.SetToolTip("Removes obsolete entries from database");
  ManualImport.SetToolTip("Imports contacts from a .pst file to a chosen folder");

  for (const char* item : {"200", "500", "1000", "3000", "5000"}) Kiek.AddItem(item);
  for (int position = 0; position <= 24; ++position) GMT.AddItem(GmtItem(position));

  Frame1.AddChild("GMT");
  Frame1.AddChild("Label2");
  Frame2.AddChild("ManualImport");
  Frame2.AddChild("Label1");

  Accept.onClick = [this] { Accept_Click(); };
  Cancel.onClick = [this] { Cancel_Click(); };
  Export.onClick = [this] { Export_Click(); };
  ManageMails.onClick = [this] { ManageMails_Click(); };
  Repair.onClick = [this] { Repair_Click(); };
  ManualImport.onClick = [this] { ManualImport_Click(); };
}

void AdvSettings::OnLoad() { Load_Checkboxes(ctx_, *this); }

void AdvSettings::Accept_Click() {
  Protect(ctx_, "AdvSet_AcceptClick", [&] {
    Obtain_Checkboxes(ctx_, *this);
    Hide();
  });
}

void AdvSettings::Cancel_Click() {
  Protect(ctx_, "AdvSet_CancelClick", [&] {
    Load_Checkboxes(ctx_, *this);
    Hide();
  });
}

void AdvSettings::Export_Click() {
  Protect(ctx_, "AdvSet_ExportClick", [&] { Kiek.SetEnabled(Export.Checked()); });
}

void AdvSettings::ManageMails_Click() {
  PassOver([&] {
    Hide();
    ctx_.Form<frmMyMails>().Show(true);
  });
}

void AdvSettings::Repair_Click() {
  // The repair logs its own failures; no success message follows one.
  PassOver([&] {
    std::size_t kept = 0;
    if (!Repair_Database(ctx_, &kept)) return;
    if (kept == 0) {
      ctx_.svc.user.MessageBox("Update successful!", "Plexisync", platform::MsgBoxButtons::Ok,
                               platform::MsgBoxIcon::Information);
      return;
    }
    // Not a plain success: some entries could not be checked, and the
    // person is the one who can bring their folders back within reach.
    ctx_.svc.user.MessageBox(RepairKeptMessage(kept), "Plexisync", platform::MsgBoxButtons::Ok,
                             platform::MsgBoxIcon::Exclamation);
  });
}

void AdvSettings::ManualImport_Click() {
  PassOver([&] {
    auto folder = ctx_.app().Session()->PickFolder();
    if (!folder) return;
    if (folder->DefaultItemType() != host::kContactItem) {
      ctx_.svc.user.MessageBox("You must select contacts folder!", "Plexisync", platform::MsgBoxButtons::Ok);
      return;
    }
    if (ctx_.Import_file) {
      auto import = ctx_.Import_file;  // the hook may be replaced while it runs
      import(folder);
    }
  });
}

}  // namespace plexisync

#pragma once
// The commands that send a shared folder: Share (opens the share wizard),
// Update (one folder), Update All (every folder marked updateable), and the
// send of one folder with its confirmation.
#include <memory>

namespace host {
class Folder;
}

namespace plexisync {

class Context;

// Opens the share wizard on the folder; a folder without contact items gets
// "No contact items in selected folder!" and no wizard. Logs under
// "Share_click".
void Share_click(Context& ctx, const std::shared_ptr<host::Folder>& folder);

// Update_Folder(folder, true), then hides the Progress form. Logs under
// "Update_Click".
void Update_Click(Context& ctx, const std::shared_ptr<host::Folder>& folder);

// Sends every folder whose "Updateable" value is "1"; a folder that no
// longer exists is dropped from "Updateable", a failure in one folder does
// not stop the others. Logs under "Update_Click".
void Update_All_Click(Context& ctx, bool showProgress);

// The send of one folder: the confirmation (when the options send every
// contact), the composition, the send, the export for recipients behind,
// and the stamping. Logs under "Update_Folder" with the last step reached.
void Update_Folder(Context& ctx, const std::shared_ptr<host::Folder>& folder, bool showProgress);

}  // namespace plexisync

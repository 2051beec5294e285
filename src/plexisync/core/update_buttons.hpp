#pragma once
// Whether a shared folder can be updated, and the refresh of the windows'
// Update buttons after the share wizard has changed a folder's recipients.
#include <string>

namespace plexisync {

class Context;

// True when the folder cannot be updated: none of its selected recipients
// is still a contact of the default contacts folder. Stores the answer as
// the folder's "Updateable" value ("2" when true, "1" when false). Logs
// under "If_Folder_Disabled" and returns true.
bool If_Folder_Disabled(Context& ctx, const std::string& EntryID);

// Recomputes the Update button and menu item of every explorer window.
void Refresh_Update_Buttons(Context& ctx);

}  // namespace plexisync

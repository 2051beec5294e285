#pragma once
// The add-in's controls on an explorer window's command bars: the six
// buttons on the "Standard" toolbar, the popup menu "Plexisync" on the
// "Menu Bar", the faces of both (pasted from the clipboard with a
// transparency mask) and the enabled state of the Update commands.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/bitmap.hpp"

namespace host {
class CommandBar;
class CommandBarControl;
class Explorer;
class Folder;
}  // namespace host

namespace platform {
class Clipboard;
}

namespace plexisync {

class Context;

// The transparency colour of every face (&HFF00FF).
inline constexpr std::uint32_t kFaceMaskColor = 0xFF00FF;
// Error raised for a face that is missing or not a bitmap.
inline constexpr std::int32_t kErrInvalidPicture = 481;

// Tags of the toolbar buttons (shared by the buttons of every window).
inline constexpr const char* kTagShare = "Share...";
inline constexpr const char* kTagUpdate = "Update";
inline constexpr const char* kTagUpdateAll = "Update All";
inline constexpr const char* kTagImport = "Import...";
inline constexpr const char* kTagUnread = "Unread Only";
inline constexpr const char* kTagMarkAsRead = "MarkAsRead";
inline constexpr const char* kMenuCaption = "Plexisync";
inline constexpr const char* kStandardBar = "Standard";
inline constexpr const char* kMenuBar = "Menu Bar";
inline constexpr const char* kHelpFile = "Help.chm";

// The context's clipboard, or the system's when it has none.
platform::Clipboard& AddinClipboard(Context& ctx);

// The transparency mask of a face: a 1-bit picture of the same size in
// which pixels of `maskColor` are white; nullopt outside 1..30000 pixels a
// side (the face then has no transparency).
std::optional<platform::Bitmap> MakeMaskBitmap(const platform::Bitmap& picture, std::uint32_t maskColor);
// Stores the clipboard's device-independent bitmap again under "Toolbar
// Button Face" and the mask under "Toolbar Button Mask". Nothing is stored
// when the mask is not a 1-bit picture with pixels. False when the
// clipboard could not be opened or a block was refused.
bool PutFaceAndMask(platform::Clipboard& clipboard, const platform::Bitmap& mask);
// Puts the picture and its mask on the clipboard for a control's PasteFace.
// A missing or empty picture raises AddinError 481.
void SetButtonFace(platform::Clipboard& clipboard, const platform::Bitmap* picture,
                   std::uint32_t maskColor = kFaceMaskColor);

// The icon of that name held by the hidden form Pictures ("Share",
// "Update", "UpdateAll", "Import"); null when there is none.
const platform::Bitmap* IconPicture(Context& ctx, const std::string& name);

// Adds a temporary hidden button at the end of the bar (style 1 icon, 2
// caption, 3 both). Failures are passed over; null when the button could
// not be added.
host::CommandBarControl* Add_Button(Context& ctx, host::CommandBar& bar, const std::string& tag,
                                    const std::string& tooltipText, bool beginGroup, int style,
                                    const platform::Bitmap* picture, const std::string& caption);
// The six buttons on the window's "Standard" toolbar; returns the position
// of the first control tagged "Share..." ("Add_CommandBar"; 0 on failure).
int Add_CommandBar(Context& ctx, host::Explorer& explorer);
// Adds an item (icon and caption) to the popup; failures are passed over.
host::CommandBarControl* Add_MenuItem(Context& ctx, host::CommandBarControl& popup, const std::string& caption,
                                      bool enabled, bool beginGroup, const platform::Bitmap* picture);
// The popup "Plexisync" with its nine items, before the menu bar's last
// control ("Add_Menu").
void Add_Menu(Context& ctx, host::Explorer& explorer);

// Whether the folder has its "Import" subkey (a file import is due).
bool FolderImportDue(Context& ctx, const host::Folder& folder);

// Enables or disables the window's Update button and menu item from the
// current folder's "Updateable" value: "0" or absent asks
// If_Folder_Disabled, "2" disables, anything else enables. With `known`
// false the button is looked up by its tag ("Disable_Update_Button").
void Disable_Update_Button(Context& ctx, host::Explorer& explorer, bool known, host::CommandBarControl* button);

}  // namespace plexisync

#include "plexisync/core/command_bars.hpp"

#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/ui/commandbars.hpp"
#include "platform/clipboard.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/update_buttons.hpp"
#include "plexisync/dialogs/pictures.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

platform::Clipboard& AddinClipboard(Context& ctx) {
  return ctx.svc.clipboard ? *ctx.svc.clipboard : platform::SystemClipboard();
}

std::optional<platform::Bitmap> MakeMaskBitmap(const platform::Bitmap& picture, std::uint32_t maskColor) {
  return platform::MakeMaskBitmap(picture, platform::Rgb::FromColorRef(maskColor));
}

bool PutFaceAndMask(platform::Clipboard& clipboard, const platform::Bitmap& mask) {
  if (mask.BitsPerPixel() != 1 || mask.Empty()) return false;
  auto maskDib = platform::EncodeDib(mask);
  auto header = platform::ReadDibHeader(maskDib);
  if (!header || header->bitCount != 1 || header->sizeImage == 0) return false;
  if (!clipboard.Open()) return false;
  const std::uint32_t faceFormat = clipboard.RegisterFormat(host::kToolbarButtonFaceFormat);
  const std::uint32_t maskFormat = clipboard.RegisterFormat(host::kToolbarButtonMaskFormat);
  bool stored = false;
  if (auto face = clipboard.GetData(platform::kCfDib)) {
    stored = clipboard.SetData(faceFormat, std::move(*face));
    stored = clipboard.SetData(maskFormat, std::move(maskDib)) && stored;
  }
  clipboard.Close();
  return stored;
}

void SetButtonFace(platform::Clipboard& clipboard, const platform::Bitmap* picture, std::uint32_t maskColor) {
  if (!picture || picture->Empty()) throw AddinError(kErrInvalidPicture, "Invalid picture");
  auto mask = MakeMaskBitmap(*picture, maskColor);
  if (!platform::PutDibOnClipboard(clipboard, *picture)) {
    throw AddinError(kErrInvalidPicture, "The picture could not be put on the clipboard");
  }
  // Without a mask the plain picture stays on the clipboard: the face then
  // shows without transparency.
  if (mask) PutFaceAndMask(clipboard, *mask);
}

const platform::Bitmap* IconPicture(Context& ctx, const std::string& name) {
  auto* image = ctx.Form<Pictures>().Find<platform::Image>(name);
  return image ? image->Picture() : nullptr;
}

namespace {

void PasteFace(Context& ctx, host::CommandBarControl& control, const platform::Bitmap* picture) {
  auto& clipboard = AddinClipboard(ctx);
  SetButtonFace(clipboard, picture);
  control.PasteFace(clipboard);
}

}  // namespace

host::CommandBarControl* Add_Button(Context& ctx, host::CommandBar& bar, const std::string& tag,
                                    const std::string& tooltipText, bool beginGroup, int style,
                                    const platform::Bitmap* picture, const std::string& caption) {
  host::CommandBarControl* button = nullptr;
  PassOver([&] { button = &bar.Controls().Add(host::ControlType::Button, 0, true); });
  if (!button) return nullptr;
  // Each property is set on its own: one that fails leaves the others set.
  PassOver([&] { button->SetTag(tag); });
  if (style == 1) {
    PassOver([&] { button->SetStyle(host::ButtonStyle::Icon); });
    PassOver([&] { PasteFace(ctx, *button, picture); });
  } else if (style == 2) {
    PassOver([&] { button->SetStyle(host::ButtonStyle::Caption); });
    PassOver([&] { button->SetCaption(caption); });
  } else if (style == 3) {
    PassOver([&] { button->SetStyle(host::ButtonStyle::IconAndCaption); });
    PassOver([&] { button->SetCaption(caption); });
    PassOver([&] { PasteFace(ctx, *button, picture); });
  }
  PassOver([&] { button->SetBeginGroup(beginGroup); });
  PassOver([&] { button->SetTooltipText(tooltipText); });
  PassOver([&] { button->SetVisible(false); });
  return button;
}

int Add_CommandBar(Context& ctx, host::Explorer& explorer) {
  return ProtectOr(ctx, "Add_CommandBar", 0, [&] {
    auto& bar = explorer.CommandBars().Item(kStandardBar);
    Add_Button(ctx, bar, kTagShare, "Share current folder", true, 3, IconPicture(ctx, "Share"), "Share...");
    Add_Button(ctx, bar, kTagUpdate, "Update current folder", false, 1, IconPicture(ctx, "Update"), "");
    Add_Button(ctx, bar, kTagUpdateAll, "Update ALL folders", false, 1, IconPicture(ctx, "UpdateAll"), "");
    Add_Button(ctx, bar, kTagImport, "Import contacts from a file", false, 1, IconPicture(ctx, "Import"), "");
    Add_Button(ctx, bar, kTagUnread, "Toggles view between All and Unread only contacts in current folder", false,
               2, nullptr, "Unread Only");
    Add_Button(ctx, bar, kTagMarkAsRead, "Marks all Contacts as read", false, 2, nullptr, "Mark as Read");
    const auto controls = bar.Controls().All();
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (controls[i]->Tag() == kTagShare) return static_cast<int>(i) + 1;
    }
    return 0;
  });
}

host::CommandBarControl* Add_MenuItem(Context& ctx, host::CommandBarControl& popup, const std::string& caption,
                                      bool enabled, bool beginGroup, const platform::Bitmap* picture) {
  host::CommandBarControl* item = nullptr;
  PassOver([&] { item = &popup.Controls().Add(host::ControlType::Button, 0, true); });
  if (!item) return nullptr;
  PassOver([&] { item->SetStyle(host::ButtonStyle::IconAndCaption); });
  PassOver([&] { item->SetCaption(caption); });
  PassOver([&] { item->SetEnabled(enabled); });
  PassOver([&] { item->SetBeginGroup(beginGroup); });
  if (picture) PassOver([&] { PasteFace(ctx, *item, picture); });
  return item;
}

bool FolderImportDue(Context& ctx, const host::Folder& folder) {
  return ctx.reg().KeyExists(FolderKeyPath(ctx, folder.EntryID()) + "\\" + kImportKey);
}

void Add_Menu(Context& ctx, host::Explorer& explorer) {
  Protect(ctx, "Add_Menu", [&] {
    auto& bar = explorer.CommandBars().Item(kMenuBar);
    auto& popup = bar.Controls().Add(host::ControlType::Popup, bar.Controls().Count(), true);
    popup.SetCaption(kMenuCaption);
    auto folder = explorer.CurrentFolder();
    const bool contacts = folder && folder->DefaultItemType() == host::kContactItem;
    bool updateable = false;
    bool importDue = false;
    if (contacts) {
      updateable = ctx.reg().GetString(ctx.RegKey + kUpdateableKey, folder->EntryID(), "0") == "1";
      importDue = FolderImportDue(ctx, *folder);
    }
    Add_MenuItem(ctx, popup, "Share...", contacts, false, IconPicture(ctx, "Share"));
    Add_MenuItem(ctx, popup, "Update", updateable, false, IconPicture(ctx, "Update"));
    Add_MenuItem(ctx, popup, "Update All", true, false, IconPicture(ctx, "UpdateAll"));
    Add_MenuItem(ctx, popup, "Import...", importDue, false, IconPicture(ctx, "Import"));
    Add_MenuItem(ctx, popup, "Send and Receive All", true, true, nullptr);
    Add_MenuItem(ctx, popup, "Options...", true, false, nullptr);
    Add_MenuItem(ctx, popup, "Check for Update", true, false, nullptr);
    Add_MenuItem(ctx, popup, "Help", true, true, nullptr);
    Add_MenuItem(ctx, popup, "About Plexisync", true, false, nullptr);
  });
}

void Disable_Update_Button(Context& ctx, host::Explorer& explorer, bool known, host::CommandBarControl* button) {
  Protect(ctx, "Disable_Update_Button", [&] {
    std::shared_ptr<host::CommandBarControl> held;  // both stay alive while they are set
    std::shared_ptr<host::CommandBarControl> menuItem;
    PassOver([&] {
      if (!known) {
        button = explorer.CommandBars().Item(kStandardBar).FindControl(kTagUpdate);
      }
      if (button) held = button->Handle();
      auto* popup = explorer.CommandBars().Item(kMenuBar).Controls().Find(kMenuCaption);
      if (popup) menuItem = popup->Controls().Item(2).Handle();
    });
    if (!held) return;
    auto folder = explorer.CurrentFolder();
    if (!folder) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    if (folder->DefaultItemType() != host::kContactItem) {
      // Only contact folders are shared: a mail folder is never asked about,
      // so that browsing the client leaves no "Updateable" values behind
      // (every value there is a folder the update of all folders visits).
      held->SetEnabled(false);
      if (menuItem) menuItem->SetEnabled(false);
      return;
    }
    CRegistry& reg = ctx.reg();
    const std::string key = ctx.RegKey + kUpdateableKey;
    if (!reg.KeyExists(key)) reg.CreateKey(key);
    const std::string entryId = folder->EntryID();
    const std::string stored = reg.GetString(key, entryId, "0");
    if (stored == "0") {
      held->SetEnabled(!If_Folder_Disabled(ctx, entryId));
      if (menuItem) menuItem->SetEnabled(held->Enabled());
    } else {
      const bool enabled = stored != "2";
      held->SetEnabled(enabled);
      if (menuItem) menuItem->SetEnabled(enabled);
    }
  });
}

}  // namespace plexisync

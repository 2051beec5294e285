#pragma once
// The mail client's command bars: the toolbars and the menu bar of one
// explorer window, their controls (buttons and popup menus) and the click
// events of those controls.
//
// Ownership: a `CommandBars` owns its bars, a bar owns its controls, a popup
// owns its items. Controls are reference-counted, so a caller may keep a
// control alive with `Handle()`; a control removed from its bar (`Delete`,
// `RemoveTemporaryControls`, or its window's bars going away) is "deleted":
// it stays a valid object but belongs to no bar, has index 0, cannot be
// clicked, and its click handlers are dropped.
//
// Click fan-out: all explorer windows of one application share one
// `CommandBarsRegistry`. Clicking a control whose tag is not empty raises the
// click event to the handlers of every button in that registry carrying the
// same tag (the clicked control's handlers first, then the others in window,
// bar and position order); clicking an untagged control raises it to that
// control's own handlers only. Every handler receives the clicked control.
// Handlers may delete controls, drop handlers or close windows while a click
// runs; a handler dropped meanwhile is not called. An exception thrown by a
// handler ends the click and reaches the caller of Click/Execute.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/errors.hpp"
#include "host/subscription.hpp"

namespace platform {
class Clipboard;
}

namespace host {

enum class ControlType : int { Button = 1, Popup = 10 };

enum class ButtonStyle : int { Automatic = 0, Icon = 1, Caption = 2, IconAndCaption = 3 };

// The id of every control added by a program (built-in controls have their own).
inline constexpr int kCustomControlId = 1;

// Clipboard formats a toolbar face is pasted from.
inline constexpr std::string_view kToolbarButtonFaceFormat = "Toolbar Button Face";
inline constexpr std::string_view kToolbarButtonMaskFormat = "Toolbar Button Mask";

class CommandBar;
class CommandBarControl;
class CommandBars;
class CommandBarsRegistry;

// A click handler; setting `cancelDefault` stops the built-in action of the
// clicked control (handlers that run later see the flag as set).
using ClickHandler = std::function<void(CommandBarControl& clicked, bool& cancelDefault)>;

// The controls of a bar or of a popup, in display order.
class CommandBarControls {
 public:
  CommandBarControls(const CommandBarControls&) = delete;
  CommandBarControls& operator=(const CommandBarControls&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // The control at a 1-based position; HostError when out of range.
  CommandBarControl& Item(int index);
  // The first control with this caption (case and "&" accelerators ignored);
  // HostError when none.
  CommandBarControl& Item(std::string_view caption);
  // As Item(caption), nullptr when none.
  CommandBarControl* Find(std::string_view caption);

  // Adds a custom control: at the end when `before` is 0, otherwise at that
  // 1-based position (1..Count()+1), the controls from there on moving one
  // place down. A position out of range throws HostError. A temporary
  // control goes away with RemoveTemporaryControls. Added controls are
  // visible and enabled, with empty tag and caption and automatic style.
  CommandBarControl& Add(ControlType type = ControlType::Button, int before = 0, bool temporary = false);

  // The controls in order (for walking; the pointers stay valid while the
  // controls stay in the collection).
  std::vector<CommandBarControl*> All() const;

 private:
  friend class CommandBar;
  friend class CommandBarControl;
  friend class CommandBars;
  friend class CommandBarsRegistry;

  CommandBarControls(CommandBar* bar, CommandBarControl* owner) : bar_(bar), owner_(owner) {}

  CommandBarControl& Insert(std::shared_ptr<CommandBarControl> control, int before);
  void Remove(CommandBarControl& control);
  void RemoveTemporary();
  void DetachAll();

  CommandBar* bar_;            // set for a bar's own controls, null for a popup's items
  CommandBarControl* owner_;   // the popup holding these items, null for a bar's controls
  std::vector<std::shared_ptr<CommandBarControl>> items_;
};

class CommandBarControl : public std::enable_shared_from_this<CommandBarControl> {
  struct Key {};

 public:
  CommandBarControl(Key, ControlType type, int id, bool builtIn, bool temporary);
  ~CommandBarControl();
  CommandBarControl(const CommandBarControl&) = delete;
  CommandBarControl& operator=(const CommandBarControl&) = delete;

  ControlType Type() const { return type_; }
  // kCustomControlId for program-added controls, a fixed number for built-in ones.
  int Id() const { return id_; }
  bool BuiltIn() const { return builtIn_; }
  bool Temporary() const { return temporary_; }

  const std::string& Tag() const { return tag_; }
  void SetTag(std::string tag) { tag_ = std::move(tag); }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  ButtonStyle Style() const { return style_; }
  void SetStyle(ButtonStyle style) { style_ = style; }
  const std::string& TooltipText() const { return tooltip_; }
  void SetTooltipText(std::string text) { tooltip_ = std::move(text); }
  bool BeginGroup() const { return beginGroup_; }
  void SetBeginGroup(bool on) { beginGroup_ = on; }
  bool Visible() const { return visible_; }
  void SetVisible(bool on) { visible_ = on; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on) { enabled_ = on; }

  // Current 1-based position among its bar's (or popup's) controls; 0 once deleted.
  int Index() const;
  // True once the control (or a popup holding it) left its bar.
  bool IsDeleted() const { return Bar() == nullptr; }
  // The bar the control is on (through its popups); nullptr once deleted.
  CommandBar* Bar() const;
  // The popup holding this item; nullptr for a control placed on a bar.
  CommandBarControl* ParentPopup() const;
  // A shared handle that keeps the control object alive.
  std::shared_ptr<CommandBarControl> Handle() { return shared_from_this(); }

  // A popup's items; HostError on a button.
  CommandBarControls& Controls();

  // Takes the face from the clipboard: the "Toolbar Button Face" block with
  // the "Toolbar Button Mask" block as its transparency mask, or, when there
  // is no face block, the plain device-independent bitmap (CF_DIB) without
  // mask. Throws HostError when the clipboard holds no picture (the
  // face then stays as it was). The first form reads the system clipboard.
  void PasteFace();
  void PasteFace(platform::Clipboard& clipboard);
  // The face as a device-independent bitmap; empty when none was pasted.
  const std::vector<std::uint8_t>& Face() const { return face_; }
  // The face's 1-bit mask as a device-independent bitmap; empty when none.
  const std::vector<std::uint8_t>& Mask() const { return mask_; }

  // Removes the control (with its items, for a popup) from its bar. A
  // deleted control stays deleted; deleting it again does nothing.
  void Delete();

  // Registers a click handler, kept while the returned handle lives.
  Subscription OnClick(ClickHandler handler);
  // The built-in action run after the handlers unless one cancels it.
  void SetDefaultAction(std::function<void(CommandBarControl&)> action) { defaultAction_ = std::move(action); }

  // A click by the person: false (and nothing happens) when the control or a
  // popup above it is hidden or disabled, when it is deleted, or when it is a
  // popup (opening a menu raises no click); otherwise raises the click as
  // described at the top of this file and returns true.
  bool Click();
  // A click by a program: raises the click whatever the control's state.
  // HostError on a deleted control; nothing happens for a popup.
  void Execute();

 private:
  friend class CommandBarControls;
  friend class CommandBars;

  struct Slot {
    ClickHandler handler;
    bool connected = true;
  };

  void Detach();
  void DisconnectAll();
  bool Reachable() const;
  void RaiseClick();
  CommandBarsRegistry* Registry() const;
  void CollectTagged(const std::string& tag, std::vector<std::shared_ptr<CommandBarControl>>& out);

  ControlType type_;
  int id_;
  bool builtIn_;
  bool temporary_;
  std::string tag_;
  std::string caption_;
  ButtonStyle style_ = ButtonStyle::Automatic;
  std::string tooltip_;
  bool beginGroup_ = false;
  bool visible_ = true;
  bool enabled_ = true;
  std::vector<std::uint8_t> face_;
  std::vector<std::uint8_t> mask_;
  std::function<void(CommandBarControl&)> defaultAction_;
  std::vector<std::shared_ptr<Slot>> slots_;
  CommandBarControls* parent_ = nullptr;    // the collection holding the control
  std::unique_ptr<CommandBarControls> items_;  // popups only
};

// One toolbar or the menu bar.
class CommandBar {
 public:
  CommandBar(CommandBars* owner, std::string name, bool builtIn);
  ~CommandBar();
  CommandBar(const CommandBar&) = delete;
  CommandBar& operator=(const CommandBar&) = delete;

  const std::string& Name() const { return name_; }
  bool BuiltIn() const { return builtIn_; }
  CommandBars& Parent() const { return *owner_; }
  CommandBarControls& Controls() { return controls_; }

  // The first control with this tag, searching popups too (depth first, in
  // order); nullptr when none. An empty tag finds nothing.
  CommandBarControl* FindControl(std::string_view tag);
  // The first control matching every given criterion: the type when given,
  // the id when not 0, the tag when not empty. nullptr when none.
  CommandBarControl* FindControl(std::optional<ControlType> type, int id, std::string_view tag);

 private:
  CommandBars* owner_;
  std::string name_;
  bool builtIn_;
  CommandBarControls controls_;
};

// The command bars of one explorer window. Made with the built-in bars
// "Standard" (buttons "New", "Print", "Move to Folder", "Delete", "Find",
// "Address Book") and "Menu Bar" (popups "File", "Edit", "View", "Go",
// "Tools", "Actions", "Help", each with a few built-in items).
class CommandBars {
 public:
  // Joins `registry` (the application's family of windows); a new registry
  // of its own when none is given.
  explicit CommandBars(std::shared_ptr<CommandBarsRegistry> registry = nullptr);
  ~CommandBars();
  CommandBars(const CommandBars&) = delete;
  CommandBars& operator=(const CommandBars&) = delete;

  int Count() const { return static_cast<int>(bars_.size()); }
  // The bar with this name (case-insensitive); HostError when none.
  CommandBar& Item(std::string_view name);
  // The bar at a 1-based position; HostError when out of range.
  CommandBar& Item(int index);
  // As Item(name), nullptr when none.
  CommandBar* Find(std::string_view name);
  // Adds a custom toolbar; HostError when the name is empty or taken.
  CommandBar& Add(std::string name);

  // The first control on any bar (popups searched too) matching every given
  // criterion: the type when given, the id when not 0, the tag when not
  // empty. nullptr when none.
  CommandBarControl* FindControl(std::optional<ControlType> type = std::nullopt, int id = 0,
                                 std::string_view tag = {});

  // Deletes every temporary control of these bars, popup items included.
  void RemoveTemporaryControls();

  const std::shared_ptr<CommandBarsRegistry>& Registry() const { return registry_; }

 private:
  friend class CommandBarsRegistry;
  friend class CommandBarControl;
  std::shared_ptr<CommandBarsRegistry> registry_;
  std::vector<std::unique_ptr<CommandBar>> bars_;
};

// The family of command bars of one application (one per explorer window):
// clicks on tagged controls reach every member.
class CommandBarsRegistry {
 public:
  CommandBarsRegistry() = default;
  CommandBarsRegistry(const CommandBarsRegistry&) = delete;
  CommandBarsRegistry& operator=(const CommandBarsRegistry&) = delete;

  // Number of live member CommandBars.
  int Count() const { return static_cast<int>(members_.size()); }
  // RemoveTemporaryControls on every member (the client does this at exit).
  void RemoveTemporaryControls();

 private:
  friend class CommandBars;
  friend class CommandBarControl;
  std::vector<CommandBars*> members_;
};

}  // namespace host

#pragma once
// A form (window) as a model: a name, a caption and its controls in the
// order they were added, with the classic life cycle:
//
// - Load() loads the form once, running OnLoad(); showing a form loads it.
// - Show(false) makes it visible and tells its user interface (modeless).
// - Show(true) hands it to the person at the screen (UserInterface::RunModal)
//   and returns once the form is hidden or unloaded.
// - Hide() makes it invisible; it stays loaded and keeps its controls' values.
// - Unload() hides it, marks it not loaded and runs OnTerminate(); a later
//   Load() or Show() loads it again (OnLoad runs again).
//
// Forms of the add-in derive from Form, add their controls in their
// constructor and wire the controls' events to their own members.
#include <memory>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/controls.hpp"

namespace platform {

class UserInterface;

class Form {
 public:
  Form(std::string name, std::string caption);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& Name() const { return name_; }

  // A form that shows the progress of long work names its text and its bar;
  // the person then sees the text and the bar's percentage as they change
  // rather than the whole form.
  struct ProgressView {
    const Label* message = nullptr;
    const ProgressBar* bar = nullptr;
  };
  virtual std::optional<ProgressView> AsProgressView() const { return std::nullopt; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);

  // Adds a control of type T constructed from (name, args...). A name that
  // the form already has (compared case-insensitively) throws
  // std::invalid_argument.
  template <class T, class... Args>
  T& Add(std::string name, Args&&... args) {
    auto control = std::make_unique<T>(std::move(name), std::forward<Args>(args)...);
    T& ref = *control;
    Adopt(std::move(control));
    return ref;
  }

  // The controls in the order they were added.
  std::vector<Control*> Controls() const;
  // Lookup by name, case-insensitive; null when absent.
  Control* Find(std::string_view name) const;
  template <class T>
  T* Find(std::string_view name) const {
    return dynamic_cast<T*>(Find(name));
  }
  // Lookup that must succeed: std::out_of_range when absent,
  // std::logic_error when the control is of another kind.
  Control& Get(std::string_view name) const;
  template <class T>
  T& Get(std::string_view name) const {
    Control& c = Get(name);
    if (auto* typed = dynamic_cast<T*>(&c)) {
      return *typed;
    }
    throw std::logic_error("Control " + std::string(name) + " of form " + name_ +
                           " is a " + ControlKindName(c.Kind()));
  }

  void Load();
  void Unload();
  // Loads the form if needed, then shows it. A modal show needs a user
  // interface (std::logic_error without one) and a form that is not yet
  // visible ("Form already displayed; can't show modally", std::logic_error).
  void Show(bool modal = false);
  void Hide();
  bool IsLoaded() const { return loaded_; }
  bool IsVisible() const { return visible_; }
  // True while the form is shown modally.
  bool IsModal() const { return modal_; }

  // The user interface that shows this form; when none is set, the
  // process's default user interface (SetDefaultUser) is used.
  void SetUser(UserInterface* user) { user_ = user; }
  UserInterface* User() const;

  // The first button with the default flag (Enter); null when none.
  Button* DefaultButton() const;
  // The button that closes the form without changing anything: the first
  // with the cancel flag (Esc), else the first captioned "Cancel", then
  // "No", then "No to All". Null when there is none.
  Button* CancelButton() const;
  // The first button whose caption, with access-key ampersands taken out,
  // equals `caption` case-insensitively. Null when none.
  Button* ButtonWithCaption(std::string_view caption) const;
  // ButtonWithCaption, failing that the button of that name. Null when none.
  Button* FindButton(std::string_view captionOrName) const;

  // The control that has the focus (set by Control::SetFocus); null when none.
  Control* FocusedControl() const { return focused_; }

  // The form as text: a first line with name and caption, then one
  // indented line per visible control.
  std::string Describe() const;

 protected:
  // Runs when the form is loaded (once per load).
  virtual void OnLoad() {}
  // Runs when the form is unloaded.
  virtual void OnTerminate() {}

 private:
  friend class Control;

  void Adopt(std::unique_ptr<Control> control);
  void ControlChanged(const Control& control);
  void SetFocused(Control* control) { focused_ = control; }

  std::string name_;
  std::string caption_;
  std::vector<std::unique_ptr<Control>> controls_;
  UserInterface* user_ = nullptr;
  Control* focused_ = nullptr;
  bool loaded_ = false;
  bool visible_ = false;
  bool modal_ = false;
};

// A caption without its access-key markers: "&System Info..." gives
// "System Info...", "Save && Send" gives "Save & Send".
std::string PlainCaption(std::string_view caption);

// The process's default user interface, used by forms without their own.
UserInterface* DefaultUser();
void SetDefaultUser(UserInterface* user);

}  // namespace platform

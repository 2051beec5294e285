#pragma once
// The question asked before a folder is sent with every contact:
// "Plexisync - Confirmation", with the check box "Send only updated items"
// and the buttons "Yes" and "No". Loaded per question and unloaded after it.
#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace plexisync {

class Context;

class ConfirmUpdate : public platform::Form {
 public:
  explicit ConfirmUpdate(Context& ctx);

  platform::Label& Label2;
  platform::CheckBox& Check;
  platform::Button& Command1;  // "Yes"
  platform::Button& Command2;  // "No"
  // 0 after "Yes", 1 after "No" (and when the form is closed otherwise).
  int Cancelled = 1;

  // "Yes": Cancelled = 0; the check box goes into the options window's
  // "Send only updated items", and the options are stored; hides the form.
  void Command1_Click();
  // "No": Cancelled = 1; hides the form.
  void Command2_Click();

 private:
  Context& ctx_;
};

}  // namespace plexisync

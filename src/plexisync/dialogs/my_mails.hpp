#pragma once
// The own-address window "Plexisync - My Email Addresses": the list of the
// user's own e-mail addresses, which keeps the user out of every recipient
// list. Its list box `MyMails` is the list in force while the add-in runs
// (Is_MyMail reads it); the setting "MyMails" is the stored form, written by
// "OK" only.
#include <string>
#include <vector>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace plexisync {

class Context;

class frmMyMails : public platform::Form {
 public:
  explicit frmMyMails(Context& ctx);

  // Set while start-up shows the window to a first-time user: closing it
  // then does not bring the options window back.
  bool FirstRun = false;

  platform::Label& Label3;
  platform::Label& Label1;
  platform::ListBox& MyMails;
  platform::Label& Label2;
  platform::TextBox& NewMail;
  platform::Button& AddButton;
  platform::Button& RemoveButton;
  platform::Button& Accept;
  platform::Button& Cancel;

  // Adds the text of NewMail unless it is empty or already listed (exact,
  // case-sensitive); NewMail is emptied and focused either way.
  void AddButton_Click();
  // Removes the selected entry, if one is selected.
  void RemoveButton_Click();
  // Stores the list as "MyMails", hides the window and, unless FirstRun,
  // shows the options window again.
  void Accept_Click();
  // Hides the window without storing; unless FirstRun, shows the options
  // window again.
  void Cancel_Click();

 protected:
  // Form_Load: fills MyMails from the setting "MyMails".
  void OnLoad() override;
  // Form_Terminate: unless FirstRun, shows the options window (when it is loaded).
  void OnTerminate() override;

 private:
  Context& ctx_;
};

// The addresses of a stored "MyMails" text, in stored order: each is the
// text between a character 157 and the first character 158 after it; text
// outside the delimiters is ignored, and an unclosed entry ends the list.
std::vector<std::string> ParseMyMails(const std::string& stored);
// The stored form of a list: 157, address, 158 for each, concatenated.
std::string FormatMyMails(const std::vector<std::string>& addresses);

}  // namespace plexisync

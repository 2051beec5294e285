#pragma once
// The options window "Plexisync - Advanced Settings": the settings under the
// profile key as check boxes and two lists, and three actions (own
// addresses, database repair, manual import). One default instance lives for
// the whole run (Context::Form<AdvSettings>()); it is loaded hidden at
// start-up and hidden, never destroyed, when closed, so its controls hold
// the settings in force (GMTTime reads the GMT list directly).
#include <cstddef>
#include <string>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace plexisync {

class Context;

// The message of a repair that ran to its end but kept `kept` entries whose
// folder or contact could not be looked up.
std::string RepairKeptMessage(std::size_t kept);

class AdvSettings : public platform::Form {
 public:
  explicit AdvSettings(Context& ctx);

  platform::CheckBox& SendUpdated;
  platform::CheckBox& DontSendComments;
  platform::CheckBox& DontReceive;
  platform::CheckBox& AutoUpdate;
  platform::CheckBox& Export;
  // Export threshold: "200", "500", "1000", "3000", "5000" (list position stored).
  platform::ComboBox& Kiek;
  platform::Label& Label1;
  // GMT difference: "-12:00" (0) through "0:00" (12) to "+12:00" (24).
  platform::ComboBox& GMT;
  platform::Label& Label2;
  platform::Frame& Frame1;
  platform::Frame& Frame2;
  platform::Button& ManageMails;
  platform::Button& Repair;
  platform::Button& ManualImport;
  platform::Button& Accept;
  platform::Button& Cancel;

  // Stores the controls and hides the window ("AdvSet_AcceptClick").
  void Accept_Click();
  // Puts the stored settings back into the controls and hides the window
  // ("AdvSet_CancelClick").
  void Cancel_Click();
  // The threshold list is enabled exactly when Export is checked
  // ("AdvSet_ExportClick").
  void Export_Click();
  // Hides this window and shows the own-address window modally.
  void ManageMails_Click();
  // Runs the database repair; "Update successful!" when it succeeded and
  // checked every entry, RepairKeptMessage when it kept entries it could not
  // look up, nothing (the failure is logged) when it failed.
  void Repair_Click();
  // Lets the person pick a contacts folder and imports a file into it.
  void ManualImport_Click();

 protected:
  // Form_Load: Load_Checkboxes.
  void OnLoad() override;

 private:
  Context& ctx_;
};

}  // namespace plexisync

#pragma once
// The about window "About Plexisync": the add-in's name and version and a
// shortcut to the system-information tool. Shown not modally from the
// add-in's menu; OK (Enter and Esc) unloads it.
#include <cstdint>
#include <string>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace plexisync {

class Context;

class frmAbout : public platform::Form {
 public:
  explicit frmAbout(Context& ctx);

  platform::Image& picIcon;
  platform::Label& lblTitle;        // "Plexisync"
  platform::Label& lblVersion;      // "Version " + major.minor.revision, set at load
  platform::Label& lblDescription;  // a fixed line
  platform::Label& lblNote;         // empty at load
  platform::Label& lblDisclaimer;   // empty
  platform::Button& cmdOK;          // "OK": default and cancel button
  platform::Button& cmdSysInfo;     // "&System Info..."

  void Form_Load();

 private:
  Context& ctx_;
};

// "Version 1.0.23" for the running add-in.
std::string AboutVersionText();

// Starts the system-information tool named in the key store, or says
// "System Information Is Unavailable At This Time".
void StartSysInfo(Context& ctx);

// One key-store value as text: a string as it is, a 32-bit number as its
// decimal value, any other type empty. False (and `keyVal` empty) when the
// key or the value cannot be read.
bool GetKeyValue(Context& ctx, std::int32_t keyRoot, const std::string& keyName, const std::string& subKeyRef,
                 std::string& keyVal);

// Shows the about window, not modally (its default instance).
void ShowAbout(Context& ctx);

}  // namespace plexisync

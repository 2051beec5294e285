#pragma once
// The about window "About Plexisync": the add-in's name and version and a
// shortcut to the system-information tool. Shown not modally from the
// add-in's menu; OK (Enter and Esc) unloads it.
//
// Where the system-information tool is found: this platform names it in the
// machine's key store (HKEY_LOCAL_MACHINE), under keys of its own:
//   1. "SOFTWARE\Plexisync Platform\System Information", value "PATH": the
//      program itself;
//   2. failing that, "SOFTWARE\Plexisync Platform\Shared Tools Location",
//      value "SYSINFO": a folder that must hold the program
//      "plexisync-sysinfo".
// The tool is started through the platform's shell in a normal, focused
// window.
#include <cstdint>
#include <string>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace plexisync {

class Context;

inline constexpr const char* kSysInfoKey = "SOFTWARE\\Plexisync Platform\\System Information";
inline constexpr const char* kSysInfoValue = "PATH";
inline constexpr const char* kSharedToolsKey = "SOFTWARE\\Plexisync Platform\\Shared Tools Location";
inline constexpr const char* kSharedToolsValue = "SYSINFO";
inline constexpr const char* kSysInfoProgram = "plexisync-sysinfo";
inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

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

 protected:
  // Runs Form_Load.
  void OnLoad() override;

 private:
  Context& ctx_;
};

// "Version 1.0.23" for the running add-in.
std::string AboutVersionText();
// "Version " followed by major.minor.revision.
std::string AboutVersionText(int major, int minor, int revision);

// Starts the system-information tool named in the key store, or says
// "System Information Is Unavailable At This Time".
void StartSysInfo(Context& ctx);

// One key-store value as text: a string as it is, a 32-bit number as its
// decimal value (unsigned), any other type empty. False (and `keyVal` empty)
// when the root has no store, the key or the value cannot be read, or a
// number's data is not four bytes. One NUL ending a string is not part of it.
bool GetKeyValue(Context& ctx, std::int32_t keyRoot, const std::string& keyName, const std::string& subKeyRef,
                 std::string& keyVal);

// Shows the about window, not modally (its default instance).
void ShowAbout(Context& ctx);

}  // namespace plexisync

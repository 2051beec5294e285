#pragma once
// The settings kept under the profile key, the registry start-up and the two
// time-zone routines that depend on the "GMT" setting.
#include <cstdint>
#include <string>

#include "platform/datetime.hpp"

namespace plexisync {

class Context;
class AdvSettings;

// "Software\Quorvane\Plexisync\"
inline constexpr const char* kProductKey = "Software\\Quorvane\\Plexisync\\";
// The layout version of everything under the profile key.
inline constexpr const char* kLayoutVersion = "0.09.0000";

// Creates `Reg` on the current user's hive, creates the product key when it
// is missing and sets `RegKey`. Logs under "RegInit".
void RegInit(Context& ctx);
// Always "default\".
std::string Get_Profile();
// "InstDir" of the product key; when it is absent or empty, the profile's
// own add-in folder (with its trailing separator). Failures reach the caller
// (without the application there is no profile to default to).
std::string Get_InstDir(Context& ctx);
// Creates RegKey + name when it is missing. Failures reach the caller.
void Ensure_Key(Context& ctx, const std::string& name);

// Options window <-> stored settings. Without a form, the options window's
// default instance is used.
// Load_Checkboxes: reads the settings (absent ones as their defaults) into
// the controls; on any failure the threshold list is set to position 1
// ("500") and the rest keep what they had. Nothing is logged. The GMT list
// always ends with a selection: a stored position outside 0..24 is taken to
// the nearest end, and a list left without one by a failure takes the stored
// position, or defGMT when the stored text is no number.
void Load_Checkboxes(Context& ctx);
void Load_Checkboxes(Context& ctx, AdvSettings& form);
// Obtain_Checkboxes: writes the controls as the text of their numbers.
// Logs under "Obtain_Checkboxes".
void Obtain_Checkboxes(Context& ctx);
void Obtain_Checkboxes(Context& ctx, AdvSettings& form);

// "AutoUpdate" (default on), "Dont_Receive" and "Dont_Send_Comments"
// (default off); any failure, or a text that is no flag, reads as false.
bool Get_AutoUpdate(Context& ctx);
bool Get_DontReceive(Context& ctx);
bool Get_DontSendComments(Context& ctx);

// A local time converted to GMT with the offset chosen in the options window
// (list position p means p - 12 hours). Logs under "GMTTime" and returns the
// zero date-time on failure.
platform::DateTime GMTTime(Context& ctx, const platform::DateTime& local);
// The list position of the computer's own standard-time offset, taken to
// the nearest end of the list (0..24) for zones beyond -12:00 or +12:00.
// Logs under "defGMT" and returns 0 on failure.
std::int32_t defGMT(Context& ctx);

// True when the address is one of the user's own: an entry of the
// own-address window's list (loaded hidden when needed), compared exactly
// and case-sensitively. Failures reach the caller.
bool Is_MyMail(Context& ctx, const std::string& address);

// The delimiters that wrap each own address in the stored "MyMails" value:
// the characters with codes 157 and 158 (U+009D, U+009E in UTF-8), which
// cannot occur in an e-mail address.
inline constexpr const char* kMyMailOpen = "\xC2\x9D";
inline constexpr const char* kMyMailClose = "\xC2\x9E";

}  // namespace plexisync

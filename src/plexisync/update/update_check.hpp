#pragma once
// "Check for Update": asks the vendor's web server whether a newer version
// of the add-in exists and, when the person agrees, downloads its installer
// into the installation folder and starts it.
//
// Only an installer address on the vendor server's own base address is
// accepted, over https (plain http only on a loopback host, for tests), and
// the download follows only redirects to such addresses (never from https
// down to http; the address the bytes finally come from is checked too); the
// download is written under a temporary name and moved into place only when
// it is complete; a partial file is never started. The check's wait for the
// page is bounded: a timeout is a failed check.
#include <string>

namespace plexisync {

class Context;

// How long the check waits for the vendor's page before it counts as failed.
inline constexpr long kUpdateCheckLimitSeconds = 30;

// True when `address` may be downloaded as the installer: it is the vendor
// server's base address `vendorBase` itself or begins with it followed by
// "/", holds no blank or control character, and the base uses https (plain
// http only on a loopback host: 127.0.0.1, [::1], localhost).
bool IsInstallerAddress(const std::string& address, const std::string& vendorBase);

// The check address: the vendor server, "/_check_update.asp?ver=" and the
// running version (major.minor.revision).
std::string UpdateCheckAddress();
// The page shown when a download fails: "/download.asp?catID=3&fr=pxs".
std::string UpdateFallbackAddress();
// The installer's file: InstDir followed by "Update.exe".
std::string InstallerPath(Context& ctx);

// The whole command, run by the menu item "Check for Update".
void Check_Update(Context& ctx);
// The server's answer: the text of the check page's body. A page that cannot
// be had gives a text the check does not understand (a failed check).
std::string Get_Update_Info(Context& ctx);
// The same with the wait bounded by `limitSeconds` instead of
// kUpdateCheckLimitSeconds.
std::string Get_Update_Info(Context& ctx, long limitSeconds);
// Downloads the installer at `address`, saves it and starts it; on a failure
// (a redirect that leaves the installer addresses included: nothing is then
// saved or started) opens the fallback page in the person's browser instead.
void Download_Update(Context& ctx, const std::string& address);

}  // namespace plexisync

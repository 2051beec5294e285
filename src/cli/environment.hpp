#pragma once
// Where the program keeps its profiles: every profile is a folder under the
// home folder ($PLEXISYNC_HOME, default ~/.local/share/plexisync), and the
// profiles of one machine share the post office "postoffice" in it, so they
// reach each other with no configuration.
#include <filesystem>
#include <string>
#include <string_view>

namespace cli {

// $PLEXISYNC_HOME, else $HOME/.local/share/plexisync (else ./.plexisync when
// HOME is not set either).
std::filesystem::path PlexisyncHome();
// $PLEXISYNC_PROFILE, else "default".
std::string DefaultProfileName();
// The profile's folder: a name is a folder under `home`; text containing a
// "/" is a path. Throws CliError for an empty name and for "." or "..".
std::filesystem::path ProfileDir(std::string_view nameOrPath, const std::filesystem::path& home);
// The shared post office of the profiles under `home`.
std::filesystem::path DefaultPostOffice(const std::filesystem::path& home);

}  // namespace cli

#include "cli/environment.hpp"

#include <cstdlib>

#include "cli/errors.hpp"

namespace cli {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::filesystem::path PlexisyncHome() {
  std::string home = Env("PLEXISYNC_HOME");
  if (!home.empty()) return std::filesystem::path(home);
  std::string user = Env("HOME");
  if (!user.empty()) return std::filesystem::path(user) / ".local" / "share" / "plexisync";
  return std::filesystem::path(".plexisync");
}

std::string DefaultProfileName() {
  std::string name = Env("PLEXISYNC_PROFILE");
  return name.empty() ? std::string("default") : name;
}

std::filesystem::path ProfileDir(std::string_view nameOrPath, const std::filesystem::path& home) {
  if (nameOrPath.empty()) throw CliError("empty profile name");
  if (nameOrPath.find('/') != std::string_view::npos) return std::filesystem::path(nameOrPath);
  if (nameOrPath == "." || nameOrPath == "..") {
    throw CliError("bad profile name: " + std::string(nameOrPath));
  }
  return home / std::string(nameOrPath);
}

std::filesystem::path DefaultPostOffice(const std::filesystem::path& home) { return home / "postoffice"; }

}  // namespace cli

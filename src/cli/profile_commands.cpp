// Showing and listing profiles.
#include <algorithm>
#include <ostream>

#include "cli/commands.hpp"
#include "cli/json_output.hpp"
#include "host/profile.hpp"

namespace cli {

void ShowProfile(const host::Profile& profile, std::ostream& out, bool asJson) {
  const std::string name = profile.Dir().filename().string();
  if (asJson) {
    PrintJson(out, nlohmann::ordered_json{{"profile", name},
                                  {"name", profile.DisplayName()},
                                  {"address", profile.Address()},
                                  {"dir", profile.Dir().string()},
                                  {"transport", profile.TransportKind()},
                                  {"postOffice", profile.PostOfficeDir().string()}});
    return;
  }
  out << "Profile:     " << name << "\n"
      << "Name:        " << profile.DisplayName() << "\n"
      << "Address:     " << profile.Address() << "\n"
      << "Folder:      " << profile.Dir().string() << "\n"
      << "Transport:   " << profile.TransportKind() << "\n"
      << "Post office: " << profile.PostOfficeDir().string() << "\n";
}

void ListProfiles(const std::filesystem::path& home, std::ostream& out, bool asJson) {
  std::vector<std::filesystem::path> dirs;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(home, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && host::Profile::Exists(it->path())) dirs.push_back(it->path());
  }
  std::sort(dirs.begin(), dirs.end());
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& dir : dirs) {
    try {
      auto p = host::Profile::Open(dir);
      if (asJson) {
        list.push_back({{"profile", dir.filename().string()}, {"name", p.DisplayName()}, {"address", p.Address()}});
      } else {
        out << dir.filename().string() << "  " << p.DisplayName() << " <" << p.Address() << ">\n";
      }
    } catch (const std::exception& e) {
      if (!asJson) out << dir.filename().string() << "  (unreadable: " << e.what() << ")\n";
    }
  }
  if (asJson) PrintJson(out, list);
}

}  // namespace cli

// Showing and listing profiles.
#include <algorithm>
#include <ostream>

#include "cli/commands.hpp"
#include "cli/json_output.hpp"
#include "cli/terminal_text.hpp"
#include "host/profile.hpp"

namespace cli {

void ShowProfile(const host::Profile& profile, std::ostream& out, bool asJson) {
  const std::string name = profile.Dir().filename().string();
  // The account as profile.json has it; it never holds a password.
  const host::AccountSettings& account = profile.Account();
  if (asJson) {
    PrintJson(out, nlohmann::ordered_json{{"profile", name},
                                  {"name", profile.DisplayName()},
                                  {"address", profile.Address()},
                                  {"dir", profile.Dir().string()},
                                  {"transport", profile.TransportKind()},
                                  {"postOffice", profile.PostOfficeDir().string()},
                                  {"account", nlohmann::ordered_json{{"smtp", account.smtpUrl},
                                                                     {"imap", account.imapUrl},
                                                                     {"user", account.user},
                                                                     {"passwordCommand", account.passwordCommand},
                                                                     {"caFile", account.caFile}}}});
    return;
  }
  out << "Profile:     " << name << "\n"
      << "Name:        " << profile.DisplayName() << "\n"
      << "Address:     " << profile.Address() << "\n"
      << "Folder:      " << profile.Dir().string() << "\n"
      << "Transport:   " << profile.TransportKind() << "\n"
      << "Post office: " << profile.PostOfficeDir().string() << "\n";
  const std::string postOffice = "(the post office)";
  out << "SMTP server: " << (account.smtpUrl.empty() ? postOffice : PrintableLine(account.smtpUrl)) << "\n"
      << "IMAP server: " << (account.imapUrl.empty() ? postOffice : PrintableLine(account.imapUrl)) << "\n";
  if (!account.HasServers() && account == host::AccountSettings{}) return;
  out << "User:        " << (account.user.empty() ? profile.Address() + " (the address)" : PrintableLine(account.user))
      << "\n"
      << "Password:    "
      << (account.passwordCommand.empty() ? std::string("asked at each send-receive")
                                          : "printed by " + PrintableLine(account.passwordCommand))
      << "\n"
      << "CA file:     " << (account.caFile.empty() ? std::string("(the system's certificates)") : PrintableLine(account.caFile))
      << "\n";
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

#pragma once
// A mail profile: one folder per user holding
//   profile.json   the display name, the address, the transport settings
//                  and the mail account ("account": smtp, imap, user,
//                  passwordCommand, caFile; never a password)
//   imap-state.db  what was taken from the account's IMAP INBOX
//   store.db       the default message store
//   registry.db    the user's key store hive
//   install/       the add-in's installation folder
// Creating a profile also writes "InstDir" under "Software\Quorvane\Plexisync\"
// in the hive, as the add-in's installer would.
#include <filesystem>
#include <memory>
#include <string>

#include "host/transport/account.hpp"
#include "platform/keystore.hpp"

namespace host {

class Transport;

class Profile {
 public:
  // Creates the profile folder and everything in it. Throws HostError when
  // `dir` already holds a profile or cannot be created, and
  // std::invalid_argument (nothing created) when the account settings do not
  // pass CheckAccountSettings.
  static Profile Create(const std::filesystem::path& dir, const std::string& displayName,
                        const std::string& address, const std::filesystem::path& postOfficeDir,
                        const AccountSettings& account = {});
  // Loads an existing profile. Throws HostError naming the folder when it is
  // missing or holds no valid profile.
  static Profile Open(const std::filesystem::path& dir);
  // True when `dir` holds a profile file.
  static bool Exists(const std::filesystem::path& dir);

  const std::filesystem::path& Dir() const { return dir_; }
  const std::string& DisplayName() const { return displayName_; }
  const std::string& Address() const { return address_; }
  // "postoffice" (the only kind so far).
  const std::string& TransportKind() const { return transportKind_; }
  const std::filesystem::path& PostOfficeDir() const { return postOfficeDir_; }
  // The mail account; all empty when the profile has none.
  const AccountSettings& Account() const { return account_; }
  // Checks the settings (std::invalid_argument, nothing changed), then
  // rewrites profile.json with them (a new file renamed over the old one; the
  // other settings as the file has them). Empty settings remove the account.
  // Throws HostError when the file cannot be read or written.
  void SetAccount(const AccountSettings& account);

  std::filesystem::path StorePath() const { return dir_ / "store.db"; }
  std::filesystem::path HivePath() const { return dir_ / "registry.db"; }
  std::filesystem::path InstallDir() const { return dir_ / "install"; }
  std::filesystem::path ImapStatePath() const { return dir_ / "imap-state.db"; }
  // The installation folder as the installer writes it: with a trailing separator.
  std::string InstallDirText() const;

  // Opens the key store hive. `sharing` kSoleUser only while holding the
  // profile's lock (ProfileLock), so that no other process opens it.
  std::unique_ptr<platform::KeyStore> OpenKeyStore(
      platform::KeyStore::Sharing sharing = platform::KeyStore::Sharing::kShared) const;
  // The transport the settings name: the account's servers where it has
  // them (an AccountTransport asking `prompt` for the password when there is
  // no password command), the post office otherwise.
  std::unique_ptr<Transport> MakeTransport(PasswordPrompt prompt = {}, TransferProgress progress = {}) const;

 private:
  std::filesystem::path dir_;
  std::string displayName_;
  std::string address_;
  std::string transportKind_ = "postoffice";
  std::filesystem::path postOfficeDir_;
  AccountSettings account_;
};

// The key of the product under the hive's root, and the installer's value.
inline constexpr const char* kProductKey = "Software\\Quorvane\\Plexisync\\";
inline constexpr const char* kInstDirValue = "InstDir";

}  // namespace host

#include "host/profile.hpp"
#include "host/profile_lock.hpp"

#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include "host/errors.hpp"
#include "host/store.hpp"
#include "host/transport/account_transport.hpp"
#include "host/transport/post_office.hpp"
#include "platform/textfile.hpp"

namespace host {
namespace {

std::filesystem::path ProfileFile(const std::filesystem::path& dir) { return dir / "profile.json"; }

// The account's fields in profile.json, by name; empty ones are left out.
struct AccountField {
  const char* name;
  std::string AccountSettings::*member;
};
constexpr AccountField kAccountFields[] = {
    {"smtp", &AccountSettings::smtpUrl},
    {"imap", &AccountSettings::imapUrl},
    {"user", &AccountSettings::user},
    {"passwordCommand", &AccountSettings::passwordCommand},
    {"caFile", &AccountSettings::caFile},
};

nlohmann::json AccountJson(const AccountSettings& account) {
  nlohmann::json j = nlohmann::json::object();
  for (const auto& f : kAccountFields) {
    if (!(account.*f.member).empty()) j[f.name] = account.*f.member;
  }
  return j;
}

// Writes the account into the profile's JSON: the "account" block, or none
// when every setting is empty.
void PutAccount(nlohmann::json& j, const AccountSettings& account) {
  nlohmann::json block = AccountJson(account);
  if (block.empty()) {
    j.erase("account");
  } else {
    j["account"] = std::move(block);
  }
}

// The account block of profile.json; a one-line reason when it is malformed.
AccountSettings ReadAccount(const nlohmann::json& j) {
  AccountSettings account;
  if (!j.contains("account")) return account;
  const auto& a = j["account"];
  if (!a.is_object()) throw std::invalid_argument("the account settings are not an object");
  for (const auto& f : kAccountFields) {
    if (!a.contains(f.name)) continue;
    if (!a[f.name].is_string()) throw std::invalid_argument(std::string("the account's \"") + f.name + "\" is not a text");
    account.*f.member = a[f.name].get<std::string>();
  }
  // The servers must parse; the CA file is checked only when it is used, so
  // that a profile whose file went away can still be opened and changed.
  if (!account.smtpUrl.empty()) ParseMailServer(account.smtpUrl, ServerKind::kSmtp);
  if (!account.imapUrl.empty()) ParseMailServer(account.imapUrl, ServerKind::kImap);
  return account;
}

std::string Dump(const nlohmann::json& j) {
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

bool Profile::Exists(const std::filesystem::path& dir) { return platform::FileExists(ProfileFile(dir)); }

std::string Profile::InstallDirText() const {
  std::string s = InstallDir().string();
  if (s.empty() || s.back() != '/') s.push_back('/');
  return s;
}

Profile Profile::Create(const std::filesystem::path& dir, const std::string& displayName,
                        const std::string& address, const std::filesystem::path& postOfficeDir,
                        const AccountSettings& account) {
  if (Exists(dir)) throw HostError("A profile already exists in " + dir.string() + ".");
  CheckAccountSettings(account);
  std::error_code ec;
  Profile p;
  p.dir_ = std::filesystem::absolute(dir, ec);
  if (ec) p.dir_ = dir;
  p.displayName_ = displayName;
  p.address_ = address;
  p.postOfficeDir_ = std::filesystem::absolute(postOfficeDir, ec);
  if (ec) p.postOfficeDir_ = postOfficeDir;
  p.account_ = account;
  std::filesystem::create_directories(p.InstallDir(), ec);
  if (ec) throw HostError("The profile folder " + p.dir_.string() + " cannot be created: " + ec.message());
  // Nobody else may open or create the profile while it is being made.
  ProfileLock lock = ProfileLock::Acquire(p.dir_);
  if (Exists(dir)) throw HostError("A profile already exists in " + dir.string() + ".");

  // The default store with its default folders.
  detail::Store::Open(p.StorePath(), detail::StoreLayout::kDefault)->Close();

  // The hive, with the installer's value.
  try {
    auto hive = p.OpenKeyStore();
    hive->CreateKey(kProductKey);
    std::string inst = p.InstallDirText();
    std::vector<std::uint8_t> data(inst.begin(), inst.end());
    data.push_back(0);
    if (!hive->SetValue(kProductKey, kInstDirValue, platform::kRegSz, data)) {
      throw HostError("The installation folder could not be recorded.");
    }
  } catch (const platform::KeyStoreError& e) {
    throw HostError(std::string("The key store of the profile cannot be created: ") + e.what());
  }

  nlohmann::json j;
  j["name"] = displayName;
  j["address"] = address;
  j["transport"] = {{"kind", p.transportKind_}, {"dir", p.postOfficeDir_.string()}};
  PutAccount(j, account);
  try {
    platform::WriteTextFile(ProfileFile(p.dir_), Dump(j));
  } catch (const platform::FileError& e) {
    throw HostError(std::string("The profile cannot be written: ") + e.what());
  }
  return p;
}

Profile Profile::Open(const std::filesystem::path& dir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) throw HostError("No profile folder " + dir.string() + ".");
  if (!Exists(dir)) throw HostError(dir.string() + " is not a profile: profile.json is missing.");
  std::string text;
  try {
    text = platform::ReadTextFile(ProfileFile(dir));
  } catch (const platform::FileError& e) {
    throw HostError(std::string("The profile cannot be read: ") + e.what());
  }
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  auto bad = [&](const std::string& why) -> HostError {
    return HostError(dir.string() + " is not a profile: " + why + ".");
  };
  if (!j.is_object()) throw bad("profile.json is not valid");
  if (!j.contains("name") || !j["name"].is_string()) throw bad("the display name is missing");
  if (!j.contains("address") || !j["address"].is_string()) throw bad("the address is missing");
  if (!j.contains("transport") || !j["transport"].is_object()) throw bad("the transport settings are missing");
  const auto& t = j["transport"];
  if (!t.contains("kind") || !t["kind"].is_string() || t["kind"].get<std::string>() != "postoffice") {
    throw bad("the transport kind is not known");
  }
  if (!t.contains("dir") || !t["dir"].is_string()) throw bad("the post office folder is missing");
  AccountSettings account;
  try {
    account = ReadAccount(j);
  } catch (const std::invalid_argument& e) {
    std::string why = e.what();
    while (!why.empty() && why.back() == '.') why.pop_back();
    throw bad(why);
  }
  Profile p;
  p.dir_ = std::filesystem::absolute(dir, ec);
  if (ec) p.dir_ = dir;
  p.displayName_ = j["name"].get<std::string>();
  p.address_ = j["address"].get<std::string>();
  p.transportKind_ = t["kind"].get<std::string>();
  p.postOfficeDir_ = t["dir"].get<std::string>();
  p.account_ = std::move(account);
  return p;
}

std::unique_ptr<platform::KeyStore> Profile::OpenKeyStore(platform::KeyStore::Sharing sharing) const {
  return platform::KeyStore::Open(HivePath(), sharing);
}

void Profile::SetAccount(const AccountSettings& account) {
  CheckAccountSettings(account);
  std::string text;
  try {
    text = platform::ReadTextFile(ProfileFile(dir_));
  } catch (const platform::FileError& e) {
    throw HostError(std::string("The profile cannot be read: ") + e.what());
  }
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object()) throw HostError(dir_.string() + " is not a profile: profile.json is not valid.");
  PutAccount(j, account);
  try {
    platform::WriteTextFile(ProfileFile(dir_), Dump(j));
  } catch (const platform::FileError& e) {
    throw HostError(std::string("The profile cannot be written: ") + e.what());
  }
  account_ = account;
}

std::unique_ptr<Transport> Profile::MakeTransport(PasswordPrompt prompt, TransferProgress progress) const {
  if (!account_.HasServers()) return std::make_unique<PostOfficeTransport>(postOfficeDir_);
  return std::make_unique<AccountTransport>(address_, account_, postOfficeDir_, ImapStatePath(), std::move(prompt),
                                            std::move(progress));
}

}  // namespace host

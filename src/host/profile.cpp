#include "host/profile.hpp"
#include "host/profile_lock.hpp"

#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include "host/errors.hpp"
#include "host/store.hpp"
#include "host/transport/post_office.hpp"
#include "platform/textfile.hpp"

namespace host {
namespace {

std::filesystem::path ProfileFile(const std::filesystem::path& dir) { return dir / "profile.json"; }

}  // namespace

bool Profile::Exists(const std::filesystem::path& dir) { return platform::FileExists(ProfileFile(dir)); }

std::string Profile::InstallDirText() const {
  std::string s = InstallDir().string();
  if (s.empty() || s.back() != '/') s.push_back('/');
  return s;
}

Profile Profile::Create(const std::filesystem::path& dir, const std::string& displayName,
                        const std::string& address, const std::filesystem::path& postOfficeDir) {
  if (Exists(dir)) throw HostError("A profile already exists in " + dir.string() + ".");
  std::error_code ec;
  Profile p;
  p.dir_ = std::filesystem::absolute(dir, ec);
  if (ec) p.dir_ = dir;
  p.displayName_ = displayName;
  p.address_ = address;
  p.postOfficeDir_ = std::filesystem::absolute(postOfficeDir, ec);
  if (ec) p.postOfficeDir_ = postOfficeDir;
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
  try {
    platform::WriteTextFile(ProfileFile(p.dir_),
                            j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
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
  Profile p;
  p.dir_ = std::filesystem::absolute(dir, ec);
  if (ec) p.dir_ = dir;
  p.displayName_ = j["name"].get<std::string>();
  p.address_ = j["address"].get<std::string>();
  p.transportKind_ = t["kind"].get<std::string>();
  p.postOfficeDir_ = t["dir"].get<std::string>();
  return p;
}

std::unique_ptr<platform::KeyStore> Profile::OpenKeyStore(platform::KeyStore::Sharing sharing) const {
  return platform::KeyStore::Open(HivePath(), sharing);
}

std::unique_ptr<Transport> Profile::MakeTransport() const {
  return std::make_unique<PostOfficeTransport>(postOfficeDir_);
}

}  // namespace host

#pragma once
// A running add-in for the storage tests: a profile in a temporary folder,
// a manual clock, a scripted person, the client on an in-memory transport
// and the add-in's context on the profile's hive. The hive is reached
// through a probe that counts writes and can be told to fail operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/transport/transport.hpp"
#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/storage/registry.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace plexisync::testing {

class NullTransport : public host::Transport {
 public:
  void Send(const host::MailMessage&, const std::vector<std::string>&) override {}
  std::unique_ptr<host::FetchedMail> Fetch(const std::string&) override {
    return std::make_unique<host::NoMail>();
  }
};

// Forwards to the real hive; counts value writes and throws a key store
// failure from the operations that `failIf` picks (by operation and path).
class ProbeKeyStore : public platform::KeyStore {
 public:
  explicit ProbeKeyStore(platform::KeyStore& inner) : inner_(inner) {}

  std::function<bool(std::string_view op, std::string_view path)> failIf;
  int setValueCalls = 0;

  bool KeyExists(std::string_view p) override { return Check("KeyExists", p), inner_.KeyExists(p); }
  bool CreateKey(std::string_view p) override { return Check("CreateKey", p), inner_.CreateKey(p); }
  std::optional<platform::RegValue> QueryValue(std::string_view p, std::string_view n) override {
    Check("QueryValue", p);
    return inner_.QueryValue(p, n);
  }
  bool SetValue(std::string_view p, std::string_view n, std::uint32_t t, std::span<const std::uint8_t> d) override {
    Check("SetValue", p);
    ++setValueCalls;
    return inner_.SetValue(p, n, t, d);
  }
  std::optional<std::string> EnumSubKey(std::string_view p, std::size_t i) override {
    Check("EnumSubKey", p);
    return inner_.EnumSubKey(p, i);
  }
  std::optional<std::string> EnumValue(std::string_view p, std::size_t i) override {
    Check("EnumValue", p);
    return inner_.EnumValue(p, i);
  }
  std::size_t MaxValueNameLength(std::string_view p) override { return inner_.MaxValueNameLength(p); }
  platform::DeleteKeyResult DeleteKey(std::string_view p) override {
    Check("DeleteKey", p);
    return inner_.DeleteKey(p);
  }
  bool DeleteValue(std::string_view p, std::string_view n) override {
    Check("DeleteValue", p);
    return inner_.DeleteValue(p, n);
  }
  std::optional<std::string> FindValueByData(std::string_view p, std::uint32_t t,
                                             std::span<const std::uint8_t> d) override {
    Check("FindValueByData", p);
    return inner_.FindValueByData(p, t, d);
  }
  std::optional<std::string> FindFirstValue(std::string_view p, std::uint32_t t,
                                            std::span<const std::vector<std::uint8_t>> d,
                                            const std::function<bool(const platform::RegValue&)>& other) override {
    Check("FindFirstValue", p);
    return inner_.FindFirstValue(p, t, d, other);
  }

  // A transaction of the real store; failIf sees its end as "Commit" (with
  // an empty path), where a failure undoes every write it made.
  void Transact(const std::function<void()>& writes) override {
    inner_.Transact([&] {
      writes();
      Check("Commit", "");
    });
  }

 private:
  void Check(std::string_view op, std::string_view path) {
    if (failIf && failIf(op, path)) throw platform::KeyStoreError("injected failure");
  }
  platform::KeyStore& inner_;
};

class StorageTest : public ::testing::Test {
 protected:
  static constexpr const char* kRegKey = "Software\\Quorvane\\Plexisync\\default\\";

  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() / ("plexisync-storage-" + std::to_string(::getpid()) + "-" +
                                                     info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    profile_ = std::make_unique<host::Profile>(
        host::Profile::Create(dir_ / "alice", "Alice Adams", "alice@example.org", dir_ / "postoffice"));
    keys_ = profile_->OpenKeyStore();
    probe_ = std::make_unique<ProbeKeyStore>(*keys_);
    app_ = std::make_unique<host::Application>(*profile_, host::HostServices{clock_, user_, transport_, *keys_, zone_});
    ns_ = app_->Session();
    ctx_ = std::make_unique<Context>(AddinServices{
        user_, clock_, zone_, [this](std::int32_t root) -> platform::KeyStore* {
          return root == HKEY_CURRENT_USER ? probe_.get() : nullptr;
        }});
    ctx_->App = app_.get();
    ctx_->Reg = std::make_unique<CRegistry>(ctx_->svc.hives);
    ctx_->Reg->Init(HKEY_CURRENT_USER);
    ctx_->RegKey = kRegKey;
    ctx_->InstDir = (dir_ / "inst").string() + "/";
    std::filesystem::create_directories(dir_ / "inst");
    // Logged errors do not offer a report, so no test has to answer it.
    ctx_->ReportSent = true;
  }

  void TearDown() override {
    EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
    ctx_.reset();
    ns_.reset();
    app_.reset();
    probe_.reset();
    keys_.reset();
    std::filesystem::remove_all(dir_);
  }

  Context& ctx() { return *ctx_; }
  CRegistry& reg() { return *ctx_->Reg; }

  // The error log's records: each begins with a date, then " Error in ".
  std::vector<std::string> LogLines() const {
    std::ifstream in(ctx_->InstDir + "errors.log", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  // The error names of the log's records, in order.
  std::vector<std::string> LoggedNames() const {
    std::vector<std::string> names;
    for (const auto& line : LogLines()) {
      const auto at = line.find(" Error in ");
      if (at == std::string::npos) continue;
      const auto start = at + 10;
      names.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return names;
  }

  std::shared_ptr<host::Folder> Contacts() { return ns_->GetDefaultFolder(host::kFolderContacts); }
  std::shared_ptr<host::Folder> DeletedItems() { return ns_->GetDefaultFolder(host::kFolderDeletedItems); }
  std::shared_ptr<host::Folder> TopFolder() { return ns_->Folders()->Item(1); }
  std::shared_ptr<host::ContactItem> NewContact(const std::shared_ptr<host::Folder>& folder, const std::string& name) {
    auto c = std::dynamic_pointer_cast<host::ContactItem>(folder->Items()->Add("IPM.Contact"));
    c->SetFullName(name);
    c->Save();
    return c;
  }
  // The subfolder with exactly this name, or nullptr.
  static std::shared_ptr<host::Folder> Child(const std::shared_ptr<host::Folder>& folder, const std::string& name) {
    auto subs = folder->Folders();
    for (int i = 1; i <= subs->Count(); ++i) {
      if (subs->Item(i)->Name() == name) return subs->Item(i);
    }
    return nullptr;
  }
  bool ItemExists(const std::string& entryId) {
    try {
      return ns_->GetItemFromID(entryId) != nullptr;
    } catch (const host::HostError&) {
      return false;
    }
  }

  std::filesystem::path dir_;
  std::unique_ptr<host::Profile> profile_;
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  platform::ScriptedUser user_;
  NullTransport transport_;
  std::unique_ptr<platform::KeyStore> keys_;
  std::unique_ptr<ProbeKeyStore> probe_;
  std::unique_ptr<host::Application> app_;
  std::shared_ptr<host::NameSpace> ns_;
  std::unique_ptr<Context> ctx_;
};

}  // namespace plexisync::testing

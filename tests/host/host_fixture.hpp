#pragma once
// A profile in a temporary folder with a manual clock, a scripted person and
// an in-memory transport, and the application running on them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/transport/transport.hpp"
#include "platform/keystore.hpp"
#include "platform/ui/user.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace host::testing {

// Keeps every sent message in the mailboxes of its envelope recipients.
class MemoryTransport : public Transport {
 public:
  void Send(const MailMessage& message, const std::vector<std::string>& envelope) override {
    if (failSend) throw TransportError("delivery refused");
    sent.push_back({message, envelope});
    for (const auto& a : envelope) boxes[a].push_back(message);
  }
  std::vector<MailMessage> Fetch(const std::string& address) override {
    auto out = std::move(boxes[address]);
    boxes[address].clear();
    return out;
  }
  struct Sent {
    MailMessage message;
    std::vector<std::string> envelope;
  };
  std::vector<Sent> sent;
  std::map<std::string, std::vector<MailMessage>> boxes;
  bool failSend = false;
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("plexisync-host-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    profile_ = std::make_unique<Profile>(
        Profile::Create(dir_ / "alice", "Alice Adams", "alice@example.org", dir_ / "postoffice"));
    Start();
  }
  void TearDown() override {
    app_.reset();
    keys_.reset();
    std::filesystem::remove_all(dir_);
  }
  // (Re)starts the application on the profile.
  void Start() {
    app_.reset();
    keys_ = profile_->OpenKeyStore();
    app_ = std::make_unique<Application>(*profile_, HostServices{clock_, user_, transport_, *keys_});
    ns_ = app_->Session();
  }
  std::shared_ptr<Folder> Contacts() { return ns_->GetDefaultFolder(kFolderContacts); }
  std::shared_ptr<ContactItem> NewContact(const std::shared_ptr<Folder>& folder, const std::string& name) {
    auto c = std::dynamic_pointer_cast<ContactItem>(folder->Items()->Add("IPM.Contact"));
    c->SetFullName(name);
    c->Save();
    return c;
  }
  std::filesystem::path dir_;
  std::unique_ptr<Profile> profile_;
  platform::ManualClock clock_;
  platform::ScriptedUser user_;
  MemoryTransport transport_;
  std::unique_ptr<platform::KeyStore> keys_;
  std::unique_ptr<Application> app_;
  std::shared_ptr<NameSpace> ns_;
};

}  // namespace host::testing

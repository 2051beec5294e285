#pragma once
// A profile in a temporary folder with a manual clock in a zone two hours
// ahead of UTC, a scripted person and an in-memory transport, and the
// application running on them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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
// Fetch claims what waits in `boxes` under keys "m1", "m2"... into `claimed`,
// where it stays until acknowledged.
class MemoryTransport : public Transport {
 public:
  void Send(const MailMessage& message, const std::vector<std::string>& envelope) override {
    if (failSend) throw TransportError("delivery refused");
    sent.push_back({message, envelope});
    for (const auto& a : envelope) boxes[a].push_back(message);
  }
  std::unique_ptr<FetchedMail> Fetch(const std::string& address) override {
    auto& mine = claimed[address];
    for (auto& m : boxes[address]) mine.emplace_back("m" + std::to_string(++lastKey), std::move(m));
    boxes[address].clear();
    return std::make_unique<Fetched>(*this, address);
  }
  struct Sent {
    MailMessage message;
    std::vector<std::string> envelope;
  };
  std::vector<Sent> sent;
  std::map<std::string, std::vector<MailMessage>> boxes;
  std::map<std::string, std::vector<std::pair<std::string, MailMessage>>> claimed;
  bool failSend = false;
  int lastKey = 0;

 private:
  class Fetched : public FetchedMail {
   public:
    Fetched(MemoryTransport& t, std::string address) : t_(t), address_(std::move(address)) {
      for (const auto& [key, m] : t_.claimed[address_]) keys_.push_back(key);
    }
    const std::vector<std::string>& Keys() const override { return keys_; }
    const std::vector<std::string>& Problems() const override { return problems_; }
    ArrivedMessage Read(const std::string& key) override {
      for (const auto& [k, m] : t_.claimed[address_]) {
        if (k == key) return ArrivedMessage{key, m, {}, {}, {}};
      }
      throw TransportError("no such message: " + key);
    }
    void Acknowledge(const std::string& key) override {
      auto& list = t_.claimed[address_];
      list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& e) { return e.first == key; }), list.end());
    }

   private:
    MemoryTransport& t_;
    std::string address_;
    std::vector<std::string> keys_, problems_;
  };
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
    app_ = std::make_unique<Application>(*profile_, HostServices{clock_, user_, *activeTransport_, *keys_, zone_});
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
  // Two hours ahead of UTC, so that local and UTC times differ.
  platform::FixedTimeZone zone_{-120};
  platform::ScriptedUser user_;
  MemoryTransport transport_;
  Transport* activeTransport_ = &transport_;  // what Start() runs the application on
  std::unique_ptr<platform::KeyStore> keys_;
  std::unique_ptr<Application> app_;
  std::shared_ptr<NameSpace> ns_;
};

}  // namespace host::testing

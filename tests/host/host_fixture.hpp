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
#include "support/memory_transport.hpp"
#include "support/scripted_user.hpp"

namespace host::testing {

using host::MemoryTransport;

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

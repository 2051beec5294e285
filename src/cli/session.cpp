#include "cli/session.hpp"

#include <iostream>

#include "host/transport/transport.hpp"
#include "platform/keystore.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/storage/registry.hpp"

namespace cli {

ProfileSession::ProfileSession(const std::filesystem::path& profileDir, SessionServices services,
                               SessionOptions options)
    : services_(services) {
  // A folder without a profile gets the profile's own error before any lock file is made.
  if (!host::Profile::Exists(profileDir)) host::Profile::Open(profileDir);
  host::ProfileLockOptions lockOptions = options.lock;
  if (!lockOptions.onWait) lockOptions.onWait = [](const std::string& m) { std::cerr << m << std::endl; };
  lock_.emplace(host::ProfileLock::Acquire(profileDir, lockOptions));
  profile_ = std::make_unique<host::Profile>(host::Profile::Open(profileDir));
  // The profile's lock keeps every other process out of the hive.
  keys_ = profile_->OpenKeyStore(platform::KeyStore::Sharing::kSoleUser);
  host::Transport* transport = services_.transport;
  if (!transport) {
    ownTransport_ = profile_->MakeTransport(services_.passwordPrompt, services_.transferProgress);
    transport = ownTransport_.get();
  }
  app_ = std::make_unique<host::Application>(
      *profile_, host::HostServices{services_.clock, services_.user, *transport, *keys_, services_.timeZone});

  if (options.loadAddin) {
    platform::KeyStore* hive = keys_.get();
    plexisync::AddinServices addin{
        services_.user,
        services_.clock,
        services_.timeZone,
        [hive](std::int32_t root) -> platform::KeyStore* {
          return root == plexisync::HKEY_CURRENT_USER ? hive : nullptr;
        },
        services_.shell,
        services_.web,
        services_.clipboard,
    };
    ctx_ = std::make_unique<plexisync::Context>(std::move(addin));
    appl_ = std::make_unique<plexisync::Appl>(*ctx_);
    if (options.beforeStart) options.beforeStart(*ctx_, *appl_);
    appl_->Init(*app_);
    appl_->SetUp();
  }
}

ProfileSession::~ProfileSession() {
  try {
    Close();
  } catch (...) {
    // Ending a session never fails.
  }
}

host::Application& ProfileSession::App() {
  if (!app_) throw host::HostError("The session of profile " + profile_->Dir().string() + " is closed.");
  return *app_;
}

void ProfileSession::DoEvents() {
  if (app_) app_->DoEvents();
}

std::vector<std::string> ProfileSession::TakeEscapedErrors() {
  std::vector<std::string> errors = std::move(escaped_);
  escaped_.clear();
  if (app_) {
    for (auto& e : app_->EscapedErrors()) errors.push_back(e);
    app_->ClearEscapedErrors();
  }
  return errors;
}

void ProfileSession::Close() {
  if (!app_) return;
  app_->DoEvents();
  // Closing the windows as the person does; the add-in's close handler shuts
  // it down when the last one goes. A window whose close fails is left to the
  // application's own end.
  for (int guard = 0; guard < 1000; ++guard) {
    auto explorers = app_->Explorers();
    if (explorers->Count() == 0) break;
    auto explorer = explorers->Item(1);
    explorer->Close();
    if (!explorer->IsClosed()) break;
  }
  for (auto& e : app_->EscapedErrors()) escaped_.push_back(e);
  app_->ClearEscapedErrors();
  appl_.reset();
  // The add-in's windows end with the process: the options window first, so
  // that the end of the own-address window does not bring it back on screen.
  if (ctx_) ctx_->DropForm<plexisync::AdvSettings>();
  ctx_.reset();
  app_.reset();
  ownTransport_.reset();
  keys_.reset();
  lock_.reset();
}

}  // namespace cli

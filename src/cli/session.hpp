#pragma once
// One running mail client on one profile, with the add-in loaded: what the
// program does around every command, and what a desktop front end or a test
// that runs several profiles side by side in one process needs.
//
// Opening a session opens the profile, its key store hive and its transport,
// starts the client (host::Application, which opens one explorer window on
// the Inbox) and then loads the add-in as the client's add-in connection
// does: Appl::Init with the application, then Appl::SetUp. Closing delivers
// the queued events, closes the explorer windows (closing the last one runs
// the add-in's ShutDown) and releases the add-in object and the client.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/profile.hpp"
#include "host/profile_lock.hpp"

namespace platform {
class UserInterface;
class Clock;
class TimeZoneInfo;
class Shell;
class WebClient;
class Clipboard;
class KeyStore;
}  // namespace platform

namespace host {
class Transport;
}

namespace plexisync {
class Context;
class Appl;
}  // namespace plexisync

namespace cli {

// What a session runs on. Everything referenced must outlive the session.
struct SessionServices {
  platform::UserInterface& user;
  platform::Clock& clock;
  const platform::TimeZoneInfo& timeZone;
  platform::Shell* shell = nullptr;
  platform::WebClient* web = nullptr;
  platform::Clipboard* clipboard = nullptr;
  // When set, used instead of the transport the profile names (tests).
  host::Transport* transport = nullptr;
  // For the transport the profile names: asks for the mail account's
  // password (unset: nobody to ask) and shows how a transfer goes.
  host::PasswordPrompt passwordPrompt = {};
  host::TransferProgress transferProgress = {};
};

struct SessionOptions {
  // Load the add-in (Init, SetUp) after the client has opened the profile.
  bool loadAddin = true;
  // Runs once the add-in's context and object exist, before Init and SetUp:
  // the place to wire in parts of the add-in that hook into it (the inbox
  // processing behind Appl::ProceedInbox, Context::Import_file, ...).
  std::function<void(plexisync::Context&, plexisync::Appl&)> beforeStart;
  // Another process has the profile open: the session waits for it. How
  // long, and where the notice goes (standard error when `onWait` is not
  // set).
  host::ProfileLockOptions lock;
};

class ProfileSession {
 public:
  // Opens the profile in `profileDir`; host::HostError when there is none.
  // Holds the profile's lock until Close(), so that one process at a time
  // works on a profile (see host::ProfileLock).
  ProfileSession(const std::filesystem::path& profileDir, SessionServices services, SessionOptions options = {});
  // Close(), errors passed over.
  ~ProfileSession();
  ProfileSession(const ProfileSession&) = delete;
  ProfileSession& operator=(const ProfileSession&) = delete;

  host::Profile& Profile() { return *profile_; }
  host::Application& App();
  std::shared_ptr<host::NameSpace> Session() { return App().Session(); }
  platform::KeyStore& Keys() { return *keys_; }
  const SessionServices& Services() const { return services_; }

  // The add-in's context and object; null when the add-in is not loaded or
  // the session is closed.
  plexisync::Context* Addin() { return ctx_.get(); }
  plexisync::Appl* AddinObject() { return appl_.get(); }

  bool IsOpen() const { return app_ != nullptr; }

  // Runs `action` as the person's own action (host::PersonScope): the
  // security guard does not ask.
  template <class F>
  decltype(auto) AsPerson(F&& action) {
    host::PersonScope scope(App());
    return std::forward<F>(action)();
  }

  // The client's message loop: delivers every queued event.
  void DoEvents();
  // Messages of exceptions that event handlers let out since the last call.
  std::vector<std::string> TakeEscapedErrors();

  // Delivers the queued events, closes every explorer window (the add-in
  // shuts down with the last one), ends the add-in object and the client.
  // Further calls do nothing.
  void Close();

 private:
  SessionServices services_;
  std::optional<host::ProfileLock> lock_;
  std::unique_ptr<host::Profile> profile_;
  std::unique_ptr<platform::KeyStore> keys_;
  std::unique_ptr<host::Transport> ownTransport_;
  std::unique_ptr<host::Application> app_;
  std::unique_ptr<plexisync::Context> ctx_;
  std::unique_ptr<plexisync::Appl> appl_;
  // Escaped errors kept when the client ends.
  std::vector<std::string> escaped_;
};

}  // namespace cli

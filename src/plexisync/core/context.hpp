#pragma once
// Everything one running add-in holds: what the classic add-in kept in
// process-wide globals lives here, one context per add-in, so that several
// users' add-ins can run side by side in one process.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <typeindex>
#include <unordered_map>

#include "platform/clock.hpp"
#include "platform/ui/form.hpp"
#include "plexisync/dialogs/progress.hpp"
#include "plexisync/storage/registry.hpp"

namespace platform {
class UserInterface;
class Shell;
class WebClient;
class Clipboard;
}  // namespace platform

namespace host {
class Application;
class Folder;
}  // namespace host

namespace plexisync {

class fExps;

// The platform services the add-in reaches the outside world through.
struct AddinServices {
  platform::UserInterface& user;
  const platform::Clock& clock;
  const platform::TimeZoneInfo& timeZone;
  // The hive behind each predefined root key (the current user's one at least).
  CRegistry::HiveProvider hives;
  platform::Shell* shell = nullptr;
  platform::WebClient* web = nullptr;
  platform::Clipboard* clipboard = nullptr;
};

// Raised when a released global (the application after shut-down, the
// registry accessor) is used, as the classic platform's error 91 was.
inline constexpr std::int32_t kErrObjectNotSet = 91;
// Raised when a file is wanted before the installation folder is known, as
// the classic platform's error 76.
inline constexpr std::int32_t kErrPathNotFound = 76;

class Context {
 public:
  explicit Context(AddinServices services);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  AddinServices svc;

  // `App`: the client's application object; null before Init and after ShutDown.
  host::Application* App = nullptr;
  // `Reg`: the one registry accessor; null before RegInit and after ShutDown.
  std::unique_ptr<CRegistry> Reg;
  // `RegKey`: the profile key path, "Software\Quorvane\Plexisync\default\".
  std::string RegKey;
  // `InstDir`: the installation folder with its trailing separator. Empty
  // until it is known: Init sets the profile's own add-in folder, SetUp the
  // stored "InstDir" when there is one.
  std::string InstDir;
  // `Exps`: the explorer wrappers.
  std::unique_ptr<fExps> Exps;
  // `ActiveExpId`: the wrapper whose window was activated last.
  std::int16_t ActiveExpId = 0;
  // Set once the send routine has handed an error report over (a report
  // whose send failed does not count).
  bool ReportSent = false;
  // The update mails (by entry id) whose blocks are being applied right now:
  // a scan run while the apply yields to the message loop leaves them alone.
  std::set<std::string> MailsBeingApplied;
  // Update mails (by entry id) from a sender who is not a member of their
  // folder, whose question nobody answered: they stay in the Inbox and are
  // not asked about again until the next send/receive the person starts.
  std::set<std::string> MailsAwaitingConsent;

  // Routines of parts that are wired in after the add-in's spine; each is
  // empty until its part sets it, and an empty one does nothing.
  // `Import_file`: imports a personal-folders file into the folder; true
  // when the import ran (used by the options window's "Import..."). Runs
  // plexisync::Import_file unless replaced.
  std::function<bool(const std::shared_ptr<host::Folder>&)> Import_file;
  // Unloads the share wizard's form (run first by ShutDown); while empty,
  // ShutDown drops the wizard's default instance itself.
  std::function<void()> UnloadMainForm;

  // The application and the registry accessor; AddinError 91 when released.
  host::Application& app() const;
  CRegistry& reg() const;
  // InstDir followed by the file name. Throws AddinError while the
  // installation folder is not known, so that nothing is ever written to a
  // file named relative to whatever the working folder happens to be.
  std::string InstallFile(const std::string& name) const;

  // Yields to the client's message loop (pending events run).
  void DoEvents() const;
  platform::DateTime Now() const { return svc.clock.Now(); }

  // The default instance of a form: created (and bound to the user interface)
  // on first use, kept until the context ends or the form is dropped.
  template <class F>
  F& Form() {
    auto it = forms_.find(std::type_index(typeid(F)));
    if (it == forms_.end()) {
      std::unique_ptr<platform::Form> made;
      if constexpr (std::is_constructible_v<F, Context&>) {
        made = std::make_unique<F>(*this);
      } else {
        made = std::make_unique<F>();
      }
      made->SetUser(&svc.user);
      it = forms_.emplace(std::type_index(typeid(F)), std::move(made)).first;
    }
    return static_cast<F&>(*it->second);
  }
  template <class F>
  bool HasForm() const {
    return forms_.count(std::type_index(typeid(F))) != 0;
  }
  // Unloads and forgets the form's default instance.
  template <class F>
  void DropForm() {
    auto it = forms_.find(std::type_index(typeid(F)));
    if (it == forms_.end()) return;
    auto form = std::move(it->second);
    forms_.erase(it);
    if (form->IsLoaded()) form->Unload();
  }
  ProgressForm& Progress() { return Form<ProgressForm>(); }

 private:
  std::unordered_map<std::type_index, std::unique_ptr<platform::Form>> forms_;
};

}  // namespace plexisync

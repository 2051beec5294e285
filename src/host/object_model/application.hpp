#pragma once
// The application object and the person/program caller scope.
#include "host/object_model/base.hpp"

namespace host {

class Application : public Object {
 public:
  // Opens the profile's default store. The profile and the services must
  // outlive the application.
  Application(host::Profile& profile, HostServices services);
  ~Application() override;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  std::shared_ptr<NameSpace> Session();
  std::shared_ptr<Explorer> ActiveExplorer();  // null when no explorer is open
  std::shared_ptr<host::Explorers> Explorers();
  // A new unsent mail item (CreateItem(0)).
  std::shared_ptr<MailItem> CreateMailItem();
  // 0: mail item, 2: contact item (kept in the default Contacts folder).
  std::shared_ptr<Item> CreateItem(int itemType);
  std::string Version() const;
  std::string DefaultValue() const override { return "Outlook"; }

  // The safe-item library's objects, named after their ProgIDs
  // "Redemption.SafeContactItem", "Redemption.SafeMailItem" and
  // "Redemption.MAPIUtils" (failure injection: "CreateObject:<ProgID>").
  std::shared_ptr<SafeContactItem> CreateSafeContactItem();
  std::shared_ptr<SafeMailItem> CreateSafeMailItem();
  std::shared_ptr<MapiUtils> CreateMapiUtils();

  // The message loop: delivers every queued event, one at a time, including
  // those queued meanwhile. Handlers may call DoEvents again.
  void DoEvents();
  // Queues a call for the message loop.
  void PostEvent(std::function<void()> call);
  std::size_t PendingEvents() const;
  // Messages of exceptions that handlers let out, oldest first.
  const std::vector<std::string>& EscapedErrors() const;
  void ClearEscapedErrors();

  FaultInjector& Faults();
  CallerMode Mode() const;
  const host::Profile& Profile() const;
  const HostServices& Services() const;

 private:
  friend class PersonScope;
  std::shared_ptr<detail::Core> core_;
};

// Marks the person's own actions: while it lives, calls are the person's and
// the security guard does not ask.
class PersonScope {
 public:
  explicit PersonScope(Application& app);
  ~PersonScope();
  PersonScope(const PersonScope&) = delete;
  PersonScope& operator=(const PersonScope&) = delete;

 private:
  std::shared_ptr<detail::Core> core_;
  CallerMode previous_;
};

}  // namespace host

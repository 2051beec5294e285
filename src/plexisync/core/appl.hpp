#pragma once
// The add-in object: the one object the client's add-in connection creates.
// It takes the client's application object (Init), starts the add-in
// (SetUp) and owns the three item-added subscriptions: arrivals in the Inbox
// start the inbox processing, update mails that land in Sent Items or
// Deleted Items are deleted at once.
//
// Every entry point catches everything: no exception reaches the client.
#include <functional>
#include <memory>
#include <string>

#include "host/subscription.hpp"

namespace host {
class Application;
class Item;
}  // namespace host

namespace plexisync {

class Context;

// The subject of every update mail.
inline constexpr const char* kUpdateMailSubject = "3830308006600";

class Appl {
 public:
  explicit Appl(Context& ctx);
  // Class_Terminate.
  ~Appl();
  Appl(const Appl&) = delete;
  Appl& operator=(const Appl&) = delete;

  // Stores the application object in `App` and, while the installation
  // folder is not known yet, takes the profile's own add-in folder for it
  // ("AppInit"). Must come before SetUp.
  void Init(host::Application& app);
  // The start-up sequence ("AppSetUp"): registry start-up, InstDir, the
  // layout-version check, the three subscriptions, the first-start greeting
  // with the own-address list, the explorer wrappers, and the options
  // window loaded hidden. Steps already done stay done after a failure.
  void SetUp();
  // Drops the three subscriptions (sent, ibx, sh), errors passed over.
  void Class_Terminate();

  // An item arrived in the Inbox: runs the inbox processing; the item itself
  // is not passed on. Any error ends the handler quietly.
  void ibx_ItemAdd(const std::shared_ptr<host::Item>& item);
  // An item arrived in Deleted Items: deleted when it is an update mail
  // ("App_SentAdd").
  void sent_ItemAdd(const std::shared_ptr<host::Item>& item);
  // An item arrived in Sent Items: deleted when it is an update mail; every
  // error passed over, nothing done for a null item.
  void sh_ItemAdd(const std::shared_ptr<host::Item>& item);

  // The inbox processing, run by ibx_ItemAdd: Proceed_Inbox unless
  // replaced; an empty hook does nothing.
  std::function<void()> ProceedInbox;

  // True while each subscription is in force (for diagnostics and tests).
  bool WatchesInbox() const { return ibx.Active(); }
  bool WatchesDeletedItems() const { return sent.Active(); }
  bool WatchesSentItems() const { return sh.Active(); }

 private:
  // Resets the profile key when its layout version is not the current one.
  // No handler of its own: a failure ends SetUp.
  void CheckVersion();
  // The first-start greeting and the own-address list.
  void FirstStart();

  Context& ctx_;
  host::Subscription ibx;   // Inbox (6)
  host::Subscription sent;  // Deleted Items (3)
  host::Subscription sh;    // Sent Items (5)
};

// The update-mail test of the two deleting handlers: the item's default
// value (a mail's subject) equals kUpdateMailSubject exactly.
bool IsUpdateMail(const host::Item& item);

}  // namespace plexisync

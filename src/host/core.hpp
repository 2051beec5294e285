#pragma once
// The shared state behind every object of one application: the open
// stores, the message loop's queue, the subscriptions, the explorers, the
// caller mode and the guard. Internal to the object model.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/object_model.hpp"
#include "host/store.hpp"
#include "platform/ui/form.hpp"

namespace host::detail {

// An Outbox mail whose sending went further than the store could record:
// delivered but not moved to Sent Items, or not delivered but still marked
// as being sent (then `beforeSending` is the record to put back).
struct UnfinishedSend {
  bool delivered = false;
  ItemRecord beforeSending;
};

struct Core : std::enable_shared_from_this<Core> {
  Core(host::Profile& profile, HostServices services) : profile(profile), services(services) {}

  host::Profile& profile;
  HostServices services;
  std::vector<std::shared_ptr<Store>> stores;  // the default store first
  FaultInjector faults;
  CallerMode mode = CallerMode::kProgram;
  std::optional<platform::DateTime> addressAllowedUntil;
  std::deque<std::function<void()>> queue;
  std::vector<std::string> escaped;
  std::vector<std::string> syncErrors;
  std::map<std::uint32_t, UnfinishedSend> unfinishedSends;  // by item number in the default store
  std::vector<std::shared_ptr<Explorer>> explorers;
  std::shared_ptr<Explorer> active;
  int nextExplorerId = 1;
  EventSource<std::shared_ptr<Explorer>> newExplorer;
  EventSource<> syncStart;
  EventSource<> syncEnd;
  std::map<std::pair<StoreId, std::uint32_t>, EventSource<std::shared_ptr<Item>>> itemAdd;
  std::vector<std::unique_ptr<platform::Form>> openForms;  // modeless editors
  std::shared_ptr<CommandBarsRegistry> commandBars = std::make_shared<CommandBarsRegistry>();
  bool shutDown = false;

  // Counts the call for failure injection; throws when it is to fail or
  // the application is gone.
  void Check(std::string_view operation);
  // Runs an event handler as a program call; an exception it lets out is
  // kept in `escaped`.
  void RunHandler(const std::function<void()>& handler);
  template <class... Args, class... Passed>
  void Raise(const EventSource<Args...>& source, Passed&&... args) {
    for (const auto& slot : source.Snapshot()) {
      if (!slot->active) continue;
      RunHandler([&] { slot->handler(args...); });
    }
  }
  // Queues the item-added event of the folder for its subscribers.
  void ItemAdded(const std::shared_ptr<Store>& store, std::uint32_t folder, std::uint32_t item);

  // The security guard: asks the person when a program reads protected
  // data or sends; throws HostError when they refuse.
  void GuardAddressRead();
  void GuardSend();

  Store& DefaultStore();
  std::shared_ptr<Store> FindStore(const StoreId& id) const;
  std::shared_ptr<Folder> MakeFolder(const std::shared_ptr<Store>& store, std::uint32_t number);
  std::shared_ptr<Item> MakeItem(const std::shared_ptr<Store>& store, std::uint32_t number);
  std::shared_ptr<Folder> DefaultFolder(FolderRole role);

  void Shutdown();
};

// The store must be open and the folder present, else HostError.
const FolderRecord& FolderOf(const Store& store, std::uint32_t number);
void RequireOpen(const Store& store);

}  // namespace host::detail

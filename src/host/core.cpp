#include "host/core.hpp"

#include <algorithm>

#include "platform/text.hpp"
#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"

namespace host {
namespace detail {

namespace {
constexpr const char* kGuardTitle = "Security Warning";
constexpr const char* kAddressPrompt =
    "A program is trying to access e-mail addresses you have stored. Do you want to allow this?";
constexpr const char* kSendPrompt =
    "A program is trying to automatically send e-mail on your behalf. Do you want to allow this?";
}  // namespace

void Core::Check(std::string_view operation) {
  if (shutDown) throw HostError("The application has been closed.");
  faults.Check(operation);
}

void Core::RunHandler(const std::function<void()>& handler) {
  CallerMode previous = mode;
  mode = CallerMode::kProgram;
  try {
    handler();
  } catch (const std::exception& e) {
    escaped.emplace_back(e.what());
  } catch (...) {
    escaped.emplace_back("An unknown error left an event handler.");
  }
  mode = previous;
}

void Core::ItemAdded(const std::shared_ptr<Store>& store, std::uint32_t folder, std::uint32_t item) {
  auto it = itemAdd.find({store->Id(), folder});
  if (it == itemAdd.end()) return;
  std::weak_ptr<Core> weak = weak_from_this();
  for (const auto& slot : it->second.Snapshot()) {
    queue.push_back([weak, slot, store, item] {
      auto core = weak.lock();
      if (!core || !slot->active || !store->IsOpen() || !store->Item(item)) return;
      slot->handler(core->MakeItem(store, item));
    });
  }
}

void Core::GuardAddressRead() {
  if (mode == CallerMode::kPerson) return;
  platform::DateTime now = services.clock.Now();
  if (addressAllowedUntil && now < *addressAllowedUntil) return;
  auto answer = services.ui.MessageBox(kAddressPrompt, kGuardTitle, platform::MsgBoxButtons::YesNo,
                                       platform::MsgBoxIcon::Exclamation);
  if (answer != platform::MsgBoxResult::Yes) throw HostError(kAccessDeniedMessage);
  addressAllowedUntil = now.AddMinutes(10);
}

void Core::GuardSend() {
  if (mode == CallerMode::kPerson) return;
  auto answer = services.ui.MessageBox(kSendPrompt, kGuardTitle, platform::MsgBoxButtons::YesNo,
                                       platform::MsgBoxIcon::Exclamation);
  if (answer != platform::MsgBoxResult::Yes) throw HostError(kAccessDeniedMessage);
}

Store& Core::DefaultStore() {
  if (stores.empty() || !stores.front()->IsOpen()) throw HostError("The default store is not open.");
  return *stores.front();
}

std::shared_ptr<Store> Core::FindStore(const StoreId& id) const {
  for (const auto& s : stores) {
    if (s->IsOpen() && s->Id() == id) return s;
  }
  return nullptr;
}

std::shared_ptr<Folder> Core::MakeFolder(const std::shared_ptr<Store>& store, std::uint32_t number) {
  return std::make_shared<Folder>(shared_from_this(), store, number);
}

std::shared_ptr<Item> Core::MakeItem(const std::shared_ptr<Store>& store, std::uint32_t number) {
  const ItemRecord* r = store->Item(number);
  if (!r) throw HostError(kNotFoundMessage);
  if (r->kind == ItemKind::kContact) return std::make_shared<ContactItem>(shared_from_this(), store, number, r->folder);
  return std::make_shared<MailItem>(shared_from_this(), store, number, r->folder);
}

std::shared_ptr<Folder> Core::DefaultFolder(FolderRole role) {
  Store& s = DefaultStore();
  std::uint32_t n = s.FolderByRole(role);
  if (n == 0) throw HostError(kNotFoundMessage);
  return MakeFolder(stores.front(), n);
}

void Core::Shutdown() {
  shutDown = true;
  queue.clear();
  explorers.clear();
  active.reset();
  openForms.clear();
  itemAdd.clear();
  newExplorer = {};
  syncStart = {};
  syncEnd = {};
  for (auto& s : stores) s->Close();
  stores.clear();
}

void RequireOpen(const Store& store) {
  if (!store.IsOpen()) throw HostError("The personal folders file " + store.Path().string() + " is not open.");
}

const FolderRecord& FolderOf(const Store& store, std::uint32_t number) {
  RequireOpen(store);
  const FolderRecord* f = store.Folder(number);
  if (!f) throw HostError(kNotFoundMessage);
  return *f;
}

}  // namespace detail

}  // namespace host

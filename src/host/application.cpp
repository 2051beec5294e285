// The application object: opening the profile's store, the message loop,
// object factories and the caller scope.
#include "host/core.hpp"

namespace host {

Application::Application(host::Profile& profile, HostServices services)
    : core_(std::make_shared<detail::Core>(profile, services)) {
  core_->stores.push_back(detail::Store::Open(profile.StorePath(), detail::StoreLayout::kDefault));
  // The client opens with one explorer window on the Inbox.
  auto inbox = core_->DefaultFolder(detail::FolderRole::kInbox);
  auto explorer = std::make_shared<Explorer>(core_, inbox, core_->nextExplorerId++, core_->commandBars);
  core_->explorers.push_back(explorer);
  core_->active = explorer;
}

Application::~Application() { core_->Shutdown(); }

std::shared_ptr<NameSpace> Application::Session() {
  core_->Check("Application.Session");
  return std::make_shared<NameSpace>(core_);
}

std::shared_ptr<Explorer> Application::ActiveExplorer() {
  core_->Check("Application.ActiveExplorer");
  return core_->active;
}

std::shared_ptr<Explorers> Application::Explorers() {
  core_->Check("Application.Explorers");
  return std::make_shared<host::Explorers>(core_);
}

std::shared_ptr<MailItem> Application::CreateMailItem() {
  core_->Check("Application.CreateItem");
  auto outbox = core_->DefaultFolder(detail::FolderRole::kOutbox);
  return std::make_shared<MailItem>(core_, core_->stores.front(), 0, outbox->Number());
}

std::shared_ptr<Item> Application::CreateItem(int itemType) {
  if (itemType == kMailItem) return CreateMailItem();
  core_->Check("Application.CreateItem");
  if (itemType != kContactItem) throw HostError("Could not create the item: type " + std::to_string(itemType) + ".");
  auto contacts = core_->DefaultFolder(detail::FolderRole::kContacts);
  return std::make_shared<ContactItem>(core_, core_->stores.front(), 0, contacts->Number());
}

std::string Application::Version() const {
  core_->Check("Application.Version");
  return "10.0.6626";
}

std::shared_ptr<SafeContactItem> Application::CreateSafeContactItem() {
  core_->Check("CreateObject:Redemption.SafeContactItem");
  return std::make_shared<SafeContactItem>(core_);
}

std::shared_ptr<SafeMailItem> Application::CreateSafeMailItem() {
  core_->Check("CreateObject:Redemption.SafeMailItem");
  return std::make_shared<SafeMailItem>(core_);
}

std::shared_ptr<MapiUtils> Application::CreateMapiUtils() {
  core_->Check("CreateObject:Redemption.MAPIUtils");
  return std::make_shared<MapiUtils>(core_);
}

void Application::DoEvents() {
  // One event at a time, so that a handler calling DoEvents again takes the
  // next one and nothing runs twice.
  while (!core_->queue.empty()) {
    auto call = std::move(core_->queue.front());
    core_->queue.pop_front();
    core_->RunHandler(call);
  }
}

void Application::PostEvent(std::function<void()> call) { core_->queue.push_back(std::move(call)); }
std::size_t Application::PendingEvents() const { return core_->queue.size(); }
const std::vector<std::string>& Application::EscapedErrors() const { return core_->escaped; }
void Application::ClearEscapedErrors() { core_->escaped.clear(); }
FaultInjector& Application::Faults() { return core_->faults; }
CallerMode Application::Mode() const { return core_->mode; }
const host::Profile& Application::Profile() const { return core_->profile; }
const HostServices& Application::Services() const { return core_->services; }

PersonScope::PersonScope(Application& app) : core_(app.core_), previous_(app.core_->mode) {
  core_->mode = CallerMode::kPerson;
}
PersonScope::~PersonScope() { core_->mode = previous_; }

}  // namespace host

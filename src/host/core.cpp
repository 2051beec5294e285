#include "host/core.hpp"

#include <algorithm>

#include "host/transport/mail_message.hpp"
#include "host/transport/mime.hpp"
#include "host/transport/transport.hpp"
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

// ---- Application ----

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

// ---- Explorers ----

Explorer::Explorer(std::weak_ptr<detail::Core> core, std::shared_ptr<Folder> folder, int id,
                   std::shared_ptr<CommandBarsRegistry> registry)
    : core_(std::move(core)),
      folder_(std::move(folder)),
      id_(id),
      bars_(std::make_unique<host::CommandBars>(std::move(registry))) {}

Explorer::~Explorer() = default;

host::CommandBars& Explorer::CommandBars() {
  Core()->Check("Explorer.CommandBars");
  if (closed_ || !bars_) throw HostError("The explorer window is closed.");
  return *bars_;
}

void Explorer::AttachView(const std::shared_ptr<View>& view) {
  std::weak_ptr<Folder> folder = folder_;
  std::weak_ptr<Explorer> self = weak_from_this();
  View* raw = view.get();
  view->SetApplyCallback([self, folder, raw](View& v) {
    auto f = folder.lock();
    if (!f) return;
    f->SetViewXml(v.XML());
    auto explorer = self.lock();
    if (explorer && explorer->view_.get() == raw) explorer->viewSource_ = v.XML();
  });
  view_ = view;
  viewSource_ = folder_->ViewXml();
}

std::shared_ptr<View> Explorer::CurrentView() {
  Core()->Check("Explorer.CurrentView");
  if (closed_) throw HostError("The explorer window is closed.");
  // A definition changed elsewhere since the view was made is shown afresh.
  if (view_ && folder_->ViewXml() != viewSource_) view_.reset();
  if (!view_) {
    std::string xml = folder_->ViewXml();
    std::string name;
    auto open = xml.find("<viewname>");
    auto close = xml.find("</viewname>");
    if (open != std::string::npos && close != std::string::npos && close > open) {
      name = xml.substr(open + 10, close - open - 10);
    }
    AttachView(std::make_shared<View>(name, xml));
  }
  return view_;
}

void Explorer::SetCurrentView(const std::shared_ptr<View>& view) {
  Core()->Check("Explorer.SetCurrentView");
  if (closed_) throw HostError("The explorer window is closed.");
  if (!view) throw HostError(kNotFoundMessage);
  AttachView(view);
}

std::shared_ptr<detail::Core> Explorer::Core() const {
  auto core = core_.lock();
  if (!core || core->shutDown) throw HostError("The application has been closed.");
  return core;
}

std::string Explorer::Caption() const {
  try {
    return folder_ ? folder_->Name() : std::string();
  } catch (const HostError&) {
    return {};
  }
}

std::shared_ptr<Folder> Explorer::CurrentFolder() const {
  Core()->Check("Explorer.CurrentFolder");
  if (closed_) throw HostError("The explorer window is closed.");
  return folder_;
}

void Explorer::SetCurrentFolder(const std::shared_ptr<Folder>& folder) {
  auto core = Core();
  core->Check("Explorer.SetCurrentFolder");
  if (closed_) throw HostError("The explorer window is closed.");
  if (!folder) throw HostError(kNotFoundMessage);
  folder->Name();  // the folder must exist
  bool cancel = false;
  core->Raise(beforeSwitch_, folder, cancel);
  if (cancel) return;
  folder_ = folder;
  view_.reset();  // the new folder shows its own view
  core->Raise(folderSwitch_);
}

void Explorer::Activate() {
  auto core = Core();
  core->Check("Explorer.Activate");
  if (closed_) throw HostError("The explorer window is closed.");
  core->active = shared_from_this();
  core->Raise(activate_);
}

void Explorer::Close() {
  auto core = Core();
  core->Check("Explorer.Close");
  if (closed_) return;
  core->Raise(close_);
  closed_ = true;
  bars_.reset();
  view_.reset();
  auto self = shared_from_this();
  std::erase(core->explorers, self);
  if (core->active == self) core->active = core->explorers.empty() ? nullptr : core->explorers.back();
}

Subscription Explorer::OnActivate(std::function<void()> handler) { return activate_.Add(std::move(handler)); }
Subscription Explorer::OnBeforeFolderSwitch(std::function<void(std::shared_ptr<Folder>, bool&)> handler) {
  return beforeSwitch_.Add(std::move(handler));
}
Subscription Explorer::OnFolderSwitch(std::function<void()> handler) { return folderSwitch_.Add(std::move(handler)); }
Subscription Explorer::OnClose(std::function<void()> handler) { return close_.Add(std::move(handler)); }

int Explorers::Count() const {
  core_->Check("Explorers.Count");
  return static_cast<int>(core_->explorers.size());
}

std::shared_ptr<Explorer> Explorers::Item(int index) const {
  core_->Check("Explorers.Item");
  if (index < 1 || index > static_cast<int>(core_->explorers.size())) throw HostError("Array index out of bounds.");
  return core_->explorers[static_cast<std::size_t>(index - 1)];
}

std::shared_ptr<Explorer> Explorers::Add(const std::shared_ptr<Folder>& folder) {
  core_->Check("Explorers.Add");
  if (!folder) throw HostError(kNotFoundMessage);
  folder->Name();
  auto explorer = std::make_shared<Explorer>(core_, folder, core_->nextExplorerId++, core_->commandBars);
  core_->explorers.push_back(explorer);
  core_->Raise(core_->newExplorer, explorer);
  return explorer;
}

Subscription Explorers::OnNewExplorer(std::function<void(std::shared_ptr<Explorer>)> handler) {
  return core_->newExplorer.Add(std::move(handler));
}

// ---- Send/receive ----

std::shared_ptr<SyncObject> SyncObjects::Item(int index) const {
  core_->Check("SyncObjects.Item");
  if (index != 1) throw HostError("Array index out of bounds.");
  return std::make_shared<SyncObject>(core_);
}

Subscription SyncObject::OnSyncStart(std::function<void()> handler) { return core_->syncStart.Add(std::move(handler)); }
Subscription SyncObject::OnSyncEnd(std::function<void()> handler) { return core_->syncEnd.Add(std::move(handler)); }
const std::vector<std::string>& SyncObject::LastErrors() const { return core_->syncErrors; }

namespace {

std::string Prop(const detail::ItemRecord& r, const char* name) {
  auto index = detail::SchemaOf(r.kind).IndexOf(name);
  if (!index) return {};
  return VariantToText(detail::StoredValue(r.props, *index, detail::SchemaOf(r.kind).At(*index).defaultValue));
}

void SetProp(detail::ItemRecord& r, const char* name, Variant v) {
  const PropertySchema& schema = detail::SchemaOf(r.kind);
  auto index = schema.IndexOf(name);
  if (index) detail::SetStoredValue(r.props, *index, std::move(v), schema.At(*index).defaultValue);
}

MailMessage ToMessage(const detail::ItemRecord& r, const host::Profile& profile) {
  MailMessage m;
  m.from = {profile.DisplayName(), profile.Address()};
  m.to = ParseAddressList(Prop(r, "To"));
  m.cc = ParseAddressList(Prop(r, "CC"));
  m.bcc = ParseAddressList(Prop(r, "BCC"));
  m.subject = Prop(r, "Subject");
  auto importance = detail::StoredValue(r.props, *MailSchema().IndexOf("Importance"), Variant(std::int32_t{1}));
  m.importance = std::clamp(std::get<std::int32_t>(importance), 0, 2);
  m.body = Prop(r, "Body");
  for (const auto& a : r.attachments) m.attachments.push_back({a.name, a.data, {}});
  return m;
}

}  // namespace

void SyncObject::Start() {
  core_->Check("SyncObject.Start");
  auto core = core_;
  core->syncErrors.clear();
  core->Raise(core->syncStart);
  if (core->shutDown || core->stores.empty()) return;
  auto store = core->stores.front();
  detail::RequireOpen(*store);
  platform::DateTime now = core->services.clock.Now();
  std::uint32_t outbox = store->FolderByRole(detail::FolderRole::kOutbox);
  std::uint32_t sent = store->FolderByRole(detail::FolderRole::kSent);
  std::uint32_t inbox = store->FolderByRole(detail::FolderRole::kInbox);

  if (outbox != 0) {
    std::vector<std::uint32_t> waiting = detail::FolderOf(*store, outbox).items;
    for (std::uint32_t n : waiting) {
      const detail::ItemRecord* r = store->Item(n);
      if (!r || r->kind != detail::ItemKind::kMail || !r->submitted) continue;
      MailMessage m = ToMessage(*r, core->profile);
      try {
        core->services.transport.Send(m, EnvelopeRecipients(m));
      } catch (const std::exception& e) {
        core->syncErrors.push_back("\"" + m.subject + "\" could not be sent: " + e.what());
        continue;
      }
      detail::ItemRecord done = *r;
      done.submitted = false;
      done.unread = false;
      SetProp(done, "SentOn", now);
      SetProp(done, "SenderName", core->profile.DisplayName());
      SetProp(done, "SenderEmailAddress", core->profile.Address());
      store->UpdateItem(done, false);
      if (sent != 0) {
        store->MoveItem(n, sent);
        core->ItemAdded(store, sent, n);
      }
    }
  }

  if (inbox != 0) {
    std::vector<MailMessage> arrived;
    try {
      arrived = core->services.transport.Fetch(core->profile.Address());
    } catch (const std::exception& e) {
      core->syncErrors.push_back(std::string("New mail could not be fetched: ") + e.what());
    }
    for (const auto& m : arrived) {
      detail::ItemRecord r;
      r.kind = detail::ItemKind::kMail;
      r.folder = inbox;
      r.messageClass = kMailClass;
      r.unread = true;
      r.created = now;
      r.modified = now;
      SetProp(r, "Subject", m.subject);
      SetProp(r, "Body", m.body);
      SetProp(r, "SenderName", m.from.name.empty() ? m.from.address : m.from.name);
      SetProp(r, "SenderEmailAddress", m.from.address);
      SetProp(r, "To", FormatAddressList(m.to));
      SetProp(r, "CC", FormatAddressList(m.cc));
      SetProp(r, "Importance", std::int32_t{std::clamp(m.importance, 0, 2)});
      SetProp(r, "ReceivedTime", now);
      platform::DateTime sentOn = now;
      // The date line's moment, read as wall-clock time of the sender's zone-free UTC.
      if (auto secs = ParseMailDate(m.date); secs && *secs > 0 && *secs < 253402300799LL) {
        sentOn = platform::DateTime::FromUnixLocalSeconds(*secs);
      }
      SetProp(r, "SentOn", sentOn);
      for (const auto& a : m.attachments) r.attachments.push_back({a.name, a.data});
      try {
        std::uint32_t n = store->InsertItem(std::move(r));
        core->ItemAdded(store, inbox, n);
      } catch (const HostError& e) {
        core->syncErrors.push_back(std::string("A message could not be stored: ") + e.what());
      }
    }
  }
  core->Raise(core->syncEnd);
}

}  // namespace host

// The send/receive group: the Outbox goes out through the transport, new
// mail comes into the Inbox.
#include <algorithm>

#include "host/core.hpp"
#include "host/transport/mail_message.hpp"
#include "host/transport/mime.hpp"
#include "host/transport/transport.hpp"

namespace host {

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

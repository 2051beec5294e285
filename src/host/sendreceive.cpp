// The send/receive group: the Outbox goes out through the transport, new
// mail comes into the Inbox. Nothing that fails here stops the group: each
// failure is kept in LastErrors, the rest goes on and SyncEnd is raised.
//
// Sending. A submitted mail is first marked in the store as being sent
// (submitted cleared; SentOn and the sender set), then handed to the
// transport, then moved to Sent Items. The mark is written before the
// delivery so that a mail that went out is never sent a second time:
//  - the mark cannot be written: nothing goes out, the mail waits;
//  - nobody got the mail: the mark is taken back and the mail waits;
//  - some recipients got it: it counts as sent, the error names the others;
//  - the move to Sent Items, or taking the mark back, fails: the outcome is
//    kept in memory and the next send/receive of this application finishes
//    the move (or puts the mail back in line) without sending it;
//  - the program ends between the mark and the move: the mail stays in the
//    Outbox marked, and every send/receive reports that it may have gone out
//    and leaves it alone; sending it again submits it anew.
//
// Receiving. The transport's Fetch claims the waiting messages. Each one is
// stored together with its key in one transaction (Store::InsertArrived),
// then acknowledged to the transport, then its key is forgotten. The next
// Fetch returns whatever was not acknowledged; a message whose key the store
// holds was stored already and is only acknowledged. So a failure or a crash
// at any point gives each message exactly once.
//
// A message the transport can never read (it does not parse, it is too
// large) is not dropped and not retried forever: it is stored as a notice
// in the Inbox, with the raw text attached when there is one, reported in
// LastErrors, and acknowledged like any other.
//
// Deleting on the server. An arrived item keeps its key in the store; when
// it is deleted for good (from Deleted Items) the key goes into the store's
// removal queue. Before fetching, the queued keys of the mailbox go to the
// transport's RemoveForGood, and those it reports gone leave the queue.
//
// For failure injection the steps run as host operations:
// SendReceive.MarkSending, .Unmark, .MoveToSent, .StoreArrived,
// .Acknowledge, .ForgetArrived, .RemoveForGood, .ClearRemovals.
#include <algorithm>
#include <set>

#include "host/core.hpp"
#include "host/transport/mail_message.hpp"
#include "host/transport/mime.hpp"
#include "host/transport/transport.hpp"
#include "platform/text.hpp"
#include "platform/memory.hpp"

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

using detail::Core;
using detail::ItemRecord;
using detail::Store;

// The subject of an unreadable message's notice, and its attachment's name.
constexpr const char* kUnreadableSubject = "A message that could not be read";
constexpr const char* kRawAttachmentName = "message.eml";

std::string Prop(const ItemRecord& r, const char* name) {
  auto index = detail::SchemaOf(r.kind).IndexOf(name);
  if (!index) return {};
  return VariantToText(detail::StoredValue(r.props, *index, detail::SchemaOf(r.kind).At(*index).defaultValue));
}

platform::DateTime DateProp(const ItemRecord& r, const char* name) {
  const PropertySchema& schema = detail::SchemaOf(r.kind);
  auto index = schema.IndexOf(name);
  if (!index) return platform::DateTime::NoDate();
  const Variant& v = detail::StoredValue(r.props, *index, schema.At(*index).defaultValue);
  const auto* d = std::get_if<platform::DateTime>(&v);
  return d ? *d : platform::DateTime::NoDate();
}

// Keys are the transport's; with the mailbox in front they stay unique in the
// store.
std::string StoreKeyPrefix(const std::string& mailbox) { return platform::FoldCase(platform::Trim(mailbox)) + " "; }

bool IsSet(const platform::DateTime& d) { return !d.IsNoDate() && d != platform::DateTime::Zero(); }

void SetProp(ItemRecord& r, const char* name, Variant v) {
  const PropertySchema& schema = detail::SchemaOf(r.kind);
  auto index = schema.IndexOf(name);
  if (index) detail::SetStoredValue(r.props, *index, std::move(v), schema.At(*index).defaultValue);
}

std::string Quoted(const ItemRecord& r) {
  // Appended rather than concatenated: g++ 12 at -O2 warns (-Wrestrict) about
  // "\"" + std::string, wrongly.
  std::string quoted(1, '"');
  quoted.append(Prop(r, "Subject")).push_back('"');
  return quoted;
}

// Seconds since 1970 UTC of a local wall-clock time of the zone.
std::int64_t ToUtcSeconds(const platform::DateTime& local, const platform::TimeZoneInfo& zone) {
  return local.UnixLocalSeconds() + std::int64_t{zone.StandardBiasMinutes()} * 60;
}

platform::DateTime FromUtcSeconds(std::int64_t utc, const platform::TimeZoneInfo& zone) {
  return platform::DateTime::FromUnixLocalSeconds(utc - std::int64_t{zone.StandardBiasMinutes()} * 60);
}

MailMessage ToMessage(const ItemRecord& r, const Core& core, const platform::DateTime& now) {
  MailMessage m;
  m.from = {core.profile.DisplayName(), core.profile.Address()};
  m.to = ParseAddressList(Prop(r, "To"));
  m.cc = ParseAddressList(Prop(r, "CC"));
  m.bcc = ParseAddressList(Prop(r, "BCC"));
  m.subject = Prop(r, "Subject");
  auto importance = detail::StoredValue(r.props, *MailSchema().IndexOf("Importance"), Variant(std::int32_t{1}));
  m.importance = std::clamp(std::get<std::int32_t>(importance), 0, 2);
  m.body = Prop(r, "Body");
  for (const auto& a : r.attachments) {
    std::vector<std::uint8_t> data;
    platform::ReserveBytes(data, a.data.size());
    data.assign(a.data.begin(), a.data.end());
    m.attachments.push_back({a.name, std::move(data), {}});
  }
  const platform::TimeZoneInfo& zone = core.services.timeZone;
  m.date = FormatMailDate(ToUtcSeconds(now, zone), -zone.StandardBiasMinutes());
  return m;
}

// A mail marked as being sent whose sending never finished: out of line
// (not submitted), with a send time but never received.
bool MarkedAsSending(const ItemRecord& r) {
  return r.kind == detail::ItemKind::kMail && !r.submitted && IsSet(DateProp(r, "SentOn")) &&
         !IsSet(DateProp(r, "ReceivedTime"));
}

class SendReceiveRun {
 public:
  SendReceiveRun(Core& core, const std::shared_ptr<Store>& store)
      : core_(core), store_(store), errors_(core.syncErrors), now_(core.services.clock.Now()) {}

  void SendOutbox();
  void ReceiveInbox();

 private:
  void Step(const char* operation) { core_.faults.Check(operation); }
  void Send(std::uint32_t n);
  void FinishUnfinished(std::uint32_t n, const detail::UnfinishedSend& u);
  bool MoveToSent(std::uint32_t n, const std::string& subject);
  void RemoveDeleted(const std::string& mailbox);
  void Receive(FetchedMail& fetched, const std::string& key, const std::string& mailbox);
  // Takes the attachments' bytes out of `m` rather than copying them.
  ItemRecord Arrived(MailMessage& m) const;
  ItemRecord Notice(const ArrivedMessage& a, const std::string& mailbox) const;

  Core& core_;
  std::shared_ptr<Store> store_;
  std::vector<std::string>& errors_;
  platform::DateTime now_;
};

void SendReceiveRun::SendOutbox() {
  std::uint32_t outbox = store_->FolderByRole(detail::FolderRole::kOutbox);
  auto& unfinished = core_.unfinishedSends;
  if (outbox == 0) {
    unfinished.clear();
    return;
  }
  std::vector<std::uint32_t> waiting = detail::FolderOf(*store_, outbox).items;
  // Outcomes of mail that has left the Outbox since are of no use any more.
  for (auto it = unfinished.begin(); it != unfinished.end();) {
    const ItemRecord* r = store_->Item(it->first);
    it = (r && r->folder == outbox) ? std::next(it) : unfinished.erase(it);
  }
  for (std::uint32_t n : waiting) {
    const ItemRecord* r = store_->Item(n);
    if (!r || r->kind != detail::ItemKind::kMail) continue;
    const std::string subject = Quoted(*r);
    try {
      if (auto u = unfinished.find(n); u != unfinished.end()) {
        detail::UnfinishedSend outcome = u->second;
        FinishUnfinished(n, outcome);
        r = store_->Item(n);
        if (!r || !r->submitted) continue;  // sent before, or still out of line
      }
      if (r->submitted) {
        Send(n);
      } else if (MarkedAsSending(*r)) {
        errors_.push_back(subject +
                          " may have been sent already: sending it was interrupted. It stays in the Outbox and is "
                          "not sent again; send it again if it did not arrive.");
      }
    } catch (const std::exception& e) {
      errors_.push_back(subject + ": " + e.what());
    }
  }
}

void SendReceiveRun::FinishUnfinished(std::uint32_t n, const detail::UnfinishedSend& u) {
  const std::string subject = Quoted(*store_->Item(n));
  if (u.delivered) {
    if (MoveToSent(n, subject)) core_.unfinishedSends.erase(n);
    return;
  }
  try {
    Step("SendReceive.Unmark");
    store_->UpdateItem(u.beforeSending, false);
    core_.unfinishedSends.erase(n);
  } catch (const std::exception& e) {
    errors_.push_back(subject + " was not sent and still cannot be put back in line: " + e.what());
  }
}

bool SendReceiveRun::MoveToSent(std::uint32_t n, const std::string& subject) {
  std::uint32_t sent = store_->FolderByRole(detail::FolderRole::kSent);
  if (sent == 0) return true;  // a store without Sent Items keeps sent mail in the Outbox
  try {
    Step("SendReceive.MoveToSent");
    store_->MoveItem(n, sent);
  } catch (const std::exception& e) {
    errors_.push_back(subject + " was sent but could not be moved to Sent Items: " + e.what() +
                      ". It is not sent again.");
    return false;
  }
  core_.ItemAdded(store_, sent, n);
  return true;
}

void SendReceiveRun::Send(std::uint32_t n) {
  // What is written back (the mark, or the mail as it was) never includes
  // the attachments: they are copied only into the message.
  MailMessage m = ToMessage(*store_->Item(n), core_, now_);
  const ItemRecord original = WithoutAttachments(*store_->Item(n));
  const std::string subject = Quoted(original);

  ItemRecord marked = original;
  marked.submitted = false;
  marked.unread = false;
  SetProp(marked, "SentOn", now_);
  SetProp(marked, "SenderName", core_.profile.DisplayName());
  SetProp(marked, "SenderEmailAddress", core_.profile.Address());
  try {
    Step("SendReceive.MarkSending");
    store_->UpdateItem(marked, false);
  } catch (const std::exception& e) {
    errors_.push_back(subject + " was not sent: it could not be marked as being sent: " + e.what());
    return;
  }

  std::string failure;
  bool delivered = true;
  try {
    core_.services.transport.Send(m, EnvelopeRecipients(m));
  } catch (const TransportError& e) {
    failure = e.what();
    delivered = !e.Delivered().empty();
  } catch (const std::exception& e) {
    failure = e.what();
    delivered = false;
  }

  if (!delivered) {
    errors_.push_back(subject + " could not be sent: " + failure);
    try {
      Step("SendReceive.Unmark");
      store_->UpdateItem(original, false);
    } catch (const std::exception& e) {
      core_.unfinishedSends[n] = detail::UnfinishedSend{false, original};
      errors_.push_back(subject + " could not be put back in line for sending: " + e.what() +
                        ". The next send/receive tries again.");
    }
    return;
  }
  if (!failure.empty()) errors_.push_back(subject + " was sent, but not to every recipient: " + failure);
  if (!MoveToSent(n, subject)) core_.unfinishedSends[n] = detail::UnfinishedSend{true, {}};
}

void SendReceiveRun::ReceiveInbox() {
  std::uint32_t inbox = store_->FolderByRole(detail::FolderRole::kInbox);
  if (inbox == 0) return;
  const std::string mailbox = core_.profile.Address();
  RemoveDeleted(mailbox);
  std::unique_ptr<FetchedMail> fetched;
  try {
    fetched = core_.services.transport.Fetch(mailbox);
    if (!fetched) throw TransportError("The transport returned nothing.");
  } catch (const std::exception& e) {
    errors_.push_back(std::string("New mail could not be fetched: ") + e.what());
    return;
  }
  for (const std::string& p : fetched->Problems()) errors_.push_back("New mail: " + p);
  const std::vector<std::string> keys = fetched->Keys();
  for (const std::string& key : keys) Receive(*fetched, key, mailbox);
}

// What arrived for the mailbox and was deleted for good in the store since is
// deleted by the transport too. The store's queue keeps each key until the
// transport says it is gone, so a failure only puts it off.
void SendReceiveRun::RemoveDeleted(const std::string& mailbox) {
  const std::string prefix = StoreKeyPrefix(mailbox);
  try {
    std::vector<std::string> keys;
    for (const std::string& k : store_->PendingRemovals()) {
      if (k.size() > prefix.size() && k.compare(0, prefix.size(), prefix) == 0) keys.push_back(k.substr(prefix.size()));
    }
    if (keys.empty()) return;
    Step("SendReceive.RemoveForGood");
    std::vector<std::string> gone = core_.services.transport.RemoveForGood(mailbox, keys);
    // Only keys that were asked for leave the queue.
    const std::set<std::string> asked(keys.begin(), keys.end());
    std::vector<std::string> clear;
    for (const std::string& k : gone) {
      if (asked.count(k)) clear.push_back(prefix + k);
    }
    Step("SendReceive.ClearRemovals");
    store_->ClearRemovals(clear);
  } catch (const std::exception& e) {
    errors_.push_back(std::string("Mail deleted here could not be deleted on the server: ") + e.what() +
                      ". It is tried again at the next send/receive.");
  }
}

void SendReceiveRun::Receive(FetchedMail& fetched, const std::string& key, const std::string& mailbox) {
  const std::string storeKey = StoreKeyPrefix(mailbox) + key;
  try {
    if (!store_->HasArrived(storeKey)) {
      ArrivedMessage a = fetched.Read(key);
      ItemRecord r = a.unreadable.empty() ? Arrived(a.message) : Notice(a, mailbox);
      Step("SendReceive.StoreArrived");
      std::uint32_t n = store_->InsertArrived(std::move(r), storeKey);
      if (n != 0) core_.ItemAdded(store_, store_->Item(n)->folder, n);
      if (!a.unreadable.empty()) {
        errors_.push_back("A message that arrived could not be read (" + a.unreadable + "); it is in the Inbox as \"" +
                          kUnreadableSubject + "\".");
      }
    }
  } catch (const std::exception& e) {
    errors_.push_back(std::string("A message could not be received: ") + e.what() +
                      ". It is fetched again at the next send/receive.");
    return;
  }
  try {
    Step("SendReceive.Acknowledge");
    fetched.Acknowledge(key);
  } catch (const std::exception& e) {
    errors_.push_back(std::string("A received message could not be marked as received: ") + e.what() +
                      ". It is fetched again at the next send/receive and not stored twice.");
    return;
  }
  try {
    Step("SendReceive.ForgetArrived");
    store_->ForgetArrived(storeKey);
  } catch (const std::exception& e) {
    // The key left behind only takes a little room.
    errors_.push_back(std::string("A received message's key could not be cleared: ") + e.what());
  }
}

ItemRecord SendReceiveRun::Arrived(MailMessage& m) const {
  ItemRecord r;
  r.kind = detail::ItemKind::kMail;
  r.folder = store_->FolderByRole(detail::FolderRole::kInbox);
  r.messageClass = kMailClass;
  r.unread = true;
  r.created = now_;
  r.modified = now_;
  SetProp(r, "Subject", m.subject);
  SetProp(r, "Body", m.body);
  SetProp(r, "SenderName", m.from.name.empty() ? m.from.address : m.from.name);
  SetProp(r, "SenderEmailAddress", m.from.address);
  SetProp(r, "To", FormatAddressList(m.to));
  SetProp(r, "CC", FormatAddressList(m.cc));
  SetProp(r, "Importance", std::int32_t{std::clamp(m.importance, 0, 2)});
  SetProp(r, "ReceivedTime", now_);
  // The date line is a moment; it is kept as the local time of that moment.
  platform::DateTime sentOn = now_;
  if (auto secs = ParseMailDate(m.date)) {
    platform::DateTime local = FromUtcSeconds(*secs, core_.services.timeZone);
    if (local.UnixLocalSeconds() > 0 && local.UnixLocalSeconds() < 253402300799LL) sentOn = local;
  }
  SetProp(r, "SentOn", sentOn);
  for (auto& a : m.attachments) r.attachments.push_back({a.name, std::move(a.data)});
  return r;
}

ItemRecord SendReceiveRun::Notice(const ArrivedMessage& a, const std::string& mailbox) const {
  MailMessage m;
  m.subject = kUnreadableSubject;
  m.from = {"Send/Receive", ""};
  m.body = "A message arrived for " + mailbox + " that could not be read: " + a.unreadable + ".\r\n";
  if (!a.rawText.empty()) {
    m.body += "Its text as it arrived is attached as " + std::string(kRawAttachmentName) + ".\r\n";
    m.attachments.push_back({kRawAttachmentName, std::vector<std::uint8_t>(a.rawText.begin(), a.rawText.end()), {}});
  }
  if (!a.location.empty()) m.body += "The transport keeps it in " + a.location + ".\r\n";
  return Arrived(m);
}

}  // namespace

void SyncObject::Start() {
  core_->Check("SyncObject.Start");
  auto core = core_;
  core->syncErrors.clear();
  core->Raise(core->syncStart);
  if (!core->shutDown && !core->stores.empty()) {
    auto store = core->stores.front();
    try {
      detail::RequireOpen(*store);
      SendReceiveRun run(*core, store);
      try {
        run.SendOutbox();
      } catch (const std::exception& e) {
        core->syncErrors.push_back(std::string("Sending stopped: ") + e.what());
      }
      try {
        run.ReceiveInbox();
      } catch (const std::exception& e) {
        core->syncErrors.push_back(std::string("Receiving stopped: ") + e.what());
      }
    } catch (const std::exception& e) {
      core->syncErrors.push_back(std::string("Send/receive could not start: ") + e.what());
    }
  }
  core->Raise(core->syncEnd);
}

}  // namespace host

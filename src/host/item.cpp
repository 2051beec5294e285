// Contact and mail items, attachments and the safe-item objects.
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/core.hpp"
#include "platform/text.hpp"
#include "platform/memory.hpp"

namespace host {

using detail::FolderOf;
using detail::FolderRole;
using detail::ItemKind;
using detail::ItemRecord;
using detail::RequireOpen;

// ---- Item ----

Item::Item(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t number,
           std::uint32_t folder, int kind)
    : core_(std::move(core)), store_(std::move(store)), number_(number), folder_(folder), kind_(kind) {
  if (number_ == 0) {
    pending_ = std::make_unique<ItemRecord>();
    pending_->kind = static_cast<ItemKind>(kind_);
    pending_->folder = folder_;
    pending_->messageClass = kind_ == static_cast<int>(ItemKind::kContact) ? kContactClass : kMailClass;
  }
}

Item::~Item() = default;

const PropertySchema& Item::Schema() const { return detail::SchemaOf(static_cast<ItemKind>(kind_)); }
bool Item::IsContact() const { return kind_ == static_cast<int>(ItemKind::kContact); }
bool Item::IsMail() const { return kind_ == static_cast<int>(ItemKind::kMail); }
const char* Item::ClassName() const { return IsContact() ? "ContactItem" : "MailItem"; }

void Item::Check(const char* method) const {
  // Every property access passes here: the operation's name is put together
  // on the stack rather than in a new string.
  const std::string_view cls = ClassName();
  const std::string_view name = method;
  char buf[128];
  if (cls.size() + 1 + name.size() <= sizeof buf) {
    std::memcpy(buf, cls.data(), cls.size());
    buf[cls.size()] = '.';
    std::memcpy(buf + cls.size() + 1, name.data(), name.size());
    core_->Check(std::string_view(buf, cls.size() + 1 + name.size()));
  } else {
    core_->Check(std::string(cls) + "." + method);
  }
}

const ItemRecord& Item::Current() const {
  RequireOpen(*store_);
  if (pending_) return *pending_;
  const ItemRecord* r = store_->Item(number_);
  if (!r) throw HostError(kMovedOrDeletedMessage);
  return *r;
}

ItemRecord& Item::Edit() {
  if (!pending_) pending_ = std::make_unique<ItemRecord>(Current());
  return *pending_;
}

Variant Item::ReadProperty(std::string_view name, bool guarded) {
  const PropertySchema& schema = Schema();
  auto index = schema.IndexOf(name);
  if (!index) throw HostError("The property \"" + std::string(name) + "\" is unknown.");
  if (guarded && schema.At(*index).guarded) core_->GuardAddressRead();
  return detail::PropertyValue(Current(), *index, store_->Id());
}

void Item::WriteProperty(std::string_view name, Variant value) {
  const PropertySchema& schema = Schema();
  auto index = schema.IndexOf(name);
  if (!index) throw HostError("The property \"" + std::string(name) + "\" is unknown.");
  const PropertyDef& def = schema.At(*index);
  if (def.readOnly) throw HostError("The property \"" + def.name + "\" cannot be set.");
  if (!HoldsType(value, def.type)) {
    throw HostError("Type mismatch: the property \"" + def.name + "\" takes a " + PropTypeName(def.type) + ".");
  }
  if (def.name == "UnRead") {
    SetUnRead(std::get<bool>(value));
    return;
  }
  if (def.name == "MessageClass") {
    Edit().messageClass = std::get<std::string>(value);
    return;
  }
  ItemRecord& r = Edit();
  detail::SetStoredValue(r.props, *index, std::move(value), def.defaultValue);
}

Variant Item::GetProperty(std::string_view name) {
  Check("GetProperty");
  return ReadProperty(name, true);
}

void Item::SetProperty(std::string_view name, Variant value) {
  Check("SetProperty");
  WriteProperty(name, std::move(value));
}

std::string Item::Text(std::string_view name) { return VariantToText(GetProperty(name)); }

void Item::SetText(std::string_view name, const std::string& value) {
  Check("SetProperty");
  const PropertyDef* def = Schema().Find(name);
  if (!def) throw HostError("The property \"" + std::string(name) + "\" is unknown.");
  Variant v;
  try {
    v = VariantFromText(def->type, value);
  } catch (const std::exception&) {
    throw HostError("Type mismatch: \"" + value + "\" is not a " + PropTypeName(def->type) + " for the property \"" +
                    def->name + "\".");
  }
  WriteProperty(def->name, std::move(v));
}

std::string Item::EntryID() const {
  Check("EntryID");
  Current();
  return number_ ? FormatEntryId(store_->Id(), number_) : std::string();
}

std::string Item::MessageClass() const {
  Check("MessageClass");
  return Current().messageClass;
}

void Item::SetMessageClass(const std::string& cls) {
  Check("SetProperty");
  Edit().messageClass = cls;
}

platform::DateTime Item::CreationTime() const {
  Check("CreationTime");
  return Current().created;
}

platform::DateTime Item::LastModificationTime() const {
  Check("LastModificationTime");
  return Current().modified;
}

bool Item::UnRead() const {
  Check("UnRead");
  return Current().unread;
}

void Item::SetUnRead(bool unread) {
  Check("SetUnRead");
  Current();
  if (number_ != 0) store_->SetUnread(number_, unread);
  if (pending_) pending_->unread = unread;
}

std::string Item::Subject() { return Text("Subject"); }
void Item::SetSubject(const std::string& s) { SetProperty("Subject", s); }
std::string Item::Body() { return Text("Body"); }
void Item::SetBody(const std::string& s) { SetProperty("Body", s); }
std::int32_t Item::Importance() { return std::get<std::int32_t>(GetProperty("Importance")); }
void Item::SetImportance(std::int32_t importance) {
  if (importance < 0 || importance > 2) {
    Check("SetProperty");
    throw HostError("The importance " + std::to_string(importance) + " is not valid.");
  }
  SetProperty("Importance", importance);
}

bool Item::Saved() const { return number_ != 0 && !pending_; }

std::string Item::UserProperty(std::string_view name) const {
  Check("UserProperties");
  const auto& props = Current().userProps;
  const auto it = props.find(std::string(name));
  return it == props.end() ? std::string() : it->second;
}

void Item::SetUserProperty(std::string_view name, const std::string& value) {
  Check("UserProperties");
  if (name.empty() || name.size() > 255) throw HostError("The user property name is not valid.");
  Edit().userProps[std::string(name)] = value;
}

std::shared_ptr<Folder> Item::Parent() const {
  Check("Parent");
  const ItemRecord& r = Current();
  std::uint32_t folder = number_ ? store_->Item(number_)->folder : r.folder;
  return core_->MakeFolder(store_, folder);
}

void Item::Save() {
  Check("Save");
  RequireOpen(*store_);
  platform::DateTime now = core_->services.clock.Now();
  if (number_ == 0) {
    FolderOf(*store_, folder_);
    // The record moves into the store (a mail's attachments are not copied);
    // a failed save leaves the unsaved item as it was.
    ItemRecord& r = *pending_;
    const std::uint32_t folder = r.folder;
    const platform::DateTime created = r.created;
    const platform::DateTime modified = r.modified;
    r.folder = folder_;
    r.created = now;
    r.modified = now;
    try {
      number_ = store_->InsertItem(std::move(r));
    } catch (...) {
      r.folder = folder;
      r.created = created;
      r.modified = modified;
      throw;
    }
    pending_.reset();
    attachmentsChanged_ = false;
    core_->ItemAdded(store_, folder_, number_);
    return;
  }
  ItemRecord r = Current();
  r.modified = now;
  if (r.created.IsNoDate()) r.created = now;
  store_->UpdateItem(r, attachmentsChanged_);
  pending_.reset();
  attachmentsChanged_ = false;
}

void Item::Delete() {
  Check("Delete");
  RequireOpen(*store_);
  if (number_ == 0) {
    throw HostError("The item has not been saved and cannot be deleted.");
  }
  const ItemRecord* r = store_->Item(number_);
  if (!r) throw HostError(kMovedOrDeletedMessage);
  std::uint32_t deleted = store_->FolderByRole(FolderRole::kDeleted);
  pending_.reset();
  attachmentsChanged_ = false;
  if (deleted == 0 || store_->IsWithin(r->folder, deleted)) {
    store_->DeleteItem(number_);
    return;
  }
  store_->MoveItem(number_, deleted);
  core_->ItemAdded(store_, deleted, number_);
}

std::shared_ptr<Item> Item::Move(const std::shared_ptr<Folder>& folder) {
  Check("Move");
  if (!folder) throw HostError(kNotFoundMessage);
  const auto& target = folder->StoreHandle();
  FolderOf(*target, folder->Number());
  Current();
  if (number_ == 0) {
    // An unsaved item is saved straight into the target.
    if (target == store_) {
      folder_ = folder->Number();
      Save();
      return shared_from_this();
    }
  } else if (pending_) {
    Save();
  }
  if (target == store_) {
    if (store_->Item(number_)->folder != folder->Number()) {
      store_->MoveItem(number_, folder->Number());
      core_->ItemAdded(store_, folder->Number(), number_);
    }
    return shared_from_this();
  }
  // Into another store: a new item there, gone here.
  ItemRecord r = Current();
  if (number_ == 0) {
    platform::DateTime now = core_->services.clock.Now();
    r.created = now;
    r.modified = now;
  }
  r.folder = folder->Number();
  r.submitted = false;
  std::uint32_t n = target->InsertItem(std::move(r));
  // The item lives on in the other store: nothing is deleted on the server.
  if (number_ != 0) store_->DeleteItem(number_, false);
  store_ = target;
  number_ = n;
  folder_ = folder->Number();
  pending_.reset();
  attachmentsChanged_ = false;
  core_->ItemAdded(store_, folder_, number_);
  return shared_from_this();
}

std::shared_ptr<Item> Item::Copy() {
  Check("Copy");
  ItemRecord r = Current();
  platform::DateTime now = core_->services.clock.Now();
  r.folder = number_ ? store_->Item(number_)->folder : folder_;
  r.created = now;
  r.modified = now;
  r.submitted = false;
  std::uint32_t n = store_->InsertItem(std::move(r));
  core_->ItemAdded(store_, store_->Item(n)->folder, n);
  return core_->MakeItem(store_, n);
}

// ---- ContactItem ----

ContactItem::ContactItem(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store,
                         std::uint32_t number, std::uint32_t folder)
    : Item(std::move(core), std::move(store), number, folder, static_cast<int>(ItemKind::kContact)) {}

std::string ContactItem::DefaultValue() const {
  auto index = ContactSchema().IndexOf("FullName");
  return VariantToText(detail::PropertyValue(Current(), *index, store_->Id()));
}

std::string ContactItem::FullName() { return Text("FullName"); }
void ContactItem::SetFullName(const std::string& v) { SetProperty("FullName", v); }
std::string ContactItem::FirstName() { return Text("FirstName"); }
void ContactItem::SetFirstName(const std::string& v) { SetProperty("FirstName", v); }
std::string ContactItem::LastName() { return Text("LastName"); }
void ContactItem::SetLastName(const std::string& v) { SetProperty("LastName", v); }
std::string ContactItem::CompanyName() { return Text("CompanyName"); }
void ContactItem::SetCompanyName(const std::string& v) { SetProperty("CompanyName", v); }
std::string ContactItem::Email1Address() { return Text("Email1Address"); }
void ContactItem::SetEmail1Address(const std::string& v) { SetProperty("Email1Address", v); }
std::string ContactItem::User3() { return Text("User3"); }
void ContactItem::SetUser3(const std::string& v) { SetProperty("User3", v); }
std::string ContactItem::User4() { return Text("User4"); }
void ContactItem::SetUser4(const std::string& v) { SetProperty("User4", v); }

// ---- MailItem ----

MailItem::MailItem(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t number,
                   std::uint32_t folder)
    : Item(std::move(core), std::move(store), number, folder, static_cast<int>(ItemKind::kMail)) {}

std::string MailItem::DefaultValue() const {
  auto index = MailSchema().IndexOf("Subject");
  return VariantToText(detail::PropertyValue(Current(), *index, store_->Id()));
}

std::string MailItem::To() { return Text("To"); }
void MailItem::SetTo(const std::string& v) { SetProperty("To", v); }
std::string MailItem::CC() { return Text("CC"); }
void MailItem::SetCC(const std::string& v) { SetProperty("CC", v); }
std::string MailItem::BCC() { return Text("BCC"); }
void MailItem::SetBCC(const std::string& v) { SetProperty("BCC", v); }
std::string MailItem::SenderName() { return Text("SenderName"); }
std::string MailItem::SenderEmailAddress() { return Text("SenderEmailAddress"); }
platform::DateTime MailItem::ReceivedTime() { return std::get<platform::DateTime>(GetProperty("ReceivedTime")); }
platform::DateTime MailItem::SentOn() { return std::get<platform::DateTime>(GetProperty("SentOn")); }

std::shared_ptr<host::Attachments> MailItem::Attachments() {
  Check("Attachments");
  Current();
  return std::make_shared<host::Attachments>(std::static_pointer_cast<MailItem>(shared_from_this()));
}

std::shared_ptr<MapiObject> MailItem::MAPIOBJECT() {
  Check("MAPIOBJECT");
  Current();
  return std::make_shared<MapiObject>(std::static_pointer_cast<MailItem>(shared_from_this()));
}

bool MailItem::Submitted() const { return Current().submitted; }

void MailItem::Send() {
  Check("Send");
  Current();
  core_->GuardSend();
  SendUnguarded();
}

void MailItem::SendUnguarded() {
  const ItemRecord& cur = Current();
  auto text = [&](const char* name) {
    return VariantToText(detail::PropertyValue(cur, *MailSchema().IndexOf(name), store_->Id()));
  };
  if (platform::Trim(text("To")).empty() && platform::Trim(text("CC")).empty() &&
      platform::Trim(text("BCC")).empty()) {
    throw HostError("There must be at least one name or distribution list in the To, Cc, or Bcc box.");
  }
  std::uint32_t outbox = store_->FolderByRole(FolderRole::kOutbox);
  if (outbox == 0) {
    // A mail of a personal folders file goes out through the default store.
    throw HostError("The item cannot be sent from this folder.");
  }
  Edit().submitted = true;
  if (number_ == 0) folder_ = outbox;
  Save();
  if (store_->Item(number_)->folder != outbox) {
    store_->MoveItem(number_, outbox);
    core_->ItemAdded(store_, outbox, number_);
  }
}

// ---- Attachments ----

int Attachments::Count() const {
  mail_->core_->Check("Attachments.Count");
  return static_cast<int>(mail_->Current().attachments.size());
}

std::shared_ptr<ItemAttachment> Attachments::Item(int index) const {
  mail_->core_->Check("Attachments.Item");
  int count = static_cast<int>(mail_->Current().attachments.size());
  if (index < 1 || index > count) throw HostError("Array index out of bounds.");
  return std::make_shared<ItemAttachment>(mail_, index);
}

std::shared_ptr<ItemAttachment> Attachments::Item(std::string_view name) const {
  mail_->core_->Check("Attachments.Item");
  const auto& list = mail_->Current().attachments;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (platform::EqualsIgnoreCase(list[i].name, name)) return std::make_shared<ItemAttachment>(mail_, static_cast<int>(i + 1));
  }
  throw HostError(kNotFoundMessage);
}

std::shared_ptr<ItemAttachment> Attachments::Add(const std::string& path) {
  mail_->core_->Check("Attachments.Add");
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  if (!in || std::filesystem::is_directory(path, ec)) throw HostError("Cannot add the attachment; no file " + path + ".");
  detail::AttachmentData a;
  a.name = std::filesystem::path(path).filename().string();
  // Read in blocks: a mail body of several megabytes is not copied byte by byte.
  if (const auto size = std::filesystem::file_size(path, ec); !ec) platform::ReserveBytes(a.data, static_cast<std::size_t>(size));
  char block[65536];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block);
    a.data.insert(a.data.end(), bytes, bytes + in.gcount());
  }
  if (in.bad()) throw HostError("Cannot add the attachment; the file " + path + " cannot be read.");
  mail_->Edit().attachments.push_back(std::move(a));
  mail_->attachmentsChanged_ = true;
  return std::make_shared<ItemAttachment>(mail_, static_cast<int>(mail_->Current().attachments.size()));
}

void Attachments::Remove(int index) {
  mail_->core_->Check("Attachments.Remove");
  auto& list = mail_->Edit().attachments;
  if (index < 1 || index > static_cast<int>(list.size())) throw HostError("Array index out of bounds.");
  list.erase(list.begin() + (index - 1));
  mail_->attachmentsChanged_ = true;
}

std::string ItemAttachment::FileName() const {
  mail_->core_->Check("Attachment.FileName");
  const auto& list = mail_->Current().attachments;
  if (index_ < 1 || index_ > static_cast<int>(list.size())) throw HostError(kNotFoundMessage);
  return list[static_cast<std::size_t>(index_ - 1)].name;
}

std::size_t ItemAttachment::Size() const {
  mail_->core_->Check("Attachment.Size");
  const auto& list = mail_->Current().attachments;
  if (index_ < 1 || index_ > static_cast<int>(list.size())) throw HostError(kNotFoundMessage);
  return list[static_cast<std::size_t>(index_ - 1)].data.size();
}

void ItemAttachment::SaveAsFile(const std::string& path) const {
  mail_->core_->Check("Attachment.SaveAsFile");
  const auto& list = mail_->Current().attachments;
  if (index_ < 1 || index_ > static_cast<int>(list.size())) throw HostError(kNotFoundMessage);
  const auto& data = list[static_cast<std::size_t>(index_ - 1)].data;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw HostError("Cannot save the attachment to " + path + ".");
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw HostError("Cannot save the attachment to " + path + ".");
}

void ItemAttachment::Delete() {
  mail_->core_->Check("Attachment.Delete");
  auto& list = mail_->Edit().attachments;
  if (index_ < 1 || index_ > static_cast<int>(list.size())) throw HostError(kNotFoundMessage);
  list.erase(list.begin() + (index_ - 1));
  mail_->attachmentsChanged_ = true;
}

// ---- Safe items ----

void SafeContactItem::SetItem(std::shared_ptr<ContactItem> contact) {
  core_->Check("SafeContactItem.Item");
  if (!contact) throw HostError(kNotFoundMessage);
  item_ = std::move(contact);
}

Variant SafeContactItem::GetProperty(std::string_view name) const {
  core_->Check("SafeContactItem.GetProperty");
  if (!item_) throw HostError("The safe item has no item.");
  return item_->ReadProperty(name, false);
}

std::string SafeContactItem::Text(std::string_view name) const { return VariantToText(GetProperty(name)); }

void SafeMailItem::SetItem(std::shared_ptr<MailItem> mail) {
  core_->Check("SafeMailItem.Item");
  if (!mail) throw HostError(kNotFoundMessage);
  item_ = std::move(mail);
}

void SafeMailItem::Send() {
  core_->Check("SafeMailItem.Send");
  if (!item_) throw HostError("The safe item has no item.");
  item_->SendUnguarded();
}

std::string SafeMailItem::SenderName() const {
  core_->Check("SafeMailItem.SenderName");
  if (!item_) throw HostError("The safe item has no item.");
  return VariantToText(item_->ReadProperty("SenderName", false));
}

std::string SafeMailItem::SenderEmailAddress() const {
  core_->Check("SafeMailItem.SenderEmailAddress");
  if (!item_) throw HostError("The safe item has no item.");
  return VariantToText(item_->ReadProperty("SenderEmailAddress", false));
}

Variant SafeMailItem::GetProperty(std::string_view name) const {
  core_->Check("SafeMailItem.GetProperty");
  if (!item_) throw HostError("The safe item has no item.");
  return item_->ReadProperty(name, false);
}

std::string MapiUtils::HrGetOneProp(const std::shared_ptr<MapiObject>& object, std::uint32_t tag) const {
  core_->Check("MAPIUtils.HrGetOneProp");
  if (!object || !object->Mail()) throw HostError("MAPI_E_INVALID_PARAMETER");
  if (tag != kPrSenderEmailAddress) throw HostError("MAPI_E_NOT_FOUND");
  return VariantToText(object->Mail()->ReadProperty("SenderEmailAddress", false));
}

}  // namespace host

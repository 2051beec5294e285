#pragma once
// Items: contacts, mails and their attachments.
#include "host/object_model/base.hpp"

namespace host {

class Item : public Object, public std::enable_shared_from_this<Item> {
 public:
  ~Item() override;

  const PropertySchema& Schema() const;
  bool IsContact() const;
  bool IsMail() const;

  // Any property of the schema; HostError naming an unknown one. Guarded
  // properties ask the person when a program reads them.
  Variant GetProperty(std::string_view name);
  // HostError for an unknown or read-only property or a value of another type.
  void SetProperty(std::string_view name, Variant value);
  // The property as text (VariantToText).
  std::string Text(std::string_view name);
  void SetText(std::string_view name, const std::string& value);

  std::string EntryID() const;
  std::string MessageClass() const;
  void SetMessageClass(const std::string& cls);
  platform::DateTime CreationTime() const;
  platform::DateTime LastModificationTime() const;
  bool UnRead() const;
  // Stored at once, without a save and without changing the modification time.
  void SetUnRead(bool unread);
  std::string Subject();
  void SetSubject(const std::string& s);
  std::string Body();
  void SetBody(const std::string& s);
  std::int32_t Importance();
  void SetImportance(std::int32_t importance);
  // False while the item has changes not saved yet.
  bool Saved() const;

  // Named text properties a program keeps with the item besides the
  // schema's; never shown and not part of the item's fields. "" when the
  // item has none of that name. Set ones are stored by the next Save.
  std::string UserProperty(std::string_view name) const;
  void SetUserProperty(std::string_view name, const std::string& value);

  std::shared_ptr<Folder> Parent() const;
  // Writes the item; stamps the creation time on the first save and the
  // modification time on every save.
  void Save();
  // Moves the item to its store's Deleted Items, or removes it for good
  // when it is there already.
  void Delete();
  // Within the store the entry id stays; into another store the item gets a
  // new one. Returns this item.
  std::shared_ptr<Item> Move(const std::shared_ptr<Folder>& folder);
  // A new saved item in the same folder with the same properties.
  std::shared_ptr<Item> Copy();

  // For the object model's own use.
  const std::shared_ptr<detail::Store>& StoreHandle() const { return store_; }
  std::uint32_t Number() const { return number_; }

 protected:
  Item(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t number,
       std::uint32_t folder, int kind);
  // "ContactItem" or "MailItem", for the names of operations.
  const char* ClassName() const;
  void Check(const char* method) const;
  // The stored record, or the pending changes when there are some.
  const detail::ItemRecord& Current() const;
  // Pending changes, made from the stored record on first use.
  detail::ItemRecord& Edit();
  Variant ReadProperty(std::string_view name, bool guarded);
  void WriteProperty(std::string_view name, Variant value);
  
  friend class Items;
  friend class NameSpace;
  friend class SafeContactItem;
  friend class SafeMailItem;
  friend class MapiUtils;
  friend class Attachments;
  friend class ItemAttachment;
  friend struct detail::Core;
  friend class SyncObject;

  std::shared_ptr<detail::Core> core_;
  std::shared_ptr<detail::Store> store_;
  std::uint32_t number_;  // 0 until saved
  std::uint32_t folder_;  // where an unsaved item goes
  int kind_;
  std::unique_ptr<detail::ItemRecord> pending_;
  bool attachmentsChanged_ = false;
};

class ContactItem : public Item {
 public:
  ContactItem(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t number,
              std::uint32_t folder);
  std::string DefaultValue() const override;

  std::string FullName();
  void SetFullName(const std::string& v);
  std::string FirstName();
  void SetFirstName(const std::string& v);
  std::string LastName();
  void SetLastName(const std::string& v);
  std::string CompanyName();
  void SetCompanyName(const std::string& v);
  // Guarded.
  std::string Email1Address();
  void SetEmail1Address(const std::string& v);
  std::string User3();
  void SetUser3(const std::string& v);
  std::string User4();
  void SetUser4(const std::string& v);

  // Shows the contact editor (form "ContactEditor"); modal waits until the
  // person closes it. "Save and Close" stores the edited fields.
  void Display(bool modal = false);
};

class MailItem : public Item {
 public:
  MailItem(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t number,
           std::uint32_t folder);
  std::string DefaultValue() const override;

  std::string To();
  void SetTo(const std::string& v);
  std::string CC();
  void SetCC(const std::string& v);
  std::string BCC();
  void SetBCC(const std::string& v);
  std::string SenderName();
  // Guarded.
  std::string SenderEmailAddress();
  platform::DateTime ReceivedTime();
  platform::DateTime SentOn();
  std::shared_ptr<host::Attachments> Attachments();
  // The message object for MAPIUtils.
  std::shared_ptr<MapiObject> MAPIOBJECT();
  // Puts the mail into the Outbox for the next send/receive (guarded when a
  // program calls it).
  void Send();
  // True once Send has handed the mail over and it waits in the Outbox.
  bool Submitted() const;

 private:
  friend class SafeMailItem;
  void SendUnguarded();
};

class Attachments {
 public:
  explicit Attachments(std::shared_ptr<MailItem> mail) : mail_(std::move(mail)) {}
  int Count() const;
  // 1-based; HostError when out of range.
  std::shared_ptr<ItemAttachment> Item(int index) const;
  // By file name (case-insensitive); HostError when there is none.
  std::shared_ptr<ItemAttachment> Item(std::string_view name) const;
  // Attaches a copy of the file, named after it; HostError when it cannot be read.
  std::shared_ptr<ItemAttachment> Add(const std::string& path);
  void Remove(int index);

 private:
  std::shared_ptr<MailItem> mail_;
};

// One attachment of a mail item (host::Attachment is the transport's).
class ItemAttachment {
 public:
  ItemAttachment(std::shared_ptr<MailItem> mail, int index) : mail_(std::move(mail)), index_(index) {}
  int Index() const { return index_; }
  std::string FileName() const;
  std::string DisplayName() const { return FileName(); }
  std::size_t Size() const;
  // Writes the attachment's bytes to the file, replacing it.
  void SaveAsFile(const std::string& path) const;
  void Delete();

 private:
  std::shared_ptr<MailItem> mail_;
  int index_;  // 1-based
};

}  // namespace host

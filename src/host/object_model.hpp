#pragma once
// The mail client's object model, as the add-in sees it: the application,
// its session (namespace) with the stores and their folders, item
// collections, contact and mail items, explorer windows, the send/receive
// group, and the safe-item objects that read protected fields and send mail
// without the security prompt.
//
// Every object is handed out as std::shared_ptr and is a handle: folders and
// items refer to their stored data, so two handles of one folder or one
// saved item see the same data. A failed or refused call throws HostError.
//
// Events: item-added events are queued and delivered by the message loop
// (Application::DoEvents), never from inside the call that added the item;
// explorer events and the send/receive start event are raised while the
// call that causes them runs. Handlers always run as program calls, and an
// exception a handler lets out is kept (Application::EscapedErrors) instead
// of reaching the caller.
//
// The security guard watches programs: reading e-mail addresses and other
// protected fields, the current user's address, or sending with a mail
// item's own Send asks the person while the application is in program mode
// (the default). PersonScope marks the person's own actions, which never ask.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/contact_properties.hpp"
#include "host/errors.hpp"
#include "host/faults.hpp"
#include "host/profile.hpp"
#include "host/subscription.hpp"
#include "host/ui/commandbars.hpp"
#include "host/ui/view.hpp"
#include "host/value.hpp"
#include "platform/clock.hpp"

namespace platform {
class UserInterface;
class KeyStore;
}  // namespace platform

namespace host {

class Transport;
class Application;
class NameSpace;
class Folder;
class Folders;
class Items;
class Item;
class ContactItem;
class MailItem;
class Attachments;
class ItemAttachment;
class Explorer;
class Explorers;
class Recipient;
class SyncObject;
class SyncObjects;
class SafeContactItem;
class SafeMailItem;
class MapiUtils;
class MapiObject;

namespace detail {
struct Core;
class Store;
struct ItemRecord;
}  // namespace detail

// Anything the client hands out; its default value is what a late-bound
// read of the object itself gives.
class Object {
 public:
  virtual ~Object() = default;
  virtual std::string DefaultValue() const = 0;
};

// What the client runs on.
struct HostServices {
  platform::Clock& clock;
  platform::UserInterface& ui;
  Transport& transport;
  platform::KeyStore& keys;
};

enum class CallerMode { kProgram, kPerson };

// Default-folder numbers.
enum DefaultFolder : int {
  kFolderDeletedItems = 3,
  kFolderOutbox = 4,
  kFolderSentMail = 5,
  kFolderInbox = 6,
  kFolderContacts = 10,
};
// Item types (Items::Add, Application::CreateItem, Folder::DefaultItemType).
enum ItemType : int { kMailItem = 0, kContactItem = 2 };
// Folder types for Folders::Add.
enum FolderType : int { kFolderTypeMail = 6, kFolderTypeMailAlt = 12, kFolderTypeContacts = 10 };

// The sender's address property of MAPIUtils::HrGetOneProp.
inline constexpr std::uint32_t kPrSenderEmailAddress = 0x0C1F001E;

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

class Recipient : public Object {
 public:
  explicit Recipient(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  std::string Name() const;
  // Guarded.
  std::string Address() const;
  std::string DefaultValue() const override { return Name(); }

 private:
  std::shared_ptr<detail::Core> core_;
};

class NameSpace : public Object {
 public:
  explicit NameSpace(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  std::string DefaultValue() const override { return "Mapi"; }

  // 3 Deleted Items, 4 Outbox, 5 Sent Items, 6 Inbox, 10 Contacts of the
  // default store; HostError for other numbers.
  std::shared_ptr<Folder> GetDefaultFolder(int folder);
  std::shared_ptr<Recipient> CurrentUser();
  // Searches every open store; HostError when missing or not an entry id.
  std::shared_ptr<Folder> GetFolderFromID(std::string_view entryId);
  std::shared_ptr<Item> GetItemFromID(std::string_view entryId);
  // The top folders, one per open store, default store first.
  std::shared_ptr<host::Folders> Folders();
  // Asks the person to choose a folder (form "SelectFolder"); null when cancelled.
  std::shared_ptr<Folder> PickFolder();
  // Opens the file as a store, creating it when missing; it becomes the last
  // of the top folders. A file already open is left as it is.
  void AddStore(const std::string& path);
  // Closes the store whose top folder (or any folder) is given; the default
  // store cannot be removed.
  void RemoveStore(const std::shared_ptr<Folder>& folder);
  std::shared_ptr<host::SyncObjects> SyncObjects();

 private:
  std::shared_ptr<detail::Core> core_;
};

class Folder : public Object, public std::enable_shared_from_this<Folder> {
 public:
  Folder(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t number);

  std::string EntryID() const;
  // The hexadecimal id of the folder's store.
  std::string StoreID() const;
  std::string Name() const;
  void SetName(const std::string& name);
  std::string DefaultValue() const override;
  // The parent folder, or the NameSpace for a store's top folder.
  std::shared_ptr<Object> Parent() const;
  std::shared_ptr<host::Folders> Folders() const;
  std::shared_ptr<host::Items> Items() const;
  // 0 mail, 2 contacts.
  std::int32_t DefaultItemType() const;
  std::int32_t UnReadItemCount() const;
  // Moves the folder with its contents under Deleted Items; removes it for
  // good when it is there already. Default folders cannot be deleted.
  void Delete();
  // The folder's view definition.
  std::string ViewXml() const;
  void SetViewXml(const std::string& xml);
  // The names from the store's top folder down, joined by "/".
  std::string FolderPath() const;
  // True when both handles name one folder.
  bool IsSameAs(const Folder& other) const;
  // The top folder of the folder's store.
  std::shared_ptr<Folder> StoreRoot() const;

  // For the object model's own use.
  const std::shared_ptr<detail::Store>& StoreHandle() const { return store_; }
  std::uint32_t Number() const { return number_; }

 private:
  std::shared_ptr<detail::Core> core_;
  std::shared_ptr<detail::Store> store_;
  std::uint32_t number_;
};

class Folders {
 public:
  // The subfolders of a folder, or (store null) the top folders of the session.
  Folders(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t parent);

  int Count() const;
  // 1-based; HostError when out of range.
  std::shared_ptr<Folder> Item(int index) const;
  // By name (case-insensitive); HostError when there is none.
  std::shared_ptr<Folder> Item(std::string_view name) const;
  std::shared_ptr<Folder> GetFirst();
  std::shared_ptr<Folder> GetNext();
  std::shared_ptr<Folder> GetLast();
  // A new subfolder: type 10 contacts, 6 or 12 mail. A name the folder
  // already has is refused.
  std::shared_ptr<Folder> Add(const std::string& name, int folderType = kFolderTypeMail);

 private:
  std::vector<std::shared_ptr<Folder>> List() const;
  std::shared_ptr<detail::Core> core_;
  std::shared_ptr<detail::Store> store_;
  std::uint32_t parent_;
  int cursor_ = 0;
};

class Items {
 public:
  Items(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t folder);
  ~Items();

  int Count();
  // 1-based; HostError when out of range.
  std::shared_ptr<host::Item> Item(int index);
  std::shared_ptr<host::Item> GetFirst();
  std::shared_ptr<host::Item> GetNext();
  std::shared_ptr<host::Item> GetLast();
  std::shared_ptr<host::Item> GetPrevious();
  // A new unsaved item of the folder: "IPM.Contact" (or a class below it) or
  // 2 for a contact, "IPM.Note" (or below) or 0 for a mail.
  std::shared_ptr<host::Item> Add(std::string_view messageClass);
  std::shared_ptr<host::Item> Add(int itemType);
  // A live collection of the items that meet the filter.
  std::shared_ptr<Items> Restrict(std::string_view filter);
  // Orders this collection by a property ("[UnRead]" or "UnRead"); stable.
  void Sort(std::string_view property, bool descending = false);
  std::shared_ptr<Folder> Parent() const;
  // The item-added event of the folder: delivered by the message loop.
  Subscription OnItemAdd(std::function<void(std::shared_ptr<host::Item>)> handler);

 private:
  struct State;
  std::shared_ptr<detail::Core> core_;
  std::unique_ptr<State> state_;
  const std::vector<std::uint32_t>& Evaluate();
  std::shared_ptr<host::Item> At(std::size_t zeroBased);
};

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

class Explorer : public Object, public std::enable_shared_from_this<Explorer> {
 public:
  Explorer(std::weak_ptr<detail::Core> core, std::shared_ptr<Folder> folder, int id,
           std::shared_ptr<CommandBarsRegistry> registry);
  ~Explorer() override;
  std::string DefaultValue() const override { return Caption(); }
  std::string Caption() const;
  int Id() const { return id_; }

  std::shared_ptr<Folder> CurrentFolder() const;
  // Raises BeforeFolderSwitch (a handler may cancel), then FolderSwitch.
  void SetCurrentFolder(const std::shared_ptr<Folder>& folder);
  // Raises Activate; the explorer becomes the active one.
  void Activate();
  // Raises Close and removes the explorer from the Explorers.
  void Close();
  bool IsClosed() const { return closed_; }

  // The window's toolbars and menu bar ("Standard", "Menu Bar"). Buttons
  // with one tag share their click events across all windows.
  host::CommandBars& CommandBars();
  // The view the window shows: the current folder's view definition.
  // Applying it stores its XML as the folder's definition.
  std::shared_ptr<View> CurrentView();
  // Shows another view in the window (its XML becomes the folder's
  // definition when it is applied).
  void SetCurrentView(const std::shared_ptr<View>& view);

  Subscription OnActivate(std::function<void()> handler);
  Subscription OnBeforeFolderSwitch(std::function<void(std::shared_ptr<Folder>, bool& cancel)> handler);
  Subscription OnFolderSwitch(std::function<void()> handler);
  Subscription OnClose(std::function<void()> handler);

 private:
  std::shared_ptr<detail::Core> Core() const;
  std::weak_ptr<detail::Core> core_;
  void AttachView(const std::shared_ptr<View>& view);
  std::shared_ptr<Folder> folder_;
  int id_;
  bool closed_ = false;
  std::unique_ptr<host::CommandBars> bars_;
  std::shared_ptr<View> view_;
  std::string viewSource_;  // the folder's definition the view was made from or last applied
  detail::EventSource<> activate_;
  detail::EventSource<std::shared_ptr<Folder>, bool&> beforeSwitch_;
  detail::EventSource<> folderSwitch_;
  detail::EventSource<> close_;
};

class Explorers {
 public:
  explicit Explorers(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  int Count() const;
  // 1-based.
  std::shared_ptr<Explorer> Item(int index) const;
  // Opens a new explorer window on the folder and raises NewExplorer.
  std::shared_ptr<Explorer> Add(const std::shared_ptr<Folder>& folder);
  Subscription OnNewExplorer(std::function<void(std::shared_ptr<Explorer>)> handler);

 private:
  std::shared_ptr<detail::Core> core_;
};

class SyncObject : public Object {
 public:
  explicit SyncObject(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  std::string Name() const { return "All Accounts"; }
  std::string DefaultValue() const override { return Name(); }
  // Raises SyncStart, sends every submitted Outbox mail through the
  // transport into Sent Items, then fetches new mail into the Inbox.
  void Start();
  Subscription OnSyncStart(std::function<void()> handler);
  Subscription OnSyncEnd(std::function<void()> handler);
  // What went wrong in the last Start (a mail that could not be sent stays
  // in the Outbox; a fetch that failed is tried again next time).
  const std::vector<std::string>& LastErrors() const;

 private:
  std::shared_ptr<detail::Core> core_;
};

class SyncObjects {
 public:
  explicit SyncObjects(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  int Count() const { return 1; }
  // 1-based; the one send/receive group.
  std::shared_ptr<SyncObject> Item(int index) const;

 private:
  std::shared_ptr<detail::Core> core_;
};

// An opaque message object (MailItem::MAPIOBJECT).
class MapiObject {
 public:
  explicit MapiObject(std::shared_ptr<MailItem> mail) : mail_(std::move(mail)) {}
  const std::shared_ptr<MailItem>& Mail() const { return mail_; }

 private:
  std::shared_ptr<MailItem> mail_;
};

class SafeContactItem {
 public:
  explicit SafeContactItem(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  void SetItem(std::shared_ptr<ContactItem> contact);
  std::shared_ptr<ContactItem> GetItem() const { return item_; }
  // Reads any contact property, protected ones included, without asking.
  Variant GetProperty(std::string_view name) const;
  std::string Text(std::string_view name) const;
  std::string Email1Address() const { return Text("Email1Address"); }

 private:
  std::shared_ptr<detail::Core> core_;
  std::shared_ptr<ContactItem> item_;
};

class SafeMailItem {
 public:
  explicit SafeMailItem(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  void SetItem(std::shared_ptr<MailItem> mail);
  std::shared_ptr<MailItem> GetItem() const { return item_; }
  // Sends without asking.
  void Send();
  std::string SenderName() const;
  std::string SenderEmailAddress() const;
  Variant GetProperty(std::string_view name) const;

 private:
  std::shared_ptr<detail::Core> core_;
  std::shared_ptr<MailItem> item_;
};

class MapiUtils {
 public:
  explicit MapiUtils(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  // Only 0x0C1F001E (the sender's address) is known; HostError otherwise.
  std::string HrGetOneProp(const std::shared_ptr<MapiObject>& object, std::uint32_t tag) const;

 private:
  std::shared_ptr<detail::Core> core_;
};

}  // namespace host

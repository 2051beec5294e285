#pragma once
// One message store: a SQLite file of our own format holding a tree of
// folders and their items, with an in-memory copy of everything so that
// reads, restrictions and walks never touch the disk. Every change is
// written through at once, one transaction per change.
//
// This is the storage layer below the object model (host/object_model.hpp);
// programs use the object model.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/contact_properties.hpp"
#include "host/entry_id.hpp"
#include "host/value.hpp"
#include "platform/sqlite.hpp"

namespace host::detail {

enum class ItemKind { kMail = 0, kContact = 1 };
enum class FolderRole { kNone = 0, kRoot, kDeleted, kInbox, kOutbox, kSent, kContacts };

// Folder item types as the client numbers them.
inline constexpr std::int32_t kMailItemType = 0;
inline constexpr std::int32_t kContactItemType = 2;

struct AttachmentData {
  std::string name;
  std::vector<std::uint8_t> data;
};

// Stored properties that differ from the schema's default, by schema index,
// sorted by index.
using PropList = std::vector<std::pair<std::uint16_t, Variant>>;

struct ItemRecord {
  std::uint32_t number = 0;
  std::uint32_t folder = 0;
  std::uint64_t seq = 0;  // order within the folder: arrival order
  ItemKind kind = ItemKind::kMail;
  std::string messageClass;
  bool unread = false;
  platform::DateTime created = platform::DateTime::NoDate();
  platform::DateTime modified = platform::DateTime::NoDate();
  bool submitted = false;  // a mail handed to Send, waiting in the Outbox
  PropList props;
  // Named text properties a program adds to an item besides the schema's
  // (the client's "user properties"); kept with the item, never shown.
  std::map<std::string, std::string> userProps;
  std::vector<AttachmentData> attachments;
};

// A copy of everything but the attachments (which may be megabytes).
inline ItemRecord WithoutAttachments(const ItemRecord& r) {
  ItemRecord c;
  c.number = r.number;
  c.folder = r.folder;
  c.seq = r.seq;
  c.kind = r.kind;
  c.messageClass = r.messageClass;
  c.unread = r.unread;
  c.created = r.created;
  c.modified = r.modified;
  c.submitted = r.submitted;
  c.props = r.props;
  c.userProps = r.userProps;
  return c;
}

struct FolderRecord {
  std::uint32_t number = 0;
  std::uint32_t parent = 0;  // 0 for the store's top folder
  std::string name;
  std::int32_t defaultItemType = kMailItemType;
  FolderRole role = FolderRole::kNone;
  std::string viewXml;
  std::uint64_t seq = 0;
  std::vector<std::uint32_t> children;  // in creation order
  std::vector<std::uint32_t> items;     // in arrival order
  std::uint64_t version = 0;            // changes whenever its items change, except...
  std::uint64_t unreadVersion = 0;      // ...their unread flags, counted here
};

enum class StoreLayout {
  kPersonalFile,  // top folder with Deleted Items only
  kDefault,       // top folder with Deleted Items, Inbox, Outbox, Sent Items, Contacts
};

// The default view definition of new mail folders (contacts folders take
// host::DefaultContactsViewXml).
std::string DefaultMailViewXml();

class Store {
 public:
  // Opens the store file, creating it with the layout when it does not
  // exist. A new file is made whole under a temporary name beside it and then
  // put in place, so an existing file that is empty or holds no tables is a
  // damaged one. Throws HostError for a file that is not a store or cannot be
  // read whole; such a file is left as it was.
  static std::shared_ptr<Store> Open(const std::filesystem::path& path, StoreLayout layout);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const StoreId& Id() const { return id_; }
  const std::filesystem::path& Path() const { return path_; }
  bool IsOpen() const { return db_.IsOpen(); }
  void Close();

  std::uint32_t Root() const { return root_; }
  // Null when there is no such folder or item.
  const FolderRecord* Folder(std::uint32_t number) const;
  const ItemRecord* Item(std::uint32_t number) const;
  // The folder with a role; 0 when the store has none.
  std::uint32_t FolderByRole(FolderRole role) const;
  // True when `folder` is `ancestor` or lies below it.
  bool IsWithin(std::uint32_t folder, std::uint32_t ancestor) const;
  // How many folders the store holds (its top folder included).
  std::size_t FolderCount() const { return folders_.size(); }

  // Changes. Each is one transaction; HostError when the file refuses it or
  // no longer holds the folder or item (another process deleted it); the
  // in-memory copy then stays as it was.
  std::uint32_t CreateFolder(std::uint32_t parent, const std::string& name, std::int32_t itemType,
                             FolderRole role);
  void RenameFolder(std::uint32_t number, const std::string& name);
  void SetViewXml(std::uint32_t number, const std::string& xml);
  void MoveFolder(std::uint32_t number, std::uint32_t newParent);
  // Removes the folder with every folder and item below it.
  void DeleteFolderTree(std::uint32_t number);

  // Adds the record as a new item (its number and seq are assigned) and
  // returns its number. The record is moved from only when it was added.
  std::uint32_t InsertItem(ItemRecord&& record);
  // Writes the record's properties, class, flags and times; attachments too
  // when `attachments` is set.
  void UpdateItem(const ItemRecord& record, bool attachments);
  void SetUnread(std::uint32_t number, bool unread);
  void MoveItem(std::uint32_t number, std::uint32_t folder);
  // Deletes the item for good. An item that arrived from a transport keeps
  // its key (InsertArrived's) wherever it is moved within the store; deleting
  // it puts that key in the removal queue, in the same transaction, so that
  // the transport deletes the message too. `queueRemoval` false (the item
  // lives on in another store) forgets the key instead.
  void DeleteItem(std::uint32_t number, bool queueRemoval = true);

  // Mail arriving from a transport, stored exactly once. `key` is the
  // transport's unique name of the message. InsertArrived adds the record as
  // InsertItem does and records the key, both in one transaction; when the
  // key is recorded already it adds nothing and returns 0.
  std::uint32_t InsertArrived(ItemRecord record, const std::string& key);
  // Whether the key is recorded (asks the file: another process may have
  // recorded it).
  bool HasArrived(const std::string& key) const;
  // Removes the key's record, if any; the item stays.
  void ForgetArrived(const std::string& key);

  // The keys of arrived items deleted for good that the transport has not
  // deleted yet, oldest first (asks the file: another process may have
  // added some).
  std::vector<std::string> PendingRemovals() const;
  // Takes the keys out of the removal queue, all in one transaction; keys
  // not in it are passed over.
  void ClearRemovals(const std::vector<std::string>& keys);

 private:
  enum class FileState { kStore, kNoLayout, kNoFolders };
  Store() = default;
  // Opens `file` (with `create`, makes the new file `file` and its layout);
  // messages name `shown`.
  static std::shared_ptr<Store> OpenFile(const std::filesystem::path& file, const std::filesystem::path& shown,
                                         StoreLayout layout, bool create);
  template <typename F>
  auto Guarded(F&& f) const -> decltype(f());
  platform::sqlite::Statement& Prepare(const char* sql) const;
  void Exec(const char* sql);
  FileState Validate();
  bool CreateLayout(StoreLayout layout);
  void EnsureArrivedTables();
  void QueueRemovals(bool wholeFolder, std::int64_t number);
  bool HasTable(const char* name) const;
  void Load();
  std::uint32_t NextNumber();
  std::uint32_t WriteFolder(std::uint32_t parent, const std::string& name, std::int32_t itemType, FolderRole role,
                            std::uint64_t seq, const std::string& xml);
  void WriteNewItem(ItemRecord& record);
  void AddItemToMemory(ItemRecord record);
  void BindItem(platform::sqlite::Statement& st, const ItemRecord& r);
  void WriteAttachments(const ItemRecord& r);
  void Touch(std::uint32_t folder);
  std::int64_t ExecWithNumber(const char* sql, std::int64_t number);
  FolderRecord& UpdateFolderText(std::uint32_t number, const char* sql, const std::string& value);
  [[noreturn]] void Fail(const std::string& what) const;
  [[noreturn]] void Damaged(const std::string& why) const;
  [[noreturn]] void NotAStore() const;

  // The connection outlives its statements (members go in reverse order).
  mutable platform::sqlite::Connection db_;
  mutable std::unordered_map<std::string, platform::sqlite::Statement> statements_;
  std::filesystem::path path_;
  StoreId id_{};
  std::uint32_t root_ = 0;
  std::uint32_t nextNumber_ = 1;
  std::uint64_t nextSeq_ = 1;
  std::unordered_map<std::uint32_t, FolderRecord> folders_;
  std::unordered_map<std::uint32_t, ItemRecord> items_;
};

// The schema of an item kind.
const PropertySchema& SchemaOf(ItemKind kind);

// The value of a property of a stored item (intrinsic ones included);
// `index` is the schema index for the item's kind.
Variant PropertyValue(const ItemRecord& r, std::size_t index, const StoreId& store);
// The stored value (not intrinsic) or the default.
const Variant& StoredValue(const PropList& props, std::size_t index, const Variant& fallback);
void SetStoredValue(PropList& props, std::size_t index, Variant value, const Variant& defaultValue);

}  // namespace host::detail

#pragma once
// Folders, folder collections and item collections.
#include "host/object_model/base.hpp"

namespace host {

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

}  // namespace host

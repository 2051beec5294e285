#pragma once
// The session (namespace): stores, folders and items by id, the current user.
#include "host/object_model/base.hpp"

namespace host {

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
  // Searches every open store. NotFoundError when the id names nothing or
  // its store is open and holds no such object; HostError when its store
  // is not open (or the call fails otherwise).
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

}  // namespace host

// The session, folders and folder collections.
#include <algorithm>
#include <string_view>
#include <system_error>

#include "host/core.hpp"
#include "platform/text.hpp"
#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"

namespace host {

using detail::FolderOf;
using detail::FolderRole;
using detail::RequireOpen;

// ---- Recipient ----

std::string Recipient::Name() const {
  core_->Check("Recipient.Name");
  return core_->profile.DisplayName();
}

std::string Recipient::Address() const {
  core_->Check("Recipient.Address");
  core_->GuardAddressRead();
  return core_->profile.Address();
}

// ---- NameSpace ----

std::shared_ptr<Folder> NameSpace::GetDefaultFolder(int folder) {
  core_->Check("NameSpace.GetDefaultFolder");
  FolderRole role;
  switch (folder) {
    case kFolderDeletedItems: role = FolderRole::kDeleted; break;
    case kFolderOutbox: role = FolderRole::kOutbox; break;
    case kFolderSentMail: role = FolderRole::kSent; break;
    case kFolderInbox: role = FolderRole::kInbox; break;
    case kFolderContacts: role = FolderRole::kContacts; break;
    default: throw HostError("The default folder " + std::to_string(folder) + " does not exist.");
  }
  return core_->DefaultFolder(role);
}

std::shared_ptr<Recipient> NameSpace::CurrentUser() {
  core_->Check("NameSpace.CurrentUser");
  return std::make_shared<Recipient>(core_);
}

std::shared_ptr<Folder> NameSpace::GetFolderFromID(std::string_view entryId) {
  core_->Check("NameSpace.GetFolderFromID");
  auto parts = ParseEntryId(entryId);
  if (!parts) throw NotFoundError();
  auto store = core_->FindStore(parts->store);
  if (!store) throw HostError(kStoreNotOpenMessage);
  if (!store->Folder(parts->number)) throw NotFoundError();
  return core_->MakeFolder(store, parts->number);
}

std::shared_ptr<Item> NameSpace::GetItemFromID(std::string_view entryId) {
  core_->Check("NameSpace.GetItemFromID");
  auto parts = ParseEntryId(entryId);
  if (!parts) throw NotFoundError();
  auto store = core_->FindStore(parts->store);
  if (!store) throw HostError(kStoreNotOpenMessage);
  if (!store->Item(parts->number)) throw NotFoundError();
  return core_->MakeItem(store, parts->number);
}

std::shared_ptr<host::Folders> NameSpace::Folders() {
  core_->Check("NameSpace.Folders");
  return std::make_shared<host::Folders>(core_, nullptr, 0);
}

namespace {

// The folder chooser: a list of every folder's path and OK / Cancel.
class SelectFolderForm : public platform::Form {
 public:
  SelectFolderForm() : Form("SelectFolder", "Select Folder") {
    list_ = &Add<platform::ListBox>("Folders");
    auto& ok = Add<platform::Button>("OK", "OK");
    auto& cancel = Add<platform::Button>("Cancel", "Cancel");
    ok.SetDefault(true);
    cancel.SetCancel(true);
    ok.onClick = [this] {
      if (list_->ListIndex() < 0) return;
      chosen_ = list_->ListIndex();
      Hide();
    };
    cancel.onClick = [this] { Hide(); };
  }
  platform::ListBox& List() { return *list_; }
  int Chosen() const { return chosen_; }

 private:
  platform::ListBox* list_;
  int chosen_ = -1;
};

using FolderChoice = std::pair<std::string, std::pair<std::shared_ptr<detail::Store>, std::uint32_t>>;

// The chooser shows a folder by its path, the names from the store's top
// folder down separated by "/". A path longer than this many characters is
// shown with names from its middle left out, so that the list of a tree
// thousands of folders deep stays small (the choice goes by position).
constexpr std::size_t kShownPathLength = 240;

// The shown path of the last folder of `branch` (the folders from the top
// folder down to it); `length` is the full path's length.
std::string ShownPath(const std::vector<const detail::FolderRecord*>& branch, std::size_t length) {
  const auto join = [&](std::size_t from, std::size_t to, std::string& out) {
    for (std::size_t i = from; i < to; ++i) {
      if (i > from) out += "/";
      out += branch[i]->name;
    }
  };
  std::string shown;
  if (length <= kShownPathLength) {
    join(0, branch.size(), shown);
    return shown;
  }
  // The top folder and the names after it that fit a third of the room,
  // "/.../", then the folder itself and the names above it that fit the rest
  // (a name longer than that is shown whole all the same).
  constexpr std::string_view kLeftOut = "/.../";
  std::size_t head = 1;
  std::size_t headLength = branch.front()->name.size();
  while (head + 1 < branch.size() && headLength + 1 + branch[head]->name.size() <= kShownPathLength / 3) {
    headLength += 1 + branch[head++]->name.size();
  }
  const std::size_t room = kShownPathLength - std::min(headLength + kLeftOut.size(), kShownPathLength);
  std::size_t tail = branch.size() - 1;
  std::size_t tailLength = branch.back()->name.size();
  while (tail > head && tailLength + 1 + branch[tail - 1]->name.size() <= room) {
    tailLength += 1 + branch[--tail]->name.size();
  }
  join(0, head, shown);
  shown += tail > head ? kLeftOut : "/";
  join(tail, branch.size(), shown);
  return shown;
}

// Every folder of the store, its top folder first, in the order a person
// reads the tree (each folder before its subfolders, subfolders in their
// order). The walk keeps its own stack, so a tree of any depth takes the
// same room on the call stack.
void CollectFolders(const std::shared_ptr<detail::Store>& store, std::vector<FolderChoice>& out) {
  std::vector<std::pair<std::uint32_t, std::size_t>> pending{{store->Root(), 0}};  // folder, depth
  std::vector<const detail::FolderRecord*> branch;  // the folders from the top down to the one visited
  std::vector<std::size_t> lengths;                 // the path length of each folder of `branch`
  while (!pending.empty()) {
    const auto [number, depth] = pending.back();
    pending.pop_back();
    const detail::FolderRecord* f = store->Folder(number);
    if (!f) continue;
    branch.resize(depth);
    lengths.resize(depth);
    branch.push_back(f);
    lengths.push_back(depth == 0 ? f->name.size() : lengths.back() + 1 + f->name.size());
    out.push_back({ShownPath(branch, lengths.back()), {store, number}});
    for (auto c = f->children.rbegin(); c != f->children.rend(); ++c) pending.emplace_back(*c, depth + 1);
  }
}

}  // namespace

std::shared_ptr<Folder> NameSpace::PickFolder() {
  core_->Check("NameSpace.PickFolder");
  std::vector<FolderChoice> all;
  for (const auto& s : core_->stores) {
    if (s->IsOpen()) CollectFolders(s, all);
  }
  SelectFolderForm form;
  form.SetUser(&core_->services.ui);
  for (const auto& entry : all) form.List().AddItem(entry.first);
  form.Show(true);
  int chosen = form.Chosen();
  if (chosen < 0 || chosen >= static_cast<int>(all.size())) return nullptr;
  const auto& [store, number] = all[static_cast<std::size_t>(chosen)].second;
  if (!store->IsOpen() || !store->Folder(number)) return nullptr;
  return core_->MakeFolder(store, number);
}

void NameSpace::AddStore(const std::string& path) {
  core_->Check("NameSpace.AddStore");
  if (path.empty()) throw HostError("The file name is empty.");
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  for (const auto& s : core_->stores) {
    std::error_code ec2;
    if (s->IsOpen() && std::filesystem::weakly_canonical(s->Path(), ec2) == canonical) return;
  }
  core_->stores.push_back(detail::Store::Open(canonical.empty() ? std::filesystem::path(path) : canonical,
                                              detail::StoreLayout::kPersonalFile));
}

void NameSpace::RemoveStore(const std::shared_ptr<Folder>& folder) {
  core_->Check("NameSpace.RemoveStore");
  if (!folder) throw HostError(kNotFoundMessage);
  const auto& store = folder->StoreHandle();
  auto it = std::find(core_->stores.begin(), core_->stores.end(), store);
  if (it == core_->stores.end() || !store->IsOpen()) throw HostError(kNotFoundMessage);
  if (it == core_->stores.begin()) throw HostError("The default store cannot be removed.");
  store->Close();
  core_->stores.erase(it);
}

std::shared_ptr<host::SyncObjects> NameSpace::SyncObjects() {
  core_->Check("NameSpace.SyncObjects");
  return std::make_shared<host::SyncObjects>(core_);
}

// ---- Folder ----

Folder::Folder(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t number)
    : core_(std::move(core)), store_(std::move(store)), number_(number) {}

std::string Folder::EntryID() const {
  core_->Check("Folder.EntryID");
  FolderOf(*store_, number_);
  return FormatEntryId(store_->Id(), number_);
}

std::string Folder::StoreID() const {
  core_->Check("Folder.StoreID");
  RequireOpen(*store_);
  std::string id = FormatEntryId(store_->Id(), 0);
  return id.substr(8, 32);
}

std::string Folder::Name() const {
  core_->Check("Folder.Name");
  return FolderOf(*store_, number_).name;
}

std::string Folder::DefaultValue() const { return Name(); }

void Folder::SetName(const std::string& name) {
  core_->Check("Folder.SetName");
  const auto& f = FolderOf(*store_, number_);
  if (name.empty()) throw HostError("A folder name cannot be empty.");
  if (f.parent != 0) {
    for (auto c : FolderOf(*store_, f.parent).children) {
      if (c != number_ && platform::EqualsIgnoreCase(store_->Folder(c)->name, name)) {
        throw HostError("Cannot rename the folder: a folder named " + name + " already exists.");
      }
    }
  }
  store_->RenameFolder(number_, name);
}

std::shared_ptr<Object> Folder::Parent() const {
  core_->Check("Folder.Parent");
  const auto& f = FolderOf(*store_, number_);
  if (f.parent == 0) return std::make_shared<NameSpace>(core_);
  return core_->MakeFolder(store_, f.parent);
}

std::shared_ptr<host::Folders> Folder::Folders() const {
  core_->Check("Folder.Folders");
  FolderOf(*store_, number_);
  return std::make_shared<host::Folders>(core_, store_, number_);
}

std::shared_ptr<host::Items> Folder::Items() const {
  core_->Check("Folder.Items");
  FolderOf(*store_, number_);
  return std::make_shared<host::Items>(core_, store_, number_);
}

std::int32_t Folder::DefaultItemType() const {
  core_->Check("Folder.DefaultItemType");
  return FolderOf(*store_, number_).defaultItemType;
}

std::int32_t Folder::UnReadItemCount() const {
  core_->Check("Folder.UnReadItemCount");
  std::int32_t count = 0;
  for (auto n : FolderOf(*store_, number_).items) {
    const auto* r = store_->Item(n);
    if (r && r->unread) ++count;
  }
  return count;
}

void Folder::Delete() {
  core_->Check("Folder.Delete");
  const auto& f = FolderOf(*store_, number_);
  if (f.role != FolderRole::kNone) throw HostError("The folder " + f.name + " cannot be deleted.");
  std::uint32_t deleted = store_->FolderByRole(FolderRole::kDeleted);
  if (deleted == 0 || store_->IsWithin(number_, deleted)) {
    store_->DeleteFolderTree(number_);
  } else {
    store_->MoveFolder(number_, deleted);
  }
}

std::string Folder::ViewXml() const {
  core_->Check("Folder.ViewXml");
  return FolderOf(*store_, number_).viewXml;
}

void Folder::SetViewXml(const std::string& xml) {
  core_->Check("Folder.SetViewXml");
  FolderOf(*store_, number_);
  store_->SetViewXml(number_, xml);
}

std::string Folder::FolderPath() const {
  FolderOf(*store_, number_);
  std::vector<std::string> names;
  std::uint32_t n = number_;
  // Up the parent links to the top folder; no path is longer than the
  // store has folders (the guard only stops a damaged chain).
  for (std::size_t guard = 0; n != 0 && guard < store_->FolderCount(); ++guard) {
    const auto* f = store_->Folder(n);
    if (!f) break;
    names.push_back(f->name);
    n = f->parent;
  }
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty()) path += "/";
    path += *it;
  }
  return path;
}

bool Folder::IsSameAs(const Folder& other) const { return store_ == other.store_ && number_ == other.number_; }

std::shared_ptr<Folder> Folder::StoreRoot() const {
  RequireOpen(*store_);
  return core_->MakeFolder(store_, store_->Root());
}

// ---- Folders ----

Folders::Folders(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t parent)
    : core_(std::move(core)), store_(std::move(store)), parent_(parent) {}

std::vector<std::shared_ptr<Folder>> Folders::List() const {
  std::vector<std::shared_ptr<Folder>> out;
  if (!store_) {
    for (const auto& s : core_->stores) {
      if (s->IsOpen()) out.push_back(core_->MakeFolder(s, s->Root()));
    }
    return out;
  }
  for (auto c : FolderOf(*store_, parent_).children) out.push_back(core_->MakeFolder(store_, c));
  return out;
}

int Folders::Count() const {
  core_->Check("Folders.Count");
  if (!store_) {
    return static_cast<int>(std::count_if(core_->stores.begin(), core_->stores.end(),
                                          [](const auto& s) { return s->IsOpen(); }));
  }
  return static_cast<int>(FolderOf(*store_, parent_).children.size());
}

std::shared_ptr<Folder> Folders::Item(int index) const {
  core_->Check("Folders.Item");
  auto list = List();
  if (index < 1 || index > static_cast<int>(list.size())) throw HostError("Array index out of bounds.");
  return list[static_cast<std::size_t>(index - 1)];
}

std::shared_ptr<Folder> Folders::Item(std::string_view name) const {
  core_->Check("Folders.Item");
  if (!store_) {
    for (const auto& s : core_->stores) {
      if (s->IsOpen() && platform::EqualsIgnoreCase(s->Folder(s->Root())->name, name)) {
        return core_->MakeFolder(s, s->Root());
      }
    }
    throw HostError(kNotFoundMessage);
  }
  for (auto c : FolderOf(*store_, parent_).children) {
    if (platform::EqualsIgnoreCase(store_->Folder(c)->name, name)) return core_->MakeFolder(store_, c);
  }
  throw HostError(kNotFoundMessage);
}

std::shared_ptr<Folder> Folders::GetFirst() {
  core_->Check("Folders.GetFirst");
  auto list = List();
  cursor_ = 1;
  return list.empty() ? nullptr : list.front();
}

std::shared_ptr<Folder> Folders::GetNext() {
  core_->Check("Folders.GetNext");
  auto list = List();
  ++cursor_;
  if (cursor_ < 1 || cursor_ > static_cast<int>(list.size())) return nullptr;
  return list[static_cast<std::size_t>(cursor_ - 1)];
}

std::shared_ptr<Folder> Folders::GetLast() {
  core_->Check("Folders.GetLast");
  auto list = List();
  cursor_ = static_cast<int>(list.size());
  return list.empty() ? nullptr : list.back();
}

std::shared_ptr<Folder> Folders::Add(const std::string& name, int folderType) {
  core_->Check("Folders.Add");
  if (!store_) throw HostError("A top-level folder cannot be added; open a personal folders file instead.");
  std::int32_t itemType;
  switch (folderType) {
    case kFolderTypeContacts: itemType = detail::kContactItemType; break;
    case kFolderTypeMail:
    case kFolderTypeMailAlt: itemType = detail::kMailItemType; break;
    default: throw HostError("Cannot create the folder: the folder type " + std::to_string(folderType) + " is not valid.");
  }
  if (platform::Trim(name).empty()) throw HostError("Cannot create the folder: the name is empty.");
  for (auto c : FolderOf(*store_, parent_).children) {
    if (platform::EqualsIgnoreCase(store_->Folder(c)->name, name)) {
      throw HostError("Cannot create the folder: a folder named " + name + " already exists.");
    }
  }
  std::uint32_t n = store_->CreateFolder(parent_, name, itemType, FolderRole::kNone);
  return core_->MakeFolder(store_, n);
}

}  // namespace host

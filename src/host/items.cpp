// Item collections, restrictions and sorting.
#include <algorithm>
#include <numeric>

#include "host/core.hpp"
#include "host/restrict.hpp"
#include "platform/text.hpp"

namespace host {

using detail::FolderOf;
using detail::ItemKind;

struct Items::State {
  std::shared_ptr<detail::Store> store;
  std::uint32_t folder = 0;
  std::vector<detail::Filter> filters;
  // The sort property's index per item kind (mail, contact).
  bool sorted = false;
  std::array<std::optional<std::size_t>, 2> sortIndex;
  bool descending = false;
  // The evaluated list, valid while the folder's version is unchanged.
  bool cached = false;
  std::uint64_t version = 0;
  std::uint64_t unreadVersion = 0;
  // True when the filters or the order depend on the unread flags.
  bool watchesUnread = false;
  std::vector<std::uint32_t> list;
  int cursor = 0;  // 1-based position of the last item handed out by GetFirst/GetNext
};

Items::Items(std::shared_ptr<detail::Core> core, std::shared_ptr<detail::Store> store, std::uint32_t folder)
    : core_(std::move(core)), state_(std::make_unique<State>()) {
  state_->store = std::move(store);
  state_->folder = folder;
}

Items::~Items() = default;

const std::vector<std::uint32_t>& Items::Evaluate() {
  State& s = *state_;
  const detail::FolderRecord& f = FolderOf(*s.store, s.folder);
  if (s.cached && s.version == f.version && (!s.watchesUnread || s.unreadVersion == f.unreadVersion)) return s.list;
  s.list.clear();
  const StoreId& id = s.store->Id();
  for (auto n : f.items) {
    const detail::ItemRecord* r = s.store->Item(n);
    if (!r) continue;
    bool ok = true;
    for (const auto& filter : s.filters) {
      if (!filter.Matches(*r, id)) {
        ok = false;
        break;
      }
    }
    if (ok) s.list.push_back(n);
  }
  if (s.sorted) {
    std::vector<std::pair<Variant, std::uint32_t>> keyed;
    keyed.reserve(s.list.size());
    for (auto n : s.list) {
      const detail::ItemRecord* r = s.store->Item(n);
      const auto& index = s.sortIndex[static_cast<int>(r->kind)];
      keyed.emplace_back(index ? detail::PropertyValue(*r, *index, id) : Variant(), n);
    }
    bool desc = s.descending;
    std::stable_sort(keyed.begin(), keyed.end(), [desc](const auto& a, const auto& b) {
      int c = detail::CompareValues(a.first, b.first);
      return desc ? c > 0 : c < 0;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) s.list[i] = keyed[i].second;
  }
  s.cached = true;
  s.version = f.version;
  s.unreadVersion = f.unreadVersion;
  return s.list;
}

std::shared_ptr<Item> Items::At(std::size_t zeroBased) {
  const auto& list = Evaluate();
  if (zeroBased >= list.size()) return nullptr;
  return core_->MakeItem(state_->store, list[zeroBased]);
}

int Items::Count() {
  core_->Check("Items.Count");
  return static_cast<int>(Evaluate().size());
}

std::shared_ptr<Item> Items::Item(int index) {
  core_->Check("Items.Item");
  const auto& list = Evaluate();
  if (index < 1 || index > static_cast<int>(list.size())) throw HostError("Array index out of bounds.");
  return At(static_cast<std::size_t>(index - 1));
}

std::shared_ptr<Item> Items::GetFirst() {
  core_->Check("Items.GetFirst");
  state_->cursor = 1;
  return At(0);
}

std::shared_ptr<Item> Items::GetNext() {
  core_->Check("Items.GetNext");
  ++state_->cursor;
  if (state_->cursor < 1) return nullptr;
  return At(static_cast<std::size_t>(state_->cursor - 1));
}

std::shared_ptr<Item> Items::GetLast() {
  core_->Check("Items.GetLast");
  const auto& list = Evaluate();
  state_->cursor = static_cast<int>(list.size());
  if (list.empty()) return nullptr;
  return At(list.size() - 1);
}

std::shared_ptr<Item> Items::GetPrevious() {
  core_->Check("Items.GetPrevious");
  --state_->cursor;
  if (state_->cursor < 1) {
    state_->cursor = 0;
    return nullptr;
  }
  return At(static_cast<std::size_t>(state_->cursor - 1));
}

namespace {

// True when `cls` is `base` or a class below it ("IPM.Contact.GroupContact").
bool IsClassOf(std::string_view cls, std::string_view base) {
  if (cls.size() < base.size() || !platform::EqualsIgnoreCase(cls.substr(0, base.size()), base)) return false;
  return cls.size() == base.size() || cls[base.size()] == '.';
}

}  // namespace

std::shared_ptr<Item> Items::Add(std::string_view messageClass) {
  core_->Check("Items.Add");
  FolderOf(*state_->store, state_->folder);
  std::shared_ptr<host::Item> item;
  if (IsClassOf(messageClass, kContactClass)) {
    item = std::make_shared<ContactItem>(core_, state_->store, 0, state_->folder);
  } else if (IsClassOf(messageClass, kMailClass)) {
    item = std::make_shared<MailItem>(core_, state_->store, 0, state_->folder);
  } else {
    throw HostError("Could not create the item: the message class \"" + std::string(messageClass) +
                    "\" is not supported.");
  }
  if (messageClass.size() != std::string_view(item->IsContact() ? kContactClass : kMailClass).size()) {
    item->Edit().messageClass = std::string(messageClass);
  }
  return item;
}

std::shared_ptr<Item> Items::Add(int itemType) {
  if (itemType == kContactItem) return Add(std::string_view(kContactClass));
  if (itemType == kMailItem) return Add(std::string_view(kMailClass));
  core_->Check("Items.Add");
  throw HostError("Could not create the item: type " + std::to_string(itemType) + ".");
}

std::shared_ptr<Items> Items::Restrict(std::string_view filter) {
  core_->Check("Items.Restrict");
  FolderOf(*state_->store, state_->folder);
  auto parsed = detail::Filter::Parse(filter);
  auto result = std::make_shared<Items>(core_, state_->store, state_->folder);
  result->state_->filters = state_->filters;
  result->state_->filters.push_back(std::move(parsed));
  result->state_->watchesUnread =
      state_->watchesUnread || platform::FoldCase(filter).find("unread") != std::string::npos;
  result->state_->sorted = state_->sorted;
  result->state_->sortIndex = state_->sortIndex;
  result->state_->descending = state_->descending;
  return result;
}

void Items::Sort(std::string_view property, bool descending) {
  core_->Check("Items.Sort");
  std::string name = platform::Trim(property);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = platform::Trim(name.substr(1, name.size() - 2));
  std::array<std::optional<std::size_t>, 2> index;
  index[static_cast<int>(ItemKind::kMail)] = MailSchema().IndexOf(name);
  index[static_cast<int>(ItemKind::kContact)] = ContactSchema().IndexOf(name);
  if (!index[0] && !index[1]) throw HostError("The property \"" + name + "\" is unknown.");
  state_->sorted = true;
  state_->sortIndex = index;
  if (platform::EqualsIgnoreCase(name, "UnRead")) state_->watchesUnread = true;
  state_->descending = descending;
  state_->cached = false;
}

std::shared_ptr<Folder> Items::Parent() const {
  core_->Check("Items.Parent");
  FolderOf(*state_->store, state_->folder);
  return core_->MakeFolder(state_->store, state_->folder);
}

Subscription Items::OnItemAdd(std::function<void(std::shared_ptr<host::Item>)> handler) {
  core_->Check("Items.ItemAdd");
  FolderOf(*state_->store, state_->folder);
  return core_->itemAdd[{state_->store->Id(), state_->folder}].Add(std::move(handler));
}

}  // namespace host

#include "cli/folder_paths.hpp"

#include "cli/errors.hpp"
#include "host/object_model.hpp"

namespace cli {
namespace {

// The subfolder whose name equals `name` exactly; null when none.
std::shared_ptr<host::Folder> Child(const host::Folder& parent, const std::string& name) {
  auto folders = parent.Folders();
  const int count = folders->Count();
  for (int i = 1; i <= count; ++i) {
    auto f = folders->Item(i);
    if (f->Name() == name) return f;
  }
  return nullptr;
}

// Walks `names` from `start` down; the deepest folder reached and how many
// names it took.
std::pair<std::shared_ptr<host::Folder>, std::size_t> Walk(std::shared_ptr<host::Folder> start,
                                                           const std::vector<std::string>& names,
                                                           std::size_t first) {
  std::size_t used = first;
  while (used < names.size()) {
    auto next = Child(*start, names[used]);
    if (!next) break;
    start = std::move(next);
    ++used;
  }
  return {start, used};
}

std::shared_ptr<host::Folder> TopFolderNamed(host::NameSpace& session, const std::string& name) {
  auto tops = session.Folders();
  const int count = tops->Count();
  for (int i = 1; i <= count; ++i) {
    auto f = tops->Item(i);
    if (f->Name() == name) return f;
  }
  return nullptr;
}

std::shared_ptr<host::Folder> DefaultTop(host::NameSpace& session) { return session.Folders()->Item(1); }

}  // namespace

std::vector<std::string> SplitFolderPath(std::string_view path) {
  std::vector<std::string> names;
  std::string name;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '\\' && i + 1 < path.size() && (path[i + 1] == '/' || path[i + 1] == '\\')) {
      name += path[++i];
    } else if (c == '/') {
      if (!name.empty()) names.push_back(std::move(name));
      name.clear();
    } else {
      name += c;
    }
  }
  if (!name.empty()) names.push_back(std::move(name));
  if (names.empty()) throw CliError("empty folder path: \"" + std::string(path) + "\"");
  return names;
}

std::string EscapeFolderName(std::string_view name) {
  std::string escaped;
  escaped.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '/') {
      escaped += "\\/";
    } else if (c == '\\' && (i + 1 == name.size() || name[i + 1] == '/' || name[i + 1] == '\\')) {
      escaped += "\\\\";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::shared_ptr<host::Folder> FindFolder(host::NameSpace& session, std::string_view path) {
  const auto names = SplitFolderPath(path);
  if (auto top = TopFolderNamed(session, names.front())) {
    auto [folder, used] = Walk(top, names, 1);
    if (used == names.size()) return folder;
  }
  auto [folder, used] = Walk(DefaultTop(session), names, 0);
  if (used == names.size()) return folder;
  return nullptr;
}

std::shared_ptr<host::Folder> ResolveFolder(host::NameSpace& session, std::string_view path) {
  auto folder = FindFolder(session, path);
  if (!folder) throw CliError("no such folder: " + std::string(path));
  return folder;
}

CreatedFolder AddContactsFolder(host::NameSpace& session, std::string_view path) {
  const auto names = SplitFolderPath(path);
  if (FindFolder(session, path)) throw CliError("folder already exists: " + std::string(path));
  // Take the longer existing start: from a named top folder or from the default store's top.
  std::shared_ptr<host::Folder> at;
  std::size_t used = 0;
  if (auto top = TopFolderNamed(session, names.front())) {
    std::tie(at, used) = Walk(top, names, 1);
  }
  if (!at || used == 1) {
    auto [fromDefault, usedDefault] = Walk(DefaultTop(session), names, 0);
    if (!at || usedDefault > 0) {
      at = fromDefault;
      used = usedDefault;
    }
  }
  CreatedFolder result;
  for (std::size_t i = used; i < names.size(); ++i) {
    at = at->Folders()->Add(names[i], host::kFolderTypeContacts);
    result.created.push_back(FullPath(*at));
  }
  result.folder = at;
  return result;
}

std::string FullPath(const host::Folder& folder) {
  // The names from the folder up to its store's top folder, whose parent is
  // the session.
  std::vector<std::string> names{folder.Name()};
  for (auto up = std::dynamic_pointer_cast<host::Folder>(folder.Parent()); up;
       up = std::dynamic_pointer_cast<host::Folder>(up->Parent())) {
    names.push_back(up->Name());
  }
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty()) path += "/";
    path += EscapeFolderName(*it);
  }
  return path;
}

}  // namespace cli

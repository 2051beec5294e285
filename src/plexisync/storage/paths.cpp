#include "plexisync/storage/paths.hpp"

#include <stdexcept>
#include <string_view>
#include <vector>

#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {
namespace {

// The classic platform's "Invalid procedure call or argument".
constexpr std::int32_t kErrInvalidCall = 5;

// The subfolder of `parent` whose name equals `name` exactly (the client's
// own lookup by name ignores case); nullptr when there is none.
std::shared_ptr<host::Folder> ChildNamed(host::Folders& folders, const std::string& name) {
  const int count = folders.Count();
  for (int i = 1; i <= count; ++i) {
    auto folder = folders.Item(i);
    if (folder->Name() == name) return folder;
  }
  return nullptr;
}

// Takes the first name off the path, as Extract_Folder does, without
// copying the rest: walking a long hostile path stays linear.
std::string_view TakeFirstName(std::string_view& rest) {
  const std::string_view separator = kPathSeparator;
  const std::size_t pos = rest.find(separator);
  const std::string_view name = pos == std::string_view::npos ? rest : rest.substr(0, pos);
  rest.remove_prefix(name.size());
  if (rest.substr(0, separator.size()) == separator) rest.remove_prefix(separator.size());
  return name;
}

}  // namespace

void CheckFolderPath(const std::string& path) {
  std::string_view rest = path;
  if (rest.empty() || rest == kPathSeparator) return;
  std::size_t levels = 0;
  while (!rest.empty() && rest != kPathSeparator) {
    const std::string_view name = TakeFirstName(rest);
    if (++levels > kMaxPathLevels) {
      throw AddinError(kErrInvalidCall, "The folder path has more than " + std::to_string(kMaxPathLevels) +
                                            " levels; no folder is looked for or made");
    }
    const std::string shown = "'" + std::string(name.substr(0, 40)) + (name.size() > 40 ? "...'" : "'");
    if (name.empty()) {
      throw AddinError(kErrInvalidCall, "The folder path has an empty folder name at level " +
                                            std::to_string(levels) + "; no folder is looked for or made");
    }
    if (platform::CharacterCount(name) > kMaxFolderNameLength) {
      throw AddinError(kErrInvalidCall, "The folder name " + shown + " at level " + std::to_string(levels) +
                                            " is longer than " + std::to_string(kMaxFolderNameLength) +
                                            " characters; no folder is looked for or made");
    }
    for (const char c : name) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) {
        throw AddinError(kErrInvalidCall, "The folder name at level " + std::to_string(levels) +
                                              " holds the control character " + std::to_string(u) +
                                              "; no folder is looked for or made");
      }
    }
  }
}

std::string Get_Path(Context& ctx, const std::shared_ptr<host::Folder>& folder) {
  return ProtectOr(ctx, "Get_Path", std::string(), [&] {
    if (!folder) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    // The names from the folder up; the walk stops at the session above the
    // store's top folder. The session is recognised by its kind rather than
    // by its default value "Mapi", which a folder could carry as its name.
    std::vector<std::string> names;
    std::shared_ptr<host::Folder> x = folder;
    while (x) {
      names.push_back(x->Name());
      auto parent = x->Parent();
      if (std::dynamic_pointer_cast<host::NameSpace>(parent)) break;
      x = std::dynamic_pointer_cast<host::Folder>(parent);
      if (!x) throw AddinError(kErrInvalidCall, "Folder parent is neither a folder nor the session");
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
      if (it != names.rbegin()) path += kPathSeparator;
      path += *it;
    }
    return platform::Trim(path) + kPathSeparator + kEndOfPath;
  });
}

std::string Extract_Path(Context& ctx, const std::string& text) {
  return ProtectOr(ctx, "Extract_Path", std::string(), [&] {
    const long pos = platform::InStr(text, kEndOfPath);
    if (pos == 0) throw AddinError(kErrInvalidCall, "Invalid procedure call or argument");
    return platform::RTrim(platform::Left(text, pos - 1));
  });
}

std::string Extract_Folder(Context& ctx, std::string& path) {
  return ProtectOr(ctx, "Extract_Folder", std::string(), [&] {
    std::string_view rest = path;
    std::string name(TakeFirstName(rest));
    path = std::string(rest);
    return name;
  });
}

std::shared_ptr<host::Folder> Set_Folder(Context& ctx, const std::string& path, bool create, bool& found) {
  return ProtectOr(ctx, "Set_Folder", std::shared_ptr<host::Folder>(), [&]() -> std::shared_ptr<host::Folder> {
    // A path from a mail is checked whole before any folder is looked up.
    CheckFolderPath(path);
    auto session = ctx.app().Session();
    std::string_view rest = path;
    if (rest.empty() || rest == kPathSeparator) {
      auto contacts = session->GetDefaultFolder(host::kFolderContacts);
      found = true;
      return contacts;
    }
    // The store: the open one whose top folder has the first name, else the
    // default store (the sender's store may be named differently).
    std::string name(TakeFirstName(rest));
    auto current = ChildNamed(*session->Folders(), name);
    if (!current) {
      current = std::dynamic_pointer_cast<host::Folder>(session->GetDefaultFolder(host::kFolderContacts)->Parent());
      if (!current) throw AddinError(kErrInvalidCall, "The default contacts folder has no top folder");
    }
    while (!rest.empty() && rest != kPathSeparator) {
      name = TakeFirstName(rest);
      auto subfolders = current->Folders();
      auto next = ChildNamed(*subfolders, name);
      if (!next) {
        if (!create) {
          found = false;
          return nullptr;
        }
        next = subfolders->Add(name, host::kFolderTypeContacts);
      }
      current = std::move(next);
    }
    found = true;
    return current;
  });
}

void Delete_Contact(Context& ctx, const std::shared_ptr<host::Item>& contact, const platform::DateTime& reference) {
  Protect(ctx, "Delete_Contact", [&] {
    if (!contact) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    std::string folderId;
    PassOver([&] { folderId = contact->Parent()->EntryID(); });
    const std::string localId = contact->EntryID();
    const platform::DateTime modified = contact->LastModificationTime();
    if (modified >= reference) {
      // Changed here since the reference moment: keep the user's work.
      bool found = false;
      auto safety = Set_Folder(ctx, kSafetyFolderPath, true, found);
      if (safety) {
        contact->Move(safety);
      } else {
        contact->Delete();
      }
      if (!folderId.empty()) Remove_CorrID(ctx, folderId, localId);
    } else {
      contact->Delete();
      if (!folderId.empty()) Remove_CorrID(ctx, folderId, localId);
      // The deletion leaves a copy among the deleted items: remove it too.
      PassOver([&] {
        if (auto left = ctx.app().Session()->GetItemFromID(localId)) left->Delete();
      });
    }
  });
}

void Purge_Item(Context& ctx, const std::shared_ptr<host::Item>& mail) {
  if (!mail) return;
  std::string entryId;
  PassOver([&] { entryId = mail->EntryID(); });
  PassOver([&] { mail->Delete(); });
  PassOver([&] {
    if (auto left = ctx.app().Session()->GetItemFromID(entryId)) left->Delete();
  });
}

}  // namespace plexisync

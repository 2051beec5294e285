// The receiving commands: the client's send/receive, after which the add-in
// applies the update mails as they arrive in the Inbox, and the import of a
// personal-folders file into a folder. Both report what changed in the
// contacts folders, read from the client's folders and the sharing
// database's identity entries before and after.
#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/folder_paths.hpp"
#include "cli/session.hpp"
#include "cli/terminal_text.hpp"
#include "host/object_model.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/receive/receive_journal.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace cli {
namespace {

namespace fs = std::filesystem;

// The error log's size: the add-in logs its failures instead of letting
// them out, so a log that grew during a command tells that something failed.
std::uintmax_t AddinLogSize(const plexisync::Context* ctx) {
  if (!ctx || ctx->InstDir.empty()) return 0;
  std::error_code ec;
  const auto size = fs::file_size(ctx->InstDir + "errors.log", ec);
  return ec ? 0 : size;
}

// One contacts folder as it was at a moment: its contacts' entry ids and
// the identity (CorrID) the sharing database gives each.
struct FolderState {
  std::set<std::string> ids;
  std::map<std::string, std::string> corrIdOf;
};

// Every contacts folder of every open store at a moment, by folder id, and
// where each folder was: its parent's id ("" for a store's top folder) and
// its name. A folder's path is put together only when it is reported, so a
// tree thousands of folders deep does not keep a path of thousands of names
// for each of them.
struct ContactsState {
  std::map<std::string, FolderState> folders;
  std::unordered_map<std::string, std::pair<std::string, std::string>> placeOf;

  // The folder's full path as FullPath writes it.
  std::string PathOf(const std::string& id) const {
    std::vector<const std::string*> names;
    std::string at = id;
    for (std::size_t guard = 0; guard <= placeOf.size(); ++guard) {
      auto place = placeOf.find(at);
      if (place == placeOf.end()) break;
      names.push_back(&place->second.second);
      at = place->second.first;
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
      if (!path.empty()) path += "/";
      path += EscapeFolderName(**it);
    }
    return path;
  }
};

// Adds the folder and every folder below it, each folder before its
// subfolders. The walk keeps its own stack, so a tree of any depth is
// walked in the same room on the call stack.
void CollectFolder(const std::shared_ptr<host::Folder>& top, plexisync::Context* ctx, ContactsState& state) {
  std::vector<std::pair<std::shared_ptr<host::Folder>, std::string>> pending{{top, ""}};  // folder, parent's id
  while (!pending.empty()) {
    const auto [folder, parentId] = std::move(pending.back());
    pending.pop_back();
    const std::string id = folder->EntryID();
    state.placeOf[id] = {parentId, folder->Name()};
    if (folder->DefaultItemType() == host::kContactItem) {
      FolderState& f = state.folders[id];
      auto items = folder->Items();
      const int count = items->Count();
      for (int i = 1; i <= count; ++i) f.ids.insert(items->Item(i)->EntryID());
      if (ctx && ctx->Reg) {
        const std::string key = plexisync::MappingKeyPath(*ctx, id);
        if (ctx->reg().KeyExists(key)) {
          for (auto& [itemId, corrId] : ctx->reg().GetAllValueTexts(key)) f.corrIdOf.emplace(itemId, corrId);
        }
      }
    }
    auto subfolders = folder->Folders();
    for (int i = subfolders->Count(); i >= 1; --i) pending.emplace_back(subfolders->Item(i), id);
  }
}

// Every contacts folder of every open store.
ContactsState TakeContactsState(ProfileSession& s) {
  return s.AsPerson([&] {
    ContactsState state;
    auto tops = s.Session()->Folders();
    const int count = tops->Count();
    for (int i = 1; i <= count; ++i) CollectFolder(tops->Item(i), s.Addin(), state);
    return state;
  });
}

struct FolderChange {
  std::string path;
  bool created = false;
  bool gone = false;
  std::size_t added = 0;     // contacts new to the folder
  std::size_t replaced = 0;  // a contact replaced by a new one of the same identity
  std::size_t removed = 0;
};

std::vector<FolderChange> Compare(const ContactsState& before, const ContactsState& after) {
  std::vector<FolderChange> changes;
  for (const auto& [id, now] : after.folders) {
    FolderChange c;
    auto was = before.folders.find(id);
    if (was == before.folders.end()) {
      c.path = after.PathOf(id);
      c.created = true;
      c.added = now.ids.size();
      changes.push_back(c);
      continue;
    }
    std::set<std::string> gone;
    std::set_difference(was->second.ids.begin(), was->second.ids.end(), now.ids.begin(), now.ids.end(),
                        std::inserter(gone, gone.end()));
    // The identities of the contacts that went, to tell a replacement from
    // a contact that is new.
    std::multimap<std::string, std::string> goneByCorrId;
    for (const auto& g : gone) {
      auto m = was->second.corrIdOf.find(g);
      if (m != was->second.corrIdOf.end() && !m->second.empty()) goneByCorrId.emplace(m->second, g);
    }
    for (const auto& n : now.ids) {
      if (was->second.ids.count(n)) continue;
      auto m = now.corrIdOf.find(n);
      auto match = m == now.corrIdOf.end() ? goneByCorrId.end() : goneByCorrId.find(m->second);
      if (match != goneByCorrId.end()) {
        ++c.replaced;
        gone.erase(match->second);
        goneByCorrId.erase(match);
      } else {
        ++c.added;
      }
    }
    c.removed = gone.size();
    if (c.added || c.replaced || c.removed) {
      c.path = after.PathOf(id);
      changes.push_back(c);
    }
  }
  for (const auto& [id, was] : before.folders) {
    if (after.folders.count(id)) continue;
    FolderChange c;
    c.path = before.PathOf(id);
    c.gone = true;
    c.removed = was.ids.size();
    changes.push_back(c);
  }
  return changes;
}

std::string Count(std::size_t n, const char* what) { return std::to_string(n) + " " + what; }

void PrintChanges(std::ostream& out, const std::vector<FolderChange>& changes) {
  if (changes.empty()) {
    out << "No contacts changed\n";
    return;
  }
  for (const auto& c : changes) {
    out << PrintableLine(c.path) << ": ";
    if (c.gone) {
      out << "folder gone (" << c.removed << " contact" << (c.removed == 1 ? "" : "s") << ")\n";
      continue;
    }
    std::vector<std::string> parts;
    if (c.created) parts.push_back("new folder");
    if (c.added || c.created) parts.push_back(Count(c.added, c.added == 1 ? "contact arrived" : "contacts arrived"));
    if (c.replaced) parts.push_back(Count(c.replaced, "replaced"));
    if (c.removed) parts.push_back(Count(c.removed, "removed"));
    for (std::size_t i = 0; i < parts.size(); ++i) out << (i ? ", " : "") << parts[i];
    out << "\n";
  }
}

// The update mails in the Inbox, by subject.
int UpdateMailsInInbox(ProfileSession& s) {
  return s.AsPerson([&] {
    auto items = s.Session()->GetDefaultFolder(host::kFolderInbox)->Items();
    int n = 0;
    const int count = items->Count();
    for (int i = 1; i <= count; ++i) {
      auto item = items->Item(i);
      if (item->MessageClass() == "IPM.Note" && item->DefaultValue() == plexisync::kUpdateMailSubject) ++n;
    }
    return n;
  });
}

}  // namespace

int SendReceive(ProfileSession& s, std::ostream& out) {
  const bool addin = s.Addin() != nullptr;
  const std::uintmax_t logSize = AddinLogSize(s.Addin());
  ContactsState before;
  int updateMailsBefore = 0;
  if (addin) {
    before = TakeContactsState(s);
    updateMailsBefore = UpdateMailsInInbox(s);
  }

  int problems = 0;
  s.AsPerson([&] {
    auto ns = s.Session();
    auto outbox = ns->GetDefaultFolder(host::kFolderOutbox);
    auto inbox = ns->GetDefaultFolder(host::kFolderInbox);
    const int waiting = outbox->Items()->Count();
    const int inboxBefore = inbox->Items()->Count();
    auto sync = ns->SyncObjects()->Item(1);
    out << "Send/receive started\n";
    sync->Start();
    const int sent = waiting - outbox->Items()->Count();
    const int received = inbox->Items()->Count() - inboxBefore;
    out << "Sent " << std::max(sent, 0) << ", received " << std::max(received, 0) << "\n";
    for (const auto& p : sync->LastErrors()) {
      out << "Problem: " << PrintableLine(p) << "\n";
      ++problems;
    }
  });
  if (!addin) return problems;

  // The arrivals reach the add-in through the client's message loop, as
  // events of the Inbox: the add-in applies the update mails there (asking
  // its questions), not as the person's own action.
  const int updateMailsFetched = UpdateMailsInInbox(s);
  s.DoEvents();
  const int updateMailsLeft = UpdateMailsInInbox(s);
  const int arrived = std::max(updateMailsFetched - updateMailsBefore, 0);
  if (arrived > 0 || updateMailsLeft > 0) {
    const int applied = std::max(updateMailsFetched - updateMailsLeft, 0);
    out << "Update mails: " << arrived << " arrived, " << applied << " applied";
    if (updateMailsLeft > 0) out << ", " << updateMailsLeft << " left in the Inbox";
    out << "\n";
  }
  PrintChanges(out, Compare(before, TakeContactsState(s)));
  // An update mail whose apply was stopped (a store refusing a write, a
  // full disk) is kept by the add-in and finished by a later send/receive.
  const std::size_t unfinished = plexisync::ReceiveJournal::Unfinished(*s.Addin()).size();
  if (unfinished > 0) {
    out << "Problem: " << unfinished << (unfinished == 1 ? " update mail was" : " update mails were")
        << " not applied to the end; the next send-receive goes on with "
        << (unfinished == 1 ? "it" : "them") << " (see plexisync log)\n";
    ++problems;
  } else if (AddinLogSize(s.Addin()) != logSize) {
    out << "The add-in logged an error meanwhile; see plexisync log\n";
    ++problems;
  }
  return problems;
}

int ImportFile(ProfileSession& s, std::ostream& out, const std::string& folderPath) {
  plexisync::Context* ctx = s.Addin();
  if (!ctx) throw CliError("the add-in is not loaded");
  auto folder = s.AsPerson([&] { return ResolveFolder(*s.Session(), folderPath); });
  const std::string path = s.AsPerson([&] { return FullPath(*folder); });
  if (s.AsPerson([&] { return folder->DefaultItemType(); }) != host::kContactItem) {
    throw CliError("not a contacts folder: " + path);
  }
  if (!ctx->Import_file) throw CliError("the add-in cannot import from a file");
  const std::uintmax_t logSize = AddinLogSize(ctx);
  const ContactsState before = TakeContactsState(s);
  out << "Importing a personal-folders file into " << PrintableLine(path) << "\n";
  auto import = ctx->Import_file;  // the hook may be replaced while it runs
  const bool done = import(folder);
  s.DoEvents();
  PrintChanges(out, Compare(before, TakeContactsState(s)));
  if (!done) {
    throw CliError("nothing was imported into " + path +
                   ": no file was chosen, its name does not end in \".pst\", or it did not open as an export file");
  }
  if (AddinLogSize(ctx) != logSize) {
    out << "The add-in logged an error meanwhile; see plexisync log\n";
    return 1;
  }
  return 0;
}

}  // namespace cli

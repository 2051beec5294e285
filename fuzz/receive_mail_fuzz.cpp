// Takes the input as the text of an update mail's "body.pxs" and lets the
// add-in receive that one mail the whole way: the mail arrives in the
// Inbox through the client's send/receive (an in-memory transport), the
// add-in's Inbox scan finds it and CReceiveMail::ProceedUpdates reads the
// attachment, the folder path, the sender and applies every block. The
// person answers every four-answer question "No to All" and every Yes/No
// box "No".
//
// The reader ("Reader Rose" <rose@example.org>) is a member of the owner's
// folder "Team": before the first input the target applies
// tools/receive_base.pxs, the owner's first share of it, so that records
// and deleted lines of the seeds (the same owner's later update mails, see
// tools/receive_seed.cpp) meet local counterparts and their questions.
//
// The client and the add-in are made once. After each input the profile is
// put back as it was after the first share: folders and items that were
// not there are deleted for good, the key store is rewritten to its saved
// content and files new in the installation folder are removed. An input
// that changed the starting state itself gets the profile made anew, and
// the client and the add-in are started again once the person's transcript
// has grown long.
//
// Checks besides the sanitizers: no exception leaves the client's
// send/receive or its message loop, no handler lets one out, no mail is
// left marked as being applied, and at most one update mail (the input's)
// stays in the Inbox.
//
// The transcript kept across inputs means every input ends with more
// allocations than frees, so libFuzzer runs each input twice and a full leak
// check after it until it turns that off by itself (after 1,000 inputs, a
// few dozen per second until then); -detect_leaks=0 skips that start. Leaks
// are still reported when the process ends.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "host/object_model.hpp"
#include "host/profile.hpp"
#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "platform/text.hpp"
#include "platform/ui/controls.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/appl.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/settings.hpp"
#include "support/manual_clock.hpp"
#include "support/memory_transport.hpp"

namespace {

namespace fs = std::filesystem;
using plexisync::HKEY_CURRENT_USER;

// The sender of every mail: the owner who wrote the seeds.
constexpr const char* kOwnerName = "Olive Owner";
constexpr const char* kOwnerAddress = "olive@example.org";
constexpr const char* kReaderName = "Reader Rose";
constexpr const char* kReaderAddress = "rose@example.org";

// Every contact of the default Contacts folder has a FullName without a NUL
// byte after the receive (arrived values lose their control characters).
constexpr bool kCheckNamesWithoutNul = true;

// The person's transcript keeps every question; past this many entries the
// client and the add-in are started anew.
constexpr std::size_t kTranscriptLimit = 20000;

// RECEIVE_MAIL_FUZZ_TRACE=1 prints, for each input, what the person was
// shown and asked and what the add-in logged (to look into a finding).
bool Tracing() {
  static const bool on = [] {
    const char* value = std::getenv("RECEIVE_MAIL_FUZZ_TRACE");
    return value != nullptr && *value != '\0' && *value != '0';
  }();
  return on;
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "receive_mail_fuzz: %s\n", what);
  __builtin_trap();
}

// The person at the screen: "No to All" for the four-answer question, "No"
// for every Yes/No box, the answer that changes nothing for anything else.
class NoToAllUser final : public platform::UserInterface {
 public:
  NoToAllUser() : UserInterface("Plexisync") {}

 protected:
  platform::MsgBoxResult AnswerMessage(const platform::MessageRequest& request) override {
    if (request.buttons == platform::MsgBoxButtons::YesNo || request.buttons == platform::MsgBoxButtons::YesNoCancel) {
      return platform::MsgBoxResult::No;
    }
    return platform::NeutralResult(request.buttons);
  }
  std::optional<std::string> ChooseFile(const platform::FileDialogRequest&) override { return std::nullopt; }
  void InteractWithForm(platform::Form& form) override {
    if (platform::EqualsIgnoreCase(form.Name(), "Klausimas")) {
      if (auto* noToAll = form.Find<platform::Button>("Command4")) ClickFor(*noToAll);
    }
    if (form.IsVisible()) CloseWithCancel(form);
  }
};

// One key of the key store with its values, as saved.
struct SavedKey {
  std::string path;
  std::vector<platform::NamedValue> values;
};

struct SavedItem {
  std::string folderId;
  platform::DateTime modified;
};

struct SavedFolder {
  std::string name;
  std::string parentId;  // "" for a top folder
};

std::string JoinKey(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

std::vector<std::string> SubKeys(platform::KeyStore& hive, const std::string& path) {
  std::vector<std::string> names;
  for (std::size_t i = 0;; ++i) {
    auto name = hive.EnumSubKey(path, i);
    if (!name) break;
    names.push_back(std::move(*name));
  }
  return names;
}

void SaveKeys(platform::KeyStore& hive, const std::string& path, std::vector<SavedKey>& out) {
  out.push_back(SavedKey{path, hive.ReadValues(path)});
  for (const auto& name : SubKeys(hive, path)) SaveKeys(hive, JoinKey(path, name), out);
}

void DeleteKeyTree(platform::KeyStore& hive, const std::string& path) {
  for (const auto& name : SubKeys(hive, path)) DeleteKeyTree(hive, JoinKey(path, name));
  hive.DeleteKey(path);
}

using KeyPathSet = std::unordered_set<std::string, platform::IgnoreCaseHash, platform::IgnoreCaseEqual>;

// Deletes the keys below `path` that were not saved.
void DeleteNewKeys(platform::KeyStore& hive, const std::string& path, const KeyPathSet& saved) {
  for (const auto& name : SubKeys(hive, path)) {
    const std::string child = JoinKey(path, name);
    if (saved.count(child) != 0) {
      DeleteNewKeys(hive, child, saved);
    } else {
      DeleteKeyTree(hive, child);
    }
  }
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The reader's computer: the client on a profile of its own, the add-in
// started on it, and what the profile held after the first share.
class Reader {
 public:
  explicit Reader(const fs::path& dir)
      : profile_(host::Profile::Create(dir, kReaderName, kReaderAddress, dir.parent_path() / "postoffice")),
        // Nobody else opens this scratch profile.
        hive_(profile_.OpenKeyStore(platform::KeyStore::Sharing::kSoleUser)) {
    plexisync::CRegistry reg([this](std::int32_t root) { return root == HKEY_CURRENT_USER ? hive_.get() : nullptr; });
    reg.Init(HKEY_CURRENT_USER);
    // A returning user (no first-start dialogue) who never updates on
    // send/receive.
    const std::string key = std::string(host::kProductKey) + "default\\";
    reg.SetValue(key, "version", std::string(plexisync::kLayoutVersion), 1);
    reg.SetValue(key, "MyMails", std::string(plexisync::kMyMailOpen) + kReaderAddress + plexisync::kMyMailClose, 1);
    reg.SetValue(key, "AutoUpdate", std::string("0"), 1);
    StartClient();
  }
  ~Reader() { EndClient(); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // One update mail from the owner with `text` as its attachment, received
  // by the client's send/receive; the add-in applies it.
  void Receive(std::string_view text) {
    host::MailMessage mail;
    mail.from = {kOwnerName, kOwnerAddress};
    mail.bcc = {{"", kReaderAddress}};
    mail.subject = plexisync::kUpdateMailSubject;
    mail.attachments.push_back(
        {plexisync::kBodyFile, std::vector<std::uint8_t>(text.begin(), text.end()), "text/plain"});
    transport_.boxes[kReaderAddress].push_back(std::move(mail));
    const std::size_t shown = user_->Transcript().size();
    try {
      {
        host::PersonScope person(*app_);
        app_->Session()->SyncObjects()->Item(1)->Start();
      }
      app_->DoEvents();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "receive_mail_fuzz: escaped the send/receive: %s\n", e.what());
      __builtin_trap();
    } catch (...) {
      Require(false, "an exception of no known type escaped the send/receive");
    }
    for (const auto& e : app_->EscapedErrors()) std::fprintf(stderr, "receive_mail_fuzz: escaped a handler: %s\n", e.c_str());
    if (Tracing()) {
      for (std::size_t i = shown; i < user_->Transcript().size(); ++i) {
        std::fprintf(stderr, "receive_mail_fuzz: person: %s\n", user_->Transcript()[i].c_str());
      }
      const fs::path log = profile_.InstallDir() / "errors.log";
      if (fs::exists(log)) std::fprintf(stderr, "receive_mail_fuzz: errors.log:\n%s", ReadFile(log).c_str());
      std::fprintf(stderr, "receive_mail_fuzz: update mails left in the Inbox: %d\n", UpdateMailsInInbox());
    }
    Require(app_->EscapedErrors().empty(), "an exception escaped an event handler");
    Require(ctx_->MailsBeingApplied.empty(), "a mail is still marked as being applied");
    Require(UpdateMailsInInbox() <= 1, "more than one update mail in the Inbox");
  }

  // Visits every folder of every store, a parent before its subfolders,
  // with its entry id and its parent's ("" for a store's top folder); the
  // subfolders of a folder are visited when `visit` returns true.
  template <class Visit>
  void WalkFolders(Visit visit) {
    std::vector<std::pair<std::shared_ptr<host::Folder>, std::string>> pending;
    auto tops = app_->Session()->Folders();
    for (int i = 1; i <= tops->Count(); ++i) pending.emplace_back(tops->Item(i), "");
    while (!pending.empty()) {
      auto [folder, parentId] = std::move(pending.back());
      pending.pop_back();
      const std::string id = folder->EntryID();
      if (!visit(folder, id, parentId)) continue;
      auto subs = folder->Folders();
      for (int i = 1, n = subs->Count(); i <= n; ++i) pending.emplace_back(subs->Item(i), id);
    }
  }

  // Remembers the profile as it is now as the state to go back to.
  void SaveState() {
    host::PersonScope person(*app_);
    folders_.clear();
    items_.clear();
    WalkFolders([&](const std::shared_ptr<host::Folder>& folder, const std::string& id, const std::string& parentId) {
      folders_[id] = SavedFolder{folder->Name(), parentId};
      auto items = folder->Items();
      for (int i = 1, n = items->Count(); i <= n; ++i) {
        auto item = items->Item(i);
        items_[item->EntryID()] = SavedItem{id, item->LastModificationTime()};
      }
      return true;
    });
    keys_.clear();
    SaveKeys(*hive_, "", keys_);
    keyPaths_.clear();
    for (const auto& k : keys_) keyPaths_.insert(k.path);
    files_.clear();
    for (const auto& entry : fs::directory_iterator(profile_.InstallDir())) files_.insert(entry.path().filename());
  }

  // Puts the profile back as SaveState found it. False when the input
  // changed what was there (a saved folder or item is gone, moved, renamed
  // or changed): the profile must then be made anew.
  bool RestoreState() {
    bool intact = true;
    try {
      intact = RestoreStore();
      hive_->Transact([&] {
        DeleteNewKeys(*hive_, "", keyPaths_);
        for (const auto& k : keys_) hive_->ReplaceValues(k.path, k.values);
      });
      for (const auto& entry : fs::directory_iterator(profile_.InstallDir())) {
        if (files_.count(entry.path().filename()) == 0) fs::remove_all(entry.path());
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "receive_mail_fuzz: the profile could not be put back: %s\n", e.what());
      return false;
    }
    transport_.sent.clear();
    transport_.boxes.clear();
    transport_.claimed.clear();
    app_->ClearEscapedErrors();
    if (user_->Transcript().size() > kTranscriptLimit) {
      EndClient();
      StartClient();
    }
    return intact;
  }

  // Every contact of the default Contacts folder has a FullName without NUL.
  void CheckNames() {
    host::PersonScope person(*app_);
    auto items = app_->Session()->GetDefaultFolder(host::kFolderContacts)->Items();
    for (int i = 1, n = items->Count(); i <= n; ++i) {
      auto contact = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
      if (contact) Require(contact->FullName().find('\0') == std::string::npos, "a FullName holds a NUL byte");
    }
  }

  bool InboxEmpty() {
    host::PersonScope person(*app_);
    return app_->Session()->GetDefaultFolder(host::kFolderInbox)->Items()->Count() == 0;
  }
  bool ErrorLogged() const { return fs::exists(profile_.InstallDir() / "errors.log"); }

 private:
  void StartClient() {
    user_ = std::make_unique<NoToAllUser>();
    app_ = std::make_unique<host::Application>(profile_, host::HostServices{clock_, *user_, transport_, *hive_, zone_});
    ctx_ = std::make_unique<plexisync::Context>(plexisync::AddinServices{
        *user_, clock_, zone_, [this](std::int32_t root) { return root == HKEY_CURRENT_USER ? hive_.get() : nullptr; }});
    appl_ = std::make_unique<plexisync::Appl>(*ctx_);
    appl_->Init(*app_);
    appl_->SetUp();
  }
  void EndClient() {
    appl_.reset();
    ctx_.reset();
    app_.reset();
    user_.reset();
  }

  int UpdateMailsInInbox() {
    host::PersonScope person(*app_);
    auto items = app_->Session()->GetDefaultFolder(host::kFolderInbox)->Items();
    int count = 0;
    for (int i = 1, n = items->Count(); i <= n; ++i) {
      auto mail = std::dynamic_pointer_cast<host::MailItem>(items->Item(i));
      if (mail && mail->Subject() == plexisync::kUpdateMailSubject) ++count;
    }
    return count;
  }

  // Deletes for good every folder and item SaveState did not find; false
  // when a saved one is missing, moved, renamed or changed.
  bool RestoreStore() {
    host::PersonScope person(*app_);
    bool intact = true;
    std::size_t foldersSeen = 0, itemsSeen = 0;
    std::vector<std::shared_ptr<host::Folder>> newFolders;
    std::vector<std::shared_ptr<host::Item>> newItems;
    WalkFolders([&](const std::shared_ptr<host::Folder>& folder, const std::string& id, const std::string& parentId) {
      const auto saved = folders_.find(id);
      if (saved == folders_.end()) {
        newFolders.push_back(folder);
        return false;
      }
      ++foldersSeen;
      if (saved->second.parentId != parentId || saved->second.name != folder->Name()) intact = false;
      auto items = folder->Items();
      for (int i = 1, n = items->Count(); i <= n; ++i) {
        auto item = items->Item(i);
        const auto was = items_.find(item->EntryID());
        if (was == items_.end()) {
          newItems.push_back(std::move(item));
          continue;
        }
        ++itemsSeen;
        if (was->second.folderId != id || was->second.modified != item->LastModificationTime()) intact = false;
      }
      return true;
    });
    if (foldersSeen != folders_.size() || itemsSeen != items_.size()) intact = false;

    // Deleting moves a thing under Deleted Items (and raises the add-in's
    // item-added event there); what is under Deleted Items then is new and
    // goes for good.
    for (const auto& item : newItems) item->Delete();
    for (const auto& folder : newFolders) folder->Delete();
    app_->DoEvents();
    auto deleted = app_->Session()->GetDefaultFolder(host::kFolderDeletedItems);
    std::vector<std::shared_ptr<host::Item>> inDeleted;
    auto deletedItems = deleted->Items();
    for (int i = 1, n = deletedItems->Count(); i <= n; ++i) inDeleted.push_back(deletedItems->Item(i));
    for (const auto& item : inDeleted) item->Delete();
    std::vector<std::shared_ptr<host::Folder>> underDeleted;
    auto deletedFolders = deleted->Folders();
    for (int i = 1, n = deletedFolders->Count(); i <= n; ++i) underDeleted.push_back(deletedFolders->Item(i));
    for (const auto& folder : underDeleted) folder->Delete();
    app_->DoEvents();
    return intact;
  }

  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  host::MemoryTransport transport_;
  host::Profile profile_;
  std::unique_ptr<platform::KeyStore> hive_;
  std::unique_ptr<NoToAllUser> user_;
  std::unique_ptr<host::Application> app_;
  std::unique_ptr<plexisync::Context> ctx_;
  std::unique_ptr<plexisync::Appl> appl_;

  std::map<std::string, SavedFolder> folders_;
  std::map<std::string, SavedItem> items_;
  std::vector<SavedKey> keys_;
  KeyPathSet keyPaths_;
  std::set<fs::path> files_;
};

constexpr std::string_view kScratchPrefix = "receive_mail_fuzz.";

// Removes the scratch folders of processes that are gone: a crash, a timeout
// or an out-of-memory stop ends the process without removing its folder,
// and /dev/shm holds it in memory.
void RemoveStaleScratch(const fs::path& tmp) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(tmp, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kScratchPrefix, 0) != 0) continue;
    const std::string rest = name.substr(kScratchPrefix.size());
    const std::string pid = rest.substr(0, rest.find('.'));
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (fs::exists(fs::path("/proc") / pid, ec)) continue;
    fs::remove_all(entry.path(), ec);
  }
}

// The scratch folder (in memory when /dev/shm is there, since every change
// of the profile is a database write), the reader, and the first share.
class Fixture {
 public:
  Fixture() {
    const fs::path shm = "/dev/shm";
    std::error_code ec;
    const fs::path tmp = fs::is_directory(shm, ec) && ::access(shm.c_str(), W_OK) == 0 ? shm : fs::temp_directory_path();
    RemoveStaleScratch(tmp);
    std::string templ = (tmp / (std::string(kScratchPrefix) + std::to_string(::getpid()) + ".XXXXXX")).string();
    Require(::mkdtemp(templ.data()) != nullptr, "no scratch folder");
    dir_ = templ;
    base_ = ReadFile(PLEXISYNC_RECEIVE_BASE);
    if (base_.empty()) std::fprintf(stderr, "receive_mail_fuzz: %s missing; no shared folder to start from\n", PLEXISYNC_RECEIVE_BASE);
    Build();
  }
  ~Fixture() {
    reader_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  Reader& reader() { return *reader_; }

  // A new profile with the first share applied.
  void Build() {
    if (reader_) {
      reader_.reset();
      std::error_code ec;
      fs::remove_all(ProfileDir(), ec);
    }
    ++generation_;
    reader_ = std::make_unique<Reader>(ProfileDir());
    if (!base_.empty()) {
      reader_->Receive(base_);
      if (!reader_->InboxEmpty() || reader_->ErrorLogged()) {
        std::fprintf(stderr, "receive_mail_fuzz: the first share was not applied cleanly (see %s)\n",
                     ProfileDir().c_str());
      }
    }
    reader_->SaveState();
  }

 private:
  fs::path ProfileDir() const { return dir_ / ("rose" + std::to_string(generation_)); }

  fs::path dir_;
  std::string base_;
  int generation_ = 0;
  std::unique_ptr<Reader> reader_;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fixture& fixture = TheFixture();
  if (Tracing()) std::fprintf(stderr, "receive_mail_fuzz: an input of %zu bytes\n", size);
  fixture.reader().Receive(std::string_view(reinterpret_cast<const char*>(data), size));
  if (kCheckNamesWithoutNul) fixture.reader().CheckNames();
  if (!fixture.reader().RestoreState()) {
    static int notes = 0;
    if (notes++ < 5) std::fprintf(stderr, "receive_mail_fuzz: the input changed the starting state; profile made anew\n");
    fixture.Build();
  }
  return 0;
}

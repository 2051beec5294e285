#include "plexisync/core/explorers.hpp"

#include <utility>

#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/shutdown.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

namespace {

[[noreturn]] void ObjectNotSet() {
  throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
}

}  // namespace

// ---- fexp ----

fexp::fexp(Context& ctx, std::shared_ptr<host::Explorer> explorer, std::int16_t wrapperId)
    : id(wrapperId), Exploreris(std::move(explorer)), ctx_(ctx) {
  if (!Exploreris) return;
  subscriptions_.push_back(Exploreris->OnActivate([this] { Exploreris_Activate(); }));
  subscriptions_.push_back(Exploreris->OnBeforeFolderSwitch(
      [this](std::shared_ptr<host::Folder> folder, bool& cancel) { exploreris_BeforeFolderSwitch(folder, cancel); }));
  subscriptions_.push_back(Exploreris->OnFolderSwitch([this] { OnFolderSwitch(); }));
  subscriptions_.push_back(Exploreris->OnClose([this] { exploreris_Close(); }));
}

fexp::~fexp() = default;

void fexp::Get_CurFolder(std::int16_t folderType) { FolderKind = folderType == host::kContactItem ? 1 : 0; }

void fexp::OnFolderSwitch() {
  // The toolbar buttons and the menu follow the folder once the command
  // bars are built; until then a switch only has to end cleanly.
  Protect(ctx_, "Folder_OnSwitch", [] {});
}

void fexp::Exploreris_Activate() { ctx_.ActiveExpId = id; }

void fexp::exploreris_BeforeFolderSwitch(const std::shared_ptr<host::Folder>& newFolder, bool& /*cancel*/) {
  Protect(ctx_, "Explorer_BeforeFolderSwitch", [&] {
    if (!newFolder) ObjectNotSet();
    Get_CurFolder(static_cast<std::int16_t>(newFolder->DefaultItemType()));
  });
}

void fexp::exploreris_Close() {
  // Close_Explorer may destroy this wrapper (and shut the add-in down), so
  // everything needed afterwards is taken into locals first, and the window
  // is released before rather than after the call.
  Context& ctx = ctx_;
  const std::int16_t myId = id;
  Protect(ctx, "Explorer_Close", [&] {
    auto window = std::move(Exploreris);
    auto watched = std::move(subscriptions_);
    Close_Explorer(ctx, myId);
    // `this` may be gone here; only locals are used.
    watched.clear();
    window.reset();
  });
}

// ---- fExps ----

fExps::fExps(Context& ctx) : ctx_(ctx) {
  UpdateAll = [&ctx](bool showProgress) { Update_All_Click(ctx, showProgress); };
  Protect(ctx_, "Explorers_Initialize", [&] {
    auto explorers = ctx_.app().Explorers();
    fExplorers_ = explorers->OnNewExplorer(
        [this](std::shared_ptr<host::Explorer> explorer) { fExplorers_NewExplorer(std::move(explorer)); });
    PassOver([&] {
      SyncObj = ctx_.app().Session()->SyncObjects()->Item(1);
      syncStart_ = SyncObj->OnSyncStart([this] { SendRec_SyncStart(); });
    });
    LastId = 1;
  });
}

fExps::~fExps() {
  Class_Terminate();
  PassOver([&] { Uzhdaryk_fExps(); });
}

void fExps::Class_Terminate() {
  syncStart_.Reset();
  SyncObj.reset();
}

void fExps::SendReceive(bool updAll) {
  Protect(ctx_, "SendReceive", [&] {
    if (!SyncObj) return;
    AutoSendFlag = updAll;
    // The flag is back to true however the start ends, so that a failed
    // send/receive does not switch the automatic update off for good.
    struct Restore {
      bool& flag;
      ~Restore() { flag = true; }
    } restore{AutoSendFlag};
    auto group = SyncObj;  // the group stays while its start event runs
    group->Start();
  });
}

void fExps::Uzhdaryk_fExps() {
  PassOver([&] { fExplorers_.Reset(); });
  PassOver([&] { ExpCol.clear(); });
}

void fExps::fExplorers_NewExplorer(std::shared_ptr<host::Explorer> explorer) {
  Protect(ctx_, "Explorers_NewExplorer", [&] {
    ++LastId;
    ExpCol.push_back(std::make_unique<fexp>(ctx_, std::move(explorer), LastId));
  });
}

void fExps::SendRec_SyncStart() {
  Protect(ctx_, "SendRec_SyncStart", [&] {
    if (Get_AutoUpdate(ctx_) && AutoSendFlag && UpdateAll) {
      auto run = UpdateAll;  // the hook may be replaced while it runs
      run(false);
    }
  });
}

// ---- module routines ----

void Create_Explorers(Context& ctx) {
  Protect(ctx, "Create_Explorers", [&] {
    ctx.Exps = std::make_unique<fExps>(ctx);
    auto active = ctx.app().ActiveExplorer();
    auto wrapper = std::make_unique<fexp>(ctx, active, 1);
    fexp& first = *wrapper;
    ctx.Exps->ExpCol.push_back(std::move(wrapper));
    ctx.ActiveExpId = 1;
    if (!active) ObjectNotSet();
    auto folder = active->CurrentFolder();
    if (!folder) ObjectNotSet();
    first.Get_CurFolder(static_cast<std::int16_t>(folder->DefaultItemType()));
    first.OnFolderSwitch();
  });
}

void Close_Explorer(Context& ctx, std::int16_t id) {
  Protect(ctx, "Close_Explorer", [&] {
    if (!ctx.Exps) ObjectNotSet();
    auto& col = ctx.Exps->ExpCol;
    // Removed wrappers are kept until the walk is over: one of them may be
    // the wrapper whose close event is running.
    std::vector<std::unique_ptr<fexp>> removed;
    std::size_t pos = 0;
    while (pos < col.size()) {
      if (col[pos] && col[pos]->id == id) {
        removed.push_back(std::move(col[pos]));
        col.erase(col.begin() + static_cast<std::ptrdiff_t>(pos));
      } else {
        ++pos;
      }
    }
    const bool empty = col.empty();
    removed.clear();
    if (empty) ShutDown(ctx);
  });
}

}  // namespace plexisync

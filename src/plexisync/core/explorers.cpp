#include "plexisync/core/explorers.hpp"

#include <utility>

#include "host/object_model.hpp"
#include "host/ui/commandbars.hpp"
#include "platform/shell.hpp"
#include "plexisync/core/command_bars.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/help_file.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/shutdown.hpp"
#include "plexisync/core/unread_view.hpp"
#include "plexisync/dialogs/about.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/send/send_commands.hpp"
#include "plexisync/storage/settings.hpp"
#include "plexisync/update/update_check.hpp"

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

bool fexp::IsActive() const { return ctx_.ActiveExpId == id; }

void fexp::Watch(const std::shared_ptr<host::CommandBarControl>& control, std::function<void()> action) {
  if (!control) return;
  clicks_.push_back(control->OnClick(
      [action = std::move(action)](host::CommandBarControl&, bool&) { PassOver([&] { action(); }); }));
}

void fexp::ReleaseControls() {
  clicks_.clear();
  for (auto* c : {&myBut1, &myBut2, &myBut3, &myBut4, &myBut5, &mybut6, &myMen1, &myMen2, &myMen3, &myMen4, &myMen5,
                  &myMen6, &myMen9, &myMen10, &myMen11}) {
    c->reset();
  }
}

void fexp::OnFolderSwitch() {
  Protect(ctx_, "Folder_OnSwitch", [&] {
    // 1. The window's toolbar; a window without one gets no buttons.
    host::CommandBar* bar = nullptr;
    PassOver([&] { bar = &Exploreris->CommandBars().Item(kStandardBar); });
    if (!Exploreris) ObjectNotSet();

    // 2. The buttons, made and bound once per window.
    if (!ButtonsBound) {
      const int i = Add_CommandBar(ctx_, *Exploreris);
      ButtonsBound = true;
      if (!bar) ObjectNotSet();
      auto& controls = bar->Controls();
      myBut1 = controls.Item(i).Handle();
      myBut2 = controls.Item(i + 1).Handle();
      myBut3 = controls.Item(i + 2).Handle();
      myBut4 = controls.Item(i + 4).Handle();
      if (myBut4->Caption() == kUnreadOnlyCaption) ShowAll(ctx_, Exploreris);
      myBut5 = controls.Item(i + 3).Handle();
      mybut6 = controls.Item(i + 5).Handle();

      Watch(myBut1, [this] {
        if (IsActive()) Share_click(ctx_, Exploreris->CurrentFolder());
      });
      Watch(myBut2, [this] {
        if (IsActive()) Update_Click(ctx_, Exploreris->CurrentFolder());
      });
      Watch(myBut3, [this] { Update_All_Click(ctx_, true); });
      Watch(myBut5, [this] {
        if (!IsActive() || !ctx_.Import_file) return;
        auto button = myBut5;  // the import may run events that rebind the buttons
        if (ctx_.Import_file(Exploreris->CurrentFolder()) && button) button->SetVisible(false);
      });
      Watch(myBut4, [this] {
        if (!IsActive()) return;
        auto button = myBut4;
        auto window = Exploreris;
        Unread_Click(ctx_, *button, window);
      });
      Watch(mybut6, [this] {
        auto window = Exploreris;
        MarkAllAsRead(ctx_, window);
      });
    }

    // 3. A new folder starts in its full view.
    ShowAll(ctx_, Exploreris);
    if (myBut4) myBut4->SetCaption(kUnreadOnlyCaption);

    // 4. The buttons are for contact folders only; "Import..." only while a
    // file import is due.
    auto folder = Exploreris->CurrentFolder();
    if (!folder) ObjectNotSet();
    if (FolderKind != 1) {
      for (auto* b : {&myBut1, &myBut2, &myBut3, &myBut4, &myBut5, &mybut6}) {
        if (*b) (*b)->SetVisible(false);
      }
    } else {
      for (auto* b : {&myBut1, &myBut2, &myBut3, &myBut4, &mybut6}) {
        if (*b) (*b)->SetVisible(true);
      }
      if (myBut5) myBut5->SetVisible(FolderImportDue(ctx_, *folder));
    }

    // 5. The menu, made once per window.
    PassOver([&] {
      if (!Exploreris->CommandBars().Item(kMenuBar).Controls().Find(kMenuCaption)) {
        Add_Menu(ctx_, *Exploreris);
        Set_Menu_Buttons();
      }
    });

    // 6. The menu's folder commands.
    if (myMen1) myMen1->SetEnabled(FolderKind == 1);
    if (myMen4) myMen4->SetEnabled(FolderImportDue(ctx_, *folder));

    // 7. The Update button and menu item.
    Disable_Update_Button(ctx_, *Exploreris, true, myBut2.get());
  });
}

void fexp::Set_Menu_Buttons() {
  if (!Exploreris) ObjectNotSet();
  if (!myMen1) {
    auto& items = Exploreris->CommandBars().Item(kMenuBar).Controls().Item(kMenuCaption).Controls();
    std::shared_ptr<host::CommandBarControl>* slots[] = {&myMen1, &myMen2, &myMen3,  &myMen4, &myMen5,
                                                        &myMen6, &myMen9, &myMen10, &myMen11};
    for (int n = 0; n < 9; ++n) *slots[n] = items.Item(n + 1).Handle();

    Watch(myMen1, [this] {
      if (IsActive()) Share_click(ctx_, Exploreris->CurrentFolder());
    });
    Watch(myMen2, [this] { Update_Click(ctx_, Exploreris->CurrentFolder()); });
    Watch(myMen3, [this] { Update_All_Click(ctx_, true); });
    Watch(myMen4, [this] {
      if (ctx_.Import_file) ctx_.Import_file(Exploreris->CurrentFolder());
    });
    Watch(myMen5, [this] {
      if (ctx_.Exps) ctx_.Exps->SendReceive(true);
    });
    Watch(myMen6, [this] { ctx_.Form<AdvSettings>().Show(false); });
    Watch(myMen9, [this] { Check_Update(ctx_); });
    Watch(myMen10, [this] {
      const std::string path = EnsureHelpFile(ctx_);
      if (ctx_.svc.shell) ctx_.svc.shell->OpenDocument(path, "open", ctx_.InstDir, platform::ShowMode::NormalFocus);
    });
    Watch(myMen11, [this] { ShowAbout(ctx_); });
  }
  myMen1->SetEnabled(true);
  auto folder = Exploreris->CurrentFolder();
  if (!folder) ObjectNotSet();
  myMen4->SetEnabled(FolderImportDue(ctx_, *folder));
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
    auto clicks = std::move(clicks_);
    ReleaseControls();
    Close_Explorer(ctx, myId);
    // `this` may be gone here; only locals are used.
    watched.clear();
    clicks.clear();
    window.reset();
  });
}

// ---- fExps ----

fExps::fExps(Context& ctx) : ctx_(ctx) {
  UpdateAll = [&ctx](bool showProgress) { Update_All_Click(ctx, showProgress); };
  FinishReceiving = [&ctx] { Proceed_Inbox_AtSyncStart(ctx); };
  RefreshUpdateButtons = [&ctx] {
    auto explorers = ctx.app().Explorers();
    const int count = explorers->Count();
    for (int n = 1; n <= count; ++n) {
      auto explorer = explorers->Item(n);
      if (explorer) Disable_Update_Button(ctx, *explorer, false, nullptr);
    }
  };
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
    if (AutoSendFlag && FinishReceiving) {
      auto finish = FinishReceiving;
      finish();
    }
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

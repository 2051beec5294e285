#pragma once
// The explorer wrappers: `fExps` owns one `fexp` per explorer window of the
// client, creates wrappers for new windows and starts send/receive on request.
//
// Lifetime: a wrapper may be destroyed from inside its own window's close
// event (Close_Explorer removes it, and closing the last one shuts the add-in
// down, which releases `Exps`); the close handler touches nothing of the
// wrapper after that call.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "host/subscription.hpp"

namespace host {
class CommandBarControl;
class Explorer;
class Folder;
class SyncObject;
}  // namespace host

namespace plexisync {

class Context;

class fexp {
 public:
  // Watches the window's activate, folder-switch and close events; a null
  // window is kept as it is and watched for nothing.
  fexp(Context& ctx, std::shared_ptr<host::Explorer> explorer, std::int16_t id);
  ~fexp();
  fexp(const fexp&) = delete;
  fexp& operator=(const fexp&) = delete;

  std::int16_t id;
  std::shared_ptr<host::Explorer> Exploreris;
  // 1 when the window's folder holds contact items.
  std::int16_t FolderKind = 0;

  // FolderKind = 1 when the folder type is 2 (contact items), 0 otherwise.
  void Get_CurFolder(std::int16_t folderType);
  // Refreshes the window for its current folder ("Folder_OnSwitch").
  void OnFolderSwitch();
  // Binds the popup's items to myMen* (only while myMen1 is unbound), then
  // enables "Share..." and enables "Import..." exactly when the current
  // folder has its "Import" subkey.
  void Set_Menu_Buttons();

  // The toolbar buttons (null until bound), in toolbar order:
  // myBut1 "Share...", myBut2 "Update", myBut3 "Update All", myBut5
  // "Import...", myBut4 "Unread Only", mybut6 "MarkAsRead".
  bool ButtonsBound = false;
  std::shared_ptr<host::CommandBarControl> myBut1, myBut2, myBut3, myBut4, myBut5, mybut6;
  // The popup's items: Share, Update, Update All, Import, Send and Receive
  // All, Options, Check for Update, Help, About.
  std::shared_ptr<host::CommandBarControl> myMen1, myMen2, myMen3, myMen4, myMen5, myMen6, myMen9, myMen10,
      myMen11;

  // ActiveExpId = id.
  void Exploreris_Activate();
  // Takes the new folder's kind ("Explorer_BeforeFolderSwitch"); never cancels.
  void exploreris_BeforeFolderSwitch(const std::shared_ptr<host::Folder>& newFolder, bool& cancel);
  // Removes this wrapper (Close_Explorer) and stops watching the window
  // ("Explorer_Close"). The wrapper may be gone when this returns.
  void exploreris_Close();

 private:
  // True when this wrapper's window was activated last.
  bool IsActive() const;
  // Registers a click handler on a bound control; a handler that fails
  // ends quietly.
  void Watch(const std::shared_ptr<host::CommandBarControl>& control, std::function<void()> action);
  void ReleaseControls();

  Context& ctx_;
  std::vector<host::Subscription> subscriptions_;
  std::vector<host::Subscription> clicks_;
};

class fExps {
 public:
  // Class_Initialize: watches the client's explorers collection and, with
  // errors passed over, send/receive group 1 ("Explorers_Initialize").
  explicit fExps(Context& ctx);
  // Class_Terminate: stops watching the send/receive group.
  ~fExps();
  fExps(const fExps&) = delete;
  fExps& operator=(const fExps&) = delete;

  std::vector<std::unique_ptr<fexp>> ExpCol;
  std::int16_t LastId = 1;
  // Whether a starting send/receive may run the update of all shared folders.
  bool AutoSendFlag = true;

  // The update of all shared folders without the progress window, run by
  // SendRec_SyncStart: Update_All_Click unless replaced; an empty hook does
  // nothing.
  std::function<void(bool showProgress)> UpdateAll;
  // Run at the start of every send/receive the person starts, before Update
  // All: the Inbox scan, which first finishes the update mails an earlier
  // run did not finish applying, then takes the update mails still in the
  // Inbox (such as one that arrived just before the client was killed, whose
  // arrival event never ran).
  std::function<void()> FinishReceiving;
  // Recomputes the Update button and menu item of every explorer window
  // (Refresh_Update_Buttons). Filled by the toolbar once it carries those
  // controls; an empty hook does nothing.
  std::function<void()> RefreshUpdateButtons;

  // Starts the client's send/receive; `updAll` tells the start handler
  // whether it may run the update of all shared folders ("SendReceive").
  void SendReceive(bool updAll = false);
  // Stops watching the explorers collection and drops every wrapper.
  void Uzhdaryk_fExps();
  // Wraps a window the client opened ("Explorers_NewExplorer").
  void fExplorers_NewExplorer(std::shared_ptr<host::Explorer> explorer);
  // The send/receive group's start event ("SendRec_SyncStart"): when the
  // setting "AutoUpdate" is on and AutoSendFlag is true, runs UpdateAll(false).
  void SendRec_SyncStart();
  void Class_Terminate();

  // The watched send/receive group; null when it could not be reached.
  const std::shared_ptr<host::SyncObject>& SyncObject() const { return SyncObj; }

 private:
  Context& ctx_;
  std::shared_ptr<host::SyncObject> SyncObj;
  host::Subscription fExplorers_;
  host::Subscription syncStart_;
};

// Creates `Exps` and wraps the client's active explorer window with id 1
// ("Create_Explorers").
void Create_Explorers(Context& ctx);
// Removes the wrapper with that id; when none is left, shuts the add-in down
// ("Close_Explorer").
void Close_Explorer(Context& ctx, std::int16_t id);

}  // namespace plexisync

#pragma once
// The explorer wrappers: `fExps` owns one `fexp` per explorer window of the
// client, creates wrappers for new windows and starts send/receive on request.
#include <cstdint>
#include <memory>
#include <vector>

#include "host/subscription.hpp"

namespace host {
class Explorer;
class SyncObject;
}  // namespace host

namespace plexisync {

class Context;

class fexp {
 public:
  fexp(Context& ctx, std::shared_ptr<host::Explorer> explorer, std::int16_t id);
  ~fexp();

  std::int16_t id;
  std::shared_ptr<host::Explorer> Exploreris;
  // 1 when the window's folder holds contact items.
  std::int16_t FolderKind = 0;

  void Get_CurFolder(std::int16_t folderType);
  void OnFolderSwitch();
  void Exploreris_Activate();
  void exploreris_Close();

 private:
  Context& ctx_;
  std::vector<host::Subscription> subscriptions_;
};

class fExps {
 public:
  explicit fExps(Context& ctx);
  ~fExps();

  std::vector<std::unique_ptr<fexp>> ExpCol;
  std::int16_t LastId = 1;
  bool AutoSendFlag = true;

  // Starts the client's send/receive; `updAll` tells the start handler
  // whether it may run the update of all shared folders.
  void SendReceive(bool updAll = false);
  void Uzhdaryk_fExps();
  void fExplorers_NewExplorer(std::shared_ptr<host::Explorer> explorer);
  void SendRec_SyncStart();

 private:
  Context& ctx_;
  std::shared_ptr<host::SyncObject> SyncObj;
  std::vector<host::Subscription> subscriptions_;
};

// Creates `Exps` and wraps the client's active explorer window.
void Create_Explorers(Context& ctx);
// Removes the wrapper with that id; when none is left, shuts the add-in down.
void Close_Explorer(Context& ctx, std::int16_t id);

}  // namespace plexisync

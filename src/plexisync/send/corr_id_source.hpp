#pragma once
// The CorrIDs of one folder's contacts for a send or an export, as Get_CorrID
// gives them, read from one listing of the folder's mapping instead of one
// registry read per contact. A contact without a mapping entry was made
// here: its own entry id becomes its CorrID, and its identity entry is
// written by Flush, all of them in one transaction, instead of one write
// per contact.
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace plexisync {

class Context;

class CorrIdSource {
 public:
  // Reads the folder's mapping; failures reach the caller.
  CorrIdSource(Context& ctx, const std::string& folderId);

  // The CorrID, blanks around it removed; a contact made here gets its own
  // entry id, and its identity entry waits for Flush.
  std::string Get(const std::string& localId);

  // Writes the waiting identity entries (in the caller's transaction when
  // it runs inside one, else in one of its own). Failures reach the caller
  // and leave the entries waiting.
  void Flush();
  // Identity entries not written yet.
  std::size_t Waiting() const { return pending_.size(); }

 private:
  void WriteWaiting();

  Context& ctx_;
  std::string folderId_;
  std::unordered_map<std::string, std::string> stored_;  // by folded local id
  std::vector<std::string> pending_;
  std::unordered_set<std::string> pendingNames_;
};

}  // namespace plexisync

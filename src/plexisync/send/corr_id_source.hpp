#pragma once
// The CorrIDs of one folder's contacts for a send or an export, as Get_CorrID
// gives them, read from one listing of the folder's mapping instead of one
// registry read per contact. A contact without a mapping entry was made
// here: its own entry id becomes its CorrID, and its identity entry is
// written by Flush, all of them in one transaction, instead of one write
// per contact.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/text.hpp"

namespace plexisync {

class Context;

// Value names of the key store compare without regard to (ASCII) case:
// hash and equality for sets and maps of such names, which look names up
// without making folded copies.
using RegNameSet = std::unordered_set<std::string, platform::IgnoreCaseHash, platform::IgnoreCaseEqual>;
template <class V>
using RegNameMap = std::unordered_map<std::string, V, platform::IgnoreCaseHash, platform::IgnoreCaseEqual>;

class CorrIdSource {
 public:
  CorrIdSource(Context& ctx, std::string folderId);

  // The CorrID, blanks around it removed; a contact made here gets its own
  // entry id, and its identity entry waits for Flush. The folder's mapping
  // is read at the first call; failures reach the caller.
  std::string Get(const std::string& localId);

  // Writes the waiting identity entries, all or none (within the caller's
  // transaction when it runs inside one). Failures reach the caller and
  // leave the entries waiting.
  void Flush();
  // Identity entries not written yet.
  std::size_t Waiting() const { return pending_.size(); }

 private:
  Context& ctx_;
  std::string folderId_;
  bool loaded_ = false;
  RegNameMap<std::string> stored_;
  std::vector<std::string> pending_;
  RegNameSet pendingNames_;
};

}  // namespace plexisync

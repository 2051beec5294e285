#include "plexisync/send/corr_id_source.hpp"

#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

CorrIdSource::CorrIdSource(Context& ctx, std::string folderId) : ctx_(ctx), folderId_(std::move(folderId)) {}

std::string CorrIdSource::Get(const std::string& localId) {
  if (!loaded_) {
    for (auto& [name, text] : ctx_.reg().GetAllValueTexts(MappingKeyPath(ctx_, folderId_))) {
      stored_.emplace(std::move(name), std::move(text));
    }
    loaded_ = true;
  }
  const auto it = stored_.find(std::string_view(localId));
  if (it != stored_.end() && it->second != "0") return platform::Trim(it->second);
  if (platform::Trim(localId).empty()) return {};
  if (pendingNames_.insert(localId).second) pending_.push_back(localId);
  return platform::Trim(localId);
}

void CorrIdSource::Flush() {
  if (pending_.empty()) return;
  std::vector<std::pair<std::string, std::string>> entries;
  entries.reserve(pending_.size());
  for (const auto& localId : pending_) entries.emplace_back(localId, localId);
  if (!ctx_.reg().SetTextValues(MappingKeyPath(ctx_, folderId_), entries)) {
    throw AddinError(kErrComponentFailure, "The mapping entries of the folder could not be written");
  }
  for (auto& [name, text] : entries) stored_[std::move(name)] = std::move(text);
  pending_.clear();
  pendingNames_.clear();
}

}  // namespace plexisync

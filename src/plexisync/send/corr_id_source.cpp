#include "plexisync/send/corr_id_source.hpp"

#include "platform/text.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {
// Value names of the key store compare without regard to case.
std::string NameKey(const std::string& name) { return platform::FoldCase(name); }
}  // namespace

CorrIdSource::CorrIdSource(Context& ctx, const std::string& folderId) : ctx_(ctx), folderId_(folderId) {
  for (auto& [name, text] : ctx.reg().GetAllValueTexts(MappingKeyPath(ctx, folderId))) {
    stored_.emplace(NameKey(name), std::move(text));
  }
}

std::string CorrIdSource::Get(const std::string& localId) {
  const auto it = stored_.find(NameKey(localId));
  if (it != stored_.end() && it->second != "0") return platform::Trim(it->second);
  if (platform::Trim(localId).empty()) return {};
  if (pendingNames_.insert(NameKey(localId)).second) pending_.push_back(localId);
  return platform::Trim(localId);
}

void CorrIdSource::WriteWaiting() {
  const std::string key = MappingKeyPath(ctx_, folderId_);
  for (const auto& localId : pending_) {
    if (!ctx_.reg().SetValue(key, localId, localId, 1)) {
      throw AddinError(kErrComponentFailure, "The mapping entry of " + localId + " could not be written");
    }
  }
}

void CorrIdSource::Flush() {
  if (pending_.empty()) return;
  ctx_.reg().Transact([&] { WriteWaiting(); });
  for (const auto& localId : pending_) stored_[NameKey(localId)] = localId;
  pending_.clear();
  pendingNames_.clear();
}

}  // namespace plexisync

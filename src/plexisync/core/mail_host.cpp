#include "plexisync/core/mail_host.hpp"

#include "host/object_model.hpp"

namespace plexisync {

std::shared_ptr<host::Items> ContactItems(const std::shared_ptr<host::Folder>& folder) {
  if (!folder) throw host::HostError("Object variable not set");
  return folder->Items()->Restrict(kContactFilter);
}

}  // namespace plexisync

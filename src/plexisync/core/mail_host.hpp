#pragma once
// Operations on the client that several parts of the add-in share.
#include <memory>

namespace host {
class Folder;
class Items;
}  // namespace host

namespace plexisync {

// The restriction used wherever a folder's contacts are listed: contacts,
// group contacts and group workers, nothing else a contacts folder may hold.
inline constexpr const char* kContactFilter =
    "[MessageClass]=\"IPM.Contact\" or [MessageClass]=\"IPM.Contact.GroupContact\" or "
    "[MessageClass]=\"IPM.Contact.GroupWorkers\"";

// The folder's items restricted by kContactFilter (a live collection).
// Failures reach the caller.
std::shared_ptr<host::Items> ContactItems(const std::shared_ptr<host::Folder>& folder);

}  // namespace plexisync

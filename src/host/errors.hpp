#pragma once
// The one error type of the mail client's object model. Every refused or
// failed host call throws it; the message is what the client reports.
#include <stdexcept>
#include <string>

namespace host {

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Texts of the common failures.
inline constexpr const char* kNotFoundMessage = "The operation failed. An object could not be found.";
inline constexpr const char* kAccessDeniedMessage = "Access denied by the user.";
inline constexpr const char* kMovedOrDeletedMessage = "The item has been moved or deleted.";
inline constexpr const char* kStoreNotOpenMessage =
    "The operation failed. The message store that holds the object is not open.";

// A look-up by entry id (NameSpace::GetFolderFromID, GetItemFromID) whose
// answer is that no such object exists: the id names nothing, or its store
// is open and holds no such object. Every other failure of a look-up (a
// store that is not open, a closed application) is a plain HostError, so
// that callers can tell "gone" from "out of reach".
class NotFoundError : public HostError {
 public:
  NotFoundError() : HostError(kNotFoundMessage) {}
};

}  // namespace host

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

}  // namespace host

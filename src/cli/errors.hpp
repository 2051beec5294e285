#pragma once
// The one error of the program's own checks: bad input from the command line
// (an unknown profile, folder, contact or property, a malformed value). The
// message is printed as the program's one-line error.
#include <stdexcept>
#include <string>

namespace cli {

class CliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace cli

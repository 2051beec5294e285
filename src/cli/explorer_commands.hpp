#pragma once
// The add-in's commands in the client's explorer window, used as a person
// uses them: the window is switched to a folder and a toolbar button or an
// item of the "Plexisync" menu is pressed, all through the client's object
// model. Forms and questions the click opens are answered like those of the
// other commands.
#include <iosfwd>
#include <string>

#include "cli/errors.hpp"

namespace cli {

class ProfileSession;

// A name on the command line that no control carries: the program's usage
// error (exit code 2).
class UnknownControlError : public CliError {
 public:
  using CliError::CliError;
};

// Switches the active window to `folder` (empty: keeps the current one) and
// lists the controls the add-in put on the "Standard" toolbar and the items
// of its "Plexisync" menu.
void ListButtons(ProfileSession& s, std::ostream& out, const std::string& folder, bool json);

// Switches the active window to `folder` (empty: keeps it) and presses the
// toolbar button or menu item whose tag or caption is `name` (by tag first,
// then by caption; of those, the first that is visible and enabled).
// UnknownControlError when none is; CliError when it cannot be
// pressed (hidden or disabled). Returns 1 when the add-in logged an error
// meanwhile or a handler failed, else 0.
int ClickControl(ProfileSession& s, std::ostream& out, const std::string& name, const std::string& folder);

}  // namespace cli

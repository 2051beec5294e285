#include "plexisync/core/help_file.hpp"

#include "platform/textfile.hpp"
#include "plexisync/core/command_bars.hpp"
#include "plexisync/core/context.hpp"

namespace plexisync {

const char* HelpDocument() {
  return R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Plexisync Help</title></head>
<body>
<h1>Plexisync</h1>
<p>Plexisync shares a contacts folder with other people by mail and keeps
their copies up to date.</p>
<h2>Toolbar and the Plexisync menu</h2>
<ul>
<li><b>Share...</b> chooses the people a contacts folder is shared with and sends them the folder.</li>
<li><b>Update</b> sends the changes of the current folder to its recipients.</li>
<li><b>Update All</b> sends the changes of every shared folder.</li>
<li><b>Import...</b> imports contacts from an exported file into the current folder.</li>
<li><b>Unread Only</b> / <b>View All</b> switches between the unread contacts and all contacts.</li>
<li><b>Mark as Read</b> marks every contact of the folder as read.</li>
<li><b>Send and Receive All</b> sends and receives mail and the updates of all shared folders.</li>
<li><b>Options...</b> opens the settings; <b>Check for Update</b> looks for a newer version.</li>
</ul>
<p>The buttons appear in contacts folders only. Update is available while at
least one selected recipient of the folder is still in your Contacts.</p>
</body></html>
)";
}

std::string EnsureHelpFile(Context& ctx) {
  const std::string path = ctx.InstallFile(kHelpFile);
  if (!platform::FileExists(path)) platform::WriteTextFile(path, HelpDocument());
  return path;
}

}  // namespace plexisync

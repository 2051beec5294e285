#pragma once
// The add-in's help document, opened by the menu item "Help". The add-in
// carries it itself and puts it into the installation folder as "Help.chm"
// when that file is missing, so that the menu item always has a document to
// open.
#include <string>

namespace plexisync {

class Context;

// The help document (a short HTML page).
const char* HelpDocument();
// InstDir + "Help.chm", written from HelpDocument() when missing. Throws
// AddinError while the installation folder is not known.
std::string EnsureHelpFile(Context& ctx);

}  // namespace plexisync

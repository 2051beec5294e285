#pragma once
// Folder paths as the program's commands name folders: the names from a
// store's top folder down, separated by "/", exactly as the client shows
// them (case-sensitive). The default store's top folder may be left out:
// "Contacts/Team" is "Personal Folders/Contacts/Team".
//
// A name may hold any character: within a name "\/" stands for a "/" and
// "\\" for one backslash; a backslash before any other character (or at the
// end of the path) stands for itself, so paths written before names could
// hold a "/" keep their meaning. Every path the program prints is written
// this way (FullPath), so that it can be typed back.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {
class Folder;
class NameSpace;
}  // namespace host

namespace cli {

// The path's names, escapes undone; empty names (doubled, leading or
// trailing "/") are dropped. Throws CliError when no name is left.
std::vector<std::string> SplitFolderPath(std::string_view path);

// A folder's name as a path writes it: "/" as "\/", and a backslash as
// "\\" where it would otherwise be read as the start of an escape (before
// "/" or a backslash) or join the "/" after the name.
std::string EscapeFolderName(std::string_view name);

// The folder the path names, or null. A path whose first name is that of a
// top folder is taken from that store's top; otherwise, and when that finds
// nothing, from the default store's top folder.
std::shared_ptr<host::Folder> FindFolder(host::NameSpace& session, std::string_view path);
// FindFolder, or CliError "no such folder: PATH".
std::shared_ptr<host::Folder> ResolveFolder(host::NameSpace& session, std::string_view path);

struct CreatedFolder {
  std::shared_ptr<host::Folder> folder;
  // Paths of the folders made now, parents first.
  std::vector<std::string> created;
};
// Makes the folder the path names as a contacts folder, with any missing
// parents (also contacts folders). CliError when it exists already.
CreatedFolder AddContactsFolder(host::NameSpace& session, std::string_view path);

// The folder's full path, its store's top folder first, names escaped
// (EscapeFolderName): what the program prints and ResolveFolder reads back.
std::string FullPath(const host::Folder& folder);

}  // namespace cli

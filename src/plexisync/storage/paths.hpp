#pragma once
// Folder paths and contact removal.
//
// A folder path names a folder by the names from its store's top folder
// down, each followed by "$/$" ("Personal Folders$/$Contacts$/$Friends$/$");
// in an update mail it is followed by ":EndOfPath:". Names are taken as
// they are, nothing is escaped.
#include <cstddef>
#include <memory>
#include <string>

#include "platform/datetime.hpp"

namespace host {
class Folder;
class Item;
}  // namespace host

namespace plexisync {

class Context;

inline constexpr const char* kPathSeparator = "$/$";
inline constexpr const char* kEndOfPath = ":EndOfPath:";
// Where contacts that the user changed go when their sender deletes them.
inline constexpr const char* kSafetyFolderPath = "Personal Folders$/$Contacts$/$Deleted Contacts$/$";

// The most levels a folder path may have, and the most characters of one
// folder name in it.
inline constexpr std::size_t kMaxPathLevels = 32;
inline constexpr std::size_t kMaxFolderNameLength = 255;

// Throws AddinError when the path may not be walked: more than
// kMaxPathLevels names, an empty name, a name longer than
// kMaxFolderNameLength characters or holding a control character (NUL
// included). "" and "$/$" pass.
void CheckFolderPath(const std::string& path);

// The folder's path text followed by ":EndOfPath:". Logs under "Get_Path"
// and returns "".
std::string Get_Path(Context& ctx, const std::shared_ptr<host::Folder>& folder);

// The text before the first ":EndOfPath:", trailing blanks removed. Logs
// under "Extract_Path" and returns "" when there is no such marker.
std::string Extract_Path(Context& ctx, const std::string& text);

// Takes the first folder name off the path: "A$/$B$/$" gives "A" and leaves
// "B$/$"; a path without a separator gives all of it and leaves "".
// Logs under "Extract_Folder" and returns "".
std::string Extract_Folder(Context& ctx, std::string& path);

// The folder at the path, walked from the top folder of the store named by
// its first name (the default store when no open store has that name).
// With `create`, missing levels are made as contacts folders; without it a
// missing level gives nullptr and found = false. "" and "$/$" give the
// default contacts folder. A path that CheckFolderPath refuses is an
// error. Logs under "Set_Folder" and returns nullptr, leaving `found` as it
// was.
std::shared_ptr<host::Folder> Set_Folder(Context& ctx, const std::string& path, bool create, bool& found);

// Removes a contact whose sender deleted it. When it was modified on or
// after the reference date it is kept in the safety folder (or deleted when
// there is none); otherwise it is deleted for good, the copy left among the
// deleted items included. Its mapping entry goes either way. Logs under
// "Delete_Contact".
void Delete_Contact(Context& ctx, const std::shared_ptr<host::Item>& contact, const platform::DateTime& reference);

// Deletes a processed mail for good (the copy among the deleted items
// included). Every failure is ignored.
void Purge_Item(Context& ctx, const std::shared_ptr<host::Item>& mail);

}  // namespace plexisync

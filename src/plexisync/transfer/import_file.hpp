#pragma once
// The import of a personal-folders file written by the export of a shared
// folder: the contacts of its "Temp" folder that carry the export's mark
// come into a contacts folder of this user, each in place of its local
// counterpart.
#include <memory>

namespace host {
class Folder;
}

namespace plexisync {

class Context;

inline constexpr const char* kImportDialogTitle = "Plexisync - Select a file to import";
inline constexpr const char* kImportUnknownFormat = "Cannot load the selected file. Unknown format.";
inline constexpr const char* kImportNothingFound =
    "No contacts imported! The selected file was not Plexisync import file.";
inline constexpr const char* kImportSuccessful = "Import successful!";

// Asks for the file (Pictures' DialogOpen) and imports it into `target`.
// True when a ".pst" file was chosen and the import ran to its end, whether
// or not it held marked contacts; false when no such file was chosen, the
// file did not open as an export file ("Cannot load ..." is shown), or the
// import failed (logged under "Import_file"). Each marked contact of the
// file ends as exactly one contact of the target, mapped to its CorrID;
// importing the same file again replaces them rather than adding copies.
bool Import_file(Context& ctx, const std::shared_ptr<host::Folder>& target);

}  // namespace plexisync

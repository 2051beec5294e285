#pragma once
// Creating a file whole: it is built under a temporary name in the folder it
// belongs in and then put in place under its own name in one step, so that a
// file under its own name is always a finished one. A file that exists but is
// empty (or half set up) can then only be damage, never "not made yet".
#include <filesystem>

namespace platform {

// A name for building `target` in the same folder (a rename never crosses
// file systems): hidden, unique to this process and call.
std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target);

// Puts the finished file `temp` in place as `target`, never replacing a file
// that is already there, and flushes the folder so that the new name is on
// disk. True when `temp` became `target`; false when another process put its
// own `target` in place first (then `temp` is removed and the caller uses the
// other one). Throws std::system_error for any other failure (`temp` removed).
bool PublishNewFile(const std::filesystem::path& temp, const std::filesystem::path& target);

// Removes a database file and the files SQLite keeps beside it (its log,
// shared-memory index and journal). Nothing is reported.
void RemoveDatabaseFiles(const std::filesystem::path& file) noexcept;

}  // namespace platform

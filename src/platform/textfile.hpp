#pragma once
// Whole-file text access: create, replace, append to and read text files.
// Text is written and read as the bytes given (UTF-8), with no line-ending or
// code-page conversion.
//
// Every function takes a std::filesystem::path; a std::string or a C string
// converts to one implicitly.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// A file that cannot be read or written. The message names the reason and the
// path, e.g. "Path not found: /x/y/errors.log".
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& reason, const std::filesystem::path& path);
  const std::filesystem::path& path() const noexcept { return path_; }
  const std::string& reason() const noexcept { return reason_; }

 private:
  std::string reason_;
  std::filesystem::path path_;
};

// Replaces the whole file with `text`, creating it when missing. The new
// content is written to a temporary file in the same folder and renamed over
// the old one, so a crash leaves either the old or the new content. A symbolic
// link is written through (the file it points to is replaced).
void WriteTextFile(const std::filesystem::path& path, std::string_view text);
// As WriteTextFile (readers see the old or the whole new content), but the
// new content is not forced to disk first: for a file that lives only for
// a moment, such as one that is attached to a mail and deleted right after.
void WriteScratchFile(const std::filesystem::path& path, std::string_view text);
// Appends `text` to the file, creating it when missing.
void AppendTextFile(const std::filesystem::path& path, std::string_view text);
// The whole content of the file ("" when it is empty).
std::string ReadTextFile(const std::filesystem::path& path);
// True when the path names an existing regular file (symbolic links followed).
bool FileExists(const std::filesystem::path& path);
// Deletes the file; true when it was deleted, false when there was none.
// Other failures (no permission, a folder) throw FileError.
bool DeleteFile(const std::filesystem::path& path);

}  // namespace platform

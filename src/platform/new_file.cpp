#include "platform/new_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

namespace platform {
namespace fs = std::filesystem;

fs::path TemporaryNameBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  const std::string name = "." + target.filename().string() + ".new-" + std::to_string(::getpid()) + "-" +
                           std::to_string(salt) + "-" + std::to_string(counter.fetch_add(1));
  return target.parent_path() / name;
}

namespace {

// Flushes a folder's entries (a new name in it) to disk.
bool SyncFolder(const fs::path& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

[[noreturn]] void Fail(int err, const fs::path& temp, const fs::path& target, const char* what) {
  RemoveDatabaseFiles(temp);
  throw std::system_error(err, std::generic_category(),
                          std::string(what) + " " + temp.string() + " as " + target.string());
}

}  // namespace

bool PublishNewFile(const fs::path& temp, const fs::path& target) {
  // A database log left beside the temporary file would hold part of its
  // content under the temporary name, which is lost once the file is
  // renamed: the file must have been closed cleanly (the log copied back).
  std::error_code ec;
  if (fs::file_size(temp.string() + "-wal", ec) > 0 && !ec) Fail(EBUSY, temp, target, "Cannot put the unfinished");
  for (const char* suffix : {"-wal", "-shm"}) ::unlink((temp.string() + suffix).c_str());
  // The file must never replace one that is there: two processes may create
  // the same file at once, and the second must find and keep the first's.
  // renameat2 with RENAME_NOREPLACE does that in one atomic step. File
  // systems without it get link(), which refuses an existing name just as
  // well; the temporary name is then removed. A plain rename (or a check
  // before it) is never used: between the check and the rename another
  // process could put its file in place, and that file would be lost.
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    int err = errno;
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
      if (::link(temp.c_str(), target.c_str()) == 0) {
        ::unlink(temp.c_str());
        err = 0;
      } else {
        err = errno;
      }
    }
    if (err == EEXIST) {
      RemoveDatabaseFiles(temp);
      return false;
    }
    if (err != 0) Fail(err, temp, target, "Cannot put");
  }
  if (!SyncFolder(target.parent_path())) {
    throw std::system_error(errno, std::generic_category(), "Cannot flush the folder of " + target.string());
  }
  return true;
}

void RemoveDatabaseFiles(const fs::path& file) noexcept {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    ::unlink((file.string() + suffix).c_str());
  }
}

}  // namespace platform

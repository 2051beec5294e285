#include "platform/textfile.hpp"
#include "platform/memory.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {

FileError::FileError(const std::string& reason, const std::filesystem::path& path)
    : std::runtime_error(reason + ": " + path.string()), reason_(reason), path_(path) {}

namespace {

// The reason for an errno value, in the words the error log shows.
std::string Reason(int err, const std::filesystem::path& path) {
  switch (err) {
    case ENOENT: {
      // Tell a missing folder from a missing file in an existing folder.
      std::filesystem::path dir = path.parent_path();
      if (dir.empty()) dir = ".";
      std::error_code ec;
      return std::filesystem::is_directory(dir, ec) ? "File not found" : "Path not found";
    }
    case ENOTDIR:
      return "Path not found";
    case EACCES:
    case EPERM:
    case EROFS:
      return "Permission denied";
    case EISDIR:
      return "Is a directory";
    case ENOSPC:
    case EDQUOT:
      return "Disk full";
    case ENAMETOOLONG:
      return "File name too long";
    default:
      return std::strerror(err);
  }
}

[[noreturn]] void Throw(int err, const std::filesystem::path& path) {
  throw FileError(Reason(err, path), path);
}

// Closes the descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports the error close may give (deferred write errors).
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Writes all bytes; 0 on success, else the errno value.
int WriteAll(int fd, std::string_view text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

// Plain in-place replacement, for a file whose folder does not let us create
// the temporary file next to it.
void WriteInPlace(const std::filesystem::path& file, const std::filesystem::path& shown,
                  std::string_view text) {
  Fd fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (fd.get() < 0) Throw(errno, shown);
  if (int err = WriteAll(fd.get(), text)) Throw(err, shown);
  if (int err = fd.Close()) Throw(err, shown);
}

std::filesystem::path TempNameFor(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  // Built by appending: GCC 12 at -O2 and above reports a false -Wrestrict
  // on `"literal" + std::string&&`.
  std::string name = ".";
  name += path.filename().string();
  name += ".tmp";
  name += std::to_string(::getpid());
  name += '-';
  name += std::to_string(counter.fetch_add(1));
  return path.parent_path() / name;
}

}  // namespace

namespace {

void WriteWhole(const std::filesystem::path& path, std::string_view text, bool durable) {
  if (path.empty() || !path.has_filename()) throw FileError("Invalid file name", path);
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) Throw(EISDIR, path);
  // A symbolic link is written through: the file it points to is replaced,
  // the link stays. Errors still name the path the caller gave.
  std::filesystem::path target = path;
  std::error_code ec;
  if (exists && std::filesystem::is_symlink(path, ec)) {
    auto resolved = std::filesystem::canonical(path, ec);
    if (!ec) target = resolved;
  }

  std::filesystem::path temp;
  int fd_raw = -1;
  for (int attempt = 0; attempt < 100 && fd_raw < 0; ++attempt) {
    temp = TempNameFor(target);
    fd_raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_raw < 0 && errno != EEXIST) break;
  }
  if (fd_raw < 0) {
    const int err = errno;
    if (exists && (err == EACCES || err == EPERM) && ::access(target.c_str(), W_OK) == 0) {
      WriteInPlace(target, path, text);
      return;
    }
    Throw(err, path);
  }
  Fd fd(fd_raw);
  auto fail = [&](int err) {
    ::unlink(temp.c_str());
    Throw(err, path);
  };
  // The replacement keeps the permissions of the file it replaces.
  if (exists) (void)::fchmod(fd.get(), st.st_mode & 07777);
  if (int err = WriteAll(fd.get(), text)) fail(err);
  if (durable && ::fsync(fd.get()) != 0 && errno != EINVAL) fail(errno);
  if (int err = fd.Close()) fail(err);
  if (::rename(temp.c_str(), target.c_str()) != 0) fail(errno);
}

}  // namespace

void WriteTextFile(const std::filesystem::path& path, std::string_view text) { WriteWhole(path, text, true); }

void WriteScratchFile(const std::filesystem::path& path, std::string_view text) { WriteWhole(path, text, false); }

void AppendTextFile(const std::filesystem::path& path, std::string_view text) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (fd.get() < 0) Throw(errno, path);
  if (int err = WriteAll(fd.get(), text)) Throw(err, path);
  if (int err = fd.Close()) Throw(err, path);
}

std::string ReadTextFile(const std::filesystem::path& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Throw(errno, path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) Throw(errno, path);
  if (S_ISDIR(st.st_mode)) Throw(EISDIR, path);
  std::string out;
  if (S_ISREG(st.st_mode) && st.st_size > 0) ReserveBytes(out, static_cast<std::size_t>(st.st_size));
  char buf[65536];
  while (true) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw(errno, path);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

bool FileExists(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DeleteFile(const std::filesystem::path& path) {
  if (::unlink(path.c_str()) == 0) return true;
  const int err = errno;
  if (err == ENOENT || err == ENOTDIR) return false;
  Throw(err, path);
}

}  // namespace platform

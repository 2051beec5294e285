#include "host/profile_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "host/errors.hpp"

namespace host {
namespace {

std::mutex& HeldMutex() {
  static std::mutex m;
  return m;
}

// The lock files this process holds, by device and inode.
std::set<std::string>& HeldKeys() {
  static std::set<std::string> keys;
  return keys;
}

std::string Holder(int fd) {
  char buf[32] = {};
  ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return {};
  std::string s(buf, static_cast<std::size_t>(n));
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  for (char c : s) {
    if (c < '0' || c > '9') return {};
  }
  return s;
}

}  // namespace

ProfileLock ProfileLock::Acquire(const std::filesystem::path& dir, const ProfileLockOptions& options) {
  const std::filesystem::path file = LockFile(dir);
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw HostError("The profile in " + dir.string() + " cannot be locked: " + std::strerror(errno) + ".");
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    throw HostError("The profile in " + dir.string() + " cannot be locked: " + std::strerror(err) + ".");
  }
  std::string key = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  {
    std::lock_guard<std::mutex> guard(HeldMutex());
    if (!HeldKeys().insert(key).second) {
      ::close(fd);
      throw HostError("The profile in " + dir.string() + " is already open in this program.");
    }
  }
  auto giveUp = [&](const std::string& message) {
    ::close(fd);
    std::lock_guard<std::mutex> guard(HeldMutex());
    HeldKeys().erase(key);
    throw HostError(message);
  };

  for (int polls = 0;; ++polls) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      giveUp("The profile in " + dir.string() + " cannot be locked: " + std::strerror(errno) + ".");
    }
    if (options.maxPolls && polls >= *options.maxPolls) {
      std::string holder = Holder(fd);
      giveUp("The profile in " + dir.string() + " is in use by another program" +
             (holder.empty() ? std::string() : " (process " + holder + ")") + ".");
    }
    if (polls == options.noticeAfterPolls && options.onWait) {
      std::string holder = Holder(fd);
      options.onWait("The profile in " + dir.string() + " is in use by another program" +
                     (holder.empty() ? std::string() : " (process " + holder + ")") +
                     "; waiting until it is free...");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(options.pollMilliseconds));
  }

  // Who holds it, for the messages of those who wait.
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
  }
  return ProfileLock(fd, std::move(key));
}

ProfileLock::ProfileLock(ProfileLock&& other) noexcept : fd_(other.fd_), key_(std::move(other.key_)) {
  other.fd_ = -1;
}

ProfileLock& ProfileLock::operator=(ProfileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    key_ = std::move(other.key_);
    other.fd_ = -1;
  }
  return *this;
}

ProfileLock::~ProfileLock() { Release(); }

void ProfileLock::Release() {
  if (fd_ < 0) return;
  // The holder's id goes with the lock; closing the file drops the lock.
  if (ftruncate(fd_, 0) != 0) {
    // Only a message detail is left behind.
  }
  ::close(fd_);
  fd_ = -1;
  std::lock_guard<std::mutex> guard(HeldMutex());
  HeldKeys().erase(key_);
}

}  // namespace host

#pragma once
// One writer per profile: a running client holds an exclusive lock on the
// file "lock" in the profile folder for as long as it has the profile open.
// A second process that opens the same profile waits until the first has
// closed it; a second open in the same process is refused at once, since it
// would wait for itself.
//
// The lock is an advisory lock on the open file (flock), so the system drops
// it when the holder ends, even when it is killed: a crashed run never leaves
// a profile locked. The file holds the holder's process id, for messages.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace host {

struct ProfileLockOptions {
  // Called once when the lock is still held by another process after
  // `noticeAfterPolls` tries (a try every `pollMilliseconds`), with a
  // one-line message for the person.
  std::function<void(const std::string&)> onWait;
  int pollMilliseconds = 50;
  int noticeAfterPolls = 40;
  // Gives up with HostError after this many tries; unset: waits as long as
  // it takes.
  std::optional<int> maxPolls;
};

class ProfileLock {
 public:
  // Takes the lock of the profile folder `dir` (which must exist). Throws
  // HostError when the lock file cannot be made, when this process already
  // holds the lock, or when `maxPolls` ran out.
  static ProfileLock Acquire(const std::filesystem::path& dir, const ProfileLockOptions& options = {});

  ProfileLock(ProfileLock&& other) noexcept;
  ProfileLock& operator=(ProfileLock&& other) noexcept;
  ProfileLock(const ProfileLock&) = delete;
  ProfileLock& operator=(const ProfileLock&) = delete;
  ~ProfileLock();

  // Releases the lock; further calls do nothing.
  void Release();
  bool Held() const { return fd_ >= 0; }

  static std::filesystem::path LockFile(const std::filesystem::path& dir) { return dir / "lock"; }

 private:
  ProfileLock(int fd, std::string key) : fd_(fd), key_(std::move(key)) {}
  int fd_ = -1;
  std::string key_;  // device and inode of the lock file, for the in-process check
};

}  // namespace host

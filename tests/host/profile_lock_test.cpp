// The profile lock: one process at a time, a second one waits, a killed
// holder frees the profile, a second open in one process is refused.
#include "host/profile_lock.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "host/errors.hpp"

namespace host {
namespace {

class ProfileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("plexisync-lock-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A child process that takes the lock, says so through the pipe and then
  // holds it until it is killed or `holdMs` has passed.
  pid_t HoldInChild(int holdMs) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      try {
        ProfileLock lock = ProfileLock::Acquire(dir_);
        char c = 'L';
        if (write(fds[1], &c, 1) != 1) _exit(3);
        usleep(static_cast<useconds_t>(holdMs) * 1000);
      } catch (...) {
        _exit(2);
      }
      _exit(0);
    }
    close(fds[1]);
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
    close(fds[0]);
    return pid;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }

  std::filesystem::path dir_;
};

TEST_F(ProfileLockTest, ASecondOpenInOneProcessIsRefusedAndAllowedAfterRelease) {
  ProfileLock first = ProfileLock::Acquire(dir_);
  try {
    ProfileLock::Acquire(dir_);
    FAIL() << "a second lock in one process must be refused";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("already open in this program"), std::string::npos) << e.what();
  }
  first.Release();
  EXPECT_FALSE(first.Held());
  ProfileLock again = ProfileLock::Acquire(dir_);
  EXPECT_TRUE(again.Held());
}

TEST_F(ProfileLockTest, ASecondProcessWaitsWithANoticeThatNamesTheHolder) {
  // The holder lets go only once the waiter has said that it waits, so the
  // order of events does not depend on how busy the machine is.
  int release[2];
  ASSERT_EQ(pipe(release), 0);
  int locked[2];
  ASSERT_EQ(pipe(locked), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    close(release[1]);
    close(locked[0]);
    try {
      ProfileLock lock = ProfileLock::Acquire(dir_);
      char c = 'L';
      if (write(locked[1], &c, 1) != 1) _exit(3);
      if (read(release[0], &c, 1) != 1) _exit(4);
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  close(release[0]);
  close(locked[1]);
  char c = 0;
  ASSERT_EQ(read(locked[0], &c, 1), 1);
  close(locked[0]);

  std::string notice;
  ProfileLockOptions options;
  options.pollMilliseconds = 5;
  options.noticeAfterPolls = 2;
  options.onWait = [&](const std::string& m) {
    notice = m;
    char go = 'G';
    EXPECT_EQ(write(release[1], &go, 1), 1);
  };
  ProfileLock lock = ProfileLock::Acquire(dir_, options);
  close(release[1]);
  int status = Wait(holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(notice.find("in use by another program (process " + std::to_string(holder) + ")"), std::string::npos)
      << notice;
  EXPECT_NE(notice.find("waiting"), std::string::npos) << notice;
}

TEST_F(ProfileLockTest, AWaitWithALimitGivesUpWithAClearError) {
  pid_t holder = HoldInChild(5000);
  ProfileLockOptions options;
  options.pollMilliseconds = 5;
  options.maxPolls = 3;
  try {
    ProfileLock::Acquire(dir_, options);
    ADD_FAILURE() << "the lock is held by the child";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("is in use by another program (process " + std::to_string(holder)),
              std::string::npos)
        << e.what();
  }
  kill(holder, SIGKILL);
  Wait(holder);
  // The refused attempt left nothing behind in this process.
  EXPECT_NO_THROW(ProfileLock::Acquire(dir_));
}

TEST_F(ProfileLockTest, AKilledHolderFreesTheProfile) {
  pid_t holder = HoldInChild(60000);
  kill(holder, SIGKILL);
  Wait(holder);
  ProfileLockOptions options;
  options.pollMilliseconds = 5;
  options.maxPolls = 10;
  EXPECT_NO_THROW(ProfileLock::Acquire(dir_, options));
}

TEST_F(ProfileLockTest, AMissingFolderIsAnError) {
  EXPECT_THROW(ProfileLock::Acquire(dir_ / "missing"), HostError);
}

}  // namespace
}  // namespace host

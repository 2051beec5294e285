// Two processes working on one profile at once: the second waits for the
// first, and nothing is lost or numbered twice.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "cli_fixture.hpp"

namespace cli::testing {
namespace {

class ProfileLockCliTest : public CliTest {};

TEST_F(ProfileLockCliTest, TwoProcessesAddingContactsAtOnceKeepEveryContactWithItsOwnEntryId) {
  CreateAlice();
  Ok({"-p", "alice", "folder", "add", "Contacts/Team"});
  constexpr int kPerProcess = 50;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      char c;
      if (read(go[0], &c, 1) != 0) _exit(4);  // starts when the parent closes its end
      int failures = 0;
      for (int i = 0; i < kPerProcess; ++i) {
        std::string name = "Contact " + std::to_string(p) + "-" + std::to_string(i);
        RunResult r = Run({"-p", "alice", "--batch", "contact", "add", "Contacts/Team", "--set", "FullName=" + name});
        if (r.rc != 0) ++failures;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(go[0]);
  close(go[1]);  // both start together
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a child's adds failed";
  }

  nlohmann::json list = RunJson({"-p", "alice", "contact", "list", "Contacts/Team", "--json"});
  ASSERT_TRUE(list.is_array()) << list.dump();
  std::set<std::string> ids, names;
  for (const auto& c : list) {
    ids.insert(c.value("entryId", std::string()));
    names.insert(c.value("fullName", std::string()));
  }
  EXPECT_EQ(list.size(), 2u * kPerProcess);
  EXPECT_EQ(ids.size(), 2u * kPerProcess);
  EXPECT_EQ(names.size(), 2u * kPerProcess);
}

}  // namespace
}  // namespace cli::testing

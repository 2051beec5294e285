#include "platform/shell.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/text.hpp"

extern char** environ;

namespace platform {

namespace {

// Starts argv[0] (searched in PATH when it has no slash). With `quiet`,
// the child's standard streams go to /dev/null; otherwise only its input.
// The child is reaped by a detached thread so that it leaves no zombie.
bool Spawn(const std::vector<std::string>& argv, const std::string& workingDir, bool quiet) {
  if (argv.empty() || argv[0].empty()) {
    return false;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    return false;
  }
  bool ok = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0;
  if (quiet) {
    ok = ok &&
         posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
         posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0;
  }
  if (ok && !workingDir.empty()) {
    ok = posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str()) == 0;
  }
  pid_t pid = -1;
  if (ok) {
    const bool searchPath = argv[0].find('/') == std::string::npos;
    const int rc = searchPath ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                              : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    ok = rc == 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (!ok) {
    return false;
  }
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool SystemShell::OpenDocument(const std::string& path, const std::string& verb,
                               const std::string& workingDir, ShowMode /*mode*/) {
  if (!verb.empty() && !EqualsIgnoreCase(verb, "open")) {
    return false;
  }
  // A web address opens in the person's browser; any other document must exist.
  const bool webAddress = path.rfind("https://", 0) == 0 || path.rfind("http://", 0) == 0;
  struct stat st {};
  if (path.empty() || (!webAddress && ::stat(path.c_str(), &st) != 0)) {
    return false;
  }
  // A working directory that does not exist is passed over, as the classic
  // shell starts the document in its default directory then.
  const std::string dir = !workingDir.empty() && IsDirectory(workingDir) ? workingDir : std::string();
  return Spawn({opener_, path}, dir, true);
}

bool SystemShell::Run(const std::string& program, const std::vector<std::string>& args,
                      ShowMode /*mode*/) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 1);
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(argv, {}, false);
}

}  // namespace platform

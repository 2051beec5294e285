#pragma once
// Starting documents and programs: the shell's "open" verb for a document
// (the help file) and running a program (the installer, the system
// information tool). Neither waits for what it started.
#include <string>
#include <vector>

namespace platform {

// Window style of what is started, numbered as the classic platform does.
// A desktop without such styles may ignore it.
enum class ShowMode {
  Hidden = 0,
  NormalFocus = 1,
  MinimizedFocus = 2,
  MaximizedFocus = 3,
  NormalNoFocus = 4,
  MinimizedNoFocus = 6,
};

class Shell {
 public:
  virtual ~Shell() = default;
  // Opens a document with the program the desktop associates with it; a
  // web address ("http://", "https://") opens in the person's browser.
  // True when it was handed over; false when the file does not exist, the
  // verb is not supported or nothing could be started.
  virtual bool OpenDocument(const std::string& path, const std::string& verb = "open",
                            const std::string& workingDir = {},
                            ShowMode mode = ShowMode::NormalFocus) = 0;
  // Starts a program with its arguments. True when it started.
  virtual bool Run(const std::string& program, const std::vector<std::string>& args = {},
                   ShowMode mode = ShowMode::NormalFocus) = 0;
};

// The desktop's shell: documents open through an opener program
// ("xdg-open" by default; its output goes to /dev/null), programs start
// with posix_spawn. The window style is not used. Started processes are
// reaped in the background, so nothing is left behind and no call blocks.
class SystemShell final : public Shell {
 public:
  explicit SystemShell(std::string opener = "xdg-open") : opener_(std::move(opener)) {}

  // Only the verb "open" (or an empty verb) is supported.
  bool OpenDocument(const std::string& path, const std::string& verb = "open",
                    const std::string& workingDir = {},
                    ShowMode mode = ShowMode::NormalFocus) override;
  bool Run(const std::string& program, const std::vector<std::string>& args = {},
           ShowMode mode = ShowMode::NormalFocus) override;

 private:
  std::string opener_;
};

}  // namespace platform

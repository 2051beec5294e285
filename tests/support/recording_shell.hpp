#pragma once
#include <string>
#include <vector>

#include "platform/shell.hpp"

namespace platform {

// Records every request and answers with a configurable result (tests).
class RecordingShell final : public Shell {
 public:
  struct Request {
    enum class Kind { kOpenDocument, kRun } kind = Kind::kRun;
    std::string path;  // the document or the program
    std::string verb;
    std::string workingDir;
    std::vector<std::string> args;
    ShowMode mode = ShowMode::NormalFocus;
  };

  bool OpenDocument(const std::string& path, const std::string& verb = "open",
                    const std::string& workingDir = {},
                    ShowMode mode = ShowMode::NormalFocus) override;
  bool Run(const std::string& program, const std::vector<std::string>& args = {},
           ShowMode mode = ShowMode::NormalFocus) override;

  void SetResult(bool result) { result_ = result; }
  const std::vector<Request>& Requests() const { return requests_; }
  void Clear() { requests_.clear(); }

 private:
  bool result_ = true;
  std::vector<Request> requests_;
};

}  // namespace platform

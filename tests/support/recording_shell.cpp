#include "support/recording_shell.hpp"

namespace platform {

bool RecordingShell::OpenDocument(const std::string& path, const std::string& verb,
                                  const std::string& workingDir, ShowMode mode) {
  requests_.push_back(Request{Request::Kind::kOpenDocument, path, verb, workingDir, {}, mode});
  return result_;
}

bool RecordingShell::Run(const std::string& program, const std::vector<std::string>& args,
                         ShowMode mode) {
  requests_.push_back(Request{Request::Kind::kRun, program, {}, {}, args, mode});
  return result_;
}

}  // namespace platform

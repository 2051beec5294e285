#pragma once
// The person at the screen in tests: answers from a script.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"

namespace platform {

// A person that follows a script, for tests. Expectations are met in the
// order they were queued. A question or form that is not the next expected
// one is a failure; it gets the answer that changes nothing (No, Cancel, or
// OK when OK is the only button; cancel for a file dialog; the cancel
// button for a form), and the expectation stays queued.
class ScriptedUser final : public UserInterface {
 public:
  explicit ScriptedUser(std::string applicationTitle = "Plexisync") : UserInterface(std::move(applicationTitle)) {}

  // A message box whose text contains `textPart`, answered with `answer`.
  ScriptedUser& ExpectMessage(std::string textPart, MsgBoxResult answer = MsgBoxResult::Ok);
  // A message box whose text contains `textPart`, left unanswered as at a
  // terminal without a person: the answer that changes nothing is taken.
  ScriptedUser& ExpectMessageUnanswered(std::string textPart);
  // A file dialog, answered with `path` (nullopt: cancelled).
  ScriptedUser& ExpectFileDialog(std::optional<std::string> path);
  ScriptedUser& ExpectFileDialogCancel() { return ExpectFileDialog(std::nullopt); }
  // A modal form of that name (case-insensitive). `actions` work on its
  // controls, e.g. tick a check box and click "Accept"; when they leave
  // the form visible, its cancel button is pressed (or it is hidden).
  ScriptedUser& ExpectForm(std::string formName, std::function<void(Form&)> actions = {});

  // Drops every expectation not met yet.
  void ClearExpectations() { expected_.clear(); }

  // Failures so far plus every expectation that never came; empty when
  // everything went as scripted.
  std::vector<std::string> Verify() const;
  // Verify() as one text, one problem per line (for test messages).
  std::string Problems() const;
  bool AllExpectationsMet() const;
  const std::vector<std::string>& Failures() const { return failures_; }
  std::size_t PendingCount() const { return expected_.size(); }

 protected:
  MsgBoxResult AnswerMessage(const MessageRequest& request) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
  void InteractWithForm(Form& form) override;

 private:
  enum class Kind { kMessage, kFileDialog, kForm };
  struct Expectation {
    Kind kind;
    std::string text;  // message part or form name
    MsgBoxResult answer = MsgBoxResult::Ok;
    std::optional<std::string> path;
    std::function<void(Form&)> actions;
    bool unanswered = false;
    std::string Describe() const;
  };
  void Fail(std::string problem);

  std::deque<Expectation> expected_;
  std::vector<std::string> failures_;
};

}  // namespace platform

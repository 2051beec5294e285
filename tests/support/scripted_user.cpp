#include "support/scripted_user.hpp"

#include "platform/text.hpp"

namespace platform {
namespace {

std::string Quote(std::string_view s) { return "\"" + std::string(s) + "\""; }

}  // namespace

std::string ScriptedUser::Expectation::Describe() const {
  switch (kind) {
    case Kind::kMessage:
      return "message containing " + Quote(text) + " (answer " + MsgBoxResultCaption(answer) + ")";
    case Kind::kFileDialog:
      return path ? "file dialog (choose " + Quote(*path) + ")" : "file dialog (cancel)";
    case Kind::kForm:
      return "form " + text;
  }
  return "";
}

ScriptedUser& ScriptedUser::ExpectMessage(std::string textPart, MsgBoxResult answer) {
  expected_.push_back(Expectation{Kind::kMessage, std::move(textPart), answer, std::nullopt, {}});
  return *this;
}

ScriptedUser& ScriptedUser::ExpectMessageUnanswered(std::string textPart) {
  Expectation e{Kind::kMessage, std::move(textPart), MsgBoxResult::Ok, std::nullopt, {}};
  e.unanswered = true;
  expected_.push_back(std::move(e));
  return *this;
}

ScriptedUser& ScriptedUser::ExpectFileDialog(std::optional<std::string> path) {
  expected_.push_back(Expectation{Kind::kFileDialog, {}, MsgBoxResult::Ok, std::move(path), {}});
  return *this;
}

ScriptedUser& ScriptedUser::ExpectForm(std::string formName, std::function<void(Form&)> actions) {
  expected_.push_back(
      Expectation{Kind::kForm, std::move(formName), MsgBoxResult::Ok, std::nullopt, std::move(actions)});
  return *this;
}

void ScriptedUser::Fail(std::string problem) {
  Record("FAILURE: " + problem);
  failures_.push_back(std::move(problem));
}

MsgBoxResult ScriptedUser::AnswerMessage(const MessageRequest& request) {
  if (!expected_.empty() && expected_.front().kind == Kind::kMessage &&
      request.text.find(expected_.front().text) != std::string::npos) {
    if (expected_.front().unanswered) {
      expected_.pop_front();
      NoAnswerGiven();
      return NeutralResult(request.buttons);
    }
    const MsgBoxResult answer = expected_.front().answer;
    expected_.pop_front();
    if (!ParseMsgBoxResult(MsgBoxResultCaption(answer), request.buttons)) {
      Fail("scripted answer " + std::string(MsgBoxResultCaption(answer)) +
           " is not offered by the message " + Quote(NormalizeBreaks(request.text)));
      return NeutralResult(request.buttons);
    }
    return answer;
  }
  Fail("unexpected message " + Quote(NormalizeBreaks(request.text)) +
       (expected_.empty() ? std::string(" (nothing more expected)")
                          : "; expected " + expected_.front().Describe()));
  return NeutralResult(request.buttons);
}

std::optional<std::string> ScriptedUser::ChooseFile(const FileDialogRequest& request) {
  if (!expected_.empty() && expected_.front().kind == Kind::kFileDialog) {
    auto path = expected_.front().path;
    expected_.pop_front();
    return path;
  }
  Fail("unexpected file dialog " + Quote(request.title) +
       (expected_.empty() ? std::string(" (nothing more expected)")
                          : "; expected " + expected_.front().Describe()));
  return std::nullopt;
}

void ScriptedUser::InteractWithForm(Form& form) {
  if (expected_.empty() || expected_.front().kind != Kind::kForm ||
      !EqualsIgnoreCase(expected_.front().text, form.Name())) {
    Fail("unexpected form " + form.Name() +
         (expected_.empty() ? std::string(" (nothing more expected)")
                            : "; expected " + expected_.front().Describe()));
    CloseWithCancel(form);
    return;
  }
  auto actions = std::move(expected_.front().actions);
  expected_.pop_front();
  if (actions) {
    try {
      actions(form);
    } catch (...) {
      if (form.IsVisible()) {
        form.Hide();
      }
      throw;
    }
  }
  if (form.IsVisible()) {
    CloseWithCancel(form);
  }
}

std::vector<std::string> ScriptedUser::Verify() const {
  std::vector<std::string> problems = failures_;
  for (const auto& e : expected_) {
    problems.push_back("expected " + e.Describe() + " never came");
  }
  return problems;
}

std::string ScriptedUser::Problems() const {
  std::string s;
  for (const auto& p : Verify()) {
    s += p + "\n";
  }
  return s;
}

bool ScriptedUser::AllExpectationsMet() const { return failures_.empty() && expected_.empty(); }

}  // namespace platform

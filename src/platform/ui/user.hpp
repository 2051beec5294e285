#pragma once
// The person at the screen: message boxes, file dialogs and modal forms are
// questions put to them, modeless forms and progress are things shown to
// them. Every question, answer and form shown is kept as readable text in
// the transcript.
//
// TerminalUser is the person at a terminal: it prints everything and answers
// from prepared answers, the keyboard, or else with the answer that changes
// nothing (the program). Tests script their person (tests/support).
#include <cstddef>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/form.hpp"

namespace platform {

enum class MsgBoxButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgBoxIcon { None, Critical, Question, Exclamation, Information };
enum class MsgBoxResult { Ok, Cancel, Yes, No };

// "OK", "Cancel", "Yes", "No".
const char* MsgBoxResultCaption(MsgBoxResult result);
// The answers a message box with these buttons allows, in button order.
std::vector<MsgBoxResult> AllowedResults(MsgBoxButtons buttons);
// The answer that changes nothing: OK when it is the only button, No for
// Yes/No, Cancel when there is a Cancel button.
MsgBoxResult NeutralResult(MsgBoxButtons buttons);
// A typed caption ("yes", " OK ") as one of the allowed answers; nullopt
// when it is not one of them.
std::optional<MsgBoxResult> ParseMsgBoxResult(std::string_view caption, MsgBoxButtons buttons);

struct MessageRequest {
  std::string text;
  std::string title;
  MsgBoxButtons buttons = MsgBoxButtons::Ok;
  MsgBoxIcon icon = MsgBoxIcon::None;
};

enum class FileDialogMode { Open, Save };

struct FileDialogRequest {
  FileDialogMode mode = FileDialogMode::Open;
  std::string title;
  std::string initialDir;
  // Description and pattern pairs separated by "|",
  // e.g. "Personal Folders Files  (*.pst)|*.pst".
  std::string filter;
  // Added to a chosen name that has no extension; with or without its dot.
  std::string defaultExt;
  int flags = 0;
  std::string fileName;
};

struct FileDialogResult {
  bool cancelled = true;
  // The full file name; empty when cancelled.
  std::string fileName;
  // The name without its folder; empty when cancelled.
  std::string fileTitle;
};

// What a file dialog returns for a chosen path (nullopt or empty: cancelled).
// A relative path is taken inside the initial directory, and a name without
// an extension gets the default extension.
FileDialogResult CompleteFileChoice(const FileDialogRequest& request,
                                    const std::optional<std::string>& chosen);

class UserInterface {
 public:
  // `applicationTitle` titles the message boxes that name no title.
  explicit UserInterface(std::string applicationTitle);
  virtual ~UserInterface();
  UserInterface(const UserInterface&) = delete;
  UserInterface& operator=(const UserInterface&) = delete;

  // A message box; an empty title means the application's title. The
  // answer is always one that the buttons allow.
  MsgBoxResult MessageBox(std::string_view text, std::string_view title = {},
                          MsgBoxButtons buttons = MsgBoxButtons::Ok,
                          MsgBoxIcon icon = MsgBoxIcon::None);
  FileDialogResult FileDialog(const FileDialogRequest& request);

  // A modal form, called by Form::Show(true) with the form already visible.
  // Returns when the person has closed it: it is then hidden.
  void RunModal(Form& form);
  // Notices from forms: a modeless show, a hide, a visible change.
  void FormShown(const Form& form);
  void FormHidden(const Form& form);
  void FormChanged(const Form& form, const Control& control);

  // One entry per message with its answer, dialog, form shown or hidden,
  // progress step and action taken for the person; entries may span lines.
  const std::vector<std::string>& Transcript() const { return transcript_; }
  // False when nobody answered the last message box and the answer that
  // changes nothing was taken for them (a terminal without a person, no
  // prepared answer left): a caller whose question must not be decided that
  // way can leave the matter for a later time.
  bool LastMessageAnswered() const { return lastMessageAnswered_; }
  const std::string& ApplicationTitle() const { return applicationTitle_; }

 protected:
  // The person's answer to a message box.
  virtual MsgBoxResult AnswerMessage(const MessageRequest& request) = 0;
  // The path the person chose; nullopt when they cancelled.
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
  // The person works with a modal form until it is hidden or unloaded.
  virtual void InteractWithForm(Form& form) = 0;
  // Every transcript entry as it is recorded.
  virtual void OnRecord(const std::string& /*entry*/) {}
  // What a progress form shows, whenever its text or its bar's percentage
  // changes while it is visible (`percent` empty while its bar is hidden or
  // has no range), and once when it is hidden (`hidden`). Called before the
  // transcript entry, if any: the transcript keeps progress per 10%.
  virtual void OnProgress(const std::string& /*text*/, std::optional<int> /*percent*/, bool /*hidden*/) {}
  // True while the entry handed to OnRecord tells progress or the hiding of
  // a progress form.
  bool RecordingProgress() const { return recordingProgress_; }

  void Record(std::string entry);
  // Called from AnswerMessage when no person gave the answer it returns.
  void NoAnswerGiven() { lastMessageAnswered_ = false; }
  // Closes a form the way that changes nothing: clicks its cancel button
  // (Form::CancelButton) when it has an enabled one, and hides the form
  // when it is still visible after that.
  void CloseWithCancel(Form& form);
  // Clicks a button for the person and records it; false when the button
  // is disabled or hidden.
  bool ClickFor(Button& button);

 private:
  struct ProgressState {
    std::string text;
    int decile = -1;
    int percent = -1;
  };
  void RecordProgress(const Form& form, bool force);
  void RecordProgressEntry(std::string entry);

  std::string applicationTitle_;
  std::vector<std::string> transcript_;
  std::map<std::string, ProgressState> progress_;
  bool recordingProgress_ = false;
  bool lastMessageAnswered_ = true;
};

// What a question throws when its prepared answer fits none of its choices
// and the program did not end there (TerminalUser::OnUnfitAnswer): the
// question gives no answer at all. The message names the answer and the
// choices offered.
class UnfitAnswerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The person at a terminal, for the program. Everything shown is printed,
// so a run reads as a transcript. Answers come, in this order, from the
// prepared answers (taken in order, one per question or form step), from
// the keyboard when interactive, or else the answer that changes nothing
// is taken and the terminal says so. In non-interactive mode nothing is
// ever read, so it never waits.
//
// A prepared answer must fit the question it meets: a caption of one of
// the message box's buttons ("Yes", "OK", "Cancel"), a caption of an
// enabled button of the modal form ("Yes to All", "Save && Send") or a
// command for one of its controls, a path (or "Cancel") for a file dialog.
// One that does not is a mistake of whoever wrote it (a typo such as
// "Yess"); taking the answer that changes nothing instead would quietly
// throw away what the person meant to keep, so the question is abandoned
// without an answer (see OnUnfitAnswer).
//
// At a modal form, an interactive person may type commands:
//   click CAPTION|NAME     set NAME TEXT         check NAME 0|1
//   select NAME INDEX      dropdown NAME         show      help
// or just a button's caption. A prepared answer may be such a command too
// ("check Check 1" ticks the check box named Check); it is never taken as a
// file name.
//
// Progress is printed as lines, one per 10%; when the output is a terminal
// (SetTerminalOutput), a progress form is shown instead as one line that is
// redrawn in place with a bar, "Exporting to a file... [#####.....] 50%".
class TerminalUser final : public UserInterface {
 public:
  // `formButtonCaptions`: captions of the program's own question forms
  // (beyond OK, Cancel, Yes and No) that a prepared answer may name; such
  // an answer is never taken for a file path.
  TerminalUser(std::istream& in, std::ostream& out, bool interactive, std::vector<std::string> answers,
               std::string applicationTitle, std::vector<std::string> formButtonCaptions = {});

  void AddAnswer(std::string answer) { answers_.push_back(std::move(answer)); }
  std::size_t AnswersLeft() const { return answers_.size(); }

  // Called when a prepared answer fits none of the choices of the question
  // it meets, with one line naming the answer and the choices offered, e.g.
  // `the answer "Yess" names no button of the question (Yes, No)`. The
  // question gives no answer: when `stop` returns (or none is set) it
  // throws UnfitAnswerError. A caller that cannot let an exception reach it
  // through the code that asked (the add-in catches everything) ends the
  // process in `stop`.
  void OnUnfitAnswer(std::function<void(const std::string&)> stop) { stop_ = std::move(stop); }

  // Whether the output is a terminal `columns` wide: progress is then drawn
  // in place on one line that fits.
  void SetTerminalOutput(bool isTerminal, int columns = 80);

  // Runs `act` on the next modal form named `formName` (case-insensitive)
  // before any prepared answer or typed command: the program doing on a
  // form what its own command line said. Runs once; a form it leaves open
  // goes on to the answers as usual. An exception from `act` is recorded
  // and the form is then closed without changes. An empty `act` drops the
  // action still waiting, if any.
  void ActOnNextForm(std::string formName, std::function<void(Form&)> act);

  // The progress line as drawn on a terminal `columns` wide: the text, a bar
  // of 20 cells and the percentage (no bar without a percentage), the text
  // shortened in its middle when the whole would not fit in columns - 1.
  static std::string ProgressLine(std::string_view text, std::optional<int> percent, int columns);

 protected:
  MsgBoxResult AnswerMessage(const MessageRequest& request) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
  void InteractWithForm(Form& form) override;
  void OnRecord(const std::string& entry) override;
  void OnProgress(const std::string& text, std::optional<int> percent, bool hidden) override;

 private:
  // A line typed at the prompt; nullopt at the end of input.
  std::optional<std::string> ReadLine(std::string_view prompt);
  void Say(std::string_view text);
  // Records that the first prepared answer fits nothing here (`why`), then
  // stops as OnUnfitAnswer says; never returns.
  [[noreturn]] void RejectAnswer(const std::string& why);
  bool IsButtonCaption(std::string_view answer) const;
  // A form command ("check Check 1"), and one that names a control of the form.
  static bool IsFormCommand(std::string_view answer);
  static bool FormCommandFits(const Form& form, std::string_view answer);
  enum class CommandOutcome { kDone, kRefused, kNotUnderstood };
  // Runs one command on a modal form. kRefused: the command names something
  // the form cannot do (no such button or control, a disabled one, a bad
  // value); `refusal` then says why.
  CommandOutcome RunCommand(Form& form, const std::string& line, std::string& refusal);
  // Ends the progress line drawn in place, so that what follows starts on
  // a line of its own.
  void EndProgressLine();

  std::istream& in_;
  std::ostream& out_;
  bool interactive_;
  std::deque<std::string> answers_;
  std::vector<std::string> formButtonCaptions_;
  bool terminal_ = false;
  int columns_ = 80;
  // The length, in characters, of the progress line drawn in place; 0 when none is open.
  std::size_t progressLineLength_ = 0;
  bool progressLineOpen_ = false;
  struct FormAction {
    std::string formName;
    std::function<void(Form&)> act;
  };
  std::optional<FormAction> nextFormAction_;
  std::function<void(const std::string&)> stop_;
};

}  // namespace platform

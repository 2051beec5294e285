#include "platform/ui/user.hpp"

#include <algorithm>
#include <istream>
#include <ostream>
#include <sstream>
#include <utility>

#include "platform/text.hpp"

namespace platform {

namespace {

const char* IconName(MsgBoxIcon icon) {
  switch (icon) {
    case MsgBoxIcon::None: return "";
    case MsgBoxIcon::Critical: return "critical";
    case MsgBoxIcon::Question: return "question";
    case MsgBoxIcon::Exclamation: return "exclamation";
    case MsgBoxIcon::Information: return "information";
  }
  return "";
}

std::string Indent(std::string_view text, std::string_view prefix) {
  std::string out(prefix);
  for (char c : text) {
    out += c;
    if (c == '\n') {
      out += prefix;
    }
  }
  return out;
}

std::string Quote(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string ButtonList(MsgBoxButtons buttons) {
  std::string s;
  for (MsgBoxResult r : AllowedResults(buttons)) {
    s += (s.empty() ? "" : " / ") + std::string(MsgBoxResultCaption(r));
  }
  return s;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsAbsolutePath(std::string_view p) {
  if (!p.empty() && IsSeparator(p[0])) {
    return true;
  }
  // A drive letter: "C:\..." or "C:".
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

std::size_t NameStart(std::string_view path) {
  const std::size_t sep = path.find_last_of("/\\");
  return sep == std::string_view::npos ? 0 : sep + 1;
}

// The progress parts of a form that shows progress, when it has both.
std::optional<Form::ProgressView> AsProgress(const Form& form) {
  auto view = form.AsProgressView();
  if (!view || view->message == nullptr || view->bar == nullptr) {
    return std::nullopt;
  }
  return view;
}


// The byte offset of character `n` (the size when there are fewer).
std::size_t CharacterOffset(std::string_view s, std::size_t n) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (seen == n) {
        return i;
      }
      ++seen;
    }
  }
  return s.size();
}

// At most `room` characters: the start and the end of the text with "..."
// between them, never cutting a character in two.
std::string ShortenInMiddle(std::string_view s, std::size_t room) {
  const std::size_t count = CharacterCount(s);
  if (count <= room) {
    return std::string(s);
  }
  if (room <= 3) {
    return std::string(room, '.');
  }
  const std::size_t keep = room - 3;
  const std::size_t head = (keep + 1) / 2;
  const std::size_t tail = keep - head;
  return std::string(s.substr(0, CharacterOffset(s, head))) + "..." +
         std::string(s.substr(CharacterOffset(s, count - tail)));
}

// The verbs of the commands a modal form takes (see TerminalUser).
bool IsFormVerb(std::string_view verb) {
  for (const char* v : {"click", "set", "check", "select", "dropdown"}) {
    if (EqualsIgnoreCase(verb, v)) {
      return true;
    }
  }
  return false;
}

// The verb and the control's name of a form command; nullopt when the text
// is not one.
std::optional<std::pair<std::string, std::string>> SplitFormCommand(std::string_view text) {
  std::istringstream words{std::string(text)};
  std::string verb, name;
  if (!(words >> verb >> name) || !IsFormVerb(verb)) {
    return std::nullopt;
  }
  return std::make_pair(verb, name);
}

// "Yes, Yes to All, No".
std::string CommaList(const std::vector<std::string>& items) {
  std::string s;
  for (const auto& item : items) {
    s += (s.empty() ? "" : ", ") + item;
  }
  return s;
}

bool Available(const Control& control) { return control.Enabled() && control.Visible(); }

// The captions of the buttons a person could press on the form now.
std::vector<std::string> OfferedButtons(const Form& form) {
  std::vector<std::string> captions;
  for (const Control* control : form.Controls()) {
    if (const auto* b = dynamic_cast<const Button*>(control); b != nullptr && Available(*b)) {
      captions.push_back(PlainCaption(b->Caption()));
    }
  }
  return captions;
}

// True when the form has a control a command could fill in; a form without
// one is a question answered by its buttons alone.
bool HasFieldsToFill(const Form& form) {
  for (const Control* control : form.Controls()) {
    switch (control->Kind()) {
      case ControlKind::kTextBox:
      case ControlKind::kCheckBox:
      case ControlKind::kComboBox:
      case ControlKind::kListBox:
      case ControlKind::kListView:
        if (Available(*control)) {
          return true;
        }
        break;
      default:
        break;
    }
  }
  return false;
}

// How a form is named to the person: "the question" for one answered by
// its buttons alone, else the window with its caption.
std::string FormForPerson(const Form& form) {
  if (!HasFieldsToFill(form)) {
    return "the question";
  }
  const std::string caption = PlainCaption(form.Caption());
  return "the window " + Quote(caption.empty() ? form.Name() : caption);
}

std::string Capitalized(std::string s) {
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') {
    s[0] = static_cast<char>(s[0] - 'a' + 'A');
  }
  return s;
}

}  // namespace

// --- answers and file choices ----------------------------------------------

const char* MsgBoxResultCaption(MsgBoxResult result) {
  switch (result) {
    case MsgBoxResult::Ok: return "OK";
    case MsgBoxResult::Cancel: return "Cancel";
    case MsgBoxResult::Yes: return "Yes";
    case MsgBoxResult::No: return "No";
  }
  return "";
}

std::vector<MsgBoxResult> AllowedResults(MsgBoxButtons buttons) {
  switch (buttons) {
    case MsgBoxButtons::Ok: return {MsgBoxResult::Ok};
    case MsgBoxButtons::OkCancel: return {MsgBoxResult::Ok, MsgBoxResult::Cancel};
    case MsgBoxButtons::YesNo: return {MsgBoxResult::Yes, MsgBoxResult::No};
    case MsgBoxButtons::YesNoCancel:
      return {MsgBoxResult::Yes, MsgBoxResult::No, MsgBoxResult::Cancel};
  }
  return {MsgBoxResult::Ok};
}

MsgBoxResult NeutralResult(MsgBoxButtons buttons) {
  switch (buttons) {
    case MsgBoxButtons::Ok: return MsgBoxResult::Ok;
    case MsgBoxButtons::YesNo: return MsgBoxResult::No;
    case MsgBoxButtons::OkCancel:
    case MsgBoxButtons::YesNoCancel: return MsgBoxResult::Cancel;
  }
  return MsgBoxResult::Ok;
}

std::optional<MsgBoxResult> ParseMsgBoxResult(std::string_view caption, MsgBoxButtons buttons) {
  const std::string t = Trim(caption);
  for (MsgBoxResult r : AllowedResults(buttons)) {
    if (EqualsIgnoreCase(t, MsgBoxResultCaption(r))) {
      return r;
    }
  }
  return std::nullopt;
}

FileDialogResult CompleteFileChoice(const FileDialogRequest& request,
                                    const std::optional<std::string>& chosen) {
  FileDialogResult result;
  if (!chosen || chosen->empty()) {
    return result;
  }
  std::string path = *chosen;
  if (!IsAbsolutePath(path) && !request.initialDir.empty()) {
    path = request.initialDir + (IsSeparator(request.initialDir.back()) ? "" : "/") + path;
  }
  std::string title = path.substr(NameStart(path));
  if (title.empty()) {
    return result;  // a folder, not a file
  }
  std::string ext = request.defaultExt;
  if (!ext.empty() && ext.front() == '.') {
    ext.erase(0, 1);
  }
  const std::size_t dot = title.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot + 1 < title.size();
  if (!ext.empty() && !hasExtension) {
    const std::string suffix = (title.back() == '.' ? "" : ".") + ext;
    path += suffix;
    title += suffix;
  }
  result.cancelled = false;
  result.fileName = std::move(path);
  result.fileTitle = std::move(title);
  return result;
}

// --- UserInterface ---------------------------------------------------------

UserInterface::UserInterface(std::string applicationTitle)
    : applicationTitle_(std::move(applicationTitle)) {}

UserInterface::~UserInterface() {
  if (DefaultUser() == this) {
    SetDefaultUser(nullptr);
  }
}

void UserInterface::Record(std::string entry) {
  transcript_.push_back(std::move(entry));
  OnRecord(transcript_.back());
}

MsgBoxResult UserInterface::MessageBox(std::string_view text, std::string_view title,
                                       MsgBoxButtons buttons, MsgBoxIcon icon) {
  MessageRequest request{std::string(text), title.empty() ? applicationTitle_ : std::string(title),
                         buttons, icon};
  std::string entry = "Message " + Quote(request.title);
  if (icon != MsgBoxIcon::None) {
    entry += " (" + std::string(IconName(icon)) + ")";
  }
  entry += " [" + ButtonList(buttons) + "]:\n" + Indent(NormalizeBreaks(text), "  ");
  Record(std::move(entry));

  lastMessageAnswered_ = true;
  MsgBoxResult answer = AnswerMessage(request);
  const auto allowed = AllowedResults(buttons);
  if (std::find(allowed.begin(), allowed.end(), answer) == allowed.end()) {
    const MsgBoxResult neutral = NeutralResult(buttons);
    Record(std::string("Answer ") + MsgBoxResultCaption(answer) + " is not offered; taking " +
           MsgBoxResultCaption(neutral));
    answer = neutral;
  }
  Record(std::string("Answer: ") + MsgBoxResultCaption(answer));
  return answer;
}

FileDialogResult UserInterface::FileDialog(const FileDialogRequest& request) {
  std::string entry = request.mode == FileDialogMode::Save ? "Save" : "Open";
  entry += " file dialog " + Quote(request.title);
  if (!request.initialDir.empty()) {
    entry += ", folder " + Quote(request.initialDir);
  }
  if (!request.filter.empty()) {
    entry += ", filter " + Quote(request.filter);
  }
  if (!request.defaultExt.empty()) {
    entry += ", default extension " + Quote(request.defaultExt);
  }
  Record(std::move(entry));
  FileDialogResult result = CompleteFileChoice(request, ChooseFile(request));
  Record(result.cancelled ? std::string("File dialog cancelled")
                          : "Chosen file: " + result.fileName);
  return result;
}

void UserInterface::RunModal(Form& form) {
  Record("Shown modally: " + form.Describe());
  InteractWithForm(form);
  if (form.IsVisible()) {
    form.Hide();
  }
}

void UserInterface::FormShown(const Form& form) {
  if (AsProgress(form)) {
    progress_.erase(FoldCase(form.Name()));
    RecordProgress(form, true);
    return;
  }
  Record("Shown: " + form.Describe());
}

void UserInterface::FormHidden(const Form& form) {
  progress_.erase(FoldCase(form.Name()));
  if (AsProgress(form)) {
    OnProgress(std::string(), std::nullopt, true);
    RecordProgressEntry("Hidden: Form " + form.Name());
    return;
  }
  Record("Hidden: Form " + form.Name());
}

void UserInterface::RecordProgressEntry(std::string entry) {
  struct Mark {
    bool& flag;
    explicit Mark(bool& f) : flag(f) { flag = true; }
    ~Mark() { flag = false; }
  } mark(recordingProgress_);
  Record(std::move(entry));
}

void UserInterface::FormChanged(const Form& form, const Control& /*control*/) {
  if (AsProgress(form)) {
    RecordProgress(form, false);
  }
}

void UserInterface::RecordProgress(const Form& form, bool force) {
  const auto parts = AsProgress(form);
  if (!parts) {
    return;
  }
  const std::string text = Trim(NormalizeBreaks(parts->message->Caption()));
  const bool showBar = parts->bar->Visible() && parts->bar->Max() > parts->bar->Min();
  const int percent = parts->bar->Percent();
  const int decile = showBar ? percent / 10 : -1;
  const int shownPercent = showBar ? percent : -1;
  ProgressState& state = progress_[FoldCase(form.Name())];
  if (!force && text == state.text && shownPercent == state.percent) {
    return;
  }
  // What is shown follows every percent; the transcript every tenth.
  const bool record = force || text != state.text || decile != state.decile;
  state.text = text;
  state.percent = shownPercent;
  state.decile = decile;
  OnProgress(text, showBar ? std::optional<int>(percent) : std::nullopt, false);
  if (!record) {
    return;
  }
  std::string line = text;
  if (showBar) {
    line += (line.empty() ? "" : " ") + std::to_string(percent) + "%";
  }
  if (!line.empty()) {
    RecordProgressEntry(std::move(line));
  }
}

bool UserInterface::ClickFor(Button& button) {
  const std::string caption = PlainCaption(button.Caption());
  if (!button.Enabled() || !button.Visible()) {
    Record("Button " + Quote(caption) + " is not available");
    return false;
  }
  Record("Clicked " + Quote(caption));
  return button.Click();
}

void UserInterface::CloseWithCancel(Form& form) {
  if (Button* cancel = form.CancelButton();
      cancel != nullptr && cancel->Enabled() && cancel->Visible()) {
    ClickFor(*cancel);
  }
  if (form.IsVisible()) {
    Record("Closed form " + form.Name());
    form.Hide();
  }
}

// --- TerminalUser ----------------------------------------------------------

TerminalUser::TerminalUser(std::istream& in, std::ostream& out, bool interactive,
                           std::vector<std::string> answers, std::string applicationTitle,
                           std::vector<std::string> formButtonCaptions)
    : UserInterface(std::move(applicationTitle)),
      in_(in),
      out_(out),
      interactive_(interactive),
      answers_(answers.begin(), answers.end()),
      formButtonCaptions_(std::move(formButtonCaptions)) {}

bool TerminalUser::IsButtonCaption(std::string_view answer) const {
  const std::string t = Trim(answer);
  for (const char* caption : {"OK", "Cancel", "Yes", "No"}) {
    if (EqualsIgnoreCase(t, caption)) {
      return true;
    }
  }
  for (const auto& caption : formButtonCaptions_) {
    if (EqualsIgnoreCase(t, Trim(caption))) {
      return true;
    }
  }
  return false;
}

void TerminalUser::SetTerminalOutput(bool isTerminal, int columns) {
  terminal_ = isTerminal;
  columns_ = columns;
}

void TerminalUser::ActOnNextForm(std::string formName, std::function<void(Form&)> act) {
  if (!act) {
    nextFormAction_.reset();
    return;
  }
  nextFormAction_ = FormAction{std::move(formName), std::move(act)};
}

void TerminalUser::OnRecord(const std::string& entry) {
  // On a terminal the progress form is drawn in place instead.
  if (terminal_ && RecordingProgress()) {
    return;
  }
  Say(entry);
}

void TerminalUser::OnProgress(const std::string& text, std::optional<int> percent, bool hidden) {
  if (!terminal_) {
    return;
  }
  if (hidden) {
    EndProgressLine();
    return;
  }
  if (text.empty() && !percent) {
    return;
  }
  const std::string line = ProgressLine(text, percent, columns_);
  const std::size_t length = CharacterCount(line);
  out_ << '\r' << line;
  if (progressLineOpen_ && length < progressLineLength_) {
    out_ << std::string(progressLineLength_ - length, ' ');
  }
  out_.flush();
  progressLineOpen_ = true;
  progressLineLength_ = length;
}

void TerminalUser::EndProgressLine() {
  if (!progressLineOpen_) {
    return;
  }
  out_ << '\n';
  out_.flush();
  progressLineOpen_ = false;
  progressLineLength_ = 0;
}

std::string TerminalUser::ProgressLine(std::string_view text, std::optional<int> percent, int columns) {
  constexpr int kCells = 20;
  std::string tail;
  if (percent) {
    const int p = std::clamp(*percent, 0, 100);
    const int filled = p * kCells / 100;
    tail = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kCells - filled), '.') + "] " + std::to_string(p) + "%";
  }
  // One line: control characters would move the cursor or break the line.
  std::string shown;
  for (char c : text) {
    const auto ch = static_cast<unsigned char>(c);
    shown += (ch < 0x20 || ch == 0x7F) ? '?' : c;
  }
  const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
  const std::size_t tailLength = tail.empty() ? 0 : tail.size() + (shown.empty() ? 0 : 1);
  const std::size_t textRoom = room > tailLength ? room - tailLength : 0;
  if (CharacterCount(shown) > textRoom) {
    shown = ShortenInMiddle(shown, textRoom);
  }
  if (tail.empty()) {
    return shown;
  }
  return shown.empty() ? tail : shown + " " + tail;
}

void TerminalUser::Say(std::string_view text) {
  EndProgressLine();
  out_ << text << '\n';
  out_.flush();
}

std::optional<std::string> TerminalUser::ReadLine(std::string_view prompt) {
  EndProgressLine();
  out_ << prompt;
  out_.flush();
  std::string line;
  if (!std::getline(in_, line)) {
    out_ << '\n';
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

bool TerminalUser::IsFormCommand(std::string_view answer) { return SplitFormCommand(answer).has_value(); }

bool TerminalUser::FormCommandFits(const Form& form, std::string_view answer) {
  const auto command = SplitFormCommand(answer);
  if (!command) {
    return false;
  }
  if (EqualsIgnoreCase(command->first, "click")) {
    std::istringstream words{std::string(answer)};
    std::string verb, argument;
    words >> verb;
    std::getline(words, argument);
    return form.FindButton(Trim(argument)) != nullptr;
  }
  return form.Find(command->second) != nullptr;
}

void TerminalUser::RejectAnswer(const std::string& why) {
  Record("Prepared answer does not fit: " + why + "; the question is left without an answer");
  if (stop_) {
    stop_(why);
  }
  throw UnfitAnswerError(why);
}

MsgBoxResult TerminalUser::AnswerMessage(const MessageRequest& request) {
  if (!answers_.empty()) {
    if (auto r = ParseMsgBoxResult(answers_.front(), request.buttons)) {
      Record("Prepared answer " + Quote(answers_.front()));
      answers_.pop_front();
      return *r;
    }
    std::vector<std::string> offered;
    for (MsgBoxResult r : AllowedResults(request.buttons)) {
      offered.emplace_back(MsgBoxResultCaption(r));
    }
    RejectAnswer("the answer " + Quote(answers_.front()) + " names no button of the question (" +
                 CommaList(offered) + ")");
  }
  if (interactive_) {
    const std::string choices = ButtonList(request.buttons);
    while (auto line = ReadLine("Your answer [" + choices + "]: ")) {
      if (request.buttons == MsgBoxButtons::Ok && Trim(*line).empty()) {
        return MsgBoxResult::Ok;
      }
      if (auto r = ParseMsgBoxResult(*line, request.buttons)) {
        return *r;
      }
      Say("Please answer one of: " + choices);
    }
  }
  const MsgBoxResult neutral = NeutralResult(request.buttons);
  Record(std::string("No answer given; taking ") + MsgBoxResultCaption(neutral));
  NoAnswerGiven();
  return neutral;
}

std::optional<std::string> TerminalUser::ChooseFile(const FileDialogRequest& request) {
  if (!answers_.empty()) {
    const std::string answer = answers_.front();
    if (EqualsIgnoreCase(Trim(answer), "Cancel")) {
      Record("Prepared answer \"Cancel\"");
      answers_.pop_front();
      return std::nullopt;
    }
    if (!IsButtonCaption(answer) && !IsFormCommand(answer)) {
      Record("Prepared answer " + Quote(answer));
      answers_.pop_front();
      return answer;
    }
    // A button's caption or a form command is meant for another question.
    RejectAnswer("the answer " + Quote(answer) + " names no file for the file dialog" +
                 (request.title.empty() ? std::string() : " " + Quote(request.title)) +
                 " (a file name, or Cancel)");
  }
  if (interactive_) {
    if (auto line = ReadLine("File name (empty to cancel): ")) {
      if (Trim(*line).empty()) {
        return std::nullopt;
      }
      return *line;
    }
  }
  Record("No file chosen; cancelling the dialog");
  return std::nullopt;
}

void TerminalUser::InteractWithForm(Form& form) {
  if (nextFormAction_ && EqualsIgnoreCase(nextFormAction_->formName, form.Name())) {
    auto act = std::move(nextFormAction_->act);
    nextFormAction_.reset();
    try {
      act(form);
    } catch (const UnfitAnswerError&) {
      throw;  // a question the action raised was left without an answer
    } catch (const std::exception& e) {
      Record("Could not fill in form " + form.Name() + ": " + e.what());
      CloseWithCancel(form);
    }
  }
  while (form.IsVisible()) {
    if (!answers_.empty()) {
      const std::string answer = answers_.front();
      const std::vector<std::string> offered = OfferedButtons(form);
      if (Button* b = form.ButtonWithCaption(Trim(answer))) {
        if (!Available(*b)) {
          RejectAnswer("the answer " + Quote(answer) + " names a button of " + FormForPerson(form) +
                       " that is not available (" + CommaList(offered) + ")");
        }
        answers_.pop_front();
        ClickFor(*b);
        continue;
      }
      if (FormCommandFits(form, answer)) {
        Record("Prepared answer " + Quote(answer));
        std::string refusal;
        if (RunCommand(form, answer, refusal) != CommandOutcome::kDone) {
          RejectAnswer("the answer " + Quote(answer) + " cannot be done on " + FormForPerson(form) + ": " + refusal);
        }
        answers_.pop_front();
        continue;
      }
      RejectAnswer("the answer " + Quote(answer) + " names no button " +
                   (HasFieldsToFill(form) ? "or control " : "") + "of " + FormForPerson(form) + " (" +
                   CommaList(offered) + ")");
    }
    if (!interactive_) {
      break;
    }
    auto line = ReadLine(form.Name() + "> ");
    if (!line) {
      break;
    }
    std::string refusal;
    switch (RunCommand(form, *line, refusal)) {
      case CommandOutcome::kDone: break;
      case CommandOutcome::kRefused: Say(Capitalized(refusal)); break;
      case CommandOutcome::kNotUnderstood: Say("Not understood; type help for the commands"); break;
    }
  }
  if (form.IsVisible()) {
    Record("No answer given for form " + form.Name() + "; closing it without changes");
    CloseWithCancel(form);
  }
}

TerminalUser::CommandOutcome TerminalUser::RunCommand(Form& form, const std::string& line, std::string& refusal) {
  std::istringstream words(line);
  std::string verb;
  words >> verb;
  std::string name;
  words >> name;
  std::string rest;
  std::getline(words, rest);
  rest = Trim(rest);
  const std::string argument = name.empty() ? std::string() : Trim(name + " " + rest);
  const auto refuse = [&refusal](std::string why) {
    refusal = std::move(why);
    return CommandOutcome::kRefused;
  };
  // A button that is there but cannot be pressed refuses before anything is recorded as clicked.
  const auto press = [&](Button& b) {
    if (!Available(b)) {
      return refuse("the button " + Quote(PlainCaption(b.Caption())) + " is not available");
    }
    ClickFor(b);
    return CommandOutcome::kDone;
  };

  if (verb.empty()) {
    return CommandOutcome::kDone;
  }
  if (EqualsIgnoreCase(verb, "help") || verb == "?") {
    Say("Commands: click CAPTION|NAME, set NAME TEXT, check NAME 0|1, select NAME INDEX,\n"
        "dropdown NAME, show, help; or type a button's caption.");
    return CommandOutcome::kDone;
  }
  if (EqualsIgnoreCase(verb, "show")) {
    Say(form.Describe());
    return CommandOutcome::kDone;
  }
  if (EqualsIgnoreCase(verb, "click")) {
    if (Button* b = form.FindButton(argument)) {
      return press(*b);
    }
    return refuse("no button " + Quote(argument));
  }
  if (Button* b = form.FindButton(Trim(line))) {
    return press(*b);
  }
  Control* control = form.Find(name);
  if (control == nullptr) {
    if (IsFormVerb(verb)) {
      return refuse("no control " + Quote(name));
    }
    return CommandOutcome::kNotUnderstood;
  }
  if (!Available(*control)) {
    return refuse(control->Name() + " is not available");
  }
  try {
    if (EqualsIgnoreCase(verb, "set")) {
      if (auto* t = dynamic_cast<TextBox*>(control)) {
        t->SetText(rest);
      } else if (auto* c = dynamic_cast<ComboBox*>(control)) {
        c->SetText(rest);
      } else {
        return refuse(name + " holds no text");
      }
      Record("Set " + control->Name() + " to " + Quote(rest));
      return CommandOutcome::kDone;
    }
    if (EqualsIgnoreCase(verb, "check")) {
      auto* c = dynamic_cast<CheckBox*>(control);
      if (c == nullptr || (rest != "0" && rest != "1")) {
        return refuse("use: check NAME 0|1 on a check box");
      }
      c->SetValue(rest == "1" ? 1 : 0);
      Record("Set " + control->Name() + " to " + rest);
      return CommandOutcome::kDone;
    }
    if (EqualsIgnoreCase(verb, "select")) {
      const int index = ToInt32(rest);
      if (auto* l = dynamic_cast<ListControl*>(control)) {
        l->SetListIndex(index);
      } else if (auto* v = dynamic_cast<ListView*>(control)) {
        if (index < 0 || !v->ClickItem(static_cast<std::size_t>(index))) {
          return refuse("no entry " + rest);
        }
      } else {
        return refuse(name + " is not a list");
      }
      Record("Selected entry " + rest + " of " + control->Name());
      return CommandOutcome::kDone;
    }
    if (EqualsIgnoreCase(verb, "dropdown")) {
      auto* c = dynamic_cast<ComboBox*>(control);
      if (c == nullptr) {
        return refuse(name + " is not a combo box");
      }
      c->DropDown();
      Record("Opened the list of " + control->Name());
      return CommandOutcome::kDone;
    }
  } catch (const UnfitAnswerError&) {
    throw;  // a question the change raised was left without an answer
  } catch (const std::exception& e) {
    return refuse(std::string("cannot do that: ") + e.what());
  }
  return CommandOutcome::kNotUnderstood;
}

}  // namespace platform

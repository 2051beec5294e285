// The person at a terminal: progress drawn in place when the output is a
// terminal, form commands as prepared answers, and the program acting on a
// form it opened itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"

namespace platform {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class BarForm : public Form {
 public:
  BarForm() : Form("Progress", "Plexisync"), message_(Add<Label>("Message")), bar_(Add<ProgressBar>("TheBar")) {}
  Label& Message() { return message_; }
  ProgressBar& TheBar() { return bar_; }
  std::optional<ProgressView> AsProgressView() const override { return ProgressView{&message_, &bar_}; }

 private:
  Label& message_;
  ProgressBar& bar_;
};

// The confirmation before a full send: a label, a check box, Yes and No.
class ConfirmForm : public Form {
 public:
  ConfirmForm() : Form("ConfirmUpdate", "Plexisync - Confirmation") {
    Add<Label>("Label2", "You are about to send ALL your contacts.");
    auto& check = Add<CheckBox>("Check", "Send only updated items");
    auto& yes = Add<Button>("Command1", "Yes");
    auto& no = Add<Button>("Command2", "No");
    yes.onClick = [this, &check] {
      answer = "Yes";
      checked = check.Checked();
      Hide();
    };
    no.onClick = [this] {
      answer = "No";
      Hide();
    };
  }
  std::string answer;
  bool checked = false;
};

// An editor with two fields, "Save and Close" and "Cancel".
class EditorForm : public Form {
 public:
  EditorForm() : Form("ContactEditor", "Untitled - Contact") {
    Add<TextBox>("FullName");
    Add<TextBox>("Email1Address");
    auto& save = Add<Button>("SaveAndClose", "Save and Close");
    auto& cancel = Add<Button>("Cancel", "Cancel");
    cancel.SetCancel(true);
    save.onClick = [this] {
      saved = true;
      Hide();
    };
    cancel.onClick = [this] { Hide(); };
  }
  bool saved = false;
};

struct Terminal {
  explicit Terminal(bool isTerminal, std::vector<std::string> answers = {}, int columns = 80)
      : user(in, out, false, std::move(answers), "Plexisync") {
    user.SetTerminalOutput(isTerminal, columns);
  }
  std::istringstream in;
  std::ostringstream out;
  TerminalUser user;
};

// Runs the same progress on a terminal and elsewhere: a label change, bar
// steps of 1 in 4 and 1 in 40, a message box in between, and the hiding.
void RunProgress(Terminal& t) {
  BarForm progress;
  progress.SetUser(&t.user);
  progress.Message().SetCaption("Updating folder 'Team' Gathering data...");
  progress.TheBar().SetMax(4);
  progress.Show();
  progress.TheBar().SetValue(1);
  progress.TheBar().SetValue(2);
  progress.Message().SetCaption("Updating folder 'Team' Sending contacts and updating database...");
  progress.TheBar().SetMax(40);
  progress.TheBar().SetValue(0);
  progress.TheBar().SetValue(1);  // 2%: drawn, not a transcript entry
  t.user.MessageBox("Contacts were successfully exported");
  progress.TheBar().SetValue(20);
  progress.Hide();
}

TEST(TerminalProgress, DrawnInPlaceOnATerminalWithTheSameTranscript) {
  Terminal plain(false), tty(true, {}, 120);
  RunProgress(plain);
  RunProgress(tty);

  // The transcript does not depend on where the output goes.
  EXPECT_EQ(plain.user.Transcript(), tty.user.Transcript());
  EXPECT_THAT(plain.out.str(), HasSubstr("Updating folder 'Team' Gathering data... 25%\n"));
  EXPECT_THAT(plain.out.str(), HasSubstr("Hidden: Form Progress\n"));
  EXPECT_THAT(plain.out.str(), Not(HasSubstr("\r")));
  EXPECT_THAT(plain.out.str(), Not(HasSubstr(" 2%")));

  const std::string data = "\rUpdating folder 'Team' Gathering data... [....................] 0%"
                           "\rUpdating folder 'Team' Gathering data... [#####...............] 25%"
                           "\rUpdating folder 'Team' Gathering data... [##########..........] 50%";
  const std::string out = tty.out.str();
  EXPECT_EQ(out.rfind(data, 0), 0u) << out;
  // A longer text follows on the same line; the 2% step is drawn too.
  EXPECT_THAT(out, HasSubstr("\rUpdating folder 'Team' Sending contacts and updating database... "
                             "[....................] 2%"));
  // A message box ends the progress line first; the bar then goes on below it.
  EXPECT_THAT(out, HasSubstr("2%\nMessage \"Plexisync\" [OK]:\n"));
  EXPECT_THAT(out, HasSubstr("Answer: OK\n\r"));
  // The hiding ends the line; it is not printed as a form being hidden.
  EXPECT_THAT(out, HasSubstr("[##########..........] 50%\n"));
  EXPECT_EQ(out.back(), '\n');
  EXPECT_THAT(out, Not(HasSubstr("Hidden: Form Progress")));
}

TEST(TerminalProgress, AShorterRedrawBlanksWhatIsLeftOfTheLongerOne) {
  Terminal tty(true);
  BarForm progress;
  progress.SetUser(&tty.user);
  progress.Message().SetCaption("Sending contacts and updating database...");
  progress.Show();
  progress.Message().SetCaption("Sorting lists...");
  const std::string first = "Sending contacts and updating database... [....................] 0%";
  const std::string second = "Sorting lists... [....................] 0%";
  EXPECT_EQ(tty.out.str(), "\r" + first + "\r" + second + std::string(first.size() - second.size(), ' '));
}

TEST(TerminalProgress, LineFitsTheTerminal) {
  struct Case {
    std::string text;
    std::optional<int> percent;
    int columns;
    std::string line;
  };
  const Case cases[] = {
      {"Exporting to a file...", 50, 80, "Exporting to a file... [##########..........] 50%"},
      {"Exporting to a file...", 0, 80, "Exporting to a file... [....................] 0%"},
      {"Exporting to a file...", 100, 80, "Exporting to a file... [####################] 100%"},
      {"Exporting to a file...", 99, 80, "Exporting to a file... [###################.] 99%"},
      {"Writing database...", std::nullopt, 80, "Writing database..."},
      {"", 30, 80, "[######..............] 30%"},
      // 50 columns leave 49: 27 for the bar, 22 for the text.
      {"Updating ALL folders. Please be patient...", 10, 50, "Updating A...atient... [##..................] 10%"},
      // Characters, not bytes, are counted and never cut in two.
      {"Ąčęėįšųūž Ąčęėįšųūž Ąčęėįšųūž", 10, 40, "Ąčęėį...šųūž [##..................] 10%"},
      {"line one\nline two\tend", std::nullopt, 80, "line one?line two?end"},
      {"too narrow", 10, 10, "[##..................] 10%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TerminalUser::ProgressLine(c.text, c.percent, c.columns), c.line) << c.text << " " << c.columns;
  }
}

TEST(TerminalFormAnswers, AFormCommandTicksTheCheckBoxBeforeTheButton) {
  Terminal t(false, {"/tmp/later.pst", "check Check 1", "Yes", "/tmp/later.pst"});
  // The file name is not a form command: kept for the file dialog.
  ConfirmForm confirm;
  confirm.SetUser(&t.user);
  confirm.Show(true);
  EXPECT_EQ(confirm.answer, "No");  // the path did not fit; closed the way that changes nothing
  EXPECT_EQ(t.user.AnswersLeft(), 4u);

  FileDialogRequest request;
  request.mode = FileDialogMode::Save;
  EXPECT_EQ(t.user.FileDialog(request).fileName, "/tmp/later.pst");
  // A form command is never taken for a file name.
  EXPECT_TRUE(t.user.FileDialog(request).cancelled);
  EXPECT_EQ(t.user.AnswersLeft(), 3u);

  ConfirmForm again;
  again.SetUser(&t.user);
  again.Show(true);
  EXPECT_EQ(again.answer, "Yes");
  EXPECT_TRUE(again.checked);
  EXPECT_EQ(t.user.AnswersLeft(), 1u);
  EXPECT_THAT(t.out.str(), HasSubstr("Prepared answer \"check Check 1\"\nSet Check to 1\nClicked \"Yes\""));
}

TEST(TerminalFormAnswers, ACommandForAControlTheFormLacksIsKept) {
  Terminal t(false, {"check Missing 1", "No"});
  ConfirmForm confirm;
  confirm.SetUser(&t.user);
  confirm.Show(true);
  // "No" stays behind the unfit command; the form closes with its cancel button.
  EXPECT_EQ(confirm.answer, "No");
  EXPECT_EQ(t.user.AnswersLeft(), 2u);
  EXPECT_THAT(t.out.str(), HasSubstr("Prepared answer \"check Missing 1\" does not fit here"));
}

TEST(TerminalFormActions, RunOnceOnTheNamedFormBeforeTheAnswers) {
  Terminal t(false, {"Yes"});
  int runs = 0;
  t.user.ActOnNextForm("contacteditor", [&](Form& f) {
    ++runs;
    f.Get<TextBox>("FullName").SetText("Dan Diaz");
    f.Get<Button>("SaveAndClose").Click();
  });
  // Another form first: the action waits for the editor, the answer goes to the question.
  ConfirmForm confirm;
  confirm.SetUser(&t.user);
  confirm.Show(true);
  EXPECT_EQ(confirm.answer, "Yes");
  EXPECT_EQ(runs, 0);

  EditorForm editor;
  editor.SetUser(&t.user);
  editor.Show(true);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(editor.saved);
  EXPECT_EQ(editor.Get<TextBox>("FullName").Text(), "Dan Diaz");

  // Once only: the next editor gets no action and is cancelled.
  EditorForm second;
  second.SetUser(&t.user);
  second.Show(true);
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(second.saved);
}

TEST(TerminalFormActions, AFailingActionClosesTheFormWithoutChanges) {
  Terminal t(false, {"Save and Close"});
  t.user.ActOnNextForm("ContactEditor", [](Form& f) {
    f.Get<TextBox>("FullName").SetText("Half done");
    throw std::runtime_error("no field Birthday");
  });
  EditorForm editor;
  editor.SetUser(&t.user);
  editor.Show(true);
  EXPECT_FALSE(editor.saved);
  EXPECT_EQ(t.user.AnswersLeft(), 1u);  // the answer was not used on the failed form
  EXPECT_THAT(t.out.str(), HasSubstr("Could not fill in form ContactEditor: no field Birthday"));
  EXPECT_THAT(t.out.str(), HasSubstr("Clicked \"Cancel\""));
}

}  // namespace
}  // namespace platform

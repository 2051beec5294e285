// The person at a terminal: progress drawn in place when the output is a
// terminal, form commands as prepared answers, and the program acting on a
// form it opened itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

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
  Terminal t(false, {"check Check 1", "Yes", "/tmp/later.pst"});
  ConfirmForm confirm;
  confirm.SetUser(&t.user);
  confirm.Show(true);
  EXPECT_EQ(confirm.answer, "Yes");
  EXPECT_TRUE(confirm.checked);
  EXPECT_EQ(t.user.AnswersLeft(), 1u);
  EXPECT_THAT(t.out.str(), HasSubstr("Prepared answer \"check Check 1\"\nSet Check to 1\nClicked \"Yes\""));

  FileDialogRequest request;
  request.mode = FileDialogMode::Save;
  EXPECT_EQ(t.user.FileDialog(request).fileName, "/tmp/later.pst");
}

// The question a prepared answer does not fit gets no answer at all: no
// button is pressed (not even the one that changes nothing), the program's
// stop handler hears why, and the question throws.
TEST(TerminalUnfitAnswers, LeaveTheQuestionWithoutAnAnswer) {
  // Each asker returns what the person decided; it must never return.
  using Asker = std::function<std::string(TerminalUser&)>;
  const Asker yesNoBox = [](TerminalUser& u) {
    return std::string(MsgBoxResultCaption(u.MessageBox("Download it now?", "", MsgBoxButtons::YesNo)));
  };
  const Asker okBox = [](TerminalUser& u) { return std::string(MsgBoxResultCaption(u.MessageBox("Repair done"))); };
  const Asker question = [](TerminalUser& u) {
    Form form("Klausimas", "Plexisync");
    form.Add<Label>("Praneshimas", "There are changes for the Dan Diaz contact. Replace it?");
    std::string pressed;
    int number = 0;
    for (const char* caption : {"Yes", "Yes to All", "No", "No to All"}) {
      form.Add<Button>("Command" + std::to_string(++number), caption).onClick = [&pressed, &form, caption] {
        pressed = caption;
        form.Hide();
      };
    }
    form.SetUser(&u);
    try {
      form.Show(true);
    } catch (const UnfitAnswerError&) {
      EXPECT_EQ(pressed, "") << "a button was pressed";
      throw;
    }
    return pressed;
  };
  const auto confirm = [](bool yesEnabled) {
    return Asker([yesEnabled](TerminalUser& u) {
      ConfirmForm form;
      form.Get<Button>("Command1").SetEnabled(yesEnabled);
      form.SetUser(&u);
      try {
        form.Show(true);
      } catch (const UnfitAnswerError&) {
        EXPECT_EQ(form.answer, "") << "a button was pressed";
        throw;
      }
      return form.answer;
    });
  };
  const Asker fileDialog = [](TerminalUser& u) {
    FileDialogRequest request;
    request.title = "Plexisync - Select a file to import";
    return u.FileDialog(request).fileName;
  };

  const std::string window = "the window \"Plexisync - Confirmation\"";
  const struct Case {
    std::vector<std::string> answers;
    Asker ask;
    std::string message;
  } cases[] = {
      {{"Yess"}, yesNoBox, "the answer \"Yess\" names no button of the question (Yes, No)"},
      {{"Yes"}, okBox, "the answer \"Yes\" names no button of the question (OK)"},
      {{"Yess"}, question, "the answer \"Yess\" names no button of the question (Yes, Yes to All, No, No to All)"},
      {{"OK", "Yes"}, question, "the answer \"OK\" names no button of the question (Yes, Yes to All, No, No to All)"},
      {{"Maybe"}, confirm(true), "the answer \"Maybe\" names no button or control of " + window + " (Yes, No)"},
      {{"check Missing 1"}, confirm(true),
       "the answer \"check Missing 1\" names no button or control of " + window + " (Yes, No)"},
      {{"check Check 2"}, confirm(true),
       "the answer \"check Check 2\" cannot be done on " + window + ": use: check NAME 0|1 on a check box"},
      // A command that fits, then a caption that does not: nothing is decided.
      {{"check Check 1", "Yess"}, confirm(true),
       "the answer \"Yess\" names no button or control of " + window + " (Yes, No)"},
      {{"Yes"}, confirm(false), "the answer \"Yes\" names a button of " + window + " that is not available (No)"},
      {{"No"}, fileDialog,
       "the answer \"No\" names no file for the file dialog \"Plexisync - Select a file to import\" "
       "(a file name, or Cancel)"},
      {{"check Check 1"}, fileDialog,
       "the answer \"check Check 1\" names no file for the file dialog \"Plexisync - Select a file to import\" "
       "(a file name, or Cancel)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Terminal t(false, c.answers);
    std::vector<std::string> heard;
    t.user.OnUnfitAnswer([&heard](const std::string& why) { heard.push_back(why); });
    try {
      const std::string decided = c.ask(t.user);
      ADD_FAILURE() << "the question was answered: " << decided;
    } catch (const UnfitAnswerError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_EQ(heard, std::vector<std::string>{c.message});
    EXPECT_THAT(t.out.str(), HasSubstr("Prepared answer does not fit: " + c.message));
    EXPECT_THAT(t.out.str(), Not(HasSubstr("taking")));
  }

  // Without a stop handler the question throws all the same.
  Terminal t(false, {"Yess"});
  EXPECT_THROW(yesNoBox(t.user), UnfitAnswerError);
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

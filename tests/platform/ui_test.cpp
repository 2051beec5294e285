#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"
#include "platform/ui/user.hpp"
#include "support/scripted_user.hpp"

namespace platform {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A form that shows progress: its text and bar are what the person sees.
class ProgressForm : public Form {
 public:
  ProgressForm() : Form("Progress", "Plexisync"), message_(Add<Label>("Message")), bar_(Add<ProgressBar>("TheBar")) {}
  Label& Message() { return message_; }
  ProgressBar& TheBar() { return bar_; }
  std::optional<ProgressView> AsProgressView() const override { return ProgressView{&message_, &bar_}; }

 private:
  Label& message_;
  ProgressBar& bar_;
};

// A small settings window: a check box, a combo box and OK / Cancel.
class SettingsForm : public Form {
 public:
  SettingsForm() : Form("Settings", "Plexisync - Settings") {
    auto& exportBox = Add<CheckBox>("Export", "Export contacts");
    auto& kiek = Add<ComboBox>("Kiek");
    for (const char* item : {"200", "500", "1000"}) {
      kiek.AddItem(item);
    }
    auto& accept = Add<Button>("Accept", "OK");
    accept.SetDefault(true);
    auto& cancel = Add<Button>("Cancel", "Cancel");
    exportBox.onClick = [this] { Get<ComboBox>("Kiek").SetEnabled(Get<CheckBox>("Export").Checked()); };
    accept.onClick = [this] {
      ++accepted;
      Hide();
    };
    cancel.onClick = [this] {
      ++cancelled;
      Hide();
    };
  }

  int loads = 0;
  int terminates = 0;
  int accepted = 0;
  int cancelled = 0;

 protected:
  void OnLoad() override { ++loads; }
  void OnTerminate() override { ++terminates; }
};

// A four-answer question form: each button stores its number and hides.
class QuestionForm : public Form {
 public:
  QuestionForm() : Form("Klausimas", "Plexisync") {
    Add<Label>("Praneshimas", "Do you want to delete this contact?");
    const char* captions[] = {"Yes", "Yes to All", "No", "No to All"};
    for (int i = 0; i < 4; ++i) {
      auto& b = Add<Button>("Command" + std::to_string(i + 1), captions[i]);
      b.onClick = [this, i] {
        answer = i + 1;
        Hide();
      };
    }
  }
  int answer = 0;
};

bool TranscriptHas(const UserInterface& ui, const std::string& part) {
  const auto& t = ui.Transcript();
  return std::any_of(t.begin(), t.end(),
                     [&](const std::string& e) { return e.find(part) != std::string::npos; });
}

// --- controls ----------------------------------------------------------------

TEST(Controls, CheckBoxClickFiresOnEveryChangeOfValue) {
  Form form("F", "F");
  auto& box = form.Add<CheckBox>("Box", "Tick me");
  int clicks = 0;
  box.onClick = [&] { ++clicks; };
  box.SetValue(1);  // by code
  box.SetValue(1);  // no change, no event
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(box.Click());  // by the person: toggles
  EXPECT_EQ(box.Value(), 0);
  EXPECT_EQ(clicks, 2);
  box.SetEnabled(false);
  EXPECT_FALSE(box.Click());
  EXPECT_EQ(box.Value(), 0);
  EXPECT_EQ(clicks, 2);
  EXPECT_THROW(box.SetValue(2), std::invalid_argument);
}

TEST(Controls, ComboBoxSelectionTextAndEvents) {
  Form form("F", "F");
  auto& combo = form.Add<ComboBox>("Combo");
  int clicks = 0, changes = 0, drops = 0;
  combo.onClick = [&] { ++clicks; };
  combo.onChange = [&] { ++changes; };
  combo.onDropDown = [&] { ++drops; };
  combo.AddItem("200");
  combo.AddItem("500");
  EXPECT_EQ(combo.ListIndex(), -1);
  EXPECT_EQ(combo.NewIndex(), 1);

  combo.SetListIndex(1);
  EXPECT_EQ(combo.Text(), "500");
  EXPECT_EQ(clicks, 1);
  combo.SetListIndex(1);
  EXPECT_EQ(clicks, 1);

  combo.SetText("200");  // matches an item: selects it without a click
  EXPECT_EQ(combo.ListIndex(), 0);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(clicks, 1);
  combo.SetText("free text");
  EXPECT_EQ(combo.ListIndex(), -1);

  EXPECT_TRUE(combo.DropDown());
  EXPECT_EQ(drops, 1);
  EXPECT_THROW(combo.SetListIndex(2), std::out_of_range);
  EXPECT_THROW(combo.SetListIndex(-2), std::out_of_range);

  combo.Clear();
  EXPECT_EQ(combo.ListCount(), 0);
  EXPECT_EQ(combo.Text(), "");
  EXPECT_EQ(combo.ListIndex(), -1);
}

TEST(Controls, SortedListsPlaceItemsAndReportNewIndex) {
  Form form("F", "F");
  auto& list = form.Add<ListBox>("List");
  list.SetSorted(true);
  list.AddItem("Work");
  list.AddItem("contacts");
  list.AddItem("Family");
  EXPECT_THAT(list.Items(), ElementsAre("contacts", "Family", "Work"));
  EXPECT_EQ(list.NewIndex(), 1);
}

TEST(Controls, ListSelectionFollowsRemovals) {
  Form form("F", "F");
  auto& list = form.Add<ListBox>("List");
  for (const char* s : {"a", "b", "c", "d"}) {
    list.AddItem(s);
  }
  list.SetListIndex(2);  // "c"
  list.RemoveItem(0);
  EXPECT_EQ(list.ListIndex(), 1);
  EXPECT_EQ(list.Text(), "c");
  list.AddItem("first", 0);
  EXPECT_EQ(list.Text(), "c");
  list.RemoveItem(list.ListIndex());
  EXPECT_EQ(list.ListIndex(), -1);
  EXPECT_EQ(list.Text(), "");
  EXPECT_THROW(list.RemoveItem(5), std::out_of_range);
  EXPECT_THROW(list.AddItem("x", 9), std::out_of_range);
  EXPECT_THROW(list.List(3), std::out_of_range);
}

TEST(Controls, ListViewEntriesSelectionAndSearch) {
  Form form("F", "F");
  auto& view = form.Add<ListView>("SarIsh");
  view.AddColumn("Full Name");
  view.AddColumn("Last Update On");
  for (const char* name : {"Anna Berg", "Anders Lund", "Bob Stone", "anna berg"}) {
    ListItem& item = view.Add(name);
    item.tag = std::string("id-") + name;
    item.toolTip = "mail";
  }
  view.Item(1).SetSubItem(1, "6/1/2026");
  EXPECT_EQ(view.Item(1).SubItem(1), "6/1/2026");
  EXPECT_EQ(view.Item(0).SubItem(1), "");
  EXPECT_THROW(view.Item(0).SubItem(0), std::out_of_range);

  struct Case {
    const char* text;
    bool partial;
    std::size_t start;
    int found;
  };
  const Case cases[] = {
      {"anna berg", false, 0, 0}, {"Anna", false, 0, -1}, {"Anna", true, 0, 0},
      {"an", true, 1, 1},         {"anna berg", false, 1, 3}, {"Zed", true, 0, -1},
      {"", true, 0, 0},           {"Bob", true, 9, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(view.FindItem(c.text, c.partial, c.start), c.found) << c.text << " from " << c.start;
  }

  EXPECT_EQ(view.SelectedIndex(), -1);
  EXPECT_EQ(view.SelectedItem(), nullptr);
  int itemClicks = 0;
  view.onItemClick = [&] { ++itemClicks; };
  view.Select(2);
  EXPECT_EQ(itemClicks, 0);  // selecting from code raises no event
  EXPECT_TRUE(view.ClickItem(1));
  EXPECT_EQ(itemClicks, 1);
  EXPECT_EQ(view.SelectedIndex(), 1);
  EXPECT_FALSE(view.Item(2).selected);
  EXPECT_EQ(view.SelectedItem()->tag, "id-Anders Lund");
  view.EnsureVisible(1);

  view.Remove(1);
  EXPECT_EQ(view.SelectedIndex(), -1);
  EXPECT_EQ(view.Count(), 3u);
  EXPECT_THROW(view.Remove(3), std::out_of_range);
  view.Clear();
  EXPECT_EQ(view.Count(), 0u);
  EXPECT_EQ(view.ColumnHeaders().size(), 2u);
}

TEST(Controls, ButtonClickNeedsEnabledVisibleButton) {
  Form form("F", "F");
  auto& b = form.Add<Button>("Go", "Update");
  int clicks = 0;
  b.onClick = [&] { ++clicks; };
  EXPECT_TRUE(b.Click());
  b.SetEnabled(false);
  EXPECT_FALSE(b.Click());
  b.SetEnabled(true);
  b.SetVisible(false);
  EXPECT_FALSE(b.Click());
  EXPECT_EQ(clicks, 1);
}

TEST(Controls, ProgressBarRangeAndPercent) {
  Form form("F", "F");
  auto& bar = form.Add<ProgressBar>("Bar");
  bar.SetMax(8);
  bar.SetValue(2);
  EXPECT_EQ(bar.Percent(), 25);
  EXPECT_THROW(bar.SetValue(9), std::out_of_range);
  EXPECT_THROW(bar.SetValue(-1), std::out_of_range);
  bar.SetMax(1);  // the value follows the smaller range
  EXPECT_EQ(bar.Value(), 1);
  bar.SetMax(0);
  EXPECT_EQ(bar.Value(), 0);
  EXPECT_EQ(bar.Percent(), 0);
}

TEST(Controls, TextBoxChangeAndFocus) {
  Form form("F", "F");
  auto& box = form.Add<TextBox>("FindBox");
  auto& other = form.Add<TextBox>("NewMail");
  int changes = 0;
  box.onChange = [&] { ++changes; };
  box.SetText("An");
  box.SetText("An");
  EXPECT_EQ(changes, 1);
  box.SetFocus();
  EXPECT_TRUE(box.HasFocus());
  other.SetFocus();
  EXPECT_FALSE(box.HasFocus());
  EXPECT_EQ(form.FocusedControl(), &other);
}

// --- forms -------------------------------------------------------------------

TEST(Forms, LookupByNameIsTypedAndCaseInsensitive) {
  SettingsForm form;
  EXPECT_EQ(&form.Get<Button>("accept"), form.Find("Accept"));
  EXPECT_THROW(form.Get<CheckBox>("Accept"), std::logic_error);
  EXPECT_THROW(form.Get("Missing"), std::out_of_range);
  EXPECT_EQ(form.Find<CheckBox>("Accept"), nullptr);
  EXPECT_THROW(form.Add<Label>("EXPORT"), std::invalid_argument);
  const auto controls = form.Controls();
  ASSERT_EQ(controls.size(), 4u);
  EXPECT_EQ(controls[0]->Name(), "Export");
  EXPECT_EQ(controls[3]->Name(), "Cancel");
  EXPECT_EQ(form.DefaultButton(), &form.Get<Button>("Accept"));
}

TEST(Forms, LoadsOnceAndUnloadRunsTerminate) {
  ScriptedUser user;
  SettingsForm form;
  form.SetUser(&user);
  EXPECT_FALSE(form.IsLoaded());
  form.Load();
  form.Load();
  form.Show();
  EXPECT_EQ(form.loads, 1);
  EXPECT_TRUE(form.IsVisible());
  EXPECT_TRUE(TranscriptHas(user, "Shown: Form Settings"));

  form.Hide();
  EXPECT_FALSE(form.IsVisible());
  EXPECT_TRUE(form.IsLoaded());

  form.Show();
  form.Unload();
  EXPECT_EQ(form.terminates, 1);
  EXPECT_FALSE(form.IsLoaded());
  EXPECT_FALSE(form.IsVisible());
  form.Unload();
  EXPECT_EQ(form.terminates, 1);

  form.Show();  // loads again
  EXPECT_EQ(form.loads, 2);
  EXPECT_TRUE(user.AllExpectationsMet()) << user.Problems();
}

TEST(Forms, ModalShowRunsScriptedActions) {
  ScriptedUser user;
  SettingsForm form;
  form.SetUser(&user);
  user.ExpectForm("settings", [](Form& f) {
    EXPECT_TRUE(f.IsModal());
    f.Get<CheckBox>("Export").Click();
    f.Get<Button>("Accept").Click();
  });
  form.Show(true);
  EXPECT_FALSE(form.IsVisible());
  EXPECT_FALSE(form.IsModal());
  EXPECT_EQ(form.accepted, 1);
  EXPECT_EQ(form.cancelled, 0);
  EXPECT_TRUE(form.Get<CheckBox>("Export").Checked());
  EXPECT_TRUE(form.Get<ComboBox>("Kiek").Enabled());
  EXPECT_TRUE(user.AllExpectationsMet()) << user.Problems();
  EXPECT_TRUE(TranscriptHas(user, "Shown modally: Form Settings"));
}

TEST(Forms, ScriptedUserPressesCancelWhenActionsLeaveTheFormOpen) {
  ScriptedUser user;
  SettingsForm form;
  form.SetUser(&user);
  user.ExpectForm("Settings", [](Form& f) { f.Get<CheckBox>("Export").SetValue(1); });
  form.Show(true);
  EXPECT_EQ(form.cancelled, 1);
  EXPECT_FALSE(form.IsVisible());
  EXPECT_TRUE(user.AllExpectationsMet()) << user.Problems();
}

TEST(Forms, UnloadDuringModalShowEndsIt) {
  ScriptedUser user;
  SettingsForm form;
  form.SetUser(&user);
  user.ExpectForm("Settings", [](Form& f) { f.Unload(); });
  form.Show(true);
  EXPECT_FALSE(form.IsLoaded());
  EXPECT_EQ(form.terminates, 1);
  EXPECT_EQ(form.cancelled, 0);
}

TEST(Forms, NestedModalFormsFollowTheScript) {
  ScriptedUser user;
  SettingsForm outer;
  QuestionForm inner;
  outer.SetUser(&user);
  inner.SetUser(&user);
  outer.Get<Button>("Accept").onClick = [&] {
    inner.Show(true);
    outer.Hide();
  };
  user.ExpectForm("Settings", [](Form& f) { f.Get<Button>("Accept").Click(); })
      .ExpectForm("Klausimas", [](Form& f) { f.FindButton("No to All")->Click(); });
  outer.Show(true);
  EXPECT_EQ(inner.answer, 4);
  EXPECT_FALSE(outer.IsVisible());
  EXPECT_TRUE(user.AllExpectationsMet()) << user.Problems();
}

TEST(Forms, ModalShowErrors) {
  SettingsForm form;
  EXPECT_THROW(form.Show(true), std::logic_error);  // no user interface
  ScriptedUser user;
  form.SetUser(&user);
  form.Show();
  EXPECT_THROW(form.Show(true), std::logic_error);  // already displayed
}

TEST(Forms, DefaultUserServesFormsWithoutTheirOwn) {
  {
    ScriptedUser user;
    SetDefaultUser(&user);
    SettingsForm form;
    user.ExpectForm("Settings", [](Form& f) { f.Get<Button>("Accept").Click(); });
    form.Show(true);
    EXPECT_EQ(form.accepted, 1);
    EXPECT_EQ(form.User(), &user);
  }
  EXPECT_EQ(DefaultUser(), nullptr);  // a destroyed user is no longer the default
}

TEST(Forms, CancelButtonChoice) {
  struct Case {
    std::vector<std::string> captions;
    int cancelFlagOn;  // index of the button with the cancel flag, -1 none
    int expected;      // index of the cancel button, -1 none
  };
  const Case cases[] = {
      {{"OK", "Cancel"}, -1, 1},
      {{"Yes", "Yes to All", "No", "No to All"}, -1, 2},
      {{"Yes", "No to All"}, -1, 1},
      {{"OK", "Close"}, 1, 1},
      {{"OK"}, 0, 0},  // one button both default and cancel
      {{"OK", "Apply"}, -1, -1},
      {{"&Cancel", "OK"}, -1, 0},
  };
  for (const auto& c : cases) {
    Form form("F", "F");
    std::vector<Button*> buttons;
    for (std::size_t i = 0; i < c.captions.size(); ++i) {
      buttons.push_back(&form.Add<Button>("B" + std::to_string(i), c.captions[i]));
    }
    if (c.cancelFlagOn >= 0) {
      buttons[static_cast<std::size_t>(c.cancelFlagOn)]->SetCancel(true);
    }
    Button* expected = c.expected >= 0 ? buttons[static_cast<std::size_t>(c.expected)] : nullptr;
    EXPECT_EQ(form.CancelButton(), expected) << c.captions[0];
  }
}

TEST(Forms, PlainCaptionDropsAccessKeys) {
  EXPECT_EQ(PlainCaption("&System Info..."), "System Info...");
  EXPECT_EQ(PlainCaption("Save && Send"), "Save & Send");
  EXPECT_EQ(PlainCaption("<< "), "<< ");
  EXPECT_EQ(PlainCaption("trailing&"), "trailing");
  Form form("F", "F");
  auto& send = form.Add<Button>("OK", "Save && Send");
  EXPECT_EQ(form.FindButton("save & send"), &send);
  EXPECT_EQ(form.FindButton("OK"), &send);  // by name
  EXPECT_EQ(form.FindButton("Cancel"), nullptr);
}

TEST(Forms, VisibleFormsReportControlChanges) {
  // A hidden form reports nothing; a visible one reports each visible change.
  ScriptedUser user;
  ProgressForm progress;
  progress.SetUser(&user);
  progress.Message().SetCaption("Working");
  progress.TheBar().SetMax(2);
  EXPECT_TRUE(user.Transcript().empty());
  progress.Show();
  progress.TheBar().SetValue(1);
  progress.Hide();
  progress.TheBar().SetValue(2);
  EXPECT_THAT(user.Transcript(), ElementsAre("Working 0%", "Working 50%", "Hidden: Form Progress"));
}

// --- progress ----------------------------------------------------------------

TEST(Progress, PrintsOnLabelChangesAndEveryTenPercent) {
  ScriptedUser user;
  ProgressForm progress;
  progress.SetUser(&user);
  progress.TheBar().SetValue(0);
  progress.TheBar().SetMax(1000);
  progress.Message().SetCaption("Updating database...");
  progress.Show();
  for (int i = 1; i <= 1000; ++i) {
    progress.TheBar().SetValue(i);
  }
  progress.Message().SetCaption("Importing contacts");
  progress.Hide();
  const auto& t = user.Transcript();
  ASSERT_EQ(t.size(), 13u);
  EXPECT_EQ(t[0], "Updating database... 0%");
  EXPECT_EQ(t[4], "Updating database... 40%");
  EXPECT_EQ(t[10], "Updating database... 100%");
  EXPECT_EQ(t[11], "Importing contacts 100%");
  EXPECT_EQ(t[12], "Hidden: Form Progress");
}

TEST(Progress, HiddenBarShowsTheMessageAlone) {
  ScriptedUser user;
  ProgressForm progress;
  progress.SetUser(&user);
  progress.TheBar().SetVisible(false);
  progress.Message().SetCaption("             Downloading the update, please be patient...");
  progress.Show();
  progress.Hide();
  progress.TheBar().SetVisible(true);
  EXPECT_THAT(user.Transcript(), ElementsAre("Downloading the update, please be patient...",
                                             "Hidden: Form Progress"));
}

// --- scripted user -------------------------------------------------------------

TEST(ScriptedUser, AnswersExpectedMessagesInOrder) {
  ScriptedUser user;
  user.ExpectMessage("New version", MsgBoxResult::Yes).ExpectMessage("Download completed");
  EXPECT_EQ(user.MessageBox("New version of Plexisync is available!\r\n\r\nDownload it now?", "",
                            MsgBoxButtons::YesNo, MsgBoxIcon::Information),
            MsgBoxResult::Yes);
  EXPECT_EQ(user.MessageBox("Download completed!", "Plexisync", MsgBoxButtons::Ok,
                            MsgBoxIcon::Exclamation),
            MsgBoxResult::Ok);
  EXPECT_TRUE(user.AllExpectationsMet()) << user.Problems();
  EXPECT_EQ(user.Problems(), "");
  EXPECT_EQ(user.Transcript()[0],
            "Message \"Plexisync\" (information) [Yes / No]:\n"
            "  New version of Plexisync is available!\n  \n  Download it now?");
  EXPECT_EQ(user.Transcript()[1], "Answer: Yes");
}

TEST(ScriptedUser, ReportsAnExpectedQuestionThatNeverCame) {
  ScriptedUser user;
  user.ExpectMessage("Update successful!").ExpectForm("MainForm").ExpectFileDialogCancel();
  EXPECT_FALSE(user.AllExpectationsMet());
  EXPECT_EQ(user.PendingCount(), 3u);
  const std::string problems = user.Problems();
  EXPECT_THAT(problems, HasSubstr("message containing \"Update successful!\" (answer OK) never came"));
  EXPECT_THAT(problems, HasSubstr("form MainForm never came"));
  EXPECT_THAT(problems, HasSubstr("file dialog (cancel) never came"));
  EXPECT_EQ(user.Verify().size(), 3u);
}

TEST(ScriptedUser, UnexpectedQuestionsGetTheAnswerThatChangesNothing) {
  struct Case {
    MsgBoxButtons buttons;
    MsgBoxResult expected;
  };
  const Case cases[] = {
      {MsgBoxButtons::Ok, MsgBoxResult::Ok},
      {MsgBoxButtons::OkCancel, MsgBoxResult::Cancel},
      {MsgBoxButtons::YesNo, MsgBoxResult::No},
      {MsgBoxButtons::YesNoCancel, MsgBoxResult::Cancel},
  };
  for (const auto& c : cases) {
    ScriptedUser user;
    EXPECT_EQ(user.MessageBox("Delete everything?", "", c.buttons), c.expected);
    ASSERT_EQ(user.Failures().size(), 1u);
    EXPECT_THAT(user.Failures()[0], HasSubstr("unexpected message \"Delete everything?\""));
    EXPECT_FALSE(user.AllExpectationsMet());
  }
}

TEST(ScriptedUser, OutOfOrderQuestionFailsAndKeepsTheExpectation) {
  ScriptedUser user;
  user.ExpectMessage("first", MsgBoxResult::Yes);
  EXPECT_EQ(user.MessageBox("second", "", MsgBoxButtons::YesNo), MsgBoxResult::No);
  EXPECT_THAT(user.Failures()[0], HasSubstr("expected message containing \"first\""));
  EXPECT_EQ(user.MessageBox("first", "", MsgBoxButtons::YesNo), MsgBoxResult::Yes);
  EXPECT_EQ(user.PendingCount(), 0u);
  EXPECT_EQ(user.Verify().size(), 1u);
}

TEST(ScriptedUser, ScriptedAnswerThatTheBoxDoesNotOfferFails) {
  ScriptedUser user;
  user.ExpectMessage("Export cancelled", MsgBoxResult::Yes);
  EXPECT_EQ(user.MessageBox("Export cancelled"), MsgBoxResult::Ok);
  EXPECT_THAT(user.Problems(), HasSubstr("scripted answer Yes is not offered"));
}

TEST(ScriptedUser, UnexpectedFormIsCancelledAndUnexpectedDialogCancelled) {
  ScriptedUser user;
  QuestionForm question;
  question.SetUser(&user);
  question.Show(true);
  EXPECT_EQ(question.answer, 3);  // "No"
  EXPECT_THAT(user.Problems(), HasSubstr("unexpected form Klausimas"));

  FileDialogRequest request;
  request.title = "Plexisync - Select a file to import";
  EXPECT_TRUE(user.FileDialog(request).cancelled);
  EXPECT_THAT(user.Problems(), HasSubstr("unexpected file dialog \"Plexisync - Select a file to import\""));
}

TEST(ScriptedUser, FileDialogAppliesTheDefaultExtension) {
  ScriptedUser user;
  user.ExpectFileDialog("/home/me/export").ExpectFileDialog("relative.txt").ExpectFileDialogCancel();
  FileDialogRequest request;
  request.mode = FileDialogMode::Save;
  request.title = "Plexisync - Exporting folder Team, enter a file name";
  request.initialDir = "/opt/plexisync/";
  request.filter = "Personal Folders Files  (*.pst)|*.pst";
  request.defaultExt = ".pst";
  request.flags = 4;
  const auto first = user.FileDialog(request);
  EXPECT_FALSE(first.cancelled);
  EXPECT_EQ(first.fileName, "/home/me/export.pst");
  EXPECT_EQ(first.fileTitle, "export.pst");
  const auto second = user.FileDialog(request);
  EXPECT_EQ(second.fileName, "/opt/plexisync/relative.txt");
  const auto third = user.FileDialog(request);
  EXPECT_TRUE(third.cancelled);
  EXPECT_EQ(third.fileTitle, "");
  EXPECT_TRUE(user.AllExpectationsMet()) << user.Problems();
  EXPECT_TRUE(TranscriptHas(user, "Save file dialog \"Plexisync - Exporting folder Team"));
  EXPECT_TRUE(TranscriptHas(user, "Chosen file: /home/me/export.pst"));
  EXPECT_TRUE(TranscriptHas(user, "File dialog cancelled"));
}

TEST(FileChoice, DefaultExtensionAndFileTitle) {
  struct Case {
    std::optional<std::string> chosen;
    std::string initialDir;
    std::string defaultExt;
    bool cancelled;
    std::string fileName;
    std::string fileTitle;
  };
  const Case cases[] = {
      {"/a/b/export", "", ".pst", false, "/a/b/export.pst", "export.pst"},
      {"/a/b/export", "", "pst", false, "/a/b/export.pst", "export.pst"},
      {"/a/b/export.txt", "", ".pst", false, "/a/b/export.txt", "export.txt"},
      {"/a/b/export.PST", "", ".pst", false, "/a/b/export.PST", "export.PST"},
      {"/a/b/name.", "", ".pst", false, "/a/b/name.pst", "name.pst"},
      {"/a.b/file", "", ".pst", false, "/a.b/file.pst", "file.pst"},
      {"export", "/inst/", ".pst", false, "/inst/export.pst", "export.pst"},
      {"export", "/inst", ".pst", false, "/inst/export.pst", "export.pst"},
      {"export", "", ".pst", false, "export.pst", "export.pst"},
      {"C:\\data\\x", "/inst/", ".pst", false, "C:\\data\\x.pst", "x.pst"},
      {"/a/x", "", "", false, "/a/x", "x"},
      {"", "/inst/", ".pst", true, "", ""},
      {std::nullopt, "/inst/", ".pst", true, "", ""},
      {"/a/b/", "", ".pst", true, "", ""},
  };
  for (const auto& c : cases) {
    FileDialogRequest request;
    request.initialDir = c.initialDir;
    request.defaultExt = c.defaultExt;
    const auto r = CompleteFileChoice(request, c.chosen);
    const std::string label = c.chosen.value_or("(none)");
    EXPECT_EQ(r.cancelled, c.cancelled) << label;
    EXPECT_EQ(r.fileName, c.fileName) << label;
    EXPECT_EQ(r.fileTitle, c.fileTitle) << label;
  }
}

TEST(MessageAnswers, CaptionsAndParsing) {
  EXPECT_EQ(ParseMsgBoxResult(" yes ", MsgBoxButtons::YesNo), MsgBoxResult::Yes);
  EXPECT_EQ(ParseMsgBoxResult("OK", MsgBoxButtons::YesNo), std::nullopt);
  EXPECT_EQ(ParseMsgBoxResult("cancel", MsgBoxButtons::YesNoCancel), MsgBoxResult::Cancel);
  EXPECT_EQ(ParseMsgBoxResult("No to All", MsgBoxButtons::YesNo), std::nullopt);
  EXPECT_THAT(AllowedResults(MsgBoxButtons::OkCancel), ElementsAre(MsgBoxResult::Ok, MsgBoxResult::Cancel));
  EXPECT_STREQ(MsgBoxResultCaption(MsgBoxResult::Ok), "OK");
}

// --- terminal user -------------------------------------------------------------

struct Terminal {
  explicit Terminal(bool interactive, std::vector<std::string> answers = {}, std::string input = {})
      : in(std::move(input)), user(in, out, interactive, std::move(answers), "Plexisync", {"Yes to All", "No to All"}) {}
  std::istringstream in;
  std::ostringstream out;
  TerminalUser user;
};

TEST(TerminalUser, NonInteractiveTakesTheAnswerThatChangesNothing) {
  Terminal t(false, {}, "Yes\nYes\n");
  EXPECT_EQ(t.user.MessageBox("Do you want to delete this contact?", "", MsgBoxButtons::YesNo,
                              MsgBoxIcon::Question),
            MsgBoxResult::No);
  EXPECT_EQ(t.user.MessageBox("Export cancelled"), MsgBoxResult::Ok);
  EXPECT_EQ(t.user.MessageBox("Proceed?", "", MsgBoxButtons::OkCancel), MsgBoxResult::Cancel);
  FileDialogRequest request;
  request.title = "Plexisync - Select a file to import";
  EXPECT_TRUE(t.user.FileDialog(request).cancelled);

  const std::string out = t.out.str();
  EXPECT_THAT(out, HasSubstr("Message \"Plexisync\" (question) [Yes / No]:\n"
                             "  Do you want to delete this contact?\n"
                             "No answer given; taking No\nAnswer: No\n"));
  EXPECT_THAT(out, HasSubstr("No answer given; taking Cancel"));
  EXPECT_THAT(out, HasSubstr("No file chosen; cancelling the dialog"));
  // Nothing was read from the terminal.
  std::string rest;
  std::getline(t.in, rest);
  EXPECT_EQ(rest, "Yes");
}

TEST(TerminalUser, PreparedAnswersAreTakenInOrder) {
  Terminal t(false, {"ok", "Yes", "/tmp/x/export", "Cancel", "No"});
  EXPECT_EQ(t.user.MessageBox("Repair done"), MsgBoxResult::Ok);
  EXPECT_EQ(t.user.MessageBox("Download it now?", "", MsgBoxButtons::YesNo), MsgBoxResult::Yes);

  FileDialogRequest request;
  request.mode = FileDialogMode::Save;
  request.defaultExt = ".pst";
  const auto chosen = t.user.FileDialog(request);
  EXPECT_EQ(chosen.fileName, "/tmp/x/export.pst");
  EXPECT_TRUE(t.user.FileDialog(request).cancelled);
  EXPECT_EQ(t.user.AnswersLeft(), 1u);
  EXPECT_EQ(t.user.MessageBox("Sure?", "", MsgBoxButtons::YesNo), MsgBoxResult::No);
  EXPECT_EQ(t.user.AnswersLeft(), 0u);

  const std::string out = t.out.str();
  EXPECT_THAT(out, HasSubstr("Prepared answer \"ok\"\nAnswer: OK\n"));
  EXPECT_THAT(out, HasSubstr("Chosen file: /tmp/x/export.pst"));
  EXPECT_EQ(t.user.Transcript().back(), "Answer: No");
}

TEST(TerminalUser, TheProgramsOwnFormCaptionsAreNeverTakenForFileNames) {
  // The program names the captions of its question forms; such an answer
  // at a file dialog is a mistake, never a file called "No to All".
  FileDialogRequest request;
  request.mode = FileDialogMode::Open;
  Terminal known(false, {"No to All"});
  EXPECT_THROW(known.user.FileDialog(request), UnfitAnswerError);
  EXPECT_EQ(known.user.AnswersLeft(), 1u);

  std::istringstream in;
  std::ostringstream out;
  TerminalUser plain(in, out, false, {"No to All"}, "Mail");
  EXPECT_EQ(plain.FileDialog(request).fileTitle, "No to All");
}

TEST(TerminalUser, ModalFormTakesAPreparedButtonCaption) {
  Terminal t(false, {"No to All"});
  QuestionForm question;
  question.SetUser(&t.user);
  question.Show(true);
  EXPECT_EQ(question.answer, 4);
  const std::string out = t.out.str();
  EXPECT_THAT(out, HasSubstr("Shown modally: Form Klausimas \"Plexisync\"\n"
                             "  Label Praneshimas \"Do you want to delete this contact?\"\n"
                             "  Button Command1 \"Yes\""));
  EXPECT_THAT(out, HasSubstr("Clicked \"No to All\""));
}

TEST(TerminalUser, ModalFormWithoutAnswerIsCancelled) {
  Terminal t(false);
  SettingsForm form;
  form.SetUser(&t.user);
  form.Show(true);
  EXPECT_EQ(form.cancelled, 1);
  EXPECT_EQ(form.accepted, 0);
  const std::string out = t.out.str();
  EXPECT_THAT(out, HasSubstr("No answer given for form Settings; closing it without changes"));
  EXPECT_THAT(out, HasSubstr("Clicked \"Cancel\""));
}

TEST(TerminalUser, PreparedAnswersMatchCaptionsNotNames) {
  Terminal t(false, {"OK"});
  Form form("Share", "Plexisync");
  int sent = 0, cancelled = 0;
  form.Add<Button>("OK", "Save && Send").onClick = [&] { ++sent; };
  form.Add<Button>("Cancel", "Cancel").onClick = [&] { ++cancelled; };
  form.SetUser(&t.user);
  // "OK" is the name of a button, not a caption: no answer, nothing pressed.
  EXPECT_THROW(form.Show(true), UnfitAnswerError);
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(cancelled, 0);
  EXPECT_FALSE(form.IsVisible());
  EXPECT_EQ(t.user.AnswersLeft(), 1u);

  Terminal t2(false, {"save & send"});
  form.SetUser(&t2.user);
  form.Show(true);
  EXPECT_EQ(sent, 1);
  EXPECT_FALSE(form.IsVisible());  // the handler left it open; it was closed after
}

TEST(TerminalUser, ModalFormWithoutCancelButtonIsHidden) {
  Terminal t(false);
  Form form("Notice", "Plexisync");
  form.Add<Button>("Apply", "Apply");
  form.SetUser(&t.user);
  form.Show(true);
  EXPECT_FALSE(form.IsVisible());
  EXPECT_THAT(t.out.str(), HasSubstr("Closed form Notice"));
}

TEST(TerminalUser, InteractiveAnswersAreValidated) {
  Terminal t(true, {}, "maybe\nyes\n\n");
  EXPECT_EQ(t.user.MessageBox("Download it now?", "", MsgBoxButtons::YesNo), MsgBoxResult::Yes);
  EXPECT_EQ(t.user.MessageBox("Done"), MsgBoxResult::Ok);  // Enter confirms an OK-only box
  EXPECT_EQ(t.user.MessageBox("Again?", "", MsgBoxButtons::YesNo), MsgBoxResult::No);  // end of input
  const std::string out = t.out.str();
  EXPECT_THAT(out, HasSubstr("Please answer one of: Yes / No"));
  EXPECT_THAT(out, HasSubstr("No answer given; taking No"));
}

TEST(TerminalUser, InteractiveFileDialog) {
  Terminal t(true, {}, "/tmp/file\n\n");
  FileDialogRequest request;
  request.defaultExt = "pst";
  EXPECT_EQ(t.user.FileDialog(request).fileName, "/tmp/file.pst");
  EXPECT_TRUE(t.user.FileDialog(request).cancelled);  // empty line
  EXPECT_TRUE(t.user.FileDialog(request).cancelled);  // end of input
}

TEST(TerminalUser, InteractiveFormCommands) {
  Terminal t(true, {}, "show\ncheck Export 1\nselect Kiek 2\nfrobnicate\nclick OK\n");
  SettingsForm form;
  form.SetUser(&t.user);
  form.Show(true);
  EXPECT_EQ(form.accepted, 1);
  EXPECT_TRUE(form.Get<CheckBox>("Export").Checked());
  EXPECT_EQ(form.Get<ComboBox>("Kiek").Text(), "1000");
  const std::string out = t.out.str();
  EXPECT_THAT(out, HasSubstr("Settings> "));
  EXPECT_THAT(out, HasSubstr("CheckBox Export \"Export contacts\": [ ]"));
  EXPECT_THAT(out, HasSubstr("Not understood; type help for the commands"));
  EXPECT_THAT(out, HasSubstr("Set Export to 1"));
  EXPECT_THAT(out, HasSubstr("Clicked \"OK\""));
}

TEST(TerminalUser, InteractiveFormEndOfInputCancels) {
  Terminal t(true, {}, "set Missing x\n");
  SettingsForm form;
  form.SetUser(&t.user);
  form.Show(true);
  EXPECT_EQ(form.cancelled, 1);
  EXPECT_THAT(t.out.str(), HasSubstr("No control \"Missing\""));
}

TEST(TerminalUser, PrintsProgressAndModelessForms) {
  Terminal t(false);
  ProgressForm progress;
  progress.SetUser(&t.user);
  progress.Message().SetCaption("Exporting to a file...");
  progress.TheBar().SetMax(4);
  progress.Show();
  progress.TheBar().SetValue(1);
  progress.TheBar().SetValue(2);
  progress.Hide();
  EXPECT_EQ(t.out.str(),
            "Exporting to a file... 0%\nExporting to a file... 25%\nExporting to a file... 50%\n"
            "Hidden: Form Progress\n");
}

}  // namespace
}  // namespace platform

#include <gtest/gtest.h>

#include <cstring>

#include "addin_fixture.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/my_mails.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;
using testing::ProfileKeyPath;
using testing::StoredMyMails;

struct ControlSpec {
  const char* name;
  platform::ControlKind kind;
  const char* caption;
  const char* toolTip;
};

void ExpectControls(const platform::Form& form, const std::vector<ControlSpec>& expected) {
  const auto controls = form.Controls();
  ASSERT_EQ(controls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(controls[i]->Name(), expected[i].name);
    EXPECT_EQ(controls[i]->Kind(), expected[i].kind);
    EXPECT_EQ(controls[i]->Caption(), expected[i].caption);
    EXPECT_EQ(controls[i]->ToolTip(), expected[i].toolTip);
  }
}

class OptionsTest : public testing::AddinTest {
 protected:
  // A started add-in of a returning user, with its options window.
  AddinMachine& Started(const std::vector<std::pair<std::string, std::string>>& settings = {},
                        const std::string& name = "machine") {
    testing::MachineOptions options;
    options.name = name;
    auto& m = Machine(options);
    for (const auto& [k, v] : settings) m.Reg().SetValue(ProfileKeyPath(), k, v);
    m.StartReturning();
    return m;
  }
  static std::vector<std::string> StoredNames(AddinMachine& m) { return m.Reg().GetAllValueNames(ProfileKeyPath()); }
};

TEST_F(OptionsTest, TheOptionsWindowsControls) {
  auto& m = Machine();
  AdvSettings form(*m.ctx);
  EXPECT_EQ(form.Name(), "AdvSettings");
  EXPECT_EQ(form.Caption(), "Plexisync - Advanced Settings");
  using K = platform::ControlKind;
  ExpectControls(form, {
      {"SendUpdated", K::kCheckBox, "Send only updated items", ""},
      {"DontSendComments", K::kCheckBox, "Do not send my comments", ""},
      {"DontReceive", K::kCheckBox, "Do not receive any updates from other members", ""},
      {"AutoUpdate", K::kCheckBox, "Send contacts updates on send/receive", ""},
      {"Export", K::kCheckBox, "Export contacts to a file if there are more than",
       "Unchecking may cause some outgoing Emails to be VERY large"},
      {"Kiek", K::kComboBox, "", ""},
      {"Label1", K::kLabel, "to be sent", ""},
      {"GMT", K::kComboBox, "", ""},
      {"Label2", K::kLabel, "GMT difference", ""},
      {"Frame1", K::kFrame, "General Settings", "Uncheck to send ALL contacts of the folder"},
      {"Frame2", K::kFrame, "Import/Export Settings", ""},
      {"ManageMails", K::kButton, "Edit My E-mail Addresses", ""},
      {"Repair", K::kButton, "Update and repair database", "Removes obsolete entries from database"},
      {"ManualImport", K::kButton, "Import...", "Imports contacts from a .pst file to a chosen folder"},
      {"Accept", K::kButton, "OK", ""},
      {"Cancel", K::kButton, "Cancel", ""},
  });
  EXPECT_EQ(form.Kiek.Items(), (std::vector<std::string>{"200", "500", "1000", "3000", "5000"}));
  EXPECT_EQ(form.GMT.Items(),
            (std::vector<std::string>{"-12:00", "-11:00", "-10:00", "-9:00", "-8:00", "-7:00", "-6:00",
                                      "-5:00",  "-4:00",  "-3:00",  "-2:00", "-1:00", "0:00",  "+1:00",
                                      "+2:00",  "+3:00",  "+4:00",  "+5:00", "+6:00", "+7:00", "+8:00",
                                      "+9:00",  "+10:00", "+11:00", "+12:00"}));
  EXPECT_EQ(form.Frame1.Children(), (std::vector<std::string>{"GMT", "Label2"}));
  EXPECT_EQ(form.Frame2.Children(), (std::vector<std::string>{"ManualImport", "Label1"}));
  EXPECT_EQ(form.CancelButton(), &form.Cancel);
}

TEST_F(OptionsTest, TheOwnAddressWindowsControls) {
  auto& m = Machine();
  frmMyMails form(*m.ctx);
  EXPECT_EQ(form.Name(), "frmMyMails");
  EXPECT_EQ(form.Caption(), "Plexisync - My Email Addresses");
  using K = platform::ControlKind;
  ExpectControls(form, {
      {"Label3", K::kLabel,
       "Please enter all your e-mail addresses you are using in any of the Outlook accounts.", ""},
      {"Label1", K::kLabel, "e-mail addresses:", ""},
      {"MyMails", K::kListBox, "", ""},
      {"Label2", K::kLabel, "Add new:", ""},
      {"NewMail", K::kTextBox, "", ""},
      {"AddButton", K::kButton, "Add", ""},
      {"RemoveButton", K::kButton, "Remove", ""},
      {"Accept", K::kButton, "OK", ""},
      {"Cancel", K::kButton, "Cancel", ""},
  });
  EXPECT_EQ(form.DefaultButton(), &form.AddButton);
  EXPECT_EQ(form.CancelButton(), &form.Cancel);
  EXPECT_FALSE(form.FirstRun);
}

TEST_F(OptionsTest, StartUpLoadsTheStoredSettingsHidden) {
  auto& m = Started({{"Dont_Receive", "1"}, {"Kiek", "2"}, {"GMT", "10"}});
  auto& form = m.ctx->Form<AdvSettings>();
  EXPECT_TRUE(form.IsLoaded());
  EXPECT_FALSE(form.IsVisible());
  EXPECT_TRUE(form.DontReceive.Checked());
  EXPECT_TRUE(form.SendUpdated.Checked());
  EXPECT_EQ(form.Kiek.Text(), "1000");
  EXPECT_EQ(form.GMT.Text(), "-2:00");
}

TEST_F(OptionsTest, AStoredThresholdThatIsNoNumberOpensAt500) {
  auto& m = Started({{"Kiek", "lots"}});
  EXPECT_EQ(m.ctx->Form<AdvSettings>().Kiek.Text(), "500");
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(OptionsTest, CancelPutsTheStoredValuesBackAndWritesNothing) {
  auto& m = Started();
  auto& form = m.ctx->Form<AdvSettings>();
  form.Show(false);
  const auto before = StoredNames(m);
  form.SendUpdated.Click();
  form.DontSendComments.Click();
  form.AutoUpdate.Click();
  form.Kiek.SetListIndex(4);
  form.GMT.SetListIndex(0);
  EXPECT_TRUE(form.Cancel.Click());
  EXPECT_FALSE(form.IsVisible());
  EXPECT_EQ(StoredNames(m), before);
  // Opened again: the stored values.
  form.Show(false);
  EXPECT_TRUE(form.SendUpdated.Checked());
  EXPECT_FALSE(form.DontSendComments.Checked());
  EXPECT_TRUE(form.AutoUpdate.Checked());
  EXPECT_EQ(form.Kiek.ListIndex(), 1);
  EXPECT_EQ(form.GMT.ListIndex(), 12);
}

TEST_F(OptionsTest, AcceptStoresEverySettingAndHides) {
  auto& m = Started();
  auto& form = m.ctx->Form<AdvSettings>();
  form.Show(false);
  form.DontReceive.Click();
  form.GMT.SetListIndex(15);
  EXPECT_TRUE(form.Accept.Click());
  EXPECT_FALSE(form.IsVisible());
  EXPECT_EQ(m.Setting("Send_Updated"), "1");
  EXPECT_EQ(m.Setting("Dont_Receive"), "1");
  EXPECT_EQ(m.Setting("Dont_Send_Comments"), "0");
  EXPECT_EQ(m.Setting("Export"), "1");
  EXPECT_EQ(m.Setting("Kiek"), "1");
  EXPECT_EQ(m.Setting("AutoUpdate"), "1");
  EXPECT_EQ(m.Setting("GMT"), "15");
  EXPECT_TRUE(Get_DontReceive(*m.ctx));
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(OptionsTest, StoringAndReloadingFailuresEndInTheirOwnHandlers) {
  auto& m = Started();
  auto& form = m.ctx->Form<AdvSettings>();
  form.Show(false);
  m.ctx->Reg.reset();  // every registry use fails from now on
  // Storing logs its own failure; then the window hides as usual.
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  form.Accept.Click();
  EXPECT_FALSE(form.IsVisible());
  // Loading the controls passes its failure over.
  form.Kiek.SetListIndex(4);
  form.Show(false);
  form.Cancel.Click();
  EXPECT_FALSE(form.IsVisible());
  EXPECT_EQ(form.Kiek.ListIndex(), 1) << "a failed reload leaves the threshold at 500";
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"Obtain_Checkboxes"}));
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(OptionsTest, UncheckingExportDisablesTheThresholdAtOnce) {
  auto& m = Started();
  auto& form = m.ctx->Form<AdvSettings>();
  form.Show(false);
  ASSERT_TRUE(form.Kiek.Enabled());
  form.Export.Click();
  EXPECT_FALSE(form.Kiek.Enabled());
  form.Export.Click();
  EXPECT_TRUE(form.Kiek.Enabled());

  // Cancel: Export checked and the list enabled again.
  form.Export.Click();
  form.Cancel.Click();
  form.Show(false);
  EXPECT_TRUE(form.Export.Checked());
  EXPECT_TRUE(form.Kiek.Enabled());

  // OK: still disabled when the window opens again, also after a restart.
  form.Export.Click();
  form.Accept.Click();
  form.Show(false);
  EXPECT_FALSE(form.Kiek.Enabled());
  m.Restart();
  m.Start();
  EXPECT_FALSE(m.ctx->Form<AdvSettings>().Export.Checked());
  EXPECT_FALSE(m.ctx->Form<AdvSettings>().Kiek.Enabled());
}

TEST_F(OptionsTest, EditMyAddressesRunsTheOwnAddressWindowModally) {
  for (const char* button : {"OK", "Cancel"}) {
    SCOPED_TRACE(button);
    auto& m = Started({}, button);
    auto& options = m.ctx->Form<AdvSettings>();
    options.Show(false);
    bool optionsHiddenMeanwhile = false;
    m.user.ExpectForm("frmMyMails", [&](platform::Form& f) {
      auto& form = dynamic_cast<frmMyMails&>(f);
      optionsHiddenMeanwhile = !options.IsVisible();
      EXPECT_TRUE(form.IsModal());
      EXPECT_FALSE(form.FirstRun);
      EXPECT_EQ(form.MyMails.Items(), (std::vector<std::string>{"me@example.com"}));
      form.NewMail.SetText("work@example.com");
      form.AddButton.Click();
      form.FindButton(button)->Click();
    });
    options.ManageMails.Click();
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_TRUE(optionsHiddenMeanwhile);
    EXPECT_TRUE(options.IsVisible()) << "the options window comes back";
    EXPECT_FALSE(m.ctx->Form<frmMyMails>().IsVisible());
    const bool stored = std::string(button) == "OK";
    EXPECT_EQ(m.Setting("MyMails"),
              StoredMyMails(stored ? std::vector<std::string>{"me@example.com", "work@example.com"}
                                   : std::vector<std::string>{"me@example.com"}));
    // Either way the list in force has the new address until the add-in ends.
    EXPECT_TRUE(Is_MyMail(*m.ctx, "work@example.com"));
  }
}

TEST_F(OptionsTest, ManualImport) {
  struct Case {
    const char* picked;  // folder path ending, nullptr: the picker is cancelled
    bool withHook;
    const char* message;  // expected message, nullptr: none
    bool imports;
  } cases[] = {
      {nullptr, true, nullptr, false},
      {"/Inbox", true, "You must select contacts folder!", false},
      {"/Contacts", true, nullptr, true},
      {"/Contacts", false, nullptr, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(n);
    auto& m = Started({}, "m" + std::to_string(n++));
    auto& options = m.ctx->Form<AdvSettings>();
    std::vector<std::string> imported;
    if (c.withHook) {
      m.ctx->Import_file = [&](const std::shared_ptr<host::Folder>& folder) {
        imported.push_back(folder->Name());
        return true;
      };
    } else {
      m.ctx->Import_file = nullptr;  // an empty hook does nothing
    }
    m.user.ExpectForm("SelectFolder", [&](platform::Form& f) {
      if (!c.picked) return;  // closed with its cancel button
      auto& list = f.Get<platform::ListBox>("Folders");
      for (int i = 0; i < list.ListCount(); ++i) {
        const std::string& path = list.List(i);
        if (path.size() >= std::strlen(c.picked) &&
            path.compare(path.size() - std::strlen(c.picked), std::string::npos, c.picked) == 0) {
          list.SetListIndex(i);
          break;
        }
      }
      ASSERT_GE(list.ListIndex(), 0);
      f.FindButton("OK")->Click();
    });
    if (c.message) m.user.ExpectMessage(c.message);
    const auto messagesBefore = m.MessagesShown().size();
    options.ManualImport.Click();
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(m.MessagesShown().size(), messagesBefore + (c.message ? 1 : 0));
    if (c.message) {
      EXPECT_EQ(m.MessagesShown().back(), "Message \"Plexisync\" [OK]:\n  " + std::string(c.message));
    }
    EXPECT_EQ(imported, c.imports ? std::vector<std::string>{"Contacts"} : std::vector<std::string>{});
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(OptionsTest, RepairShowsSuccessOnlyWhenItRanToItsEnd) {
  auto& m = Started();
  auto& options = m.ctx->Form<AdvSettings>();
  options.Show(false);
  m.user.ExpectMessage("Update successful!");
  options.Repair.Click();
  EXPECT_EQ(m.user.Problems(), "");
  ASSERT_FALSE(m.MessagesShown().empty());
  EXPECT_EQ(m.MessagesShown().back(), "Message \"Plexisync\" (information) [OK]:\n  Update successful!");
  EXPECT_EQ(m.ErrorLog(), "");

  // A repair that fails reports its own failure; no success message.
  m.ctx->Reg.reset();
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  const auto messagesBefore = m.MessagesShown().size();
  options.Repair.Click();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.MessagesShown().size(), messagesBefore + 1);
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"AdvSet_RepairClick"}));
}

class MyMailsTest : public testing::AddinTest {
 protected:
  // A started add-in with the stored list, and its own-address window loaded
  // hidden (as Is_MyMail loads it).
  frmMyMails& Loaded(AddinMachine& m, const std::vector<std::string>& stored) {
    m.StartReturning(stored);
    auto& form = m.ctx->Form<frmMyMails>();
    form.Load();
    return form;
  }
};

TEST_F(MyMailsTest, TheStoredListInOrderAndOkWritesTheSameText) {
  auto& m = Machine();
  auto& form = Loaded(m, {"b@x.com", "a@x.com"});
  EXPECT_EQ(form.MyMails.Items(), (std::vector<std::string>{"b@x.com", "a@x.com"}));
  const std::string before = m.Setting("MyMails");
  form.Show(false);
  form.Accept.Click();
  EXPECT_EQ(m.Setting("MyMails"), before);
  EXPECT_FALSE(form.IsVisible());
  EXPECT_TRUE(m.ctx->Form<AdvSettings>().IsVisible()) << "the options window comes back";
}

TEST_F(MyMailsTest, Adding) {
  struct Case {
    const char* text;
    std::vector<std::string> after;
  } cases[] = {
      {"", {"Me@x.com"}},
      {"Me@x.com", {"Me@x.com"}},                // already there: nothing added
      {"me@x.com", {"Me@x.com", "me@x.com"}},    // another case is another entry
      {"Me@x.com ", {"Me@x.com", "Me@x.com "}},  // compared exactly
      {"new@y.org", {"Me@x.com", "new@y.org"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    testing::MachineOptions options;
    options.name = "m" + std::to_string(n++);
    auto& m = Machine(options);
    auto& form = Loaded(m, {"Me@x.com"});
    form.NewMail.SetText(c.text);
    form.DefaultButton()->Click();  // Enter
    EXPECT_EQ(form.MyMails.Items(), c.after);
    EXPECT_EQ(form.NewMail.Text(), "");
    if (*c.text) {
      EXPECT_EQ(form.FocusedControl(), &form.NewMail);
    }
    EXPECT_TRUE(m.MessagesShown().empty());
  }
}

TEST_F(MyMailsTest, Removing) {
  auto& m = Machine();
  auto& form = Loaded(m, {"a@x", "b@x", "c@x"});
  ASSERT_EQ(form.MyMails.ListIndex(), -1);
  form.RemoveButton.Click();
  EXPECT_EQ(form.MyMails.Items(), (std::vector<std::string>{"a@x", "b@x", "c@x"}));
  form.MyMails.SetListIndex(1);
  form.RemoveButton.Click();
  EXPECT_EQ(form.MyMails.Items(), (std::vector<std::string>{"a@x", "c@x"}));
  EXPECT_EQ(form.MyMails.ListIndex(), -1);
  form.RemoveButton.Click();
  EXPECT_EQ(form.MyMails.Items(), (std::vector<std::string>{"a@x", "c@x"}));
}

TEST_F(MyMailsTest, OkWithAnEmptyListStoresTheEmptyText) {
  auto& m = Machine();
  auto& form = Loaded(m, {"a@x"});
  form.MyMails.SetListIndex(0);
  form.RemoveButton.Click();
  form.Accept.Click();
  EXPECT_EQ(m.Setting("MyMails"), "");
  m.Restart();
  m.Start();
  EXPECT_EQ(m.user.Problems(), "") << "no first-start message";
  EXPECT_TRUE(m.MessagesShown().empty());
}

TEST_F(MyMailsTest, CancelKeepsTheStoredListButNotTheListInForce) {
  auto& m = Machine();
  auto& form = Loaded(m, {"a@x"});
  form.Show(false);
  form.NewMail.SetText("b@x");
  form.AddButton.Click();
  form.MyMails.SetListIndex(0);
  form.RemoveButton.Click();
  form.Cancel.Click();
  EXPECT_FALSE(form.IsVisible());
  EXPECT_TRUE(m.ctx->Form<AdvSettings>().IsVisible());
  EXPECT_EQ(m.Setting("MyMails"), StoredMyMails({"a@x"}));
  EXPECT_TRUE(Is_MyMail(*m.ctx, "b@x"));
  EXPECT_FALSE(Is_MyMail(*m.ctx, "a@x"));
}

TEST_F(MyMailsTest, ClosingDuringTheFirstRunDoesNotBringTheOptionsBack) {
  for (const char* button : {"OK", "Cancel"}) {
    testing::MachineOptions options;
    options.name = button;
    auto& m = Machine(options);
    auto& form = Loaded(m, {"a@x"});
    form.FirstRun = true;
    form.Show(false);
    form.FindButton(button)->Click();
    EXPECT_FALSE(form.IsVisible()) << button;
    EXPECT_FALSE(m.ctx->Form<AdvSettings>().IsVisible()) << button;
  }
}

TEST_F(MyMailsTest, TheEndOfTheWindowShowsTheOptionsUnlessFirstRun) {
  for (bool firstRun : {false, true}) {
    testing::MachineOptions options;
    options.name = firstRun ? "first" : "later";
    auto& m = Machine(options);
    auto& form = Loaded(m, {"a@x"});
    form.FirstRun = firstRun;
    m.ctx->DropForm<frmMyMails>();
    EXPECT_EQ(m.ctx->Form<AdvSettings>().IsVisible(), !firstRun);
  }
}

TEST_F(MyMailsTest, ALoadStartsFromTheStoredList) {
  auto& m = Machine();
  auto& form = Loaded(m, {"a@x"});
  form.NewMail.SetText("typed");
  form.MyMails.AddItem("unsaved@x");
  form.Unload();
  form.Load();
  EXPECT_EQ(form.MyMails.Items(), (std::vector<std::string>{"a@x"}));
  EXPECT_EQ(form.NewMail.Text(), "");
}

}  // namespace
}  // namespace plexisync

// The add-in's toolbar buttons and "Plexisync" menu in the explorer windows:
// what a folder switch shows and enables, the Update commands' state, and
// which wrapper acts on a click that reaches every window.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/ui/commandbars.hpp"
#include "host/ui/view.hpp"
#include "plexisync/core/command_bars.hpp"
#include "plexisync/core/explorers.hpp"
#include "plexisync/core/unread_view.hpp"
#include "plexisync/core/update_buttons.hpp"
#include "share_fixture.hpp"
#include "platform/textfile.hpp"
#include "support/recording_shell.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;
using testing::ShareTest;

class ExplorersTest : public ShareTest {
 protected:
  static fexp& Wrapper(AddinMachine& m, std::size_t n = 0) { return *m.ctx->Exps->ExpCol.at(n); }
  static host::CommandBarControl* Popup(const std::shared_ptr<host::Explorer>& e) {
    return e->CommandBars().Item("Menu Bar").Controls().Find("Plexisync");
  }
  static host::CommandBarControl& MenuItem(const std::shared_ptr<host::Explorer>& e, int n) {
    return Popup(e)->Controls().Item(n);
  }
  static host::CommandBarControl* UpdateButton(const std::shared_ptr<host::Explorer>& e) {
    return e->CommandBars().Item("Standard").FindControl("Update");
  }
};

TEST_F(ExplorersTest, ToolbarButtonsAreMadeOnceInOrderWithTheirLooks) {
  auto& m = Started();
  auto explorer = m.app->ActiveExplorer();
  auto& w = Wrapper(m);
  ASSERT_TRUE(w.ButtonsBound);
  auto folder = NewFolder(Contacts(m)->StoreRoot(), "Team");
  explorer->SetCurrentFolder(folder);
  explorer->SetCurrentFolder(Contacts(m));

  auto& bar = explorer->CommandBars().Item("Standard");
  struct Expected {
    const char* tag;
    const char* caption;
    host::ButtonStyle style;
    const char* tooltip;
    bool face;
    bool beginGroup;
  } expected[] = {
      {"Share...", "Share...", host::ButtonStyle::IconAndCaption, "Share current folder", true, true},
      {"Update", "", host::ButtonStyle::Icon, "Update current folder", true, false},
      {"Update All", "", host::ButtonStyle::Icon, "Update ALL folders", true, false},
      {"Import...", "", host::ButtonStyle::Icon, "Import contacts from a file", true, false},
      {"Unread Only", "Unread Only", host::ButtonStyle::Caption,
       "Toggles view between All and Unread only contacts in current folder", false, false},
      {"MarkAsRead", "Mark as Read", host::ButtonStyle::Caption, "Marks all Contacts as read", false, false},
  };
  const auto all = bar.Controls().All();
  std::vector<host::CommandBarControl*> ours;
  for (auto* c : all) {
    if (!c->BuiltIn()) ours.push_back(c);
  }
  ASSERT_EQ(ours.size(), std::size(expected)) << "switching folders must not add the buttons again";
  for (std::size_t n = 0; n < ours.size(); ++n) {
    SCOPED_TRACE(expected[n].tag);
    const auto& e = expected[n];
    auto* c = ours[n];
    EXPECT_EQ(c->Tag(), e.tag);
    EXPECT_EQ(c->Caption(), e.caption);
    EXPECT_EQ(c->Style(), e.style);
    EXPECT_EQ(c->TooltipText(), e.tooltip);
    EXPECT_EQ(c->BeginGroup(), e.beginGroup);
    EXPECT_TRUE(c->Temporary());
    EXPECT_EQ(!c->Face().empty(), e.face);
    EXPECT_EQ(!c->Mask().empty(), e.face) << "an icon face is pasted with its mask";
  }
  // The wrapper's variables name the controls of the table.
  EXPECT_EQ(w.myBut1.get(), ours[0]);
  EXPECT_EQ(w.myBut2.get(), ours[1]);
  EXPECT_EQ(w.myBut3.get(), ours[2]);
  EXPECT_EQ(w.myBut5.get(), ours[3]);
  EXPECT_EQ(w.myBut4.get(), ours[4]);
  EXPECT_EQ(w.mybut6.get(), ours[5]);
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExplorersTest, FolderKindAndImportKeyDecideWhatIsShownAndEnabled) {
  struct Case {
    const char* name;
    bool contacts;
    bool importDue;
  } cases[] = {
      {"mail folder", false, false},
      {"mail folder with an import key", false, true},
      {"contacts folder", true, false},
      {"contacts folder with an import key", true, true},
  };
  auto& m = Started();
  auto explorer = m.app->ActiveExplorer();
  auto& w = Wrapper(m);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto folder = NewFolder(Contacts(m)->StoreRoot(), c.name,
                            c.contacts ? host::kFolderTypeContacts : host::kFolderTypeMail);
    if (c.importDue) m.Reg().CreateKey(Key(folder->EntryID() + "\\Import"));
    explorer->SetCurrentFolder(folder);
    EXPECT_EQ(w.FolderKind, c.contacts ? 1 : 0);
    for (auto* b : {&w.myBut1, &w.myBut2, &w.myBut3, &w.myBut4, &w.mybut6}) {
      ASSERT_TRUE(*b);
      EXPECT_EQ((*b)->Visible(), c.contacts) << (*b)->Tag();
    }
    EXPECT_EQ(w.myBut5->Visible(), c.contacts && c.importDue);
    EXPECT_EQ(w.myMen1->Enabled(), c.contacts);
    EXPECT_EQ(w.myMen4->Enabled(), c.importDue);
    for (auto* i : {&w.myMen3, &w.myMen5, &w.myMen6, &w.myMen9, &w.myMen10, &w.myMen11}) {
      EXPECT_TRUE((*i)->Enabled()) << (*i)->Caption();
    }
    // A mail folder is never asked about: it leaves no "Updateable" value
    // for the update of all folders to visit.
    EXPECT_EQ(UpdateableValue(m, folder->EntryID()), c.contacts ? "2" : "<absent>");
    if (!c.contacts) {
      EXPECT_FALSE(w.myMen2->Enabled());
    }
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExplorersTest, MenuIsMadeOnceBeforeTheLastMenuWithItsItems) {
  auto& m = Started();
  auto explorer = m.app->ActiveExplorer();
  explorer->SetCurrentFolder(Contacts(m));
  explorer->SetCurrentFolder(m.DefaultFolder(host::kFolderInbox));
  auto& menuBar = explorer->CommandBars().Item("Menu Bar");
  int popups = 0;
  for (auto* c : menuBar.Controls().All()) popups += c->Caption() == "Plexisync" ? 1 : 0;
  ASSERT_EQ(popups, 1);
  auto* popup = Popup(explorer);
  EXPECT_EQ(popup->Index(), menuBar.Controls().Count() - 1) << "placed before the bar's last control";
  EXPECT_TRUE(popup->Temporary());
  struct Item {
    const char* caption;
    bool face;
    bool beginGroup;
  } items[] = {
      {"Share...", true, false},          {"Update", true, false},         {"Update All", true, false},
      {"Import...", true, false},         {"Send and Receive All", false, true}, {"Options...", false, false},
      {"Check for Update", false, false}, {"Help", false, true},           {"About Plexisync", false, false},
  };
  ASSERT_EQ(popup->Controls().Count(), static_cast<int>(std::size(items)));
  for (int n = 1; n <= popup->Controls().Count(); ++n) {
    const auto& e = items[n - 1];
    auto& c = popup->Controls().Item(n);
    SCOPED_TRACE(e.caption);
    EXPECT_EQ(c.Caption(), e.caption);
    EXPECT_EQ(c.Style(), host::ButtonStyle::IconAndCaption);
    EXPECT_EQ(c.BeginGroup(), e.beginGroup);
    EXPECT_EQ(!c.Face().empty(), e.face);
  }
  EXPECT_EQ(Wrapper(m).myMen11.get(), &popup->Controls().Item(9));
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExplorersTest, FolderSwitchRestoresTheFullView) {
  auto& m = Started();
  auto explorer = m.app->ActiveExplorer();
  auto& w = Wrapper(m);
  explorer->SetCurrentFolder(Contacts(m));
  auto team = NewFolder(Contacts(m)->StoreRoot(), "Team");
  ShowUnreadOnly(*m.ctx, explorer);
  w.myBut4->SetCaption(kViewAllCaption);
  ASSERT_NE(explorer->CurrentView()->XML().find("httpmail:read"), std::string::npos);

  explorer->SetCurrentFolder(team);
  EXPECT_EQ(w.myBut4->Caption(), "Unread Only");
  explorer->SetCurrentFolder(Contacts(m));
  EXPECT_EQ(explorer->CurrentView()->XML().find("httpmail:read"), std::string::npos)
      << "the folder shown unread-only before is shown whole again";
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExplorersTest, UpdateableValueDecidesTheUpdateCommands) {
  struct Case {
    const char* stored;  // nullptr: absent
    bool recipientPresent;
    bool enabled;
    const char* after;
  } cases[] = {
      {"2", true, false, "2"},     // not asked: the recipient would have made it "1"
      {"1", false, true, "1"},     // not asked either
      {"7", false, true, "7"},     // any other value enables
      {"0", true, true, "1"},      {"0", false, false, "2"},
      {nullptr, true, true, "1"},  {nullptr, false, false, "2"},
  };
  auto& m = Started();
  auto explorer = m.app->ActiveExplorer();
  auto& w = Wrapper(m);
  auto member = NewContact(m, Contacts(m), "Ann Member", "ann@example.com");
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(n));
    auto folder = NewFolder(Contacts(m)->StoreRoot(), "Shared " + std::to_string(n++));
    const std::string id = folder->EntryID();
    if (c.recipientPresent) {
      StoreRecipient(m, id, member, "ann@example.com");
    } else {
      StoreRecipient(m, id, VanishedContactId(m), "Gone", "gone@example.com");
    }
    if (c.stored) m.Reg().SetValue(Updateable(), id, std::string(c.stored), 1);
    explorer->SetCurrentFolder(folder);
    EXPECT_EQ(w.myBut2->Enabled(), c.enabled);
    EXPECT_EQ(w.myMen2->Enabled(), c.enabled);
    EXPECT_EQ(UpdateableValue(m, id), c.after);
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExplorersTest, RemovedRecipientMakesTheFolderNotUpdateableInEveryWindow) {
  auto& m = Started();
  auto first = m.app->ActiveExplorer();
  auto folder = NewFolder(Contacts(m)->StoreRoot(), "Shared");
  const std::string id = folder->EntryID();
  auto kept = NewContact(m, Contacts(m), "Bob Unselected", "bob@example.com");
  auto member = NewContact(m, Contacts(m), "Ann Member", "ann@example.com");
  StoreRecipient(m, id, kept, "bob@example.com", false);
  StoreRecipient(m, id, member, "ann@example.com");
  first->SetCurrentFolder(folder);
  auto second = m.app->Explorers()->Add(folder);
  second->SetCurrentFolder(folder);
  ASSERT_EQ(UpdateableValue(m, id), "1");
  ASSERT_TRUE(UpdateButton(first)->Enabled());
  ASSERT_TRUE(UpdateButton(second)->Enabled());

  {
    host::PersonScope person(*m.app);
    member->Delete();
  }
  EXPECT_TRUE(If_Folder_Disabled(*m.ctx, id)) << "the only other recipient is not selected";
  EXPECT_EQ(UpdateableValue(m, id), "2");
  Refresh_Update_Buttons(*m.ctx);
  for (const auto& e : {first, second}) {
    EXPECT_FALSE(UpdateButton(e)->Enabled());
    EXPECT_FALSE(MenuItem(e, 2).Enabled());
  }
  // Asked again from "0": still not updateable.
  m.Reg().SetValue(Updateable(), id, std::string("0"), 1);
  Refresh_Update_Buttons(*m.ctx);
  EXPECT_FALSE(UpdateButton(second)->Enabled());
  EXPECT_EQ(UpdateableValue(m, id), "2");
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExplorersTest, SharedTagClicksActInTheActiveWindowOnlyWhereTheTablesSaySo) {
  auto& m = Started();
  auto first = m.app->ActiveExplorer();
  auto empty = NewFolder(Contacts(m)->StoreRoot(), "Empty");
  first->SetCurrentFolder(empty);
  auto second = m.app->Explorers()->Add(empty);
  second->SetCurrentFolder(empty);
  second->Activate();
  ASSERT_EQ(m.ctx->ActiveExpId, 2);

  // Share: the click reaches both wrappers, the wizard runs once.
  m.user.ExpectMessage("No contact items in selected folder!");
  ASSERT_TRUE(Wrapper(m, 0).myBut1->Click());
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.MessagesShown().size(), 1u);

  // Update All: each wrapper that receives the click runs it: the run's
  // calls to the client (the session, then the look-up of the one known
  // folder) come twice.
  m.Reg().SetValue(Updateable(), empty->EntryID(), std::string("2"), 1);
  m.app->Faults().SetRecording(true);
  ASSERT_TRUE(Wrapper(m, 1).myBut3->Click());
  const auto calls = m.app->Faults().Recorded();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Application.Session"), 2) << ::testing::PrintToString(calls);
  ASSERT_EQ(calls.size() % 2, 0u);
  EXPECT_TRUE(std::equal(calls.begin(), calls.begin() + calls.size() / 2, calls.begin() + calls.size() / 2));
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(ExplorersTest, ImportButtonHidesAfterAnImportThatRan) {
  for (bool ran : {false, true}) {
    SCOPED_TRACE(ran);
    auto& m = Started({}, ran ? "ran" : "not");
    auto explorer = m.app->ActiveExplorer();
    auto folder = NewFolder(Contacts(m)->StoreRoot(), "Team");
    m.Reg().CreateKey(Key(folder->EntryID() + "\\Import"));
    explorer->SetCurrentFolder(folder);
    auto& w = Wrapper(m);
    ASSERT_TRUE(w.myBut5->Visible());
    std::vector<std::string> imported;
    m.ctx->Import_file = [&](const std::shared_ptr<host::Folder>& f) {
      imported.push_back(f->EntryID());
      return ran;
    };
    ASSERT_TRUE(w.myBut5->Click());
    EXPECT_EQ(imported, std::vector<std::string>{folder->EntryID()});
    EXPECT_EQ(w.myBut5->Visible(), !ran);
    // The menu item imports too, and leaves the button alone.
    w.myMen4->Execute();
    EXPECT_EQ(imported.size(), 2u);
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(ExplorersTest, HelpOpensTheHelpFileOfTheInstallationFolder) {
  auto& m = Started();
  platform::RecordingShell shell;
  m.ctx->svc.shell = &shell;
  Wrapper(m).myMen10->Execute();
  ASSERT_EQ(shell.Requests().size(), 1u);
  const auto& r = shell.Requests()[0];
  EXPECT_EQ(r.kind, platform::RecordingShell::Request::Kind::kOpenDocument);
  EXPECT_EQ(r.path, m.ctx->InstDir + "Help.chm");
  EXPECT_EQ(r.verb, "open");
  EXPECT_EQ(r.workingDir, m.ctx->InstDir);
  EXPECT_TRUE(platform::FileExists(r.path)) << "the add-in's own help document is put there";
  EXPECT_EQ(m.ErrorLog(), "");
}

}  // namespace
}  // namespace plexisync

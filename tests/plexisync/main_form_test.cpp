#include "plexisync/dialogs/main_form.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "plexisync/core/explorers.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/send/send_commands.hpp"
#include "share_fixture.hpp"
#include "storage_fixture.hpp"
#include "support/folder_chain.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;

class MainFormTest : public testing::ShareTest {
 protected:
  // A started add-in with contacts Ann, Ann (another one), Bob and Cy in the
  // default contacts folder, and a contacts folder "Team" to share.
  struct Setup {
    AddinMachine* m = nullptr;
    std::shared_ptr<host::Folder> team;
    std::string teamId;
    std::vector<std::shared_ptr<host::ContactItem>> people;  // ann1, ann2, bob, cy
  };
  Setup Prepared(const std::string& name = "machine") {
    Setup s;
    s.m = &Started({}, name);
    auto& m = *s.m;
    s.people.push_back(NewContact(m, Contacts(m), "Ann", "ann1@example.org"));
    s.people.push_back(NewContact(m, Contacts(m), "Ann", "ann2@example.org"));
    s.people.push_back(NewContact(m, Contacts(m), "Bob", "bob@example.org"));
    s.people.push_back(NewContact(m, Contacts(m), "Cy", "cy@example.org"));
    s.team = NewFolder(Contacts(m), "Team");
    NewContact(m, s.team, "Member", "member@example.org");
    s.teamId = s.team->EntryID();
    return s;
  }
  static MainForm& Open(AddinMachine& m, const std::shared_ptr<host::Folder>& folder) {
    Share_click(*m.ctx, folder);
    return Wizard(m);
  }
};

TEST_F(MainFormTest, TheWizardsControls) {
  auto& m = Machine();
  MainForm form(*m.ctx);
  EXPECT_EQ(form.Name(), "MainForm");
  EXPECT_EQ(form.Caption(), "Plexisync");
  struct ControlRow {
    const char* name;
    platform::ControlKind kind;
    const char* caption;
    const char* toolTip;
  };
  using K = platform::ControlKind;
  const std::vector<ControlRow> expected = {
      {"FolderName", K::kLabel, "", ""},
      {"LookInLabel", K::kLabel, "Look in:", ""},
      {"ParinkFolder", K::kComboBox, "", "Loads available contacts from the folder selected"},
      {"go", K::kButton, "Update", ""},
      {"SearchLabel", K::kLabel, "Search:", ""},
      {"FindBox", K::kTextBox, "", ""},
      {"SarIsh", K::kListView, "", ""},
      {"SarI", K::kListView, "", ""},
      {"Pirmyn", K::kButton, ">>", ""},
      {"Atgal", K::kButton, "<< ", ""},
      {"Naujas", K::kButton, "New contact...", ""},
      {"Advanced", K::kButton, "Options...", ""},
      {"SaveBut", K::kButton, "Save", ""},
      {"OK", K::kButton, "Save && Send", ""},
      {"Cancel", K::kButton, "Cancel", ""},
      {"ProgressBar1", K::kProgressBar, "", ""},
  };
  const auto controls = form.Controls();
  ASSERT_EQ(controls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(controls[i]->Name(), expected[i].name);
    EXPECT_EQ(controls[i]->Kind(), expected[i].kind);
    EXPECT_EQ(controls[i]->Caption(), expected[i].caption);
    EXPECT_EQ(controls[i]->ToolTip(), expected[i].toolTip);
  }
  EXPECT_EQ(platform::PlainCaption(form.OK.Caption()), "Save & Send");
  const std::vector<std::string> columns{"Full Name", "Last Update On"};
  EXPECT_EQ(form.SarIsh.ColumnHeaders(), columns);
  EXPECT_EQ(form.SarI.ColumnHeaders(), columns);
  EXPECT_FALSE(form.ProgressBar1.Visible());
}

TEST_F(MainFormTest, OpeningListsTheDefaultContactsAndTheChosenRecipients) {
  auto s = Prepared();
  auto& m = *s.m;
  StoreRecipient(m, s.teamId, s.people[2], "bob@example.org");
  StoreRecipient(m, s.teamId, s.people[3], "cy@example.org", false);  // not chosen
  m.Reg().CreateKey(Key(s.teamId + "\\List"));
  m.Reg().SetValue(Key(s.teamId + "\\mapping"), "X", std::string("Y"), 1);

  auto& w = Open(m, s.team);

  EXPECT_TRUE(w.IsVisible());
  EXPECT_FALSE(w.IsModal());
  EXPECT_EQ(w.FolderName.Caption(), "Share Team folder");
  EXPECT_EQ(Entries(w.SarIsh), (std::vector<std::string>{
                                   Entry(s.people[0], "ann1@example.org"), Entry(s.people[1], "ann2@example.org"),
                                   Entry(s.people[2], "bob@example.org"), Entry(s.people[3], "cy@example.org")}));
  EXPECT_EQ(Entries(w.SarI), std::vector<std::string>{Entry(s.people[2], "bob@example.org")});
  EXPECT_EQ(w.ShareFolder->EntryID(), s.teamId);
  EXPECT_EQ(w.SourceFolder(), nullptr) << "set back once the lists are loaded";
  EXPECT_EQ(w.FocusedControl(), &w.FindBox);
  EXPECT_FALSE(w.ProgressBar1.Visible());
  EXPECT_EQ(w.ProgressBar1.Max(), 4);
  EXPECT_EQ(w.ProgressBar1.Value(), 4);
  for (auto* b : {&w.Pirmyn, &w.Atgal, &w.OK, &w.SaveBut, &w.Cancel, &w.Naujas, &w.Advanced}) {
    EXPECT_TRUE(b->Enabled()) << b->Name();
  }
  EXPECT_FALSE(w.go.Enabled()) << "until the folder list is opened";
  EXPECT_EQ(m.user.Problems(), "") << "no security question for the addresses";
  EXPECT_EQ(m.ErrorLog(), "");

  // Opened again for a folder without recipients: everything starts afresh.
  auto other = NewFolder(Contacts(m), "Other");
  NewContact(m, other, "Someone");
  Open(m, other);
  EXPECT_EQ(w.FolderName.Caption(), "Share Other folder");
  EXPECT_EQ(w.SarI.Count(), 0u);
  EXPECT_EQ(w.SarIsh.Count(), 4u);
  EXPECT_FALSE(w.Atgal.Enabled());
  EXPECT_FALSE(w.OK.Enabled());
  EXPECT_TRUE(m.Reg().KeyExists(Key(other->EntryID()))) << "the folder's key is made on opening";
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(MainFormTest, TheTitleLineCutsNamesLongerThanThirtyCharacters) {
  struct Case {
    std::string name;
    std::string caption;
  } cases[] = {
      {"Team", "Share Team folder"},
      {std::string(30, 'a'), "Share " + std::string(30, 'a') + " folder"},
      {std::string(31, 'b'), "Share " + std::string(30, 'b') + "... folder"},
      {std::string(29, 'c') + "\xC3\xA9", "Share " + std::string(29, 'c') + "\xC3\xA9 folder"},
      {std::string(29, 'd') + "\xC3\xA9\xC3\xA9", "Share " + std::string(29, 'd') + "\xC3\xA9... folder"},
  };
  auto& m = Started();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto folder = NewFolder(Contacts(m), c.name);
    NewContact(m, folder, "Someone");
    EXPECT_EQ(Open(m, folder).FolderName.Caption(), c.caption);
  }
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(MainFormTest, TheFolderListOffersTheContactsFoldersOfTheDefaultStoreOnly) {
  auto& m = Started();
  NewContact(m, Contacts(m), "Ann");
  auto root = Contacts(m)->StoreRoot();
  // A top folder named like the session above it still is the top folder.
  root->SetName("Mapi");
  auto team = NewFolder(Contacts(m), "Team");
  NewContact(m, team, "Member");
  auto sub = NewFolder(team, "Sub");
  auto projects = NewFolder(root, "Projects", host::kFolderTypeMail);
  auto clients = NewFolder(projects, "Clients");
  auto sameName = NewFolder(projects, "Contacts");  // named like the default one
  auto deep = NewFolder(sameName, "Deep");
  NewFolder(projects, "Notes", host::kFolderTypeMail);
  m.app->Session()->AddStore((Scratch() / "archive.pst").string());
  auto archive = m.app->Session()->Folders()->GetLast();
  NewFolder(archive, "Partners");

  auto& w = Open(m, team);

  const auto& list = w.FolderList();
  ASSERT_EQ(static_cast<int>(list.size()), w.ParinkFolder.ListCount());
  ASSERT_FALSE(list.empty());
  std::set<std::string> offered;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string name = list[i].substr(49);
    EXPECT_EQ(w.ParinkFolder.List(static_cast<int>(i)), name + "  ") << "entry " << i;
    EXPECT_EQ(list[i][48], ' ');
    auto folder = m.app->Session()->GetFolderFromID(list[i].substr(0, 48));
    EXPECT_EQ(folder->Name(), name);
    offered.insert(folder->FolderPath());
  }
  EXPECT_EQ(list[0], Contacts(m)->EntryID() + " Contacts");
  EXPECT_EQ(w.ParinkFolder.Text(), "Contacts  ");
  EXPECT_EQ(offered, (std::set<std::string>{Contacts(m)->FolderPath(), team->FolderPath(), sub->FolderPath(),
                                            clients->FolderPath(), deep->FolderPath()}));
  EXPECT_EQ(m.ErrorLog(), "");
}

// A tree far deeper than anyone makes by hand, as arriving mail could once
// make one: "Look in:" still offers every contacts folder, each right after
// its parent and before the folders that follow its parent.
TEST_F(MainFormTest, TheFolderListWalksATreeOfAnyDepth) {
  constexpr int kDepth = 20000;
  auto& m = Machine();
  auto team = NewFolder(Contacts(m), "Team");
  const std::string teamId = team->EntryID();
  host::WriteFolderChain(m.profile.StorePath(), team->Number(), kDepth, "d", true);
  team.reset();
  m.Restart();
  team = m.app->Session()->GetFolderFromID(teamId);
  NewContact(m, team, "Member");
  auto after = NewFolder(team, "After");
  std::vector<std::string> expected{Contacts(m)->EntryID() + " Contacts", teamId + " Team"};
  for (auto folder = team->Folders()->Item(1);; folder = folder->Folders()->Item(1)) {
    expected.push_back(folder->EntryID() + " " + folder->Name());
    if (folder->Folders()->Count() == 0) break;
  }
  expected.push_back(after->EntryID() + " After");
  ASSERT_EQ(expected.size(), kDepth + 3u);
  m.StartReturning();

  auto& w = Open(m, team);

  EXPECT_TRUE(w.FolderList() == expected) << "listed " << w.FolderList().size() << " of " << expected.size();
  EXPECT_EQ(w.ParinkFolder.ListCount(), kDepth + 3);
  EXPECT_EQ(w.ParinkFolder.List(kDepth + 2), "After  ");
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(MainFormTest, UpdateLoadsTheFolderChosenInTheList) {
  auto s = Prepared();
  auto& m = *s.m;
  auto& w = Open(m, s.team);
  EXPECT_FALSE(w.go.Enabled());
  EXPECT_TRUE(w.ParinkFolder.DropDown());
  EXPECT_TRUE(w.go.Enabled());
  const auto& list = w.FolderList();
  const auto at = std::find(list.begin(), list.end(), s.teamId + " Team");
  ASSERT_NE(at, list.end());
  w.ParinkFolder.SetListIndex(static_cast<int>(at - list.begin()));
  EXPECT_TRUE(w.go.Click());
  EXPECT_FALSE(w.go.Enabled());
  ASSERT_NE(w.SourceFolder(), nullptr);
  EXPECT_EQ(w.SourceFolder()->EntryID(), s.teamId);
  ASSERT_EQ(w.SarIsh.Count(), 1u);
  EXPECT_EQ(w.SarIsh.Item(0).text, "Member");
  EXPECT_EQ(w.SarIsh.Item(0).toolTip, "member@example.org");
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(MainFormTest, ForwardAddsEachContactOnceAndMovesTheSelectionOn) {
  // Contacts, by position in the source list: 0 Ann, 1 Ann (another
  // contact of the same name), 2 Bob, 3 Cy.
  struct Case {
    const char* what;
    std::vector<int> stored;      // recipients before opening
    std::vector<int> clicks;      // each: select this position (-1 keep), then ">>"
    std::vector<int> recipients;  // the recipient list afterwards
    int selected;                 // the source selection afterwards
  } cases[] = {
      {"repeated clicks walk down the list", {}, {0, -1, -1, -1, -1}, {0, 1, 2, 3}, 3},
      {"the same contact twice", {}, {0, 0}, {0}, 1},
      {"a namesake of a recipient is added", {1}, {0}, {1, 0}, 1},
      {"a recipient is not added again, namesake before it", {1}, {1}, {1}, 2},
      {"a recipient is not added again, namesake after it", {0}, {1, 0}, {0, 1}, 1},
      {"both namesakes present", {0, 1}, {0, -1}, {0, 1}, 2},
      {"the last contact stays selected", {3}, {3, -1}, {3}, 3},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = Prepared("m" + std::to_string(n++));
    auto& m = *s.m;
    for (int i : c.stored) StoreRecipient(m, s.teamId, s.people[static_cast<std::size_t>(i)], "x@example.org");
    auto& w = Open(m, s.team);
    for (int pick : c.clicks) {
      if (pick >= 0) w.SarIsh.Select(pick);
      EXPECT_TRUE(w.Pirmyn.Click());
    }
    std::vector<std::string> expected;
    for (int i : c.recipients) expected.push_back(s.people[static_cast<std::size_t>(i)]->EntryID());
    EXPECT_EQ(Tags(w.SarI), expected);
    EXPECT_EQ(w.SarIsh.SelectedIndex(), c.selected);
    std::set<std::string> seen;
    for (const auto& e : w.SarI.Items()) EXPECT_TRUE(seen.insert(e.text + "|" + e.tag).second) << e.text;
    EXPECT_TRUE(w.OK.Enabled());
    EXPECT_TRUE(w.Atgal.Enabled());
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(MainFormTest, ForwardCopiesTheWholeEntryAndNeedsASelection) {
  auto s = Prepared();
  auto& m = *s.m;
  m.Reg().SetValue(Key(s.teamId + "\\" + s.people[2]->EntryID()), "LastUpdate", std::string("3/4/2025 1:02:03 PM"), 1);
  auto& w = Open(m, s.team);
  EXPECT_EQ(w.SarIsh.SelectedIndex(), -1);
  EXPECT_TRUE(w.Pirmyn.Click());
  EXPECT_EQ(w.SarI.Count(), 0u) << "nothing selected, nothing added";
  EXPECT_FALSE(w.OK.Enabled());
  w.SarIsh.Select(2);
  EXPECT_TRUE(w.Pirmyn.Click());
  EXPECT_EQ(Entries(w.SarI), std::vector<std::string>{Entry(s.people[2], "bob@example.org", "3/4/2025")});
}

TEST_F(MainFormTest, BackRemovesTheSelectedRecipient) {
  auto s = Prepared();
  auto& m = *s.m;
  StoreRecipient(m, s.teamId, s.people[0], "ann1@example.org");
  StoreRecipient(m, s.teamId, s.people[2], "bob@example.org");
  auto& w = Open(m, s.team);
  ASSERT_EQ(w.SarI.Count(), 2u);
  EXPECT_TRUE(w.Atgal.Click());
  EXPECT_EQ(w.SarI.Count(), 2u) << "nothing selected";
  w.SarI.Select(0);
  EXPECT_TRUE(w.Atgal.Click());
  EXPECT_EQ(Tags(w.SarI), std::vector<std::string>{s.people[2]->EntryID()});
  EXPECT_TRUE(w.OK.Enabled());
  w.SarI.Select(0);
  EXPECT_TRUE(w.Atgal.Click());
  EXPECT_EQ(w.SarI.Count(), 0u);
  EXPECT_FALSE(w.Atgal.Enabled());
  EXPECT_FALSE(w.OK.Enabled());
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(MainFormTest, SearchSelectsTheFirstEntryBeginningWithTheText) {
  struct Case {
    const char* typed;
    int selected;  // -1: the selection stays where it was (position 3)
  } cases[] = {{"b", 2}, {"AN", 0}, {"Bo", 2}, {"c", 3}, {"zz", -1}, {"", -1}, {"nn", -1}};
  auto s = Prepared();
  auto& w = Open(*s.m, s.team);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    w.FindBox.SetText("x");
    w.SarIsh.Select(3);
    w.FindBox.SetText(c.typed);
    EXPECT_EQ(w.SarIsh.SelectedIndex(), c.selected < 0 ? 3 : c.selected);
  }
  EXPECT_EQ(s.m->ErrorLog(), "");
}

TEST_F(MainFormTest, TheDateColumnShowsTheLastUpdateDayOrNothing) {
  struct Case {
    const char* stored;
    const char* shown;
  } cases[] = {
      {"1/1/1990", ""},
      {"6/15/2026 3:04:05 PM", "6/15/2026"},
      {"12/31/2025", "12/31/2025"},
      {"1/1/1990 12:00:01 AM", "1/1/1990"},
      {"1/2/1990", "1/2/1990"},
      {"garbage", ""},  // no date: never updated
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    auto s = Prepared("m" + std::to_string(n++));
    auto& m = *s.m;
    StoreRecipient(m, s.teamId, s.people[2], "bob@example.org", true, c.stored);
    auto& w = Open(m, s.team);
    ASSERT_EQ(w.SarI.Count(), 1u);
    EXPECT_EQ(w.SarI.Item(0).SubItem(1), c.shown);
    EXPECT_EQ(w.SarIsh.Item(2).SubItem(1), c.shown);
    EXPECT_EQ(w.SarIsh.Item(0).SubItem(1), "") << "not a recipient: never updated";
  }
}

TEST_F(MainFormTest, ARecipientWhoseContactIsGoneIsLeftOutAndClearedBySave) {
  auto s = Prepared();
  auto& m = *s.m;
  const std::string gone = VanishedContactId(m);
  StoreRecipient(m, s.teamId, gone, "Gone", "gone@example.org");
  StoreRecipient(m, s.teamId, s.people[2], "bob@example.org");
  auto& w = Open(m, s.team);
  EXPECT_EQ(Tags(w.SarI), std::vector<std::string>{s.people[2]->EntryID()});
  EXPECT_TRUE(w.SaveBut.Click());
  EXPECT_EQ(Bool(m, s.teamId, gone), "0");
  EXPECT_EQ(Bool(m, s.teamId, s.people[2]->EntryID()), "1");
  EXPECT_EQ(m.ErrorLog(), "");
}

// A recipient whose contact lies in a personal folders file that is not
// open cannot be looked up, but it is not gone: it stays chosen under the
// name recorded for it, the look-up failure is logged, and a save keeps it.
TEST_F(MainFormTest, ARecipientOutOfReachIsKeptNotDropped) {
  auto s = Prepared();
  auto& m = *s.m;
  auto session = m.app->Session();
  session->AddStore((Scratch() / "people.pst").string());
  auto root = session->Folders()->GetLast();
  auto far = NewContact(m, NewFolder(root, "Far"), "Far Away", "far@example.org");
  const std::string farId = far->EntryID();
  StoreRecipient(m, s.teamId, far, "far@example.org");
  session->RemoveStore(root);

  auto& w = Open(m, s.team);
  EXPECT_EQ(Entries(w.SarI), std::vector<std::string>{"Far Away|far@example.org|" + farId + "|"});
  EXPECT_EQ(m.LoggedErrorNames(), std::vector<std::string>{"MainForm_LoadList2"});
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_TRUE(w.SaveBut.Click());
  EXPECT_EQ(Bool(m, s.teamId, farId), "1");
}

// A stored "LastUpdate" that is no date reads as never updated: the
// recipients after it are listed too, and a save keeps every one enabled.
TEST_F(MainFormTest, ARecipientWhoseLastUpdateIsNoDateIsListedAndKept) {
  auto s = Prepared();
  auto& m = *s.m;
  StoreRecipient(m, s.teamId, s.people[0], "ann1@example.org", true, "6/15/2026");
  StoreRecipient(m, s.teamId, s.people[2], "bob@example.org", true, "garbage");
  StoreRecipient(m, s.teamId, s.people[3], "cy@example.org", true, "1/2/2026");
  auto& w = Open(m, s.team);
  EXPECT_EQ(Entries(w.SarI), (std::vector<std::string>{Entry(s.people[0], "ann1@example.org", "6/15/2026"),
                                                       Entry(s.people[2], "bob@example.org"),
                                                       Entry(s.people[3], "cy@example.org", "1/2/2026")}));
  EXPECT_TRUE(w.SaveBut.Click());
  for (std::size_t i : {0u, 2u, 3u}) EXPECT_EQ(Bool(m, s.teamId, s.people[i]->EntryID()), "1") << i;
  EXPECT_EQ(m.ErrorLog(), "");
}

// Save switches every recipient off and the listed ones on again through
// Update_Entry, which refuses the user's own addresses: a recipient whose
// address has become one of them since it was chosen ends disabled.
TEST_F(MainFormTest, SaveDisablesARecipientWhoseAddressIsNowTheUsersOwn) {
  auto s = Prepared();
  auto& m = *s.m;
  StoreRecipient(m, s.teamId, s.people[0], "ann1@example.org");
  StoreRecipient(m, s.teamId, s.people[2], "bob@example.org");
  m.Reg().SetValue(testing::ProfileKeyPath(), "MyMails", testing::StoredMyMails({"bob@example.org"}), 1);
  auto& w = Open(m, s.team);
  ASSERT_EQ(Tags(w.SarI), (std::vector<std::string>{s.people[0]->EntryID(), s.people[2]->EntryID()}));
  EXPECT_TRUE(w.SaveBut.Click());
  EXPECT_FALSE(w.IsVisible());
  EXPECT_EQ(Bool(m, s.teamId, s.people[0]->EntryID()), "1");
  EXPECT_EQ(Bool(m, s.teamId, s.people[2]->EntryID()), "0");
  EXPECT_EQ(m.ErrorLog(), "");
}

// Save is one write of the key store: when switching a listed recipient on
// again fails, no recipient is left switched off and the wizard stays open.
TEST_F(MainFormTest, ASaveThatFailsHalfWayChangesNoRecipient) {
  auto s = Prepared();
  auto& m = *s.m;
  m.ctx->ReportSent = true;  // a logged failure asks nothing
  for (std::size_t i : {0u, 2u, 3u}) StoreRecipient(m, s.teamId, s.people[i], "x@example.org");
  auto& w = Open(m, s.team);
  w.SarI.Select(2);
  ASSERT_TRUE(w.Atgal.Click());  // Cy leaves the list
  const std::string bob = s.people[2]->EntryID();
  int bobWrites = 0;  // switched off, then on again: the second fails
  testing::ProbeKeyStore probe(*m.hive);
  probe.failIf = [&](std::string_view op, std::string_view path) {
    return op == "SetValue" && path.ends_with(bob) && ++bobWrites == 2;
  };
  m.addinHive = &probe;
  EXPECT_TRUE(w.SaveBut.Click());
  m.addinHive = nullptr;

  EXPECT_EQ(bobWrites, 2);
  EXPECT_TRUE(w.IsVisible());
  for (std::size_t i : {0u, 2u, 3u}) EXPECT_EQ(Bool(m, s.teamId, s.people[i]->EntryID()), "1") << i;
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"Update_Entry", "MainForm_SaveChanges"}));
}

TEST_F(MainFormTest, SaveStoresTheChoiceAndWhetherTheFolderCanSend) {
  struct Case {
    const char* what;
    std::vector<int> keep;  // stored recipients (Ann, Bob) left in the list, by position
    bool addMember;         // add Team's own contact, which is not in the default contacts folder
    const char* updateable;
  } cases[] = {
      {"no recipient left", {}, false, "2"},
      {"a recipient of the default contacts", {1}, false, "1"},
      {"only a contact outside the default contacts", {}, true, "2"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = Prepared("m" + std::to_string(n++));
    auto& m = *s.m;
    StoreRecipient(m, s.teamId, s.people[0], "ann1@example.org");
    StoreRecipient(m, s.teamId, s.people[2], "bob@example.org");
    m.Reg().SetValue(Key(s.teamId + "\\List"), "L1", std::string("1"), 1);
    m.Reg().SetValue(Key(s.teamId + "\\mapping"), "L1", std::string("C1"), 1);
    m.Reg().CreateKey(Key(s.teamId + "\\Import"));
    m.Reg().SetValue(Updateable(), s.teamId, std::string("1"), 1);
    int refreshed = 0;
    m.ctx->Exps->RefreshUpdateButtons = [&] { ++refreshed; };

    auto& w = Open(m, s.team);
    for (int i = 1; i >= 0; --i) {
      if (std::find(c.keep.begin(), c.keep.end(), i) != c.keep.end()) continue;
      w.SarI.Select(i);
      w.Atgal.Click();
    }
    if (c.addMember) {
      w.ParinkFolder.DropDown();
      w.ParinkFolder.SetListIndex(1);
      ASSERT_EQ(w.FolderList()[1], s.teamId + " Team");
      w.go.Click();
      w.SarIsh.Select(0);
      w.Pirmyn.Click();
    }
    EXPECT_TRUE(w.SaveBut.Click());

    EXPECT_FALSE(w.IsVisible());
    EXPECT_EQ(w.ShareFolder, nullptr);
    EXPECT_EQ(UpdateableValue(m, s.teamId), c.updateable);
    const bool annKept = std::find(c.keep.begin(), c.keep.end(), 0) != c.keep.end();
    const bool bobKept = std::find(c.keep.begin(), c.keep.end(), 1) != c.keep.end();
    EXPECT_EQ(Bool(m, s.teamId, s.people[0]->EntryID()), annKept ? "1" : "0");
    EXPECT_EQ(Bool(m, s.teamId, s.people[2]->EntryID()), bobKept ? "1" : "0");
    for (const char* data : {"List", "mapping", "Import"}) {
      EXPECT_EQ(m.Reg().GetString(Key(s.teamId + "\\" + data), "Bool", "<absent>"), "<absent>") << data;
    }
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(MainFormTest, SaveRecordsNewRecipientsWithTheirNameAndAddress) {
  auto s = Prepared();
  auto& m = *s.m;
  auto& w = Open(m, s.team);
  w.SarIsh.Select(2);
  w.Pirmyn.Click();
  EXPECT_TRUE(w.SaveBut.Click());
  const std::string key = RecipientKey(s.teamId, s.people[2]->EntryID());
  EXPECT_EQ(m.Reg().GetString(key, "Bool", ""), "1");
  EXPECT_EQ(m.Reg().GetString(key, "Name", ""), "Bob");
  EXPECT_EQ(m.Reg().GetString(key, "eMail", ""), "bob@example.org");
  EXPECT_EQ(m.Reg().GetString(key, "LastUpdate", ""), "1/1/1990");
  EXPECT_EQ(UpdateableValue(m, s.teamId), "1");
}

TEST_F(MainFormTest, CancelStoresNothing) {
  auto s = Prepared();
  auto& m = *s.m;
  StoreRecipient(m, s.teamId, s.people[0], "ann1@example.org");
  auto& w = Open(m, s.team);
  w.SarI.Select(0);
  w.Atgal.Click();
  w.SarIsh.Select(2);
  w.Pirmyn.Click();
  EXPECT_TRUE(w.Cancel.Click());
  EXPECT_FALSE(w.IsVisible());
  EXPECT_EQ(w.ShareFolder, nullptr);
  EXPECT_EQ(Bool(m, s.teamId, s.people[0]->EntryID()), "1");
  EXPECT_EQ(Bool(m, s.teamId, s.people[2]->EntryID()), "<absent>");
  EXPECT_EQ(UpdateableValue(m, s.teamId), "<absent>");
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(MainFormTest, ANewContactIsRecordedAtOnce) {
  struct Case {
    const char* what;
    bool fromTeam;  // "Update" on Team first: the contact goes there
    bool saved;     // the person saves the contact
  } cases[] = {
      {"saved in the default contacts", false, true},
      {"saved in the folder listed", true, true},
      {"not saved", false, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = Prepared("m" + std::to_string(n++));
    auto& m = *s.m;
    auto& w = Open(m, s.team);
    if (c.fromTeam) {
      w.ParinkFolder.DropDown();
      w.ParinkFolder.SetListIndex(1);
      w.go.Click();
    }
    const std::size_t listed = w.SarIsh.Count();
    m.user.ExpectForm("ContactEditor", [&](platform::Form& editor) {
      editor.Get<platform::TextBox>("FullName").SetText("Dora");
      editor.Get<platform::TextBox>("Email1Address").SetText("dora@example.org");
      if (c.saved) editor.FindButton("Save and Close")->Click();
    });
    EXPECT_TRUE(w.Naujas.Click());
    EXPECT_EQ(m.user.Problems(), "");

    auto folder = c.fromTeam ? s.team : Contacts(m);
    std::string id;
    auto items = folder->Items();
    for (int i = 1; i <= items->Count(); ++i) {
      auto contact = std::dynamic_pointer_cast<host::ContactItem>(items->Item(i));
      if (contact && contact->FullName() == "Dora") id = contact->EntryID();
    }
    if (!c.saved) {
      EXPECT_EQ(id, "");
      EXPECT_EQ(w.SarI.Count(), 0u);
      EXPECT_EQ(w.SarIsh.Count(), listed);
      EXPECT_EQ(UpdateableValue(m, s.teamId), "<absent>");
      continue;
    }
    ASSERT_NE(id, "");
    const std::string entry = "Dora|dora@example.org|" + id + "|";
    EXPECT_EQ(Entries(w.SarI), std::vector<std::string>{entry});
    EXPECT_EQ(Entries(w.SarIsh).back(), entry);
    EXPECT_TRUE(w.OK.Enabled());
    EXPECT_TRUE(w.Atgal.Enabled());
    // Recorded before any save, and kept when the wizard is cancelled.
    EXPECT_TRUE(w.Cancel.Click());
    const std::string key = RecipientKey(s.teamId, id);
    EXPECT_EQ(m.Reg().GetString(key, "Bool", ""), "1");
    EXPECT_EQ(m.Reg().GetString(key, "Name", ""), "Dora");
    EXPECT_EQ(m.Reg().GetString(key, "eMail", ""), "dora@example.org");
    EXPECT_EQ(m.Reg().GetString(key, "LastUpdate", ""), "1/1/1990");
    EXPECT_EQ(UpdateableValue(m, s.teamId), "1");
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(MainFormTest, OptionsOpensTheOptionsWindowModally) {
  auto s = Prepared();
  auto& m = *s.m;
  m.Reg().SetValue(testing::ProfileKeyPath(), "Dont_Receive", std::string("1"));
  auto& w = Open(m, s.team);
  bool checked = false;
  m.user.ExpectForm("AdvSettings", [&](platform::Form& f) {
    checked = static_cast<AdvSettings&>(f).DontReceive.Checked();
  });
  EXPECT_TRUE(w.Advanced.Click());
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_TRUE(checked) << "the stored settings are read first";
  EXPECT_TRUE(w.IsVisible());
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(MainFormTest, ClosingTheLastWindowUnloadsTheWizard) {
  auto s = Prepared();
  auto& m = *s.m;
  auto& w = Open(m, s.team);
  ASSERT_TRUE(w.IsLoaded());
  m.app->ActiveExplorer()->Close();
  EXPECT_FALSE(m.ctx->HasForm<MainForm>());
  EXPECT_EQ(m.ctx->App, nullptr);
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_TRUE(m.app->EscapedErrors().empty());
}

}  // namespace
}  // namespace plexisync

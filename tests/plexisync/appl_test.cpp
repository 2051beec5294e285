#include "plexisync/core/appl.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "addin_fixture.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/explorers.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/my_mails.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;
using testing::ProfileKeyPath;
using testing::StoredMyMails;

class ApplTest : public testing::AddinTest {
 protected:
  // Every subkey and value name under the profile key, as "key\" and "value".
  static std::vector<std::string> ProfileContents(AddinMachine& m) {
    std::vector<std::string> out;
    for (const auto& v : m.Reg().GetAllValueNames(ProfileKeyPath())) out.push_back(v);
    for (const auto& k : m.Reg().GetAllSubKeys(ProfileKeyPath())) out.push_back(k + "\\");
    return out;
  }
  static bool IsGone(AddinMachine& m, const std::string& entryId) {
    try {
      m.app->Session()->GetItemFromID(entryId);
      return false;
    } catch (const host::HostError&) {
      return true;
    }
  }
};

TEST_F(ApplTest, FirstStartOnACleanProfile) {
  auto& m = Machine();
  bool firstRunWhileShown = false;
  bool modal = false;
  m.ExpectFirstStart(true, [&](platform::Form& f) {
    auto& form = dynamic_cast<frmMyMails&>(f);
    firstRunWhileShown = form.FirstRun;
    modal = form.IsModal();
    ASSERT_EQ(form.MyMails.ListCount(), 1);
    EXPECT_EQ(form.MyMails.List(0), "me@example.com");
    form.Accept.Click();
  });

  m.Start();

  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_TRUE(m.Reg().KeyExists(ProfileKeyPath()));
  EXPECT_EQ(m.Setting("version"), "0.09.0000");
  EXPECT_EQ(m.Setting("MyMails"), StoredMyMails({"me@example.com"}));
  EXPECT_EQ(m.ctx->RegKey, ProfileKeyPath());
  EXPECT_EQ(m.ctx->InstDir, m.InstDir());
  EXPECT_TRUE(firstRunWhileShown);
  EXPECT_TRUE(modal);
  EXPECT_FALSE(m.ctx->Form<frmMyMails>().FirstRun);
  // Closing the own-address window at the first start does not bring the
  // options window up; the options window is loaded hidden.
  auto& options = m.ctx->Form<AdvSettings>();
  EXPECT_TRUE(options.IsLoaded());
  EXPECT_FALSE(options.IsVisible());
  // The subscriptions and the explorer wrapper.
  EXPECT_TRUE(m.appl->WatchesInbox());
  EXPECT_TRUE(m.appl->WatchesDeletedItems());
  EXPECT_TRUE(m.appl->WatchesSentItems());
  ASSERT_NE(m.ctx->Exps, nullptr);
  ASSERT_EQ(m.ctx->Exps->ExpCol.size(), 1u);
  EXPECT_EQ(m.ctx->Exps->ExpCol[0]->id, 1);
  EXPECT_EQ(m.ctx->ActiveExpId, 1);
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_TRUE(m.app->EscapedErrors().empty());
}

// Makes a fresh folder the working folder while it lives, so that a file
// written relative to the working folder shows up there.
class InWorkingFolder {
 public:
  explicit InWorkingFolder(const std::filesystem::path& dir) : before_(std::filesystem::current_path()) {
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
  }
  ~InWorkingFolder() { std::filesystem::current_path(before_); }
  InWorkingFolder(const InWorkingFolder&) = delete;
  InWorkingFolder& operator=(const InWorkingFolder&) = delete;

 private:
  std::filesystem::path before_;
};

// The installation folder is never a relative name: before Init it is not
// known (a logged error cannot be written and shows the logger's own box),
// from Init on it is the profile's own add-in folder, and SetUp replaces it
// by the stored "InstDir" when there is one.
TEST_F(ApplTest, TheInstallationFolderDefaultsToTheProfilesAddinFolder) {
  struct Case {
    const char* name;
    const char* stored;  // nullptr: absent; "*": a folder of its own
  } cases[] = {{"absent", nullptr}, {"empty", ""}, {"elsewhere", "*"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MachineOptions options;
    options.name = c.name;
    auto& m = Machine(options);
    const std::string profileFolder = m.profile.InstallDirText();
    std::string expected = profileFolder;
    if (c.stored == nullptr) {
      m.Reg().DeleteValue(kProductKey, "InstDir");
    } else if (std::string(c.stored) == "*") {
      expected = (Scratch() / (std::string(c.name) + "-inst")).string() + "/";
      std::filesystem::create_directories(expected);
      m.Reg().SetValue(kProductKey, "InstDir", expected);
    } else {
      m.Reg().SetValue(kProductKey, "InstDir", std::string(c.stored));
    }
    const auto work = Scratch() / (std::string(c.name) + "-work");
    InWorkingFolder inWork(work);
    m.ctx->ReportSent = true;  // no report question in this test

    m.user.ExpectMessage("Error in Error_logger:)");
    Error_logger(*m.ctx, "before Init", "AppInit", "");
    EXPECT_EQ(m.user.Problems(), "");

    m.appl->Init(*m.app);
    EXPECT_EQ(m.ctx->InstDir, profileFolder);
    Error_logger(*m.ctx, "after Init", "AppSetUp", "");

    m.SeedReturningUser();
    m.appl->SetUp();
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(m.ctx->InstDir, expected);
    Error_logger(*m.ctx, "after SetUp", "AppSetUp", "");

    const std::string profileLog = platform::ReadTextFile(profileFolder + "errors.log");
    EXPECT_NE(profileLog.find(" after Init "), std::string::npos);
    EXPECT_NE(platform::ReadTextFile(expected + "errors.log").find(" after SetUp "), std::string::npos);
    EXPECT_EQ(profileLog.find(" before Init "), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(work)) << "nothing written relative to the working folder";
  }
}

TEST_F(ApplTest, FirstStartMessageComesOnceAndTheSecondStartAsksNothing) {
  auto& m = Machine();
  m.ExpectFirstStart();
  m.Start();
  ASSERT_EQ(m.user.Problems(), "");
  // The first-start message in full, with its title and only an OK button,
  // then the client's own access question.
  EXPECT_EQ(m.MessagesShown(),
            (std::vector<std::string>{
                "Message \"Plexisync\" [OK]:\n"
                "  You have launched Plexisync for the first time. Now you will be asked for access. "
                "To allow Plexisync function properly, you should enable the access.",
                "Message \"Security Warning\" (exclamation) [Yes / No]:\n"
                "  A program is trying to access e-mail addresses you have stored. Do you want to allow this?"}));
  const std::string myMails = m.Setting("MyMails");

  m.Restart();
  const auto transcriptBefore = m.user.Transcript().size();
  const auto messagesBefore = m.MessagesShown().size();
  m.Start();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.Setting("version"), "0.09.0000");
  EXPECT_EQ(m.Setting("MyMails"), myMails);
  EXPECT_EQ(m.ErrorLog(), "");
  // No message box and no modal window this time.
  EXPECT_EQ(m.MessagesShown().size(), messagesBefore);
  for (std::size_t i = transcriptBefore; i < m.user.Transcript().size(); ++i) {
    EXPECT_EQ(m.user.Transcript()[i].find("Shown modally"), std::string::npos) << m.user.Transcript()[i];
  }
}

TEST_F(ApplTest, SecondStartKeepsTheStoredData) {
  auto& m = Machine();
  m.SeedReturningUser({"a@x.com", "b@x.com"});
  m.Reg().SetValue(ProfileKeyPath() + "Folder1\\Rec1", "Bool", std::string("1"));
  m.Reg().SetValue(ProfileKeyPath() + "mapping", "corr", std::string("local"));
  m.Start();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.Setting("MyMails"), StoredMyMails({"a@x.com", "b@x.com"}));
  EXPECT_EQ(m.Reg().GetString(ProfileKeyPath() + "Folder1\\Rec1", "Bool", ""), "1");
  EXPECT_EQ(m.Reg().GetString(ProfileKeyPath() + "mapping", "corr", ""), "local");
}

TEST_F(ApplTest, AnyOtherVersionResetsTheProfileKey) {
  // A missing "version" counts as an old one, and the text must match exactly.
  const char* const versions[] = {nullptr, "0", "0.08.0000", "0.09.0001", "0.09.0000 ", "0.09.000", ""};
  int n = 0;
  for (const char* version : versions) {
    SCOPED_TRACE(version ? std::string("\"") + version + "\"" : "absent");
    testing::MachineOptions options;
    options.name = "m" + std::to_string(n++);
    auto& m = Machine(options);
    const std::string key = ProfileKeyPath();
    if (version) m.Reg().SetValue(key, "version", std::string(version));
    m.Reg().SetValue(key, "MyMails", StoredMyMails({"old@x.com"}));
    m.Reg().SetValue(key, "Send_Updated", std::string("0"));
    m.Reg().SetValue(key + "mapping", "c1", std::string("l1"));
    m.Reg().SetValue(key + "Updateable", "f1", std::string("1"));
    m.Reg().SetValue(key + "Folder1", "Name", std::string("x"));
    m.Reg().SetValue(key + "Folder1\\Rec1", "Bool", std::string("1"));
    m.Reg().SetValue(key + "Folder1\\Rec2", "LastUpdate", std::string("1/1/2020"));
    m.Reg().CreateKey(key + "Folder2\\Import");

    // "MyMails" is gone with the rest, so the first-start step runs again.
    m.ExpectFirstStart();
    m.Start();

    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(ProfileContents(m), (std::vector<std::string>{"version", "MyMails"}));
    EXPECT_EQ(m.Setting("version"), "0.09.0000");
    EXPECT_EQ(m.Setting("MyMails"), StoredMyMails({"me@example.com"}));
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(ApplTest, ResetReachesTwoLevelsBelowTheProfileKey) {
  auto& m = Machine();
  const std::string key = ProfileKeyPath();
  m.Reg().SetValue(key, "version", std::string("0.08.0000"));
  m.Reg().SetValue(key, "MyMails", StoredMyMails({"old@x.com"}));
  m.Reg().SetValue(key + "Folder1", "Name", std::string("x"));
  m.Reg().CreateKey(key + "Deep\\Level2\\Level3");

  // The profile key keeps a subkey, so it is not deleted: its values stay
  // and no first-start step follows.
  m.Start();

  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_FALSE(m.Reg().KeyExists(key + "Folder1"));
  EXPECT_TRUE(m.Reg().KeyExists(key + "Deep\\Level2\\Level3"));
  EXPECT_EQ(m.Setting("version"), "0.09.0000");
  EXPECT_EQ(m.Setting("MyMails"), StoredMyMails({"old@x.com"}));
}

TEST_F(ApplTest, EmptyCurrentUserAddressStoresAnEmptyList) {
  testing::MachineOptions options;
  options.address = "";
  auto& m = Machine(options);
  m.ExpectFirstStart(true, [](platform::Form& f) {
    EXPECT_EQ(dynamic_cast<frmMyMails&>(f).MyMails.ListCount(), 0);
  });
  m.Start();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.Setting("MyMails"), "");
  EXPECT_EQ(m.ErrorLog(), "");

  m.Restart();
  m.Start();
  EXPECT_EQ(m.user.Problems(), "") << "no first-start message on the next start";
}

TEST_F(ApplTest, RefusedAccessStoresAnEmptyListAndStartUpGoesOn) {
  auto& m = Machine();
  m.ExpectFirstStart(false);
  m.Start();
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.Setting("MyMails"), "");
  EXPECT_EQ(m.ErrorLog(), "") << "a refused access is not logged";
  ASSERT_NE(m.ctx->Exps, nullptr);
  EXPECT_TRUE(m.ctx->Form<AdvSettings>().IsLoaded());
}

TEST_F(ApplTest, UpdateMailsInSentItemsAndDeletedItemsAreDeleted) {
  struct Case {
    int folder;
    const char* subject;
    bool deleted;
  } cases[] = {
      {host::kFolderSentMail, "3830308006600", true},
      {host::kFolderDeletedItems, "3830308006600", true},
      {host::kFolderSentMail, "3830308006600 ", false},
      {host::kFolderDeletedItems, "3830308006600 ", false},
      {host::kFolderSentMail, " 3830308006600", false},
      {host::kFolderDeletedItems, "383030800660", false},
      {host::kFolderSentMail, "Hello", false},
  };
  auto& m = Machine();
  m.StartReturning();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.subject) + " in folder " + std::to_string(c.folder));
    auto item = m.SaveMailIn(c.folder, c.subject);
    const std::string id = item->EntryID();
    m.DoEvents();
    if (c.deleted) {
      // From Sent Items it goes to Deleted Items, where it is deleted for good.
      EXPECT_TRUE(IsGone(m, id));
    } else {
      ASSERT_FALSE(IsGone(m, id));
      EXPECT_TRUE(m.app->Session()->GetItemFromID(id)->Parent()->IsSameAs(*m.DefaultFolder(c.folder)));
    }
  }
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_TRUE(m.app->EscapedErrors().empty());
}

TEST_F(ApplTest, UpdateMailInTheInboxIsLeftToTheInboxProcessing) {
  auto& m = Machine();
  m.StartReturning();
  const std::string id = m.SaveMailIn(host::kFolderInbox, "3830308006600")->EntryID();
  m.DoEvents();
  EXPECT_FALSE(IsGone(m, id));
}

TEST_F(ApplTest, EveryInboxArrivalRunsTheInboxProcessing) {
  auto& m = Machine();
  m.StartReturning();
  int runs = 0;
  m.appl->ProceedInbox = [&] { ++runs; };
  m.SaveMailIn(host::kFolderInbox, "3830308006600");
  m.SaveMailIn(host::kFolderInbox, "Lunch?");
  m.SaveMailIn(host::kFolderSentMail, "Not the inbox");
  m.DoEvents();
  EXPECT_EQ(runs, 2);
}

TEST_F(ApplTest, InboxProcessingFailuresEndQuietly) {
  auto& m = Machine();
  m.StartReturning();
  m.appl->ProceedInbox = [] { throw std::runtime_error("broken"); };
  m.SaveMailIn(host::kFolderInbox, "x");
  m.DoEvents();
  EXPECT_TRUE(m.app->EscapedErrors().empty());
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_EQ(m.user.Problems(), "");
  // Without a hook nothing happens either.
  m.appl->ProceedInbox = nullptr;
  m.SaveMailIn(host::kFolderInbox, "y");
  m.DoEvents();
  EXPECT_TRUE(m.app->EscapedErrors().empty());
}

TEST_F(ApplTest, DeletingHandlersOnFailureAndWithoutAnItem) {
  auto& m = Machine();
  m.StartReturning();
  // sh_ItemAdd: a null item and any failure are passed over.
  m.appl->sh_ItemAdd(nullptr);
  const std::string sentId = m.SaveMailIn(host::kFolderSentMail, "3830308006600")->EntryID();
  m.app->Faults().FailEvery("MailItem.Delete");
  m.DoEvents();
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_FALSE(IsGone(m, sentId));

  // sent_ItemAdd logs under "App_SentAdd".
  m.app->Faults().Clear();
  m.SaveMailIn(host::kFolderDeletedItems, "3830308006600");
  m.app->Faults().FailEvery("MailItem.Delete");
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  m.DoEvents();
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"App_SentAdd"}));
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_TRUE(m.app->EscapedErrors().empty());
}

TEST_F(ApplTest, ClassTerminateDropsTheSubscriptions) {
  auto& m = Machine();
  m.StartReturning();
  int runs = 0;
  m.appl->ProceedInbox = [&] { ++runs; };
  m.appl->Class_Terminate();
  EXPECT_FALSE(m.appl->WatchesInbox());
  EXPECT_FALSE(m.appl->WatchesDeletedItems());
  EXPECT_FALSE(m.appl->WatchesSentItems());
  const std::string id = m.SaveMailIn(host::kFolderSentMail, "3830308006600")->EntryID();
  m.SaveMailIn(host::kFolderInbox, "x");
  m.DoEvents();
  EXPECT_FALSE(IsGone(m, id));
  EXPECT_EQ(runs, 0);
  m.appl->Class_Terminate();  // a second time changes nothing
}

TEST_F(ApplTest, InitStoresTheApplicationOnly) {
  auto& m = Machine();
  m.appl->Init(*m.app);
  EXPECT_EQ(m.ctx->App, m.app.get());
  EXPECT_EQ(m.ctx->Reg, nullptr);
  EXPECT_EQ(m.ctx->Exps, nullptr);
  EXPECT_FALSE(m.Reg().KeyExists(ProfileKeyPath()));
}

TEST_F(ApplTest, SetUpWithoutInitIsLoggedAndReachesNobody) {
  auto& m = Machine();
  m.SeedReturningUser();
  m.appl->SetUp();
  // The registry start-up ran; the first host call failed.
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"AppSetUp"}));
  EXPECT_NE(m.ctx->Reg, nullptr);
  EXPECT_EQ(m.ctx->Exps, nullptr);
  EXPECT_EQ(m.user.Problems(), "") << "no report question without the application";
}

TEST_F(ApplTest, AFailureInAnyHostCallOfStartUpIsLoggedAndStartUpEnds) {
  // Every host call of a first start, in order, and the error name its
  // failure is logged under: "AppSetUp" for the calls of SetUp itself, the
  // name of the routine for those made inside a routine with a handler of
  // its own, "" where the failure is passed over (reading the current
  // user's address; reaching the send/receive group).
  struct Step {
    const char* operation;
    const char* loggedAs;
    const char* thenLogged = nullptr;  // a second record, by the caller of a routine that logged
  };
  const Step steps[] = {
      {"Application.Session", "AppSetUp"},
      {"NameSpace.GetDefaultFolder", "AppSetUp"},
      {"Folder.Items", "AppSetUp"},
      {"Items.ItemAdd", "AppSetUp"},
      {"NameSpace.GetDefaultFolder", "AppSetUp"},
      {"Folder.Items", "AppSetUp"},
      {"Items.ItemAdd", "AppSetUp"},
      {"NameSpace.GetDefaultFolder", "AppSetUp"},
      {"Folder.Items", "AppSetUp"},
      {"Items.ItemAdd", "AppSetUp"},
      {"Application.Session", ""},
      {"NameSpace.CurrentUser", ""},
      {"Recipient.Address", ""},  // the access question comes after this call's check
      {"NameSpace.CurrentUser", ""},
      {"Recipient.Address", ""},
      {"Application.Explorers", "Explorers_Initialize"},
      {"Application.Session", ""},
      {"NameSpace.SyncObjects", ""},
      {"SyncObjects.Item", ""},
      {"Application.ActiveExplorer", "Create_Explorers"},
      {"Explorer.CurrentFolder", "Create_Explorers"},
      {"Folder.DefaultItemType", "Create_Explorers"},
      // The first window's folder switch: its toolbar (passed over; the
      // buttons are then bound to nothing), the buttons, the full view of
      // the folder twice (quiet), the menu, its items (passed over), the
      // import key of the folder and the Update command.
      {"Explorer.CommandBars", "Folder_OnSwitch"},
      {"Explorer.CommandBars", "Add_CommandBar", "Folder_OnSwitch"},
      {"Explorer.CurrentView", ""},
      {"Folder.ViewXml", ""},
      {"Folder.ViewXml", ""},
      {"Explorer.SetCurrentView", ""},
      {"Folder.ViewXml", ""},
      {"Folder.SetViewXml", ""},
      {"Explorer.CurrentView", ""},
      {"Folder.ViewXml", ""},
      {"Explorer.SetCurrentView", ""},
      {"Folder.ViewXml", ""},
      {"Folder.SetViewXml", ""},
      {"Explorer.CurrentFolder", "Folder_OnSwitch"},
      {"Explorer.CommandBars", ""},
      {"Explorer.CommandBars", "Add_Menu"},
      {"Explorer.CurrentFolder", "Add_Menu"},
      {"Folder.DefaultItemType", "Add_Menu"},
      {"Explorer.CommandBars", ""},
      {"Explorer.CurrentFolder", ""},
      {"Folder.EntryID", ""},
      {"Folder.EntryID", "Folder_OnSwitch"},
      {"Explorer.CommandBars", ""},
      {"Explorer.CurrentFolder", "Disable_Update_Button"},
      {"Folder.DefaultItemType", "Disable_Update_Button"},
  };
  const std::size_t firstAddressRead = 13;  // 1-based position of the first Recipient.Address
  const std::size_t firstStartStep = 11;    // first call of the first-start step

  {
    testing::MachineOptions options;
    options.name = "recorded";
    auto& m = Machine(options);
    m.ExpectFirstStart();
    m.appl->Init(*m.app);
    m.app->Faults().SetRecording(true);
    m.appl->SetUp();
    ASSERT_EQ(m.user.Problems(), "");
    ASSERT_EQ(m.ErrorLog(), "");
    std::vector<std::string> expected;
    for (const auto& s : steps) expected.push_back(s.operation);
    ASSERT_EQ(m.app->Faults().Recorded(), expected);
  }

  for (std::size_t n = 1; n <= std::size(steps); ++n) {
    const Step& step = steps[n - 1];
    const std::string loggedAs = step.loggedAs;
    SCOPED_TRACE("call " + std::to_string(n) + ": " + step.operation);
    testing::MachineOptions options;
    options.name = "m" + std::to_string(n);
    auto& m = Machine(options);
    m.appl->Init(*m.app);
    m.app->Faults().FailNthCall(n);

    if (n >= firstStartStep) {
      m.user.ExpectMessage(testing::kFirstStartText, platform::MsgBoxResult::Ok);
      if (n > firstAddressRead) m.user.ExpectMessage(testing::kAddressGuardText, platform::MsgBoxResult::Yes);
      m.user.ExpectForm("frmMyMails");
    }
    std::vector<std::string> logged;
    if (!loggedAs.empty()) logged.push_back(loggedAs);
    if (step.thenLogged) logged.push_back(step.thenLogged);
    for (std::size_t k = 0; k < logged.size(); ++k) {
      m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
    }

    try {
      m.appl->SetUp();
    } catch (...) {
      ADD_FAILURE() << "an exception left SetUp";
    }

    EXPECT_EQ(m.app->Faults().Injected(), 1u);
    EXPECT_EQ(m.LoggedErrorNames(), logged);
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_TRUE(m.app->EscapedErrors().empty());
    EXPECT_EQ(m.Setting("version"), "0.09.0000");
    if (loggedAs == "AppSetUp") {
      // Start-up ends at the failure; what was done stays done.
      EXPECT_EQ(m.ctx->Exps, nullptr);
      EXPECT_FALSE(m.ctx->HasForm<AdvSettings>());
      EXPECT_EQ(m.Setting("MyMails"), "<absent>");
    } else {
      // The failure ended only its own routine: start-up went on to the end.
      EXPECT_NE(m.ctx->Exps, nullptr);
      EXPECT_TRUE(m.ctx->Form<AdvSettings>().IsLoaded());
      EXPECT_EQ(m.Setting("MyMails"), n < firstStartStep + 5 ? "" : StoredMyMails({"me@example.com"}));
    }
  }
}

TEST_F(ApplTest, ClosingTheLastExplorerShutsTheAddinDown) {
  auto& m = Machine();
  m.StartReturning();
  auto first = m.app->ActiveExplorer();
  auto second = m.app->Explorers()->Add(m.DefaultFolder(host::kFolderContacts));
  ASSERT_EQ(m.ctx->Exps->ExpCol.size(), 2u);
  EXPECT_EQ(m.ctx->Exps->ExpCol[1]->id, 2);
  second->Activate();
  EXPECT_EQ(m.ctx->ActiveExpId, 2);
  first->Activate();
  EXPECT_EQ(m.ctx->ActiveExpId, 1);

  first->Close();
  ASSERT_NE(m.ctx->Exps, nullptr);
  ASSERT_EQ(m.ctx->Exps->ExpCol.size(), 1u);
  EXPECT_EQ(m.ctx->Exps->ExpCol[0]->id, 2);
  EXPECT_NE(m.ctx->App, nullptr);

  bool wizardUnloaded = false;
  m.ctx->UnloadMainForm = [&] { wizardUnloaded = true; };
  second->Close();
  EXPECT_TRUE(wizardUnloaded);
  EXPECT_EQ(m.ctx->Exps, nullptr);
  EXPECT_EQ(m.ctx->Reg, nullptr);
  EXPECT_EQ(m.ctx->App, nullptr);
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_TRUE(m.app->EscapedErrors().empty());

  // The deleting handlers need no globals and keep working.
  const std::string id = m.SaveMailIn(host::kFolderSentMail, "3830308006600")->EntryID();
  m.DoEvents();
  EXPECT_TRUE(IsGone(m, id));
  // The inbox processing fails on the released globals, quietly.
  m.appl->ProceedInbox = [&] { m.ctx->app(); };
  m.SaveMailIn(host::kFolderInbox, "x");
  m.DoEvents();
  EXPECT_TRUE(m.app->EscapedErrors().empty());
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(ApplTest, FolderSwitchesFollowTheFolderKind) {
  auto& m = Machine();
  m.StartReturning();
  auto& wrapper = *m.ctx->Exps->ExpCol[0];
  EXPECT_EQ(wrapper.FolderKind, 0) << "the client opens on the Inbox";
  m.app->ActiveExplorer()->SetCurrentFolder(m.DefaultFolder(host::kFolderContacts));
  EXPECT_EQ(wrapper.FolderKind, 1);
  m.app->ActiveExplorer()->SetCurrentFolder(m.DefaultFolder(host::kFolderInbox));
  EXPECT_EQ(wrapper.FolderKind, 0);
  EXPECT_EQ(m.ErrorLog(), "");
}

class SendReceiveTest : public testing::AddinTest {};

TEST_F(SendReceiveTest, StartOfSendReceiveRunsTheUpdateOfAllFolders) {
  struct Case {
    const char* autoUpdate;  // nullptr: absent
    int how;                 // 0 the client's own, 1 SendReceive(), 2 SendReceive(true)
    bool runs;
  } cases[] = {
      {nullptr, 0, true}, {"1", 0, true},  {"0", 0, false}, {nullptr, 1, false},
      {nullptr, 2, true}, {"0", 2, false}, {"True", 2, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(n));
    testing::MachineOptions options;
    options.name = "m" + std::to_string(n++);
    auto& m = Machine(options);
    m.StartReturning();
    if (c.autoUpdate) m.Reg().SetValue(ProfileKeyPath(), "AutoUpdate", std::string(c.autoUpdate));
    std::vector<bool> calls;
    m.ctx->Exps->UpdateAll = [&](bool showProgress) { calls.push_back(showProgress); };
    if (c.how == 0) {
      m.app->Session()->SyncObjects()->Item(1)->Start();
    } else {
      m.ctx->Exps->SendReceive(c.how == 2);
    }
    EXPECT_EQ(calls, c.runs ? std::vector<bool>{false} : std::vector<bool>{});
    EXPECT_TRUE(m.ctx->Exps->AutoSendFlag);
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(SendReceiveTest, FailuresAreLoggedAndTheFlagComesBack) {
  auto& m = Machine();
  m.StartReturning();
  m.ctx->Exps->UpdateAll = [](bool) { throw std::runtime_error("update failed"); };
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  m.ctx->Exps->SendReceive(true);
  m.app->Faults().FailEvery("SyncObject.Start");
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  m.ctx->Exps->SendReceive(false);
  EXPECT_TRUE(m.ctx->Exps->AutoSendFlag);
  EXPECT_EQ(m.LoggedErrorNames(), (std::vector<std::string>{"SendRec_SyncStart", "SendReceive"}));
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_TRUE(m.app->EscapedErrors().empty());
}

}  // namespace
}  // namespace plexisync

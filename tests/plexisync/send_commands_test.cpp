#include "plexisync/send/send_commands.hpp"

#include <gtest/gtest.h>

#include "plexisync/core/explorers.hpp"
#include "plexisync/core/update_buttons.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/confirm_update.hpp"
#include "share_fixture.hpp"

namespace plexisync {
namespace {

using testing::AddinMachine;

class SendCommandsTest : public testing::ShareTest {
 protected:
  // A contacts folder with two contacts, and one recipient of it (a contact
  // of the default contacts folder) with that address.
  struct Shared {
    std::shared_ptr<host::Folder> folder;
    std::string id;
    std::shared_ptr<host::ContactItem> recipient;
  };
  static Shared SharedFolder(AddinMachine& m, const std::string& name, const std::string& recipientAddress) {
    Shared s;
    s.folder = NewFolder(Contacts(m), name);
    NewContact(m, s.folder, name + " one", "one@example.net");
    NewContact(m, s.folder, name + " two", "two@example.net");
    s.id = s.folder->EntryID();
    s.recipient = NewContact(m, Contacts(m), "Reader of " + name, recipientAddress);
    StoreRecipient(m, s.id, s.recipient, recipientAddress);
    m.Reg().SetValue(Updateable(), s.id, std::string("1"), 1);
    return s;
  }
  static std::string LastUpdate(AddinMachine& m, const Shared& s) {
    return m.Reg().GetString(RecipientKey(s.id, s.recipient->EntryID()), "LastUpdate", "<absent>");
  }
  static std::string ConfirmationText(const std::string& folderName) {
    return "You are about to send ALL your contacts in \"" + folderName +
           "\" folder. To send only updated contact items, select the checkbox below.";
  }
  // The number of contact records in an update mail's text.
  static int Records(const std::string& body) {
    int n = 0;
    for (std::size_t at = body.find(":StartOfContact:"); at != std::string::npos;
         at = body.find(":StartOfContact:", at + 1)) {
      ++n;
    }
    return n;
  }
};

TEST_F(SendCommandsTest, TheConfirmationsControls) {
  auto& m = Machine();
  ConfirmUpdate form(*m.ctx);
  EXPECT_EQ(form.Name(), "ConfirmUpdate");
  EXPECT_EQ(form.Caption(), "Plexisync - Confirmation");
  EXPECT_EQ(form.Check.Caption(), "Send only updated items");
  EXPECT_EQ(form.Command1.Caption(), "Yes");
  EXPECT_EQ(form.Command2.Caption(), "No");
  EXPECT_EQ(form.CancelButton(), &form.Command2) << "closing the question sends nothing";
  EXPECT_EQ(form.Cancelled, 1);
}

TEST_F(SendCommandsTest, ShareRefusesAFolderWithoutContacts) {
  struct Case {
    const char* what;
    int type;
    bool withMail;
  } cases[] = {
      {"an empty contacts folder", host::kFolderTypeContacts, false},
      {"a mail folder with a mail", host::kFolderTypeMail, true},
  };
  auto& m = Started();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto folder = NewFolder(Contacts(m)->StoreRoot(), c.what, c.type);
    if (c.withMail) {
      host::PersonScope person(*m.app);
      auto mail = folder->Items()->Add(host::kMailItem);
      mail->SetSubject("hello");
      mail->Save();
    }
    m.user.ExpectMessage("No contact items in selected folder!");
    Share_click(*m.ctx, folder);
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_FALSE(m.ctx->HasForm<MainForm>());
  }
  const auto shown = m.MessagesShown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].rfind("Message \"Plexisync\" (information)", 0), 0u) << shown[0];
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(SendCommandsTest, SaveAndSendSendsTheFolderAndMarksItUpdateable) {
  struct Case {
    const char* what;
    bool withRecipient;
    std::size_t mails;
  } cases[] = {{"a recipient", true, 1}, {"no recipient left", false, 0}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto& m = Started({}, "m" + std::to_string(n++));
    auto s = SharedFolder(m, "Team", "reader@example.org");
    m.Reg().SetValue(Updateable(), s.id, std::string("2"), 1);
    int refreshed = 0;
    m.ctx->Exps->RefreshUpdateButtons = [&] { ++refreshed; };
    Share_click(*m.ctx, s.folder);
    auto& w = Wizard(m);
    if (!c.withRecipient) {
      w.SarI.Select(0);
      w.Atgal.Click();
      EXPECT_FALSE(w.OK.Enabled());
      w.OK_Click();
    } else {
      EXPECT_TRUE(w.OK.Click());
    }
    EXPECT_EQ(UpdateableValue(m, s.id), "1") << "whatever the recipients";
    EXPECT_FALSE(w.IsVisible());
    EXPECT_EQ(w.ShareFolder, nullptr);
    EXPECT_EQ(refreshed, 1);
    const auto mails = UpdateMailsTo("reader@example.org");
    ASSERT_EQ(mails.size(), c.mails);
    if (c.mails) {
      EXPECT_EQ(Records(BodyOf(mails[0])), 2);
      EXPECT_NE(BodyOf(mails[0]).find("Contacts$/$Team$/$:EndOfPath:"), std::string::npos) << BodyOf(mails[0]);
      EXPECT_NE(LastUpdate(m, s), "1/1/1990");
    }
    EXPECT_FALSE(m.ctx->Progress().IsVisible());
    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(SendCommandsTest, AFullSendAsksFirst) {
  struct Case {
    const char* what;
    bool yes;
    bool tick;
    std::size_t mails;
    const char* sendUpdatedAfter;
    bool asksNextTime;
  } cases[] = {
      {"No sends nothing", false, false, 0, "0", true},
      {"Yes sends every contact", true, false, 1, "0", true},
      {"Yes with the box ticked sends only changes from now on", true, true, 1, "1", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto& m = Started({{"Send_Updated", "0"}}, "m" + std::to_string(n++));
    auto s = SharedFolder(m, "Team", "reader@example.org");
    std::string question;
    m.user.ExpectForm("ConfirmUpdate", [&](platform::Form& f) {
      auto& q = static_cast<ConfirmUpdate&>(f);
      question = q.Label2.Caption();
      EXPECT_FALSE(q.Check.Checked());
      if (c.tick) q.Check.Click();
      (c.yes ? q.Command1 : q.Command2).Click();
    });

    Update_Click(*m.ctx, s.folder);

    EXPECT_EQ(m.user.Problems(), "");
    EXPECT_EQ(question, ConfirmationText("Team"));
    EXPECT_EQ(UpdateMailsTo("reader@example.org").size(), c.mails);
    EXPECT_EQ(LastUpdate(m, s) == "1/1/1990", c.mails == 0);
    EXPECT_EQ(m.Setting("Send_Updated"), c.sendUpdatedAfter);
    EXPECT_EQ(m.ctx->Form<AdvSettings>().SendUpdated.Checked(), c.tick);
    EXPECT_FALSE(m.ctx->Progress().IsVisible());

    // The next send of the unchanged folder: asked again unless the box was
    // ticked; with only changes sent, there is nothing to send.
    m.clock.Advance(60);
    if (c.asksNextTime) {
      m.user.ExpectForm("ConfirmUpdate", [](platform::Form& f) { static_cast<ConfirmUpdate&>(f).Command1.Click(); });
    }
    Update_Click(*m.ctx, s.folder);
    EXPECT_EQ(m.user.Problems(), "");
    const auto again = UpdateMailsTo("reader@example.org");
    ASSERT_EQ(again.size(), c.asksNextTime ? 1u : 0u);
    if (!again.empty()) {
      EXPECT_EQ(Records(BodyOf(again[0])), 2) << "every contact";
    }
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(SendCommandsTest, UpdateAllSendsEveryUpdateableFolderAndDropsVanishedOnes) {
  auto& m = Started();
  auto a = SharedFolder(m, "Alpha", "alpha@example.org");
  auto b = SharedFolder(m, "Beta", "beta@example.org");
  m.Reg().SetValue(Updateable(), b.id, std::string("2"), 1);
  auto z = SharedFolder(m, "Zeta", "zeta@example.org");
  m.Reg().SetValue(Updateable(), z.id, std::string("0"), 1);
  auto gone = SharedFolder(m, "Gone", "gone@example.org");
  {
    host::PersonScope person(*m.app);
    gone.folder->Delete();
    gone.folder->Delete();
  }
  // A folder in a personal folders file that is not open: out of reach,
  // not gone.
  auto session = m.app->Session();
  session->AddStore((Scratch() / "far.pst").string());
  auto farRoot = session->Folders()->GetLast();
  auto far = NewFolder(farRoot, "Far");
  NewContact(m, far, "Far one");
  const std::string farId = far->EntryID();
  m.Reg().SetValue(Updateable(), farId, std::string("1"), 1);
  session->RemoveStore(farRoot);
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);

  Update_All_Click(*m.ctx, true);

  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(UpdateMailsTo("alpha@example.org").size(), 1u);
  EXPECT_EQ(UpdateMailsTo("beta@example.org").size(), 0u);
  EXPECT_EQ(UpdateMailsTo("zeta@example.org").size(), 0u);
  EXPECT_EQ(UpdateableValue(m, gone.id), "<absent>");
  EXPECT_EQ(UpdateableValue(m, farId), "1") << "kept";
  EXPECT_EQ(UpdateableValue(m, b.id), "2");
  EXPECT_EQ(UpdateableValue(m, z.id), "0");
  EXPECT_EQ(m.LoggedErrorNames(), std::vector<std::string>{"Update_Click"});
  auto& progress = m.ctx->Progress();
  EXPECT_FALSE(progress.IsVisible());
  EXPECT_EQ(progress.Message().Caption(), "Updating ALL folders. Please be patient...");
  EXPECT_EQ(progress.TheBar().Max(), 5);
  EXPECT_EQ(progress.TheBar().Value(), 5);
}

TEST_F(SendCommandsTest, UpdateAllWithoutProgressLeavesTheProgressWindowAlone) {
  auto& m = Started();
  auto a = SharedFolder(m, "Alpha", "alpha@example.org");
  auto& progress = m.ctx->Progress();
  progress.Message().SetCaption("before");
  Update_All_Click(*m.ctx, false);
  EXPECT_EQ(UpdateMailsTo("alpha@example.org").size(), 1u);
  EXPECT_EQ(progress.Message().Caption(), "before");
  EXPECT_FALSE(progress.IsVisible());
  EXPECT_EQ(m.ErrorLog(), "");
}

// Started by the client's own send/receive, the update of all folders asks
// before each full send, and "No" skips only that folder.
TEST_F(SendCommandsTest, SendReceiveAsksOncePerFolderAndNoSkipsOnlyThatFolder) {
  auto& m = Started({{"Send_Updated", "0"}});
  auto a = SharedFolder(m, "Alpha", "alpha@example.org");
  auto b = SharedFolder(m, "Beta", "beta@example.org");
  auto c = SharedFolder(m, "Gamma", "gamma@example.org");
  std::vector<std::string> asked;
  for (int i = 0; i < 3; ++i) {
    m.user.ExpectForm("ConfirmUpdate", [&](platform::Form& f) {
      auto& q = static_cast<ConfirmUpdate&>(f);
      asked.push_back(q.Label2.Caption());
      (q.Label2.Caption().find("\"Beta\"") != std::string::npos ? q.Command2 : q.Command1).Click();
    });
  }

  m.app->Session()->SyncObjects()->Item(1)->Start();

  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(asked, (std::vector<std::string>{ConfirmationText("Alpha"), ConfirmationText("Beta"),
                                             ConfirmationText("Gamma")}));
  EXPECT_EQ(UpdateMailsTo("alpha@example.org").size(), 1u);
  EXPECT_EQ(UpdateMailsTo("beta@example.org").size(), 0u);
  EXPECT_EQ(UpdateMailsTo("gamma@example.org").size(), 1u);
  EXPECT_EQ(LastUpdate(m, b), "1/1/1990");
  EXPECT_EQ(m.Setting("Send_Updated"), "0");
  EXPECT_EQ(m.ErrorLog(), "");
}

// A mail that could not be handed over leaves its recipients unstamped, so
// that the next send carries the same contacts again.
TEST_F(SendCommandsTest, AMailNotSentLeavesTheRecipientsUnstamped) {
  auto& m = Started();
  auto s = SharedFolder(m, "Team", "reader@example.org");
  m.app->Faults().FailEvery("SafeMailItem.Send");
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  Update_Click(*m.ctx, s.folder);
  EXPECT_EQ(m.user.Problems(), "");
  EXPECT_EQ(m.LoggedErrorNames(), std::vector<std::string>{"Safe_Send"});
  EXPECT_EQ(LastUpdate(m, s), "1/1/1990");
  EXPECT_EQ(UpdateMailsTo("reader@example.org").size(), 0u);

  m.app->Faults().Clear();
  Update_Click(*m.ctx, s.folder);
  const auto mails = UpdateMailsTo("reader@example.org");
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(Records(BodyOf(mails[0])), 2);
  EXPECT_NE(LastUpdate(m, s), "1/1/1990");
}

TEST_F(SendCommandsTest, AFolderCanSendWhileASelectedRecipientIsADefaultContact) {
  struct Case {
    const char* what;
    std::vector<int> recipients;  // 0 deleted, 1 present, 2 present but not chosen, 3 in another folder
    bool disabled;
  } cases[] = {
      {"only recipient deleted", {0}, true},
      {"recipient present", {1}, false},
      {"recipient present but not chosen", {2}, true},
      {"recipient outside the default contacts", {3}, true},
      {"no recipients", {}, true},
      {"deleted one, then a present one", {0, 1}, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto& m = Started({}, "m" + std::to_string(n++));
    auto folder = NewFolder(Contacts(m), "Team");
    const std::string id = folder->EntryID();
    m.Reg().CreateKey(Key(id + "\\List"));  // not a recipient
    for (int r : c.recipients) {
      auto where = r == 3 ? folder : Contacts(m);
      auto contact = NewContact(m, where, "R" + std::to_string(r), "r@example.org");
      StoreRecipient(m, id, contact, "r@example.org", r != 2);
      if (r == 0) {
        host::PersonScope person(*m.app);
        contact->Delete();
      }
    }
    EXPECT_EQ(If_Folder_Disabled(*m.ctx, id), c.disabled);
    EXPECT_EQ(UpdateableValue(m, id), c.disabled ? "2" : "1");
    EXPECT_EQ(m.ErrorLog(), "");
  }
}

TEST_F(SendCommandsTest, RefreshRunsTheToolbarsHookWhenThereIsOne) {
  auto& m = Started();
  Refresh_Update_Buttons(*m.ctx);  // no hook yet: nothing happens
  int refreshed = 0;
  m.ctx->Exps->RefreshUpdateButtons = [&] { ++refreshed; };
  Refresh_Update_Buttons(*m.ctx);
  EXPECT_EQ(refreshed, 1);
  m.ctx->Exps->RefreshUpdateButtons = [] { throw std::runtime_error("toolbar gone"); };
  m.user.ExpectMessage(testing::kReportQuestionText, platform::MsgBoxResult::No);
  Refresh_Update_Buttons(*m.ctx);
  EXPECT_EQ(m.LoggedErrorNames(), std::vector<std::string>{"Disable_Update_Button"});
  auto exps = std::move(m.ctx->Exps);
  Refresh_Update_Buttons(*m.ctx);  // no windows: nothing happens
  m.ctx->Exps = std::move(exps);
  EXPECT_EQ(m.user.Problems(), "");
}

}  // namespace
}  // namespace plexisync

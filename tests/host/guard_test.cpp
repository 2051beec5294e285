#include <gtest/gtest.h>

#include "host_fixture.hpp"

namespace host::testing {
namespace {

using platform::MsgBoxResult;

constexpr const char* kAddressPrompt = "A program is trying to access e-mail addresses you have stored";
constexpr const char* kSendPrompt = "A program is trying to automatically send e-mail on your behalf";

class GuardTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    contact_ = NewContact(Contacts(), "Bob");
    {
      PersonScope person(*app_);
      for (const char* f : {"Email1Address", "Email2Address", "Email3Address", "NetMeetingAlias", "ReferredBy"}) {
        contact_->SetProperty(f, std::string("value of ") + f);  // writing needs no prompt
      }
      contact_->Save();
    }
  }
  std::shared_ptr<MailItem> Draft() {
    auto mail = app_->CreateMailItem();
    mail->SetTo("bob@example.org");
    mail->SetSubject("hello");
    return mail;
  }
  std::shared_ptr<ContactItem> contact_;
};

TEST_F(GuardTest, ProtectedReadsByProgramsAsk) {
  for (const char* field : {"Email1Address", "Email1AddressType", "Email2Address", "Email2AddressType",
                            "Email3Address", "Email3AddressType", "NetMeetingAlias", "ReferredBy"}) {
    user_.ExpectMessage(kAddressPrompt, MsgBoxResult::No);
    EXPECT_THROW(contact_->GetProperty(field), HostError) << field;
  }
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
  // Plain fields never ask.
  EXPECT_EQ(contact_->FullName(), "Bob");
  EXPECT_EQ(contact_->Text("NetMeetingServer"), "");
  EXPECT_EQ(contact_->Text("BusinessTelephoneNumber"), "");
  int prompts = 0;
  for (const auto& entry : user_.Transcript()) prompts += entry.find(kAddressPrompt) != std::string::npos ? 1 : 0;
  EXPECT_EQ(prompts, 8);
}

TEST_F(GuardTest, DenyFailsWithTheGuardsMessage) {
  user_.ExpectMessage(kAddressPrompt, MsgBoxResult::No);
  try {
    contact_->Email1Address();
    ADD_FAILURE();
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(), "Access denied by the user.");
  }
  bool titled = false;
  for (const auto& entry : user_.Transcript()) titled = titled || entry.find("Security Warning") != std::string::npos;
  EXPECT_TRUE(titled);
}

TEST_F(GuardTest, AllowingAddressesLastsTenMinutes) {
  user_.ExpectMessage(kAddressPrompt, MsgBoxResult::Yes);
  EXPECT_EQ(contact_->Email1Address(), "value of Email1Address");
  EXPECT_EQ(ns_->CurrentUser()->Address(), "alice@example.org");
  clock_.Advance(9 * 60 + 59);
  EXPECT_EQ(contact_->Text("ReferredBy"), "value of ReferredBy");
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
  clock_.Advance(1);
  user_.ExpectMessage(kAddressPrompt, MsgBoxResult::No);
  EXPECT_THROW(ns_->CurrentUser()->Address(), HostError);
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
  EXPECT_EQ(ns_->CurrentUser()->Name(), "Alice Adams");
}

TEST_F(GuardTest, ThePersonsOwnActionsNeverAsk) {
  PersonScope person(*app_);
  EXPECT_EQ(app_->Mode(), CallerMode::kPerson);
  EXPECT_EQ(contact_->Email1Address(), "value of Email1Address");
  EXPECT_EQ(ns_->CurrentUser()->Address(), "alice@example.org");
  auto mail = Draft();
  mail->Send();
  EXPECT_TRUE(mail->Submitted());
  EXPECT_TRUE(user_.Transcript().empty());
}

TEST_F(GuardTest, ProgramSendsAskEachTime) {
  auto first = Draft();
  user_.ExpectMessage(kSendPrompt, MsgBoxResult::Yes);
  first->Send();
  EXPECT_TRUE(first->Submitted());
  EXPECT_EQ(first->Parent()->Name(), "Outbox");
  auto second = Draft();
  user_.ExpectMessage(kSendPrompt, MsgBoxResult::No);
  EXPECT_THROW(second->Send(), HostError);
  EXPECT_FALSE(second->Submitted());
  EXPECT_EQ(second->EntryID(), "");
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
}

TEST_F(GuardTest, SafeObjectsReadAndSendWithoutAsking) {
  auto safeContact = app_->CreateSafeContactItem();
  EXPECT_THROW(safeContact->GetProperty("Email1Address"), HostError);  // no item yet
  safeContact->SetItem(contact_);
  EXPECT_EQ(safeContact->Email1Address(), "value of Email1Address");
  EXPECT_EQ(safeContact->Text("NetMeetingAlias"), "value of NetMeetingAlias");
  EXPECT_EQ(safeContact->Text("FullName"), "Bob");
  EXPECT_THROW(safeContact->GetProperty("Nonsense"), HostError);

  auto mail = Draft();
  auto safeMail = app_->CreateSafeMailItem();
  safeMail->SetItem(mail);
  safeMail->Send();
  EXPECT_TRUE(mail->Submitted());

  // A received mail: sender name and address through the safe objects.
  auto inbox = ns_->GetDefaultFolder(kFolderInbox);
  auto received = std::dynamic_pointer_cast<MailItem>(inbox->Items()->Add("IPM.Note"));
  received->SetProperty("SenderName", std::string("Carol"));
  received->SetProperty("SenderEmailAddress", std::string("  carol@example.org "));
  received->Save();
  auto readMail = app_->CreateSafeMailItem();
  readMail->SetItem(received);
  EXPECT_EQ(readMail->SenderName(), "Carol");
  auto utils = app_->CreateMapiUtils();
  EXPECT_EQ(utils->HrGetOneProp(received->MAPIOBJECT(), 0x0C1F001E), "  carol@example.org ");
  EXPECT_THROW(utils->HrGetOneProp(received->MAPIOBJECT(), 0x0037001E), HostError);
  EXPECT_THROW(utils->HrGetOneProp(nullptr, 0x0C1F001E), HostError);
  EXPECT_TRUE(user_.Transcript().empty());

  // The item's own read of the sender's address is guarded.
  user_.ExpectMessage(kAddressPrompt, MsgBoxResult::No);
  EXPECT_THROW(received->SenderEmailAddress(), HostError);
}

TEST_F(GuardTest, HandlersRunAsProgramEvenDuringThePersonsAction) {
  auto sub = Contacts()->Items()->OnItemAdd([&](std::shared_ptr<Item> item) {
    EXPECT_THROW(item->GetProperty("Email1Address"), HostError);
  });
  PersonScope person(*app_);
  NewContact(Contacts(), "Ann");
  user_.ExpectMessage(kAddressPrompt, MsgBoxResult::No);
  app_->DoEvents();
  EXPECT_EQ(app_->Mode(), CallerMode::kPerson);
  EXPECT_TRUE(user_.AllExpectationsMet()) << user_.Problems();
}

}  // namespace
}  // namespace host::testing

#include <gtest/gtest.h>

#include "host/transport/post_office.hpp"
#include "host_fixture.hpp"
#include "platform/textfile.hpp"

namespace host::testing {
namespace {

class SendReceiveTest : public HostTest {
 protected:
  std::shared_ptr<MailItem> Compose(const std::string& subject) {
    auto mail = app_->CreateMailItem();
    mail->SetSubject(subject);
    mail->SetTo("Bob Brown <bob@example.org>");
    mail->SetBCC("carol@example.org; dave@example.org");
    mail->SetBody("Hello\r\nthere");
    mail->SetImportance(2);
    return mail;
  }
  void Sync() { ns_->SyncObjects()->Item(1)->Start(); }
};

TEST_F(SendReceiveTest, SendingWaitsInTheOutboxUntilSendReceive) {
  auto att = dir_ / "body.pxs";
  platform::WriteTextFile(att, "payload");
  auto mail = Compose("3830308006600");
  mail->Attachments()->Add(att.string());
  {
    PersonScope person(*app_);
    mail->Send();
  }
  auto outbox = ns_->GetDefaultFolder(kFolderOutbox);
  EXPECT_EQ(outbox->Items()->Count(), 1);
  EXPECT_TRUE(transport_.sent.empty());
  std::vector<std::string> sentAdds;
  auto sub = ns_->GetDefaultFolder(kFolderSentMail)->Items()->OnItemAdd(
      [&](std::shared_ptr<Item> i) { sentAdds.push_back(i->DefaultValue()); });
  clock_.Advance(30);
  Sync();
  ASSERT_EQ(transport_.sent.size(), 1u);
  const auto& m = transport_.sent[0].message;
  EXPECT_EQ(m.from.name, "Alice Adams");
  EXPECT_EQ(m.from.address, "alice@example.org");
  EXPECT_EQ(m.subject, "3830308006600");
  EXPECT_EQ(m.importance, 2);
  EXPECT_EQ(m.body, "Hello\r\nthere");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].name, "body.pxs");
  EXPECT_EQ(transport_.sent[0].envelope,
            (std::vector<std::string>{"bob@example.org", "carol@example.org", "dave@example.org"}));
  EXPECT_EQ(outbox->Items()->Count(), 0);
  EXPECT_EQ(mail->Parent()->Name(), "Sent Items");
  EXPECT_EQ(mail->SentOn(), clock_.Now());
  EXPECT_FALSE(mail->Submitted());
  EXPECT_TRUE(sentAdds.empty());
  app_->DoEvents();
  EXPECT_EQ(sentAdds, (std::vector<std::string>{"3830308006600"}));
}

TEST_F(SendReceiveTest, DraftsStayAndFailedSendsWait) {
  auto draft = Compose("draft");
  draft->Save();
  auto failing = Compose("failing");
  {
    PersonScope person(*app_);
    failing->Send();
  }
  transport_.failSend = true;
  auto sync = ns_->SyncObjects()->Item(1);
  sync->Start();
  EXPECT_EQ(ns_->GetDefaultFolder(kFolderOutbox)->Items()->Count(), 2);
  ASSERT_EQ(sync->LastErrors().size(), 1u);
  EXPECT_NE(sync->LastErrors()[0].find("failing"), std::string::npos);
  transport_.failSend = false;
  sync->Start();
  EXPECT_TRUE(sync->LastErrors().empty());
  ASSERT_EQ(transport_.sent.size(), 1u);
  EXPECT_EQ(transport_.sent[0].message.subject, "failing");
  EXPECT_EQ(draft->Parent()->Name(), "Outbox");
}

TEST_F(SendReceiveTest, SendWithoutRecipientsIsRefused) {
  auto mail = app_->CreateMailItem();
  mail->SetSubject("nobody");
  PersonScope person(*app_);
  EXPECT_THROW(mail->Send(), HostError);
}

TEST_F(SendReceiveTest, ArrivedMailLandsUnreadInTheInboxWithEvents) {
  MailMessage m;
  m.from = {"Bob Brown", "bob@example.org"};
  m.to = {{"", "alice@example.org"}};
  m.subject = "3830308006600";
  m.body = "text";
  m.importance = 0;
  m.attachments.push_back({"body.pxs", {'a', 'b'}, "text/plain"});
  transport_.boxes["alice@example.org"].push_back(m);
  transport_.boxes["someone@else"].push_back(m);
  std::vector<std::shared_ptr<Item>> arrived;
  auto sub = ns_->GetDefaultFolder(kFolderInbox)->Items()->OnItemAdd([&](auto i) { arrived.push_back(i); });
  bool started = false;
  auto s2 = ns_->SyncObjects()->Item(1)->OnSyncStart([&] {
    started = true;
    EXPECT_EQ(ns_->GetDefaultFolder(kFolderInbox)->Items()->Count(), 0);
  });
  Sync();
  EXPECT_TRUE(started);
  EXPECT_TRUE(arrived.empty());
  app_->DoEvents();
  ASSERT_EQ(arrived.size(), 1u);
  auto mail = std::dynamic_pointer_cast<MailItem>(arrived[0]);
  ASSERT_TRUE(mail);
  EXPECT_TRUE(mail->UnRead());
  EXPECT_EQ(mail->Subject(), "3830308006600");
  EXPECT_EQ(mail->SenderName(), "Bob Brown");
  EXPECT_EQ(mail->ReceivedTime(), clock_.Now());
  EXPECT_EQ(mail->Importance(), 0);
  EXPECT_EQ(mail->Attachments()->Item("body.pxs")->Size(), 2u);
  auto utils = app_->CreateMapiUtils();
  EXPECT_EQ(utils->HrGetOneProp(mail->MAPIOBJECT(), kPrSenderEmailAddress), "bob@example.org");
  EXPECT_EQ(ns_->GetDefaultFolder(kFolderInbox)->UnReadItemCount(), 1);
  EXPECT_EQ(transport_.boxes["someone@else"].size(), 1u);
}

TEST_F(SendReceiveTest, TwoProfilesExchangeMailThroughThePostOffice) {
  PostOfficeTransport office(dir_ / "postoffice");
  Profile bob = Profile::Create(dir_ / "bob", "Bob Brown", "bob@example.org", dir_ / "postoffice");
  auto bobKeys = bob.OpenKeyStore();
  Application bobApp(bob, HostServices{clock_, user_, office, *bobKeys});
  auto aliceKeys = profile_->OpenKeyStore();
  Application aliceApp(*profile_, HostServices{clock_, user_, office, *aliceKeys});

  auto mail = aliceApp.CreateMailItem();
  mail->SetBCC("bob@example.org");
  mail->SetSubject("Update");
  mail->SetBody("records");
  auto safe = aliceApp.CreateSafeMailItem();
  safe->SetItem(mail);
  safe->Send();
  aliceApp.Session()->SyncObjects()->Item(1)->Start();

  bobApp.Session()->SyncObjects()->Item(1)->Start();
  auto inbox = bobApp.Session()->GetDefaultFolder(kFolderInbox)->Items();
  ASSERT_EQ(inbox->Count(), 1);
  auto got = std::dynamic_pointer_cast<MailItem>(inbox->Item(1));
  EXPECT_EQ(got->Subject(), "Update");
  EXPECT_EQ(got->Body(), "records");
  auto reader = bobApp.CreateSafeMailItem();
  reader->SetItem(got);
  EXPECT_EQ(reader->SenderName(), "Alice Adams");
  EXPECT_EQ(reader->SenderEmailAddress(), "alice@example.org");
  EXPECT_EQ(got->BCC(), "");  // blind copies are not delivered in the text
}

}  // namespace
}  // namespace host::testing

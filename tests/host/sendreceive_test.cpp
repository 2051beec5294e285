#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "host/transport/mime.hpp"
#include "host/transport/post_office.hpp"
#include "host_fixture.hpp"
#include "platform/sqlite.hpp"
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
  Application bobApp(bob, HostServices{clock_, user_, office, *bobKeys, zone_});
  auto aliceKeys = profile_->OpenKeyStore();
  Application aliceApp(*profile_, HostServices{clock_, user_, office, *aliceKeys, zone_});

  auto mail = aliceApp.CreateMailItem();
  mail->SetBCC("bob@example.org");
  mail->SetSubject("Update");
  mail->SetBody("records");
  auto safe = aliceApp.CreateSafeMailItem();
  safe->SetItem(mail);
  safe->Send();
  const platform::DateTime sentAt = clock_.Now();
  aliceApp.Session()->SyncObjects()->Item(1)->Start();

  clock_.Advance(3600);
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
  // Both times are the clock's, in the zone's local time.
  EXPECT_EQ(got->SentOn(), sentAt);
  EXPECT_EQ(got->ReceivedTime(), clock_.Now());
}

TEST_F(SendReceiveTest, MailTimesComeFromTheClockInItsZone) {
  // The fixture's zone is two hours ahead of UTC.
  clock_.Set(platform::DateTime::FromParts(2026, 6, 15, 9, 0, 30));
  auto mail = Compose("dated");
  {
    PersonScope person(*app_);
    mail->Send();
  }
  Sync();
  ASSERT_EQ(transport_.sent.size(), 1u);
  EXPECT_EQ(transport_.sent[0].message.date, "Mon, 15 Jun 2026 09:00:30 +0200");
  EXPECT_EQ(ParseMailDate(transport_.sent[0].message.date),
            platform::DateTime::FromParts(2026, 6, 15, 7, 0, 30).UnixLocalSeconds());
  EXPECT_EQ(mail->SentOn(), clock_.Now());

  struct Case {
    const char* date;
    platform::DateTime sentOn;  // local time of the fixture's zone
  };
  const platform::DateTime arrival = platform::DateTime::FromParts(2026, 6, 15, 18, 0, 0);
  const Case cases[] = {
      {"Mon, 15 Jun 2026 15:04:05 +0000", platform::DateTime::FromParts(2026, 6, 15, 17, 4, 5)},
      {"Mon, 15 Jun 2026 10:04:05 -0500", platform::DateTime::FromParts(2026, 6, 15, 17, 4, 5)},
      {"Tue, 16 Jun 2026 01:30:00 +0200", platform::DateTime::FromParts(2026, 6, 16, 1, 30, 0)},
      {"", arrival},             // no date: the arrival
      {"not a date", arrival},
  };
  for (const Case& c : cases) {
    MailMessage m;
    m.from = {"Bob Brown", "bob@example.org"};
    m.subject = c.date;
    m.date = c.date;
    transport_.boxes["alice@example.org"].push_back(m);
  }
  clock_.Set(arrival);
  Sync();
  auto inbox = ns_->GetDefaultFolder(kFolderInbox)->Items();
  ASSERT_EQ(inbox->Count(), static_cast<int>(std::size(cases)));
  for (int i = 1; i <= inbox->Count(); ++i) {
    auto got = std::dynamic_pointer_cast<MailItem>(inbox->Item(i));
    const Case& c = cases[i - 1];
    EXPECT_EQ(got->Subject(), c.date);
    EXPECT_EQ(got->SentOn().ToText(), c.sentOn.ToText()) << c.date;
    EXPECT_EQ(got->ReceivedTime(), arrival) << c.date;
  }
}

// ---- failures -----------------------------------------------------------------

// Counts the group's start and end events.
struct SyncEvents {
  explicit SyncEvents(SyncObject& sync)
      : start(sync.OnSyncStart([this] { ++starts; })), end(sync.OnSyncEnd([this] { ++ends; })) {}
  int starts = 0, ends = 0;
  Subscription start, end;
};

std::vector<std::string> Subjects(const std::shared_ptr<Folder>& folder) {
  std::vector<std::string> out;
  auto items = folder->Items();
  for (int i = 1; i <= items->Count(); ++i) out.push_back(items->Item(i)->DefaultValue());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> SentSubjects(const MemoryTransport& t) {
  std::vector<std::string> out;
  for (const auto& s : t.sent) out.push_back(s.message.subject);
  std::sort(out.begin(), out.end());
  return out;
}

class SendReceiveFailureTest : public SendReceiveTest {
 protected:
  void Submit(const std::string& subject) {
    auto mail = Compose(subject);
    PersonScope person(*app_);
    mail->Send();
  }
  void Arrive(const std::string& subject) {
    MailMessage m;
    m.from = {"Bob Brown", "bob@example.org"};
    m.to = {{"", "alice@example.org"}};
    m.subject = subject;
    m.date = "Mon, 15 Jun 2026 07:00:00 +0000";
    transport_.boxes["alice@example.org"].push_back(m);
  }
  std::vector<std::string> Folder(int which) { return Subjects(ns_->GetDefaultFolder(which)); }
  std::string Errors() {
    std::string all;
    for (const auto& e : ns_->SyncObjects()->Item(1)->LastErrors()) all += e + "\n";
    return all;
  }
};

// Every statement the store runs during a send/receive fails in turn (the
// file refuses it). The group always ends, reports the failure, and the next
// send/receive completes it: each mail goes out once and arrives once.
TEST_F(SendReceiveFailureTest, AFailingStoreNeverLosesOrDuplicatesMail) {
  auto scenario = [&] {
    Submit("out 1");
    Submit("out 2");
    Arrive("in 1");
    Arrive("in 2");
    Arrive("in 3");
  };
  scenario();
  platform::sqlite::FailNthStep(0);  // counts from here
  Sync();
  const std::uint64_t steps = platform::sqlite::StepsCounted();
  ASSERT_GT(steps, 10u);
  ASSERT_EQ(Errors(), "");

  for (std::uint64_t n = 1; n <= steps; ++n) {
    SCOPED_TRACE("failing step " + std::to_string(n));
    app_.reset();
    transport_ = MemoryTransport();
    profile_ = std::make_unique<Profile>(Profile::Create(dir_ / ("alice" + std::to_string(n)), "Alice Adams",
                                                         "alice@example.org", dir_ / "postoffice"));
    Start();
    scenario();
    auto sync = ns_->SyncObjects()->Item(1);
    SyncEvents events(*sync);
    platform::sqlite::FailNthStep(n);
    EXPECT_NO_THROW(sync->Start());
    platform::sqlite::FailNthStep(0);
    EXPECT_EQ(events.ends, 1);
    EXPECT_NE(Errors(), "");
    EXPECT_NO_THROW(sync->Start());
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(events.ends, 2);
    EXPECT_EQ(SentSubjects(transport_), (std::vector<std::string>{"out 1", "out 2"}));
    EXPECT_EQ(Folder(kFolderSentMail), (std::vector<std::string>{"out 1", "out 2"}));
    EXPECT_TRUE(Folder(kFolderOutbox).empty());
    EXPECT_EQ(Folder(kFolderInbox), (std::vector<std::string>{"in 1", "in 2", "in 3"}));
    EXPECT_TRUE(transport_.claimed["alice@example.org"].empty());
  }
}

// Each bookkeeping step fails once, on the first of two mails: the rest of
// the group still runs, and the next send/receive finishes the job without
// sending anything twice.
TEST_F(SendReceiveFailureTest, EachStepFailingIsReportedAndFinishedLater) {
  struct Case {
    const char* operation;
    const char* reported;
  };
  const Case cases[] = {
      {"SendReceive.MarkSending", "\"out 1\" was not sent: it could not be marked as being sent"},
      {"SendReceive.MoveToSent", "\"out 1\" was sent but could not be moved to Sent Items"},
      {"SendReceive.StoreArrived", "A message could not be received"},
      {"SendReceive.Acknowledge", "could not be marked as received"},
      {"SendReceive.ForgetArrived", "key could not be cleared"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    app_.reset();
    transport_ = MemoryTransport();
    profile_ = std::make_unique<Profile>(Profile::Create(dir_ / (std::string("p-") + c.operation), "Alice Adams",
                                                         "alice@example.org", dir_ / "postoffice"));
    Start();
    Submit("out 1");
    Submit("out 2");
    Arrive("in 1");
    Arrive("in 2");
    auto sync = ns_->SyncObjects()->Item(1);
    SyncEvents events(*sync);
    app_->Faults().FailNth(c.operation, 1);
    sync->Start();
    EXPECT_EQ(events.ends, 1);
    ASSERT_EQ(sync->LastErrors().size(), 1u) << Errors();
    EXPECT_THAT(sync->LastErrors()[0], ::testing::HasSubstr(c.reported));
    // The other mail went out and new mail came in all the same.
    EXPECT_THAT(SentSubjects(transport_), ::testing::Contains("out 2"));
    EXPECT_THAT(Folder(kFolderInbox), ::testing::Contains("in 2"));

    sync->Start();
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(SentSubjects(transport_), (std::vector<std::string>{"out 1", "out 2"}));
    EXPECT_EQ(Folder(kFolderSentMail), (std::vector<std::string>{"out 1", "out 2"}));
    EXPECT_EQ(Folder(kFolderInbox), (std::vector<std::string>{"in 1", "in 2"}));
    EXPECT_TRUE(transport_.claimed["alice@example.org"].empty());
  }
}

TEST_F(SendReceiveFailureTest, AMailThatCannotBePutBackInLineIsNotLost) {
  Submit("out");
  transport_.failSend = true;
  app_->Faults().FailNth("SendReceive.Unmark", 1);
  auto sync = ns_->SyncObjects()->Item(1);
  sync->Start();
  EXPECT_THAT(Errors(), ::testing::HasSubstr("\"out\" could not be sent: delivery refused"));
  EXPECT_THAT(Errors(), ::testing::HasSubstr("\"out\" could not be put back in line"));
  EXPECT_EQ(Folder(kFolderOutbox), std::vector<std::string>{"out"});
  transport_.failSend = false;
  sync->Start();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(SentSubjects(transport_), std::vector<std::string>{"out"});
  EXPECT_EQ(Folder(kFolderSentMail), std::vector<std::string>{"out"});
}

// The application ends after a delivery whose move to Sent Items failed: the
// next one cannot know whether the mail went out, so it reports it and never
// sends it again; sending it once more is the person's choice.
TEST_F(SendReceiveFailureTest, AfterARestartAnInterruptedSendIsReportedNotRepeated) {
  Submit("out");
  app_->Faults().FailEvery("SendReceive.MoveToSent");
  ns_->SyncObjects()->Item(1)->Start();
  ASSERT_EQ(transport_.sent.size(), 1u);
  Start();
  for (int run = 0; run < 2; ++run) {
    Sync();
    EXPECT_THAT(Errors(), ::testing::HasSubstr("\"out\" may have been sent already"));
    EXPECT_EQ(transport_.sent.size(), 1u);
    EXPECT_EQ(Folder(kFolderOutbox), std::vector<std::string>{"out"});
  }
  auto mail = std::dynamic_pointer_cast<MailItem>(ns_->GetDefaultFolder(kFolderOutbox)->Items()->Item(1));
  {
    PersonScope person(*app_);
    mail->Send();
  }
  Sync();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(transport_.sent.size(), 2u);
  EXPECT_EQ(Folder(kFolderSentMail), std::vector<std::string>{"out"});
}

// A transport that reached some recipients only: the mail counts as sent.
TEST_F(SendReceiveFailureTest, APartialDeliveryIsNotRepeated) {
  class Partial : public MemoryTransport {
   public:
    void Send(const MailMessage& m, const std::vector<std::string>& envelope) override {
      MemoryTransport::Send(m, {envelope.front()});
      throw TransportError("carol@example.org is full", {envelope.front()});
    }
  } partial;
  activeTransport_ = &partial;
  Start();
  Submit("out");
  Sync();
  EXPECT_THAT(Errors(), ::testing::HasSubstr("\"out\" was sent, but not to every recipient: carol@example.org is full"));
  EXPECT_EQ(Folder(kFolderSentMail), std::vector<std::string>{"out"});
  Sync();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(partial.sent.size(), 1u);
}

// ---- through the post office -----------------------------------------------------

class PostOfficeSendReceiveTest : public SendReceiveFailureTest {
 protected:
  void SetUp() override {
    SendReceiveFailureTest::SetUp();
    office_ = std::make_unique<PostOfficeTransport>(dir_ / "postoffice");
    activeTransport_ = office_.get();
    Start();
  }
  void TearDown() override {
    app_.reset();
    SendReceiveFailureTest::TearDown();
  }
  std::unique_ptr<PostOfficeTransport> office_;
};

TEST_F(PostOfficeSendReceiveTest, RecipientsThatAreNotAddressesAreRefused) {
  auto mail = Compose("odd");
  mail->SetTo("bob@example.org; bob");
  mail->SetBCC("");
  {
    PersonScope person(*app_);
    mail->Send();
  }
  Sync();
  EXPECT_THAT(Errors(), ::testing::HasSubstr("not an e-mail address: \"bob\""));
  EXPECT_TRUE(office_->ListMailboxes().empty());  // nobody got it
  EXPECT_EQ(Folder(kFolderOutbox), std::vector<std::string>{"odd"});
  EXPECT_TRUE(mail->Submitted());
}

TEST_F(PostOfficeSendReceiveTest, AnUnreadableMessageIsKeptInTheInboxAndReportedOnce) {
  const std::filesystem::path box = office_->MailboxPath("alice@example.org");
  std::filesystem::create_directories(box / "new");
  const std::string raw = "no header at all, just text\n";
  std::ofstream(box / "new" / "1.garbled_1.host", std::ios::binary) << raw;
  Sync();
  ASSERT_EQ(ns_->SyncObjects()->Item(1)->LastErrors().size(), 1u);
  EXPECT_THAT(Errors(), ::testing::HasSubstr("A message that arrived could not be read"));
  auto inbox = ns_->GetDefaultFolder(kFolderInbox)->Items();
  ASSERT_EQ(inbox->Count(), 1);
  auto notice = std::dynamic_pointer_cast<MailItem>(inbox->Item(1));
  EXPECT_EQ(notice->Subject(), "A message that could not be read");
  EXPECT_TRUE(notice->UnRead());
  EXPECT_THAT(notice->Body(), ::testing::HasSubstr("1.garbled_1.host"));
  auto saved = dir_ / "saved.eml";
  notice->Attachments()->Item("message.eml")->SaveAsFile(saved.string());
  std::ifstream in(saved, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), raw);
  Sync();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(inbox->Count(), 1);
}

}  // namespace
}  // namespace host::testing

// Mail the client deletes for good is deleted where the transport keeps it,
// at the next send/receive; whatever the transport does not report gone is
// asked for again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_fixture.hpp"

namespace host::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Keeps what RemoveForGood was asked and answers as told.
class RemovingTransport : public MemoryTransport {
 public:
  std::vector<std::string> RemoveForGood(const std::string& mailbox, const std::vector<std::string>& keys) override {
    calls.push_back({mailbox, keys});
    if (fail) throw TransportError("the server cannot be reached");
    if (keep.empty()) return keys;
    std::vector<std::string> gone;
    for (const auto& k : keys) {
      if (std::find(keep.begin(), keep.end(), k) == keep.end()) gone.push_back(k);
    }
    gone.push_back("m999");  // a key nobody asked for changes nothing
    return gone;
  }
  struct Call {
    std::string mailbox;
    std::vector<std::string> keys;
  };
  std::vector<Call> calls;
  std::vector<std::string> keep;
  bool fail = false;
};

class RemoveForGoodTest : public HostTest {
 protected:
  void SetUp() override {
    activeTransport_ = &removing_;
    HostTest::SetUp();
  }
  void Arrive(const std::string& subject) {
    MailMessage m;
    m.from = {"Bob Brown", "bob@example.org"};
    m.to = {{"", "alice@example.org"}};
    m.subject = subject;
    removing_.boxes["alice@example.org"].push_back(m);
  }
  std::vector<std::string> Errors() { return ns_->SyncObjects()->Item(1)->LastErrors(); }
  void Sync() { ns_->SyncObjects()->Item(1)->Start(); }
  std::shared_ptr<Item> InboxItem(const std::string& subject) {
    auto items = ns_->GetDefaultFolder(kFolderInbox)->Items();
    for (int i = 1; i <= items->Count(); ++i) {
      auto item = items->Item(i);
      if (std::dynamic_pointer_cast<MailItem>(item)->Subject() == subject) return item;
    }
    return nullptr;
  }
  // The keys each RemoveForGood call was given.
  std::vector<std::vector<std::string>> Asked() {
    std::vector<std::vector<std::string>> out;
    for (const auto& c : removing_.calls) {
      EXPECT_EQ(c.mailbox, "alice@example.org");
      out.push_back(c.keys);
    }
    removing_.calls.clear();
    return out;
  }
  RemovingTransport removing_;
};

// The add-in removes a mail the way a person does: Delete moves it to
// Deleted Items, deleting it there is final. Only then does the server hear
// of it, once.
TEST_F(RemoveForGoodTest, OnlyAFinalDeleteReachesTheTransportOnce) {
  Arrive("in 1");
  Arrive("in 2");
  Arrive("in 3");
  Sync();
  ASSERT_TRUE(Errors().empty());
  EXPECT_TRUE(Asked().empty());

  auto first = InboxItem("in 1");
  ASSERT_NE(first, nullptr);
  const std::string id = first->EntryID();
  first->Delete();
  auto second = InboxItem("in 2");
  second->Move(ns_->GetDefaultFolder(kFolderContacts));  // moved, not deleted
  Sync();
  EXPECT_TRUE(Asked().empty());

  ns_->GetItemFromID(id)->Delete();  // out of Deleted Items: for good
  // Moved into another store the mail lives on: deleting it there, or its
  // place here, asks nothing of the server.
  ns_->AddStore((dir_ / "archive.pst").string());
  auto archive = ns_->Folders()->Item(2);
  ASSERT_NE(archive, nullptr);
  auto moved = InboxItem("in 3")->Move(archive);
  moved->Delete();
  Sync();
  EXPECT_TRUE(Errors().empty());
  EXPECT_THAT(Asked(), ElementsAre(ElementsAre("m1")));
  Sync();
  EXPECT_TRUE(Asked().empty());
}

// What the transport does not report gone, or a failure, keeps the key in
// the queue; a failure is one entry among the errors and receiving goes on.
TEST_F(RemoveForGoodTest, KeysStayQueuedUntilTheTransportReportsThemGone) {
  Arrive("in 1");
  Arrive("in 2");
  Sync();
  auto deleted = ns_->GetDefaultFolder(kFolderDeletedItems);
  InboxItem("in 1")->Delete();
  InboxItem("in 2")->Delete();
  // Deleted Items emptied: both for good.
  while (deleted->Items()->Count() > 0) deleted->Items()->Item(1)->Delete();

  removing_.fail = true;
  Arrive("in 3");
  Sync();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_THAT(Errors()[0], HasSubstr("could not be deleted on the server: the server cannot be reached"));
  EXPECT_NE(InboxItem("in 3"), nullptr) << "receiving went on";
  EXPECT_THAT(Asked(), ElementsAre(ElementsAre("m1", "m2")));

  removing_.fail = false;
  removing_.keep = {"m2"};
  Sync();
  EXPECT_TRUE(Errors().empty());
  EXPECT_THAT(Asked(), ElementsAre(ElementsAre("m1", "m2")));

  // The queue is in the store file: a restart asks again.
  removing_.keep.clear();
  Start();
  Sync();
  EXPECT_THAT(Asked(), ElementsAre(ElementsAre("m2")));
  Sync();
  EXPECT_TRUE(Asked().empty());
}

// A failure of the store between the transport's answer and clearing the
// queue only makes the next send/receive ask again.
TEST_F(RemoveForGoodTest, ClearingThatFailsAsksAgainNextTime) {
  Arrive("in 1");
  Sync();
  const std::string id = InboxItem("in 1")->EntryID();
  InboxItem("in 1")->Delete();
  ns_->GetItemFromID(id)->Delete();
  for (const char* step : {"SendReceive.RemoveForGood", "SendReceive.ClearRemovals"}) {
    SCOPED_TRACE(step);
    app_->Faults().FailNth(step, 1);
    Sync();
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_THAT(Errors()[0], HasSubstr("could not be deleted on the server"));
    Asked();
  }
  Sync();
  EXPECT_TRUE(Errors().empty());
  EXPECT_THAT(Asked(), ElementsAre(ElementsAre("m1")));
  Sync();
  EXPECT_TRUE(Asked().empty());
}

}  // namespace
}  // namespace host::testing

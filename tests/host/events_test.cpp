#include <gtest/gtest.h>

#include "host_fixture.hpp"

namespace host::testing {
namespace {

using EventsTest = HostTest;

TEST_F(EventsTest, ItemAddedIsQueuedAndDeliveredByTheMessageLoop) {
  std::vector<std::string> seen;
  auto items = Contacts()->Items();
  auto sub = items->OnItemAdd([&](std::shared_ptr<Item> item) {
    seen.push_back(item->DefaultValue());
    EXPECT_EQ(app_->Mode(), CallerMode::kProgram);
  });
  NewContact(Contacts(), "Ann");
  auto bob = NewContact(Contacts(), "Bob");
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(app_->PendingEvents(), 2u);
  {
    PersonScope person(*app_);
    app_->DoEvents();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Ann", "Bob"}));
  bob->SetFullName("Robert");
  bob->Save();  // a change is no addition
  bob->Copy();  // a copy is
  auto team = Contacts()->Folders()->Add("Team", kFolderTypeContacts);
  auto carl = NewContact(team, "Carl");
  carl->Move(Contacts());  // so is a move into the folder
  app_->DoEvents();
  EXPECT_EQ(seen, (std::vector<std::string>{"Ann", "Bob", "Robert", "Carl"}));
  sub.Reset();
  NewContact(Contacts(), "Dora");
  app_->DoEvents();
  EXPECT_EQ(seen.size(), 4u);
}

TEST_F(EventsTest, DeletedItemsAndOtherHandlesOfTheFolderHearToo) {
  int deletedAdds = 0, contactsAdds = 0;
  auto s1 = ns_->GetDefaultFolder(kFolderDeletedItems)->Items()->OnItemAdd([&](auto) { ++deletedAdds; });
  auto s2 = Contacts()->Items()->OnItemAdd([&](auto) { ++contactsAdds; });
  auto s3 = Contacts()->Items()->OnItemAdd([&](auto) { ++contactsAdds; });
  NewContact(Contacts(), "Ann")->Delete();
  app_->DoEvents();
  EXPECT_EQ(deletedAdds, 1);
  EXPECT_EQ(contactsAdds, 2);
}

TEST_F(EventsTest, ItemsGoneBeforeDeliveryAreSkipped) {
  int calls = 0;
  auto sub = ns_->GetDefaultFolder(kFolderDeletedItems)->Items()->OnItemAdd([&](auto) { ++calls; });
  auto c = NewContact(Contacts(), "Ann");
  c->Delete();
  c->Delete();  // for good, before the loop ran
  app_->DoEvents();
  EXPECT_EQ(calls, 0);
}

TEST_F(EventsTest, HandlersMayRunTheLoopAgainAndEachEventRunsOnce) {
  std::vector<std::string> seen;
  auto sub = Contacts()->Items()->OnItemAdd([&](std::shared_ptr<Item> item) {
    seen.push_back(item->DefaultValue());
    if (seen.size() == 1) {
      NewContact(Contacts(), "Nested");
      app_->DoEvents();
    }
  });
  NewContact(Contacts(), "A");
  NewContact(Contacts(), "B");
  app_->DoEvents();
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "B", "Nested"}));
  EXPECT_EQ(app_->PendingEvents(), 0u);
}

TEST_F(EventsTest, ErrorsLeavingHandlersAreKeptNotThrown) {
  auto sub = Contacts()->Items()->OnItemAdd([&](auto) { throw HostError("boom"); });
  int posted = 0;
  NewContact(Contacts(), "A");
  app_->PostEvent([&] { ++posted; });
  EXPECT_NO_THROW(app_->DoEvents());
  EXPECT_EQ(posted, 1);
  ASSERT_EQ(app_->EscapedErrors().size(), 1u);
  EXPECT_EQ(app_->EscapedErrors()[0], "boom");
  app_->ClearEscapedErrors();
  EXPECT_TRUE(app_->EscapedErrors().empty());
}

TEST_F(EventsTest, ExplorerEventsAreRaisedWhileTheCallRuns) {
  auto explorer = app_->ActiveExplorer();
  std::vector<std::string> log;
  bool cancel = false;
  auto s1 = explorer->OnBeforeFolderSwitch([&](std::shared_ptr<Folder> f, bool& c) {
    log.push_back("before " + f->Name());
    c = cancel;
  });
  auto s2 = explorer->OnFolderSwitch([&] { log.push_back("switch " + explorer->CurrentFolder()->Name()); });
  auto s3 = explorer->OnActivate([&] { log.push_back("activate"); });
  auto s4 = explorer->OnClose([&] { log.push_back("close"); });
  explorer->SetCurrentFolder(Contacts());
  cancel = true;
  explorer->SetCurrentFolder(ns_->GetDefaultFolder(kFolderInbox));
  EXPECT_EQ(explorer->CurrentFolder()->Name(), "Contacts");
  explorer->Activate();
  explorer->Close();
  EXPECT_EQ(log, (std::vector<std::string>{"before Contacts", "switch Contacts", "before Inbox", "activate", "close"}));
  EXPECT_EQ(app_->Explorers()->Count(), 0);
  EXPECT_EQ(app_->ActiveExplorer(), nullptr);
  EXPECT_THROW(explorer->CurrentFolder(), HostError);
}

TEST_F(EventsTest, NewExplorerIsRaisedByAdd) {
  auto explorers = app_->Explorers();
  std::shared_ptr<Explorer> seen;
  auto sub = explorers->OnNewExplorer([&](std::shared_ptr<Explorer> e) { seen = e; });
  auto e = explorers->Add(Contacts());
  EXPECT_EQ(seen, e);
  EXPECT_EQ(app_->Explorers()->Count(), 2);
  EXPECT_EQ(app_->Explorers()->Item(2), e);
  EXPECT_THROW(app_->Explorers()->Item(3), HostError);
  e->Activate();
  EXPECT_EQ(app_->ActiveExplorer(), e);
  e->Close();
  EXPECT_EQ(app_->ActiveExplorer(), app_->Explorers()->Item(1));
}

TEST_F(EventsTest, SyncStartIsRaisedInsideStart) {
  auto sync = ns_->SyncObjects()->Item(1);
  bool inside = false;
  auto sub = sync->OnSyncStart([&] { inside = true; });
  sync->Start();
  EXPECT_TRUE(inside);
  EXPECT_THROW(ns_->SyncObjects()->Item(2), HostError);
}

TEST_F(EventsTest, SubscriptionsOutlivingTheApplicationAreHarmless) {
  auto sub = Contacts()->Items()->OnItemAdd([](auto) {});
  auto keep = Contacts();
  app_.reset();
  sub.Reset();
  EXPECT_THROW(keep->Name(), HostError);
}

}  // namespace
}  // namespace host::testing

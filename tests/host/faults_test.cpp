#include <gtest/gtest.h>

#include <string>

#include "host_fixture.hpp"

namespace host::testing {
namespace {

TEST(FaultInjectorTest, EveryNthAndNthCall) {
  FaultInjector f;
  f.FailEvery("Items.Restrict");
  EXPECT_THROW(f.Check("Items.Restrict"), HostError);
  EXPECT_THROW(f.Check("Items.Restrict"), HostError);
  EXPECT_NO_THROW(f.Check("Items.Count"));
  f.Clear();
  EXPECT_NO_THROW(f.Check("Items.Restrict"));

  f.FailNth("Folder.Items", 3);
  EXPECT_NO_THROW(f.Check("Folder.Items"));
  EXPECT_NO_THROW(f.Check("Folder.Items"));
  try {
    f.Check("Folder.Items");
    ADD_FAILURE();
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(), "Injected failure: Folder.Items");
  }
  EXPECT_NO_THROW(f.Check("Folder.Items"));  // only that one call

  f.FailNthCall(2);
  EXPECT_NO_THROW(f.Check("A.B"));
  EXPECT_THROW(f.Check("C.D"), HostError);
  EXPECT_NO_THROW(f.Check("C.D"));
  EXPECT_EQ(f.Calls("Folder.Items"), 4u);
  EXPECT_EQ(f.Injected(), 4u);
}

// Runs of one operation and operations in turn are counted apart, whatever
// buffer the name comes in, and a failure armed for the n-th call of one of
// them hits that call.
TEST(FaultInjectorTest, CountsEachOperationInRunsAndInTurn) {
  FaultInjector f;
  for (int i = 0; i < 5; ++i) f.Check("ContactItem.SetProperty");
  for (int i = 0; i < 3; ++i) {
    std::string name = "ContactItem.GetProperty";  // a new buffer each time
    f.Check(name);
    f.Check("ContactItem.SetProperty");
  }
  f.Check(std::string_view("ContactItem.SetPropertyX", 23));
  EXPECT_EQ(f.Calls("ContactItem.SetProperty"), 9u);
  EXPECT_EQ(f.Calls("ContactItem.GetProperty"), 3u);
  EXPECT_EQ(f.Calls("ContactItem.SetPropertyX"), 0u);
  EXPECT_EQ(f.TotalCalls(), 12u);

  f.FailNth("ContactItem.GetProperty", 2);
  EXPECT_NO_THROW(f.Check("ContactItem.GetProperty"));
  EXPECT_NO_THROW(f.Check("ContactItem.SetProperty"));
  EXPECT_NO_THROW(f.Check("ContactItem.SetProperty"));
  EXPECT_THROW(f.Check("ContactItem.GetProperty"), HostError);
  EXPECT_EQ(f.Calls("ContactItem.GetProperty"), 5u);
  EXPECT_EQ(f.Calls("ContactItem.SetProperty"), 11u);
}

using FaultsTest = HostTest;

TEST_F(FaultsTest, NamedHostOperationsFail) {
  auto contacts = Contacts();
  struct Case {
    const char* operation;
    std::function<void()> call;
  } cases[] = {
      {"NameSpace.GetDefaultFolder", [&] { ns_->GetDefaultFolder(6); }},
      {"Folder.Items", [&] { contacts->Items(); }},
      {"Items.Restrict", [&] { contacts->Items()->Restrict("[FullName] = \"a\""); }},
      {"Items.Add", [&] { contacts->Items()->Add(2); }},
      {"ContactItem.Save", [&] { contacts->Items()->Add(2)->Save(); }},
      {"Folders.Add", [&] { contacts->Folders()->Add("X", 10); }},
      {"NameSpace.AddStore", [&] { ns_->AddStore((dir_ / "f.pst").string()); }},
      {"MailItem.Send", [&] { app_->CreateMailItem()->Send(); }},
      {"SyncObject.Start", [&] { ns_->SyncObjects()->Item(1)->Start(); }},
      {"CreateObject:Redemption.SafeMailItem", [&] { app_->CreateSafeMailItem(); }},
      {"CreateObject:Redemption.SafeContactItem", [&] { app_->CreateSafeContactItem(); }},
      {"CreateObject:Redemption.MAPIUtils", [&] { app_->CreateMapiUtils(); }},
  };
  for (const auto& c : cases) {
    app_->Faults().FailEvery(c.operation);
    try {
      c.call();
      ADD_FAILURE() << c.operation << " did not fail";
    } catch (const HostError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Injected failure: ") + c.operation);
    }
    app_->Faults().Clear();
  }
  // Nothing was changed by the refused calls.
  EXPECT_EQ(contacts->Items()->Count(), 0);
  EXPECT_EQ(contacts->Folders()->Count(), 0);
  EXPECT_EQ(ns_->Folders()->Count(), 1);
}

TEST_F(FaultsTest, SweepingEveryCallNeverCorruptsTheStore) {
  // Fail each host call of a small scenario in turn; afterwards the store
  // still opens and holds only whole items.
  auto scenario = [&] {
    auto team = Contacts()->Folders()->Add("Team", kFolderTypeContacts);
    auto c = std::dynamic_pointer_cast<ContactItem>(team->Items()->Add("IPM.Contact"));
    c->SetFullName("Ann");
    c->Save();
    c->SetUnRead(true);
    c->Copy()->Move(Contacts());
    c->Delete();
  };
  app_->Faults().SetRecording(true);
  scenario();
  std::size_t total = app_->Faults().Recorded().size();
  ASSERT_GT(total, 5u);
  for (std::size_t n = 1; n <= total; ++n) {
    Start();
    if (auto existing = [&]() -> std::shared_ptr<Folder> {
          try {
            return Contacts()->Folders()->Item("Team");
          } catch (const HostError&) {
            return nullptr;
          }
        }()) {
      existing->Delete();
    }
    app_->Faults().FailNthCall(n);
    EXPECT_THROW(scenario(), HostError) << n;
    app_->Faults().Clear();
    auto items = Contacts()->Items();
    for (int i = 1; i <= items->Count(); ++i) EXPECT_EQ(items->Item(i)->DefaultValue(), "Ann");
  }
}

}  // namespace
}  // namespace host::testing

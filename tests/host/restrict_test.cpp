#include <gtest/gtest.h>

#include <algorithm>

#include "host_fixture.hpp"

namespace host::testing {
namespace {

class RestrictTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    folder_ = Contacts()->Folders()->Add("Team", kFolderTypeContacts);
    struct Row {
      const char* name;
      const char* cls;
      const char* user4;
      bool unread;
      std::int32_t gender;
      int birthYear;
    } rows[] = {
        {"Ann", "IPM.Contact", "Plexisync", true, 1, 1970},
        {"Bob", "IPM.Contact.GroupContact", "", false, 2, 1980},
        {"Cid \"Q\"", "IPM.Contact.GroupWorkers", "plexisync", false, 0, 0},
        {"Dan", "IPM.Contact.Other", "x", true, 2, 1990},
    };
    for (const auto& r : rows) {
      auto c = std::dynamic_pointer_cast<ContactItem>(folder_->Items()->Add(r.cls));
      c->SetFullName(r.name);
      c->SetUser4(r.user4);
      c->SetProperty("Gender", r.gender);
      if (r.birthYear) c->SetProperty("Birthday", platform::DateTime::FromParts(r.birthYear, 5, 1));
      c->Save();
      c->SetUnRead(r.unread);
      clock_.Advance(60);
    }
    auto mail = folder_->Items()->Add("IPM.Note");
    mail->SetSubject("3830308006600");
    mail->Save();
  }
  std::vector<std::string> Names(const std::shared_ptr<Items>& items) {
    std::vector<std::string> out;
    for (auto it = items->GetFirst(); it; it = items->GetNext()) out.push_back(it->DefaultValue());
    return out;
  }
  std::shared_ptr<Folder> folder_;
};

using V = std::vector<std::string>;

TEST_F(RestrictTest, FiltersSelectTheMatchingItems) {
  struct Case {
    const char* filter;
    V expected;
  } cases[] = {
      {"[MessageClass]=\"IPM.Contact\" or [MessageClass]=\"IPM.Contact.GroupContact\" or "
       "[MessageClass]=\"IPM.Contact.GroupWorkers\"",
       {"Ann", "Bob", "Cid \"Q\""}},
      {"[MessageClass]=\"IPM.Note\"", {"3830308006600"}},
      {" [Subject] = \"3830308006600\"", {"3830308006600"}},
      {"[messageclass] = \"ipm.contact\"", {"Ann"}},
      {"[User4] = \"Plexisync\"", {"Ann", "Cid \"Q\""}},
      {"[User4] <> \"Plexisync\"", {"Bob", "Dan"}},
      {"[UnRead] = \"True\"", {"Ann", "Dan"}},
      {"[UnRead] = False", {"Bob", "Cid \"Q\"", "3830308006600"}},
      {"[FullName] = \"Cid \"\"Q\"\"\"", {"Cid \"Q\""}},
      {"[FullName] = 'Cid \"Q\"'", {"Cid \"Q\""}},
      {"[Gender] = 2 AND [UnRead] = \"True\"", {"Dan"}},
      {"[Gender] = 2 or [Gender] = 1 and [UnRead] = \"False\"", {"Bob", "Dan"}},
      {"([Gender] = 2 or [Gender] = 1) and [UnRead] = \"False\"", {"Bob"}},
      // A mail has no Gender: the comparison fails for it, so `not` takes it in.
      {"not ([Gender] = 2)", {"Ann", "Cid \"Q\"", "3830308006600"}},
      {"[Birthday] = \"1/1/4501\"", {"Cid \"Q\""}},
      {"[Birthday] < \"1/1/1985\"", {"Ann", "Bob"}},
      {"[Gender] >= 1", {"Ann", "Bob", "Dan"}},
      {"[LastModificationTime] > \"6/15/2026 9:01:30 AM\"", {"Cid \"Q\"", "Dan", "3830308006600"}},
      {"\t(\r\n[FullName]=\"ann\"\n)", {"Ann"}},
  };
  for (const auto& c : cases) {
    auto items = folder_->Items()->Restrict(c.filter);
    EXPECT_EQ(Names(items), c.expected) << c.filter;
    EXPECT_EQ(items->Count(), static_cast<int>(c.expected.size())) << c.filter;
  }
}

TEST_F(RestrictTest, UnparsableFiltersNameTheFilter) {
  for (const char* bad :
       {"", "   ", "[FullName]", "[FullName] = ", "[FullName] == \"a\"", "[FullName] = \"open", "([FullName] = \"a\"",
        "[FullName] = \"a\")", "[FullName] = \"a\" and", "or [FullName] = \"a\"", "FullName = \"a\"",
        "[FullName = \"a\"", "[] = \"a\"", "[UnRead] = \"maybe\"", "[Gender] = \"two\"", "[Birthday] = \"soon\"",
        "[FullName] = \"a\" [LastName] = \"b\""}) {
    try {
      folder_->Items()->Restrict(bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const HostError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Cannot parse condition: ") + bad);
    }
  }
  EXPECT_THROW(folder_->Items()->Restrict("[NoSuchProperty] = \"a\""), HostError);
  std::string deep(5000, '(');
  EXPECT_THROW(folder_->Items()->Restrict(deep), HostError);
}

TEST_F(RestrictTest, RestrictionsAreLiveAndChain) {
  auto contacts = folder_->Items()->Restrict("[MessageClass] <> \"IPM.Note\"");
  auto unread = contacts->Restrict("[UnRead] = \"True\"");
  EXPECT_EQ(Names(unread), (V{"Ann", "Dan"}));
  auto e = NewContact(folder_, "Eve");
  e->SetUnRead(true);
  EXPECT_EQ(Names(unread), (V{"Ann", "Dan", "Eve"}));
  std::dynamic_pointer_cast<ContactItem>(unread->Item(1))->SetUnRead(false);
  EXPECT_EQ(Names(unread), (V{"Dan", "Eve"}));
  unread->Item(1)->Delete();
  EXPECT_EQ(unread->Count(), 1);
  EXPECT_EQ(contacts->Count(), 4);
}

TEST_F(RestrictTest, WalkingWhileDeletingSkipsItems) {
  auto contacts = folder_->Items()->Restrict("[MessageClass] <> \"IPM.Note\"");
  int deleted = 0;
  for (auto it = contacts->GetFirst(); it; it = contacts->GetNext()) {
    it->Delete();
    ++deleted;
  }
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(contacts->Count(), 2);
}

TEST_F(RestrictTest, SortOrdersByAPropertyStably) {
  auto contacts = folder_->Items()->Restrict("[MessageClass] <> \"IPM.Note\"");
  contacts->Sort("[FullName]", true);
  EXPECT_EQ(Names(contacts), (V{"Dan", "Cid \"Q\"", "Bob", "Ann"}));
  contacts->Sort("Gender");
  EXPECT_EQ(Names(contacts), (V{"Cid \"Q\"", "Ann", "Bob", "Dan"}));
  // Flags: True comes first in ascending order, as True counts as -1.
  contacts->Sort("[UnRead]");
  EXPECT_EQ(Names(contacts), (V{"Ann", "Dan", "Bob", "Cid \"Q\""}));
  // Marking an item read moves it at once (the order depends on the flag).
  contacts->Item(1)->SetUnRead(false);
  EXPECT_EQ(Names(contacts), (V{"Dan", "Ann", "Bob", "Cid \"Q\""}));
  contacts->Item(1)->SetUnRead(false);
  contacts->Item(3)->SetUnRead(true);
  EXPECT_EQ(Names(contacts), (V{"Cid \"Q\"", "Ann", "Bob", "Dan"}));
  // Unread changes leave orders by other properties as they are.
  auto byName = folder_->Items()->Restrict("[Gender] >= 0");
  byName->Sort("[FullName]");
  auto first = byName->Item(1);
  first->SetUnRead(true);
  EXPECT_EQ(byName->Item(1)->EntryID(), first->EntryID());
  contacts->Sort("[Birthday]", false);
  EXPECT_EQ(Names(contacts), (V{"Ann", "Bob", "Dan", "Cid \"Q\""}));
  contacts->Sort("[LastModificationTime]", true);
  EXPECT_EQ(Names(contacts), (V{"Dan", "Cid \"Q\"", "Bob", "Ann"}));
  // A restriction of a sorted collection keeps the order.
  EXPECT_EQ(Names(contacts->Restrict("[Gender] = 2")), (V{"Dan", "Bob"}));
  EXPECT_THROW(contacts->Sort("[Nothing]"), HostError);
  auto all = folder_->Items();
  all->Sort("[MessageClass]");
  EXPECT_EQ(all->GetLast()->DefaultValue(), "3830308006600");
  EXPECT_EQ(all->GetPrevious()->DefaultValue(), "Dan");
}

}  // namespace
}  // namespace host::testing

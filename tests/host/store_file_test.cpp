// The message store's file against its in-memory copy: failures in the
// middle of a change, two stores (processes) on one file, and mail that
// arrives from a transport.
#include <gmock/gmock.h>
#include <sqlite3.h>

#include <functional>
#include <set>

#include "store_fixture.hpp"

namespace host::testing {
namespace {

using detail::FolderRole;
using detail::kContactItemType;
using detail::kMailItemType;
using ::testing::HasSubstr;

// A store with something of every kind: folders below folders, items with
// and without attachments.
struct Model {
  std::uint32_t inbox = 0, contacts = 0, team = 0, sub = 0, other = 0;
  std::uint32_t plain = 0, withAttachments = 0, inSub = 0;
  // Arrived from a transport: one in the Inbox, one below Team; one more was
  // deleted for good, so that its key waits in the removal queue.
  std::uint32_t arrived = 0, arrivedInTeam = 0;
};

Model Fill(detail::Store& s) {
  Model m;
  m.inbox = s.FolderByRole(FolderRole::kInbox);
  m.contacts = s.FolderByRole(FolderRole::kContacts);
  m.team = s.CreateFolder(m.contacts, "Team", kContactItemType, FolderRole::kNone);
  m.sub = s.CreateFolder(m.team, "Sub", kContactItemType, FolderRole::kNone);
  m.other = s.CreateFolder(m.contacts, "Other", kMailItemType, FolderRole::kNone);
  m.plain = s.InsertItem(StoreFileTest::Contact(m.contacts, "Plain"));
  m.withAttachments = s.InsertItem(StoreFileTest::Contact(m.team, "Attached", 3));
  s.InsertItem(StoreFileTest::Contact(m.team, "Second", 1));
  m.inSub = s.InsertItem(StoreFileTest::Contact(m.sub, "Deep", 2));
  m.arrived = s.InsertArrived(StoreFileTest::Contact(m.inbox, "Arrived", 1), "key-inbox");
  m.arrivedInTeam = s.InsertArrived(StoreFileTest::Contact(m.team, "Arrived too"), "key-team");
  s.DeleteItem(s.InsertArrived(StoreFileTest::Contact(m.inbox, "Gone"), "key-gone"));
  return m;
}

detail::ItemRecord Renamed(const detail::Store& s, std::uint32_t item, const std::string& name, bool attachment) {
  detail::ItemRecord r = *s.Item(item);
  const auto& schema = detail::SchemaOf(r.kind);
  const auto index = *schema.IndexOf("FullName");
  detail::SetStoredValue(r.props, index, name, schema.At(index).defaultValue);
  if (attachment) {
    r.attachments.erase(r.attachments.begin());
    r.attachments.push_back({"added.txt", {1, 2, 3}});
  }
  return r;
}

struct Operation {
  const char* name;
  std::function<void(detail::Store&, const Model&)> run;
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"InsertItem with attachments", [](auto& s, auto& m) { s.InsertItem(StoreFileTest::Contact(m.team, "New", 3)); }},
      {"InsertArrived with attachments",
       [](auto& s, auto& m) { s.InsertArrived(StoreFileTest::Contact(m.inbox, "Mail", 2), "arrived-key"); }},
      {"UpdateItem with attachments",
       [](auto& s, auto& m) { s.UpdateItem(Renamed(s, m.withAttachments, "Changed", true), true); }},
      {"UpdateItem", [](auto& s, auto& m) { s.UpdateItem(Renamed(s, m.plain, "Changed", false), false); }},
      {"DeleteFolderTree", [](auto& s, auto& m) { s.DeleteFolderTree(m.team); }},
      {"DeleteItem with attachments", [](auto& s, auto& m) { s.DeleteItem(m.withAttachments); }},
      {"DeleteItem of an arrived item", [](auto& s, auto& m) { s.DeleteItem(m.arrived); }},
      {"DeleteItem of an arrived item that lives on elsewhere", [](auto& s, auto& m) { s.DeleteItem(m.arrived, false); }},
      {"ClearRemovals", [](auto& s, auto&) { s.ClearRemovals({"key-gone", "never-queued"}); }},
      {"MoveItem", [](auto& s, auto& m) { s.MoveItem(m.plain, m.sub); }},
      {"SetUnread", [](auto& s, auto& m) { s.SetUnread(m.plain, true); }},
      {"CreateFolder", [](auto& s, auto& m) { s.CreateFolder(m.sub, "Newest", kMailItemType, FolderRole::kNone); }},
      {"MoveFolder", [](auto& s, auto& m) { s.MoveFolder(m.sub, m.contacts); }},
      {"RenameFolder", [](auto& s, auto& m) { s.RenameFolder(m.team, "Renamed"); }},
      {"SetViewXml", [](auto& s, auto& m) { s.SetViewXml(m.team, "<view/>"); }},
  };
  return ops;
}

using StoreFailureTest = StoreFileTest;

// Each change fails at each of its steps in turn (the first, the middle
// ones, the commit): the file and the in-memory copy stay as they were, and
// doing the change again afterwards gives exactly what it gives without the
// failure.
TEST_F(StoreFailureTest, AChangeFailingAtAnyStepLeavesFileAndMemoryAsTheyWere) {
  for (const auto& op : Operations()) {
    SCOPED_TRACE(op.name);
    std::uint64_t steps = 0;
    std::string expected;
    {
      auto s = OpenStore("count.pst");
      const Model m = Fill(*s);
      platform::sqlite::FailNthStep(0);
      op.run(*s, m);
      steps = platform::sqlite::StepsCounted();
      expected = Describe(*s);
    }
    std::filesystem::remove(dir_ / "count.pst");
    ASSERT_GE(steps, 1u);
    for (std::uint64_t k = 1; k <= steps; ++k) {
      SCOPED_TRACE("failing step " + std::to_string(k) + " of " + std::to_string(steps));
      const std::string name = "fail" + std::to_string(k) + ".pst";
      auto s = OpenStore(name);
      const Model m = Fill(*s);
      const std::string before = Describe(*s);
      platform::sqlite::FailNthStep(k);
      try {
        op.run(*s, m);
        ADD_FAILURE() << "the injected failure was not reported";
      } catch (const HostError& e) {
        EXPECT_THAT(e.what(), HasSubstr(platform::sqlite::kInjectedFailure));
      }
      platform::sqlite::FailNthStep(0);
      EXPECT_EQ(Describe(*s), before) << "memory";
      EXPECT_EQ(Describe(*OpenStore(name), false), Describe(*s, false)) << "file";
      EXPECT_FALSE(s->HasArrived("arrived-key"));
      EXPECT_EQ(s->PendingRemovals(), std::vector<std::string>{"key-gone"});
      // The failed attempt left no trace: not even a number or a place in a folder.
      op.run(*s, m);
      EXPECT_EQ(Describe(*s), expected) << "done again";
      EXPECT_EQ(Describe(*OpenStore(name), false), Describe(*s, false)) << "file, done again";
      s.reset();
      std::filesystem::remove(dir_ / name);
    }
  }
}

using RemovalQueueTest = StoreFileTest;

// An arrived item keeps its key wherever it is moved in the store; deleting
// it for good queues the key, and the queue lives in the file until the keys
// are cleared.
TEST_F(RemovalQueueTest, OnlyDeletingForGoodQueuesTheKey) {
  auto s = OpenStore("queue.pst");
  const auto inbox = s->FolderByRole(FolderRole::kInbox);
  const auto deleted = s->FolderByRole(FolderRole::kDeleted);
  const auto sub = s->CreateFolder(inbox, "Sub", kMailItemType, FolderRole::kNone);
  const auto first = s->InsertArrived(Contact(inbox, "First"), "mbox 7.1");
  const auto second = s->InsertArrived(Contact(inbox, "Second"), "mbox 7.2");
  const auto third = s->InsertArrived(Contact(sub, "Third"), "mbox 7.3");
  const auto plain = s->InsertItem(Contact(sub, "Plain"));
  s->ForgetArrived("mbox 7.1");  // acknowledged: the item keeps its key all the same
  s->MoveItem(first, deleted);
  s->MoveItem(second, sub);
  EXPECT_TRUE(s->PendingRemovals().empty());

  s->DeleteItem(first);
  EXPECT_EQ(s->PendingRemovals(), std::vector<std::string>{"mbox 7.1"});
  // A whole folder deleted for good queues the keys of its items, and only those.
  s->MoveFolder(sub, deleted);
  s->DeleteFolderTree(sub);
  EXPECT_EQ(s->Item(plain), nullptr);
  EXPECT_THAT(s->PendingRemovals(), ::testing::ElementsAre("mbox 7.1", "mbox 7.2", "mbox 7.3"));
  (void)third;

  s.reset();
  s = OpenStore("queue.pst");
  EXPECT_THAT(s->PendingRemovals(), ::testing::ElementsAre("mbox 7.1", "mbox 7.2", "mbox 7.3"));
  s->ClearRemovals({"mbox 7.2", "not queued"});
  EXPECT_THAT(OpenStore("queue.pst")->PendingRemovals(), ::testing::ElementsAre("mbox 7.1", "mbox 7.3"));
  s->ClearRemovals({});
  EXPECT_EQ(s->PendingRemovals().size(), 2u);
}

// An item that goes on living in another store leaves no removal behind; a
// plain item never has one.
TEST_F(RemovalQueueTest, ItemsWithoutAKeyForGoodQueueNothing) {
  auto s = OpenStore("queue.pst");
  const auto inbox = s->FolderByRole(FolderRole::kInbox);
  const auto movedAway = s->InsertArrived(Contact(inbox, "Moved away"), "k1");
  s->DeleteItem(movedAway, false);
  s->DeleteItem(s->InsertItem(Contact(inbox, "Plain")));
  EXPECT_TRUE(s->PendingRemovals().empty());
  // The same number is never reused, but a key left behind would be found
  // by a later item: there is none.
  const auto again = s->InsertArrived(Contact(inbox, "Again"), "k2");
  s->DeleteItem(again);
  EXPECT_EQ(s->PendingRemovals(), std::vector<std::string>{"k2"});
}

// Stores written before arrived items kept their keys get the tables on open.
TEST_F(RemovalQueueTest, OlderStoreFilesGetTheQueueOnOpen) {
  const auto path = dir_ / "old.pst";
  { OpenStore("old.pst"); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE item_keys; DROP TABLE removals", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  auto s = OpenStore("old.pst");
  EXPECT_TRUE(s->PendingRemovals().empty());
  s->DeleteItem(s->InsertArrived(Contact(s->FolderByRole(FolderRole::kInbox), "New"), "key"));
  EXPECT_EQ(OpenStore("old.pst")->PendingRemovals(), std::vector<std::string>{"key"});
}

using TwoStoresTest = StoreFileTest;

// Two processes on one store file: every number is taken from the file's
// counter within the transaction that uses it.
TEST_F(TwoStoresTest, NumbersAreNeverHandedOutTwice) {
  auto a = OpenStore("shared.pst");
  auto b = OpenStore("shared.pst");
  const auto contacts = a->FolderByRole(FolderRole::kContacts);
  std::set<std::uint32_t> numbers;
  std::vector<std::uint32_t> items;
  for (int i = 0; i < 20; ++i) {
    auto& s = i % 2 ? *a : *b;
    const auto item = s.InsertItem(Contact(contacts, "Contact " + std::to_string(i), i % 2));
    EXPECT_TRUE(numbers.insert(item).second) << "item number " << item << " handed out twice";
    items.push_back(item);
    if (i % 5 == 0) {
      auto& other = i % 2 ? *b : *a;
      const auto folder = other.CreateFolder(contacts, "F" + std::to_string(i), kContactItemType, FolderRole::kNone);
      EXPECT_TRUE(numbers.insert(folder).second) << "folder number " << folder << " handed out twice";
    }
  }
  auto c = OpenStore("shared.pst");
  for (auto n : items) EXPECT_NE(c->Item(n), nullptr) << n;
  EXPECT_EQ(c->Folder(contacts)->items.size(), items.size());
  // A store opened before others wrote still continues after their numbers.
  const auto later = a->InsertItem(Contact(contacts, "Later"));
  EXPECT_GT(later, *numbers.rbegin());
}

// A change to a folder or item that another process removed from the file
// fails, and neither the file (no row comes back) nor the memory changes.
TEST_F(TwoStoresTest, ChangesToWhatTheOtherStoreDeletedFail) {
  const struct {
    const char* name;
    const char* message;
    std::function<void(detail::Store&, const Model&)> run;
  } cases[] = {
      {"UpdateItem", kMovedOrDeletedMessage,
       [](auto& s, auto& m) { s.UpdateItem(Renamed(s, m.inSub, "Back", false), false); }},
      {"UpdateItem with attachments", kMovedOrDeletedMessage,
       [](auto& s, auto& m) { s.UpdateItem(Renamed(s, m.inSub, "Back", true), true); }},
      {"SetUnread", kMovedOrDeletedMessage, [](auto& s, auto& m) { s.SetUnread(m.inSub, true); }},
      {"MoveItem", kMovedOrDeletedMessage, [](auto& s, auto& m) { s.MoveItem(m.inSub, m.inbox); }},
      {"DeleteItem", kMovedOrDeletedMessage, [](auto& s, auto& m) { s.DeleteItem(m.inSub); }},
      {"MoveItem into it", kNotFoundMessage, [](auto& s, auto& m) { s.MoveItem(m.plain, m.sub); }},
      {"InsertItem into it", kNotFoundMessage, [](auto& s, auto& m) { s.InsertItem(Contact(m.sub, "Lost")); }},
      {"InsertArrived into it", kNotFoundMessage,
       [](auto& s, auto& m) { s.InsertArrived(Contact(m.sub, "Lost"), "key"); }},
      {"CreateFolder in it", kNotFoundMessage,
       [](auto& s, auto& m) { s.CreateFolder(m.sub, "Lost", kMailItemType, FolderRole::kNone); }},
      {"MoveFolder into it", kNotFoundMessage,
       [](auto& s, auto& m) { s.MoveFolder(m.other, m.sub); }},
      {"RenameFolder", kNotFoundMessage, [](auto& s, auto& m) { s.RenameFolder(m.sub, "Back"); }},
      {"SetViewXml", kNotFoundMessage, [](auto& s, auto& m) { s.SetViewXml(m.sub, "<view/>"); }},
      {"MoveFolder", kNotFoundMessage, [](auto& s, auto& m) { s.MoveFolder(m.sub, m.contacts); }},
      {"DeleteFolderTree", kNotFoundMessage, [](auto& s, auto& m) { s.DeleteFolderTree(m.sub); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string(c.name) + ".pst";
    Model m;
    std::shared_ptr<detail::Store> a, b;
    {
      a = OpenStore(name);
      m = Fill(*a);
      b = OpenStore(name);
    }
    a->DeleteFolderTree(m.sub);  // with the item in it
    const std::string before = Describe(*b);
    try {
      c.run(*b, m);
      ADD_FAILURE() << "reported success";
    } catch (const HostError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(Describe(*b), before) << "memory";
    EXPECT_EQ(OpenStore(name)->Item(m.inSub), nullptr);
    EXPECT_EQ(OpenStore(name)->Folder(m.sub), nullptr);
    EXPECT_FALSE(b->HasArrived("key"));
  }
}

using ArrivedTest = StoreFileTest;

TEST_F(ArrivedTest, EachKeyIsStoredOnce) {
  auto s = OpenStore("mail.pst");
  const auto inbox = s->FolderByRole(FolderRole::kInbox);
  EXPECT_FALSE(s->HasArrived("1700000000.M1P2.host"));
  const auto first = s->InsertArrived(Contact(inbox, "First", 1), "1700000000.M1P2.host");
  ASSERT_NE(first, 0u);
  EXPECT_TRUE(s->HasArrived("1700000000.M1P2.host"));
  EXPECT_EQ(s->Item(first)->attachments.size(), 1u);
  const std::string once = Describe(*s);
  EXPECT_EQ(s->InsertArrived(Contact(inbox, "Again"), "1700000000.M1P2.host"), 0u);
  EXPECT_EQ(Describe(*s), once);
  EXPECT_EQ(Describe(*OpenStore("mail.pst"), false), Describe(*s, false));
  // Keys are exact: another key is another message.
  EXPECT_FALSE(s->HasArrived("1700000000.M1P2.HOST"));
  const auto second = s->InsertArrived(Contact(inbox, "Second"), "1700000000.M1P2.HOST");
  EXPECT_NE(second, 0u);
  EXPECT_NE(second, first);

  // Forgotten, a key can arrive again; forgetting an unknown key is no error.
  s->ForgetArrived("1700000000.M1P2.host");
  s->ForgetArrived("never-seen");
  EXPECT_FALSE(s->HasArrived("1700000000.M1P2.host"));
  EXPECT_NE(s->Item(first), nullptr);  // the item stays
  EXPECT_NE(s->InsertArrived(Contact(inbox, "Third"), "1700000000.M1P2.host"), 0u);
  EXPECT_EQ(s->Folder(inbox)->items.size(), 3u);

  auto reopened = OpenStore("mail.pst");
  EXPECT_TRUE(reopened->HasArrived("1700000000.M1P2.host"));
  EXPECT_TRUE(reopened->HasArrived("1700000000.M1P2.HOST"));
  EXPECT_EQ(reopened->Folder(inbox)->items.size(), 3u);
}

TEST_F(ArrivedTest, AKeyRecordedByAnotherStoreOnTheFileIsNotStoredAgain) {
  auto a = OpenStore("mail.pst");
  auto b = OpenStore("mail.pst");
  const auto inbox = a->FolderByRole(FolderRole::kInbox);
  ASSERT_NE(a->InsertArrived(Contact(inbox, "Once"), "key"), 0u);
  EXPECT_TRUE(b->HasArrived("key"));
  EXPECT_EQ(b->InsertArrived(Contact(inbox, "Twice"), "key"), 0u);
  EXPECT_TRUE(b->Folder(inbox)->items.empty());
  EXPECT_EQ(OpenStore("mail.pst")->Folder(inbox)->items.size(), 1u);
}

TEST_F(ArrivedTest, IntoAFolderThatIsNotThereNothingIsRecorded) {
  auto s = OpenStore("mail.pst");
  EXPECT_THROW(s->InsertArrived(Contact(987654, "Nowhere"), "key"), HostError);
  EXPECT_FALSE(s->HasArrived("key"));
}

// Stores written before mail was keyed have no table for the keys: they get
// it when they are opened.
TEST_F(ArrivedTest, OlderStoreFilesGetTheKeysOnOpen) {
  const auto path = dir_ / "old.pst";
  std::uint32_t kept = 0;
  {
    auto s = OpenStore("old.pst");
    kept = s->InsertItem(Contact(s->FolderByRole(FolderRole::kInbox), "Kept"));
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE arrived", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  auto s = OpenStore("old.pst");
  EXPECT_NE(s->Item(kept), nullptr);
  EXPECT_FALSE(s->HasArrived("key"));
  EXPECT_NE(s->InsertArrived(Contact(s->FolderByRole(FolderRole::kInbox), "New"), "key"), 0u);
  EXPECT_TRUE(OpenStore("old.pst")->HasArrived("key"));
}

using StoredPropertiesTest = StoreFileTest;

// What an item's properties read back as after the store is opened again:
// the texts the store writes, and texts written into the file by hand that
// the quick reader of the properties leaves to the general JSON reader.
TEST_F(StoredPropertiesTest, PropertiesReadBackAsWrittenWhicheverReaderTakesThem) {
  std::uint32_t written = 0, contacts = 0;
  const auto& schema = detail::SchemaOf(detail::ItemKind::kContact);
  auto set = [&](ItemRecord& r, const char* name, Variant v) {
    const auto index = *schema.IndexOf(name);
    detail::SetStoredValue(r.props, index, std::move(v), schema.At(index).defaultValue);
  };
  ItemRecord r = Contact(0, "Quote \" back\\slash / tab\t line\r\n ctrl\x01 \xC5\xBD" "emait\xC4\x97 \xF0\x9F\x98\x80");
  {
    auto s = OpenStore("props.pst");
    contacts = s->FolderByRole(FolderRole::kContacts);
    r.folder = contacts;
    set(r, "Birthday", platform::DateTime::FromSecondsSinceZero(3600LL * 24 * 40000));
    set(r, "Gender", std::int32_t{2});
    set(r, "Journal", true);
    set(r, "Body", std::string());
    r.userProps = {{"Plexisync CorrID", "ABC\"\\\x02"}, {"Empty", ""}};
    written = s->InsertItem(ItemRecord(r));
  }
  {
    auto s = OpenStore("props.pst");
    const ItemRecord* back = s->Item(written);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->props, r.props);
    EXPECT_EQ(back->userProps, r.userProps);
  }

  // Texts written by hand, and the full name each gives ("" for none).
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"FullName":"Plain"})", "Plain"},
      {" { \"FullName\" : \"Spaced\" , \"Gender\" : 1 } ", "Spaced"},
      {R"({"FullName":"A","FullName":"B"})", "B"},
      // Names are taken without case, the last one in the order of names.
      {R"({"FullName":"A","fullname":"B"})", "B"},
      {R"({"FullName":"\u00e9t\u00e9"})", "\xC3\xA9t\xC3\xA9"},
      {R"({"FullName":"N","Gender":1.5,"Birthday":null})", "N"},
      {R"({"FullName":"trailing"} x)", ""},
      {"{\"FullName\":\"bad \xFF\"}", ""},
      {"{\"FullName\":\"raw\x01\"}", ""},
      {R"({"FullName":5})", ""},
      {R"({"FullName":"U","UserProperties":{"k":1,"j":"v"}})", "U"},
      {R"({"FullName":"Deep","Other":{"x":[1,2]}})", "Deep"},
      {R"({"FullName":"Big","Gender":99999999999999999999})", "Big"},
      {R"(["FullName","array"])", ""},
  };
  std::vector<std::uint32_t> numbers;
  {
    auto s = OpenStore("props.pst");
    for (std::size_t i = 0; i < cases.size(); ++i) numbers.push_back(s->InsertItem(Contact(contacts, "x")));
  }
  {
    platform::sqlite::Connection db(dir_ / "props.pst", SQLITE_OPEN_READWRITE);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      platform::sqlite::Statement st(db, "UPDATE items SET props=? WHERE number=?");
      st.BindText(1, cases[i].first).BindInt64(2, numbers[i]).Run();
    }
  }
  auto s = OpenStore("props.pst");
  const auto fullName = *schema.IndexOf("FullName");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    const ItemRecord* item = s->Item(numbers[i]);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(std::get<std::string>(detail::StoredValue(item->props, fullName, std::string())), cases[i].second);
  }
  // The user property of a kind other than text is passed over.
  const auto& user = s->Item(numbers[10])->userProps;
  EXPECT_EQ(user, (std::map<std::string, std::string>{{"j", "v"}}));
}

}  // namespace
}  // namespace host::testing

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <regex>
#include <set>

#include "host/entry_id.hpp"
#include "host_fixture.hpp"
#include "platform/textfile.hpp"

namespace host::testing {
namespace {

TEST(EntryIdTest, FormatsAndParsesTwentyFourBytes) {
  StoreId store{};
  for (int i = 0; i < 16; ++i) store[i] = static_cast<std::uint8_t>(0xA0 + i);
  std::string id = FormatEntryId(store, 0x01020304);
  EXPECT_EQ(id, "00000000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF01020304");
  auto parts = ParseEntryId(id);
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->store, store);
  EXPECT_EQ(parts->number, 0x01020304u);
  EXPECT_TRUE(ParseEntryId("00000000a0a1a2a3a4a5a6a7a8a9aaabacadaeaf01020304"));
}

TEST(EntryIdTest, RejectsWhatIsNotAnEntryId) {
  for (const char* bad : {"", "00", "X0000000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF01020304",
                          "10000000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF01020304",
                          "00000000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF0102030",
                          "00000000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF0102030405"}) {
    EXPECT_FALSE(ParseEntryId(bad)) << bad;
  }
}

using ProfileTest = HostTest;

TEST_F(ProfileTest, CreateWritesFilesAndInstallerValue) {
  auto p = dir_ / "alice";
  EXPECT_TRUE(std::filesystem::exists(p / "profile.json"));
  EXPECT_TRUE(std::filesystem::exists(p / "store.db"));
  EXPECT_TRUE(std::filesystem::exists(p / "registry.db"));
  EXPECT_TRUE(std::filesystem::is_directory(p / "install"));
  auto v = keys_->QueryValue("Software\\Quorvane\\Plexisync\\", "InstDir");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->type, platform::kRegSz);
  std::string expected = (std::filesystem::absolute(p) / "install").string() + "/";
  std::vector<std::uint8_t> bytes(expected.begin(), expected.end());
  bytes.push_back(0);
  EXPECT_EQ(v->data, bytes);
  EXPECT_EQ(profile_->InstallDirText(), expected);
}

TEST_F(ProfileTest, OpenReadsBackTheSettings) {
  Profile p = Profile::Open(dir_ / "alice");
  EXPECT_EQ(p.DisplayName(), "Alice Adams");
  EXPECT_EQ(p.Address(), "alice@example.org");
  EXPECT_EQ(p.TransportKind(), "postoffice");
  EXPECT_EQ(p.PostOfficeDir(), std::filesystem::absolute(dir_ / "postoffice"));
}

TEST_F(ProfileTest, OpenAndCreateFailClearly) {
  EXPECT_THROW(Profile::Open(dir_ / "nobody"), HostError);
  std::filesystem::create_directories(dir_ / "empty");
  EXPECT_THROW(Profile::Open(dir_ / "empty"), HostError);
  std::filesystem::create_directories(dir_ / "broken");
  platform::WriteTextFile(dir_ / "broken" / "profile.json", "{\"name\": 5}");
  EXPECT_THROW(Profile::Open(dir_ / "broken"), HostError);
  EXPECT_THROW(Profile::Create(dir_ / "alice", "A", "a@x", dir_ / "po"), HostError);
}

using StoreTest = HostTest;

TEST_F(StoreTest, DefaultStoreHasTheDefaultFolders) {
  auto top = ns_->Folders();
  ASSERT_EQ(top->Count(), 1);
  auto root = top->Item(1);
  EXPECT_EQ(root->Name(), "Personal Folders");
  std::vector<std::string> names;
  for (auto f = root->Folders()->GetFirst(); f; f = nullptr) names.push_back(f->Name());
  auto subs = root->Folders();
  names.clear();
  for (auto f = subs->GetFirst(); f; f = subs->GetNext()) names.push_back(f->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"Deleted Items", "Inbox", "Outbox", "Sent Items", "Contacts"}));
  struct Case {
    int number;
    const char* name;
    int itemType;
  } cases[] = {{3, "Deleted Items", 0}, {4, "Outbox", 0}, {5, "Sent Items", 0}, {6, "Inbox", 0}, {10, "Contacts", 2}};
  for (const auto& c : cases) {
    auto f = ns_->GetDefaultFolder(c.number);
    EXPECT_EQ(f->Name(), c.name);
    EXPECT_EQ(f->DefaultItemType(), c.itemType);
    EXPECT_EQ(f->DefaultValue(), c.name);
  }
  for (int bad : {0, 1, 2, 7, 9, 11, 16, -1}) EXPECT_THROW(ns_->GetDefaultFolder(bad), HostError) << bad;
}

TEST_F(StoreTest, EntryIdsAreUppercaseHexWithStorePrefix) {
  auto c = NewContact(Contacts(), "Bob");
  std::string id = c->EntryID();
  EXPECT_TRUE(std::regex_match(id, std::regex("00000000[0-9A-F]{40}"))) << id;
  EXPECT_EQ(id.substr(8, 32), Contacts()->EntryID().substr(8, 32));
  EXPECT_NE(id, Contacts()->EntryID());
  EXPECT_EQ(Contacts()->StoreID(), id.substr(8, 32));
}

TEST_F(StoreTest, DataSurvivesReopeningTheProfile) {
  auto team = Contacts()->Folders()->Add("Team", kFolderTypeContacts);
  auto c = NewContact(team, "Bob Brown");
  c->SetProperty("Birthday", platform::DateTime::FromParts(1980, 2, 29));
  c->SetProperty("Gender", std::int32_t{2});
  c->SetProperty("Journal", true);
  c->Save();
  c->SetUnRead(true);
  std::string id = c->EntryID(), folderId = team->EntryID();
  auto created = c->CreationTime();
  team->SetViewXml("<view><viewname>Mine</viewname></view>");
  ns_.reset();
  Start();
  auto again = std::dynamic_pointer_cast<ContactItem>(ns_->GetItemFromID(id));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->FullName(), "Bob Brown");
  EXPECT_EQ(std::get<platform::DateTime>(again->GetProperty("Birthday")), platform::DateTime::FromParts(1980, 2, 29));
  EXPECT_EQ(std::get<std::int32_t>(again->GetProperty("Gender")), 2);
  EXPECT_TRUE(std::get<bool>(again->GetProperty("Journal")));
  EXPECT_TRUE(again->UnRead());
  EXPECT_EQ(again->CreationTime(), created);
  auto f = ns_->GetFolderFromID(folderId);
  EXPECT_EQ(f->Name(), "Team");
  EXPECT_EQ(f->DefaultItemType(), 2);
  EXPECT_EQ(f->ViewXml(), "<view><viewname>Mine</viewname></view>");
  // New numbers never reuse old ones.
  auto d = NewContact(f, "Carol");
  EXPECT_NE(d->EntryID(), id);
}

TEST_F(StoreTest, AddStoreCreatesPersonalFileAndAppendsIt) {
  auto path = (dir_ / "export.pst").string();
  ns_->AddStore(path);
  ASSERT_EQ(ns_->Folders()->Count(), 2);
  auto root = ns_->Folders()->GetLast();
  EXPECT_EQ(root->Name(), "Personal Folders");
  EXPECT_EQ(root->Folders()->Count(), 1);
  EXPECT_EQ(root->Folders()->Item(1)->Name(), "Deleted Items");
  EXPECT_EQ(root->Parent()->DefaultValue(), "Mapi");
  EXPECT_NE(root->StoreID(), Contacts()->StoreID());
  // Adding it again changes nothing.
  ns_->AddStore(path);
  EXPECT_EQ(ns_->Folders()->Count(), 2);

  auto temp = root->Folders()->Add("Temp", kFolderTypeContacts);
  auto c = NewContact(temp, "Exported");
  std::string id = c->EntryID();
  ns_->RemoveStore(root);
  EXPECT_EQ(ns_->Folders()->Count(), 1);
  EXPECT_THROW(ns_->GetItemFromID(id), HostError);
  EXPECT_THROW(temp->Name(), HostError);
  EXPECT_THROW(c->FullName(), HostError);

  ns_->AddStore(path);
  auto reopened = ns_->Folders()->Item(2);
  EXPECT_EQ(reopened->Folders()->Count(), 2);
  EXPECT_EQ(reopened->Folders()->Item("temp")->Items()->Count(), 1);
  EXPECT_EQ(ns_->GetItemFromID(id)->DefaultValue(), "Exported");
}

TEST_F(StoreTest, TheDefaultStoreCannotBeRemoved) {
  EXPECT_THROW(ns_->RemoveStore(Contacts()), HostError);
  EXPECT_THROW(ns_->RemoveStore(nullptr), HostError);
  EXPECT_EQ(ns_->Folders()->Count(), 1);
}

TEST_F(StoreTest, FilesThatAreNoStoreAreRefused) {
  auto garbage = dir_ / "garbage.pst";
  {
    std::ofstream out(garbage, std::ios::binary);
    for (int i = 0; i < 5000; ++i) out.put(static_cast<char>((i * 7919) & 0xFF));
  }
  EXPECT_THROW(ns_->AddStore(garbage.string()), HostError);
  auto text = dir_ / "text.pst";
  platform::WriteTextFile(text, "just some text, not a store\n");
  EXPECT_THROW(ns_->AddStore(text.string()), HostError);
  EXPECT_THROW(ns_->AddStore(dir_.string()), HostError);
  EXPECT_THROW(ns_->AddStore(""), HostError);
  // An empty file is a store that lost its content, not a new one.
  auto empty = dir_ / "empty.pst";
  platform::WriteTextFile(empty, "");
  EXPECT_THROW(ns_->AddStore(empty.string()), HostError);
  EXPECT_EQ(ns_->Folders()->Count(), 1);
  // A file that is not there yet is a new store.
  ns_->AddStore((dir_ / "new.pst").string());
  EXPECT_EQ(ns_->Folders()->Count(), 2);
}

TEST_F(StoreTest, LookupsByIdFailForAnythingMissingOrMalformed) {
  auto c = NewContact(Contacts(), "Bob");
  std::string id = c->EntryID();
  std::string otherStore = id;
  otherStore[10] = otherStore[10] == 'A' ? 'B' : 'A';
  std::string missingNumber = id.substr(0, 40) + "7FFFFFFF";
  for (const std::string& bad : {std::string(), std::string("garbage"), otherStore, missingNumber,
                                  std::string(48, 'Z'), std::string(4096, '0'), std::string("\0\0", 2)}) {
    EXPECT_THROW(ns_->GetItemFromID(bad), HostError) << bad;
    EXPECT_THROW(ns_->GetFolderFromID(bad), HostError) << bad;
  }
  // An item id is no folder id and the other way round.
  EXPECT_THROW(ns_->GetFolderFromID(id), HostError);
  EXPECT_THROW(ns_->GetItemFromID(Contacts()->EntryID()), HostError);
}

TEST_F(StoreTest, IdsAreUniqueAcrossStores) {
  ns_->AddStore((dir_ / "a.pst").string());
  ns_->AddStore((dir_ / "b.pst").string());
  std::set<std::string> ids;
  auto top = ns_->Folders();
  for (int i = 1; i <= top->Count(); ++i) {
    auto root = top->Item(i);
    EXPECT_TRUE(ids.insert(root->EntryID()).second);
    auto sub = root->Folders();
    for (auto f = sub->GetFirst(); f; f = sub->GetNext()) EXPECT_TRUE(ids.insert(f->EntryID()).second);
  }
  EXPECT_EQ(ids.size(), 6u + 2u + 2u);
}

}  // namespace
}  // namespace host::testing

namespace host::testing {
namespace {

// Damaged rows written straight into a store file: the store still opens,
// keeps what is sound and passes over the rest.
TEST_F(StoreTest, DamagedStoreContentIsPassedOver) {
  auto path = dir_ / "damaged.pst";
  ns_->AddStore(path.string());
  auto root = ns_->Folders()->GetLast();
  auto a = root->Folders()->Add("A", kFolderTypeContacts);
  auto b = a->Folders()->Add("B", kFolderTypeContacts);
  auto good = NewContact(a, "Good");
  auto bad = NewContact(a, "Bad");
  std::string goodId = good->EntryID(), badId = bad->EntryID(), bId = b->EntryID();
  ns_->RemoveStore(root);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.string().c_str(), &db), SQLITE_OK);
  auto exec = [&](const std::string& sql) { EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql; };
  auto number = [](const std::string& id) { return std::to_string(ParseEntryId(id)->number); };
  exec("UPDATE items SET props = '{\"FullName\": 5, \"Birthday\": \"x\", \"Gender\": 99999999999, "
       "\"Journal\": \"yes\", \"Nonsense\": 1, \"CompanyName\": \"Kept\"}' WHERE number = " + number(badId));
  exec("UPDATE items SET props = 'not json at all', created = 'text', modified = 99999999999999 WHERE number = " +
       number(goodId));
  exec("UPDATE folders SET parent = number WHERE number = " + number(bId));  // a loop
  exec("INSERT INTO items(number, folder, seq, kind, message_class, unread, created, modified, submitted, props) "
       "VALUES(900000, 424242, 1, 1, 'IPM.Contact', 0, 0, 0, 0, '{}')");  // an orphan
  exec("INSERT INTO attachments(item, idx, name, data) VALUES(123456789, 0, 'x', x'00')");
  sqlite3_close(db);

  ns_->AddStore(path.string());
  auto reopened = ns_->Folders()->GetLast()->Folders()->Item("A");
  EXPECT_EQ(reopened->Folders()->Count(), 0);  // the looping folder is unreachable
  EXPECT_THROW(ns_->GetFolderFromID(bId), HostError);
  auto items = reopened->Items();
  ASSERT_EQ(items->Count(), 2);
  auto g = items->Item(1);
  PersonScope person(*app_);
  EXPECT_EQ(g->Text("FullName"), "");
  EXPECT_EQ(g->CreationTime(), platform::DateTime::NoDate());
  auto d = items->Item(2);
  EXPECT_EQ(d->Text("FullName"), "");
  EXPECT_EQ(d->Text("CompanyName"), "Kept");
  EXPECT_EQ(d->Text("Birthday"), "1/1/4501");
  EXPECT_EQ(d->Text("Gender"), "0");
  EXPECT_EQ(d->Text("Journal"), "False");
  // Still writable.
  d->SetProperty("FullName", std::string("Fixed"));
  d->Save();
  EXPECT_EQ(ns_->GetItemFromID(badId)->DefaultValue(), "Fixed");
}

}  // namespace
}  // namespace host::testing

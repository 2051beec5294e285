// Store files that cannot be read whole are refused with one clear line and
// are left exactly as they were, files that lost their layout included.
#include <gmock/gmock.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <regex>

#include "host/entry_id.hpp"
#include "store_fixture.hpp"

namespace host::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class StoreDamageTest : public StoreFileTest {
 protected:
  static constexpr std::size_t kPage = 4096;

  // A closed store of some size: folders, contacts, attachments that spill
  // onto pages of their own.
  std::string MakeStoreBytes() {
    {
      auto s = OpenStore("model.pst");
      const auto contacts = s->FolderByRole(detail::FolderRole::kContacts);
      const auto sub = s->CreateFolder(contacts, "Team", detail::kContactItemType, detail::FolderRole::kNone);
      for (int i = 0; i < 120; ++i) s->InsertItem(Contact(i % 3 ? contacts : sub, "Contact " + std::to_string(i), i % 4));
      ItemRecord big = Contact(sub, "Big");
      big.attachments.push_back({"big.bin", std::vector<std::uint8_t>(3 * kPage + 123, 0x5A)});
      s->InsertItem(std::move(big));
    }
    std::string bytes = ReadBytes(dir_ / "model.pst");
    EXPECT_EQ(bytes.size() % kPage, 0u);
    EXPECT_GT(bytes.size(), 20 * kPage);
    return bytes;
  }

  // Opening `bytes` as a store is refused with `pattern`, and leaves the file
  // and its folder as they were.
  void ExpectRefused(const std::string& name, const std::string& bytes, const std::string& pattern) {
    const auto path = dir_ / name;
    WriteBytes(path, bytes);
    const auto before = Listing();
    try {
      Store::Open(path, detail::StoreLayout::kDefault);
      ADD_FAILURE() << name << " was opened";
    } catch (const HostError& e) {
      const std::string message = e.what();
      EXPECT_THAT(message, MatchesRegex(pattern)) << name;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_TRUE(ReadBytes(path) == bytes) << name << ": the file was changed";
    EXPECT_EQ(Listing(), before) << name << ": files were left beside it";
  }

  std::string DamagedPattern(const std::string& name) const {
    return "The personal folders file " + std::regex_replace((dir_ / name).string(), std::regex("[.+]"), "\\$&") +
           " is damaged and cannot be read: [^\n]+\\.";
  }
  std::string NotAStorePattern(const std::string& name) const {
    return "The file " + std::regex_replace((dir_ / name).string(), std::regex("[.+]"), "\\$&") +
           " is not a personal folders file\\.";
  }
};

TEST_F(StoreDamageTest, TruncatedFilesAreRefusedAndLeftAsTheyWere) {
  const std::string bytes = MakeStoreBytes();
  const std::size_t size = bytes.size();
  const struct {
    const char* name;
    std::size_t length;
  } cases[] = {
      {"in-the-signature", 10},
      {"in-the-header", 60},
      {"header-only", 100},
      {"one-page", kPage},
      {"two-pages", 2 * kPage},
      {"half-the-pages", size / kPage / 2 * kPage},
      {"half-and-some", size / 2 + 123},
      {"all-but-the-last-page", size - kPage},
      {"all-but-one-byte", size - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string(c.name) + ".pst";
    ExpectRefused(name, bytes.substr(0, c.length), DamagedPattern(name));
  }
}

TEST_F(StoreDamageTest, PagesOverwrittenWithGarbageAreRefusedAndLeftAsTheyWere) {
  const std::string bytes = MakeStoreBytes();
  const std::size_t pages = bytes.size() / kPage;
  std::mt19937 random(4242);
  const struct {
    const char* name;
    std::size_t page;   // 1-based
    std::size_t from;   // first byte overwritten within the page
  } cases[] = {
      {"schema-page", 1, 100},
      {"page-2", 2, 0},
      {"page-3", 3, 0},
      {"middle-page", pages / 2, 0},
      {"last-page", pages, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = bytes;
    for (std::size_t i = (c.page - 1) * kPage + c.from; i < c.page * kPage; ++i) {
      damaged[i] = static_cast<char>(random());
    }
    const std::string name = std::string(c.name) + ".pst";
    ExpectRefused(name, damaged, DamagedPattern(name));
  }
}

TEST_F(StoreDamageTest, FilesThatAreNotSqliteAreRefusedAndLeftAsTheyWere) {
  std::string noise;
  std::mt19937 random(7);
  for (int i = 0; i < 3 * 4096; ++i) noise += static_cast<char>(random());
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"text", "just some text, not a store\n"},
      {"zeros", std::string(8192, '\0')},
      {"noise", noise},
      {"almost-signature", std::string("SQLite format 2\0", 16) + std::string(4080, '\0')},
      {"one-byte", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string(c.name) + ".pst";
    ExpectRefused(name, c.bytes, NotAStorePattern(name));
  }
}

// Writes a database with raw SQL and returns its bytes.
std::string RawDatabase(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
  return StoreFileTest::ReadBytes(path);
}

constexpr const char* kOldTables =
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value);"
    "CREATE TABLE folders(number INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, "
    "item_type INTEGER NOT NULL, role TEXT NOT NULL, view_xml TEXT NOT NULL, seq INTEGER NOT NULL);"
    "CREATE TABLE items(number INTEGER PRIMARY KEY, folder INTEGER NOT NULL, seq INTEGER NOT NULL, "
    "kind INTEGER NOT NULL, message_class TEXT NOT NULL, unread INTEGER NOT NULL, created INTEGER, "
    "modified INTEGER, submitted INTEGER NOT NULL, props TEXT NOT NULL);"
    "CREATE TABLE attachments(item INTEGER NOT NULL, idx INTEGER NOT NULL, name TEXT NOT NULL, "
    "data BLOB NOT NULL, PRIMARY KEY(item, idx));"
    "INSERT INTO meta VALUES('format', 'plexisync-store-1');"
    "INSERT INTO meta VALUES('store_id', x'00112233445566778899AABBCCDDEEFF');"
    "INSERT INTO meta VALUES('next_number', 1);";

TEST_F(StoreDamageTest, DamagedLayoutsAreRefusedAndLeftAsTheyWere) {
  const struct {
    const char* name;
    std::string sql;
    bool store;  // recognisably a store (damaged) rather than something else
  } cases[] = {
      {"no-top-folder", std::string(kOldTables) +
                            "INSERT INTO folders VALUES(2, 1, 'Orphan', 0, '', '', 1);", true},
      {"no-items-table", std::string(kOldTables) + "DROP TABLE items;", true},
      {"no-store-id", std::string(kOldTables) + "DELETE FROM meta WHERE key = 'store_id';", true},
      {"other-format", std::string(kOldTables) + "UPDATE meta SET value = 'x' WHERE key = 'format';", false},
      {"other-database", "CREATE TABLE contacts(name TEXT); INSERT INTO contacts VALUES('a');", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string(c.name) + ".pst";
    const std::string bytes = RawDatabase(dir_ / "raw.db", c.sql);
    std::filesystem::remove(dir_ / "raw.db");
    ExpectRefused(name, bytes, c.store ? DamagedPattern(name) : NotAStorePattern(name));
  }
}

std::string IdText(const StoreId& id) { return FormatEntryId(id, 0).substr(8, 32); }

std::vector<std::string> SubfolderNames(const detail::Store& s) {
  std::vector<std::string> names;
  for (auto c : s.Folder(s.Root())->children) names.push_back(s.Folder(c)->name);
  return names;
}

const std::vector<std::string> kDefaultFolders = {"Deleted Items", "Inbox", "Outbox", "Sent Items", "Contacts"};

// New stores are made whole before they get their name, so a file that is
// there without any table lost its content: it is refused, never made into
// a new, empty store.
TEST_F(StoreDamageTest, FilesWithoutALayoutAreRefusedAndLeftAsTheyWere) {
  const struct {
    const char* name;
    const char* sql;  // nullptr: a file of no bytes
  } cases[] = {
      {"zero-bytes", nullptr},
      {"empty-database", "PRAGMA user_version = 0;"},
      {"log-mode-only", "PRAGMA journal_mode = WAL;"},
      {"table-created-and-dropped", "CREATE TABLE t(x); DROP TABLE t;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string(c.name) + ".pst";
    std::string bytes;
    if (c.sql) {
      bytes = RawDatabase(dir_ / "raw.db", c.sql);
      std::filesystem::remove(dir_ / "raw.db");
    }
    ExpectRefused(name, bytes, DamagedPattern(name));
  }
}

// Processes creating the same store at once all open the one that was put
// in place first; nothing under another name is left beside it, and the
// file is in log (WAL) mode from the start.
TEST_F(StoreDamageTest, ProcessesCreatingOneStoreAtOnceShareTheFirstOne) {
  constexpr int kProcesses = 4;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      (void)::read(gate[0], &c, 1);  // all start when the gate closes
      int rc = 0;
      try {
        auto s = OpenStore("shared.pst");
        s->InsertItem(Contact(s->FolderByRole(detail::FolderRole::kContacts), "By " + std::to_string(i)));
      } catch (...) {
        rc = 2;
      }
      ::_exit(rc);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(Listing(), std::set<std::string>{"shared.pst"});
  const std::string bytes = ReadBytes(dir_ / "shared.pst");
  ASSERT_GT(bytes.size(), 20u);
  EXPECT_EQ(bytes[18], 2) << "not in log mode";
  auto s = OpenStore("shared.pst");
  EXPECT_EQ(s->Folder(s->FolderByRole(detail::FolderRole::kContacts))->items.size(),
            static_cast<std::size_t>(kProcesses));
}

// An earlier version created the tables in one transaction and each folder
// in one more; cut off in between, it left tables without folders.
TEST_F(StoreDamageTest, TablesWithoutFoldersGetTheirFolders) {
  const auto path = dir_ / "half.pst";
  RawDatabase(path, std::string("PRAGMA journal_mode = WAL;") + kOldTables);
  {
    auto s = Store::Open(path, detail::StoreLayout::kPersonalFile);
    EXPECT_EQ(SubfolderNames(*s), std::vector<std::string>{"Deleted Items"});
    EXPECT_EQ(IdText(s->Id()), "00112233445566778899AABBCCDDEEFF");  // the file's own id is kept
    s->InsertItem(Contact(s->Root(), "Kept"));
  }
  auto again = Store::Open(path, detail::StoreLayout::kPersonalFile);
  EXPECT_EQ(SubfolderNames(*again), std::vector<std::string>{"Deleted Items"});
  EXPECT_EQ(again->Folder(again->Root())->items.size(), 1u);
}

// A failure at any step of creating a store leaves nothing the next open
// would take for a store; the next open creates it cleanly.
TEST_F(StoreDamageTest, CreationCutOffAtAnyStepIsCompletedByTheNextOpen) {
  platform::sqlite::FailNthStep(0);
  { OpenStore("count.pst"); }
  const std::uint64_t steps = platform::sqlite::StepsCounted();
  ASSERT_GT(steps, 10u);
  for (std::uint64_t k = 1; k <= steps; ++k) {
    SCOPED_TRACE("failing step " + std::to_string(k) + " of " + std::to_string(steps));
    const std::string name = "cut" + std::to_string(k) + ".pst";
    const auto before = Listing();
    platform::sqlite::FailNthStep(k);
    try {
      OpenStore(name);
      ADD_FAILURE() << "the injected failure was not reported";
    } catch (const HostError& e) {
      EXPECT_THAT(e.what(), HasSubstr(platform::sqlite::kInjectedFailure));
    }
    platform::sqlite::FailNthStep(0);
    // Nothing half-made is left: at most the finished store, under its name.
    auto after = Listing();
    after.erase(name);
    EXPECT_EQ(after, before);
    auto s = OpenStore(name);
    EXPECT_EQ(SubfolderNames(*s), kDefaultFolders);
    const auto inbox = s->FolderByRole(detail::FolderRole::kInbox);
    ASSERT_NE(inbox, 0u);
    EXPECT_TRUE(s->Folder(inbox)->items.empty());
    EXPECT_TRUE(IdText(s->Id()) != std::string(32, '0'));
  }
}

}  // namespace
}  // namespace host::testing

#include "platform/sqlite.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace platform::sqlite {
namespace {

using ::testing::HasSubstr;

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sqlite-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    db_ = Connection(dir_ / "t.db", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db_.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, data BLOB, n INTEGER)");
  }
  void TearDown() override {
    FailNthStep(0);
    db_.Close();
    std::filesystem::remove_all(dir_);
  }
  std::int64_t Count() {
    Statement st(db_, "SELECT count(*) FROM t");
    EXPECT_TRUE(st.Step());
    return st.ColumnInt64(0);
  }
  void Insert(std::int64_t id) {
    Statement st(db_, "INSERT INTO t(id, name) VALUES(?, 'x')");
    st.BindInt64(1, id).Run();
  }

  std::filesystem::path dir_;
  Connection db_;
};

TEST_F(SqliteTest, BindsAndReadsEveryKindOfValue) {
  Statement ins(db_, "INSERT INTO t(id, name, data, n) VALUES(?, ?, ?, ?)");
  const std::string withNul("a\0b", 3);
  const std::vector<std::uint8_t> bytes{0, 255, 7};
  ins.BindInt64(1, 1).BindText(2, withNul).BindBlob(3, bytes).BindInt64(4, -5).Run();
  ins.Reset();
  ins.BindInt64(1, 2).BindText(2, "").BindBlob(3, std::string_view()).BindNull(4).Run();
  EXPECT_EQ(db_.Changes(), 1);
  EXPECT_EQ(db_.LastInsertRowid(), 2);

  Statement sel(db_, "SELECT name, data, n FROM t ORDER BY id");
  ASSERT_TRUE(sel.Step());
  EXPECT_EQ(sel.ColumnText(0), withNul);
  EXPECT_EQ(sel.ColumnBlob(1), bytes);
  EXPECT_EQ(sel.ColumnInt64(2), -5);
  ASSERT_TRUE(sel.Step());
  EXPECT_EQ(sel.ColumnType(0), SQLITE_TEXT);  // an empty text is not NULL
  EXPECT_EQ(sel.ColumnType(1), SQLITE_BLOB);
  EXPECT_TRUE(sel.ColumnBlob(1).empty());
  EXPECT_TRUE(sel.IsNull(2));
  EXPECT_FALSE(sel.Step());
}

TEST_F(SqliteTest, FailuresThrowWithSqlitesMessage) {
  Insert(1);
  const struct {
    const char* name;
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {"constraint", [&] { Insert(1); }, "UNIQUE constraint failed: t.id"},
      {"prepare", [&] { Statement(db_, "SELECT x FROM nowhere"); }, "no such table: nowhere"},
      {"exec", [&] { db_.Exec("INSERT INTO t(id) VALUES(1)"); }, "UNIQUE constraint failed: t.id"},
      {"commit without begin", [&] { db_.Exec("COMMIT"); }, "no transaction is active"},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.name << " did not throw";
    } catch (const Error& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.name;
    }
  }
  EXPECT_EQ(Count(), 1);
}

// A step that fails is never taken for the end of the rows.
TEST_F(SqliteTest, AReadThatFailsMidwayThrows) {
  {
    Transaction tx(db_);
    for (int i = 1; i <= 5; ++i) Insert(i);
    tx.Commit();
  }
  Statement sel(db_, "SELECT id FROM t ORDER BY id");
  FailNthStep(3);
  EXPECT_TRUE(sel.Step());
  EXPECT_TRUE(sel.Step());
  EXPECT_THROW(sel.Step(), Error);
  // The statement was reset: it reads from the start again.
  ASSERT_TRUE(sel.Step());
  EXPECT_EQ(sel.ColumnInt64(0), 1);
}

TEST_F(SqliteTest, DamagedFileFailsToReadInsteadOfEndingEarly) {
  {
    Transaction tx(db_);
    for (int i = 1; i <= 2000; ++i) Insert(i);
    tx.Commit();
  }
  db_.Close();
  {
    // Garbage over the table's second page and beyond.
    std::fstream f(dir_ / "t.db", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4096 * 2);
    for (int i = 0; i < 4096 * 2; ++i) f.put(static_cast<char>(i * 13));
  }
  db_ = Connection(dir_ / "t.db", SQLITE_OPEN_READONLY);
  Statement sel(db_, "SELECT id FROM t");
  try {
    while (sel.Step()) {
    }
    ADD_FAILURE() << "the damaged table read to its end";
  } catch (const Error& e) {
    EXPECT_EQ(e.PrimaryCode(), SQLITE_CORRUPT) << e.what();
  }
}

TEST_F(SqliteTest, TransactionsRollBackUnlessCommitted) {
  {
    Transaction tx(db_);
    Insert(1);
    EXPECT_TRUE(db_.InTransaction());
  }
  EXPECT_FALSE(db_.InTransaction());
  EXPECT_EQ(Count(), 0);
  {
    Transaction tx(db_);
    Insert(1);
    tx.Commit();
  }
  EXPECT_EQ(Count(), 1);
  try {
    Transaction tx(db_);
    Insert(2);
    Insert(1);  // fails
    tx.Commit();
  } catch (const Error&) {
  }
  EXPECT_FALSE(db_.InTransaction());
  EXPECT_EQ(Count(), 1);
}

TEST_F(SqliteTest, TheWriteLockWaitsForTheBusyTimeoutThenFails) {
  Connection other(dir_ / "t.db", SQLITE_OPEN_READWRITE);
  other.SetBusyTimeout(50);
  Transaction holding(db_);
  try {
    Transaction tx(other);
    ADD_FAILURE() << "two write transactions at once";
  } catch (const Error& e) {
    EXPECT_EQ(e.PrimaryCode(), SQLITE_BUSY);
  }
  EXPECT_FALSE(other.InTransaction());
}

// The hook counts every step, BEGIN and COMMIT included, and fails exactly
// the armed one, once.
TEST_F(SqliteTest, TheFaultHookFailsTheNthStepOnce) {
  auto write = [&] {
    Transaction tx(db_);  // step 1
    Insert(10);           // step 2
    Insert(11);           // step 3
    tx.Commit();          // step 4
  };
  FailNthStep(0);
  write();
  EXPECT_EQ(StepsCounted(), 4u);
  db_.Exec("DELETE FROM t");
  for (std::uint64_t k = 1; k <= 4; ++k) {
    FailNthStep(k);
    try {
      write();
      ADD_FAILURE() << "step " << k << " did not fail";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), kInjectedFailure);
    }
    EXPECT_FALSE(db_.InTransaction()) << k;
    EXPECT_EQ(Count(), 0) << "step " << k << ": nothing committed";
  }
  FailNthStep(5);
  write();
  FailNthStep(0);
  EXPECT_EQ(Count(), 2);
}

TEST_F(SqliteTest, OpeningWhatCannotBeOpenedThrows) {
  EXPECT_THROW(Connection(dir_ / "missing" / "x.db", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), Error);
  EXPECT_THROW(Connection(dir_ / "absent.db", SQLITE_OPEN_READWRITE), Error);
  Connection closed;
  EXPECT_FALSE(closed.IsOpen());
  EXPECT_THROW(closed.Exec("SELECT 1"), Error);
  EXPECT_THROW(Statement(closed, "SELECT 1"), Error);
}

}  // namespace
}  // namespace platform::sqlite

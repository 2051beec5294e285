// The file layer that writes a commit's log frames in one go: whatever
// SQLite reported as committed is in the file even when the process dies the
// moment after, and every other view of the file (another connection, reads
// inside a transaction that spilled pages, a checkpoint) sees it as written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/sqlite.hpp"

namespace platform::sqlite {
namespace {

constexpr int kOpen = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

class GatheredWalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sqlite-vfs-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Connection OpenWal(const char* locking = "NORMAL") {
    Connection db(dir_ / "t.db", kOpen);
    db.Exec(std::string("PRAGMA locking_mode=") + locking);
    db.Exec("PRAGMA journal_mode=WAL");
    db.Exec("PRAGMA synchronous=NORMAL");
    db.Exec("CREATE TABLE IF NOT EXISTS t(id INTEGER PRIMARY KEY, data BLOB NOT NULL)");
    db.Exec("CREATE INDEX IF NOT EXISTS t_data ON t(data)");
    return db;
  }
  static void Insert(Connection& db, std::int64_t id, std::size_t size) {
    Statement st(db, "INSERT INTO t(id, data) VALUES(?, ?)");
    const std::string data(size, static_cast<char>('a' + id % 26));
    st.BindInt64(1, id).BindBlob(2, std::string_view(data)).Run();
  }
  static std::int64_t Count(Connection& db) {
    Statement st(db, "SELECT count(*), coalesce(sum(length(data)), 0) FROM t");
    EXPECT_TRUE(st.Step());
    return st.ColumnInt64(0);
  }

  // Empties the folder, then runs `work` in a child process, which must end
  // with DieNow while its connections are open (nothing closed, nothing
  // flushed by destructors). An exception is exit code 2, returning 4.
  ::testing::AssertionResult InChildThatDiesRightAfter(const std::function<void()>& work) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    const pid_t child = ::fork();
    if (child < 0) return ::testing::AssertionFailure() << "fork failed";
    if (child == 0) {
      int code = 4;
      try {
        work();
      } catch (...) {
        code = 2;
      }
      ::_exit(code);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
      return ::testing::AssertionFailure() << "the child did not exit";
    }
    if (WEXITSTATUS(status) != 0) return ::testing::AssertionFailure() << "the child exited with " << WEXITSTATUS(status);
    return ::testing::AssertionSuccess();
  }
  // Ends the child at once: exit code 0 when `ok`, else 3.
  [[noreturn]] static void DieNow(bool ok) { ::_exit(ok ? 0 : 3); }
  static void ExpectIntact(Connection& db) {
    Statement check(db, "PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.ColumnText(0), "ok");
  }

  std::filesystem::path dir_;
};

TEST_F(GatheredWalTest, ConnectionsUseTheLayer) {
  ASSERT_NE(GatheredWalVfs(), nullptr);
  Connection db = OpenWal();
  sqlite3_vfs* vfs = nullptr;
  ASSERT_EQ(sqlite3_file_control(db.Handle(), "main", SQLITE_FCNTL_VFS_POINTER, &vfs), SQLITE_OK);
  ASSERT_NE(vfs, nullptr);
  EXPECT_STREQ(vfs->zName, GatheredWalVfs());
}

// A child commits in every way a transaction can end up in the log (one small
// row, many pages in one commit, more than the gathered limit, a transaction
// whose cache spilled pages into the log before its end) and dies at once
// without closing anything: every commit is in the file.
TEST_F(GatheredWalTest, WhatWasCommittedOutlivesAProcessThatDiesRightAfter) {
  for (const char* locking : {"NORMAL", "EXCLUSIVE"}) {
    SCOPED_TRACE(locking);
    ASSERT_TRUE(InChildThatDiesRightAfter([&] {
      Connection db = OpenWal(locking);
      db.Exec("PRAGMA cache_size=10");  // forces spills inside the big transaction
      Insert(db, 1, 10);
      {
        Transaction tx(db);
        for (int i = 2; i < 200; ++i) Insert(db, i, 3000);
        tx.Commit();
      }
      Insert(db, 200, 9u << 20);
      Insert(db, 201, 10);
      DieNow(Count(db) == 201);
    }));
    Connection db(dir_ / "t.db", SQLITE_OPEN_READWRITE);
    EXPECT_EQ(Count(db), 201);
    Statement st(db, "SELECT length(data) FROM t WHERE id = 200");
    ASSERT_TRUE(st.Step());
    EXPECT_EQ(st.ColumnInt64(0), 9 << 20);
    ExpectIntact(db);
  }
}

// The database file's pages are gathered too: a checkpoint that copied the
// log into the file and cut the log back, and a commit through a rollback
// journal, are in the file when the process dies right after.
TEST_F(GatheredWalTest, CheckpointsAndJournalCommitsOutliveAProcessThatDiesRightAfter) {
  struct Case {
    const char* name;
    const char* journal;
    const char* locking;
    bool checkpoint;
  };
  for (const Case& c : {Case{"log, checkpoint", "WAL", "NORMAL", true},
                        Case{"log held exclusively, checkpoint", "WAL", "EXCLUSIVE", true},
                        Case{"rollback journal", "DELETE", "NORMAL", false}}) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(InChildThatDiesRightAfter([&] {
      Connection db(dir_ / "t.db", kOpen);
      db.Exec(std::string("PRAGMA locking_mode=") + c.locking);
      db.Exec(std::string("PRAGMA journal_mode=") + c.journal);
      db.Exec("PRAGMA synchronous=NORMAL");
      db.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, data BLOB NOT NULL)");
      for (int i = 1; i <= 40; ++i) Insert(db, i, 2000 + static_cast<std::size_t>(i) * 100);
      Insert(db, 41, 5u << 20);  // a long run of adjoining pages
      {
        Statement gone(db, "DELETE FROM t WHERE id % 3 = 0");
        gone.Run();
      }
      Insert(db, 42, 3u << 20);  // partly into pages that were freed
      if (c.checkpoint) db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
      DieNow(Count(db) == 29);
    }));
    if (c.checkpoint) {
      std::error_code ec;
      EXPECT_EQ(std::filesystem::file_size(dir_ / "t.db-wal", ec), 0u) << "the log was not cut back";
    }
    Connection db(dir_ / "t.db", SQLITE_OPEN_READWRITE);
    EXPECT_EQ(Count(db), 29);
    Statement st(db, "SELECT length(data), substr(data, 1000000, 1) FROM t WHERE id IN (41, 42) ORDER BY id");
    ASSERT_TRUE(st.Step());
    EXPECT_EQ(st.ColumnInt64(0), 5 << 20);
    EXPECT_EQ(st.ColumnText(1), std::string(1, 'a' + 41 % 26));
    ASSERT_TRUE(st.Step());
    EXPECT_EQ(st.ColumnInt64(0), 3 << 20);
    EXPECT_EQ(st.ColumnText(1), std::string(1, 'a' + 42 % 26));
    ExpectIntact(db);
  }
}

TEST_F(GatheredWalTest, OtherConnectionsAndCheckpointsSeeEveryCommit) {
  Connection writer = OpenWal();
  Connection reader(dir_ / "t.db", SQLITE_OPEN_READWRITE);
  for (int i = 1; i <= 300; ++i) {
    Insert(writer, i, 500 + static_cast<std::size_t>(i) * 7);
    if (i % 50 == 0) {
      EXPECT_EQ(Count(reader), i);
      writer.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
  }
  // A rolled-back transaction leaves nothing behind.
  {
    Transaction tx(writer);
    Insert(writer, 1000, 100000);
  }
  EXPECT_EQ(Count(reader), 300);
  EXPECT_EQ(Count(writer), 300);
}

}  // namespace
}  // namespace platform::sqlite

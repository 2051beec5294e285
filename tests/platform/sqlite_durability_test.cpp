// What the files kept in SQLite rely on, checked through Connection on
// SQLite's own file layer: a rolled-back transaction that spilled pages into
// the write-ahead log leaves another connection's commit alone; a commit that
// returned is in the file when the process is killed right after; a
// checkpoint that cannot write the database file fails and loses nothing.
// The crash cases run in a forked child that opens its own connection (a
// connection is never carried across fork).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/sqlite.hpp"

namespace platform::sqlite {
namespace {

constexpr int kOpen = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

// Exit codes of the children below; anything else is "the child failed".
constexpr int kChildOk = 0;
constexpr int kChildThrew = 2;
constexpr int kChildWrong = 3;

class SqliteDurabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sqlite-durability-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path File() const { return dir_ / "t.db"; }

  // A connection to the test file in write-ahead-log mode with table t.
  Connection OpenWal(const std::string& synchronous = "NORMAL", const std::string& locking = "NORMAL") {
    Connection db(File(), kOpen);
    db.SetBusyTimeout(5000);
    db.Exec("PRAGMA locking_mode=" + locking);
    db.Exec("PRAGMA journal_mode=WAL");
    db.Exec("PRAGMA synchronous=" + synchronous);
    db.Exec("CREATE TABLE IF NOT EXISTS t(id INTEGER PRIMARY KEY, data BLOB NOT NULL)");
    return db;
  }
  // The value row `id` holds in round `round`: its size and bytes tell
  // rounds and rows apart.
  static std::string Value(std::int64_t id, int round, std::size_t size) {
    std::string v = std::to_string(round) + ":" + std::to_string(id) + ":";
    v.resize(size, static_cast<char>('a' + (id + round) % 26));
    return v;
  }
  static void Insert(Connection& db, std::int64_t id, const std::string& data) {
    Statement st(db, "INSERT INTO t(id, data) VALUES(?, ?)");
    st.BindInt64(1, id).BindBlob(2, std::string_view(data)).Run();
  }
  static std::int64_t Count(Connection& db) {
    Statement st(db, "SELECT count(*) FROM t");
    if (!st.Step()) throw Error(SQLITE_ERROR, "no count");
    return st.ColumnInt64(0);
  }
  // Rows 1..n hold Value(id, round, size), and nothing else is in t.
  static ::testing::AssertionResult Holds(Connection& db, int n, int round, std::size_t size) {
    if (const auto count = Count(db); count != n) {
      return ::testing::AssertionFailure() << count << " rows instead of " << n;
    }
    Statement st(db, "SELECT id, data FROM t ORDER BY id");
    for (int id = 1; id <= n; ++id) {
      if (!st.Step()) return ::testing::AssertionFailure() << "row " << id << " is missing";
      if (st.ColumnInt64(0) != id || st.ColumnView(1) != Value(id, round, size)) {
        return ::testing::AssertionFailure() << "row " << st.ColumnInt64(0) << " does not hold round " << round;
      }
    }
    return ::testing::AssertionSuccess();
  }
  static std::string IntegrityCheck(Connection& db) {
    Statement check(db, "PRAGMA integrity_check");
    return check.Step() ? check.ColumnText(0) : "no answer";
  }

  // Runs `work` in a forked child and waits for it. The child ends with
  // work's return code (kChildThrew for an exception); or, when it calls the
  // `committed` function it is given, the parent kills it with SIGKILL right
  // away, connections open and nothing flushed by destructors. `killed` tells
  // which end is expected.
  using ChildWork = std::function<int(const std::function<void()>& committed)>;
  static ::testing::AssertionResult InChild(const ChildWork& work, bool killed) {
    int fds[2];
    if (::pipe(fds) != 0) return ::testing::AssertionFailure() << "pipe failed";
    const pid_t child = ::fork();
    if (child < 0) return ::testing::AssertionFailure() << "fork failed";
    if (child == 0) {
      ::close(fds[0]);
      auto committed = [&] {
        const char byte = 1;
        if (::write(fds[1], &byte, 1) != 1) ::_exit(kChildWrong);
        for (;;) ::pause();
      };
      int code = kChildThrew;
      try {
        code = work(committed);
      } catch (...) {
      }
      ::_exit(code);
    }
    ::close(fds[1]);
    char byte = 0;
    ssize_t got;
    do {
      got = ::read(fds[0], &byte, 1);
    } while (got < 0 && errno == EINTR);
    ::close(fds[0]);
    if (got == 1) ::kill(child, SIGKILL);
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return ::testing::AssertionFailure() << "waitpid failed";
    if (killed) {
      if (got == 1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return ::testing::AssertionSuccess();
      return ::testing::AssertionFailure() << "the child did not get to its commit (exit code "
                                           << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ")";
    }
    if (got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == kChildOk) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the child ended with status " << status;
  }

  std::filesystem::path dir_;
};

// A transaction with a cache of ten pages writes its pages into the log long
// before its end; it rolls back, and another connection then commits. The
// rolled-back pages are in the log file where the other commit's go, and
// must never come back: not while the first connection closes (which may
// checkpoint), not in a checkpoint afterwards.
TEST_F(SqliteDurabilityTest, RolledBackSpilledPagesLeaveAnotherConnectionsCommitAlone) {
  constexpr int kCommitted = 38;
  constexpr std::size_t kSize = 3000;
  {
    Connection a = OpenWal();
    Connection b = OpenWal();
    a.Exec("PRAGMA cache_size=10");
    // An empty log: what A's transaction writes starts the log file afresh,
    // and what it rolls back needs no read of the log.
    a.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    {
      Transaction tx(a);
      for (int i = 1; i <= 60; ++i) Insert(a, 1000 + i, Value(1000 + i, 0, kSize));
      // More pages changed than the cache holds: most went to the log.
      int spilled = 0, highest = 0;
      ASSERT_EQ(sqlite3_db_status(a.Handle(), SQLITE_DBSTATUS_CACHE_SPILL, &spilled, &highest, 0), SQLITE_OK);
      ASSERT_GT(spilled, 30);
    }  // rolled back
    ASSERT_FALSE(a.InTransaction());
    {
      Transaction tx(b);
      for (int i = 1; i <= kCommitted; ++i) Insert(b, i, Value(i, 1, kSize));
      tx.Commit();
    }
    a.Close();
    // A new connection reads through the log, not through B's cache.
    Connection c(File(), SQLITE_OPEN_READWRITE);
    EXPECT_EQ(IntegrityCheck(c), "ok");
    EXPECT_TRUE(Holds(c, kCommitted, 1, kSize));
  }
  Connection db(File(), SQLITE_OPEN_READWRITE);
  EXPECT_EQ(IntegrityCheck(db), "ok");
  EXPECT_TRUE(Holds(db, kCommitted, 1, kSize));
  db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  EXPECT_EQ(std::filesystem::file_size(File().string() + "-wal"), 0u);
  EXPECT_EQ(IntegrityCheck(db), "ok");
  EXPECT_TRUE(Holds(db, kCommitted, 1, kSize));
}

// One transaction rewrites 100 rows twice with a cache so small that pages
// spill into the log before COMMIT; the process is killed the moment COMMIT
// returned. Reopened, the file holds the second values, whole. For every
// synchronous level the files use, with the lock held per statement and for
// good (the sole user's key store).
TEST_F(SqliteDurabilityTest, ACommitThatReturnedOutlivesSigkill) {
  struct Case {
    const char* synchronous;
    const char* locking;
  };
  constexpr int kRows = 100;
  constexpr std::size_t kSize = 2500;
  for (const Case& c : {Case{"NORMAL", "NORMAL"}, Case{"NORMAL", "EXCLUSIVE"}, Case{"FULL", "NORMAL"}}) {
    SCOPED_TRACE(std::string(c.synchronous) + ", locking " + c.locking);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ASSERT_TRUE(InChild(
        [&](const std::function<void()>& committed) {
          Connection db = OpenWal(c.synchronous, c.locking);
          db.Exec("PRAGMA cache_size=5");
          {
            Transaction tx(db);
            for (int i = 1; i <= kRows; ++i) Insert(db, i, Value(i, 0, kSize));
            tx.Commit();
          }
          Transaction tx(db);
          Statement st(db, "UPDATE t SET data = ? WHERE id = ?");
          for (int round = 1; round <= 2; ++round) {
            for (int i = 1; i <= kRows; ++i) {
              st.BindBlob(1, Value(i, round, kSize)).BindInt64(2, i).Run();
              st.Reset();
            }
          }
          tx.Commit();
          committed();
          return kChildWrong;
        },
        /*killed=*/true));
    Connection db(File(), SQLITE_OPEN_READWRITE);
    EXPECT_EQ(IntegrityCheck(db), "ok");
    EXPECT_TRUE(Holds(db, kRows, 2, kSize));
  }
}

// No write into the database file may reach past 64 KiB (RLIMIT_FSIZE,
// with SIGXFSZ ignored so that such a write fails with EFBIG instead of
// killing the process). The rows were committed into the log beforehand;
// the checkpoint's copy into the database file cannot be written, either
// because the file would have to grow, or because the pages it overwrites
// lie past the limit in a file that is already large (the file's length
// then needs no change, as on a disk that is full). The checkpoint reports
// the failure, as an error or in its "busy" column, and the log keeps its
// frames. A real full disk is not staged: a small file system needs mount
// rights, which these tests do not assume. The child then either closes its
// connection (closing tries a checkpoint too, under the same limit) or dies
// with it open; either way the file, opened again without the limit, holds
// every committed row.
TEST_F(SqliteDurabilityTest, ACheckpointThatCannotWriteFailsAndLosesNothing) {
  struct Case {
    const char* name;
    bool fileAlreadyLarge;
    bool closes;
  };
  constexpr int kRows = 200;  // some 800 KiB of pages
  constexpr std::size_t kSize = 3000;
  constexpr rlim_t kLimit = 64 * 1024;
  const std::string wal = File().string() + "-wal";
  for (const Case& c : {Case{"the file must grow, the child closes", false, true},
                        Case{"the file must grow, the child dies", false, false},
                        Case{"pages past the limit are overwritten, the child closes", true, true},
                        Case{"pages past the limit are overwritten, the child dies", true, false}}) {
    SCOPED_TRACE(c.name);
    const int round = c.fileAlreadyLarge ? 1 : 0;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ASSERT_TRUE(InChild(
        [&](const std::function<void()>&) {
          Connection db = OpenWal();
          db.Exec("PRAGMA wal_autocheckpoint=0");
          {
            Transaction tx(db);
            for (int i = 1; i <= kRows; ++i) Insert(db, i, Value(i, 0, kSize));
            tx.Commit();
          }
          if (c.fileAlreadyLarge) {
            // Round 0 goes into the file; round 1 rewrites every row, in the
            // log only.
            db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
            if (std::filesystem::file_size(File()) < kRows * kSize) return 10;
            Transaction tx(db);
            Statement st(db, "UPDATE t SET data = ? WHERE id = ?");
            for (int i = 1; i <= kRows; ++i) {
              st.BindBlob(1, Value(i, 1, kSize)).BindInt64(2, i).Run();
              st.Reset();
            }
            tx.Commit();
          } else if (std::filesystem::file_size(File()) >= kLimit) {
            return 10;
          }
          if (std::filesystem::file_size(wal) < kRows * kSize) return 11;
          ::signal(SIGXFSZ, SIG_IGN);
          const rlimit limit{kLimit, kLimit};
          if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 12;
          bool failed = false;
          try {
            Statement st(db, "PRAGMA wal_checkpoint(TRUNCATE)");
            if (!st.Step()) return 13;
            failed = st.ColumnInt64(0) != 0;  // busy: not every frame copied
          } catch (const Error& e) {
            if (e.PrimaryCode() != SQLITE_IOERR && e.PrimaryCode() != SQLITE_FULL) return 14;
            failed = true;
          }
          if (!failed) return 15;  // reported as done although the file could not be written
          if (std::filesystem::file_size(wal) < kRows * kSize) return 16;  // the log was cut back
          if (!c.closes) ::_exit(kChildOk);
          db.Close();
          return std::filesystem::file_size(wal) >= kRows * kSize ? kChildOk : 17;
        },
        /*killed=*/false));
    Connection db(File(), SQLITE_OPEN_READWRITE);
    EXPECT_EQ(IntegrityCheck(db), "ok");
    EXPECT_TRUE(Holds(db, kRows, round, kSize));
    // Without the limit the checkpoint goes through and still loses nothing.
    db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    EXPECT_EQ(std::filesystem::file_size(wal), 0u);
    EXPECT_EQ(IntegrityCheck(db), "ok");
    EXPECT_TRUE(Holds(db, kRows, round, kSize));
  }
}

}  // namespace
}  // namespace platform::sqlite

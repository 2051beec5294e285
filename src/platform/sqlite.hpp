#pragma once
// A thin RAII layer over the SQLite C interface, shared by the files that
// keep their data in SQLite (the key store, the mail client's message store).
//
// Every failure throws sqlite::Error carrying SQLite's own message; callers
// turn it into their own error type. A statement step that returns anything
// but a row or "done" is a failure, never the end of the rows.
//
// For tests, FailNthStep arms a fault: the n-th statement step on this thread
// fails as if SQLite had refused it, so that a failure can be placed in the
// middle of a transaction.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sqlite {

class Error : public std::runtime_error {
 public:
  // `message` is SQLite's text; `code` its (extended) result code.
  Error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }
  // The primary result code (SQLITE_CORRUPT, SQLITE_BUSY, ...).
  int PrimaryCode() const { return code_ & 0xFF; }

 private:
  int code_;
};

// The message of the failures that FailNthStep injects.
inline constexpr const char* kInjectedFailure = "injected failure";

// Test hook, per thread. Every Statement::Step (each call, whether it gives a
// row or not), every Connection::Exec and the BEGIN and COMMIT of a
// Transaction count as one step. After FailNthStep(n) the n-th step from now
// on (1-based) throws Error(SQLITE_IOERR, kInjectedFailure) instead of
// running; n = 0 disarms. Arming also restarts StepsCounted.
void FailNthStep(std::uint64_t n);
// Steps counted on this thread since the hook was last armed or disarmed.
std::uint64_t StepsCounted();

class Statement;

class Connection {
 public:
  Connection() = default;
  // Opens the file with sqlite3_open_v2 flags (SQLITE_OPEN_READWRITE, ...),
  // through SQLite's default file layer.
  Connection(const std::filesystem::path& file, int flags);
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  bool IsOpen() const { return db_ != nullptr; }
  // Closes the connection; statements still alive keep it until they go.
  void Close() noexcept;
  sqlite3* Handle() const { return db_; }

  // How long a statement waits for another connection's lock before it
  // fails with SQLITE_BUSY.
  void SetBusyTimeout(int milliseconds);
  // Runs one or more statements that return no rows of interest.
  void Exec(const std::string& sql);
  // Rows changed by the last INSERT, UPDATE or DELETE.
  std::int64_t Changes() const;
  std::int64_t LastInsertRowid() const;
  // True while a transaction is open.
  bool InTransaction() const;

 private:
  friend class Transaction;
  void Begin();
  void Commit();
  void Rollback() noexcept;
  void FinalizeOwn() noexcept;

  sqlite3* db_ = nullptr;
  // Prepared once, the first time a transaction is used.
  std::unique_ptr<Statement> begin_, commit_, rollback_;
};

class Statement {
 public:
  Statement() = default;
  // `persistent` hints that the statement lives long and runs often.
  Statement(Connection& db, std::string_view sql, bool persistent = false);
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  bool IsPrepared() const { return stmt_ != nullptr; }
  void Finalize() noexcept;
  sqlite3_stmt* Handle() const { return stmt_; }

  // Parameters are numbered from 1. Text and blobs are copied unless `copy`
  // is false; then they must stay alive until the statement is reset.
  Statement& BindText(int index, std::string_view text, bool copy = true);
  Statement& BindBlob(int index, std::span<const std::uint8_t> data, bool copy = true);
  Statement& BindBlob(int index, std::string_view data, bool copy = true);
  Statement& BindInt64(int index, std::int64_t value);
  Statement& BindNull(int index);

  // True when a row is available, false when the statement is done. Any
  // other result throws Error (and resets the statement).
  bool Step();
  // Steps until done: for statements that change the database.
  void Run();
  // Back to the start, bindings cleared; ends the statement's read.
  void Reset() noexcept;

  // Columns of the current row, numbered from 0.
  int ColumnType(int col) const;
  bool IsNull(int col) const { return ColumnType(col) == SQLITE_NULL; }
  std::int64_t ColumnInt64(int col) const;
  // The value's bytes as text or blob (empty for NULL); the view is valid
  // until the next step or reset.
  std::string_view ColumnView(int col) const;
  std::string ColumnText(int col) const { return std::string(ColumnView(col)); }
  std::vector<std::uint8_t> ColumnBlob(int col) const;

 private:
  [[noreturn]] void Fail(int rc);
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail(rc);
  }

  sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction: BEGIN IMMEDIATE takes the write lock up front (waiting
// up to the busy timeout for another writer). Anything that leaves the scope
// before Commit rolls back.
class Transaction {
 public:
  explicit Transaction(Connection& db);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();
  void Commit();

 private:
  Connection& db_;
  bool done_ = false;
};

}  // namespace platform::sqlite

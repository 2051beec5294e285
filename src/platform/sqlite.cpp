#include "platform/sqlite.hpp"

#include <utility>

namespace platform::sqlite {
namespace {

struct StepFault {
  std::uint64_t failAt = 0;  // 0: disarmed
  std::uint64_t counted = 0;
};
thread_local StepFault t_fault;

// Counts one step; throws when it is the armed one.
void CountStep() {
  ++t_fault.counted;
  if (t_fault.failAt != 0 && t_fault.counted == t_fault.failAt) {
    t_fault.failAt = 0;
    throw Error(SQLITE_IOERR, kInjectedFailure);
  }
}

std::string MessageOf(sqlite3* db, int rc) {
  const char* m = db ? sqlite3_errmsg(db) : nullptr;
  return m && *m ? std::string(m) : std::string(sqlite3_errstr(rc));
}

}  // namespace

void FailNthStep(std::uint64_t n) {
  t_fault.failAt = n;
  t_fault.counted = 0;
}

std::uint64_t StepsCounted() { return t_fault.counted; }

// ---------------------------------------------------------------- Connection

Connection::Connection(const std::filesystem::path& file, int flags) {
  const int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why = MessageOf(db_, rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw Error(rc, why);
  }
  sqlite3_extended_result_codes(db_, 1);
}

Connection::Connection(Connection&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      begin_(std::move(other.begin_)),
      commit_(std::move(other.commit_)),
      rollback_(std::move(other.rollback_)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    Close();
    db_ = std::exchange(other.db_, nullptr);
    begin_ = std::move(other.begin_);
    commit_ = std::move(other.commit_);
    rollback_ = std::move(other.rollback_);
  }
  return *this;
}

Connection::~Connection() { Close(); }

void Connection::FinalizeOwn() noexcept {
  begin_.reset();
  commit_.reset();
  rollback_.reset();
}

void Connection::Close() noexcept {
  FinalizeOwn();
  // _v2: a statement that outlives the connection keeps it as a zombie
  // until it is finalized, instead of failing the close.
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void Connection::SetBusyTimeout(int milliseconds) {
  if (!db_) throw Error(SQLITE_MISUSE, "the database is closed");
  sqlite3_busy_timeout(db_, milliseconds);
}

void Connection::Exec(const std::string& sql) {
  if (!db_) throw Error(SQLITE_MISUSE, "the database is closed");
  CountStep();
  char* err = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? std::string(err) : MessageOf(db_, rc);
    sqlite3_free(err);
    throw Error(sqlite3_extended_errcode(db_), msg);
  }
}

std::int64_t Connection::Changes() const { return db_ ? sqlite3_changes64(db_) : 0; }

std::int64_t Connection::LastInsertRowid() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

bool Connection::InTransaction() const { return db_ && !sqlite3_get_autocommit(db_); }

void Connection::Begin() {
  if (!begin_) begin_ = std::make_unique<Statement>(*this, "BEGIN IMMEDIATE", true);
  begin_->Run();
}

void Connection::Commit() {
  if (!commit_) commit_ = std::make_unique<Statement>(*this, "COMMIT", true);
  commit_->Run();
}

void Connection::Rollback() noexcept {
  if (!InTransaction()) return;  // some failures end the transaction themselves
  if (!rollback_) {
    try {
      rollback_ = std::make_unique<Statement>(*this, "ROLLBACK", true);
    } catch (const Error&) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return;
    }
  }
  // Not counted as a step: a rollback is what a failure leads to.
  sqlite3_step(rollback_->Handle());
  sqlite3_reset(rollback_->Handle());
}

// ----------------------------------------------------------------- Statement

Statement::Statement(Connection& db, std::string_view sql, bool persistent) {
  if (!db.IsOpen()) throw Error(SQLITE_MISUSE, "the database is closed");
  const int rc = sqlite3_prepare_v3(db.Handle(), sql.data(), static_cast<int>(sql.size()),
                                    persistent ? SQLITE_PREPARE_PERSISTENT : 0, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why = MessageOf(db.Handle(), rc);
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    throw Error(sqlite3_extended_errcode(db.Handle()), why);
  }
  if (!stmt_) throw Error(SQLITE_MISUSE, "no statement in \"" + std::string(sql) + "\"");
}

Statement::Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    Finalize();
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

Statement::~Statement() { Finalize(); }

void Statement::Finalize() noexcept {
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
}

void Statement::Fail(int rc) {
  sqlite3* db = stmt_ ? sqlite3_db_handle(stmt_) : nullptr;
  const std::string msg = MessageOf(db, rc);
  const int code = db ? sqlite3_extended_errcode(db) : rc;
  Reset();
  throw Error(code == SQLITE_OK ? rc : code, msg);
}

Statement& Statement::BindText(int index, std::string_view text, bool copy) {
  // A null pointer would bind NULL; an empty text needs a real address.
  static const char kEmpty = 0;
  Check(sqlite3_bind_text64(stmt_, index, text.empty() ? &kEmpty : text.data(), text.size(),
                            copy ? SQLITE_TRANSIENT : SQLITE_STATIC, SQLITE_UTF8));
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view data, bool copy) {
  static const char kEmpty = 0;
  Check(sqlite3_bind_blob64(stmt_, index, data.empty() ? &kEmpty : data.data(), data.size(),
                            copy ? SQLITE_TRANSIENT : SQLITE_STATIC));
  return *this;
}

Statement& Statement::BindBlob(int index, std::span<const std::uint8_t> data, bool copy) {
  return BindBlob(index, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), copy);
}

Statement& Statement::BindInt64(int index, std::int64_t value) {
  Check(sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

Statement& Statement::BindNull(int index) {
  Check(sqlite3_bind_null(stmt_, index));
  return *this;
}

bool Statement::Step() {
  if (!stmt_) throw Error(SQLITE_MISUSE, "statement not prepared");
  try {
    CountStep();
  } catch (...) {
    Reset();
    throw;
  }
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() noexcept {
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int Statement::ColumnType(int col) const { return sqlite3_column_type(stmt_, col); }

std::int64_t Statement::ColumnInt64(int col) const { return sqlite3_column_int64(stmt_, col); }

std::string_view Statement::ColumnView(int col) const {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, col));
  const int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string_view(p, static_cast<std::size_t>(n)) : std::string_view();
}

std::vector<std::uint8_t> Statement::ColumnBlob(int col) const {
  const std::string_view v = ColumnView(col);
  return std::vector<std::uint8_t>(v.begin(), v.end());
}

// --------------------------------------------------------------- Transaction

Transaction::Transaction(Connection& db) : db_(db) {
  if (!db_.IsOpen()) throw Error(SQLITE_MISUSE, "the database is closed");
  db_.Begin();
}

Transaction::~Transaction() {
  if (!done_) db_.Rollback();
}

void Transaction::Commit() {
  db_.Commit();
  done_ = true;
}

}  // namespace platform::sqlite

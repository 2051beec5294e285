#include "platform/keystore.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/text.hpp"

namespace platform {
namespace {

// Layout version of the hive file, kept in PRAGMA user_version.
constexpr int kSchemaVersion = 1;

// Names, folded names and value data are stored as BLOBs: comparisons are
// then plain byte comparisons, and names holding any byte (even NUL) from
// untrusted input round-trip exactly.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id        INTEGER PRIMARY KEY,
  parent_id INTEGER REFERENCES keys(id),
  name      BLOB NOT NULL,
  name_fold BLOB NOT NULL,
  path_fold BLOB NOT NULL UNIQUE);
CREATE UNIQUE INDEX IF NOT EXISTS keys_children ON keys(parent_id, name_fold);
CREATE TABLE IF NOT EXISTS vals(
  seq       INTEGER PRIMARY KEY,
  key_id    INTEGER NOT NULL REFERENCES keys(id),
  name      BLOB NOT NULL,
  name_fold BLOB NOT NULL,
  type      INTEGER NOT NULL,
  data      BLOB NOT NULL,
  UNIQUE(key_id, name_fold));
CREATE INDEX IF NOT EXISTS vals_by_data ON vals(key_id, type, data);
INSERT OR IGNORE INTO keys(id, parent_id, name, name_fold, path_fold) VALUES(1, NULL, X'', X'', X'');
)sql";

// `seq` is the rowid without AUTOINCREMENT: a new row gets max(seq)+1, which
// is above every live value of its key, so a new (or re-created) value always
// enumerates last, while an overwrite updates the row in place and keeps it.
// There is deliberately no index on (key_id, seq): a listing sorts its key's
// values once, which is cheaper than one more index page written per insert.
// vals_by_data ends in the rowid, so equal data come out in `seq` order.
constexpr const char* kSqlFindKey = "SELECT id FROM keys WHERE path_fold=?1";
constexpr const char* kSqlInsertKey =
    "INSERT INTO keys(parent_id, name, name_fold, path_fold) VALUES(?1, ?2, ?3, ?4)";
constexpr const char* kSqlQueryValue =
    "SELECT v.type, v.data FROM keys k JOIN vals v ON v.key_id=k.id "
    "WHERE k.path_fold=?1 AND v.name_fold=?2";
constexpr const char* kSqlSetValue =
    "INSERT INTO vals(key_id, name, name_fold, type, data) "
    "SELECT id, ?2, ?3, ?4, ?5 FROM keys WHERE path_fold=?1 "
    "ON CONFLICT(key_id, name_fold) DO UPDATE SET type=excluded.type, data=excluded.data";
constexpr const char* kSqlListSubKeys =
    "SELECT name FROM keys WHERE parent_id=(SELECT id FROM keys WHERE path_fold=?1) "
    "ORDER BY name_fold";
constexpr const char* kSqlListValues =
    "SELECT name FROM vals WHERE key_id=(SELECT id FROM keys WHERE path_fold=?1) ORDER BY seq";
constexpr const char* kSqlHasChild = "SELECT 1 FROM keys WHERE parent_id=?1 LIMIT 1";
constexpr const char* kSqlDeleteKeyValues = "DELETE FROM vals WHERE key_id=?1";
constexpr const char* kSqlDeleteKey = "DELETE FROM keys WHERE id=?1";
constexpr const char* kSqlDeleteValue =
    "DELETE FROM vals WHERE key_id=(SELECT id FROM keys WHERE path_fold=?1) AND name_fold=?2";
constexpr const char* kSqlFindByData =
    "SELECT name FROM vals WHERE key_id=(SELECT id FROM keys WHERE path_fold=?1) "
    "AND type=?2 AND data=?3 ORDER BY seq LIMIT 1";
constexpr const char* kSqlFindByDataSeq =
    "SELECT name, seq FROM vals WHERE key_id=(SELECT id FROM keys WHERE path_fold=?1) "
    "AND type=?2 AND data IN (?3, ?4) ORDER BY seq LIMIT 1";
constexpr const char* kSqlTypesBelow =
    "SELECT name, type, data, seq FROM vals WHERE key_id=(SELECT id FROM keys WHERE path_fold=?1) "
    "AND type<?2 AND seq<?3 ORDER BY seq";
constexpr const char* kSqlTypesAbove =
    "SELECT name, type, data, seq FROM vals WHERE key_id=(SELECT id FROM keys WHERE path_fold=?1) "
    "AND type>?2 AND seq<?3 ORDER BY seq";
constexpr const char* kSqlDataVersion = "PRAGMA data_version";
constexpr const char* kSqlBegin = "BEGIN IMMEDIATE";
constexpr const char* kSqlCommit = "COMMIT";
constexpr const char* kSqlRollback = "ROLLBACK";

// Input shown in error messages, cut so that a hostile megabyte-long name
// does not end up in a log line.
std::string Shown(std::string_view s) {
  constexpr std::size_t kMax = 80;
  if (s.size() <= kMax) return "\"" + std::string(s) + "\"";
  return "\"" + std::string(s.substr(0, kMax)) + "...\" (" + std::to_string(s.size()) + " bytes)";
}

// Length in characters: UTF-8 sequences count once, any byte that is not
// part of a well-formed sequence counts as one character of its own.
std::size_t CharCount(std::string_view s) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) len = 3;
    else if (c >= 0xF0 && c <= 0xF4) len = 4;
    bool ok = i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    }
    i += ok ? len : 1;
    ++count;
  }
  return count;
}

// A checked key path: the folded form identifies the key, the parts keep the
// caller's spelling for keys that get created.
struct KeyPath {
  std::string fold;                     // folded parts joined by '\', no trailing '\'
  std::vector<std::string_view> parts;  // views into the caller's text
};

KeyPath ParsePath(std::string_view path) {
  KeyPath p;
  std::string_view body = path;
  if (!body.empty() && body.back() == '\\') body.remove_suffix(1);
  if (body.empty()) {
    if (!path.empty()) throw KeyStoreInputError("Invalid key path " + Shown(path) + ": empty key name");
    return p;  // the root key
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = body.find('\\', start);
    const std::string_view part = body.substr(start, end == std::string_view::npos ? body.npos : end - start);
    if (part.empty()) throw KeyStoreInputError("Invalid key path " + Shown(path) + ": empty key name");
    if (part.size() > KeyStore::kMaxKeyNameLength && CharCount(part) > KeyStore::kMaxKeyNameLength) {
      throw KeyStoreInputError("Invalid key path " + Shown(path) + ": key name " + Shown(part) +
                          " is longer than " + std::to_string(KeyStore::kMaxKeyNameLength) + " characters");
    }
    p.parts.push_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  p.fold = FoldCase(body);
  return p;
}

std::string FoldValueName(std::string_view name) {
  if (name.size() > KeyStore::kMaxValueNameLength && CharCount(name) > KeyStore::kMaxValueNameLength) {
    throw KeyStoreInputError("Invalid value name " + Shown(name) + ": longer than " +
                        std::to_string(KeyStore::kMaxValueNameLength) + " characters");
  }
  return FoldCase(name);
}

// A prepared statement kept for the life of the store.
class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  void Prepare(sqlite3* db, const char* sql) {
    db_ = db;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK) {
      throw KeyStoreError(std::string("Key store: cannot prepare statement: ") + sqlite3_errmsg(db));
    }
  }
  void Finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  sqlite3_stmt* get() const { return stmt_; }
  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

// One use of a prepared statement: binds, steps, and resets it on exit so
// that no read transaction stays open between calls.
class Use {
 public:
  explicit Use(Statement& s) : s_(s.get()), db_(s.db()) {}
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  ~Use() { sqlite3_reset(s_); }

  Use& Bytes(int i, std::string_view b) {
    // A null pointer would bind NULL; an empty blob needs a real address.
    static const char kEmpty = 0;
    Check(sqlite3_bind_blob(s_, i, b.empty() ? &kEmpty : b.data(), static_cast<int>(b.size()),
                            SQLITE_STATIC));
    return *this;
  }
  Use& Bytes(int i, std::span<const std::uint8_t> b) {
    return Bytes(i, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  }
  Use& Int(int i, std::int64_t v) {
    Check(sqlite3_bind_int64(s_, i, v));
    return *this;
  }
  // True when a row is available, false when done.
  bool Step() {
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(rc);
  }
  void Run() {
    while (Step()) {
    }
  }
  std::int64_t IntAt(int col) const { return sqlite3_column_int64(s_, col); }
  std::string TextAt(int col) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s_, col));
    const int n = sqlite3_column_bytes(s_, col);
    return p ? std::string(p, static_cast<std::size_t>(n)) : std::string();
  }
  std::vector<std::uint8_t> BytesAt(int col) const {
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s_, col));
    const int n = sqlite3_column_bytes(s_, col);
    return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail(rc);
  }
  [[noreturn]] void Fail(int rc) {
    std::string msg = "Key store failure: ";
    msg += sqlite3_errstr(rc);
    const char* detail = sqlite3_errmsg(db_);
    if (detail && std::string_view(detail) != sqlite3_errstr(rc)) {
      msg += " (";
      msg += detail;
      msg += ")";
    }
    throw KeyStoreError(msg);
  }

  sqlite3_stmt* s_;
  sqlite3* db_;
};

// The listing of one key's subkeys or value names, kept so that walking
// indexes 0,1,2,... reads the database once.
struct Listing {
  bool valid = false;
  std::string key_fold;
  std::vector<std::string> names;
};

class SqliteKeyStore final : public KeyStore {
 public:
  explicit SqliteKeyStore(const std::filesystem::path& file) : file_(file) {
    // One connection per handle, used by one thread at a time: SQLite's own
    // per-call mutex is not needed.
    const int rc = sqlite3_open_v2(file.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
      const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      db_ = nullptr;
      throw KeyStoreError("Cannot open key store " + file.string() + ": " + why);
    }
    try {
      Setup();
    } catch (const KeyStoreError& e) {
      Close();
      throw KeyStoreError("Cannot open key store " + file.string() + ": " + e.what());
    }
  }

  ~SqliteKeyStore() override { Close(); }

  bool KeyExists(std::string_view path) override {
    const KeyPath p = ParsePath(path);
    return FindKey(p.fold).has_value();
  }

  bool CreateKey(std::string_view path) override {
    const KeyPath p = ParsePath(path);
    if (FindKey(p.fold)) return false;
    Invalidate();
    Transaction tx(*this);
    std::int64_t parent = 1;
    bool created = false;
    std::string prefix;
    for (std::size_t i = 0; i < p.parts.size(); ++i) {
      const std::string part_fold = FoldCase(p.parts[i]);
      if (i > 0) prefix += '\\';
      prefix += part_fold;
      if (auto id = FindKey(prefix)) {
        parent = *id;
        continue;
      }
      Use u(insert_key_);
      u.Int(1, parent).Bytes(2, p.parts[i]).Bytes(3, part_fold).Bytes(4, prefix).Run();
      parent = sqlite3_last_insert_rowid(db_);
      created = i + 1 == p.parts.size();
    }
    tx.Commit();
    return created;
  }

  std::optional<RegValue> QueryValue(std::string_view path, std::string_view name) override {
    const KeyPath p = ParsePath(path);
    const std::string name_fold = FoldValueName(name);
    Use u(query_value_);
    u.Bytes(1, p.fold).Bytes(2, name_fold);
    if (!u.Step()) return std::nullopt;
    RegValue v;
    v.type = static_cast<std::uint32_t>(u.IntAt(0));
    v.data = u.BytesAt(1);
    return v;
  }

  bool SetValue(std::string_view path, std::string_view name, std::uint32_t type,
                std::span<const std::uint8_t> data) override {
    const KeyPath p = ParsePath(path);
    const std::string name_fold = FoldValueName(name);
    Invalidate();
    // One statement in autocommit mode: one atomic transaction.
    Use u(set_value_);
    u.Bytes(1, p.fold).Bytes(2, name).Bytes(3, name_fold).Int(4, type).Bytes(5, data).Run();
    return sqlite3_changes(db_) > 0;
  }

  std::optional<std::string> EnumSubKey(std::string_view path, std::size_t index) override {
    return Enumerate(subkeys_, list_subkeys_, path, index);
  }

  std::optional<std::string> EnumValue(std::string_view path, std::size_t index) override {
    return Enumerate(values_, list_values_, path, index);
  }

  std::size_t MaxValueNameLength(std::string_view path) override {
    // Loading the listing also readies the enumeration that usually follows.
    const Listing& l = Load(values_, list_values_, path);
    std::size_t longest = 0;
    for (const auto& n : l.names) longest = std::max(longest, CharCount(n));
    return longest;
  }

  DeleteKeyResult DeleteKey(std::string_view path) override {
    const KeyPath p = ParsePath(path);
    if (p.parts.empty()) throw KeyStoreInputError("The root key cannot be deleted");
    Invalidate();
    Transaction tx(*this);
    const auto id = FindKey(p.fold);
    if (!id) return DeleteKeyResult::kNotFound;
    {
      Use u(has_child_);
      if (u.Int(1, *id).Step()) return DeleteKeyResult::kHasSubKeys;
    }
    {
      Use u(delete_key_values_);
      u.Int(1, *id).Run();
    }
    {
      Use u(delete_key_);
      u.Int(1, *id).Run();
    }
    tx.Commit();
    return DeleteKeyResult::kDeleted;
  }

  bool DeleteValue(std::string_view path, std::string_view name) override {
    const KeyPath p = ParsePath(path);
    const std::string name_fold = FoldValueName(name);
    Invalidate();
    Use u(delete_value_);
    u.Bytes(1, p.fold).Bytes(2, name_fold).Run();
    return sqlite3_changes(db_) > 0;
  }

  std::optional<std::string> FindValueByData(std::string_view path, std::uint32_t type,
                                             std::span<const std::uint8_t> data) override {
    const KeyPath p = ParsePath(path);
    Use u(find_by_data_);
    u.Bytes(1, p.fold).Int(2, type).Bytes(3, data);
    if (!u.Step()) return std::nullopt;
    return u.TextAt(0);
  }

  std::optional<std::string> FindFirstValue(std::string_view path, std::uint32_t type,
                                            std::span<const std::vector<std::uint8_t>> data,
                                            const std::function<bool(const RegValue&)>& otherType) override {
    const KeyPath p = ParsePath(path);
    std::optional<std::string> best;
    std::int64_t bestSeq = INT64_MAX;
    // Two byte strings per look-up (the usual case is exactly two).
    for (std::size_t i = 0; i < data.size(); i += 2) {
      const auto& second = data[i + 1 < data.size() ? i + 1 : i];
      Use u(find_by_data_seq_);
      u.Bytes(1, p.fold).Int(2, type).Bytes(3, std::span<const std::uint8_t>(data[i]));
      u.Bytes(4, std::span<const std::uint8_t>(second));
      if (u.Step() && u.IntAt(1) < bestSeq) {
        bestSeq = u.IntAt(1);
        best = u.TextAt(0);
      }
    }
    // Values of other types before the indexed match, in enumeration order.
    struct Other {
      std::int64_t seq;
      std::string name;
      RegValue value;
    };
    std::vector<Other> others;
    for (Statement* stmt : {&types_below_, &types_above_}) {
      Use u(*stmt);
      u.Bytes(1, p.fold).Int(2, type).Int(3, bestSeq);
      while (u.Step()) {
        others.push_back(Other{u.IntAt(3), u.TextAt(0),
                               RegValue{static_cast<std::uint32_t>(u.IntAt(1)), u.BytesAt(2)}});
      }
    }
    std::sort(others.begin(), others.end(), [](const Other& a, const Other& b) { return a.seq < b.seq; });
    for (const auto& o : others) {
      if (otherType && otherType(o.value)) return o.name;
    }
    return best;
  }

 private:
  // BEGIN IMMEDIATE takes the write lock up front (waiting up to the busy
  // timeout for another writer); anything that throws before Commit rolls back.
  class Transaction {
   public:
    explicit Transaction(SqliteKeyStore& s) : s_(s) { Use(s_.begin_).Run(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() {
      if (!done_) {
        sqlite3_step(s_.rollback_.get());
        sqlite3_reset(s_.rollback_.get());
      }
    }
    void Commit() {
      Use(s_.commit_).Run();
      done_ = true;
    }

   private:
    SqliteKeyStore& s_;
    bool done_ = false;
  };

  void Setup() {
    sqlite3_busy_timeout(db_, 5000);
    // Takes effect only for a new file. Every commit writes each changed page
    // to the log, so pages smaller than the usual 4 KiB make small writes
    // cheaper, while index entries of typical values still fit in one page.
    Exec("PRAGMA page_size=2048");
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    // Copy the log back into the file every 4000 pages (8 MiB) rather than
    // every 1000: fewer checkpoints and their syncs per write. The log file
    // is cut back to 16 MiB after a checkpoint if a big write inflated it.
    Exec("PRAGMA wal_autocheckpoint=4000");
    Exec("PRAGMA journal_size_limit=16777216");
    const int version = static_cast<int>(PragmaInt("PRAGMA user_version"));
    if (version > kSchemaVersion) {
      throw KeyStoreError("unsupported layout version " + std::to_string(version));
    }
    if (version < kSchemaVersion) {
      // Two processes creating the same hive at once: the second waits for
      // the first and then finds everything in place.
      Exec("BEGIN IMMEDIATE");
      try {
        Exec(kSchema);
        Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
        Exec("COMMIT");
      } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    }
    find_key_.Prepare(db_, kSqlFindKey);
    insert_key_.Prepare(db_, kSqlInsertKey);
    query_value_.Prepare(db_, kSqlQueryValue);
    set_value_.Prepare(db_, kSqlSetValue);
    list_subkeys_.Prepare(db_, kSqlListSubKeys);
    list_values_.Prepare(db_, kSqlListValues);
    has_child_.Prepare(db_, kSqlHasChild);
    delete_key_values_.Prepare(db_, kSqlDeleteKeyValues);
    delete_key_.Prepare(db_, kSqlDeleteKey);
    delete_value_.Prepare(db_, kSqlDeleteValue);
    find_by_data_.Prepare(db_, kSqlFindByData);
    find_by_data_seq_.Prepare(db_, kSqlFindByDataSeq);
    types_below_.Prepare(db_, kSqlTypesBelow);
    types_above_.Prepare(db_, kSqlTypesAbove);
    data_version_.Prepare(db_, kSqlDataVersion);
    begin_.Prepare(db_, kSqlBegin);
    commit_.Prepare(db_, kSqlCommit);
    rollback_.Prepare(db_, kSqlRollback);
  }

  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw KeyStoreError(msg);
    }
  }

  std::int64_t PragmaInt(const char* sql) {
    Statement s;
    s.Prepare(db_, sql);
    Use u(s);
    return u.Step() ? u.IntAt(0) : 0;
  }

  void Close() {
    // Statements must be finalized before the connection closes.
    for (Statement* s : {&find_key_, &insert_key_, &query_value_, &set_value_, &list_subkeys_,
                         &list_values_, &has_child_, &delete_key_values_, &delete_key_, &delete_value_,
                         &find_by_data_, &find_by_data_seq_, &types_below_, &types_above_, &data_version_,
                         &begin_, &commit_, &rollback_}) {
      s->Finalize();
    }
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
  }

  std::optional<std::int64_t> FindKey(std::string_view fold) {
    Use u(find_key_);
    u.Bytes(1, fold);
    if (!u.Step()) return std::nullopt;
    return u.IntAt(0);
  }

  // Drops the cached listings; called before every write through this handle.
  void Invalidate() {
    subkeys_.valid = false;
    values_.valid = false;
  }

  // Drops the cached listings when another connection committed a change.
  void CheckDataVersion() {
    Use u(data_version_);
    const std::int64_t v = u.Step() ? u.IntAt(0) : 0;
    if (v != data_version_seen_) {
      data_version_seen_ = v;
      Invalidate();
    }
  }

  const Listing& Load(Listing& cache, Statement& list, std::string_view path) {
    const KeyPath p = ParsePath(path);
    CheckDataVersion();
    if (cache.valid && cache.key_fold == p.fold) return cache;
    cache.valid = false;
    cache.names.clear();
    Use u(list);
    u.Bytes(1, p.fold);
    while (u.Step()) cache.names.push_back(u.TextAt(0));
    cache.key_fold = p.fold;
    cache.valid = true;
    return cache;
  }

  std::optional<std::string> Enumerate(Listing& cache, Statement& list, std::string_view path,
                                       std::size_t index) {
    const Listing& l = Load(cache, list, path);
    if (index >= l.names.size()) return std::nullopt;
    return l.names[index];
  }

  std::filesystem::path file_;
  sqlite3* db_ = nullptr;
  Statement find_key_, insert_key_, query_value_, set_value_, list_subkeys_, list_values_, has_child_,
      delete_key_values_, delete_key_, delete_value_, find_by_data_, find_by_data_seq_, types_below_,
      types_above_, data_version_, begin_, commit_, rollback_;
  Listing subkeys_, values_;
  std::int64_t data_version_seen_ = -1;
};

}  // namespace

std::unique_ptr<KeyStore> KeyStore::Open(const std::filesystem::path& file) {
  return std::make_unique<SqliteKeyStore>(file);
}

std::string ExpandEnvironmentStrings(
    std::string_view text, const std::function<std::optional<std::string>(std::string_view)>& lookup) {
  auto find = [&](std::string_view name) -> std::optional<std::string> {
    if (lookup) return lookup(name);
    // getenv needs a C string; a name holding NUL or '=' names no variable.
    if (name.empty() || name.find('\0') != name.npos || name.find('=') != name.npos) return std::nullopt;
    const char* v = std::getenv(std::string(name).c_str());
    if (!v) return std::nullopt;
    return std::string(v);
  };
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    if (open == text.npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, open - i));
    const std::size_t close = text.find('%', open + 1);
    if (close == text.npos) {
      // A lone '%' and whatever follows stay as they are.
      out.append(text.substr(open));
      break;
    }
    const std::string_view name = text.substr(open + 1, close - open - 1);
    std::optional<std::string> value;
    if (!name.empty()) value = find(name);
    if (value) {
      out += *value;
    } else {
      // An unknown reference is kept whole, percent signs included.
      out.append(text.substr(open, close - open + 1));
    }
    i = close + 1;
  }
  return out;
}

}  // namespace platform

#include "platform/keystore.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <utility>

#include "platform/new_file.hpp"
#include "platform/sqlite.hpp"
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
constexpr const char* kSqlDataVersion = "PRAGMA data_version";
constexpr const char* kSqlReadValues =
    "SELECT name, type, data FROM vals WHERE key_id=(SELECT id FROM keys WHERE path_fold=?1) ORDER BY seq";
constexpr const char* kSqlReadValuesById = "SELECT name, type, data FROM vals WHERE key_id=?1 ORDER BY seq";
constexpr const char* kSqlInsertValue =
    "INSERT INTO vals(key_id, name, name_fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key_id, name_fold) DO UPDATE SET type=excluded.type, data=excluded.data";

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

// One use of a prepared statement: binds without copying, steps, and resets
// the statement on exit so that no read transaction stays open between calls.
class Use {
 public:
  explicit Use(sqlite::Statement& s) : s_(s) {}
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  ~Use() { s_.Reset(); }

  Use& Bytes(int i, std::string_view b) {
    s_.BindBlob(i, b, false);
    return *this;
  }
  Use& Bytes(int i, std::span<const std::uint8_t> b) {
    s_.BindBlob(i, b, false);
    return *this;
  }
  Use& Int(int i, std::int64_t v) {
    s_.BindInt64(i, v);
    return *this;
  }
  Use& Null(int i) {
    s_.BindNull(i);
    return *this;
  }
  // True when a row is available, false when done.
  bool Step() { return s_.Step(); }
  void Run() { s_.Run(); }
  std::int64_t IntAt(int col) const { return s_.ColumnInt64(col); }
  std::string TextAt(int col) const { return s_.ColumnText(col); }
  // Valid until the next step.
  std::string_view ViewAt(int col) const { return s_.ColumnView(col); }
  std::vector<std::uint8_t> BytesAt(int col) const { return s_.ColumnBlob(col); }

 private:
  sqlite::Statement& s_;
};

// The key store's error for a failure of the database.
KeyStoreError Failure(const sqlite::Error& e) {
  std::string msg = "Key store failure: ";
  const std::string_view kind = sqlite3_errstr(e.Code());
  msg += kind;
  if (kind != e.what()) {
    msg += " (";
    msg += e.what();
    msg += ")";
  }
  return KeyStoreError(msg);
}

// A hive file that exists but cannot be read whole: content lost (no bytes,
// no layout) or pages cut off or overwritten.
class DamagedHive : public KeyStoreError {
 public:
  DamagedHive(const std::filesystem::path& file, std::string why)
      : KeyStoreError("The key store " + file.string() + " is damaged and cannot be read: " + Reason(std::move(why)) +
                      ".") {}

 private:
  static std::string Reason(std::string why) {
    while (!why.empty() && why.back() == '.') why.pop_back();
    return why;
  }
};

// Runs `f`, reporting database failures as KeyStoreError.
template <typename F>
auto Guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const sqlite::Error& e) {
    throw Failure(e);
  }
}

// The listing of one key's subkeys or value names, kept so that walking
// indexes 0,1,2,... reads the database once.
struct Listing {
  bool valid = false;
  std::string key_fold;
  std::vector<std::string> names;
};

class SqliteKeyStore final : public KeyStore {
 public:
  // Opens the hive `file`, which must exist and be set up; with `create`,
  // makes the new file `file` (a temporary one: see KeyStore::Open) and sets
  // it up. Errors name `shown`, the hive's own name.
  SqliteKeyStore(const std::filesystem::path& file, Sharing sharing, bool create = false,
                 const std::filesystem::path& shown = {})
      : file_(file), sharing_(sharing), create_(create) {
    const std::filesystem::path& name = shown.empty() ? file : shown;
    try {
      // An existing file of no bytes is a hive whose content was lost: new
      // hives are only ever put in place whole. SQLite would take it for a
      // new, empty database.
      std::error_code ec;
      if (!create && std::filesystem::file_size(file, ec) == 0 && !ec) throw DamagedHive(name, "the file is empty");
      // One connection per handle, used by one thread at a time: SQLite's own
      // per-call mutex is not needed. Only a new file is created.
      db_ = sqlite::Connection(file, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX);
      Setup();
      if (!create) CheckWhole(name);
    } catch (const DamagedHive&) {
      Close();
      throw;
    } catch (const sqlite::Error& e) {
      Close();
      if (e.PrimaryCode() == SQLITE_CORRUPT) throw DamagedHive(name, OneLine(e.what()));
      throw KeyStoreError("Cannot open key store " + name.string() + ": " + e.what());
    } catch (const std::exception& e) {
      Close();
      throw KeyStoreError("Cannot open key store " + name.string() + ": " + e.what());
    }
  }

  ~SqliteKeyStore() override { Close(); }

  bool KeyExists(std::string_view path) override {
    const KeyPath p = ParsePath(path);
    return Guarded([&] { return FindKey(p.fold).has_value(); });
  }

  bool CreateKey(std::string_view path) override {
    const KeyPath p = ParsePath(path);
    return Guarded([&] {
      if (FindKey(p.fold)) return false;
      Invalidate();
      WriteScope tx(*this);
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
        parent = db_.LastInsertRowid();
        created = i + 1 == p.parts.size();
      }
      tx.Commit();
      return created;
    });
  }

  std::optional<RegValue> QueryValue(std::string_view path, std::string_view name) override {
    const KeyPath p = ParsePath(path);
    const std::string name_fold = FoldValueName(name);
    return Guarded([&]() -> std::optional<RegValue> {
      Use u(query_value_);
      u.Bytes(1, p.fold).Bytes(2, name_fold);
      if (!u.Step()) return std::nullopt;
      RegValue v;
      v.type = static_cast<std::uint32_t>(u.IntAt(0));
      v.data = u.BytesAt(1);
      return v;
    });
  }

  bool SetValue(std::string_view path, std::string_view name, std::uint32_t type,
                std::span<const std::uint8_t> data) override {
    const KeyPath p = ParsePath(path);
    const std::string name_fold = FoldValueName(name);
    return Guarded([&] {
      Invalidate();
      RequireOpenBatch();
      // One statement: in autocommit mode one atomic transaction, inside a
      // transaction undone on its own when it fails.
      Use u(set_value_);
      u.Bytes(1, p.fold).Bytes(2, name).Bytes(3, name_fold).Int(4, type).Bytes(5, data).Run();
      return db_.Changes() > 0;
    });
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
    return Guarded([&] {
      Invalidate();
      WriteScope tx(*this);
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
    });
  }

  bool DeleteValue(std::string_view path, std::string_view name) override {
    const KeyPath p = ParsePath(path);
    const std::string name_fold = FoldValueName(name);
    return Guarded([&] {
      Invalidate();
      RequireOpenBatch();
      Use u(delete_value_);
      u.Bytes(1, p.fold).Bytes(2, name_fold).Run();
      return db_.Changes() > 0;
    });
  }

  std::optional<std::string> FindValueByData(std::string_view path, std::uint32_t type,
                                             std::span<const std::uint8_t> data) override {
    const KeyPath p = ParsePath(path);
    return Guarded([&]() -> std::optional<std::string> {
      Use u(find_by_data_);
      u.Bytes(1, p.fold).Int(2, type).Bytes(3, data);
      if (!u.Step()) return std::nullopt;
      return u.TextAt(0);
    });
  }

  std::optional<std::string> FindFirstValue(std::string_view path, std::uint32_t type,
                                            std::span<const std::vector<std::uint8_t>> data,
                                            const std::function<bool(const RegValue&)>& otherType) override {
    const KeyPath p = ParsePath(path);
    return Guarded([&]() -> std::optional<std::string> {
      // The usual one or two byte strings go through the statement prepared
      // at open; more get a statement of their own.
      sqlite::Statement more;
      if (data.size() > 2) more = sqlite::Statement(db_, FindFirstSql(data.size()));
      Use u(data.size() > 2 ? more : find_first_);
      u.Bytes(1, p.fold).Int(2, type);
      if (data.empty()) {
        u.Null(3).Null(4);
      } else {
        for (std::size_t i = 0; i < std::max<std::size_t>(data.size(), 2); ++i) {
          u.Bytes(static_cast<int>(i) + 3, std::span<const std::uint8_t>(data[std::min(i, data.size() - 1)]));
        }
      }
      // The indexed match, if any, and the values of other types; those
      // before the match are offered to `otherType` in enumeration order.
      std::optional<std::string> match;
      std::int64_t matchSeq = std::numeric_limits<std::int64_t>::max();
      struct Other {
        std::int64_t seq;
        std::string name;
        RegValue value;
      };
      std::vector<Other> others;
      while (u.Step()) {
        const auto rowType = static_cast<std::uint32_t>(u.IntAt(2));
        if (rowType == type) {
          match = u.TextAt(1);
          matchSeq = u.IntAt(0);
        } else if (otherType) {
          others.push_back(Other{u.IntAt(0), u.TextAt(1), RegValue{rowType, u.BytesAt(3)}});
        }
      }
      std::sort(others.begin(), others.end(), [](const Other& a, const Other& b) { return a.seq < b.seq; });
      for (const auto& o : others) {
        if (o.seq > matchSeq) break;
        if (otherType(o.value)) return o.name;
      }
      return match;
    });
  }

  std::vector<NamedValue> ReadValues(std::string_view path) override {
    const KeyPath p = ParsePath(path);
    return Guarded([&] {
      std::vector<NamedValue> out;
      Use u(read_values_);
      u.Bytes(1, p.fold);
      while (u.Step()) {
        out.push_back(NamedValue{u.TextAt(0), RegValue{static_cast<std::uint32_t>(u.IntAt(1)), u.BytesAt(2)}});
      }
      return out;
    });
  }

  void Transact(const std::function<void()>& writes) override {
    Guarded([&] {
      WriteScope tx(*this);
      ++depth_;
      struct Leave {
        int& depth;
        ~Leave() { --depth; }
      } leave{depth_};
      writes();
      tx.Commit();
    });
  }

  void ReplaceValues(std::string_view path, std::span<const NamedValue> values) override {
    WriteValues(path, values, true);
  }

  void SetValues(std::string_view path, std::span<const NamedValue> values) override {
    WriteValues(path, values, false);
  }

 private:
  // The write transaction of one call: a transaction of its own, or inside
  // an open one (Transact) a savepoint, so that the call is undone on its
  // own when it fails. Leaving it without Commit undoes the call's writes
  // and drops the cached listings, which may have seen them.
  class WriteScope {
   public:
    explicit WriteScope(SqliteKeyStore& store) : store_(store) {
      if (store_.db_.InTransaction()) {
        store_.db_.Exec("SAVEPOINT keystore_write");
        savepoint_ = true;
      } else {
        if (store_.depth_ > 0) throw TransactionLost();
        tx_.emplace(store_.db_);
      }
    }
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;
    ~WriteScope() {
      if (done_) return;
      if (savepoint_ && store_.db_.InTransaction()) {
        sqlite3_exec(store_.db_.Handle(), "ROLLBACK TO keystore_write; RELEASE keystore_write", nullptr, nullptr,
                     nullptr);
      }
      tx_.reset();
      store_.Invalidate();
    }
    void Commit() {
      if (savepoint_) {
        // A failure inside may have ended the whole transaction.
        if (!store_.db_.InTransaction()) throw TransactionLost();
        store_.db_.Exec("RELEASE keystore_write");
      } else {
        tx_->Commit();
      }
      done_ = true;
    }

   private:
    SqliteKeyStore& store_;
    std::optional<sqlite::Transaction> tx_;
    bool savepoint_ = false;
    bool done_ = false;
  };

  static KeyStoreError TransactionLost() {
    return KeyStoreError("Key store failure: the transaction was ended by an earlier failure");
  }

  // Inside Transact, a write must not run on its own when a failure has
  // already ended the transaction: it would be kept while the rest is not.
  void RequireOpenBatch() {
    if (depth_ > 0 && !db_.InTransaction()) throw TransactionLost();
  }

  // ReplaceValues (`replace`) and SetValues: one write scope, the key looked
  // up once, one upsert per value.
  void WriteValues(std::string_view path, std::span<const NamedValue> values, bool replace) {
    const KeyPath p = ParsePath(path);
    std::vector<std::string> folds;
    folds.reserve(values.size());
    for (const auto& v : values) folds.push_back(FoldValueName(v.name));
    Guarded([&] {
      WriteScope tx(*this);
      ++depth_;
      struct Leave {
        int& depth;
        ~Leave() { --depth; }
      } leave{depth_};
      Invalidate();
      CreateKey(path);
      const auto id = FindKey(p.fold);
      if (!id) throw KeyStoreError("Key store failure: the key " + Shown(path) + " vanished while being written");
      if (replace && Holds(*id, values)) {
        tx.Commit();
        return;
      }
      if (replace) {
        Use u(delete_key_values_);
        u.Int(1, *id).Run();
      }
      for (std::size_t i = 0; i < values.size(); ++i) {
        Use u(insert_value_);
        u.Int(1, *id).Bytes(2, values[i].name).Bytes(3, folds[i]).Int(4, values[i].value.type)
            .Bytes(5, std::span<const std::uint8_t>(values[i].value.data)).Run();
      }
      tx.Commit();
    });
  }

  // True when the key holds exactly these values in this order (names
  // spelled the same), compared row by row without copying them.
  bool Holds(std::int64_t keyId, std::span<const NamedValue> values) {
    Use u(read_values_by_id_);
    u.Int(1, keyId);
    std::size_t i = 0;
    while (u.Step()) {
      if (i >= values.size()) return false;
      const NamedValue& v = values[i++];
      if (u.ViewAt(0) != v.name || static_cast<std::uint32_t>(u.IntAt(1)) != v.value.type) return false;
      const std::string_view data = u.ViewAt(2);
      if (!std::equal(data.begin(), data.end(), v.value.data.begin(), v.value.data.end(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
        return false;
      }
    }
    return i == values.size();
  }

  // The statement of FindFirstValue for `forms` byte strings (at least two
  // placeholders, ?3 and up). One look-up of the key by its path; its rows
  // are the key's first value, by `seq`, of type ?2 whose data is one of the
  // forms (one probe of vals_by_data per form: the index ends in `seq`), and
  // the key's values of other types, read through the same index by type
  // range, so that the many values of the looked-for type are never scanned.
  // No temporary tables or sorting: the caller puts the few rows in order.
  static std::string FindFirstSql(std::size_t forms) {
    const std::string none = "9223372036854775807";
    std::string firsts;
    for (std::size_t i = 0; i < std::max<std::size_t>(forms, 2); ++i) {
      if (i > 0) firsts += ", ";
      firsts += "coalesce((SELECT seq FROM vals WHERE key_id=k.id AND type=?2 AND data=?" + std::to_string(i + 3) +
                " ORDER BY seq LIMIT 1), " + none + ")";
    }
    // min() of two or more arguments is the scalar minimum.
    return "SELECT v.seq, v.name, v.type, v.data FROM keys k JOIN vals v "
           "ON (v.key_id=k.id AND v.type<?2) OR (v.key_id=k.id AND v.type>?2) OR v.seq=nullif(min(" +
           firsts + "), " + none + ") WHERE k.path_fold=?1";
  }

  void Setup() {
    db_.SetBusyTimeout(5000);
    // Takes effect only for a new file. Every commit writes each changed page
    // to the log, so pages smaller than the usual 4 KiB make small writes
    // cheaper (a contact's identity and list entries change five or so
    // pages), while the index entries of typical values (ids of some fifty
    // characters) still fit several to a page.
    db_.Exec("PRAGMA page_size=1024");
    // A sole user keeps the file's lock: without it every read statement
    // takes and drops the file locks, which costs more than the look-up.
    if (sharing_ == Sharing::kSoleUser) db_.Exec("PRAGMA locking_mode=EXCLUSIVE");
    db_.Exec("PRAGMA journal_mode=WAL");
    // NORMAL: with the log, a commit is in the log file once COMMIT returns,
    // so it survives the process being killed; only a power loss or an OS
    // crash can take back the last commits (the log is synced at each
    // checkpoint), and never leaves a damaged file. FULL would add a sync of
    // the log to every commit, of which a received mail makes many.
    db_.Exec("PRAGMA synchronous=NORMAL");
    // Copy the log back into the file every 4000 pages (4 MiB) rather than
    // every 1000: fewer checkpoints and their syncs per write. The log file
    // is cut back to 16 MiB after a checkpoint if a big write inflated it.
    db_.Exec("PRAGMA wal_autocheckpoint=4000");
    db_.Exec("PRAGMA journal_size_limit=16777216");
    const int version = static_cast<int>(PragmaInt("PRAGMA user_version"));
    if (version > kSchemaVersion) {
      throw KeyStoreError("unsupported layout version " + std::to_string(version));
    }
    // A hive is set up before it gets its name: an existing one without its
    // layout lost it.
    if (version < kSchemaVersion && !create_) throw DamagedHive(file_, "it has no keys");
    if (version < kSchemaVersion) {
      sqlite::Transaction tx(db_);
      db_.Exec(kSchema);
      db_.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
      tx.Commit();
    }
    auto prepare = [&](sqlite::Statement& s, const std::string& sql) { s = sqlite::Statement(db_, sql, true); };
    prepare(find_key_, kSqlFindKey);
    prepare(insert_key_, kSqlInsertKey);
    prepare(query_value_, kSqlQueryValue);
    prepare(set_value_, kSqlSetValue);
    prepare(list_subkeys_, kSqlListSubKeys);
    prepare(list_values_, kSqlListValues);
    prepare(has_child_, kSqlHasChild);
    prepare(delete_key_values_, kSqlDeleteKeyValues);
    prepare(delete_key_, kSqlDeleteKey);
    prepare(delete_value_, kSqlDeleteValue);
    prepare(find_by_data_, kSqlFindByData);
    prepare(find_first_, FindFirstSql(2));
    prepare(data_version_, kSqlDataVersion);
    prepare(read_values_, kSqlReadValues);
    prepare(insert_value_, kSqlInsertValue);
    prepare(read_values_by_id_, kSqlReadValuesById);
  }

  // Reads the whole file once, so that damage opening passes over (pages
  // cut off or overwritten) refuses the hive as a whole now rather than
  // failing single reads and writes of whoever uses it later.
  void CheckWhole(const std::filesystem::path& shown) {
    sqlite::Statement check(db_, "PRAGMA quick_check");
    std::string first;
    std::size_t more = 0;
    while (check.Step()) {
      const std::string row = check.ColumnText(0);
      if (row == "ok") continue;
      if (first.empty()) {
        first = row;
      } else {
        ++more;
      }
    }
    check.Finalize();
    if (first.empty()) return;
    if (more > 0) first += " (and " + std::to_string(more) + " more problems)";
    throw DamagedHive(shown, OneLine(first));
  }

  std::int64_t PragmaInt(const char* sql) {
    sqlite::Statement s(db_, sql);
    Use u(s);
    return u.Step() ? u.IntAt(0) : 0;
  }

  void Close() {
    // Statements must be finalized before the connection closes.
    for (sqlite::Statement* s : {&find_key_, &insert_key_, &query_value_, &set_value_, &list_subkeys_,
                                 &list_values_, &has_child_, &delete_key_values_, &delete_key_, &delete_value_,
                                 &find_by_data_, &find_first_, &data_version_, &read_values_, &insert_value_, &read_values_by_id_}) {
      s->Finalize();
    }
    db_.Close();
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

  const Listing& Load(Listing& cache, sqlite::Statement& list, std::string_view path) {
    const KeyPath p = ParsePath(path);
    return Guarded([&]() -> const Listing& {
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
    });
  }

  std::optional<std::string> Enumerate(Listing& cache, sqlite::Statement& list, std::string_view path,
                                       std::size_t index) {
    const Listing& l = Load(cache, list, path);
    if (index >= l.names.size()) return std::nullopt;
    return l.names[index];
  }

  std::filesystem::path file_;
  sqlite::Connection db_;
  sqlite::Statement find_key_, insert_key_, query_value_, set_value_, list_subkeys_, list_values_, has_child_,
      delete_key_values_, delete_key_, delete_value_, find_by_data_, find_first_, data_version_, read_values_,
      insert_value_, read_values_by_id_;
  Listing subkeys_, values_;
  // Depth of the Transact and ReplaceValues calls running on this handle.
  int depth_ = 0;
  std::int64_t data_version_seen_ = -1;
  Sharing sharing_ = Sharing::kShared;
  bool create_ = false;
};

}  // namespace

std::vector<NamedValue> KeyStore::ReadValues(std::string_view path) {
  std::vector<NamedValue> out;
  for (std::size_t i = 0;; ++i) {
    auto name = EnumValue(path, i);
    if (!name) break;
    if (auto value = QueryValue(path, *name)) out.push_back(NamedValue{std::move(*name), std::move(*value)});
  }
  return out;
}

void KeyStore::Transact(const std::function<void()>& writes) { writes(); }

void KeyStore::SetValues(std::string_view path, std::span<const NamedValue> values) {
  Transact([&] {
    CreateKey(path);
    for (const auto& v : values) {
      if (!SetValue(path, v.name, v.value.type, v.value.data)) {
        throw KeyStoreError("Key store failure: the key " + std::string(path) + " vanished while being written");
      }
    }
  });
}

void KeyStore::ReplaceValues(std::string_view path, std::span<const NamedValue> values) {
  Transact([&] {
    CreateKey(path);
    const auto existing = ReadValues(path);
    if (std::equal(values.begin(), values.end(), existing.begin(), existing.end())) return;
    for (const auto& v : existing) DeleteValue(path, v.name);
    for (const auto& v : values) SetValue(path, v.name, v.value.type, v.value.data);
  });
}

std::unique_ptr<KeyStore> KeyStore::Open(const std::filesystem::path& file, Sharing sharing) {
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
    // A new hive is made whole under a temporary name and then put in place
    // (never over a file that is there), so that a hive under its own name
    // is always a set-up one. When two processes create it at once, the
    // second finds the first's in place and opens that.
    const std::filesystem::path temp = TemporaryNameBeside(file);
    try {
      SqliteKeyStore made(temp, Sharing::kSoleUser, true, file);
    } catch (...) {
      RemoveDatabaseFiles(temp);
      throw;
    }
    try {
      PublishNewFile(temp, file);
    } catch (const std::system_error& e) {
      throw KeyStoreError("Cannot create key store " + file.string() + ": " + e.what());
    }
  }
  return std::make_unique<SqliteKeyStore>(file, sharing);
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

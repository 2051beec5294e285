#include "host/store.hpp"
#include "platform/text.hpp"

#include <algorithm>
#include <deque>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <span>
#include <string_view>
#include <system_error>

#include "host/contact_properties.hpp"
#include "host/errors.hpp"
#include "host/ui/view.hpp"
#include "platform/new_file.hpp"

namespace host::detail {
namespace {

constexpr const char* kFormat = "plexisync-store-1";

const char* RoleName(FolderRole role) {
  switch (role) {
    case FolderRole::kNone: return "";
    case FolderRole::kRoot: return "root";
    case FolderRole::kDeleted: return "deleted";
    case FolderRole::kInbox: return "inbox";
    case FolderRole::kOutbox: return "outbox";
    case FolderRole::kSent: return "sent";
    case FolderRole::kContacts: return "contacts";
  }
  return "";
}

FolderRole RoleFromName(std::string_view s) {
  for (FolderRole r : {FolderRole::kRoot, FolderRole::kDeleted, FolderRole::kInbox, FolderRole::kOutbox,
                       FolderRole::kSent, FolderRole::kContacts}) {
    if (s == RoleName(r)) return r;
  }
  return FolderRole::kNone;
}

using platform::sqlite::Statement;
using platform::sqlite::Transaction;

std::string ColumnText(const Statement& st, int col) { return st.ColumnText(col); }

std::uint32_t ColumnNumber(const Statement& st, int col) {
  std::int64_t v = st.ColumnInt64(col);
  if (v < 0 || v > std::numeric_limits<std::uint32_t>::max()) return 0;
  return static_cast<std::uint32_t>(v);
}

// Dates are kept as seconds since the zero date; values outside the years
// 100..9999 are not dates the client can show.
bool PlausibleSeconds(std::int64_t s) {
  constexpr std::int64_t kMin = -657434LL * 86400;  // 1/1/100
  constexpr std::int64_t kMax = 2958465LL * 86400;  // 12/31/9999
  return s >= kMin && s <= kMax;
}

platform::DateTime ColumnDate(const Statement& st, int col) {
  if (st.ColumnType(col) != SQLITE_INTEGER) return platform::DateTime::NoDate();
  std::int64_t s = st.ColumnInt64(col);
  if (!PlausibleSeconds(s)) return platform::DateTime::NoDate();
  return platform::DateTime::FromSecondsSinceZero(s);
}

// The member of an item's stored properties that holds its user properties;
// no property of the schemas has this name.
constexpr const char* kUserPropertiesKey = "UserProperties";

std::string PropsToJson(const ItemRecord& r) {
  const PropertySchema& schema = SchemaOf(r.kind);
  nlohmann::json j = nlohmann::json::object();
  for (const auto& [index, value] : r.props) {
    const std::string& name = schema.At(index).name;
    if (auto* s = std::get_if<std::string>(&value)) {
      j[name] = *s;
    } else if (auto* d = std::get_if<platform::DateTime>(&value)) {
      j[name] = d->SecondsSinceZero();
    } else if (auto* n = std::get_if<std::int32_t>(&value)) {
      j[name] = *n;
    } else if (auto* b = std::get_if<bool>(&value)) {
      j[name] = *b;
    }
  }
  if (!r.userProps.empty()) {
    nlohmann::json& user = j[kUserPropertiesKey];
    for (const auto& [name, value] : r.userProps) user[name] = value;
  }
  // Invalid UTF-8 in a text is replaced rather than refused.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A reader of the properties as PropsToJson writes them: one object of
// names with strings, integers and booleans, and the user properties as an
// object of strings. Every store open reads every item's properties, so
// this reads them in one pass, straight into the item's list, without
// building a document first. Anything it does not take exactly as the
// general JSON reader would (an escape \uXXXX, a fraction or an exponent,
// a null, an array, a name given twice, malformed text) makes it give up;
// the general reader then reads the whole text, so what an item holds
// never depends on which reader read it.
class FastPropsReader {
 public:
  FastPropsReader(const PropertySchema& schema, std::string_view text) : schema_(schema), p_(text.data()),
                                                                         end_(text.data() + text.size()) {}

  // False when the text needs the general reader; `out` and `userProps`
  // are then to be thrown away.
  bool Read(PropList& out, std::map<std::string, std::string>& userProps) {
    std::vector<bool> seen(schema_.Size(), false);
    bool userSeen = false;
    Space();
    if (!Take('{')) return false;
    Space();
    if (Take('}')) return AtEnd();
    std::string name;
    for (;;) {
      if (!String(name)) return false;
      Space();
      if (!Take(':')) return false;
      Space();
      if (name == kUserPropertiesKey) {
        if (userSeen || !UserProperties(userProps)) return false;
        userSeen = true;
      } else {
        const auto index = schema_.IndexOf(name);
        // A value of a name given twice: the general reader keeps the last.
        if (index && seen[*index]) return false;
        if (index) seen[*index] = true;
        Scalar value;
        if (!Value(value)) return false;
        if (index) {
          const PropertyDef& def = schema_.At(*index);
          if (!def.intrinsic) {
            if (auto v = Fit(def, value)) SetStoredValue(out, *index, std::move(*v), def.defaultValue);
          }
        }
      }
      Space();
      if (Take('}')) return AtEnd();
      if (!Take(',')) return false;
      Space();
    }
  }

 private:
  // A value as read: a string, an integer or a boolean.
  struct Scalar {
    enum class Kind { kText, kInteger, kFlag } kind = Kind::kText;
    std::string text;
    std::int64_t integer = 0;
    bool flag = false;
  };

  // The value as the property's type takes it (dates and numbers in
  // range); nothing when it does not fit, and the property is passed over.
  static std::optional<Variant> Fit(const PropertyDef& def, Scalar& value) {
    switch (def.type) {
      case PropType::kText:
        if (value.kind != Scalar::Kind::kText) return std::nullopt;
        return Variant(std::move(value.text));
      case PropType::kDate:
        if (value.kind != Scalar::Kind::kInteger || !PlausibleSeconds(value.integer)) return std::nullopt;
        return Variant(platform::DateTime::FromSecondsSinceZero(value.integer));
      case PropType::kNumber:
        if (value.kind != Scalar::Kind::kInteger || value.integer < std::numeric_limits<std::int32_t>::min() ||
            value.integer > std::numeric_limits<std::int32_t>::max()) {
          return std::nullopt;
        }
        return Variant(static_cast<std::int32_t>(value.integer));
      case PropType::kFlag:
        if (value.kind != Scalar::Kind::kFlag) return std::nullopt;
        return Variant(value.flag);
    }
    return std::nullopt;
  }

  // A string, an integer or a boolean; false for anything else, which is
  // left to the general reader.
  bool Value(Scalar& value) {
    if (p_ == end_) return false;
    const char c = *p_;
    if (c == '"') {
      value.kind = Scalar::Kind::kText;
      return String(value.text);
    }
    value.kind = Scalar::Kind::kFlag;
    if (c == 't') return value.flag = true, Word("true");
    if (c == 'f') return value.flag = false, Word("false");
    value.kind = Scalar::Kind::kInteger;
    return Integer(value.integer);
  }

  bool UserProperties(std::map<std::string, std::string>& userProps) {
    if (!Take('{')) return false;
    Space();
    if (Take('}')) return true;
    std::string name, value;
    for (;;) {
      if (!String(name)) return false;
      Space();
      if (!Take(':')) return false;
      Space();
      // Only strings are user properties; anything else, or a name given
      // twice, goes to the general reader.
      if (!String(value)) return false;
      if (!userProps.emplace(name, value).second) return false;
      Space();
      if (Take('}')) return true;
      if (!Take(',')) return false;
      Space();
    }
  }

  // An integer as the general reader takes one: an optional minus, no
  // leading zero, no fraction or exponent, within int64.
  bool Integer(std::int64_t& n) {
    bool negative = false;
    if (p_ != end_ && *p_ == '-') {
      negative = true;
      ++p_;
    }
    if (p_ == end_ || *p_ < '0' || *p_ > '9') return false;
    if (*p_ == '0' && p_ + 1 != end_ && p_[1] >= '0' && p_[1] <= '9') return false;
    std::uint64_t u = 0;
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
      const unsigned digit = static_cast<unsigned>(*p_ - '0');
      if (u > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
      u = u * 10 + digit;
      ++p_;
    }
    if (p_ != end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E')) return false;
    constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
      if (u > kMaxPositive + 1) return false;
      n = u == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(u);
    } else {
      if (u > kMaxPositive) return false;
      n = static_cast<std::int64_t>(u);
    }
    return true;
  }

  // A string without \u escapes, in well-formed UTF-8.
  bool String(std::string& out) {
    out.clear();
    if (!Take('"')) return false;
    for (;;) {
      const char* run = p_;
      while (p_ != end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20 &&
             static_cast<unsigned char>(*p_) < 0x80) {
        ++p_;
      }
      out.append(run, p_);
      if (p_ == end_) return false;
      const unsigned char c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        ++p_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++p_ == end_) return false;
        switch (*p_) {
          case '"': out += '"'; break;
          case '\\': out += '\\'; break;
          case '/': out += '/'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          default: return false;
        }
        ++p_;
        continue;
      }
      const std::size_t n = Utf8Length();
      if (n == 0) return false;
      out.append(p_, n);
      p_ += n;
    }
  }

  // The length of the well-formed UTF-8 sequence at p_ (RFC 3629), 0 when
  // there is none.
  std::size_t Utf8Length() const {
    const auto at = [&](std::size_t i) -> unsigned {
      return p_ + i < end_ ? static_cast<unsigned char>(p_[i]) : 0u;
    };
    const auto cont = [&](std::size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) {
      const unsigned b = at(i);
      return b >= lo && b <= hi;
    };
    const unsigned c = at(0);
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c == 0xE0) return cont(1, 0xA0, 0xBF) && cont(2) ? 3 : 0;
    if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(1) && cont(2) ? 3 : 0;
    if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (c == 0xF0) return cont(1, 0x90, 0xBF) && cont(2) && cont(3) ? 4 : 0;
    if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
  }

  bool Word(std::string_view w) {
    if (static_cast<std::size_t>(end_ - p_) < w.size() || std::string_view(p_, w.size()) != w) return false;
    p_ += w.size();
    return true;
  }
  bool Take(char c) {
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }
  void Space() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }
  bool AtEnd() {
    Space();
    return p_ == end_;
  }

  const PropertySchema& schema_;
  const char* p_;
  const char* end_;
};

// Reads the stored properties, keeping only names the schema knows with
// values of the right type; anything else in the file is passed over.
PropList PropsFromJson(ItemKind kind, const std::string& text, std::map<std::string, std::string>& userProps) {
  PropList out;
  userProps.clear();
  if (text.empty()) return out;
  if (FastPropsReader(SchemaOf(kind), text).Read(out, userProps)) return out;
  out.clear();
  userProps.clear();
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object()) return out;
  const PropertySchema& schema = SchemaOf(kind);
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it.key() == kUserPropertiesKey) {
      if (!it.value().is_object()) continue;
      for (auto u = it.value().begin(); u != it.value().end(); ++u) {
        if (u.value().is_string()) userProps[u.key()] = u.value().get<std::string>();
      }
      continue;
    }
    auto index = schema.IndexOf(it.key());
    if (!index) continue;
    const PropertyDef& def = schema.At(*index);
    if (def.intrinsic) continue;
    const nlohmann::json& v = it.value();
    Variant value;
    switch (def.type) {
      case PropType::kText:
        if (!v.is_string()) continue;
        value = v.get<std::string>();
        break;
      case PropType::kDate: {
        if (!v.is_number_integer()) continue;
        std::int64_t s = v.get<std::int64_t>();
        if (!PlausibleSeconds(s)) continue;
        value = platform::DateTime::FromSecondsSinceZero(s);
        break;
      }
      case PropType::kNumber: {
        if (!v.is_number_integer()) continue;
        std::int64_t n = v.get<std::int64_t>();
        if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) continue;
        value = static_cast<std::int32_t>(n);
        break;
      }
      case PropType::kFlag:
        if (!v.is_boolean()) continue;
        value = v.get<bool>();
        break;
    }
    SetStoredValue(out, *index, std::move(value), def.defaultValue);
  }
  return out;
}

}  // namespace

std::string DefaultMailViewXml() {
  return "<?xml version=\"1.0\"?>\r\n"
         "<view type=\"table\">\r\n"
         "    <viewname>Messages</viewname>\r\n"
         "    <viewstyle>table-layout:fixed;width:100%;font-family:Tahoma;font-style:normal;"
         "font-weight:normal;font-size:8pt;color:Black;font-charset:0</viewstyle>\r\n"
         "    <viewtime>0</viewtime>\r\n"
         "    <linecolor>8421504</linecolor>\r\n"
         "    <linestyle>3</linestyle>\r\n"
         "    <column>\r\n"
         "        <heading>From</heading>\r\n"
         "        <prop>urn:schemas:httpmail:fromname</prop>\r\n"
         "        <type>string</type>\r\n"
         "        <width>120</width>\r\n"
         "    </column>\r\n"
         "    <column>\r\n"
         "        <heading>Subject</heading>\r\n"
         "        <prop>urn:schemas:httpmail:subject</prop>\r\n"
         "        <type>string</type>\r\n"
         "        <width>240</width>\r\n"
         "    </column>\r\n"
         "    <column>\r\n"
         "        <heading>Received</heading>\r\n"
         "        <prop>urn:schemas:httpmail:datereceived</prop>\r\n"
         "        <type>datetime</type>\r\n"
         "        <width>110</width>\r\n"
         "    </column>\r\n"
         "    <orderby>\r\n"
         "        <order>\r\n"
         "            <heading>Received</heading>\r\n"
         "            <prop>urn:schemas:httpmail:datereceived</prop>\r\n"
         "            <type>datetime</type>\r\n"
         "            <sort>desc</sort>\r\n"
         "        </order>\r\n"
         "    </orderby>\r\n"
         "</view>\r\n";
}

const PropertySchema& SchemaOf(ItemKind kind) {
  return kind == ItemKind::kContact ? ContactSchema() : MailSchema();
}

const Variant& StoredValue(const PropList& props, std::size_t index, const Variant& fallback) {
  auto it = std::lower_bound(props.begin(), props.end(), index,
                             [](const auto& p, std::size_t i) { return p.first < i; });
  if (it != props.end() && it->first == index) return it->second;
  return fallback;
}

void SetStoredValue(PropList& props, std::size_t index, Variant value, const Variant& defaultValue) {
  auto it = std::lower_bound(props.begin(), props.end(), index,
                             [](const auto& p, std::size_t i) { return p.first < i; });
  bool present = it != props.end() && it->first == index;
  if (value == defaultValue) {
    if (present) props.erase(it);
    return;
  }
  if (present) {
    it->second = std::move(value);
  } else {
    props.insert(it, {static_cast<std::uint16_t>(index), std::move(value)});
  }
}

Variant PropertyValue(const ItemRecord& r, std::size_t index, const StoreId& store) {
  const PropertyDef& def = SchemaOf(r.kind).At(index);
  if (def.intrinsic) {
    if (def.name == "EntryID") return r.number ? FormatEntryId(store, r.number) : std::string();
    if (def.name == "MessageClass") return r.messageClass;
    if (def.name == "CreationTime") return r.created;
    if (def.name == "LastModificationTime") return r.modified;
    if (def.name == "UnRead") return r.unread;
  }
  return StoredValue(r.props, index, def.defaultValue);
}

namespace {

// The first bytes of every SQLite database file.
constexpr std::string_view kSqliteMagic("SQLite format 3\0", 16);

// SQLite's reports (a failed check lists one problem per line) as one line,
// without a full stop of its own: the message adds one.
std::string OneLine(std::string_view text) {
  std::string out = platform::OneLine(text);
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

// Whether a failure to read means that the file's content is damaged (rather
// than, say, locked by another process or out of memory).
bool IsDamage(const platform::sqlite::Error& e) {
  const int code = e.PrimaryCode();
  return code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_FORMAT;
}

// Resets a statement that was read from when the reading is done, so that no
// read stays open between calls.
class ResetOnExit {
 public:
  explicit ResetOnExit(Statement& st) : st_(st) {}
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;
  ~ResetOnExit() { st_.Reset(); }

 private:
  Statement& st_;
};

constexpr const char* kCreateTables[] = {
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value)",
    "CREATE TABLE folders(number INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, "
    "item_type INTEGER NOT NULL, role TEXT NOT NULL, view_xml TEXT NOT NULL, seq INTEGER NOT NULL)",
    "CREATE TABLE items(number INTEGER PRIMARY KEY, folder INTEGER NOT NULL, seq INTEGER NOT NULL, "
    "kind INTEGER NOT NULL, message_class TEXT NOT NULL, unread INTEGER NOT NULL, created INTEGER, "
    "modified INTEGER, submitted INTEGER NOT NULL, props TEXT NOT NULL)",
    "CREATE TABLE attachments(item INTEGER NOT NULL, idx INTEGER NOT NULL, name TEXT NOT NULL, "
    "data BLOB NOT NULL, PRIMARY KEY(item, idx))",
};
// Keys of the mail that arrived from a transport (added to older files when
// they are opened).
constexpr const char* kCreateArrived = "CREATE TABLE arrived(key TEXT PRIMARY KEY)";
// The key each arrived item came with, kept as long as the item lives, and
// the keys of arrived items deleted for good that the transport is still to
// delete (both added to older files when they are opened).
constexpr const char* kCreateItemKeys = "CREATE TABLE item_keys(item INTEGER PRIMARY KEY, key TEXT NOT NULL)";
constexpr const char* kCreateRemovals =
    "CREATE TABLE removals(seq INTEGER PRIMARY KEY AUTOINCREMENT, key TEXT NOT NULL UNIQUE)";

constexpr const char* kFolderExists = "SELECT 1 FROM folders WHERE number = ?";

}  // namespace

template <typename F>
auto Store::Guarded(F&& f) const -> decltype(f()) {
  if (!db_.IsOpen()) throw HostError("The personal folders file " + path_.string() + " is closed.");
  try {
    return f();
  } catch (const platform::sqlite::Error& e) {
    Fail(e.what());
  }
}

void Store::Fail(const std::string& what) const {
  throw HostError("The personal folders file " + path_.string() + " failed: " + OneLine(what) + ".");
}

void Store::Damaged(const std::string& why) const {
  throw HostError("The personal folders file " + path_.string() + " is damaged and cannot be read: " +
                  OneLine(why) + ".");
}

void Store::NotAStore() const {
  throw HostError("The file " + path_.string() + " is not a personal folders file.");
}

void Store::Exec(const char* sql) { db_.Exec(sql); }

Statement& Store::Prepare(const char* sql) const {
  if (!db_.IsOpen()) throw HostError("The personal folders file " + path_.string() + " is closed.");
  auto it = statements_.find(sql);
  if (it == statements_.end()) it = statements_.emplace(sql, Statement(db_, sql, true)).first;
  it->second.Reset();
  return it->second;
}

bool Store::HasTable(const char* name) const {
  Statement& st = Prepare("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?");
  ResetOnExit done(st);
  st.BindText(1, name);
  return st.Step();
}

std::shared_ptr<Store> Store::Open(const std::filesystem::path& path, StoreLayout layout) {
  std::error_code ec;
  if (!path.empty() && !std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    // A new store is made whole (tables, folders, log mode) under a
    // temporary name and then put in place, never over a file that is
    // there: a store under its own name is always a finished one. When two
    // processes create it at once, the second finds the first's and opens it.
    const std::filesystem::path temp = platform::TemporaryNameBeside(path);
    try {
      OpenFile(temp, path, layout, true)->Close();
    } catch (...) {
      platform::RemoveDatabaseFiles(temp);
      throw;
    }
    try {
      platform::PublishNewFile(temp, path);
    } catch (const std::system_error& e) {
      throw HostError("The personal folders file " + path.string() + " cannot be created: " + e.what() + ".");
    }
  }
  return OpenFile(path, path, layout, false);
}

std::shared_ptr<Store> Store::OpenFile(const std::filesystem::path& path, const std::filesystem::path& shown,
                                       StoreLayout layout, bool create) {
  std::shared_ptr<Store> s(new Store());
  s->path_ = shown;
  std::error_code ec;
  if (path.empty() || std::filesystem::is_directory(path, ec)) s->NotAStore();
  const bool fresh = create;
  // An existing file of no bytes lost its content: SQLite would take it for
  // a new, empty database.
  if (!fresh && std::filesystem::file_size(path, ec) == 0 && !ec) s->Damaged("the file is empty");
  if (!fresh) {
    // Only a SQLite file can be a store; anything else is refused before
    // SQLite sees it. A file cut off inside the first bytes is a damaged one.
    std::ifstream in(path, std::ios::binary);
    unsigned char head[100] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) throw HostError("The file " + path.string() + " could not be opened.");
    const std::size_t magic = std::min(got, kSqliteMagic.size());
    if (std::string_view(reinterpret_cast<const char*>(head), magic) != kSqliteMagic.substr(0, magic)) {
      s->NotAStore();
    }
    if (got < sizeof head) s->Damaged("the file is cut short");
    // The file is made of whole pages. A part of a page at its end (a cut
    // SQLite would read as zeros) is damage, unless a log or journal beside
    // it is still to be played back.
    const std::size_t pageSize = head[16] == 0 && head[17] == 1 ? 65536 : head[16] << 8 | head[17];
    const auto size = std::filesystem::file_size(path, ec);
    auto pending = [&](const char* suffix) {
      std::error_code e;
      return std::filesystem::file_size(path.string() + suffix, e) > 0 && !e;
    };
    if (!ec && pageSize >= 512 && size % pageSize != 0 && !pending("-wal") && !pending("-journal")) {
      s->Damaged("the file is cut short");
    }
  }
  if (fresh && path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  try {
    s->db_ = platform::sqlite::Connection(path, SQLITE_OPEN_READWRITE | (fresh ? SQLITE_OPEN_CREATE : 0));
  } catch (const platform::sqlite::Error& e) {
    throw HostError("The file " + path.string() + " could not be opened: " + OneLine(e.what()) + ".");
  }
  try {
    s->db_.SetBusyTimeout(5000);
    FileState state = FileState::kNoLayout;
    if (!fresh) {
      // Nothing is written into the file before it is known to be a sound
      // store: it is checked and read with writes refused, and a log that an
      // earlier process left beside it stays as it is should it be refused.
      const bool logExists = std::filesystem::exists(path.string() + "-wal", ec);
      if (logExists) sqlite3_db_config(s->db_.Handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
      s->db_.Exec("PRAGMA query_only=1");
      try {
        state = s->Validate();
        // New stores get their tables before their name: an existing file
        // without any lost them.
        if (state == FileState::kNoLayout) s->Damaged("it holds no tables");
        if (state == FileState::kStore) s->Load();
      } catch (const platform::sqlite::Error& e) {
        if (IsDamage(e)) s->Damaged(e.what());
        throw;
      }
      s->db_.Exec("PRAGMA query_only=0");
      if (logExists) sqlite3_db_config(s->db_.Handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    }
    s->db_.Exec("PRAGMA journal_mode=WAL");
    // NORMAL: with the log, a commit is in the log file once COMMIT returns,
    // so it survives the process being killed; only a power loss or an OS
    // crash can take back the last commits (the log is synced at each
    // checkpoint), and never leaves a damaged file. FULL would add a sync of
    // the log to every commit, of which a received mail makes many.
    s->db_.Exec("PRAGMA synchronous=NORMAL");
    // Copy the log back into the file every 4000 pages rather than every
    // 1000: fewer checkpoints per saved item. The log is cut back to 16 MiB
    // after a checkpoint when a big write (a large attachment) inflated it.
    s->db_.Exec("PRAGMA wal_autocheckpoint=4000");
    s->db_.Exec("PRAGMA journal_size_limit=16777216");
    s->db_.Exec("PRAGMA foreign_keys=OFF");
    if (state != FileState::kStore) {
      // A new store, or one whose folders an earlier version never wrote;
      // then it is checked like any other.
      s->CreateLayout(layout);
      try {
        if (s->Validate() != FileState::kStore) s->Damaged("it has no folders");
        s->Load();
      } catch (const platform::sqlite::Error& e) {
        if (IsDamage(e)) s->Damaged(e.what());
        throw;
      }
    }
    s->EnsureArrivedTables();
  } catch (const platform::sqlite::Error& e) {
    s->Close();
    s->Fail(e.what());
  } catch (...) {
    s->Close();
    throw;
  }
  return s;
}

void Store::EnsureArrivedTables() {
  if (!HasTable("arrived")) Exec(kCreateArrived);
  if (!HasTable("item_keys")) Exec(kCreateItemKeys);
  if (!HasTable("removals")) Exec(kCreateRemovals);
}

Store::~Store() { Close(); }

void Store::Close() {
  statements_.clear();
  db_.Close();
}

// Read-only checks of a file that SQLite can open: the structure of every
// page, then the tables. quick_check reads the whole file once (about as
// much as loading it), and finds damage that reading the rows passes over:
// broken index pages, lost pages, cells that overlap.
Store::FileState Store::Validate() {
  {
    Statement check(db_, "PRAGMA quick_check");
    std::string problems;
    while (check.Step()) {
      const std::string row = check.ColumnText(0);
      if (row != "ok") problems += (problems.empty() ? "" : " ") + row;
    }
    if (!problems.empty()) Damaged(problems);
  }
  std::set<std::string> tables;
  bool anything = false;
  {
    Statement st(db_, "SELECT type, name FROM sqlite_schema");
    while (st.Step()) {
      anything = true;
      if (st.ColumnView(0) == "table") tables.insert(st.ColumnText(1));
    }
  }
  // No table at all: a store whose creation never committed (or a new,
  // empty database). It is created afresh.
  if (!anything) return FileState::kNoLayout;
  if (!tables.count("meta")) NotAStore();
  bool formatOk = false, idOk = false;
  {
    Statement st(db_, "SELECT key, value FROM meta");
    while (st.Step()) {
      const std::string_view key = st.ColumnView(0);
      if (key == "format") {
        formatOk = st.ColumnView(1) == kFormat;
      } else if (key == "store_id") {
        idOk = st.ColumnType(1) == SQLITE_BLOB && st.ColumnView(1).size() == 16;
      }
    }
  }
  if (!formatOk) NotAStore();
  if (!idOk) Damaged("its store id is missing");
  for (const char* table : {"folders", "items", "attachments"}) {
    if (!tables.count(table)) Damaged(std::string("its table ") + table + " is missing");
  }
  // Tables without a single row: created by an earlier version, which
  // wrote the folders in transactions of their own and was cut off before
  // the first. Nothing is lost by adding the folders now.
  Statement rows(db_,
                 "SELECT EXISTS(SELECT 1 FROM folders) OR EXISTS(SELECT 1 FROM items) OR "
                 "EXISTS(SELECT 1 FROM attachments)");
  if (!rows.Step()) Damaged("its tables cannot be read");
  return rows.ColumnInt64(0) != 0 ? FileState::kStore : FileState::kNoFolders;
}

// Writes the whole layout (tables, the store's settings and its folders) in
// one transaction, so that a failure or a crash leaves a file without any
// table, which the next open creates afresh. False, writing nothing, when
// the file became a store since it was checked.
bool Store::CreateLayout(StoreLayout layout) {
  Transaction tx(db_);
  bool empty = false;
  {
    Statement st(db_, "SELECT NOT EXISTS(SELECT 1 FROM sqlite_schema)");
    empty = st.Step() && st.ColumnInt64(0) != 0;
  }
  if (empty) {
    for (const char* sql : kCreateTables) Exec(sql);
    Exec(kCreateArrived);
    Exec(kCreateItemKeys);
    Exec(kCreateRemovals);
    id_ = NewStoreId();
    Statement& st = Prepare("INSERT INTO meta(key, value) VALUES(?, ?)");
    st.BindText(1, "format").BindText(2, kFormat).Run();
    st.Reset();
    st.BindText(1, "store_id").BindBlob(2, std::span<const std::uint8_t>(id_)).Run();
    st.Reset();
    st.BindText(1, "next_number").BindInt64(2, 1).Run();
  } else {
    if (Validate() != FileState::kNoFolders) return false;
    EnsureArrivedTables();
  }
  std::uint64_t seq = 1;
  const std::uint32_t root =
      WriteFolder(0, "Personal Folders", kMailItemType, FolderRole::kRoot, seq++, DefaultMailViewXml());
  WriteFolder(root, "Deleted Items", kMailItemType, FolderRole::kDeleted, seq++, DefaultMailViewXml());
  if (layout == StoreLayout::kDefault) {
    WriteFolder(root, "Inbox", kMailItemType, FolderRole::kInbox, seq++, DefaultMailViewXml());
    WriteFolder(root, "Outbox", kMailItemType, FolderRole::kOutbox, seq++, DefaultMailViewXml());
    WriteFolder(root, "Sent Items", kMailItemType, FolderRole::kSent, seq++, DefaultMailViewXml());
    WriteFolder(root, "Contacts", kContactItemType, FolderRole::kContacts, seq++, host::DefaultContactsViewXml());
  }
  tx.Commit();
  return true;
}

// Reads the whole store into memory. A row that cannot be read makes the
// store unreadable (sqlite::Error): nothing is taken for the end of the rows.
// Rows that read but make no sense (unknown folders, loops) are passed over.
void Store::Load() {
  Statement st(db_, "SELECT key, value FROM meta");
  bool formatOk = false, idOk = false;
  std::int64_t next = 0;
  while (st.Step()) {
    const std::string_view key = st.ColumnView(0);
    if (key == "format") {
      formatOk = st.ColumnView(1) == kFormat;
    } else if (key == "store_id" && st.ColumnType(1) == SQLITE_BLOB && st.ColumnView(1).size() == 16) {
      const std::string_view id = st.ColumnView(1);
      std::copy(id.begin(), id.end(), id_.begin());
      idOk = true;
    } else if (key == "next_number" && st.ColumnType(1) == SQLITE_INTEGER) {
      next = st.ColumnInt64(1);
    }
  }
  if (!formatOk) NotAStore();
  if (!idOk) Damaged("its store id is missing");

  std::unordered_map<std::uint32_t, FolderRecord> all;
  st = Statement(db_, "SELECT number, parent, name, item_type, role, view_xml, seq FROM folders");
  std::uint32_t maxNumber = 0;
  std::uint64_t maxSeq = 0;
  while (st.Step()) {
    FolderRecord f;
    f.number = ColumnNumber(st, 0);
    f.parent = ColumnNumber(st, 1);
    f.name = ColumnText(st, 2);
    f.defaultItemType = st.ColumnInt64(3) == kContactItemType ? kContactItemType : kMailItemType;
    f.role = RoleFromName(ColumnText(st, 4));
    f.viewXml = ColumnText(st, 5);
    std::int64_t seq = st.ColumnInt64(6);
    f.seq = seq < 0 ? 0 : static_cast<std::uint64_t>(seq);
    if (f.number == 0) continue;
    maxNumber = std::max(maxNumber, f.number);
    maxSeq = std::max(maxSeq, f.seq);
    all.emplace(f.number, std::move(f));
  }

  // The top folder: the lowest-numbered folder with the root role and no parent.
  root_ = 0;
  for (const auto& [n, f] : all) {
    if (f.role == FolderRole::kRoot && f.parent == 0 && (root_ == 0 || n < root_)) root_ = n;
  }
  if (root_ == 0) Damaged("its top folder is missing");

  // Keep only the folders reachable from the top folder, so that damaged
  // parent links (cycles, missing parents) cannot confuse the tree.
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> kids;
  for (const auto& [n, f] : all) {
    if (n != root_ && f.parent != 0) kids[f.parent].push_back(n);
  }
  folders_.clear();
  std::set<FolderRole> rolesSeen;
  std::deque<std::uint32_t> queue{root_};
  while (!queue.empty()) {
    std::uint32_t n = queue.front();
    queue.pop_front();
    FolderRecord f = std::move(all[n]);
    if (n != root_ && f.role == FolderRole::kRoot) f.role = FolderRole::kNone;
    if (f.role != FolderRole::kNone && !rolesSeen.insert(f.role).second) f.role = FolderRole::kNone;
    auto& children = kids[n];
    std::sort(children.begin(), children.end(), [&](std::uint32_t a, std::uint32_t b) {
      return std::pair(all[a].seq, a) < std::pair(all[b].seq, b);
    });
    for (auto c : children) {
      if (!folders_.count(c) && c != n) {
        f.children.push_back(c);
        queue.push_back(c);
      }
    }
    folders_.emplace(n, std::move(f));
  }

  items_.clear();
  st = Statement(db_,
                 "SELECT number, folder, seq, kind, message_class, unread, created, modified, submitted, "
                 "props FROM items ORDER BY seq, number");
  while (st.Step()) {
    ItemRecord r;
    r.number = ColumnNumber(st, 0);
    r.folder = ColumnNumber(st, 1);
    std::int64_t seq = st.ColumnInt64(2);
    r.seq = seq < 0 ? 0 : static_cast<std::uint64_t>(seq);
    r.kind = st.ColumnInt64(3) == 1 ? ItemKind::kContact : ItemKind::kMail;
    r.messageClass = ColumnText(st, 4);
    r.unread = st.ColumnInt64(5) != 0;
    r.created = ColumnDate(st, 6);
    r.modified = ColumnDate(st, 7);
    r.submitted = st.ColumnInt64(8) != 0;
    r.props = PropsFromJson(r.kind, ColumnText(st, 9), r.userProps);
    auto folder = folders_.find(r.folder);
    if (r.number == 0 || folder == folders_.end() || all.count(r.number)) continue;
    maxNumber = std::max(maxNumber, r.number);
    maxSeq = std::max(maxSeq, r.seq);
    folder->second.items.push_back(r.number);
    items_.emplace(r.number, std::move(r));
  }

  st = Statement(db_, "SELECT item, name, data FROM attachments ORDER BY item, idx");
  while (st.Step()) {
    auto it = items_.find(ColumnNumber(st, 0));
    if (it == items_.end()) continue;
    AttachmentData a;
    a.name = ColumnText(st, 1);
    const std::string_view data = st.ColumnView(2);
    a.data.assign(data.begin(), data.end());
    it->second.attachments.push_back(std::move(a));
  }

  nextNumber_ = static_cast<std::uint32_t>(
      std::min<std::int64_t>(std::max<std::int64_t>(next, std::int64_t{maxNumber} + 1),
                             std::numeric_limits<std::uint32_t>::max()));
  nextSeq_ = maxSeq + 1;
}

const FolderRecord* Store::Folder(std::uint32_t number) const {
  auto it = folders_.find(number);
  return it == folders_.end() ? nullptr : &it->second;
}

const ItemRecord* Store::Item(std::uint32_t number) const {
  auto it = items_.find(number);
  return it == items_.end() ? nullptr : &it->second;
}

std::uint32_t Store::FolderByRole(FolderRole role) const {
  for (const auto& [n, f] : folders_) {
    if (f.role == role) return n;
  }
  return 0;
}

bool Store::IsWithin(std::uint32_t folder, std::uint32_t ancestor) const {
  for (std::size_t guard = 0; folder != 0 && guard <= folders_.size(); ++guard) {
    if (folder == ancestor) return true;
    const FolderRecord* f = Folder(folder);
    if (!f) return false;
    folder = f->parent;
  }
  return false;
}

// Takes the next entry number from the file's counter and advances it; runs
// inside the caller's write transaction, so no other process can take the
// same number. The counter never goes below a number in use, nor below the
// numbers this process has handed out; the caller advances nextNumber_ once
// its transaction has committed.
std::uint32_t Store::NextNumber() {
  Statement& st = Prepare(
      "SELECT (SELECT value FROM meta WHERE key = 'next_number'), (SELECT max(number) FROM items), "
      "(SELECT max(number) FROM folders)");
  std::int64_t n = nextNumber_;
  {
    ResetOnExit done(st);
    if (!st.Step()) Fail("the entry id counter cannot be read");
    if (st.ColumnType(0) == SQLITE_INTEGER) n = std::max(n, st.ColumnInt64(0));
    n = std::max(n, st.ColumnInt64(1) + 1);
    n = std::max(n, st.ColumnInt64(2) + 1);
  }
  if (n >= std::numeric_limits<std::uint32_t>::max()) Fail("no more entry ids");
  Statement& up = Prepare(
      "INSERT INTO meta(key, value) VALUES('next_number', ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
  up.BindInt64(1, n + 1).Run();
  return static_cast<std::uint32_t>(n);
}

void Store::Touch(std::uint32_t folder) {
  auto it = folders_.find(folder);
  if (it != folders_.end()) ++it->second.version;
}

// Inserts a folder row with a new number (inside the caller's transaction).
std::uint32_t Store::WriteFolder(std::uint32_t parent, const std::string& name, std::int32_t itemType,
                                 FolderRole role, std::uint64_t seq, const std::string& xml) {
  const std::uint32_t n = NextNumber();
  Statement& st = Prepare(
      "INSERT INTO folders(number, parent, name, item_type, role, view_xml, seq) VALUES(?, ?, ?, ?, ?, ?, ?)");
  st.BindInt64(1, n).BindInt64(2, parent).BindText(3, name).BindInt64(4, itemType);
  st.BindText(5, RoleName(role)).BindText(6, xml).BindInt64(7, static_cast<std::int64_t>(seq));
  st.Run();
  return n;
}

std::uint32_t Store::CreateFolder(std::uint32_t parent, const std::string& name, std::int32_t itemType,
                                  FolderRole role) {
  if (parent != 0 && !Folder(parent)) throw HostError(kNotFoundMessage);
  std::string xml = itemType == kContactItemType ? host::DefaultContactsViewXml() : DefaultMailViewXml();
  const std::uint64_t seq = nextSeq_;
  const std::uint32_t n = Guarded([&] {
    Transaction tx(db_);
    if (parent != 0 && ExecWithNumber(kFolderExists, parent) == 0) throw HostError(kNotFoundMessage);
    const std::uint32_t number = WriteFolder(parent, name, itemType, role, seq, xml);
    tx.Commit();
    return number;
  });
  nextNumber_ = n + 1;
  nextSeq_ = seq + 1;
  FolderRecord f;
  f.number = n;
  f.parent = parent;
  f.name = name;
  f.defaultItemType = itemType;
  f.role = role;
  f.viewXml = std::move(xml);
  f.seq = seq;
  folders_.emplace(n, std::move(f));
  if (parent != 0) folders_[parent].children.push_back(n);
  return n;
}

// Runs one statement whose only parameter is a number. For a statement that
// changes rows: how many it changed; for a query: 1 when it gave a row.
std::int64_t Store::ExecWithNumber(const char* sql, std::int64_t number) {
  Statement& st = Prepare(sql);
  ResetOnExit done(st);
  st.BindInt64(1, number);
  if (st.Step()) return 1;
  return sqlite3_stmt_readonly(st.Handle()) ? 0 : db_.Changes();
}

// Writes one text column of a folder's row; returns the cached folder.
FolderRecord& Store::UpdateFolderText(std::uint32_t number, const char* sql, const std::string& value) {
  auto it = folders_.find(number);
  if (it == folders_.end()) throw HostError(kNotFoundMessage);
  Guarded([&] {
    Statement& st = Prepare(sql);
    st.BindText(1, value).BindInt64(2, number).Run();
    if (db_.Changes() == 0) throw HostError(kNotFoundMessage);
  });
  return it->second;
}

void Store::RenameFolder(std::uint32_t number, const std::string& name) {
  UpdateFolderText(number, "UPDATE folders SET name = ? WHERE number = ?", name).name = name;
}

void Store::SetViewXml(std::uint32_t number, const std::string& xml) {
  UpdateFolderText(number, "UPDATE folders SET view_xml = ? WHERE number = ?", xml).viewXml = xml;
}

void Store::MoveFolder(std::uint32_t number, std::uint32_t newParent) {
  auto it = folders_.find(number);
  if (it == folders_.end() || !Folder(newParent) || number == root_) throw HostError(kNotFoundMessage);
  if (IsWithin(newParent, number)) throw HostError("A folder cannot be moved into one of its own subfolders.");
  const std::uint64_t seq = nextSeq_;
  Guarded([&] {
    Transaction tx(db_);
    if (ExecWithNumber(kFolderExists, newParent) == 0) throw HostError(kNotFoundMessage);
    Statement& st = Prepare("UPDATE folders SET parent = ?, seq = ? WHERE number = ?");
    st.BindInt64(1, newParent).BindInt64(2, static_cast<std::int64_t>(seq)).BindInt64(3, number).Run();
    if (db_.Changes() == 0) throw HostError(kNotFoundMessage);
    tx.Commit();
  });
  nextSeq_ = seq + 1;
  auto& oldKids = folders_[it->second.parent].children;
  oldKids.erase(std::remove(oldKids.begin(), oldKids.end(), number), oldKids.end());
  folders_[newParent].children.push_back(number);
  it->second.parent = newParent;
  it->second.seq = seq;
}

void Store::DeleteFolderTree(std::uint32_t number) {
  auto it = folders_.find(number);
  if (it == folders_.end() || number == root_) throw HostError(kNotFoundMessage);
  std::vector<std::uint32_t> tree{number};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    for (auto c : folders_[tree[i]].children) tree.push_back(c);
  }
  Guarded([&] {
    Transaction tx(db_);
    // The folder itself must still be there; subfolders another process
    // removed already are gone as wanted.
    if (ExecWithNumber("DELETE FROM folders WHERE number = ?", number) == 0) throw HostError(kNotFoundMessage);
    for (auto f : tree) {
      // By the rows of the file, so that items another process put there go too.
      QueueRemovals(true, f);
      ExecWithNumber("DELETE FROM attachments WHERE item IN (SELECT number FROM items WHERE folder = ?)", f);
      ExecWithNumber("DELETE FROM items WHERE folder = ?", f);
      if (f != number) ExecWithNumber("DELETE FROM folders WHERE number = ?", f);
    }
    tx.Commit();
  });
  std::uint32_t parent = it->second.parent;
  auto& kids = folders_[parent].children;
  kids.erase(std::remove(kids.begin(), kids.end(), number), kids.end());
  for (auto f : tree) {
    for (auto item : folders_[f].items) items_.erase(item);
    folders_.erase(f);
  }
}

void Store::BindItem(Statement& st, const ItemRecord& r) {
  // Columns in the order of the statements below: folder, seq, kind,
  // message_class, unread, created, modified, submitted, props, number.
  st.BindInt64(1, r.folder);
  st.BindInt64(2, static_cast<std::int64_t>(r.seq));
  st.BindInt64(3, r.kind == ItemKind::kContact ? 1 : 0);
  st.BindText(4, r.messageClass);
  st.BindInt64(5, r.unread ? 1 : 0);
  st.BindInt64(6, r.created.SecondsSinceZero());
  st.BindInt64(7, r.modified.SecondsSinceZero());
  st.BindInt64(8, r.submitted ? 1 : 0);
  st.BindText(9, PropsToJson(r));
  st.BindInt64(10, r.number);
}

void Store::WriteAttachments(const ItemRecord& r) {
  ExecWithNumber("DELETE FROM attachments WHERE item = ?", r.number);
  int idx = 0;
  // The bytes are bound in place (an attachment can be many megabytes); the
  // statement lets go of them when it is reset right after the run.
  for (const auto& a : r.attachments) {
    Statement& st = Prepare("INSERT INTO attachments(item, idx, name, data) VALUES(?, ?, ?, ?)");
    ResetOnExit done(st);
    st.BindInt64(1, r.number).BindInt64(2, idx++).BindText(3, a.name).BindBlob(4, std::span(a.data), false).Run();
  }
}

// Inserts the record's rows with a new number and seq, which it sets (inside
// the caller's transaction).
void Store::WriteNewItem(ItemRecord& record) {
  if (ExecWithNumber(kFolderExists, record.folder) == 0) throw HostError(kNotFoundMessage);
  record.number = NextNumber();
  record.seq = nextSeq_;
  Statement& st = Prepare(
      "INSERT INTO items(folder, seq, kind, message_class, unread, created, modified, submitted, props, number) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  BindItem(st, record);
  st.Run();
  if (!record.attachments.empty()) WriteAttachments(record);
}

// After the transaction of WriteNewItem has committed.
void Store::AddItemToMemory(ItemRecord record) {
  nextNumber_ = record.number + 1;
  nextSeq_ = record.seq + 1;
  auto& folder = folders_[record.folder];
  folder.items.push_back(record.number);
  ++folder.version;
  items_.emplace(record.number, std::move(record));
}

std::uint32_t Store::InsertItem(ItemRecord&& record) {
  if (!Folder(record.folder)) throw HostError(kNotFoundMessage);
  const std::uint32_t number = record.number;
  const std::uint64_t seq = record.seq;
  try {
    Guarded([&] {
      Transaction tx(db_);
      WriteNewItem(record);
      tx.Commit();
    });
  } catch (...) {
    record.number = number;
    record.seq = seq;
    throw;
  }
  const std::uint32_t n = record.number;
  AddItemToMemory(std::move(record));
  return n;
}

std::uint32_t Store::InsertArrived(ItemRecord record, const std::string& key) {
  if (!Folder(record.folder)) throw HostError(kNotFoundMessage);
  const bool added = Guarded([&] {
    // The transport forgets the message once it is acknowledged, right
    // after this commit: the commit is synced to the disk (FULL for this one
    // transaction), so that a power cut cannot take back a message the
    // server or the post office no longer holds. Other commits stay NORMAL.
    db_.Exec("PRAGMA synchronous=FULL");
    struct Normal {
      platform::sqlite::Connection& db;
      ~Normal() { sqlite3_exec(db.Handle(), "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr); }
    } normal{db_};
    Transaction tx(db_);
    Statement& st = Prepare("INSERT INTO arrived(key) VALUES(?) ON CONFLICT(key) DO NOTHING");
    st.BindText(1, key).Run();
    if (db_.Changes() == 0) return false;  // stored before: nothing is written
    WriteNewItem(record);
    Statement& keep = Prepare("INSERT OR REPLACE INTO item_keys(item, key) VALUES(?, ?)");
    keep.BindInt64(1, record.number).BindText(2, key).Run();
    tx.Commit();
    return true;
  });
  if (!added) return 0;
  const std::uint32_t n = record.number;
  AddItemToMemory(std::move(record));
  return n;
}

bool Store::HasArrived(const std::string& key) const {
  return Guarded([&] {
    Statement& st = Prepare("SELECT 1 FROM arrived WHERE key = ?");
    ResetOnExit done(st);
    st.BindText(1, key);
    return st.Step();
  });
}

void Store::ForgetArrived(const std::string& key) {
  Guarded([&] { Prepare("DELETE FROM arrived WHERE key = ?").BindText(1, key).Run(); });
}

// Moves the keys of one item (`wholeFolder` false) or of every item of a
// folder into the removal queue (inside the caller's transaction).
void Store::QueueRemovals(bool wholeFolder, std::int64_t number) {
  if (wholeFolder) {
    ExecWithNumber(
        "INSERT OR IGNORE INTO removals(key) SELECT key FROM item_keys WHERE item IN "
        "(SELECT number FROM items WHERE folder = ?) ORDER BY item",
        number);
    ExecWithNumber("DELETE FROM item_keys WHERE item IN (SELECT number FROM items WHERE folder = ?)", number);
  } else {
    ExecWithNumber("INSERT OR IGNORE INTO removals(key) SELECT key FROM item_keys WHERE item = ?", number);
    ExecWithNumber("DELETE FROM item_keys WHERE item = ?", number);
  }
}

std::vector<std::string> Store::PendingRemovals() const {
  return Guarded([&] {
    std::vector<std::string> keys;
    Statement& st = Prepare("SELECT key FROM removals ORDER BY seq");
    ResetOnExit done(st);
    while (st.Step()) keys.push_back(st.ColumnText(0));
    return keys;
  });
}

void Store::ClearRemovals(const std::vector<std::string>& keys) {
  if (keys.empty()) return;
  Guarded([&] {
    Transaction tx(db_);
    for (const auto& key : keys) Prepare("DELETE FROM removals WHERE key = ?").BindText(1, key).Run();
    tx.Commit();
  });
}

void Store::UpdateItem(const ItemRecord& record, bool attachments) {
  auto it = items_.find(record.number);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  // The attachments kept in memory move over once the file has the change,
  // rather than being copied.
  ItemRecord copy = attachments ? record : WithoutAttachments(record);
  copy.folder = it->second.folder;
  copy.seq = it->second.seq;
  Guarded([&] {
    Transaction tx(db_);
    Statement& st = Prepare(
        "UPDATE items SET folder = ?, seq = ?, kind = ?, message_class = ?, unread = ?, created = ?, modified = ?, "
        "submitted = ?, props = ? WHERE number = ?");
    BindItem(st, copy);
    st.Run();
    if (db_.Changes() == 0) throw HostError(kMovedOrDeletedMessage);
    if (attachments) WriteAttachments(copy);
    tx.Commit();
  });
  if (!attachments) copy.attachments = std::move(it->second.attachments);
  it->second = std::move(copy);
  Touch(it->second.folder);
}

void Store::SetUnread(std::uint32_t number, bool unread) {
  auto it = items_.find(number);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  Guarded([&] {
    Statement& st = Prepare("UPDATE items SET unread = ? WHERE number = ?");
    st.BindInt64(1, unread ? 1 : 0).BindInt64(2, number).Run();
    if (db_.Changes() == 0) throw HostError(kMovedOrDeletedMessage);
  });
  it->second.unread = unread;
  auto folder = folders_.find(it->second.folder);
  if (folder != folders_.end()) ++folder->second.unreadVersion;
}

void Store::MoveItem(std::uint32_t number, std::uint32_t folder) {
  auto it = items_.find(number);
  auto target = folders_.find(folder);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  if (target == folders_.end()) throw HostError(kNotFoundMessage);
  const std::uint64_t seq = nextSeq_;
  Guarded([&] {
    Transaction tx(db_);
    if (ExecWithNumber(kFolderExists, folder) == 0) throw HostError(kNotFoundMessage);
    Statement& st = Prepare("UPDATE items SET folder = ?, seq = ? WHERE number = ?");
    st.BindInt64(1, folder).BindInt64(2, static_cast<std::int64_t>(seq)).BindInt64(3, number).Run();
    if (db_.Changes() == 0) throw HostError(kMovedOrDeletedMessage);
    tx.Commit();
  });
  nextSeq_ = seq + 1;
  auto& from = folders_[it->second.folder];
  from.items.erase(std::remove(from.items.begin(), from.items.end(), number), from.items.end());
  ++from.version;
  target->second.items.push_back(number);
  ++target->second.version;
  it->second.folder = folder;
  it->second.seq = seq;
}

void Store::DeleteItem(std::uint32_t number, bool queueRemoval) {
  auto it = items_.find(number);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  Guarded([&] {
    Transaction tx(db_);
    if (queueRemoval) {
      QueueRemovals(false, number);
    } else {
      ExecWithNumber("DELETE FROM item_keys WHERE item = ?", number);
    }
    ExecWithNumber("DELETE FROM attachments WHERE item = ?", number);
    if (ExecWithNumber("DELETE FROM items WHERE number = ?", number) == 0) throw HostError(kMovedOrDeletedMessage);
    tx.Commit();
  });
  auto& from = folders_[it->second.folder];
  from.items.erase(std::remove(from.items.begin(), from.items.end(), number), from.items.end());
  ++from.version;
  items_.erase(it);
}

}  // namespace host::detail

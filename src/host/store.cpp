#include "host/store.hpp"

#include <algorithm>
#include <deque>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "host/contact_properties.hpp"
#include "host/errors.hpp"
#include "host/ui/view.hpp"

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

std::string ColumnText(sqlite3_stmt* st, int col) {
  const unsigned char* t = sqlite3_column_text(st, col);
  if (!t) return {};
  return std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
}

std::uint32_t ColumnNumber(sqlite3_stmt* st, int col) {
  sqlite3_int64 v = sqlite3_column_int64(st, col);
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

platform::DateTime ColumnDate(sqlite3_stmt* st, int col) {
  if (sqlite3_column_type(st, col) != SQLITE_INTEGER) return platform::DateTime::NoDate();
  std::int64_t s = sqlite3_column_int64(st, col);
  if (!PlausibleSeconds(s)) return platform::DateTime::NoDate();
  return platform::DateTime::FromSecondsSinceZero(s);
}

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
  // Invalid UTF-8 in a text is replaced rather than refused.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Reads the stored properties, keeping only names the schema knows with
// values of the right type; anything else in the file is passed over.
PropList PropsFromJson(ItemKind kind, const std::string& text) {
  PropList out;
  if (text.empty()) return out;
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object()) return out;
  const PropertySchema& schema = SchemaOf(kind);
  for (auto it = j.begin(); it != j.end(); ++it) {
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

// A transaction that rolls back unless committed.
class Store::Tx {
 public:
  explicit Tx(Store& s) : s_(s) { s_.Exec("BEGIN IMMEDIATE"); }
  ~Tx() {
    if (!done_) sqlite3_exec(s_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    s_.Exec("COMMIT");
    done_ = true;
  }

 private:
  Store& s_;
  bool done_ = false;
};

void Store::Fail(const std::string& what) {
  std::string msg = "The personal folders file " + path_.string() + " failed: " + what;
  if (db_) msg += " (" + std::string(sqlite3_errmsg(db_)) + ")";
  throw HostError(msg);
}

void Store::Exec(const char* sql) {
  if (!db_) throw HostError("The personal folders file " + path_.string() + " is closed.");
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
}

sqlite3_stmt* Store::Prepare(const char* sql) {
  if (!db_) throw HostError("The personal folders file " + path_.string() + " is closed.");
  auto it = statements_.find(sql);
  if (it != statements_.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) Fail("prepare");
  statements_.emplace(sql, st);
  return st;
}

namespace {
void Step(sqlite3_stmt* st, sqlite3* db, const std::filesystem::path& path) {
  int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw HostError("The personal folders file " + path.string() + " failed: " + sqlite3_errmsg(db));
  }
  sqlite3_reset(st);
}
}  // namespace

std::shared_ptr<Store> Store::Open(const std::filesystem::path& path, StoreLayout layout) {
  std::shared_ptr<Store> s(new Store());
  s->path_ = path;
  std::error_code ec;
  bool fresh = !std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0;
  if (std::filesystem::is_directory(path, ec)) {
    throw HostError("The file " + path.string() + " is not a personal folders file.");
  }
  if (fresh && path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  int rc = sqlite3_open_v2(path.string().c_str(), &s->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    if (s->db_) sqlite3_close(s->db_);
    s->db_ = nullptr;
    throw HostError("The file " + path.string() + " could not be opened.");
  }
  sqlite3_busy_timeout(s->db_, 5000);
  try {
    if (sqlite3_exec(s->db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw HostError("The file " + path.string() + " is not a personal folders file.");
    }
    s->Exec("PRAGMA synchronous=NORMAL");
    s->Exec("PRAGMA foreign_keys=OFF");
    if (fresh) s->CreateLayout(layout);
    s->Load();
  } catch (const HostError&) {
    s->Close();
    throw;
  }
  return s;
}

Store::~Store() { Close(); }

void Store::Close() {
  for (auto& [sql, st] : statements_) sqlite3_finalize(st);
  statements_.clear();
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
}

void Store::CreateLayout(StoreLayout layout) {
  Tx tx(*this);
  Exec("CREATE TABLE meta(key TEXT PRIMARY KEY, value)");
  Exec("CREATE TABLE folders(number INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, "
       "item_type INTEGER NOT NULL, role TEXT NOT NULL, view_xml TEXT NOT NULL, seq INTEGER NOT NULL)");
  Exec("CREATE TABLE items(number INTEGER PRIMARY KEY, folder INTEGER NOT NULL, seq INTEGER NOT NULL, "
       "kind INTEGER NOT NULL, message_class TEXT NOT NULL, unread INTEGER NOT NULL, created INTEGER, "
       "modified INTEGER, submitted INTEGER NOT NULL, props TEXT NOT NULL)");
  Exec("CREATE TABLE attachments(item INTEGER NOT NULL, idx INTEGER NOT NULL, name TEXT NOT NULL, "
       "data BLOB NOT NULL, PRIMARY KEY(item, idx))");
  id_ = NewStoreId();
  sqlite3_stmt* st = Prepare("INSERT INTO meta(key, value) VALUES(?, ?)");
  sqlite3_bind_text(st, 1, "format", -1, SQLITE_STATIC);
  sqlite3_bind_text(st, 2, kFormat, -1, SQLITE_STATIC);
  Step(st, db_, path_);
  sqlite3_bind_text(st, 1, "store_id", -1, SQLITE_STATIC);
  sqlite3_bind_blob(st, 2, id_.data(), static_cast<int>(id_.size()), SQLITE_TRANSIENT);
  Step(st, db_, path_);
  sqlite3_bind_text(st, 1, "next_number", -1, SQLITE_STATIC);
  sqlite3_bind_int64(st, 2, 1);
  Step(st, db_, path_);
  tx.Commit();
  nextNumber_ = 1;
  // The folders go in one transaction each; a fresh file is tiny.
  root_ = CreateFolder(0, "Personal Folders", kMailItemType, FolderRole::kRoot);
  CreateFolder(root_, "Deleted Items", kMailItemType, FolderRole::kDeleted);
  if (layout == StoreLayout::kDefault) {
    CreateFolder(root_, "Inbox", kMailItemType, FolderRole::kInbox);
    CreateFolder(root_, "Outbox", kMailItemType, FolderRole::kOutbox);
    CreateFolder(root_, "Sent Items", kMailItemType, FolderRole::kSent);
    CreateFolder(root_, "Contacts", kContactItemType, FolderRole::kContacts);
  }
  folders_.clear();
  items_.clear();
}

void Store::Load() {
  auto notAStore = [this] { throw HostError("The file " + path_.string() + " is not a personal folders file."); };
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT key, value FROM meta", -1, &st, nullptr) != SQLITE_OK) notAStore();
  bool formatOk = false, idOk = false;
  std::int64_t next = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string key = ColumnText(st, 0);
    if (key == "format") {
      formatOk = ColumnText(st, 1) == kFormat;
    } else if (key == "store_id" && sqlite3_column_type(st, 1) == SQLITE_BLOB &&
               sqlite3_column_bytes(st, 1) == 16) {
      const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, 1));
      std::copy(p, p + 16, id_.begin());
      idOk = true;
    } else if (key == "next_number") {
      next = sqlite3_column_int64(st, 1);
    }
  }
  sqlite3_finalize(st);
  if (!formatOk || !idOk) notAStore();

  std::unordered_map<std::uint32_t, FolderRecord> all;
  if (sqlite3_prepare_v2(db_, "SELECT number, parent, name, item_type, role, view_xml, seq FROM folders", -1, &st,
                         nullptr) != SQLITE_OK) {
    notAStore();
  }
  std::uint32_t maxNumber = 0;
  std::uint64_t maxSeq = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    FolderRecord f;
    f.number = ColumnNumber(st, 0);
    f.parent = ColumnNumber(st, 1);
    f.name = ColumnText(st, 2);
    f.defaultItemType = sqlite3_column_int(st, 3) == kContactItemType ? kContactItemType : kMailItemType;
    f.role = RoleFromName(ColumnText(st, 4));
    f.viewXml = ColumnText(st, 5);
    sqlite3_int64 seq = sqlite3_column_int64(st, 6);
    f.seq = seq < 0 ? 0 : static_cast<std::uint64_t>(seq);
    if (f.number == 0) continue;
    maxNumber = std::max(maxNumber, f.number);
    maxSeq = std::max(maxSeq, f.seq);
    all.emplace(f.number, std::move(f));
  }
  sqlite3_finalize(st);

  // The top folder: the lowest-numbered folder with the root role and no parent.
  root_ = 0;
  for (const auto& [n, f] : all) {
    if (f.role == FolderRole::kRoot && f.parent == 0 && (root_ == 0 || n < root_)) root_ = n;
  }
  if (root_ == 0) notAStore();

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
  if (sqlite3_prepare_v2(db_,
                         "SELECT number, folder, seq, kind, message_class, unread, created, modified, submitted, "
                         "props FROM items ORDER BY seq, number",
                         -1, &st, nullptr) != SQLITE_OK) {
    notAStore();
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    ItemRecord r;
    r.number = ColumnNumber(st, 0);
    r.folder = ColumnNumber(st, 1);
    sqlite3_int64 seq = sqlite3_column_int64(st, 2);
    r.seq = seq < 0 ? 0 : static_cast<std::uint64_t>(seq);
    r.kind = sqlite3_column_int(st, 3) == 1 ? ItemKind::kContact : ItemKind::kMail;
    r.messageClass = ColumnText(st, 4);
    r.unread = sqlite3_column_int(st, 5) != 0;
    r.created = ColumnDate(st, 6);
    r.modified = ColumnDate(st, 7);
    r.submitted = sqlite3_column_int(st, 8) != 0;
    r.props = PropsFromJson(r.kind, ColumnText(st, 9));
    auto folder = folders_.find(r.folder);
    if (r.number == 0 || folder == folders_.end() || all.count(r.number)) continue;
    maxNumber = std::max(maxNumber, r.number);
    maxSeq = std::max(maxSeq, r.seq);
    folder->second.items.push_back(r.number);
    items_.emplace(r.number, std::move(r));
  }
  sqlite3_finalize(st);

  if (sqlite3_prepare_v2(db_, "SELECT item, name, data FROM attachments ORDER BY item, idx", -1, &st, nullptr) !=
      SQLITE_OK) {
    notAStore();
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    auto it = items_.find(ColumnNumber(st, 0));
    if (it == items_.end()) continue;
    AttachmentData a;
    a.name = ColumnText(st, 1);
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, 2));
    int len = sqlite3_column_bytes(st, 2);
    if (p && len > 0) a.data.assign(p, p + len);
    it->second.attachments.push_back(std::move(a));
  }
  sqlite3_finalize(st);

  nextNumber_ = static_cast<std::uint32_t>(std::max<std::int64_t>(next, std::int64_t{maxNumber} + 1));
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

std::uint32_t Store::NextNumber() {
  if (nextNumber_ == std::numeric_limits<std::uint32_t>::max()) Fail("no more entry ids");
  std::uint32_t n = nextNumber_;
  ExecWithNumber("UPDATE meta SET value = ? WHERE key = 'next_number'", std::int64_t{n} + 1);
  return n;
}

void Store::Touch(std::uint32_t folder) {
  auto it = folders_.find(folder);
  if (it != folders_.end()) ++it->second.version;
}

std::uint32_t Store::CreateFolder(std::uint32_t parent, const std::string& name, std::int32_t itemType,
                                  FolderRole role) {
  if (parent != 0 && !Folder(parent)) throw HostError(kNotFoundMessage);
  Tx tx(*this);
  std::uint32_t n = NextNumber();
  std::string xml = itemType == kContactItemType ? host::DefaultContactsViewXml() : DefaultMailViewXml();
  std::uint64_t seq = nextSeq_;
  sqlite3_stmt* st = Prepare(
      "INSERT INTO folders(number, parent, name, item_type, role, view_xml, seq) VALUES(?, ?, ?, ?, ?, ?, ?)");
  sqlite3_bind_int64(st, 1, n);
  sqlite3_bind_int64(st, 2, parent);
  sqlite3_bind_text(st, 3, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 4, itemType);
  sqlite3_bind_text(st, 5, RoleName(role), -1, SQLITE_STATIC);
  sqlite3_bind_text(st, 6, xml.data(), static_cast<int>(xml.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 7, static_cast<sqlite3_int64>(seq));
  Step(st, db_, path_);
  tx.Commit();
  ++nextNumber_;
  ++nextSeq_;
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

// Runs one statement whose only parameter is a number.
void Store::ExecWithNumber(const char* sql, std::int64_t number) {
  sqlite3_stmt* st = Prepare(sql);
  sqlite3_bind_int64(st, 1, number);
  Step(st, db_, path_);
}

// Writes one text column of a folder's row; returns the cached folder.
FolderRecord& Store::UpdateFolderText(std::uint32_t number, const char* sql, const std::string& value) {
  auto it = folders_.find(number);
  if (it == folders_.end()) throw HostError(kNotFoundMessage);
  sqlite3_stmt* st = Prepare(sql);
  sqlite3_bind_text(st, 1, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 2, number);
  Step(st, db_, path_);
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
  std::uint64_t seq = nextSeq_;
  sqlite3_stmt* st = Prepare("UPDATE folders SET parent = ?, seq = ? WHERE number = ?");
  sqlite3_bind_int64(st, 1, newParent);
  sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(seq));
  sqlite3_bind_int64(st, 3, number);
  Step(st, db_, path_);
  ++nextSeq_;
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
  Tx tx(*this);
  for (auto f : tree) {
    for (auto item : folders_[f].items) {
      ExecWithNumber("DELETE FROM attachments WHERE item = ?", item);
    }
    ExecWithNumber("DELETE FROM items WHERE folder = ?", f);
    ExecWithNumber("DELETE FROM folders WHERE number = ?", f);
  }
  tx.Commit();
  std::uint32_t parent = it->second.parent;
  auto& kids = folders_[parent].children;
  kids.erase(std::remove(kids.begin(), kids.end(), number), kids.end());
  for (auto f : tree) {
    for (auto item : folders_[f].items) items_.erase(item);
    folders_.erase(f);
  }
}

void Store::BindItem(sqlite3_stmt* st, const ItemRecord& r) {
  // Columns in the order of the statements below: folder, seq, kind,
  // message_class, unread, created, modified, submitted, props, number.
  sqlite3_bind_int64(st, 1, r.folder);
  sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(r.seq));
  sqlite3_bind_int(st, 3, r.kind == ItemKind::kContact ? 1 : 0);
  sqlite3_bind_text(st, 4, r.messageClass.data(), static_cast<int>(r.messageClass.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 5, r.unread ? 1 : 0);
  sqlite3_bind_int64(st, 6, r.created.SecondsSinceZero());
  sqlite3_bind_int64(st, 7, r.modified.SecondsSinceZero());
  sqlite3_bind_int(st, 8, r.submitted ? 1 : 0);
  std::string json = PropsToJson(r);
  sqlite3_bind_text(st, 9, json.data(), static_cast<int>(json.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 10, r.number);
}

void Store::WriteAttachments(const ItemRecord& r) {
  ExecWithNumber("DELETE FROM attachments WHERE item = ?", r.number);
  int idx = 0;
  for (const auto& a : r.attachments) {
    sqlite3_stmt* st = Prepare("INSERT INTO attachments(item, idx, name, data) VALUES(?, ?, ?, ?)");
    sqlite3_bind_int64(st, 1, r.number);
    sqlite3_bind_int(st, 2, idx++);
    sqlite3_bind_text(st, 3, a.name.data(), static_cast<int>(a.name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, 4, a.data.empty() ? "" : static_cast<const void*>(a.data.data()),
                      static_cast<int>(a.data.size()), SQLITE_TRANSIENT);
    Step(st, db_, path_);
  }
}

std::uint32_t Store::InsertItem(ItemRecord record) {
  auto folder = folders_.find(record.folder);
  if (folder == folders_.end()) throw HostError(kNotFoundMessage);
  Tx tx(*this);
  record.number = NextNumber();
  record.seq = nextSeq_;
  sqlite3_stmt* st = Prepare(
      "INSERT INTO items(folder, seq, kind, message_class, unread, created, modified, submitted, props, number) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  BindItem(st, record);
  Step(st, db_, path_);
  if (!record.attachments.empty()) WriteAttachments(record);
  tx.Commit();
  ++nextNumber_;
  ++nextSeq_;
  std::uint32_t n = record.number;
  folder->second.items.push_back(n);
  ++folder->second.version;
  items_.emplace(n, std::move(record));
  return n;
}

void Store::UpdateItem(const ItemRecord& record, bool attachments) {
  auto it = items_.find(record.number);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  ItemRecord copy = record;
  copy.folder = it->second.folder;
  copy.seq = it->second.seq;
  if (!attachments) copy.attachments = it->second.attachments;
  Tx tx(*this);
  sqlite3_stmt* st = Prepare(
      "UPDATE items SET folder = ?, seq = ?, kind = ?, message_class = ?, unread = ?, created = ?, modified = ?, "
      "submitted = ?, props = ? WHERE number = ?");
  BindItem(st, copy);
  Step(st, db_, path_);
  if (attachments) WriteAttachments(copy);
  tx.Commit();
  it->second = std::move(copy);
  Touch(it->second.folder);
}

void Store::SetUnread(std::uint32_t number, bool unread) {
  auto it = items_.find(number);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  sqlite3_stmt* st = Prepare("UPDATE items SET unread = ? WHERE number = ?");
  sqlite3_bind_int(st, 1, unread ? 1 : 0);
  sqlite3_bind_int64(st, 2, number);
  Step(st, db_, path_);
  it->second.unread = unread;
  auto folder = folders_.find(it->second.folder);
  if (folder != folders_.end()) ++folder->second.unreadVersion;
}

void Store::MoveItem(std::uint32_t number, std::uint32_t folder) {
  auto it = items_.find(number);
  auto target = folders_.find(folder);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  if (target == folders_.end()) throw HostError(kNotFoundMessage);
  std::uint64_t seq = nextSeq_;
  sqlite3_stmt* st = Prepare("UPDATE items SET folder = ?, seq = ? WHERE number = ?");
  sqlite3_bind_int64(st, 1, folder);
  sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(seq));
  sqlite3_bind_int64(st, 3, number);
  Step(st, db_, path_);
  ++nextSeq_;
  auto& from = folders_[it->second.folder];
  from.items.erase(std::remove(from.items.begin(), from.items.end(), number), from.items.end());
  ++from.version;
  target->second.items.push_back(number);
  ++target->second.version;
  it->second.folder = folder;
  it->second.seq = seq;
}

void Store::DeleteItem(std::uint32_t number) {
  auto it = items_.find(number);
  if (it == items_.end()) throw HostError(kMovedOrDeletedMessage);
  Tx tx(*this);
  ExecWithNumber("DELETE FROM attachments WHERE item = ?", number);
  ExecWithNumber("DELETE FROM items WHERE number = ?", number);
  tx.Commit();
  auto& from = folders_[it->second.folder];
  from.items.erase(std::remove(from.items.begin(), from.items.end(), number), from.items.end());
  ++from.version;
  items_.erase(it);
}

}  // namespace host::detail

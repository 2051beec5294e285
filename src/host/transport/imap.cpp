// Receiving from an IMAP INBOX with libcurl. One easy handle serves every
// request of the mailbox, so that the connection and its login are reused.
//
// libcurl speaks the protocol; what is read here are only the untagged lines
// it hands back for custom requests (STATUS, UID SEARCH, UID FETCH of sizes).
// Requests that work inside INBOX name it with its UIDVALIDITY in the URL
// ("/INBOX;UIDVALIDITY=v"): libcurl selects the mailbox itself and refuses to
// go on when the UIDVALIDITY is no longer that one, so a UID is never taken
// for another message's.
//
// A message is downloaded with the URL form ";UID=n", which the server may
// take as reading it (\Seen); what is taken is decided by the UIDs recorded
// in the state file, never by flags.
#include "host/transport/imap.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "host/transport/mime.hpp"
#include "platform/sqlite.hpp"
#include "platform/text.hpp"

namespace host {
namespace fs = std::filesystem;

namespace {

using platform::sqlite::Connection;
using platform::sqlite::Statement;
using platform::sqlite::Transaction;

// A message larger than this is not downloaded (as in the post office).
constexpr std::uint64_t kMaxMessageBytes = 512ull * 1024 * 1024;
// Message-IDs looked for in one search after a UIDVALIDITY change.
constexpr std::size_t kIdsPerSearch = 40;

struct MessageKey {
  std::uint64_t validity = 0;
  std::uint64_t uid = 0;
};

// A number of at most 32 bits (UIDs, UIDVALIDITY, sizes), not 0 unless `zero`.
std::optional<std::uint64_t> Number(std::string_view s, bool zero = false) {
  std::uint64_t v = 0;
  if (s.empty() || s.size() > 10) return std::nullopt;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || (v == 0 && !zero) || v > 0xFFFFFFFFull) return std::nullopt;
  return v;
}

// "<uidvalidity>.<uid>"; nullopt for anything else.
std::optional<MessageKey> ParseKey(std::string_view key) {
  const auto dot = key.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  auto v = Number(key.substr(0, dot));
  auto u = Number(key.substr(dot + 1));
  if (!v || !u) return std::nullopt;
  return MessageKey{*v, *u};
}

std::string KeyText(std::uint64_t validity, std::uint64_t uid) {
  return std::to_string(validity) + "." + std::to_string(uid);
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  while (!line.empty()) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    auto end = line.find(' ');
    if (!line.empty()) words.push_back(line.substr(0, end));
    if (end == std::string_view::npos) break;
    line.remove_prefix(end);
  }
  return words;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::toupper(x) == std::toupper(y); });
}

std::string_view StripParens(std::string_view w) {
  while (!w.empty() && w.front() == '(') w.remove_prefix(1);
  while (!w.empty() && w.back() == ')') w.remove_suffix(1);
  return w;
}

// The number that follows `name` in an untagged line "* <what> ..."; the
// line must start with "* " and have `what` as its first or second word.
std::optional<std::uint64_t> ItemAfter(std::string_view line, std::string_view what, std::string_view name,
                                       bool zero = false) {
  auto words = Words(line);
  if (words.size() < 3 || words[0] != "*") return std::nullopt;
  if (!SameWord(words[1], what) && !SameWord(words[2], what)) return std::nullopt;
  for (std::size_t i = 1; i + 1 < words.size(); ++i) {
    if (SameWord(StripParens(words[i]), name)) return Number(StripParens(words[i + 1]), zero);
  }
  return std::nullopt;
}

// The UIDs of "* SEARCH" lines.
std::set<std::uint64_t> SearchResult(std::string_view text) {
  std::set<std::uint64_t> uids;
  for (auto line : Lines(text)) {
    auto words = Words(line);
    if (words.size() < 2 || words[0] != "*" || !SameWord(words[1], "SEARCH")) continue;
    for (std::size_t i = 2; i < words.size(); ++i) {
      if (auto n = Number(words[i])) uids.insert(*n);
    }
  }
  return uids;
}

// A UID set in IMAP's compact form ("1:3,7").
std::string UidSet(const std::set<std::uint64_t>& uids) {
  std::string out;
  for (auto it = uids.begin(); it != uids.end();) {
    std::uint64_t first = *it, last = *it;
    for (++it; it != uids.end() && *it == last + 1; ++it) last = *it;
    if (!out.empty()) out += ',';
    out += std::to_string(first);
    if (last != first) out += ":" + std::to_string(last);
  }
  return out;
}

// An IMAP quoted string; nullopt when the text cannot be one (control
// characters, 8-bit bytes).
std::optional<std::string> Quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F) return std::nullopt;
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// libcurl URL-decodes custom requests: a literal % is written as %25.
std::string CustomRequest(std::string_view command) {
  std::string out;
  for (char c : command) out += c == '%' ? std::string("%25") : std::string(1, c);
  return out;
}

}  // namespace

struct ImapMailbox::Impl {
  MailServer server;
  AccountSettings settings;
  std::string account;
  std::shared_ptr<PasswordSource> password;
  fs::path stateFile;
  TransferProgress progress;

  class Fetched;

  CURL* curl = nullptr;
  Connection db;
  // Set when the server refused the last custom request.
  bool refused = false;
  // The first tagged NO or BAD answer of the request: the server's own words
  // for a refusal (later lines, such as the answer to LOGOUT, say nothing
  // about it).
  std::string serverLine;
  std::string body;
  std::uint64_t limit = 0;
  bool tooLarge = false;
  char errorText[CURL_ERROR_SIZE] = {};

  ~Impl() {
    if (curl) curl_easy_cleanup(curl);
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw TransportError("Account " + account + ", receiving from " + server.Url() + ": " + platform::OneLine(why));
  }

  std::string User() const { return settings.user.empty() ? account : settings.user; }

  std::string InboxPath(std::uint64_t validity) const { return "/INBOX;UIDVALIDITY=" + std::to_string(validity); }

  static size_t Write(char* data, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const size_t n = size * count;
    if (impl->limit != 0 && impl->body.size() + n > impl->limit) {
      impl->tooLarge = true;
      return 0;
    }
    impl->body.append(data, n);
    return n;
  }

  static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    // Only what the server says is looked at; what goes out holds the password.
    if (type != CURLINFO_HEADER_IN) return 0;
    auto* impl = static_cast<Impl*>(self);
    for (auto line : Lines(std::string_view(data, size))) {
      if (!impl->serverLine.empty() || line.empty() || line.substr(0, 2) == "* " || line.front() == '+') continue;
      const auto space = line.find(' ');
      if (space == std::string_view::npos) continue;
      const std::string_view status = line.substr(space + 1, 4);
      if (status == "NO" || status.substr(0, 3) == "NO " || status == "BAD" || status.substr(0, 4) == "BAD ") {
        impl->serverLine = platform::OneLine(line);
      }
    }
    return 0;
  }

  void Setup() {
    if (curl) return;
    curl = curl_easy_init();
    if (!curl) Fail("libcurl could not start");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stops answering ends the transfer after two minutes.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 120L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Impl::Write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Impl::Debug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    if (!server.implicitTls) {
      // STARTTLS, required except on loopback, where a test server may have no TLS.
      curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(server.loopback ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    }
    if (!settings.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, settings.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  }

  // Runs one request: `path` after the server's URL, `command` a custom
  // request (none: the URL says what to fetch). Returns what the server sent
  // (the untagged lines of a custom request, the message of a fetch; nothing
  // when it is larger than `maxBytes`, see tooLarge). A refused custom
  // request throws with `refusal` as the reason.
  std::string Perform(const std::string& path, const std::string& command, const std::string& refusal,
                      std::uint64_t maxBytes = 0) {
    Setup();
    const std::string& secret = password->Get();
    const std::string url = server.Url() + path;
    const std::string custom = CustomRequest(command);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, command.empty() ? nullptr : custom.c_str());
    const std::string user = User();
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, secret.c_str());
    body.clear();
    serverLine.clear();
    limit = maxBytes;
    tooLarge = false;
    refused = false;
    errorText[0] = '\0';
    const CURLcode rc = curl_easy_perform(curl);
    if (rc == CURLE_OK) return std::move(body);
    if (rc == CURLE_WRITE_ERROR && tooLarge) return {};
    const std::string detail = errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(rc));
    const std::string said = serverLine.empty() ? std::string() : " (the server said: " + serverLine + ")";
    switch (rc) {
      case CURLE_LOGIN_DENIED:
        password->Forget();
        Fail("the server refused the user name " + user + " or its password" + said);
      case CURLE_COULDNT_RESOLVE_HOST:
        Fail("unknown host " + server.host);
      case CURLE_COULDNT_CONNECT:
        Fail("the server cannot be reached: " + detail);
      case CURLE_OPERATION_TIMEDOUT:
        Fail("the server did not answer in time: " + detail);
      case CURLE_PEER_FAILED_VERIFICATION:
        Fail("the server's certificate is not trusted: " + detail);
      case CURLE_SSL_CACERT_BADFILE:
        Fail("the certificates to trust cannot be read from " + settings.caFile + ": " + detail);
      case CURLE_USE_SSL_FAILED:
        Fail("the server refused TLS (STARTTLS): " + detail);
      case CURLE_SSL_CONNECT_ERROR:
        Fail("TLS was refused: " + detail);
      case CURLE_REMOTE_FILE_NOT_FOUND:
        if (detail.find("UIDVALIDITY") != std::string::npos) {
          Fail("the mailbox INBOX was renumbered meanwhile (its UIDVALIDITY changed); the next send/receive looks "
               "at it again");
        }
        Fail("the mailbox INBOX cannot be opened" + said);
      case CURLE_QUOTE_ERROR:
        refused = true;
        Fail(refusal + said);
      default:
        Fail(detail + said);
    }
  }

  // The current UIDVALIDITY of INBOX.
  std::uint64_t Validity() {
    const std::string text = Perform("/", "STATUS INBOX (UIDVALIDITY)", "there is no mailbox INBOX");
    for (auto line : Lines(text)) {
      if (auto v = ItemAfter(line, "STATUS", "UIDVALIDITY")) return *v;
    }
    Fail("the server did not tell the UIDVALIDITY of INBOX");
  }

  std::set<std::uint64_t> Search(std::uint64_t validity, const std::string& criteria) {
    return SearchResult(Perform(InboxPath(validity), "UID SEARCH " + criteria, "the server refused a search"));
  }

  // ---- the state file ----

  [[noreturn]] void StateFailed(const std::exception& e) const {
    Fail("the state file " + stateFile.string() + " failed: " + e.what());
  }

  void OpenState() {
    if (db.IsOpen()) return;
    try {
      std::error_code ec;
      if (stateFile.has_parent_path()) fs::create_directories(stateFile.parent_path(), ec);
      Connection c(stateFile, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      c.SetBusyTimeout(5000);
      c.Exec("PRAGMA journal_mode=WAL");
      // FULL: the log is synced at every commit, so a UID recorded as taken
      // stays recorded through a power loss too. The record is written after
      // the message is stored and before the store forgets the message's
      // key (sendreceive.cpp); lost after that, the message would be fetched
      // and stored a second time. One sync per fetched message is little
      // next to its download.
      c.Exec("PRAGMA synchronous=FULL");
      Transaction tx(c);
      c.Exec(
          "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value);"
          "CREATE TABLE IF NOT EXISTS taken(uid INTEGER PRIMARY KEY);"
          "CREATE TABLE IF NOT EXISTS message_ids(id TEXT PRIMARY KEY)");
      tx.Commit();
      db = std::move(c);
    } catch (const platform::sqlite::Error& e) {
      StateFailed(e);
    }
  }

  // Which mailbox the recorded UIDs belong to: the server, the login and
  // the UIDVALIDITY.
  std::string Identity(std::uint64_t validity) const {
    return server.Url() + " " + User() + " " + std::to_string(validity);
  }

  std::string StoredIdentity() {
    Statement st(db, "SELECT value FROM meta WHERE key = 'mailbox'");
    return st.Step() ? st.ColumnText(0) : std::string();
  }

  std::set<std::uint64_t> TakenUids() {
    std::set<std::uint64_t> uids;
    Statement st(db, "SELECT uid FROM taken");
    while (st.Step()) uids.insert(static_cast<std::uint64_t>(st.ColumnInt64(0)));
    return uids;
  }

  // After a UIDVALIDITY change (or on another server or login): the UIDs of
  // the messages whose Message-ID was taken before.
  std::set<std::uint64_t> KnownByMessageId(std::uint64_t validity, const std::set<std::uint64_t>& present) {
    std::vector<std::string> terms;
    {
      Statement st(db, "SELECT id FROM message_ids ORDER BY id");
      while (st.Step()) {
        if (auto q = Quoted("<" + st.ColumnText(0) + ">")) terms.push_back("HEADER Message-ID " + *q);
      }
    }
    std::set<std::uint64_t> known;
    if (present.empty()) return known;
    for (std::size_t i = 0; i < terms.size(); i += kIdsPerSearch) {
      const std::size_t n = std::min(kIdsPerSearch, terms.size() - i);
      std::string criteria;
      for (std::size_t k = 0; k + 1 < n; ++k) criteria += "OR " + terms[i + k] + " ";
      criteria += terms[i + n - 1];
      for (auto uid : Search(validity, criteria)) {
        if (present.count(uid)) known.insert(uid);
      }
    }
    return known;
  }

  void Acknowledge(const MessageKey& key, const std::string& messageId) {
    OpenState();
    try {
      Transaction tx(db);
      if (StoredIdentity() == Identity(key.validity)) {
        Statement st(db, "INSERT OR IGNORE INTO taken(uid) VALUES(?)");
        st.BindInt64(1, static_cast<std::int64_t>(key.uid)).Run();
      }
      if (!messageId.empty()) {
        Statement st(db, "INSERT OR IGNORE INTO message_ids(id) VALUES(?)");
        st.BindText(1, messageId).Run();
      }
      tx.Commit();
    } catch (const platform::sqlite::Error& e) {
      StateFailed(e);
    }
  }
};

class ImapMailbox::Impl::Fetched final : public FetchedMail {
 public:
  Fetched(ImapMailbox::Impl& impl, std::uint64_t validity, std::vector<std::string> keys)
      : impl_(impl), validity_(validity), keys_(std::move(keys)) {}

  const std::vector<std::string>& Keys() const override { return keys_; }
  const std::vector<std::string>& Problems() const override { return problems_; }

  ArrivedMessage Read(const std::string& key) override {
    auto k = Claimed(key);
    const std::string inbox = impl_.InboxPath(validity_);
    const std::string message = inbox + "/;UID=" + std::to_string(k.uid);
    ArrivedMessage out;
    out.key = key;
    std::optional<std::uint64_t> size;
    const std::string sizes = impl_.Perform(inbox, "UID FETCH " + std::to_string(k.uid) + " (RFC822.SIZE)",
                                            "the server refused to tell a message's size");
    for (auto line : Lines(sizes)) {
      if (ItemAfter(line, "FETCH", "UID") == k.uid) size = ItemAfter(line, "FETCH", "RFC822.SIZE", true);
    }
    if (!size) impl_.Fail("the message " + key + " is no longer in INBOX");
    std::string raw;
    if (*size <= kMaxMessageBytes) raw = impl_.Perform(message, "", "", kMaxMessageBytes);
    if (*size > kMaxMessageBytes || impl_.tooLarge) {
      out.unreadable = "the message is too large (" + std::to_string(*size) + " bytes)";
      out.location = impl_.server.Url() + message;
      // Its Message-ID is still worth keeping (see Acknowledge).
      try {
        const std::string head =
            impl_.Perform(message + ";SECTION=HEADER.FIELDS%20(MESSAGE-ID)", "", "", 64 * 1024);
        ids_[key] = ReadMime(head).messageId;
      } catch (const MimeError&) {
      }
    } else if (raw.empty() && *size > 0) {
      impl_.Fail("the message " + key + " is no longer in INBOX");
    } else {
      try {
        out.message = ReadMime(raw);
        ids_[key] = out.message.messageId;
      } catch (const std::exception& e) {
        out.unreadable = e.what();
        out.rawText = std::move(raw);
        out.location = impl_.server.Url() + message;
      }
    }
    read_.insert(key);
    if (impl_.progress) impl_.progress("Fetching", read_.size(), keys_.size());
    return out;
  }

  // Records the UID, and the Message-ID when the message was read, for good.
  void Acknowledge(const std::string& key) override {
    auto k = Claimed(key);
    auto id = ids_.find(key);
    impl_.Acknowledge(k, id == ids_.end() ? std::string() : id->second);
  }

 private:
  MessageKey Claimed(const std::string& key) const {
    auto k = ParseKey(key);
    if (!k || std::find(keys_.begin(), keys_.end(), key) == keys_.end()) {
      throw TransportError("No such message: " + key);
    }
    return *k;
  }

  ImapMailbox::Impl& impl_;
  std::uint64_t validity_;
  std::vector<std::string> keys_, problems_;
  std::map<std::string, std::string> ids_;
  std::set<std::string> read_;
};

ImapMailbox::ImapMailbox(MailServer server, AccountSettings settings, std::string account,
                         std::shared_ptr<PasswordSource> password, std::filesystem::path stateFile,
                         TransferProgress progress)
    : impl_(std::make_unique<Impl>()) {
  impl_->server = std::move(server);
  impl_->settings = std::move(settings);
  impl_->account = std::move(account);
  impl_->password = std::move(password);
  impl_->stateFile = std::move(stateFile);
  impl_->progress = std::move(progress);
}

ImapMailbox::~ImapMailbox() = default;

std::unique_ptr<FetchedMail> ImapMailbox::Fetch() {
  Impl& m = *impl_;
  m.OpenState();
  const std::uint64_t validity = m.Validity();
  const std::set<std::uint64_t> present = m.Search(validity, "ALL");
  std::set<std::uint64_t> taken;
  try {
    const std::string identity = m.Identity(validity);
    if (m.StoredIdentity() == identity) {
      taken = m.TakenUids();
    } else {
      // Renumbered (or another mailbox): the recorded UIDs mean nothing now.
      // What was taken before is known by its Message-ID and taken at once.
      taken = m.KnownByMessageId(validity, present);
      Transaction tx(m.db);
      m.db.Exec("DELETE FROM taken");
      Statement meta(m.db,
                     "INSERT INTO meta(key, value) VALUES('mailbox', ?) "
                     "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
      meta.BindText(1, identity).Run();
      Statement st(m.db, "INSERT OR IGNORE INTO taken(uid) VALUES(?)");
      for (auto uid : taken) {
        st.Reset();
        st.BindInt64(1, static_cast<std::int64_t>(uid)).Run();
      }
      tx.Commit();
    }
  } catch (const platform::sqlite::Error& e) {
    m.StateFailed(e);
  }
  std::vector<std::string> keys;
  for (auto uid : present) {
    if (!taken.count(uid)) keys.push_back(KeyText(validity, uid));
  }
  if (m.progress) m.progress("Fetching", 0, keys.size());
  return std::make_unique<Impl::Fetched>(m, validity, std::move(keys));
}

std::vector<std::string> ImapMailbox::Remove(const std::vector<std::string>& keys) {
  Impl& m = *impl_;
  std::vector<std::string> gone;
  if (keys.empty()) return gone;
  const std::uint64_t validity = m.Validity();
  std::set<std::uint64_t> uids;
  for (const auto& key : keys) {
    auto k = ParseKey(key);
    // A key of another numbering, or none of ours, names no message here.
    if (k && k->validity == validity) {
      uids.insert(k->uid);
    } else {
      gone.push_back(key);
    }
  }
  if (uids.empty()) return gone;
  const std::string set = UidSet(uids);
  const std::string inbox = m.InboxPath(validity);
  m.Perform(inbox, "UID STORE " + set + " +FLAGS.SILENT (\\Deleted)", "the server refused to flag messages deleted");
  try {
    m.Perform(inbox, "UID EXPUNGE " + set, "the server refused UID EXPUNGE");
  } catch (const TransportError&) {
    if (!m.refused) throw;
    // A server without UIDPLUS: a plain EXPUNGE (which also removes what
    // other clients flagged deleted).
    m.Perform(inbox, "EXPUNGE", "the server refused to expunge");
  }
  const std::set<std::uint64_t> left = m.Search(validity, "UID " + set);
  for (const auto& key : keys) {
    auto k = ParseKey(key);
    if (k && k->validity == validity && !left.count(k->uid)) gone.push_back(key);
  }
  return gone;
}

}  // namespace host

#include "host/transport/post_office.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "host/transport/mime.hpp"
#include "platform/text.hpp"
#include "platform/memory.hpp"

namespace host {
namespace fs = std::filesystem;

namespace {

// Longer mailbox names are shortened and made unique by a hash.
constexpr size_t kMaxMailboxName = 200;
constexpr size_t kShortenedPrefix = 160;
// A message file larger than this is not read into memory.
constexpr std::uint64_t kMaxMessageBytes = 512ull * 1024 * 1024;

std::atomic<unsigned long> g_deliveryCounter{0};

std::string TrimWhite(std::string_view s) {
  auto white = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && white(s.front())) s.remove_prefix(1);
  while (!s.empty() && white(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string Hex64(std::uint64_t v) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i) {
    out[static_cast<size_t>(i)] = kDigits[v & 0xF];
    v >>= 4;
  }
  return out;
}

std::uint64_t Fnv1a64(std::string_view s) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The address a mailbox folder name stands for; the name itself when it was
// shortened or is not one of ours.
std::string DecodeMailboxName(const std::string& name) {
  if (name.find('~') != std::string::npos) return name;
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      out += name[i];
      continue;
    }
    if (i + 2 >= name.size()) return name;
    int hi = HexValue(name[i + 1]);
    int lo = HexValue(name[i + 2]);
    if (hi < 0 || lo < 0) return name;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

// The host name part of Maildir file names, with "/" and ":" written the
// customary way and anything unusual replaced.
const std::string& HostNameForFiles() {
  static const std::string name = [] {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return std::string("localhost");
    std::string out;
    for (const char* p = buf; *p != '\0'; ++p) {
      char c = *p;
      if (c == '/') {
        out += "\\057";
      } else if (c == ':') {
        out += "\\072";
      } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                 c == '.') {
        out += c;
      } else {
        out += '_';
      }
    }
    return out;
  }();
  return name;
}

std::string NewDeliveryName() {
  return std::to_string(static_cast<long long>(std::time(nullptr))) + "." + std::to_string(getpid()) + "_" +
         std::to_string(g_deliveryCounter.fetch_add(1)) + "." + HostNameForFiles();
}

std::string ErrnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

// Renames without replacing an existing file; falls back to a plain rename on
// file systems that cannot refuse to replace.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == EINVAL || errno == ENOSYS) {
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
      errno = EEXIST;
      return -1;
    }
    return std::rename(from.c_str(), to.c_str());
  }
  return -1;
}

// Flushes a folder's entries (renames into it) to disk; false with errno set
// when that fails.
bool SyncDirectory(const fs::path& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  int err = errno;
  close(fd);
  errno = err;
  return ok;
}

// A mailbox folder (or one of its tmp/, new/, cur/) that is there as
// something other than a folder: mail can neither be put in nor taken out.
void RequireFolder(const fs::path& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (fs::exists(st) && !fs::is_directory(st)) {
    throw TransportError("The mailbox folder " + path.string() + " is not a folder.");
  }
}

void EnsureMaildir(const fs::path& dir) {
  RequireFolder(dir);
  for (const char* sub : {"tmp", "new", "cur"}) {
    RequireFolder(dir / sub);
    std::error_code ec;
    fs::create_directories(dir / sub, ec);
    if (ec) throw TransportError("Cannot create the mailbox folder " + (dir / sub).string() + ": " + ec.message());
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Delivers `text` into the Maildir `dir` the standard way: tmp/, fsync, new/.
void DeliverTo(const fs::path& dir, std::string_view text) {
  EnsureMaildir(dir);
  fs::path tmpPath;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmpPath = dir / "tmp" / NewDeliveryName();
    fd = open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST) {
      throw TransportError("Cannot create " + tmpPath.string() + ": " + ErrnoText(errno));
    }
  }
  if (fd < 0) throw TransportError("Cannot find a free file name in " + (dir / "tmp").string());
  bool ok = WriteAll(fd, text) && fsync(fd) == 0;
  int err = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    unlink(tmpPath.c_str());
    throw TransportError("Cannot write " + tmpPath.string() + ": " + ErrnoText(err));
  }
  fs::path newPath = dir / "new" / tmpPath.filename();
  for (int attempt = 0; RenameNoReplace(tmpPath, newPath) != 0; ++attempt) {
    err = errno;
    if (err != EEXIST || attempt >= 100) {
      unlink(tmpPath.c_str());
      throw TransportError("Cannot move " + tmpPath.string() + " into new/: " + ErrnoText(err));
    }
    newPath = dir / "new" / NewDeliveryName();
  }
  SyncDirectory(dir / "new");
}

// Orders names with digit runs compared as numbers ("1.5_9" before "1.5_10").
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      size_t si = i, sj = j;
      while (si < a.size() && a[si] == '0') ++si;
      while (sj < b.size() && b[sj] == '0') ++sj;
      size_t ei = si, ej = sj;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;
}

// Reads a claimed message file; false with `error` set when it cannot be
// read, and `lasting` set when it never will be (not a regular file, too
// large).
bool ReadMessageFile(const fs::path& path, std::string& out, std::string& error, bool& lasting) {
  lasting = false;
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    lasting = errno == ELOOP;  // a symbolic link
    error = lasting ? "not a regular file" : ErrnoText(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    error = ErrnoText(errno);
    close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    error = "not a regular file";
    lasting = true;
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxMessageBytes) {
    close(fd);
    error = "the message is too large (" + std::to_string(st.st_size) + " bytes)";
    lasting = true;
    return false;
  }
  out.clear();
  platform::ReserveBytes(out, static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > kMaxMessageBytes) {
      error = "the message is too large";
      lasting = true;
      close(fd);
      return false;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

}  // namespace

PostOfficeTransport::PostOfficeTransport(std::filesystem::path root) : root_(std::move(root)) {}

std::string PostOfficeTransport::MailboxName(std::string_view address) {
  std::string folded = platform::FoldCase(TrimWhite(address));
  if (folded.empty()) throw std::invalid_argument("A mailbox address is empty.");
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < folded.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(folded[i]);
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '@' || c == '_' || c == '+' || c == '-' ||
                 (c == '.' && i > 0);
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  if (out.size() > kMaxMailboxName) {
    out = out.substr(0, kShortenedPrefix) + "~" + Hex64(Fnv1a64(out));
  }
  return out;
}

std::filesystem::path PostOfficeTransport::MailboxPath(std::string_view address) const {
  return root_ / MailboxName(address);
}

void PostOfficeTransport::Send(const MailMessage& message, const std::vector<std::string>& envelopeRecipients) {
  // Every recipient is checked before anything goes out, so that a refused
  // message reached nobody.
  std::vector<std::pair<std::string, std::string>> targets;  // address, mailbox name
  std::set<std::string> names;
  std::vector<std::string> invalid;
  for (const std::string& recipient : envelopeRecipients) {
    std::string address = TrimWhite(recipient);
    if (address.empty()) continue;
    if (!IsMailAddress(address)) {
      invalid.push_back(address);
      continue;
    }
    std::string name = MailboxName(address);
    if (names.insert(name).second) targets.emplace_back(std::move(address), std::move(name));
  }
  if (!invalid.empty()) {
    std::string list;
    for (const std::string& a : invalid) list += (list.empty() ? "\"" : "\", \"") + a;
    throw TransportError("The message was not sent: not an e-mail address: " + list + "\"");
  }
  if (targets.empty()) throw TransportError("The message has no recipients.");

  std::string text = WriteMime(message, MimeNewline::Lf);
  std::vector<std::string> delivered, failed;
  std::string firstError;
  for (const auto& [address, name] : targets) {
    try {
      DeliverTo(root_ / name, text);
      delivered.push_back(address);
    } catch (const std::exception& e) {
      failed.push_back(address);
      if (firstError.empty()) firstError = e.what();
    }
  }
  if (!failed.empty()) {
    std::string list;
    for (const std::string& a : failed) list += (list.empty() ? "" : ", ") + a;
    throw TransportError("The message could not be delivered to " + list + ": " + firstError, std::move(delivered));
  }
}

namespace {

constexpr const char* kClaimedInfo = ":2,";
constexpr const char* kDoneInfo = ":2,S";

// Holds the fetch lock of one mailbox and the messages claimed under it.
class PostOfficeFetch final : public FetchedMail {
 public:
  PostOfficeFetch(fs::path dir, int lockFd, std::vector<std::string> keys, std::vector<std::string> problems)
      : dir_(std::move(dir)), lockFd_(lockFd), keys_(std::move(keys)), problems_(std::move(problems)) {}
  ~PostOfficeFetch() override {
    if (lockFd_ >= 0) close(lockFd_);  // closing releases the flock
  }
  PostOfficeFetch(const PostOfficeFetch&) = delete;
  PostOfficeFetch& operator=(const PostOfficeFetch&) = delete;

  const std::vector<std::string>& Keys() const override { return keys_; }
  const std::vector<std::string>& Problems() const override { return problems_; }

  ArrivedMessage Read(const std::string& key) override {
    fs::path path = Claimed(key);
    ArrivedMessage out;
    out.key = key;
    std::string raw, error;
    bool lasting = false;
    if (!ReadMessageFile(path, raw, error, lasting)) {
      if (!lasting) throw TransportError("Cannot read " + path.string() + ": " + error);
      out.unreadable = error;
      out.location = path.string();
      return out;
    }
    try {
      out.message = ReadMime(raw);
    } catch (const std::exception& e) {
      out.unreadable = e.what();
      out.rawText = std::move(raw);
      out.location = path.string();
    }
    return out;
  }

  void Acknowledge(const std::string& key) override {
    fs::path from = Claimed(key);
    fs::path to = dir_ / "cur" / (key + kDoneInfo);
    if (RenameNoReplace(from, to) != 0) {
      int err = errno;
      struct stat st;
      bool done = err == ENOENT && lstat(to.c_str(), &st) == 0;
      if (!done) throw TransportError("Cannot mark " + from.string() + " as received: " + ErrnoText(err));
    }
    if (!SyncDirectory(dir_ / "cur")) {
      throw TransportError("Cannot flush " + (dir_ / "cur").string() + ": " + ErrnoText(errno));
    }
  }

 private:
  fs::path Claimed(const std::string& key) const {
    if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) {
      throw TransportError("No such message in this fetch: " + key);
    }
    return dir_ / "cur" / (key + kClaimedInfo);
  }

  fs::path dir_;
  int lockFd_;
  std::vector<std::string> keys_;
  std::vector<std::string> problems_;
};

// Takes the fetch lock of the mailbox folder, waiting up to `wait`.
int LockMailbox(const fs::path& dir, std::chrono::milliseconds wait) {
  fs::path path = dir / PostOfficeTransport::kLockFile;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) throw TransportError("Cannot open " + path.string() + ": " + ErrnoText(errno));
  auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    int err = errno;
    if (err == EINTR) continue;
    if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      close(fd);
      if (err == EWOULDBLOCK) {
        throw TransportError("The mailbox " + dir.string() + " is being read by another program; try again later.");
      }
      throw TransportError("Cannot lock " + path.string() + ": " + ErrnoText(err));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct Waiting {
  std::int64_t mtimeNs;
  std::string key;
};

// The file beside new/ and cur/ that lists the messages already reported as
// cut short, one "new/NAME" or "cur/NAME" a line. Only written under the
// fetch lock.
constexpr const char* kRefusedFile = ".refused";

// Why the message file is cut short (see MimeCutShort); nothing when it is
// whole or cannot be read now (reading it reports that).
std::optional<std::string> CutShort(const fs::path& path) {
  std::string raw, error;
  bool lasting = false;
  if (!ReadMessageFile(path, raw, error, lasting)) return std::nullopt;
  std::string why = MimeCutShort(raw);
  if (why.empty()) return std::nullopt;
  return why;
}

std::set<std::string> ReadRefused(const fs::path& dir) {
  std::set<std::string> out;
  std::ifstream in(dir / kRefusedFile);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) out.insert(line);
  }
  return out;
}

// Reports each cut-short message once: those not in the refused list yet
// become problems, and the list is replaced by the ones refused now (a
// message that was taken away or mended leaves it). The list is written
// under another name and renamed over the old one, so that it is never
// half-written; should that fail, the messages are reported again next time.
void NoteRefused(const fs::path& dir, const std::map<std::string, std::string>& refused,
                 std::vector<std::string>& problems) {
  const std::set<std::string> known = ReadRefused(dir);
  std::set<std::string> names;
  for (const auto& [name, why] : refused) {
    names.insert(name);
    if (known.count(name)) continue;
    problems.push_back("The message " + (dir / name).string() + " was cut short (" + why +
                       "); it is left where it is and nothing of it is received.");
  }
  if (known == names) return;
  const fs::path path = dir / kRefusedFile;
  std::error_code ec;
  if (refused.empty()) {
    fs::remove(path, ec);
    return;
  }
  const fs::path temp = dir / (std::string(kRefusedFile) + ".new");
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const std::string& name : names) out << name << "\n";
    if (!out.flush()) return;
  }
  fs::rename(temp, path, ec);
}

std::int64_t MtimeNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

std::unique_ptr<FetchedMail> PostOfficeTransport::Fetch(const std::string& mailboxAddress) {
  if (TrimWhite(mailboxAddress).empty()) return std::make_unique<NoMail>();
  fs::path dir = MailboxPath(mailboxAddress);
  std::error_code ec;
  RequireFolder(dir);
  RequireFolder(dir / "new");
  if (!fs::is_directory(dir / "new", ec)) return std::make_unique<NoMail>();
  EnsureMaildir(dir);
  int lockFd = LockMailbox(dir, lockWait_);
  std::vector<std::string> problems;
  // From here on the lock belongs to the result (or is released on failure).
  auto fetch = [&]() -> std::vector<std::string> {
    std::vector<Waiting> claimed;
    // The unique names in cur/, whatever their info: a new claim takes none
    // of them, so that a key names one message only.
    std::set<std::string> keys;
    // Messages that were cut short: left where they are, out of the fetch
    // (by their place in the mailbox, "new/NAME" or "cur/NAME").
    std::map<std::string, std::string> refused;
    // Claims left by a fetch that did not finish.
    for (fs::directory_iterator it(dir / "cur", ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      size_t info = name.find(':');
      keys.insert(name.substr(0, info));
      if (info == std::string::npos || info == 0 || name.compare(info, std::string::npos, kClaimedInfo) != 0) continue;
      struct stat st;
      if (lstat(it->path().c_str(), &st) != 0) continue;
      if (auto why = CutShort(it->path())) {
        refused.emplace("cur/" + name, std::move(*why));
        continue;
      }
      claimed.push_back({MtimeNs(st), name.substr(0, info)});
    }
    if (ec) throw TransportError("Cannot list " + (dir / "cur").string() + ": " + ec.message());

    std::vector<Waiting> waiting;
    for (fs::directory_iterator it(dir / "new", ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      struct stat st;
      if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (auto why = CutShort(it->path())) {
        refused.emplace("new/" + name, std::move(*why));
        continue;
      }
      waiting.push_back({MtimeNs(st), std::move(name)});
    }
    if (ec) throw TransportError("Cannot list " + (dir / "new").string() + ": " + ec.message());

    for (const Waiting& w : waiting) {
      // The rename into cur/ is the claim: whoever renames first owns the message.
      std::string base = w.key.substr(0, w.key.find(':'));
      fs::path from = dir / "new" / w.key;
      std::string key = base;
      bool taken = false;
      int err = 0;
      for (int attempt = 0; attempt < 100; ++attempt) {
        if (keys.count(key) == 0 && RenameNoReplace(from, dir / "cur" / (key + kClaimedInfo)) == 0) {
          taken = true;
          break;
        }
        err = keys.count(key) != 0 ? EEXIST : errno;
        if (err != EEXIST) break;
        key = base + "." + std::to_string(g_deliveryCounter.fetch_add(1));
      }
      if (!taken) {
        // ENOENT: another program took it first. Otherwise it waits in new/
        // for the next fetch.
        if (err != ENOENT) problems.push_back("Cannot claim " + from.string() + ": " + ErrnoText(err));
        continue;
      }
      keys.insert(key);
      claimed.push_back({w.mtimeNs, std::move(key)});
    }
    NoteRefused(dir, refused, problems);
    std::sort(claimed.begin(), claimed.end(), [](const Waiting& a, const Waiting& b) {
      if (a.mtimeNs != b.mtimeNs) return a.mtimeNs < b.mtimeNs;
      return NaturalLess(a.key, b.key);
    });
    std::vector<std::string> out;
    out.reserve(claimed.size());
    for (Waiting& c : claimed) out.push_back(std::move(c.key));
    return out;
  };
  try {
    std::vector<std::string> keys = fetch();
    return std::make_unique<PostOfficeFetch>(dir, lockFd, std::move(keys), std::move(problems));
  } catch (...) {
    close(lockFd);
    throw;
  }
}

std::vector<MailMessage> PostOfficeTransport::TakeAll(const std::string& mailboxAddress) {
  std::vector<MailMessage> out;
  auto fetched = Fetch(mailboxAddress);
  for (const std::string& key : fetched->Keys()) {
    ArrivedMessage m = fetched->Read(key);
    if (!m.unreadable.empty()) continue;
    out.push_back(std::move(m.message));
    fetched->Acknowledge(key);
  }
  return out;
}

std::vector<std::string> PostOfficeTransport::ListMailboxes() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code sub;
    if (!fs::is_directory(it->path() / "new", sub)) continue;
    out.push_back(DecodeMailboxName(name));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace host

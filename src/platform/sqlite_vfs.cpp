// A file layer over SQLite's default one that hands the write-ahead log's
// appends of one commit, and a checkpoint's run of database pages, to the
// kernel in few large writes.
//
// SQLite writes every frame of the log as two writes (its 24-byte header,
// then the page), so a commit that changes eight pages makes sixteen system
// calls. Here the appends to a log file are gathered while they run on from
// each other and written out as one block:
//  - at the end of a commit: right after the page that follows a commit
//    frame's header (a header whose "database size after commit" field is
//    not zero), so a commit is in the kernel's hands before SQLite reports
//    it done, as without this layer;
//  - before anything else touches the file (a read, a write elsewhere, a
//    sync, a size query, a truncation, a lock, shared memory, closing), so
//    that every operation sees the file exactly as SQLite wrote it;
//  - once the gathered block reaches kMaxGathered bytes.
// A database file is written page by page by a checkpoint (and by the
// commit of a rollback journal); runs of adjoining pages are gathered the
// same way and written out by the sync (or unlock, lock, read...) that
// follows, which SQLite always does before the pages are relied on: before
// the log is reset or the journal deleted (every connection here syncs).
// A failed write-out is reported by the operation that caused it, the commit
// included. Other files (journals, temporary files) pass straight through.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/sqlite.hpp"

namespace platform::sqlite {
namespace {

constexpr const char* kVfsName = "plexisync-gathered-wal";
constexpr std::size_t kFrameHeaderSize = 24;
constexpr sqlite3_int64 kWalHeaderSize = 32;
constexpr std::size_t kMaxGathered = std::size_t{1} << 20;

sqlite3_vfs* g_base = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;

struct File {
  sqlite3_file base;  // must come first: SQLite sees this part
  sqlite3_file* real;
  bool wal;       // a write-ahead log
  bool gathers;   // a log or a main database file
  bool commitPageNext;
  sqlite3_int64 start;
  std::string* gathered;
};

File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }

// The default layer writes at most this much per call.
constexpr std::size_t kMaxWrite = std::size_t{64} << 10;

int WriteOut(File* f) {
  if (!f->gathered || f->gathered->empty()) return SQLITE_OK;
  const std::string& g = *f->gathered;
  int rc = SQLITE_OK;
  for (std::size_t done = 0; done < g.size() && rc == SQLITE_OK; done += kMaxWrite) {
    const std::size_t n = std::min(kMaxWrite, g.size() - done);
    rc = f->real->pMethods->xWrite(f->real, g.data() + done, static_cast<int>(n),
                                   f->start + static_cast<sqlite3_int64>(done));
  }
  f->gathered->clear();
  f->commitPageNext = false;
  return rc;
}

int Close(sqlite3_file* p) {
  File* f = Of(p);
  const int out = WriteOut(f);
  const int rc = f->real->pMethods ? f->real->pMethods->xClose(f->real) : SQLITE_OK;
  delete f->gathered;
  f->gathered = nullptr;
  return out != SQLITE_OK ? out : rc;
}

// Writes out what is gathered, then runs `op` on the file below: for every
// operation that must see the file as SQLite wrote it.
template <class Op>
int AfterWriteOut(sqlite3_file* p, Op op) {
  File* f = Of(p);
  if (int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  return op(f->real);
}

int Read(sqlite3_file* p, void* buf, int amt, sqlite3_int64 off) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    return real->pMethods->xRead(real, buf, amt, off);
  });
}

std::uint32_t BigEndian32(const unsigned char* b) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

int Write(sqlite3_file* p, const void* buf, int amt, sqlite3_int64 off) {
  File* f = Of(p);
  if (!f->gathers || amt <= 0) return f->real->pMethods->xWrite(f->real, buf, amt, off);
  std::string& g = *f->gathered;
  if (!g.empty() && off != f->start + static_cast<sqlite3_int64>(g.size())) {
    if (int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  }
  if (g.empty()) f->start = off;
  try {
    g.append(static_cast<const char*>(buf), static_cast<std::size_t>(amt));
  } catch (const std::bad_alloc&) {
    if (int rc = WriteOut(f); rc != SQLITE_OK) return rc;
    return f->real->pMethods->xWrite(f->real, buf, amt, off);
  }
  bool writeNow = g.size() >= kMaxGathered;
  if (!f->wal) {
    // A database file is written by a checkpoint (or by the commit of a
    // rolled-back journal), page after page; it is synced, or unlocked,
    // before anything relies on what was written.
  } else if (static_cast<std::size_t>(amt) == kFrameHeaderSize && off >= kWalHeaderSize) {
    // A frame's header: bytes 4..7 hold the database size after the commit
    // when this frame ends one, zero otherwise.
    f->commitPageNext = BigEndian32(static_cast<const unsigned char*>(buf) + 4) != 0;
  } else if (f->commitPageNext) {
    writeNow = true;
  }
  return writeNow ? WriteOut(f) : SQLITE_OK;
}

int Truncate(sqlite3_file* p, sqlite3_int64 size) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    return real->pMethods->xTruncate(real, size);
  });
}

int Sync(sqlite3_file* p, int flags) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    return real->pMethods->xSync(real, flags);
  });
}

int FileSize(sqlite3_file* p, sqlite3_int64* size) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    return real->pMethods->xFileSize(real, size);
  });
}

int Lock(sqlite3_file* p, int level) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    return real->pMethods->xLock(real, level);
  });
}

int Unlock(sqlite3_file* p, int level) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    return real->pMethods->xUnlock(real, level);
  });
}

int CheckReservedLock(sqlite3_file* p, int* out) {
  File* f = Of(p);
  return f->real->pMethods->xCheckReservedLock(f->real, out);
}

int FileControl(sqlite3_file* p, int op, void* arg) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    return real->pMethods->xFileControl(real, op, arg);
  });
}

int SectorSize(sqlite3_file* p) {
  File* f = Of(p);
  return f->real->pMethods->xSectorSize(f->real);
}

int DeviceCharacteristics(sqlite3_file* p) {
  File* f = Of(p);
  return f->real->pMethods->xDeviceCharacteristics(f->real);
}

int ShmMap(sqlite3_file* p, int page, int size, int extend, void volatile** out) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    if (real->pMethods->iVersion < 2) return SQLITE_IOERR_SHMMAP;
    return real->pMethods->xShmMap(real, page, size, extend, out);
  });
}

int ShmLock(sqlite3_file* p, int offset, int n, int flags) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    if (real->pMethods->iVersion < 2) return SQLITE_IOERR_SHMLOCK;
    return real->pMethods->xShmLock(real, offset, n, flags);
  });
}

void ShmBarrier(sqlite3_file* p) {
  File* f = Of(p);
  // A barrier cannot report a failure; the failure stays for the next
  // operation, which writes out again (nothing gathered is dropped).
  if (f->gathered && !f->gathered->empty()) {
    std::string keep = *f->gathered;
    const sqlite3_int64 start = f->start;
    if (WriteOut(f) != SQLITE_OK) {
      *f->gathered = std::move(keep);
      f->start = start;
    }
  }
  if (f->real->pMethods->iVersion >= 2) f->real->pMethods->xShmBarrier(f->real);
}

int ShmUnmap(sqlite3_file* p, int deleteFlag) {
  return AfterWriteOut(p, [&](sqlite3_file* real) {
    if (real->pMethods->iVersion < 2) return SQLITE_OK;
    return real->pMethods->xShmUnmap(real, deleteFlag);
  });
}

int Fetch(sqlite3_file* p, sqlite3_int64 off, int amt, void** out) {
  File* f = Of(p);
  if (int rc = WriteOut(f); rc != SQLITE_OK) return rc;
  if (f->real->pMethods->iVersion < 3) {
    *out = nullptr;
    return SQLITE_OK;
  }
  return f->real->pMethods->xFetch(f->real, off, amt, out);
}

int Unfetch(sqlite3_file* p, sqlite3_int64 off, void* page) {
  File* f = Of(p);
  if (f->real->pMethods->iVersion < 3) return SQLITE_OK;
  return f->real->pMethods->xUnfetch(f->real, off, page);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* p, int flags, int* outFlags) {
  File* f = Of(p);
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->real->pMethods = nullptr;
  f->wal = (flags & SQLITE_OPEN_WAL) != 0;
  f->gathers = f->wal || (flags & SQLITE_OPEN_MAIN_DB) != 0;
  f->commitPageNext = false;
  f->start = 0;
  f->gathered = nullptr;
  p->pMethods = nullptr;
  const int rc = g_base->xOpen(g_base, name, f->real, flags, outFlags);
  if (rc != SQLITE_OK || !f->real->pMethods) return rc;
  try {
    f->gathered = new std::string;
  } catch (const std::bad_alloc&) {
    f->real->pMethods->xClose(f->real);
    return SQLITE_NOMEM;
  }
  p->pMethods = &g_methods;
  return SQLITE_OK;
}

void Register() {
  g_base = sqlite3_vfs_find(nullptr);
  if (!g_base) return;
  g_vfs = *g_base;
  g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_base->szOsFile;
  g_vfs.zName = kVfsName;
  g_vfs.pNext = nullptr;
  g_vfs.xOpen = Open;

  g_methods = sqlite3_io_methods{};
  g_methods.iVersion = 3;
  g_methods.xClose = Close;
  g_methods.xRead = Read;
  g_methods.xWrite = Write;
  g_methods.xTruncate = Truncate;
  g_methods.xSync = Sync;
  g_methods.xFileSize = FileSize;
  g_methods.xLock = Lock;
  g_methods.xUnlock = Unlock;
  g_methods.xCheckReservedLock = CheckReservedLock;
  g_methods.xFileControl = FileControl;
  g_methods.xSectorSize = SectorSize;
  g_methods.xDeviceCharacteristics = DeviceCharacteristics;
  g_methods.xShmMap = ShmMap;
  g_methods.xShmLock = ShmLock;
  g_methods.xShmBarrier = ShmBarrier;
  g_methods.xShmUnmap = ShmUnmap;
  g_methods.xFetch = Fetch;
  g_methods.xUnfetch = Unfetch;
  if (sqlite3_vfs_register(&g_vfs, 0) != SQLITE_OK) g_base = nullptr;
}

}  // namespace

const char* GatheredWalVfs() {
  static std::once_flag once;
  std::call_once(once, Register);
  return g_base ? kVfsName : nullptr;
}

}  // namespace platform::sqlite

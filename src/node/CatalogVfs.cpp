// The catalog VFS "vendrithane": a thin layer over the default "unix" VFS. Files opened as
// main databases (the main file and every attached file) get a wrapper whose reads and
// writes translate the first 16 bytes between the catalog's header string on disk and the
// engine's in memory. Rollback journals (and the super-journal of a commit across both
// files) get the same wrapper without the translation, so that the test-only fault switch
// (FaultInjection.h) reaches every file a commit depends on; temporary files are the unix
// VFS's own. Organisation: header translation, the io methods of a wrapped file, the VFS
// methods, registration.
#include "node/CatalogVfs.h"

#include <sqlite3.h>

#include <cstring>
#include <mutex>

#include "node/FaultInjection.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

const char kCatalogHeader[16] = {'V', 'e', 'n', 'd', 'r', 'i', 't', 'h',
                                 'a', 'n', 'e', 'F', 'M', 'T', '6', '\0'};

namespace {

constexpr int kHeaderSize = 16;
constexpr const char kVfsName[] = "vendrithane";

// The engine's own header string, expected at offset 0 of every database it reads.
const char kEngineHeader[kHeaderSize] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                         'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
// What the engine is shown for a file that carries the engine's header on disk: a file
// that is not a catalog must be refused (SQLITE_NOTADB), never opened as one.
const char kRefusedHeader[kHeaderSize] = {'n', 'o', 't', ' ', 'a', ' ', 'c', 'a',
                                          't', 'a', 'l', 'o', 'g', '!', '!', '\0'};

// One open main-database or journal file: the io-methods slot the engine sees, followed in
// the same allocation (szOsFile) by the wrapped unix file.
struct CatalogFile {
  sqlite3_file base;    // pMethods: one of the wrapper method tables
  sqlite3_file* inner;  // the unix file, stored right after this struct
  bool header;          // a database file: its first 16 bytes are translated
};

sqlite3_vfs* g_unix = nullptr;  // the wrapped VFS, set once at registration

sqlite3_file* innerOf(sqlite3_file* file) {
  return reinterpret_cast<CatalogFile*>(file)->inner;
}

bool translates(sqlite3_file* file) {
  return reinterpret_cast<CatalogFile*>(file)->header;
}

// --- Header translation ---------------------------------------------------------------------

// Overlap of the transfer [offset, offset + amount) with the header bytes: on return the
// header range [*from, *to) and whether it is non-empty.
bool headerOverlap(sqlite3_int64 offset, int amount, int* from, int* to) {
  if (offset >= kHeaderSize || amount <= 0) return false;
  *from = static_cast<int>(offset);
  const sqlite3_int64 end = offset + amount;
  *to = end < kHeaderSize ? static_cast<int>(end) : kHeaderSize;
  return *from < *to;
}

// After a read of [offset, offset + amount) into buf: shows the engine its own header in
// place of the catalog's, and a header it rejects in place of its own. Reads covering only
// part of the header judge by the whole 16 bytes on disk.
void translateRead(sqlite3_file* inner, void* buf, int amount, sqlite3_int64 offset) {
  int from, to;
  if (!headerOverlap(offset, amount, &from, &to)) return;
  char disk[kHeaderSize];
  if (from == 0 && to == kHeaderSize) {
    std::memcpy(disk, buf, kHeaderSize);
  } else if (inner->pMethods->xRead(inner, disk, kHeaderSize, 0) != SQLITE_OK) {
    return;
  }
  const char* shown = nullptr;
  if (std::memcmp(disk, kCatalogHeader, kHeaderSize) == 0) {
    shown = kEngineHeader;
  } else if (std::memcmp(disk, kEngineHeader, kHeaderSize) == 0) {
    shown = kRefusedHeader;
  } else {
    return;
  }
  std::memcpy(static_cast<char*>(buf) + (from - offset), shown + from, to - from);
}

// --- io methods of a wrapped file -----------------------------------------------------------

int fileClose(sqlite3_file* file) {
  sqlite3_file* inner = innerOf(file);
  const int rc = inner->pMethods ? inner->pMethods->xClose(inner) : SQLITE_OK;
  file->pMethods = nullptr;
  return rc;
}

int fileRead(sqlite3_file* file, void* buf, int amount, sqlite3_int64 offset) {
  if (const int fault = injectedFault(FaultKind::Read)) return fault;
  sqlite3_file* inner = innerOf(file);
  const int rc = inner->pMethods->xRead(inner, buf, amount, offset);
  if (!translates(file)) return rc;
  if (rc == SQLITE_OK || rc == SQLITE_IOERR_SHORT_READ) translateRead(inner, buf, amount, offset);
  return rc;
}

// Writes of the engine's header string (or of a part of it) put the catalog's on disk. The
// caller's buffer is the pager's cached page and stays as it is: the write goes from a copy.
int fileWrite(sqlite3_file* file, const void* buf, int amount, sqlite3_int64 offset) {
  if (const int fault = injectedFault(FaultKind::Write)) return fault;
  sqlite3_file* inner = innerOf(file);
  int from, to;
  if (translates(file) && headerOverlap(offset, amount, &from, &to)) {
    const char* head = static_cast<const char*>(buf) + (from - offset);
    if (std::memcmp(head, kEngineHeader + from, to - from) == 0) {
      char local[kHeaderSize];
      char* copy = local;
      if (amount > kHeaderSize) {
        copy = static_cast<char*>(sqlite3_malloc(amount));
        if (copy == nullptr) return SQLITE_IOERR_NOMEM;
      }
      std::memcpy(copy, buf, amount);
      std::memcpy(copy + (from - offset), kCatalogHeader + from, to - from);
      const int rc = inner->pMethods->xWrite(inner, copy, amount, offset);
      if (copy != local) sqlite3_free(copy);
      return rc;
    }
  }
  return inner->pMethods->xWrite(inner, buf, amount, offset);
}

int fileTruncate(sqlite3_file* file, sqlite3_int64 size) {
  if (const int fault = injectedFault(FaultKind::Truncate)) return fault;
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xTruncate(inner, size);
}
int fileSync(sqlite3_file* file, int flags) {
  if (const int fault = injectedFault(FaultKind::Sync)) return fault;
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xSync(inner, flags);
}
int fileSize(sqlite3_file* file, sqlite3_int64* size) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xFileSize(inner, size);
}
int fileLock(sqlite3_file* file, int level) {
  if (const int fault = injectedFault(FaultKind::Lock)) return fault;
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xLock(inner, level);
}
int fileUnlock(sqlite3_file* file, int level) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xUnlock(inner, level);
}
int fileCheckReservedLock(sqlite3_file* file, int* out) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xCheckReservedLock(inner, out);
}

// Memory mapping stays off: a request for a mapping size is answered with 0 and not passed
// on, so that the unix file never maps the database behind the translation.
int fileControl(sqlite3_file* file, int op, void* arg) {
  if (op == SQLITE_FCNTL_MMAP_SIZE) {
    *static_cast<sqlite3_int64*>(arg) = 0;
    return SQLITE_OK;
  }
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xFileControl(inner, op, arg);
}
int fileSectorSize(sqlite3_file* file) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xSectorSize(inner);
}
int fileDeviceCharacteristics(sqlite3_file* file) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xDeviceCharacteristics(inner);
}
int fileShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** pp) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xShmMap(inner, region, size, extend, pp);
}
int fileShmLock(sqlite3_file* file, int offset, int n, int flags) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xShmLock(inner, offset, n, flags);
}
void fileShmBarrier(sqlite3_file* file) {
  sqlite3_file* inner = innerOf(file);
  inner->pMethods->xShmBarrier(inner);
}
int fileShmUnmap(sqlite3_file* file, int deleteFlag) {
  sqlite3_file* inner = innerOf(file);
  return inner->pMethods->xShmUnmap(inner, deleteFlag);
}
// No page is ever handed out by mapping: the pager falls back to xRead.
int fileFetch(sqlite3_file*, sqlite3_int64, int, void** pp) {
  *pp = nullptr;
  return SQLITE_OK;
}
int fileUnfetch(sqlite3_file*, sqlite3_int64, void*) {
  return SQLITE_OK;
}

// Method tables by version; a wrapper takes the version of the unix file it wraps.
sqlite3_io_methods makeMethods(int version) {
  sqlite3_io_methods m{};
  m.iVersion = version;
  m.xClose = fileClose;
  m.xRead = fileRead;
  m.xWrite = fileWrite;
  m.xTruncate = fileTruncate;
  m.xSync = fileSync;
  m.xFileSize = fileSize;
  m.xLock = fileLock;
  m.xUnlock = fileUnlock;
  m.xCheckReservedLock = fileCheckReservedLock;
  m.xFileControl = fileControl;
  m.xSectorSize = fileSectorSize;
  m.xDeviceCharacteristics = fileDeviceCharacteristics;
  if (version >= 2) {
    m.xShmMap = fileShmMap;
    m.xShmLock = fileShmLock;
    m.xShmBarrier = fileShmBarrier;
    m.xShmUnmap = fileShmUnmap;
  }
  if (version >= 3) {
    m.xFetch = fileFetch;
    m.xUnfetch = fileUnfetch;
  }
  return m;
}

const sqlite3_io_methods kMethods1 = makeMethods(1);
const sqlite3_io_methods kMethods2 = makeMethods(2);
const sqlite3_io_methods kMethods3 = makeMethods(3);

const sqlite3_io_methods* methodsFor(int innerVersion) {
  if (innerVersion >= 3) return &kMethods3;
  return innerVersion == 2 ? &kMethods2 : &kMethods1;
}

// --- VFS methods ----------------------------------------------------------------------------

// Main databases get the translating wrapper and their journals the plain one; every other
// file is opened by the unix VFS directly into the engine's buffer (szOsFile leaves room).
int vfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  const bool database = (flags & SQLITE_OPEN_MAIN_DB) != 0;
  if (!database && (flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL)) == 0) {
    return g_unix->xOpen(g_unix, name, file, flags, outFlags);
  }
  CatalogFile* wrapper = reinterpret_cast<CatalogFile*>(file);
  wrapper->base.pMethods = nullptr;
  wrapper->header = database;
  wrapper->inner = reinterpret_cast<sqlite3_file*>(wrapper + 1);
  wrapper->inner->pMethods = nullptr;
  const int rc = g_unix->xOpen(g_unix, name, wrapper->inner, flags, outFlags);
  // A failed open may still leave methods that want xClose; the engine then calls ours.
  if (wrapper->inner->pMethods != nullptr) {
    wrapper->base.pMethods = methodsFor(wrapper->inner->pMethods->iVersion);
  }
  return rc;
}

int vfsDelete(sqlite3_vfs*, const char* name, int syncDir) {
  if (const int fault = injectedFault(FaultKind::Delete)) return fault;
  return g_unix->xDelete(g_unix, name, syncDir);
}
int vfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_unix->xAccess(g_unix, name, flags, out);
}
int vfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return g_unix->xFullPathname(g_unix, name, size, out);
}
void* vfsDlOpen(sqlite3_vfs*, const char* name) {
  return g_unix->xDlOpen(g_unix, name);
}
void vfsDlError(sqlite3_vfs*, int size, char* out) {
  g_unix->xDlError(g_unix, size, out);
}
void (*vfsDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return g_unix->xDlSym(g_unix, handle, symbol);
}
void vfsDlClose(sqlite3_vfs*, void* handle) {
  g_unix->xDlClose(g_unix, handle);
}
int vfsRandomness(sqlite3_vfs*, int size, char* out) {
  return g_unix->xRandomness(g_unix, size, out);
}
int vfsSleep(sqlite3_vfs*, int microseconds) {
  return g_unix->xSleep(g_unix, microseconds);
}
int vfsCurrentTime(sqlite3_vfs*, double* out) {
  return g_unix->xCurrentTime(g_unix, out);
}
int vfsGetLastError(sqlite3_vfs*, int size, char* out) {
  return g_unix->xGetLastError ? g_unix->xGetLastError(g_unix, size, out) : 0;
}
int vfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return g_unix->xCurrentTimeInt64(g_unix, out);
}
int vfsSetSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
  return g_unix->xSetSystemCall(g_unix, name, call);
}
sqlite3_syscall_ptr vfsGetSystemCall(sqlite3_vfs*, const char* name) {
  return g_unix->xGetSystemCall(g_unix, name);
}
const char* vfsNextSystemCall(sqlite3_vfs*, const char* name) {
  return g_unix->xNextSystemCall(g_unix, name);
}

// --- Registration ---------------------------------------------------------------------------

sqlite3_vfs g_vfs{};        // the registered layer; lives for the whole process
bool g_registered = false;  // set once by registerVfs

void registerVfs() {
  if (sqlite3_initialize() != SQLITE_OK) return;
  sqlite3_vfs* unixVfs = sqlite3_vfs_find("unix");
  if (unixVfs == nullptr) return;
  g_unix = unixVfs;
  g_vfs.iVersion = unixVfs->iVersion;
  g_vfs.szOsFile = static_cast<int>(sizeof(CatalogFile)) + unixVfs->szOsFile;
  g_vfs.mxPathname = unixVfs->mxPathname;
  g_vfs.zName = kVfsName;
  g_vfs.pAppData = nullptr;
  g_vfs.xOpen = vfsOpen;
  g_vfs.xDelete = vfsDelete;
  g_vfs.xAccess = vfsAccess;
  g_vfs.xFullPathname = vfsFullPathname;
  g_vfs.xDlOpen = unixVfs->xDlOpen ? vfsDlOpen : nullptr;
  g_vfs.xDlError = unixVfs->xDlError ? vfsDlError : nullptr;
  g_vfs.xDlSym = unixVfs->xDlSym ? vfsDlSym : nullptr;
  g_vfs.xDlClose = unixVfs->xDlClose ? vfsDlClose : nullptr;
  g_vfs.xRandomness = vfsRandomness;
  g_vfs.xSleep = vfsSleep;
  g_vfs.xCurrentTime = vfsCurrentTime;
  g_vfs.xGetLastError = vfsGetLastError;
  if (unixVfs->iVersion >= 2) g_vfs.xCurrentTimeInt64 = vfsCurrentTimeInt64;
  if (unixVfs->iVersion >= 3) {
    g_vfs.xSetSystemCall = vfsSetSystemCall;
    g_vfs.xGetSystemCall = vfsGetSystemCall;
    g_vfs.xNextSystemCall = vfsNextSystemCall;
  }
  g_registered = sqlite3_vfs_register(&g_vfs, 0) == SQLITE_OK;
}

}  // namespace

const char* catalogVfsName() {
  static std::once_flag once;
  std::call_once(once, registerVfs);
  if (!g_registered) throw StatusEngineFailure;
  return kVfsName;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

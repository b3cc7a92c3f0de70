// Construction, refresh and error recording of a catalog connection. Organisation: the
// handle (open, busy handler, functions, attach), the new-catalog path, construction with
// the version comparison, refresh.
#include "node/NodeConnection.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "functions/SqlFunctions.h"
#include "node/CatalogVfs.h"
#include "node/NodeImpl.h"
#include "node/Schema.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "platform/Files.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

constexpr char kFunctionContext[] = "creating function";

int busyHandler(void*, int) {
  sqlite3_sleep(NodeConnection::kBusySleepMs);
  return 1;  // retry, without limit
}

// Opens `path` through the catalog VFS; the handle in *db (null on failure). Returns the
// engine's result.
int openCatalogFile(const std::string& path, bool create, sqlite3** db) {
  // A connection is only ever used by the one thread that holds it (the pool hands it over
  // under its lock), so the engine's per-connection mutexes would only cost time.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int code = sqlite3_open_v2(path.c_str(), db, flags, catalogVfsName());
  if (code != SQLITE_OK && *db) {
    sqlite3_close_v2(*db);
    *db = nullptr;
  }
  return code;
}

// Makes one file of a new catalog: opens it with create and runs `script` on it.
bool makeCatalogFile(const std::string& path, const char* script) {
  sqlite3* db = nullptr;
  if (openCatalogFile(path, true, &db) != SQLITE_OK) return false;
  bool ok = sqlite3_exec(db, script, nullptr, nullptr, nullptr) == SQLITE_OK;
  ok = sqlite3_close_v2(db) == SQLITE_OK && ok;
  return ok;
}

}  // namespace

NodeConnection::NodeConnection(const std::string& mainFile, const std::string& blobFile,
                               NodeImpl* node, bool skipSchema)
    : node_(node), mainFile_(mainFile), blobFile_(blobFile) {
  if (!skipSchema && !platform::fileExists(mainFile_)) createCatalog();
  openHandle(!skipSchema);
  installBusyHandler();
  registerFunctions(false);
  if (skipSchema) return;

  String text;
  if (queryValue(*this, kSelectVersion, &text) != StatusOk) {
    closeHandle();
    throw StatusNoVersion;
  }
  SchemaVersion stored = parseSchemaVersion(text);
  SchemaVersion library = parseSchemaVersion(kLibraryVersion);
  if (stored.major > library.major ||
      (stored.major == library.major && stored.minor > library.minor)) {
    closeHandle();
    throw StatusUnknownFormat;
  }
  if (stored.major < library.major || stored.minor < library.minor) upgradeOlderSchema();
  try {
    attachBlobs();
  } catch (Status) {
    closeHandle();
    throw;
  }
}

void NodeConnection::interrupt() {
  if (db_ != nullptr) sqlite3_interrupt(db_);
}

NodeConnection::~NodeConnection() {
  closeHandle();
}

void NodeConnection::createCatalog() {
  platform::deleteFile(blobFile_);  // a blob file without its main file belongs to nobody
  if (!makeCatalogFile(mainFile_, kMainSchemaScript)) {
    platform::deleteFile(mainFile_);  // never leave a catalog without its tables
    throw StatusSchemaFailed;
  }
  if (!makeCatalogFile(blobFile_, kBlobSchemaScript)) {
    platform::deleteFile(blobFile_);
    platform::deleteFile(mainFile_);
    throw StatusSchemaFailed;
  }
}

void NodeConnection::openHandle(bool create) {
  int code = openCatalogFile(mainFile_, create, &db_);
  if (code == SQLITE_OK) return;
  code &= 0xff;
  throw code == SQLITE_CORRUPT || code == SQLITE_NOTADB ? StatusCorrupt : StatusNotOpen;
}

sqlite3_stmt* NodeConnection::cachedStatement(const std::string& sql, int* code) {
  *code = SQLITE_OK;
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second;  // reset and cleared after its last use
  sqlite3_stmt* stmt = nullptr;
  *code = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                             SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (*code != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  statements_.emplace(sql, stmt);
  return stmt;
}

void NodeConnection::closeHandle() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  statements_.clear();
  if (!db_) return;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

void NodeConnection::installBusyHandler() {
  sqlite3_busy_handler(db_, busyHandler, nullptr);
}

void NodeConnection::registerFunctions(bool record) {
  functions::FunctionFailure onFailure;
  if (record) {
    onFailure = [this](int engineCode, const char* message) {
      recordError(-1, engineCode, message ? message : "", kFunctionContext);
    };
  }
  functions::registerCatalogFunctions(db_, node_, onFailure);
}

void NodeConnection::attachBlobs() {
  std::string sql = sqlFormat(kAttachBlobs, blobFile_.c_str());
  char* message = nullptr;
  int code = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (code == SQLITE_OK) return;
  recordError(StatusNotOpen, code, message ? message : sqlite3_errstr(code), sql);
  sqlite3_free(message);
  throw StatusNotOpen;
}

// A catalog of this engine written with an older schema version: compacted once more at
// every open; its stored version is left as it is.
void NodeConnection::upgradeOlderSchema() {
  execute(*this, kVacuum);
  if (execute(*this, kBeginImmediate) == StatusOk) execute(*this, kCommit);
  sqlite3* blobs = nullptr;
  if (openCatalogFile(blobFile_, false, &blobs) == SQLITE_OK) {
    sqlite3_busy_handler(blobs, busyHandler, nullptr);
    int code = sqlite3_exec(blobs, kVacuum, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) recordError(engineStatus(code), code, sqlite3_errmsg(blobs), kVacuum);
    sqlite3_close_v2(blobs);
  }
}

Status NodeConnection::compactBlobFile() {
  sqlite3* blobs = nullptr;
  int code = openCatalogFile(blobFile_, false, &blobs);
  if (code == SQLITE_OK) {
    sqlite3_busy_handler(blobs, busyHandler, nullptr);
    code = sqlite3_exec(blobs, kVacuum, nullptr, nullptr, nullptr);
  }
  if (code != SQLITE_OK)
    recordError(StatusCompactFailed, code, blobs ? sqlite3_errmsg(blobs) : sqlite3_errstr(code),
                kVacuum);
  if (blobs) sqlite3_close_v2(blobs);
  return code == SQLITE_OK ? StatusOk : StatusCompactFailed;
}

void NodeConnection::refresh(int generation) {
  closeHandle();
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(kOpenRetryMs));
    if (openCatalogFile(mainFile_, true, &db_) == SQLITE_OK) break;
  }
  if (!db_) throw StatusEngineFailure;
  installBusyHandler();
  try {
    attachBlobs();
  } catch (Status) {
    closeHandle();
    throw;
  }
  execute(*this, kParserTraceOff);
  execute(*this, kVdbeTraceOff);
  registerFunctions(true);
  stamp_ = generation;
}

ErrorRecord NodeConnection::lastError() const {
  platform::MutexLock hold(errorLock_);
  return lastError_;
}

void NodeConnection::recordError(int status, int engineCode, const std::string& message,
                                 const std::string& statement) {
  platform::MutexLock hold(errorLock_);
  lastError_.execOrdinal = execCount_.load();
  lastError_.status = status;
  lastError_.engineCode = engineCode;
  lastError_.message = message;
  lastError_.statement = statement;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

// NodeConnection: one database connection of an open catalog, owned by one thread at a
// time. It opens the main file through the catalog VFS, attaches the blob file as "blobs",
// installs the busy handler and registers the catalog's SQL functions, and carries its
// owner's transaction state and the last-error record of the statement helpers.
//
// Thread safety: the owner and use count are guarded by the pool lock (ConnectionPool);
// everything else belongs to the owner thread. The counters, the transaction depth, the
// abort flag, the id snapshot and the last-error record (a copy, taken under its own lock)
// may be read by any thread for diagnostics.
#ifndef VENDRITHANE_NODE_NODECONNECTION_H
#define VENDRITHANE_NODE_NODECONNECTION_H

#include <atomic>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Mutex.h"
#include "vendrithane/Status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;

namespace node {

class ConnectionPool;

// The last engine failure seen on a connection.
struct ErrorRecord {
  int execOrdinal = 0;    // statements the connection had executed when it happened
  int status = 0;         // the library status recorded
  int engineCode = 0;     // the engine's result code (0 for the library's own findings)
  std::string message;    // the engine's message, or one of the library's own
  std::string statement;  // the statement text, or a context such as "creating function"
};

class NodeConnection {
 public:
  static constexpr int kBusySleepMs = 200;  // busy handler: sleep per busy event
  static constexpr int kOpenAttempts = 50;  // refresh: tries to obtain a handle
  static constexpr int kOpenRetryMs = 250;  // refresh: pause between the tries

  // Opens a connection on the catalog's two files. Unless `skipSchema`: a missing main file
  // gets a new catalog (schema scripts; 19 on failure, nothing left behind), the stored
  // version is compared with the library's (78 unreadable, 36 newer) and the blob file is
  // attached (20). A handle that cannot be opened throws 25 (corrupt) or 20. `node` is the
  // host of the SQL functions; it may be null.
  NodeConnection(const std::string& mainFile, const std::string& blobFile, NodeImpl* node,
                 bool skipSchema);
  ~NodeConnection();
  NodeConnection(const NodeConnection&) = delete;
  NodeConnection& operator=(const NodeConnection&) = delete;

  // Reopens the handle, attaches the blob file, registers the functions (recording each
  // failure) and takes `generation` as its stamp. Throws 31 when no handle could be had in
  // 50 tries, 20 when the attach fails; the stamp is then left as it was.
  void refresh(int generation);
  // Compacts the blob file through a handle of its own (the catalog VFS): 0, or 68 with the
  // engine's failure recorded on this connection.
  Status compactBlobFile();

  sqlite3* db() const { return db_; }
  // Makes the statement running on the connection end as interrupted; any thread may call
  // it while the connection is open.
  void interrupt();
  // The compiled form of `sql`, kept on this connection until its handle closes. Null with
  // the engine's code in *code when it cannot compile. The caller resets it and clears its
  // bindings right after every use (a statement left mid-step keeps a lock, and bound texts
  // are the caller's), so that it comes back ready.
  sqlite3_stmt* cachedStatement(const std::string& sql, int* code);
  NodeImpl* node() const { return node_; }
  const std::string& mainFile() const { return mainFile_; }
  const std::string& blobFile() const { return blobFile_; }
  int stamp() const { return stamp_; }
  // A schema change made through this connection: it stays current at `generation`.
  void stamp(int generation) { stamp_ = generation; }

  // The last-error record and the counters kept by the statement helpers.
  ErrorRecord lastError() const;
  void recordError(int status, int engineCode, const std::string& message,
                   const std::string& statement);
  int execCount() const { return execCount_.load(); }
  bool inExec() const { return inExec_.load(); }
  void execStarted() {
    ++execCount_;
    inExec_ = true;
  }
  void execEnded() { inExec_ = false; }

  // Owner and use count (read under the pool lock).
  long owner() const { return owner_; }
  int useCount() const { return useCount_; }

  // Transaction state of the owner thread, kept by the transaction layer (Transaction.h).
  std::atomic<int> depth{0};                       // nesting depth, 0 = none
  std::atomic<bool> abort{false};                  // a level was rolled back: roll back at the end
  std::atomic<int> nextIdSnapshot{0};              // shared nextId at the outermost begin
  int maxIdSnapshot = 0;                           // shared maxId at the outermost begin
  bool holdsCatalog = false;                       // the outermost level holds the catalog mutex
  bool engineLost = false;                         // the engine undid the transaction itself
  bool collecting = true;                          // pending events are still collected
  std::vector<std::pair<int, int>> pendingEvents;  // (kind, id) queued by the transaction
  std::vector<std::function<void()>> undoJournal;  // in-memory undo actions, oldest first

 private:
  friend class ConnectionPool;

  void createCatalog();                 // both files with their schema; throws 19
  void openHandle(bool create);         // db_ on the main file; throws 25 or 20
  void closeHandle();                   // closes db_ when open
  void installBusyHandler();            // 200 ms sleeps, never gives up
  void registerFunctions(bool record);  // the SQL functions, failures recorded when asked
  void attachBlobs();                   // ATTACH; records and throws 20
  void upgradeOlderSchema();            // compaction of an older schema of this engine

  NodeImpl* node_;         // the owning node (host of the SQL functions), may be null
  std::string mainFile_;   // the main file the connection was made for
  std::string blobFile_;   // the blob file attached as "blobs"
  sqlite3* db_ = nullptr;  // the engine's handle
  std::unordered_map<std::string, sqlite3_stmt*> statements_;  // compiled, by text; owner only
  int stamp_ = 0;                                              // generation the handle was made at
  long owner_ = 0;    // owning thread, 0 = free; guarded by the pool lock
  int useCount_ = 0;  // nested acquisitions of the owner; guarded by the pool lock
  mutable platform::Mutex errorLock_{platform::LockRank::kConnection, "connection error lock"};
  ErrorRecord lastError_ GUARDED_BY(errorLock_);  // last failure; written by the owner thread
  std::atomic<int> execCount_{0};                 // statements executed through the helpers
  std::atomic<bool> inExec_{false};               // a statement is running
};

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_NODECONNECTION_H

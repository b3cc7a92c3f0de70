// NodeImpl: everything the library keeps for one catalog, shared by every Node handle of
// it. It knows where the catalog's files are, creates, opens and closes the catalog, owns
// the five connections, the node's place in the machine-wide change-event queue and the set
// of the catalog's tables, and holds what the layers above it keep for the catalog (the
// asset layer's live records and index map, the category layer's tree cache) through the
// hooks they register (node/LayerHooks.h).
//
// Locks: the name lock guards the name, the directories and the handle count; the
// thread-set lock the threads with a transaction open and the closing mark; the tables lock
// its set; the monitor events lock the change events waiting for the node's monitor. Their
// place in the one lock order, with the machine-wide mutexes, is written in
// platform/LockOrder.h. One lifecycle call (open, create, close, remove) runs on a node at a
// time; another one meanwhile answers 20 at once.
#ifndef VENDRITHANE_NODE_NODEIMPL_H
#define VENDRITHANE_NODE_NODEIMPL_H

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "functions/SqlFunctions.h"
#include "monitor/EventQueue.h"
#include "node/ConnectionPool.h"
#include "node/LayerHooks.h"
#include "node/VerifyFirst.h"
#include "platform/Mutex.h"
#include "platform/RawFile.h"
#include "vendrithane/Status.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl : public functions::CatalogFunctionHost {
 public:
  static constexpr char kMainExtension[] = ".vd";          // the main file
  static constexpr char kBlobExtension[] = ".vm";          // the blob file
  static constexpr char kJournalSuffix[] = "-journal";     // the engine's rollback journal
  static constexpr char kCopySuffix[] = "-readonly-copy";  // name of a read-only copy

  // Options of configure (Node::Option).
  static constexpr int kOptionSynchronous = 0;
  static constexpr int kOptionDefaultSynchronous = 1;
  static constexpr int kOptionOtherProcesses = 2;

  // Sets the directories as path() does, then the name; touches nothing on disk. Throws
  // StatusSharedObjectFailed when the machine-wide objects cannot be opened.
  NodeImpl(const char* name, const char* mainDir, const char* blobDir);
  // Closes the catalog (whatever transactions are left) and drops the kernel objects.
  ~NodeImpl() override;
  NodeImpl(const NodeImpl&) = delete;
  NodeImpl& operator=(const NodeImpl&) = delete;

  // Handle count: a new handle; a handle gone (true when it was the last one).
  void addHandle();
  bool dropHandle();
  int handles() const;
  // A new handle while any is left; false once the last one has gone (the node is being
  // destroyed), so that nothing revives it.
  bool shareHandle();
  // Makes this the node of no catalog (the node of an asset bound to none): it never opens,
  // and open, create, close, remove and mode answer 20, exists -1. Before any other call.
  void markNoCatalog();

  // Location. Directories are kept with a trailing "/" and "\" read as "/"; an empty or
  // missing main directory is the current directory, a missing blob directory the main one.
  String name() const;
  void name(const String& name);
  String path(bool blob) const;
  void path(const char* mainDir, const char* blobDir);
  // A directory as the node keeps it: "\" read as "/", a trailing "/", "./" when empty.
  static std::string directoryText(const char* dir);
  std::string mainFile() const;  // main directory + name + ".vd"
  std::string blobFile() const;  // blob directory + name + ".vm"
  // The main and the blob file's names, both prefixed with the main directory when asked.
  std::vector<String> systemFilenames(bool withPath) const;
  String backupName() const;
  String backupDirectory() const;

  // Backups and file management (see Node.h; NodeBackup.cpp).
  void backupName(const String& name);
  void backupDirectory(const String& dir);
  bool backupExists();
  Status backupMode(bool readOnly);
  Status backup(bool keepExisting, bool verifyFirst, bool asCatalog);
  Status backupRestore(bool keepExisting, bool verifyFirst);
  long long size();
  double fragmentation();
  Status optimize();
  // Completes a rename set of the catalog's files left by a killed restore and removes the
  // copies killed restores left beside them; caller holds the system mutex. 0, or 11 when
  // the set could not be completed (its marker and copies stay for the next try).
  Status finishCatalogRenames();
  // Plays back a hot journal left beside the catalog files `main` and `blob` (a writer killed
  // mid-commit), through connections of their own: the rollback a locked copy asks for.
  static Status rollBackJournals(const std::string& main, const std::string& blob);

  // The lifecycle; each returns a Status (see Node.h) and may throw std::bad_alloc.
  Status open(bool checkOnly, bool readOnlyCopy, const char* tempDir);
  Status create(bool replace);
  Status close();
  int exists();
  Status remove();
  Status mode(bool readOnly);
  String version();
  int configure(int option, int value);
  int configure(int option);

  // Transactions of the calling thread (see Node.h); each returns a Status.
  Status transactionBegin(bool noBlock);
  Status transactionCommit();
  Status transactionRollback();
  Status transactionState();

  // The registry: store, load and remove a host's value under `tag`; 20 when not open.
  Status scalarStore(const String& tag, const String& value);
  Status scalarLoad(const String& tag, String* value);
  Status scalarRemove(const String& tag);
  // Every tag of the registry in byte order. Throws 20 when not open, 31 on an engine failure.
  std::vector<String> scalarNames();
  // 0 asset (name: its type or table), 1 category (name: its namespace's label), 2 none
  // (name ""). Throws 20 when not open, or the status of a failing query.
  int characterizeID(int id, String* name);
  // The node-state XML, and its file main directory + name + ".vst" (failures ignored).
  std::string stateXml();
  void dumpState();
  // Prints the categories still referenced by a handle to the standard error stream.
  void debugState();

  // State used by the other layers.
  bool isOpen() const { return pool_.isOpen(); }
  bool readOnlyCopy() const;
  String catalogId() const;
  // Replaces the node's copy of "vd_dbid" (the registry row is the caller's).
  void catalogId(const String& id);
  node::ConnectionPool& pool() { return pool_; }
  monitor::EventQueue& queue() { return queue_; }
  platform::NamedMutex& systemMutex() { return queue_.systemMutex(); }
  // The catalog's tables as loaded at open (and added since).
  bool knownTable(const std::string& table) const;
  void addKnownTable(const std::string& table);
  void dropKnownTable(const std::string& table);
  // The node's view of the catalog's schema: the table list and what the layers derive from
  // the schema (LayerHooks::loadSchema), kept with the engine's schema cookie at which it
  // was read. Other nodes of the catalog, here or in other processes, change the schema
  // without a change event; the view follows through these two.
  // reloadSchemaView reads the view anew on `connection`; the caller holds the per-catalog
  // mutex, or is opening the node. refreshSchemaView reloads it when the cookie moved since
  // it was read, under the per-catalog mutex (taken here unless this thread holds it); a
  // read of the cookie is all it costs otherwise. Inside a transaction of `connection` it
  // does nothing: the outermost begin refreshed the view, and nobody else changes the schema
  // until the transaction ends. Both return 0, or the failing statement's status (recorded;
  // the view is then read anew at the next refresh). Safe while other threads use the view.
  Status reloadSchemaView(node::NodeConnection& connection);
  Status refreshSchemaView(node::NodeConnection& connection);
  // The per-catalog state of the layers above, registered once when the node is made
  // (before any other call); each layer reaches its own through these.
  void registerLayers(std::unique_ptr<node::LayerHooks> assets,
                      std::unique_ptr<node::CategoryHooks> categories);
  // The check of backup's and restore's verifyFirst, registered by the layer that makes it.
  void registerFileCheck(node::CatalogFileCheck check) { fileCheck_ = check; }
  node::LayerHooks& assetLayer() const { return *assetLayer_; }
  node::CategoryHooks& categoryLayer() const { return *categoryLayer_; }

  // Applies the change events other nodes posted since the last call, on the calling
  // thread's connection: the category cache follows kinds 2 to 5, a deleted record's live
  // object loses its id (kind 7); a kind 1, records lost from the queue or a cache that
  // failed to follow rebuild the category tree and the schema view instead. While a monitor
  // runs, what its handler is to hear is queued for it (takeMonitorEvents). Never calls
  // the public transaction methods. Caller holds the per-catalog mutex. Never fails: a read
  // that fails asks for a rebuild at the next dispatch.
  void dispatchPendingEvents();
  // Makes the next dispatch read the caches anew (a rollback undid rows they were read from).
  void requestRebuild() { rebuildPending_ = true; }

  // The node's monitor (Node::monitor), at most one at a time. beginMonitor registers it
  // and counts it on the queue: 0, 77 (one runs), 20 (not open). endMonitor (from the
  // monitor's thread) ends it: waits for wake-ups in flight, empties its event list and
  // leaves the queue.
  Status beginMonitor();
  void endMonitor();
  // Whether close asked the running monitor to end.
  bool monitorStopRequested() const { return monitorStop_.load(); }
  // Posts the wake-up record (kind 0) while a monitor runs, so that its wait ends.
  void wakeMonitor();
  // Change events for the monitor's handler, in the order they were posted: (kind, id) of
  // kinds 2 to 7, and (1, Handler::Ops) for the reload pair of a rebuild. Takes them all.
  std::vector<std::pair<int, int>> takeMonitorEvents();
  bool monitorEventsWaiting() const;
  // The label of the namespace of category `id` when it is loaded in memory.
  bool categoryNamespaceLabel(int id, String* label) const;
  Time startTime() const { return startTime_; }
  // Whether the calling thread applies change events to this node now: its own changes
  // meanwhile are not collected as events (other threads' are).
  bool dispatching() const;

  // The node-bound SQL functions.
  int functionNextId() override;
  bool functionCategoryDescends(long long node, long long ancestor) override;
  bool functionMapId(long long id, long long* mapped) override;
  bool functionCopyCategory(long long id, long long* mapped) override;

 private:
  struct OpenProgress;  // what a failing open has to undo

  Status openSteps(bool checkOnly, bool readOnlyCopy, const std::string& tempDir,
                   OpenProgress* progress);
  Status makeReadOnlyCopy(const std::string& tempDir, OpenProgress* progress);
  // The files of a new, empty catalog with its id (create's work, for any two paths).
  Status makeCatalogFiles(const std::string& main, const std::string& blob);
  // Open's upgrade of a catalog of the earlier storage generation (NodeUpgrade.cpp).
  Status upgradeOldCatalog(const std::string& main, const std::string& blob,
                           OpenProgress* progress);
  void keepOrRestoreUpgrade(const OpenProgress& progress, bool keep);
  Status loadCatalogState(node::NodeConnection& connection);
  void abandonOpen(const OpenProgress& progress);
  Status closeNode(bool force);
  void removeReadOnlyCopy();  // deletes the copy's files and returns to the saved location
  void clearLayers();         // forgets what the layers loaded at open
  int readPragmaNumber(node::NodeConnection& connection, const char* sql);
  Status giveBackUnusedIds();  // the queue's hook at the catalog's last detach
  // Close: stops a running monitor and waits up to 5000 ms for its end (not from its own
  // thread, where a handler method closes the node).
  void stopMonitor();
  static constexpr int kMonitorPollMs = 5;  // how often stopMonitor looks for the end
  // One other node's record of the batch: its cache work (category records read through
  // `connection`, which record changes do without); what the monitor hears is appended to
  // `heard`.
  void applyEvent(node::NodeConnection* connection, int kind, int id,
                  std::vector<std::pair<int, int>>* heard);
  void dropThreadEntry(long thread, bool all) REQUIRES(threadSetLock_);
  // Commit or rollback of one level through `end`; the thread leaves the set at the last.
  Status endTransactionLevel(Status (*end)(node::NodeConnection&));

  Time startTime_;  // when the node object was made

  mutable platform::SharedMutex nameLock_{platform::LockRank::kNodeName, "name lock"};
  std::string name_ GUARDED_BY(nameLock_);           // base file name
  std::string mainDir_ GUARDED_BY(nameLock_);        // with trailing "/"
  std::string blobDir_ GUARDED_BY(nameLock_);        // with trailing "/"
  std::string backupName_ GUARDED_BY(nameLock_);     // backups' base name
  std::string backupDir_ GUARDED_BY(nameLock_);      // follows mainDir_ while equal
  std::string savedName_ GUARDED_BY(nameLock_);      // own name while a read-only copy is open
  std::string savedMainDir_ GUARDED_BY(nameLock_);   // own main directory while a copy is open
  std::string savedBlobDir_ GUARDED_BY(nameLock_);   // own blob directory while a copy is open
  bool readOnlyCopy_ GUARDED_BY(nameLock_) = false;  // open on a read-only copy
  std::string catalogId_ GUARDED_BY(nameLock_);      // "vd_dbid", read at open
  int handles_ GUARDED_BY(nameLock_) = 1;            // Node handles

  std::atomic<bool> lifecycleBusy_{false};  // open, create, close or remove in progress;
                                            //   always, on the node of no catalog
  std::atomic<bool> noCatalog_{false};      // names no catalog (markNoCatalog)

  monitor::EventQueue queue_;  // the place in the change-event queue; owns the system mutex
  node::ConnectionPool pool_;  // the five connections
  platform::RawFile mainRaw_;  // shared descriptors kept while open, so that raw reads
  platform::RawFile blobRaw_;  //   of this process never drop the engine's locks

  platform::Mutex threadSetLock_{platform::LockRank::kThreadSet, "thread-set lock"};
  std::multiset<long> threadSet_ GUARDED_BY(threadSetLock_);  // threads with a transaction open
  bool closing_ GUARDED_BY(threadSetLock_) = false;           // a close runs: begins answer 20

  mutable platform::Mutex tablesLock_{platform::LockRank::kNodeTables, "tables lock"};
  std::set<std::string> tables_ GUARDED_BY(tablesLock_);  // the catalog's tables
  // The schema cookie the schema view was read at; kNoSchemaCookie while it is unread.
  static constexpr long long kNoSchemaCookie = -(1LL << 40);
  std::atomic<long long> schemaCookie_{kNoSchemaCookie};

  std::atomic<bool> rebuildPending_{false};  // other nodes' changes failed to apply: rebuild

  // The monitor. Its flags are atomics: a wake-up counts itself in flight before it reads
  // monitorRunning_, and the monitor's end clears that before it waits for the count to drop.
  std::atomic<bool> monitorRunning_{false};  // Node::monitor runs on this node
  std::atomic<bool> monitorStop_{false};     // close asked it to end
  std::atomic<long> monitorThread_{0};       // the thread it runs on
  std::atomic<int> wakesInFlight_{0};        // wakeMonitor calls posting now
  mutable platform::Mutex monitorEventsLock_{platform::LockRank::kMonitorEvents,
                                             "monitor events lock"};
  bool collecting_ GUARDED_BY(monitorEventsLock_) = false;  // a monitor hears events
  std::vector<std::pair<int, int>> monitorEvents_ GUARDED_BY(monitorEventsLock_);  // unheard
  std::unique_ptr<node::CategoryHooks> categoryLayer_;  // the category tree cache
  node::CatalogFileCheck fileCheck_ = nullptr;          // verifyFirst's check, when registered
  // Last member: the asset layer's live records unbind the assets that outlive the node
  // before anything else of it goes.
  std::unique_ptr<node::LayerHooks> assetLayer_;
};

// Holds the per-catalog mutex for its lifetime, after applying pending change events
// (unless a dispatch is already running on this node). Throws as EventQueue::lock does.
class CatalogLockHold {
 public:
  explicit CatalogLockHold(NodeImpl& node);
  ~CatalogLockHold();
  CatalogLockHold(const CatalogLockHold&) = delete;
  CatalogLockHold& operator=(const CatalogLockHold&) = delete;

 private:
  NodeImpl& node_;  // whose catalog mutex is held
};

// Holds the per-catalog mutexes of two different catalogs for its lifetime, taken in the
// order of their catalog keys (the written lock order) by a thread that holds neither, then
// applies each node's pending change events. Throws as EventQueue::lock does, holding
// nothing then.
class CatalogPairHold {
 public:
  CatalogPairHold(NodeImpl& a, NodeImpl& b);
  ~CatalogPairHold();
  CatalogPairHold(const CatalogPairHold&) = delete;
  CatalogPairHold& operator=(const CatalogPairHold&) = delete;

 private:
  NodeImpl& first_;   // the smaller catalog key
  NodeImpl& second_;  // the larger one
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_NODEIMPL_H

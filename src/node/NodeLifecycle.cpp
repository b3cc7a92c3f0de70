// The catalog's lifecycle: create, open (format check, read-only copy, connections, queue
// attach, catalog state), close, and the file operations exists, remove and mode.
//
// create, exists, remove and mode run under the system mutex, so that none of them overlaps
// another anywhere on the machine. open waits for them, then copies and reads the catalog
// without it, and close detaches without it: a holder of the system mutex never waits for a
// per-catalog mutex or a catalog file's lock (platform/LockOrder.h), so these calls may be
// made from inside a transaction while other processes open and close the catalog. create
// writes a file nobody else can hold a lock on: the old one is deleted first, and opens of
// the new one wait for the system mutex.
#include <climits>
#include <random>

#include "node/CatalogId.h"
#include "node/FormatProbe.h"
#include "node/LockedCopy.h"
#include "node/NodeImpl.h"
#include "node/OpenProgress.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "node/Transaction.h"
#include "platform/Files.h"
#include "platform/Mutex.h"
#include "platform/SystemInfo.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr int kCategoryLoadWarning = 74;  // the category trees loaded with a warning

// A pseudo-random non-negative number for names of copies in the temporary directory.
int drawNumber() {
  static platform::Mutex lock{platform::LockRank::kNumbers, "number drawer lock"};
  static std::mt19937 engine{std::random_device{}()};
  platform::MutexLock hold(lock);
  return std::uniform_int_distribution<int>(0, INT_MAX)(engine);
}

// One lifecycle call (open, create, close, remove) of a node at a time. A call that finds
// another one running answers 20 rather than waiting: the running one may be waiting for a
// per-catalog mutex that the caller holds.
class LifecycleCall {
 public:
  explicit LifecycleCall(std::atomic<bool>& busy) : busy_(busy), entered_(!busy.exchange(true)) {}
  ~LifecycleCall() {
    if (entered_) busy_ = false;
  }
  LifecycleCall(const LifecycleCall&) = delete;
  LifecycleCall& operator=(const LifecycleCall&) = delete;
  bool entered() const { return entered_; }

 private:
  std::atomic<bool>& busy_;  // the node's mark
  bool entered_;             // this call set it
};

}  // namespace

Status NodeImpl::create(bool replace) {
  LifecycleCall call(lifecycleBusy_);
  if (!call.entered()) return StatusNotOpen;
  platform::NamedMutexHold system(systemMutex());
  if (isOpen()) return StatusNotOpen;  // never replace the files under open connections
  // A killed restore's set must not land on the new files.
  if (finishCatalogRenames() != StatusOk) return StatusCopyFailed;
  std::string main = mainFile(), blob = blobFile();
  if (platform::fileExists(main)) {
    if (!replace) return StatusExists;
    if (platform::deleteFile(main) != StatusOk) return StatusDeleteFailed;
  }
  platform::deleteFile(blob);
  platform::deleteFile(main + kJournalSuffix);
  platform::deleteFile(blob + kJournalSuffix);
  return makeCatalogFiles(main, blob);
}

Status NodeImpl::makeCatalogFiles(const std::string& main, const std::string& blob) {
  // A catalog without its id could never be opened: a create that fails leaves nothing
  // behind, whether the id could not be written or the connection could not be made.
  auto discard = [&] {
    platform::deleteFile(main);
    platform::deleteFile(blob);
    platform::deleteFile(main + kJournalSuffix);
    platform::deleteFile(blob + kJournalSuffix);
  };
  Status status = StatusOk;
  try {
    node::NodeConnection connection(main, blob, this, false);
    std::string sql = node::sqlFormat(node::kRegistryStore, node::kCatalogIdTag,
                                      node::generateCatalogId(main).c_str());
    status = node::execute(connection, sql);
    if (status != StatusOk) {
      node::ErrorRecord error = connection.lastError();
      connection.recordError(StatusSchemaFailed, error.engineCode, error.message, sql);
    }
  } catch (Status) {
    discard();
    throw;
  }
  if (status == StatusOk) return StatusOk;
  discard();
  return status == StatusReadOnly ? StatusReadOnly : StatusSchemaFailed;
}

Status NodeImpl::open(bool checkOnly, bool readOnlyCopy, const char* tempDir) {
  std::string temp = tempDir && *tempDir ? directoryText(tempDir) : platform::tempDirectory();
  LifecycleCall call(lifecycleBusy_);
  if (!call.entered()) return StatusNotOpen;
  if (isOpen()) return StatusNotOpen;  // before anything is saved or copied
  // A create, remove, mode change or restore of a catalog elsewhere on the machine ends
  // before this open looks at the files; a restore killed midway is completed first.
  {
    platform::NamedMutexHold system(systemMutex());
    if (finishCatalogRenames() != StatusOk) return StatusCopyFailed;  // else a mixed pair
  }
  {
    platform::WriterLock hold(nameLock_);
    savedName_ = name_;
    savedMainDir_ = mainDir_;
    savedBlobDir_ = blobDir_;
  }
  OpenProgress progress;
  Status status;
  try {
    status = openSteps(checkOnly, readOnlyCopy, temp, &progress);
  } catch (Status thrown) {
    status = thrown;
  } catch (...) {
    abandonOpen(progress);
    throw;
  }
  if (!progress.opened) abandonOpen(progress);
  if (progress.opened && progress.upgraded) keepOrRestoreUpgrade(progress, true);
  return status;
}

Status NodeImpl::openSteps(bool checkOnly, bool readOnlyCopy, const std::string& tempDir,
                           OpenProgress* progress) {
  std::string main = mainFile();
  if (!readOnlyCopy && platform::fileIsReadOnly(main)) return StatusReadOnly;
  // An interrupted write of the old engine (its journal beside the catalog's own files,
  // also those of a read-only copy) cannot be rolled back: nothing is copied or moved.
  if (node::oldJournalPresent(main, blobFile())) return StatusCorrupt;
  if (readOnlyCopy) {
    Status copied = makeReadOnlyCopy(tempDir, progress);
    if (copied != StatusOk) return copied;
    main = mainFile();
  }
  if (!platform::fileExists(main)) return StatusNotFound;
  std::string blob = blobFile();

  node::FormatCheck check = node::checkFormat(main, blob, this);
  if (check.status != StatusOk && check.status != StatusUpgradeNeeded) return check.status;
  if (checkOnly) return check.status;
  if (check.status == StatusUpgradeNeeded && check.format > node::kLastOldFormat) {
    Status upgraded = upgradeOldCatalog(main, blob, progress);
    if (upgraded != StatusOk) return upgraded;
  }

  // The queue first: once the pool is filled the node counts as open, and other threads'
  // transactions need the per-catalog mutex.
  queue_.attach(main);
  progress->attached = true;
  // Both shared descriptors before the connections take locks, so that no other RawFile user
  // of the process closes a file's last descriptor under them (the blob file may only come
  // into being with the first connection).
  mainRaw_ = platform::RawFile(main);
  blobRaw_ = platform::RawFile(blob);
  pool_.fill([&] { return std::make_unique<node::NodeConnection>(main, blob, this, false); });
  if (!blobRaw_.valid()) blobRaw_ = platform::RawFile(blob);

  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  pool_.generation(lease->stamp());
  if (!progress->dropped.empty())
    lease->recordError(StatusConstraint, 0, "upgrade dropped duplicate rows:\n" + progress->dropped,
                       "upgrade");
  Status loaded = loadCatalogState(*lease);
  if (loaded != StatusOk && loaded != kCategoryLoadWarning) return loaded;
  progress->opened = true;
  return loaded;
}

Status NodeImpl::makeReadOnlyCopy(const std::string& tempDir, OpenProgress* progress) {
  std::string base = static_cast<const char*>(name()) + std::string(kCopySuffix);
  std::string copy = base;
  while (platform::fileExists(tempDir + copy + kMainExtension) ||
         platform::fileExists(tempDir + copy + kBlobExtension))
    copy = base + std::to_string(drawNumber());
  // The blob file is taken from where the catalog's connections find it.
  std::vector<node::CopyPair> files{{mainFile(), tempDir + copy + kMainExtension}};
  std::string blob = blobFile();
  if (platform::fileExists(blob)) files.push_back({blob, tempDir + copy + kBlobExtension});
  Status status =
      node::lockedCopy(files, true, [&] { return rollBackJournals(files[0].from, blob); });
  if (status != StatusOk) {
    for (const auto& file : files) platform::deleteFile(file.to);  // names nobody else had
    return status;
  }
  platform::WriterLock hold(nameLock_);
  name_ = copy;
  mainDir_ = tempDir;
  blobDir_ = tempDir;
  readOnlyCopy_ = true;
  progress->copied = true;
  return StatusOk;
}

Status NodeImpl::loadCatalogState(node::NodeConnection& connection) {
  // The schema view (element index declarations, the table list) comes first.
  Status status = reloadSchemaView(connection);
  if (status != StatusOk) return status;
  status = assetLayer().load(connection);
  if (status != StatusOk) return status;
  // The category trees (74 counts as success).
  status = categoryLayer().load(connection);
  if (status != StatusOk && status != kCategoryLoadWarning) return status;
  String id;
  Status read =
      node::queryValue(connection, node::sqlFormat(node::kRegistryLoad, node::kCatalogIdTag), &id);
  if (read != StatusOk) return read;
  platform::WriterLock hold(nameLock_);
  catalogId_.assign(id.buffer(), id.length());
  return status;
}

void NodeImpl::abandonOpen(const OpenProgress& progress) {
  if (progress.attached) {
    try {
      queue_.detach(false);
    } catch (Status) {
      // the queue leaves the slot regardless
    }
  }
  clearLayers();
  pool_.clear();
  mainRaw_.reset();
  blobRaw_.reset();
  {
    platform::MutexLock hold(tablesLock_);
    tables_.clear();
  }
  schemaCookie_ = kNoSchemaCookie;
  {
    platform::WriterLock hold(nameLock_);
    catalogId_.clear();
  }
  if (progress.upgraded) keepOrRestoreUpgrade(progress, false);
  if (progress.copied) removeReadOnlyCopy();
}

void NodeImpl::removeReadOnlyCopy() {
  platform::WriterLock hold(nameLock_);
  platform::deleteFile(mainDir_ + name_ + kMainExtension);
  platform::deleteFile(mainDir_ + name_ + kBlobExtension);
  platform::deleteFile(mainDir_ + name_ + kMainExtension + kJournalSuffix);
  platform::deleteFile(mainDir_ + name_ + kBlobExtension + kJournalSuffix);
  name_ = savedName_;
  mainDir_ = savedMainDir_;
  blobDir_ = savedBlobDir_;  // a separate blob directory is kept
  readOnlyCopy_ = false;
}

Status NodeImpl::close() {
  return closeNode(false);
}

Status NodeImpl::closeNode(bool force) {
  // The destructor's close (force) runs when no other handle is left, so nothing else can
  // be running on the node then.
  LifecycleCall call(lifecycleBusy_);
  if (!call.entered() && !force) return StatusNotOpen;
  long me = platform::threadId();
  {
    platform::MutexLock threads(threadSetLock_);
    if (!force && !threadSet_.empty()) return StatusBusy;
  }
  // A node going away rolls its own thread's transaction back first.
  if (node::NodeConnection* own = pool_.heldBy(me)) {
    if (own->depth.load() > 0) {
      if (!force) return StatusBusy;
      own->depth = 1;
      node::rollbackTransaction(*own);
    }
  }
  if (!isOpen()) return StatusNotOpen;
  {
    // From here on begins answer 20; the thread-set lock is not held past this mark.
    platform::MutexLock threads(threadSetLock_);
    if (!force && !threadSet_.empty()) return StatusBusy;  // a begin came in meanwhile
    closing_ = true;
  }
  struct ClosingMark {  // taken off however the close ends
    NodeImpl& node;
    ~ClosingMark() {
      platform::MutexLock threads(node.threadSetLock_);
      node.closing_ = false;
    }
  } mark{*this};
  // A running monitor ends first (its handler methods may be calls still running); then no
  // new calls get a connection, and calls still running end first. The detach then holds no
  // lock of this node, and only tries the per-catalog mutex.
  stopMonitor();
  if (!force) pool_.beginClose(me);
  try {
    queue_.detach(false);
  } catch (Status) {
    // the queue leaves the slot regardless
  }
  pool_.clear();
  mainRaw_.reset();
  blobRaw_.reset();
  clearLayers();
  {
    platform::MutexLock hold(tablesLock_);
    tables_.clear();
  }
  schemaCookie_ = kNoSchemaCookie;
  bool copy;
  {
    platform::WriterLock hold(nameLock_);
    catalogId_.clear();
    copy = readOnlyCopy_;
  }
  if (copy) removeReadOnlyCopy();
  return StatusOk;
}

int NodeImpl::exists() {
  if (noCatalog_) return -1;
  platform::NamedMutexHold system(systemMutex());
  return platform::fileExists(mainFile()) ? 0 : -1;
}

Status NodeImpl::remove() {
  LifecycleCall call(lifecycleBusy_);
  if (!call.entered()) return StatusNotOpen;
  platform::NamedMutexHold system(systemMutex());
  if (isOpen()) return StatusNotOpen;
  // Else a killed restore's set would bring the files back.
  if (finishCatalogRenames() != StatusOk) return StatusCopyFailed;
  if (platform::deleteFile(mainFile()) != StatusOk) return StatusNotOpen;
  if (platform::deleteFile(blobFile()) != StatusOk) return StatusNotOpen;
  return StatusOk;
}

Status NodeImpl::mode(bool readOnly) {
  if (noCatalog_) return StatusNotOpen;
  platform::NamedMutexHold system(systemMutex());
  std::string main, blob;
  {
    platform::ReaderLock hold(nameLock_);
    main = mainDir_ + name_ + kMainExtension;
    blob = mainDir_ + name_ + kBlobExtension;  // the blob file beside the main file
  }
  if (platform::setFileReadOnly(main, readOnly) != StatusOk) return StatusPermissionFailed;
  if (platform::fileExists(blob) && platform::setFileReadOnly(blob, readOnly) != StatusOk)
    return StatusPermissionFailed;
  return StatusOk;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

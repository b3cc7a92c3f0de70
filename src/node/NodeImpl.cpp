// NodeImpl: construction, handles, the catalog's location and the state other layers read.
#include "node/NodeImpl.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "monitor/EventKinds.h"

namespace KESTRIN {
namespace Vendrithane {

std::string NodeImpl::directoryText(const char* dir) {
  std::string text = dir ? dir : "";
  if (text.empty()) return "./";
  std::replace(text.begin(), text.end(), '\\', '/');
  if (text.back() != '/') text += '/';
  return text;
}

NodeImpl::NodeImpl(const char* name, const char* mainDir, const char* blobDir) {
  path(mainDir, blobDir);
  this->name(String(name));
  queue_.giveBackIds = [this] { return giveBackUnusedIds(); };
}

NodeImpl::~NodeImpl() {
  try {
    closeNode(true);
  } catch (...) {
    // nothing can be reported from here; the queue detaches itself when destroyed
  }
  queue_.giveBackIds = nullptr;  // the connections are gone before the queue
}

void NodeImpl::addHandle() {
  platform::WriterLock hold(nameLock_);
  ++handles_;
}

bool NodeImpl::dropHandle() {
  platform::WriterLock hold(nameLock_);
  return --handles_ == 0;
}

bool NodeImpl::shareHandle() {
  platform::WriterLock hold(nameLock_);
  if (handles_ == 0) return false;
  ++handles_;
  return true;
}

void NodeImpl::markNoCatalog() {
  noCatalog_ = true;
  lifecycleBusy_ = true;  // every lifecycle call finds the node busy and answers 20
}

int NodeImpl::handles() const {
  platform::ReaderLock hold(nameLock_);
  return handles_;
}

String NodeImpl::name() const {
  platform::ReaderLock hold(nameLock_);
  return String(name_.c_str());
}

void NodeImpl::name(const String& name) {
  platform::WriterLock hold(nameLock_);
  name_.assign(name.buffer(), name.length());
}

String NodeImpl::path(bool blob) const {
  platform::ReaderLock hold(nameLock_);
  return String(blob ? blobDir_.c_str() : mainDir_.c_str());
}

void NodeImpl::path(const char* mainDir, const char* blobDir) {
  platform::WriterLock hold(nameLock_);
  std::string main = directoryText(mainDir);
  if (backupDir_ == mainDir_) backupDir_ = main;  // the backup directory follows
  mainDir_ = main;
  blobDir_ = blobDir && *blobDir ? directoryText(blobDir) : mainDir_;
}

std::string NodeImpl::mainFile() const {
  platform::ReaderLock hold(nameLock_);
  return mainDir_ + name_ + kMainExtension;
}

std::string NodeImpl::blobFile() const {
  platform::ReaderLock hold(nameLock_);
  return blobDir_ + name_ + kBlobExtension;
}

std::vector<String> NodeImpl::systemFilenames(bool withPath) const {
  platform::ReaderLock hold(nameLock_);
  std::string prefix = withPath ? mainDir_ + name_ : name_;
  return {String((prefix + kMainExtension).c_str()), String((prefix + kBlobExtension).c_str())};
}

String NodeImpl::backupName() const {
  platform::ReaderLock hold(nameLock_);
  return String(backupName_.c_str());
}

String NodeImpl::backupDirectory() const {
  platform::ReaderLock hold(nameLock_);
  return String(backupDir_.c_str());
}

bool NodeImpl::readOnlyCopy() const {
  platform::ReaderLock hold(nameLock_);
  return readOnlyCopy_;
}

String NodeImpl::catalogId() const {
  platform::ReaderLock hold(nameLock_);
  return String(catalogId_.c_str());
}

bool NodeImpl::knownTable(const std::string& table) const {
  platform::MutexLock hold(tablesLock_);
  return tables_.count(table) != 0;
}

void NodeImpl::addKnownTable(const std::string& table) {
  platform::MutexLock hold(tablesLock_);
  tables_.insert(table);
}

void NodeImpl::registerLayers(std::unique_ptr<node::LayerHooks> assets,
                              std::unique_ptr<node::CategoryHooks> categories) {
  assetLayer_ = std::move(assets);
  categoryLayer_ = std::move(categories);
}

void NodeImpl::clearLayers() {
  if (categoryLayer_) categoryLayer_->clear();
  if (assetLayer_) assetLayer_->clear();
}

namespace {

// The nodes the calling thread applies change events to (nested for two catalogs at most).
thread_local std::vector<const NodeImpl*> tDispatching;

class DispatchMark {
 public:
  explicit DispatchMark(const NodeImpl* node) { tDispatching.push_back(node); }
  ~DispatchMark() { tDispatching.pop_back(); }
  DispatchMark(const DispatchMark&) = delete;
  DispatchMark& operator=(const DispatchMark&) = delete;
};

}  // namespace

bool NodeImpl::dispatching() const {
  for (const NodeImpl* node : tDispatching)
    if (node == this) return true;
  return false;
}

void NodeImpl::dispatchPendingEvents() {
  if (!queue_.attached() || !categoryLayer_) return;
  queue_.assertLocked();
  // The common case of every outermost begin: nothing posted since the last dispatch.
  if (queue_.behind() == 0 && !rebuildPending_.load()) return;
  node::ConnectionLease lease(pool_);
  if (!lease) return;
  DispatchMark mark(this);
  std::vector<std::pair<int, int>> events;
  bool rebuild = queue_.lost() || rebuildPending_.load();
  if (queue_.lost()) queue_.catchUp();
  for (;;) {
    int id = -1;
    const int kind = queue_.readNext(&id);
    if (kind == monitor::kEventNone) break;
    if (kind == monitor::kEventCatalogChanged) rebuild = true;
    if (kind >= monitor::kEventCategoryAdded && kind <= monitor::kEventMembershipChanged &&
        !rebuild)
      events.emplace_back(kind, id);
  }
  if (rebuild) events.clear();
  if (!rebuild && events.empty()) return;
  Status applied;
  try {
    applied = categoryLayer_->applyEvents(*lease, events, rebuild);
  } catch (...) {
    applied = StatusEngineFailure;  // no memory, or the like: nothing may stop the caller
  }
  // Changes the cache could not read are read with the whole tree next time.
  rebuildPending_ = applied != StatusOk;
}

bool NodeImpl::functionCategoryDescends(long long node, long long ancestor) {
  return categoryLayer_ && categoryLayer_->descends(node, ancestor);
}

// Until the copy layer arrives, its node-bound functions have nothing to answer with.

bool NodeImpl::functionMapId(long long, long long*) {
  return false;
}

bool NodeImpl::functionCopyCategory(long long, long long*) {
  return false;
}

CatalogLockHold::CatalogLockHold(NodeImpl& node) : node_(node) {
  node_.queue().lock();
  try {
    if (!node_.dispatching()) node_.dispatchPendingEvents();
  } catch (...) {
    node_.queue().unlock();
    throw;
  }
}

CatalogLockHold::~CatalogLockHold() {
  node_.queue().unlock();
}

}  // namespace Vendrithane
}  // namespace KESTRIN

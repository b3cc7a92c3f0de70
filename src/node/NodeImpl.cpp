// NodeImpl: construction, handles, the catalog's location and the state other layers read.
#include "node/NodeImpl.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "monitor/EventKinds.h"
#include "node/CopyCalls.h"
#include "platform/SystemInfo.h"

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
  // A close with a monitor running past stopMonitor: it ends after its current step.
  queue_.stopMonitoringHandler = [this] {
    if (!monitorRunning_.load() || monitorThread_.load() == platform::threadId()) return false;
    monitorStop_ = true;
    return true;
  };
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

void NodeImpl::catalogId(const String& id) {
  platform::WriterLock hold(nameLock_);
  catalogId_.assign(id.buffer(), id.length());
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
  DispatchMark mark(this);
  bool rebuild = queue_.lost() || rebuildPending_.load();
  if (queue_.lost()) queue_.catchUp();
  std::vector<std::pair<int, int>> records;  // other nodes' records, in ring order
  for (;;) {
    int id = -1;
    const int kind = queue_.readNext(&id);
    if (kind == monitor::kEventNone) break;
    if (kind != monitor::kEventWakeUp) records.emplace_back(kind, id);
  }
  // A connection only for reads: records of other nodes' record changes need none.
  std::unique_ptr<node::ConnectionLease> lease;
  auto connection = [&]() -> node::NodeConnection* {
    try {
      if (!lease) lease = std::make_unique<node::ConnectionLease>(pool_);
    } catch (...) {
      return nullptr;  // a connection that failed its refresh: as closed
    }
    return lease->get();
  };
  // What the monitor hears, in ring order; (1, 0) and (1, 1) stand for the reload pair.
  std::vector<std::pair<int, int>> heard;
  if (rebuild) heard.emplace_back(monitor::kEventCatalogChanged, 0);
  for (const auto& record : records) {
    const int kind = record.first;
    if (kind == monitor::kEventCatalogChanged) {
      if (!rebuild) heard.emplace_back(monitor::kEventCatalogChanged, 0);
      rebuild = true;
    } else if (kind == monitor::kEventRecordUpdated || kind == monitor::kEventRecordDeleted) {
      applyEvent(nullptr, kind, record.second, &heard);
    } else if (!rebuild) {
      // The category records of a batch that rebuilds are read with the whole tree.
      node::NodeConnection* c = connection();
      if (c == nullptr) {
        rebuildPending_ = true;  // closing, or failing: the tree is read anew next time
        return;
      }
      applyEvent(c, kind, record.second, &heard);
    }
  }
  if (rebuild) {
    Status status = StatusNotOpen;
    try {
      if (node::NodeConnection* c = connection()) {
        status = categoryLayer_->applyEvents(*c, {}, true);
        // The index map and the table list: a kind 1 may have dropped or declared a type.
        if (status == StatusOk) status = reloadSchemaView(*c);
      }
    } catch (...) {
      status = StatusEngineFailure;  // no memory, or the like: nothing may stop the caller
    }
    rebuildPending_ = status != StatusOk;
    heard.emplace_back(monitor::kEventCatalogChanged, 1);
  }
  if (heard.empty()) return;
  platform::MutexLock hold(monitorEventsLock_);
  if (collecting_) monitorEvents_.insert(monitorEvents_.end(), heard.begin(), heard.end());
}

void NodeImpl::applyEvent(node::NodeConnection* connection, int kind, int id,
                          std::vector<std::pair<int, int>>* heard) {
  String label;
  bool heardOf = true;
  try {
    switch (kind) {
      case monitor::kEventCategoryAdded:
      case monitor::kEventCategoryUpdated:
      case monitor::kEventCategoryDeleted:
      case monitor::kEventMembershipChanged: {
        // A deletion is heard of when the category was in memory; an addition or an update
        // when its row could be read (a row gone since is dropped by the deletion after it).
        if (kind == monitor::kEventCategoryDeleted)
          heardOf = categoryLayer_->namespaceLabel(id, &label);
        if (categoryLayer_->applyEvents(*connection, {{kind, id}}, false) != StatusOk)
          rebuildPending_ = true;  // read with the whole tree next time
        if (kind == monitor::kEventCategoryAdded || kind == monitor::kEventCategoryUpdated)
          heardOf = categoryLayer_->namespaceLabel(id, &label);
        break;
      }
      case monitor::kEventRecordUpdated:
        // A live record is not rewritten behind its holder's back: its update() merges.
        break;
      case monitor::kEventRecordDeleted:
        heardOf = assetLayer_->forgetRecord(id);
        break;
      default:  // a wake-up, or a record of this node
        heardOf = false;
        break;
    }
  } catch (...) {
    rebuildPending_ = true;  // no memory, or the like: nothing may stop the caller
    heardOf = false;
  }
  if (heardOf) heard->emplace_back(kind, id);
}

Status NodeImpl::beginMonitor() {
  bool idle = false;
  if (!monitorRunning_.compare_exchange_strong(idle, true)) return StatusBusy;
  monitorStop_ = false;
  monitorThread_ = platform::threadId();
  {
    platform::MutexLock hold(monitorEventsLock_);
    collecting_ = true;
  }
  // After the registration: a close that no longer sees it has left the queue already.
  if (queue_.attachMonitor()) return StatusOk;
  {
    platform::MutexLock hold(monitorEventsLock_);
    collecting_ = false;
  }
  monitorThread_ = 0;
  monitorRunning_ = false;
  return StatusNotOpen;
}

void NodeImpl::endMonitor() {
  {
    platform::MutexLock hold(monitorEventsLock_);
    collecting_ = false;
    monitorEvents_.clear();
  }
  monitorThread_ = 0;
  monitorRunning_ = false;
  // A wake-up that saw the monitor running posts while this node is still counted.
  while (wakesInFlight_.load() > 0) std::this_thread::yield();
  try {
    queue_.detach(true);
  } catch (Status) {
    // the queue leaves the slot regardless
  }
}

void NodeImpl::wakeMonitor() {
  ++wakesInFlight_;
  if (monitorRunning_.load()) {
    try {
      queue_.post(monitor::kEventWakeUp, -1);
    } catch (Status) {
      // the node left the queue: the monitor's wait ends on its own
    }
  }
  --wakesInFlight_;
}

void NodeImpl::stopMonitor() {
  if (!monitorRunning_.load() || monitorThread_.load() == platform::threadId()) return;
  // The request and the wake-up are made again now and then: a monitor that was only
  // beginning may have cleared the request.
  for (int waited = 0; monitorRunning_.load() && waited < monitor::EventQueue::kDetachWaitMs;
       waited += kMonitorPollMs) {
    monitorStop_ = true;
    if (waited % monitor::EventQueue::kDetachStepMs == 0) wakeMonitor();
    std::this_thread::sleep_for(std::chrono::milliseconds(kMonitorPollMs));
  }
}

std::vector<std::pair<int, int>> NodeImpl::takeMonitorEvents() {
  std::vector<std::pair<int, int>> events;
  platform::MutexLock hold(monitorEventsLock_);
  events.swap(monitorEvents_);
  return events;
}

bool NodeImpl::monitorEventsWaiting() const {
  platform::MutexLock hold(monitorEventsLock_);
  return !monitorEvents_.empty();
}

bool NodeImpl::functionCategoryDescends(long long node, long long ancestor) {
  return categoryLayer_ && categoryLayer_->descends(node, ancestor);
}

bool NodeImpl::functionMapId(long long id, long long* mapped) {
  node::CopyCalls* copy = node::CopyScope::running(this);
  return copy != nullptr && copy->mapId(id, mapped);
}

bool NodeImpl::functionCopyCategory(long long id, long long* mapped) {
  node::CopyCalls* copy = node::CopyScope::running(this);
  return copy != nullptr && copy->copyCategory(id, mapped);
}

namespace node {

namespace {
thread_local CopyScope* tCopy = nullptr;  // the innermost copy of the calling thread
}  // namespace

CopyScope::CopyScope(const NodeImpl* source, CopyCalls* calls)
    : source_(source), calls_(calls), outer_(tCopy) {
  tCopy = this;
}

CopyScope::~CopyScope() {
  tCopy = outer_;
}

CopyCalls* CopyScope::running(const NodeImpl* source) {
  for (CopyScope* s = tCopy; s != nullptr; s = s->outer_)
    if (s->source_ == source) return s->calls_;
  return nullptr;
}

}  // namespace node

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

CatalogPairHold::CatalogPairHold(NodeImpl& a, NodeImpl& b)
    : first_(a.queue().key() < b.queue().key() ? a : b),
      second_(a.queue().key() < b.queue().key() ? b : a) {
  first_.queue().lock();
  try {
    second_.queue().lock();
  } catch (...) {
    first_.queue().unlock();
    throw;
  }
  try {
    if (!first_.dispatching()) first_.dispatchPendingEvents();
    if (!second_.dispatching()) second_.dispatchPendingEvents();
  } catch (...) {
    second_.queue().unlock();
    first_.queue().unlock();
    throw;
  }
}

CatalogPairHold::~CatalogPairHold() {
  second_.queue().unlock();
  first_.queue().unlock();
}

}  // namespace Vendrithane
}  // namespace KESTRIN

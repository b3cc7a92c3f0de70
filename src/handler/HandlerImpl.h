// The state behind a Handler, and the one delivery step that the loads, the sub-category
// walk and (later) the membership listing and the copy share.
//
// Locks, in this order (platform/LockOrder.h): the delivery lock, held for a whole load,
// replay or walk (before the per-catalog mutex, never after it); the options lock, guarding
// the option word, the flags and the connection a running statement is registered on; the
// results lock, guarding the kept and saved lists and the counts. All three are recursive:
// event methods run inside an operation and may call back into their handler.
#ifndef VENDRITHANE_HANDLER_HANDLERIMPL_H
#define VENDRITHANE_HANDLER_HANDLERIMPL_H

#include <memory>
#include <vector>

#include "platform/Mutex.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Category.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Handler.h"

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;
namespace node {
class NodeConnection;
}

class HandlerImpl {
 public:
  platform::RecursiveMutex deliveryLock{platform::LockRank::kHandlerDelivery, "delivery lock"};
  mutable platform::RecursiveMutex optionsLock{platform::LockRank::kHandlerState,
                                               "handler options lock"};
  mutable platform::RecursiveMutex resultsLock{platform::LockRank::kHandlerResults,
                                               "handler results lock"};

  int optionWord GUARDED_BY(optionsLock) = Handler::Deliver;
  bool active GUARDED_BY(optionsLock) = false;
  bool replaying GUARDED_BY(optionsLock) = false;
  bool stopped GUARDED_BY(optionsLock) = false;
  bool ready GUARDED_BY(optionsLock) = true;
  bool recordRows GUARDED_BY(optionsLock) = true;
  int timeout GUARDED_BY(optionsLock) = -1;
  // The connection whose statement a load runs now (stop() interrupts it), null otherwise.
  node::NodeConnection* running GUARDED_BY(optionsLock) = nullptr;
  // The thread that runs the operation, while one runs (reset() from another thread waits).
  long operationThread GUARDED_BY(optionsLock) = 0;
  // The node whose monitor runs this handler (stop() wakes it), null otherwise.
  NodeImpl* monitorNode GUARDED_BY(optionsLock) = nullptr;

  int assetCount GUARDED_BY(resultsLock) = 0;
  int categoryCount GUARDED_BY(resultsLock) = 0;
  std::vector<Asset> keptAssets GUARDED_BY(resultsLock);
  std::vector<Category> keptCategories GUARDED_BY(resultsLock);
  std::vector<Asset> savedAssets GUARDED_BY(resultsLock);
  std::vector<Category> savedCategories GUARDED_BY(resultsLock);
  std::unique_ptr<Filter> filter GUARDED_BY(resultsLock);  // the last load's (shared)
  int callbackFirst GUARDED_BY(resultsLock) = 0;
  int callbackLast GUARDED_BY(resultsLock) = -1;
  unsigned int progressCount GUARDED_BY(resultsLock) = 0;
  long long progressMax GUARDED_BY(resultsLock) = -1;  // negative: unknown
  unsigned int progressEvery GUARDED_BY(resultsLock) = 0xFFFFFFFFu;

  int options() const {
    platform::RecursiveLock hold(optionsLock);
    return optionWord;
  }
  bool option(int bit) const {
    platform::RecursiveLock hold(optionsLock);
    return (optionWord & bit) != 0;
  }
  bool isStopped() const {
    platform::RecursiveLock hold(optionsLock);
    return stopped;
  }
};

// The library's own access to a handler: its implementation and its private progress step.
struct HandlerAccess {
  static HandlerImpl& impl(Handler& handler) { return *handler.m_impl; }
  static void progressInc(Handler& handler, unsigned int flags) { handler.progressInc(flags); }
};

namespace handler {

constexpr unsigned int kProgressRow = 0;     // one item delivered
constexpr unsigned int kProgressFinal = 1;   // the end: count and completion
constexpr unsigned int kProgressReplay = 4;  // one item replayed

// One operation on a handler, from its start to its end: holds the delivery lock from
// construction; begin() marks the handler active (and the calling thread as the one
// running it), and the destructor clears that on every way out.
class Operation {
 public:
  explicit Operation(Handler& handler);
  ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // Whether a load may start: the handler is ready.
  bool ready() const;
  // Starts the operation; a load leaves the handler not ready.
  void begin(bool load);

 private:
  HandlerImpl& impl_;
  bool begun_ = false;
};

// Delivers one item: keeps it under Keep, calls the item event under Deliver when its index
// lies within the bounds, and takes one progress step. The index is the count of items of
// the mode before this one.
void deliver(Handler& handler, Asset& asset);
void deliver(Handler& handler, Category& category);
// The same with the value form of the category event, categoryEvent(category, value).
void deliver(Handler& handler, Category& category, int value);

}  // namespace handler
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_HANDLER_HANDLERIMPL_H

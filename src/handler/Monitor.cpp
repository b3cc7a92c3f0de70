// Node::monitor: the loop that tells a handler what other nodes of the catalog change.
//
// The cache work of each change is done by whichever thread of the node dispatches first,
// under the per-catalog mutex (NodeImpl::dispatchPendingEvents); this loop dispatches too,
// then calls the handler for what was queued for it, on its own thread, in ring order, with
// no lock of the node held. It holds a connection only while it dispatches.
#include <utility>
#include <vector>

#include "handler/HandlerImpl.h"
#include "monitor/EventKinds.h"
#include "node/NodeAccess.h"
#include "node/NodeImpl.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using platform::RecursiveLock;

constexpr int kMonitorWaitMs = 5000;  // the longest wait without a pulse of the catalog

// Calls the handler method of one queued change event.
void tell(Handler& handler, const std::pair<int, int>& event) {
  const int id = event.second;
  switch (event.first) {
    case monitor::kEventCatalogChanged:
      handler.reloadEvent(id == 0 ? Handler::Rebuild : Handler::RebuildDone);
      break;
    case monitor::kEventCategoryAdded:
      handler.categoryAddEvent(id);
      break;
    case monitor::kEventCategoryUpdated:
      handler.categoryUpdateEvent(id);
      break;
    case monitor::kEventCategoryDeleted:
      handler.categoryDeleteEvent(id);
      break;
    case monitor::kEventMembershipChanged:
      handler.categoryMembershipEvent(id);
      break;
    case monitor::kEventRecordUpdated:
      handler.assetUpdateEvent(id);
      break;
    case monitor::kEventRecordDeleted:
      handler.assetDeleteEvent(id);
      break;
    default:
      break;
  }
}

// Whether the monitor is to end: its handler was stopped, or the node is closing or was
// closed (from a handler method), which stops the handler as well.
bool ending(Handler& handler, NodeImpl& node) {
  if (!node.monitorStopRequested() && node.isOpen()) return handler.stopped();
  HandlerImpl& impl = HandlerAccess::impl(handler);
  RecursiveLock hold(impl.optionsLock);
  impl.stopped = true;
  return true;
}

void runMonitor(Handler& handler, NodeImpl& node) {
  while (!ending(handler, node)) {
    // The snapshot comes before the dispatch, so that a post in between ends the wait.
    const uint32_t seen = node.queue().snapshot();
    try {
      CatalogLockHold dispatch(node);
    } catch (Status) {
      // the per-catalog mutex is unusable now: try again after the wait
    }
    for (const auto& event : node.takeMonitorEvents()) {
      if (ending(handler, node)) return;
      tell(handler, event);
    }
    // Events another thread of the node queued meanwhile (or a handler method's own calls
    // did) are told without waiting; a handler method that closed the node ends it.
    if (!ending(handler, node) && !node.monitorEventsWaiting())
      node.queue().wait(seen, kMonitorWaitMs);
  }
}

}  // namespace

int Node::monitor(Handler& handler) {
  if (!m_impl->shareHandle()) return StatusNotOpen;
  Node keep = NodeAccess::adopt(m_impl);  // a close meanwhile does not free the node
  NodeImpl& node = *m_impl;
  const Status begun = node.beginMonitor();
  if (begun != StatusOk) return begun;
  HandlerImpl& impl = HandlerAccess::impl(handler);
  struct Registration {
    NodeImpl& node;
    HandlerImpl& impl;
    ~Registration() {
      {
        RecursiveLock hold(impl.optionsLock);
        impl.monitorNode = nullptr;  // stop() no longer wakes this node
      }
      node.endMonitor();
    }
  } registration{node, impl};
  handler::Operation operation(handler);  // one operation on the handler at a time
  {
    RecursiveLock hold(impl.optionsLock);
    impl.stopped = false;
    impl.monitorNode = &node;
  }
  operation.begin(false);
  handler.option(Handler::MonitorMode, true);
  runMonitor(handler, node);
  return StatusStopped;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

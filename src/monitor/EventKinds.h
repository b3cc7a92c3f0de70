// The kinds of change events that nodes post to the machine-wide queue and read from it.
// Layers that queue events need only these, not the queue's memory layout.
#ifndef VENDRITHANE_MONITOR_EVENTKINDS_H
#define VENDRITHANE_MONITOR_EVENTKINDS_H

namespace KESTRIN {
namespace Vendrithane {
namespace monitor {

enum EventKind {
  kEventWakeUp = 0,          // a monitor is being stopped
  kEventCatalogChanged = 1,  // rebuild every cache
  kEventCategoryAdded = 2,
  kEventCategoryUpdated = 3,
  kEventCategoryDeleted = 4,
  kEventMembershipChanged = 5,
  kEventRecordUpdated = 6,
  kEventRecordDeleted = 7,
  kEventNone = 8,  // returned by a read when nothing is pending
};

}  // namespace monitor
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_MONITOR_EVENTKINDS_H

// The machine-wide event section as laid out in memory: four queue slots, each with a ring of
// 65,536 event records and the catalog's id block. All integers are 32-bit little-endian.
// The object is world-writable, so every read from it is bounds-checked: ring indexes are
// masked with the constant mask and keys are looked at only up to their field's end.
#ifndef VENDRITHANE_MONITOR_SECTIONLAYOUT_H
#define VENDRITHANE_MONITOR_SECTIONLAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/EventKinds.h"

namespace KESTRIN {
namespace Vendrithane {
namespace monitor {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the section is little-endian");

constexpr int kSlotCount = 4;              // catalogs in use at once on the machine
constexpr uint32_t kRingCapacity = 65536;  // records per ring
constexpr uint32_t kRingMask = 65535;      // index mask of a ring
constexpr size_t kKeyBytes = 260;          // slot key field, terminator included

struct EventRecord {
  int32_t kind;     // event kind, 0 to 7
  int32_t id;       // record or category id, -1 when the kind has none
  uint32_t poster;  // machine-wide identity of the posting node
};

struct QueueSlot {
  char key[kKeyBytes];              // slot key, NUL-terminated; empty marks a free slot
  int32_t capacity;                 // 65536
  int32_t mask;                     // 65535
  int32_t attachCount;              // nodes of the machine attached to the slot
  uint32_t writeCount;              // records ever posted (wraps at 2^32)
  EventRecord ring[kRingCapacity];  // the ring of records
  int32_t nextId;                   // next id of the reserved block, -1 when none
  int32_t maxId;                    // end of the reserved block, -1 when none
};

struct SectionLayout {
  int32_t initialised;          // 1 once initialised (a new object reads 0)
  QueueSlot slots[kSlotCount];  // the four queue slots
};

static_assert(sizeof(EventRecord) == 12, "event record layout");
static_assert(offsetof(QueueSlot, ring) == 276, "queue slot layout");
static_assert(offsetof(QueueSlot, nextId) == 786708, "queue slot layout");
static_assert(sizeof(QueueSlot) == 786716, "queue slot layout");
static_assert(sizeof(SectionLayout) == 3146868, "section layout");

// Empties every slot and marks the section initialised.
void initialiseSection(SectionLayout* section);
// Gives a slot to the catalog with slot key `key` (at most 259 bytes): empty ring, write
// count 0, attach count 1, no id block.
void initialiseSlot(QueueSlot* slot, const std::string& key);
// Marks a slot free.
void freeSlot(QueueSlot* slot);
// The slot's key; "" for a free slot. `terminated` is false when the field holds no NUL
// (damaged bytes: such a slot belongs to nobody).
std::string slotKey(const QueueSlot& slot, bool* terminated);

}  // namespace monitor
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_MONITOR_SECTIONLAYOUT_H

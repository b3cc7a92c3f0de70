// Initialisation of the section and its slots.
#include "monitor/SectionLayout.h"

#include <algorithm>
#include <cstring>

namespace KESTRIN {
namespace Vendrithane {
namespace monitor {

namespace {

void resetSlot(QueueSlot* slot) {
  slot->capacity = static_cast<int32_t>(kRingCapacity);
  slot->mask = static_cast<int32_t>(kRingMask);
  slot->attachCount = 0;
  slot->writeCount = 0;
  memset(slot->ring, 0, sizeof slot->ring);
  slot->nextId = -1;
  slot->maxId = -1;
}

}  // namespace

void initialiseSection(SectionLayout* section) {
  for (QueueSlot& slot : section->slots) {
    freeSlot(&slot);
    resetSlot(&slot);
  }
  __atomic_store_n(&section->initialised, 1, __ATOMIC_RELEASE);
}

void initialiseSlot(QueueSlot* slot, const std::string& key) {
  resetSlot(slot);
  memset(slot->key, 0, kKeyBytes);
  memcpy(slot->key, key.data(), std::min(key.size(), kKeyBytes - 1));
  slot->attachCount = 1;
}

void freeSlot(QueueSlot* slot) {
  slot->key[0] = 0;
  slot->key[1] = 0;
}

std::string slotKey(const QueueSlot& slot, bool* terminated) {
  size_t n = strnlen(slot.key, kKeyBytes);
  *terminated = n < kKeyBytes;
  return std::string(slot.key, n);
}

}  // namespace monitor
}  // namespace Vendrithane
}  // namespace KESTRIN

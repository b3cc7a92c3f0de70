// The machine-wide counter: an atomic increment in a small object file.
#include "platform/MachineCounter.h"

#include "platform/ObjectNames.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

MachineCounter::MachineCounter(const std::string& name) : object_(objectPath(name), kObjectSize) {}

uint32_t MachineCounter::next() {
  auto* word = static_cast<uint32_t*>(object_.data());
  uint32_t value;
  do {
    value = __atomic_add_fetch(word, 1u, __ATOMIC_RELAXED);
  } while (value == 0);
  return value;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

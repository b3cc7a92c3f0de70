// MachineCounter: a 32-bit counter shared by every process of the machine, used to give
// each node an identity that no other live node of the machine has.
#ifndef VENDRITHANE_PLATFORM_MACHINECOUNTER_H
#define VENDRITHANE_PLATFORM_MACHINECOUNTER_H

#include <cstdint>
#include <string>

#include "platform/SharedObject.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

class MachineCounter {
 public:
  static constexpr size_t kObjectSize = 4;  // the counter word

  // Opens or makes the counter called `name`. Throws StatusSharedObjectFailed.
  explicit MachineCounter(const std::string& name);
  // The next value, never 0 (the counter skips it when it wraps).
  uint32_t next();

 private:
  SharedObject object_;  // the mapped counter word
};

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_MACHINECOUNTER_H

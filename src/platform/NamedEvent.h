// NamedEvent: a machine-wide pulse event. A pulse releases every thread of every process
// waiting at that moment; nothing stays signalled. Waiters take a snapshot first and wait
// on it, so that a pulse between the two is never lost.
#ifndef VENDRITHANE_PLATFORM_NAMEDEVENT_H
#define VENDRITHANE_PLATFORM_NAMEDEVENT_H

#include <cstdint>
#include <string>

#include "platform/SharedObject.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

class NamedEvent {
 public:
  static constexpr size_t kObjectSize = 4;  // the 32-bit generation word

  NamedEvent() = default;
  // Opens or makes the event called `name`. Throws StatusSharedObjectFailed.
  explicit NamedEvent(const std::string& name);

  bool valid() const { return object_.valid(); }
  const std::string& path() const { return path_; }

  uint32_t snapshot() const;  // the current generation
  // Waits until a pulse after `seen` or `timeoutMs` milliseconds. True when pulsed (also at
  // once when a pulse came since `seen` was taken), false on time-out.
  bool wait(uint32_t seen, int timeoutMs) const;
  void pulse();
  void close() { object_.reset(); }

 private:
  uint32_t* word() const { return static_cast<uint32_t*>(object_.data()); }

  SharedObject object_;  // the mapped generation word
  std::string path_;     // its file
};

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_NAMEDEVENT_H

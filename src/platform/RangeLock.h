// Byte-range locks owned by an open file description (not by the process): they conflict
// with the engine's POSIX locks, also within this process, and closing some other
// descriptor of the file does not drop them. They have no deadlock detection: never wait
// for one while this thread holds a transaction on the same file.
#ifndef VENDRITHANE_PLATFORM_RANGELOCK_H
#define VENDRITHANE_PLATFORM_RANGELOCK_H

#include <cstdint>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

// Locks `length` bytes at `offset` of the open file `fd`, exclusively or shared. With
// `wait` the call blocks until it is granted; without, it fails at once when it conflicts.
bool lockRange(int fd, int64_t offset, int64_t length, bool exclusive, bool wait);
// As lockRange, telling a conflict from a failure (a descriptor or range the call cannot
// lock, no lock left in the kernel): Busy only when someone else holds a conflicting lock.
enum class LockResult { Granted, Busy, Failed };
LockResult lockRangeResult(int fd, int64_t offset, int64_t length, bool exclusive, bool wait);
// Releases a range locked through the same descriptor.
bool unlockRange(int fd, int64_t offset, int64_t length);

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_RANGELOCK_H

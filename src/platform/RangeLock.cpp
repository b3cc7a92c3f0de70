// Open-file-description byte-range locks.
#include "platform/RangeLock.h"

#include <fcntl.h>

#include <cerrno>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

bool setLock(int fd, int command, short type, int64_t offset, int64_t length) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = length;
  fl.l_pid = 0;  // required for open-file-description locks
  int rc;
  do {
    rc = fcntl(fd, command, &fl);
  } while (rc != 0 && errno == EINTR && command == F_OFD_SETLKW);
  return rc == 0;
}

}  // namespace

bool lockRange(int fd, int64_t offset, int64_t length, bool exclusive, bool wait) {
  return setLock(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, exclusive ? F_WRLCK : F_RDLCK, offset,
                 length);
}

LockResult lockRangeResult(int fd, int64_t offset, int64_t length, bool exclusive, bool wait) {
  if (lockRange(fd, offset, length, exclusive, wait)) return LockResult::Granted;
  return errno == EAGAIN || errno == EACCES ? LockResult::Busy : LockResult::Failed;
}

bool unlockRange(int fd, int64_t offset, int64_t length) {
  return setLock(fd, F_OFD_SETLK, F_UNLCK, offset, length);
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

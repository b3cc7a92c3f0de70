// Liveness files: shared flocks held by the users of a catalog slot.
#include "platform/LivenessFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ObjectNames.h"
#include "platform/SharedObject.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

void LivenessFile::hold(const std::string& name) {
  release();
  int fd = openOrCreateObjectFile(objectPath(name), 0, nullptr);
  int rc;
  do {
    rc = flock(fd, LOCK_SH);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    throw StatusSharedObjectFailed;
  }
  fd_ = fd;
}

void LivenessFile::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor of the open file drops its lock
  fd_ = -1;
}

bool LivenessFile::othersHold(const std::string& name) {
  if (fd_ < 0) return inUse(name);
  flock(fd_, LOCK_UN);
  bool used = inUse(name);
  int rc;
  do {
    rc = flock(fd_, LOCK_SH);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) throw StatusSharedObjectFailed;
  return used;
}

bool LivenessFile::inUse(const std::string& name) {
  int fd = open(objectPath(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno != ENOENT;  // a file we cannot look at is left to its owner
  bool used = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return used;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

// LivenessFile: proof that a process still uses a catalog slot. Every process attached to
// a slot holds a shared flock on the catalog's liveness file; the kernel drops it when the
// process dies, however it dies.
#ifndef VENDRITHANE_PLATFORM_LIVENESSFILE_H
#define VENDRITHANE_PLATFORM_LIVENESSFILE_H

#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

class LivenessFile {
 public:
  LivenessFile() = default;
  ~LivenessFile() { release(); }
  LivenessFile(const LivenessFile&) = delete;
  LivenessFile& operator=(const LivenessFile&) = delete;

  // Opens or makes the liveness file called `name` and takes a shared lock on it.
  // Throws StatusSharedObjectFailed.
  void hold(const std::string& name);
  void release();  // drops the lock and the descriptor
  bool held() const { return fd_ >= 0; }

  // Whether any process (this one included) holds the liveness file called `name`.
  // A missing file has no holder.
  static bool inUse(const std::string& name);
  // Whether anyone but this holder holds the liveness file called `name`, which this one
  // holds; the hold is kept. Callers serialise these tests as they do inUse (the system
  // mutex), so that nobody else holds the file exclusively meanwhile.
  bool othersHold(const std::string& name);

 private:
  int fd_ = -1;  // descriptor carrying the shared lock
};

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_LIVENESSFILE_H

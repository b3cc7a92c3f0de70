// RawFile: the process's one descriptor of a catalog file for reads outside the engine
// (the format probe, the free-page count) and for the locked copy. POSIX locks of the whole
// process on a file vanish when any descriptor of it is closed, so a descriptor is shared
// by every RawFile of the process naming the same file (same device and inode) and closed
// only when the last of them goes. A node keeps one RawFile of each of its files while
// its connections are open, so that the probe never closes the file under them.
#ifndef VENDRITHANE_PLATFORM_RAWFILE_H
#define VENDRITHANE_PLATFORM_RAWFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

struct RawFileEntry;  // one descriptor of the process-wide registry

class RawFile {
 public:
  RawFile() = default;
  // Opens (or shares) the descriptor of `path`: read-write where the permissions allow,
  // else read-only. valid() tells whether it could. The library never writes through it.
  explicit RawFile(const std::string& path);
  ~RawFile() { reset(); }
  RawFile(RawFile&& other) noexcept;
  RawFile& operator=(RawFile&& other) noexcept;
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  bool valid() const { return entry_ != nullptr; }
  int fd() const;  // the shared descriptor, -1 when not valid
  // Reads up to `n` bytes at `offset`; returns the count read, -1 on failure.
  int64_t readAt(int64_t offset, void* buffer, size_t n) const;
  int64_t size() const;  // the file's size now, -1 when it cannot be read
  // Copies the whole file, read through the shared descriptor at explicit offsets
  // (copy_file_range, else pread), to a new file `to` (owner read-write; an existing one
  // fails when `failIfExists`, else is replaced), synced to disk. A failed copy leaves no
  // file `to`. 0, or 11.
  Status copyTo(const std::string& to, bool failIfExists) const;
  // Exclusive use of the file's shared descriptor for a locked copy: the threads of the
  // process share one descriptor, so one's unlock would free another's byte-range lock.
  // claimForCopy waits until no other RawFile of the file holds the claim.
  void claimForCopy();
  void releaseCopyClaim();
  void reset();

  static size_t openCount();  // descriptors the registry keeps (for tests)

 private:
  RawFileEntry* entry_ = nullptr;  // registry entry, owned by the registry
};

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_RAWFILE_H

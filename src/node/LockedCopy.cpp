// The locked copy. Sources are read through the process's shared descriptor of each file
// (RawFile), never through a descriptor of their own: closing one would drop the engine's
// locks of this process on the file.
#include "node/LockedCopy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Files.h"
#include "platform/RangeLock.h"
#include "platform/RawFile.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

// Takes the shared-lock range of `file`: exclusively, or shared where the descriptor
// cannot carry a write lock.
bool lockSource(const platform::RawFile& file) {
  return platform::lockRange(file.fd(), kSharedRangeOffset, kSharedRangeLength, true, true) ||
         platform::lockRange(file.fd(), kSharedRangeOffset, kSharedRangeLength, false, true);
}

bool writeAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

Status copyOne(const platform::RawFile& source, const std::string& to, bool failIfExists) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  int out = open(to.c_str(), flags, 0600);
  if (out < 0) return StatusCopyFailed;
  char buffer[64 * 1024];
  bool ok = true;
  for (int64_t offset = 0;;) {
    int64_t n = source.readAt(offset, buffer, sizeof buffer);
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!writeAll(out, buffer, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
    offset += n;
  }
  ok = fdatasync(out) == 0 && ok;
  ok = close(out) == 0 && ok;
  if (!ok) {
    unlink(to.c_str());
    return StatusCopyFailed;
  }
  return platform::setFileReadOnly(to, false) == StatusOk ? StatusOk : StatusReadOnly;
}

}  // namespace

Status lockedCopy(const std::vector<CopyPair>& files, bool failIfExists) {
  std::vector<platform::RawFile> sources;
  sources.reserve(files.size());
  for (const CopyPair& pair : files) {
    sources.emplace_back(pair.from);
    if (!sources.back().valid()) return StatusCopyFailed;
  }
  size_t locked = 0;
  while (locked < sources.size() && lockSource(sources[locked])) ++locked;
  Status status = locked == sources.size() ? StatusOk : StatusCopyFailed;
  for (size_t i = 0; i < files.size() && status == StatusOk; ++i)
    status = copyOne(sources[i], files[i].to, failIfExists);
  for (size_t i = 0; i < locked; ++i)
    platform::unlockRange(sources[i].fd(), kSharedRangeOffset, kSharedRangeLength);
  return status;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

// The locked copy. Sources are read through the process's shared descriptor of each file
// (RawFile), never through a descriptor of their own: closing one would drop the engine's
// locks of this process on the file.
#include "node/LockedCopy.h"

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
    status = sources[i].copyTo(files[i].to, failIfExists);
  for (size_t i = 0; i < locked; ++i)
    platform::unlockRange(sources[i].fd(), kSharedRangeOffset, kSharedRangeLength);
  return status;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

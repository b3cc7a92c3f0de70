// The locked copy. Sources are read through the process's shared descriptor of each file
// (RawFile), never through a descriptor of their own: closing one would drop the engine's
// locks of this process on the file.
#include "node/LockedCopy.h"

#include <chrono>
#include <thread>

#include "platform/Files.h"
#include "platform/RangeLock.h"
#include "platform/RawFile.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

constexpr int kLaterFileTries = 400;  // 5 ms apart: 2 s for a later file before starting again
constexpr int kTryPauseMs = 5;
constexpr int kRestartPauseMs = 20;

struct Range {
  long long offset;
  long long length;
};
// In the order the engine's writers take them.
constexpr Range kRanges[] = {
    {kReservedByte, 1}, {kPendingByte, 1}, {kSharedRangeOffset, kSharedRangeLength}};

void unlockSource(const platform::RawFile& file) {
  for (const Range& range : kRanges) platform::unlockRange(file.fd(), range.offset, range.length);
}

// Takes the writer's locks of `file`: exclusively, or shared where the descriptor cannot
// carry a write lock. With `wait` each step waits; without, a step that conflicts gives up.
// Busy or Failed (a lock that cannot be taken at all) release what was taken.
platform::LockResult lockSource(const platform::RawFile& file, bool wait) {
  for (const Range& range : kRanges) {
    if (platform::lockRangeResult(file.fd(), range.offset, range.length, true, wait) ==
        platform::LockResult::Granted)
      continue;
    platform::LockResult shared =
        platform::lockRangeResult(file.fd(), range.offset, range.length, false, wait);
    if (shared == platform::LockResult::Granted) continue;
    unlockSource(file);
    return shared;
  }
  return platform::LockResult::Granted;
}

// Locks every source: the first waiting, each later one tried for a while. Busy when a later
// one stayed taken, Failed when one cannot be locked at all (nothing is held then).
platform::LockResult lockAll(std::vector<platform::RawFile>& sources) {
  for (size_t i = 0; i < sources.size(); ++i) {
    platform::LockResult locked =
        i == 0 ? lockSource(sources[i], true) : platform::LockResult::Busy;
    for (int tries = 0; i > 0 && locked == platform::LockResult::Busy && tries < kLaterFileTries;
         ++tries) {
      locked = lockSource(sources[i], false);
      if (locked == platform::LockResult::Busy)
        std::this_thread::sleep_for(std::chrono::milliseconds(kTryPauseMs));
    }
    if (locked != platform::LockResult::Granted) {
      for (size_t j = 0; j < i; ++j) unlockSource(sources[j]);
      return locked;
    }
  }
  return platform::LockResult::Granted;
}

// Holds the process's copy claim of every source for its lifetime (in order).
struct Claims {
  std::vector<platform::RawFile>& sources;
  explicit Claims(std::vector<platform::RawFile>& files) : sources(files) {
    for (platform::RawFile& file : sources) file.claimForCopy();
  }
  ~Claims() {
    for (platform::RawFile& file : sources) file.releaseCopyClaim();
  }
  Claims(const Claims&) = delete;
  Claims& operator=(const Claims&) = delete;
};

}  // namespace

std::string journalOf(const std::string& file) {
  return file + "-journal";
}

Status lockedCopy(const std::vector<CopyPair>& files, bool failIfExists,
                  const std::function<Status()>& rollBack, std::vector<platform::RawFile>* opened) {
  for (int attempt = 0;; ++attempt) {
    bool journal = false;
    Status status = StatusOk;
    size_t copied = 0;  // targets written
    {
      std::vector<platform::RawFile> own;
      if (!opened) {
        own.reserve(files.size());
        for (const CopyPair& pair : files) own.emplace_back(pair.from);
      }
      std::vector<platform::RawFile>& sources = opened ? *opened : own;
      if (sources.size() != files.size()) return StatusCopyFailed;
      for (const platform::RawFile& file : sources)
        if (!file.valid()) return StatusCopyFailed;
      Claims claims(sources);
      platform::LockResult locked;
      while ((locked = lockAll(sources)) == platform::LockResult::Busy)
        std::this_thread::sleep_for(std::chrono::milliseconds(kRestartPauseMs));
      if (locked == platform::LockResult::Failed) return StatusCopyFailed;
      // With the locks held no writer can own a journal: one that is there is hot.
      for (const CopyPair& pair : files)
        journal = journal || platform::fileStartsNonZero(journalOf(pair.from));
      for (; copied < files.size() && !journal && status == StatusOk; ++copied) {
        status = sources[copied].copyTo(files[copied].to, failIfExists);
        if (status == StatusCopyFailed) break;  // the failed copy left no target
      }
      for (platform::RawFile& file : sources) unlockSource(file);
    }
    if (!journal) {
      if (status != StatusOk)
        for (size_t i = 0; i < copied; ++i) platform::deleteFile(files[i].to);
      return status;
    }
    if (attempt > 0 || !rollBack) return StatusCopyFailed;
    Status rolled = rollBack();
    if (rolled != StatusOk) return rolled;
  }
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

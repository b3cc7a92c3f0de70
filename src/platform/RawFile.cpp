// The process-wide registry of raw-read descriptors, keyed by device and inode.
#include "platform/RawFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "platform/Mutex.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

struct RawFileEntry {
  dev_t dev;               // device of the file
  ino_t ino;               // inode of the file; cannot be reused while the descriptor stays open
  int fd;                  // the shared read-only descriptor
  int refs;                // RawFiles using it, guarded by the registry lock
  std::vector<int> spare;  // further descriptors of the file, closed together with fd
  bool copying = false;    // a locked copy holds the claim; guarded by the registry lock
};

namespace {

// Never destroyed, so that RawFiles released during the process's exit still find it.
struct Registry {
  Mutex lock{LockRank::kRawFiles, "raw-file registry lock"};  // guards the map and the counts
  std::map<std::pair<dev_t, ino_t>, std::unique_ptr<RawFileEntry>> entries;
  ConditionVariable claimReleased;  // a copy claim was given up
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

}  // namespace

RawFile::RawFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  platform::MutexLock hold(registry().lock);
  auto found = registry().entries.find(std::make_pair(st.st_dev, st.st_ino));
  if (found != registry().entries.end()) {
    entry_ = found->second.get();
    ++entry_->refs;
    return;
  }
  // Read-write where permitted, so that the locked copy can take write locks through it.
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  // The name may have been replaced between stat and open: the entry is the file actually
  // opened. A descriptor is never closed on its own while the file may be in use here
  // (closing any descriptor of a file drops all of this process's locks on it), so a
  // second descriptor of a registered file is kept until that entry closes.
  struct stat opened;
  if (fstat(fd, &opened) != 0) {
    close(fd);  // not registered, so no lock of this process can rest on it through us
    return;
  }
  auto key = std::make_pair(opened.st_dev, opened.st_ino);
  found = registry().entries.find(key);
  if (found != registry().entries.end()) {
    entry_ = found->second.get();
    entry_->spare.push_back(fd);
    ++entry_->refs;
    return;
  }
  auto entry = std::make_unique<RawFileEntry>(RawFileEntry{key.first, key.second, fd, 1, {}});
  entry_ = entry.get();
  registry().entries.emplace(key, std::move(entry));
}

RawFile::RawFile(RawFile&& other) noexcept : entry_(other.entry_) {
  other.entry_ = nullptr;
}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
  if (this != &other) {
    reset();
    entry_ = other.entry_;
    other.entry_ = nullptr;
  }
  return *this;
}

int RawFile::fd() const {
  return entry_ ? entry_->fd : -1;
}

int64_t RawFile::readAt(int64_t offset, void* buffer, size_t n) const {
  if (!entry_) return -1;
  size_t done = 0;
  while (done < n) {
    ssize_t r = pread(entry_->fd, static_cast<char*>(buffer) + done, n - done,
                      static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

void RawFile::reset() {
  if (!entry_) return;
  platform::MutexLock hold(registry().lock);
  if (--entry_->refs == 0) {
    close(entry_->fd);
    for (int fd : entry_->spare) close(fd);
    registry().entries.erase(std::make_pair(entry_->dev, entry_->ino));
  }
  entry_ = nullptr;
}

void RawFile::claimForCopy() {
  if (!entry_) return;
  platform::MutexLock hold(registry().lock);
  while (entry_->copying) registry().claimReleased.wait(registry().lock);
  entry_->copying = true;
}

void RawFile::releaseCopyClaim() {
  if (!entry_) return;
  platform::MutexLock hold(registry().lock);
  entry_->copying = false;
  registry().claimReleased.notify_all();
}

size_t RawFile::openCount() {
  platform::MutexLock hold(registry().lock);
  return registry().entries.size();
}

int64_t RawFile::size() const {
  struct stat st;
  if (!valid() || fstat(fd(), &st) != 0 || st.st_size < 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

Status RawFile::copyTo(const std::string& to, bool failIfExists) const {
  int64_t length = size();
  if (length < 0) return StatusCopyFailed;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  int out = open(to.c_str(), flags, 0600);
  if (out < 0) return StatusCopyFailed;
  bool ok = true;
  loff_t inOff = 0, outOff = 0;
  // The kernel's copy first; reads and writes where it cannot copy between the two file
  // systems. Offsets are explicit: the shared descriptor's own position is never moved.
  while (inOff < length) {
    ssize_t n = copy_file_range(fd(), &inOff, out, &outOff, static_cast<size_t>(length - inOff), 0);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP && errno != ENOSYS)
      ok = false;
    break;
  }
  char buffer[64 * 1024];
  while (ok && inOff < length) {
    size_t want = static_cast<size_t>(std::min<int64_t>(sizeof buffer, length - inOff));
    int64_t n = readAt(inOff, buffer, want);
    if (n <= 0) {
      ok = false;
      break;
    }
    for (int64_t done = 0; ok && done < n;) {
      ssize_t w = pwrite(out, buffer + done, static_cast<size_t>(n - done), outOff);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) ok = false;
      if (w > 0) {
        done += w;
        outOff += w;
      }
    }
    inOff += n;
  }
  ok = fdatasync(out) == 0 && ok;
  ok = close(out) == 0 && ok;
  if (!ok) {
    unlink(to.c_str());
    return StatusCopyFailed;
  }
  return setFileReadOnly(to, false) == StatusOk ? StatusOk : StatusReadOnly;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

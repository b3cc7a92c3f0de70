// Creation of object files without a visible half-made state, and the process-wide registry
// of their mappings.
#include "platform/SharedObject.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <utility>

#include "platform/Mutex.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

struct MappingEntry {
  dev_t dev;    // device of the mapped file
  ino_t ino;    // inode of the mapped file (a recreated object is a different mapping)
  void* addr;   // start of the mapping
  size_t size;  // mapped bytes
  int refs;     // SharedObjects referring to it, guarded by the registry lock
  int holds;    // mutexes held inside it by threads of this process, guarded likewise
};

namespace {

// The registry outlives every static object of the host (it is never destroyed), so that
// handles released during the process's exit still find it.
struct Registry {
  Mutex lock{LockRank::kRegistry, "mapping registry lock"};  // guards the map and the counters
  std::map<std::pair<dev_t, ino_t>, std::unique_ptr<MappingEntry>> entries;
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}
std::atomic<unsigned> gTempSerial{0};  // makes temporary names unique within the process

// Opens an existing object file; -1 with errno when it cannot.
int openExisting(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
}

// A new, still invisible file in the directory of `path`: nameless (O_TMPFILE) where the file
// system allows it, so that a process killed before the link leaves nothing behind;
// otherwise under a unique temporary name, returned in *temp. -1 on failure.
int makeInvisibleFile(const std::string& path, std::string* temp) {
  temp->clear();
  const std::string dir = path.substr(0, path.rfind('/') + 1);
  int fd = open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(gTempSerial++);
    fd = open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Gives the invisible file its final name; false with errno (EEXIST: another process won).
bool linkIntoPlace(int fd, const std::string& temp, const std::string& path) {
  if (!temp.empty()) return link(temp.c_str(), path.c_str()) == 0;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Makes the object as an invisible file and links it into place. Returns the descriptor of
// the object now at `path` (ours or a racing winner's), -1 on failure.
int createObject(const std::string& path, size_t size, const std::function<void(void*)>& init) {
  std::string temp;
  int fd = makeInvisibleFile(path, &temp);
  if (fd < 0) return -1;
  bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
  if (ok && init && size > 0) {
    void* addr = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ok = addr != MAP_FAILED;
    if (ok) {
      init(addr);
      munmap(addr, size);
    }
  }
  ok = ok && fchmod(fd, 0666) == 0;
  if (ok && !linkIntoPlace(fd, temp, path)) {
    ok = false;
    if (errno == EEXIST) {  // another process won the race: use its object
      if (!temp.empty()) unlink(temp.c_str());
      close(fd);
      return openExisting(path);
    }
  }
  if (!temp.empty()) unlink(temp.c_str());
  if (!ok) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int openOrCreateObjectFile(const std::string& path, size_t size,
                           const std::function<void(void*)>& init) {
  int fd = openExisting(path);
  if (fd < 0 && errno == ENOENT) fd = createObject(path, size, init);
  if (fd < 0) throw StatusSharedObjectFailed;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) != size) {
    close(fd);  // a wrong size would raise SIGBUS on access beyond the end
    throw StatusSharedObjectFailed;
  }
  return fd;
}

void removeObjectFile(const std::string& path) {
  unlink(path.c_str());
}

SharedObject::SharedObject(const std::string& path, size_t size,
                           const std::function<void(void*)>& init) {
  int fd = openOrCreateObjectFile(path, size, init);
  struct stat st;
  fstat(fd, &st);
  platform::MutexLock hold(registry().lock);
  auto key = std::make_pair(st.st_dev, st.st_ino);
  auto found = registry().entries.find(key);
  if (found != registry().entries.end()) {
    close(fd);
    entry_ = found->second.get();
    ++entry_->refs;
    return;
  }
  void* addr = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (addr == MAP_FAILED) throw StatusSharedObjectFailed;
  auto entry = std::make_unique<MappingEntry>(MappingEntry{st.st_dev, st.st_ino, addr, size, 1, 0});
  entry_ = entry.get();
  registry().entries.emplace(key, std::move(entry));
}

SharedObject::SharedObject(SharedObject&& other) noexcept : entry_(other.entry_) {
  other.entry_ = nullptr;
}

SharedObject& SharedObject::operator=(SharedObject&& other) noexcept {
  if (this != &other) {
    reset();
    entry_ = other.entry_;
    other.entry_ = nullptr;
  }
  return *this;
}

void* SharedObject::data() const {
  return entry_ ? entry_->addr : nullptr;
}
size_t SharedObject::size() const {
  return entry_ ? entry_->size : 0;
}

// Unmaps an entry nobody refers to and no thread holds a mutex in. Caller holds the lock.
static void dropIfUnused(MappingEntry* entry) {
  if (entry->refs > 0 || entry->holds > 0) return;
  munmap(entry->addr, entry->size);
  registry().entries.erase(std::make_pair(entry->dev, entry->ino));
}

void SharedObject::reset() {
  if (!entry_) return;
  platform::MutexLock hold(registry().lock);
  --entry_->refs;
  dropIfUnused(entry_);
  entry_ = nullptr;
}

void SharedObject::noteHeld() const {
  platform::MutexLock hold(registry().lock);
  ++entry_->holds;
}

void SharedObject::noteReleased() const {
  platform::MutexLock hold(registry().lock);
  --entry_->holds;
}

size_t SharedObject::mappingCount() {
  platform::MutexLock hold(registry().lock);
  return registry().entries.size();
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

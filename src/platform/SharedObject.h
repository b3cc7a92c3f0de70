// SharedObject: a process's mapping of one machine-wide object file. Objects appear whole
// (made under a temporary name, then linked into place), are mapped once per process, and
// stay mapped while anything in the process uses them or holds a mutex inside them.
#ifndef VENDRITHANE_PLATFORM_SHAREDOBJECT_H
#define VENDRITHANE_PLATFORM_SHAREDOBJECT_H

#include <cstddef>
#include <functional>
#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

struct MappingEntry;  // one mapping of the process-wide registry

// Opens the object file at `path`, or makes it when it is missing: a temporary file of
// `size` bytes (zero-filled, then passed to `init` when given) is linked to `path`, so no
// other process ever sees it half-made; a process that loses the race opens the winner's.
// Returns an O_RDWR descriptor of exactly `size` bytes; throws StatusSharedObjectFailed.
int openOrCreateObjectFile(const std::string& path, size_t size,
                           const std::function<void(void*)>& init);

// Deletes an object file (the objects of a catalog nobody uses any more). Missing is fine.
void removeObjectFile(const std::string& path);

class SharedObject {
 public:
  SharedObject() = default;
  // Maps the object at `path` (made as by openOrCreateObjectFile). Every SharedObject of
  // the process naming the same file shares one mapping. Throws StatusSharedObjectFailed.
  SharedObject(const std::string& path, size_t size,
               const std::function<void(void*)>& init = nullptr);
  ~SharedObject() { reset(); }
  SharedObject(SharedObject&& other) noexcept;
  SharedObject& operator=(SharedObject&& other) noexcept;
  SharedObject(const SharedObject&) = delete;
  SharedObject& operator=(const SharedObject&) = delete;

  void* data() const;   // start of the mapping, null when empty
  size_t size() const;  // mapped bytes, 0 when empty
  bool valid() const { return entry_ != nullptr; }
  void reset();  // drops this reference (unmaps with the last one)

  // A thread of this process took / released a mutex inside the mapping: the mapping is
  // not unmapped while any such hold is outstanding.
  void noteHeld() const;
  void noteReleased() const;

  // Number of distinct mappings the process keeps (for tests of the registry).
  static size_t mappingCount();

 private:
  MappingEntry* entry_ = nullptr;  // registry entry, owned by the registry
};

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_SHAREDOBJECT_H

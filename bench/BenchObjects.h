// Machine-wide objects of a benchmark program's own: while an instance lives, the library
// names its shared section, mutexes and events with a prefix of this process, so that a
// benchmark never takes a catalog slot of a real user; the objects are removed at its end.
#ifndef VENDRITHANE_BENCH_BENCHOBJECTS_H
#define VENDRITHANE_BENCH_BENCHOBJECTS_H

#include <unistd.h>

#include <string>

#include "platform/Files.h"
#include "platform/ObjectNames.h"

class BenchObjects {
 public:
  BenchObjects() : prefix_("org.vendrithane.bench-" + std::to_string(getpid())) {
    KESTRIN::Vendrithane::platform::setObjectPrefixForTesting(prefix_);
  }
  // Removes the objects of this prefix (followed by '.' or ':', so that process 123 never
  // claims the objects of process 1234).
  ~BenchObjects() {
    namespace platform = KESTRIN::Vendrithane::platform;
    const std::string dir = platform::objectDirectory();
    for (const std::string& name : platform::filesWithPrefix(dir, prefix_)) {
      const char next = name.size() > prefix_.size() ? name[prefix_.size()] : '\0';
      if (next == '.' || next == ':') unlink((dir + name).c_str());
    }
  }
  BenchObjects(const BenchObjects&) = delete;
  BenchObjects& operator=(const BenchObjects&) = delete;

 private:
  const std::string prefix_;
};

#endif  // VENDRITHANE_BENCH_BENCHOBJECTS_H

// The scratch place of a fuzz target that touches files or machine-wide objects: a private
// object-name prefix and a temporary directory, both made on first use and removed when the
// process exits normally (a fuzzer stopping on a finding leaves them for inspection).
#ifndef VENDRITHANE_TESTS_FUZZ_FUZZSCRATCH_H
#define VENDRITHANE_TESTS_FUZZ_FUZZSCRATCH_H

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "helpers/PeerProcess.h"
#include "helpers/ScratchDir.h"

namespace vdfuzz {

struct FuzzScratch {
  explicit FuzzScratch(const char* tag)
      : prefix(vdtest::useTestPrefix()),
        made(std::string("vdfuzz-") + tag + "-" + std::to_string(getpid()) + "-"),
        directory(made.path()) {}
  std::string prefix;       // the process's object-name prefix
  vdtest::ScratchDir made;  // the temporary directory
  std::string directory;    // the temporary directory, with a trailing "/"
};

// The process's scratch place; `tag` names the directory ("/tmp/vdfuzz-TAG-PID-XXXXXX").
inline const FuzzScratch& scratch(const char* tag) {
  static FuzzScratch* place = [tag] {
    auto* made = new FuzzScratch(tag);
    if (made->directory.empty()) abort();
    atexit([] {
      place->made.remove();
      vdtest::removeTestObjects(place->prefix);
    });
    return made;
  }();
  return *place;
}

}  // namespace vdfuzz

#endif  // VENDRITHANE_TESTS_FUZZ_FUZZSCRATCH_H

// The scratch place of a fuzz target that touches files or machine-wide objects: a private
// object-name prefix and a temporary directory, both made on first use and removed when the
// process exits normally (a fuzzer stopping on a finding leaves them for inspection).
#ifndef VENDRITHANE_TESTS_FUZZ_FUZZSCRATCH_H
#define VENDRITHANE_TESTS_FUZZ_FUZZSCRATCH_H

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "helpers/PeerProcess.h"

namespace vdfuzz {

struct FuzzScratch {
  std::string prefix;     // the process's object-name prefix
  std::string directory;  // the temporary directory, with a trailing "/"
};

// The process's scratch place; `tag` names the directory ("/tmp/vdfuzz-TAG-PID-XXXXXX").
inline const FuzzScratch& scratch(const char* tag) {
  static FuzzScratch* place = [tag] {
    auto* made = new FuzzScratch;
    made->prefix = vdtest::useTestPrefix();
    std::string templ =
        std::string("/tmp/vdfuzz-") + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(&templ[0]) == nullptr) abort();
    made->directory = templ + "/";
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(place->directory, ignored);
      vdtest::removeTestObjects(place->prefix);
    });
    return made;
  }();
  return *place;
}

}  // namespace vdfuzz

#endif  // VENDRITHANE_TESTS_FUZZ_FUZZSCRATCH_H

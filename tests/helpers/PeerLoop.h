// The command loop shared by the helper programs that tests start and drive over pipes: one
// command a line on standard input, one reply a line on standard output.
#ifndef VENDRITHANE_TESTS_HELPERS_PEERLOOP_H
#define VENDRITHANE_TESTS_HELPERS_PEERLOOP_H

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

#include "platform/ObjectNames.h"
#include "vendrithane/Status.h"

namespace vdpeer {

inline void reply(const std::string& text) {
  std::cout << text << std::endl;  // flushed: the test waits for it
}

// Takes the test's object prefix from argv[1], then runs each input line through `run` until
// it returns false or the input ends; a Status thrown by a command is replied as "status N".
inline void serve(int argc, char** argv, const std::function<bool(const std::string&)>& run) {
  if (argc > 1) KESTRIN::Vendrithane::platform::setObjectPrefixForTesting(argv[1]);
  std::string line;
  while (std::getline(std::cin, line)) {
    try {
      if (!run(line)) break;
    } catch (KESTRIN::Vendrithane::Status s) {
      reply("status " + std::to_string(static_cast<int>(s)));
    }
  }
}

// The main() of a command-loop helper: serves the commands with `run`, then calls `cleanUp`
// (when given) to release what the commands left, before the program exits with 0.
inline int commandMain(int argc, char** argv, const std::function<bool(const std::string&)>& run,
                       const std::function<void()>& cleanUp = {}) {
  serve(argc, argv, run);
  if (cleanUp) cleanUp();
  return 0;
}

// The main() of a helper that takes its work from its arguments, PREFIX first: fewer than
// `needed` of them (the program's name counted) print `usage` and give 64; otherwise the
// test's object prefix is taken from argv[1] and `work` gives the exit status.
inline int argumentMain(int argc, char** argv, int needed, const char* usage,
                        const std::function<int(int, char**)>& work) {
  if (argc < needed) {
    std::fprintf(stderr, "usage: %s\n", usage);
    return 64;
  }
  KESTRIN::Vendrithane::platform::setObjectPrefixForTesting(argv[1]);
  return work(argc, argv);
}

}  // namespace vdpeer

#endif  // VENDRITHANE_TESTS_HELPERS_PEERLOOP_H

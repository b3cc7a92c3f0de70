// What the benchmarks that time passes by hand share: the seconds since a start, the loop
// that reports each pass's time to Google Benchmark, and the copy of a catalog's main file
// under the engine's own header, which stock SQLite opens with its default VFS.
#ifndef VENDRITHANE_BENCH_BENCHPASSES_H
#define VENDRITHANE_BENCH_BENCHPASSES_H

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "BenchObjects.h"

namespace vdbench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs `pass` (seconds, negative on failure) once per iteration as manual time; the mean
// seconds per pass, or -1 after skipping with `failure`.
template <class Pass>
double runPasses(benchmark::State& state, const char* failure, Pass pass) {
  double total = 0;
  for (auto _ : state) {
    const double seconds = pass();
    if (seconds < 0) {
      state.SkipWithError(failure);
      return -1;
    }
    state.SetIterationTime(seconds);
    total += seconds;
  }
  return total / static_cast<double>(state.iterations());
}

// Writes the catalog main file `from` to `to` with the engine's own 16-byte header.
inline bool engineHeaderCopy(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string file = bytes.str();
  if (file.size() < 16) return false;
  file.replace(0, 16, std::string("SQLite format 3\0", 16));
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << file;
  return static_cast<bool>(out);
}

// A new scratch directory "/tmp/vdbench-<stem>-XXXXXX/" in *dir (with its trailing "/").
inline bool makeScratchDir(const std::string& stem, std::string* dir) {
  std::string name = "/tmp/vdbench-" + stem + "-XXXXXX";
  if (mkdtemp(&name[0]) == nullptr) return false;
  *dir = name + "/";
  return true;
}

// Removes a scratch directory made by makeScratchDir, whatever is left in it.
inline void removeScratchDir(const std::string& dir) {
  if (dir.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// The main program of a benchmark over a scene: machine-wide objects of its own, the set-up,
// the benchmarks, the tear-down. 1 when the set-up failed (`dir` names where it worked).
template <class SetUp, class TearDown>
int runOverScene(int argc, char** argv, const char* program, const std::string& dir, SetUp setUp,
                 TearDown tearDown) {
  BenchObjects objects;  // never a catalog slot of a real user
  benchmark::Initialize(&argc, argv);
  int result = 0;
  if (setUp()) {
    benchmark::RunSpecifiedBenchmarks();
  } else {
    fprintf(stderr, "%s: could not set up the catalogs in %s\n", program, dir.c_str());
    result = 1;
  }
  benchmark::Shutdown();
  tearDown();
  return result;
}

}  // namespace vdbench

#endif  // VENDRITHANE_BENCH_BENCHPASSES_H

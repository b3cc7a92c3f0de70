// Cross-process wake-up latency of the change-event queue: from a post in this process to
// the return of a monitor's wait in another process. The baseline is the same round through
// a pipe (a reader blocked in read() in another process), measured in the same program; the
// event benchmark reports its median as a ratio to the baseline's.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchObjects.h"
#include "monitor/EventQueue.h"
#include "platform/ObjectNames.h"

using namespace KESTRIN::Vendrithane;

namespace {

double gPipeMedianUs = 0;  // the baseline's median, once it has run

int64_t nowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Gives the waiter time to block in the kernel, so that each round measures a real wake-up.
void settle() {
  int64_t until = nowNs() + 200000;
  while (nowNs() < until) {
  }
}

void readAll(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    ssize_t r = read(fd, p, n);
    if (r <= 0) _exit(2);
    p += r;
    n -= static_cast<size_t>(r);
  }
}

void report(benchmark::State& state, std::vector<int64_t>& latencies) {
  std::sort(latencies.begin(), latencies.end());
  double median = latencies[latencies.size() / 2] / 1000.0;
  double p99 = latencies[latencies.size() * 99 / 100] / 1000.0;
  state.counters["median_us"] = median;
  state.counters["p99_us"] = p99;
  if (gPipeMedianUs > 0) state.counters["median_vs_pipe"] = median / gPipeMedianUs;
}

void BM_PipeWakeupBaseline(benchmark::State& state) {
  int ready[2], wake[2], result[2];
  if (pipe(ready) || pipe(wake) || pipe(result)) state.SkipWithError("pipe");
  pid_t child = fork();
  if (child == 0) {
    char c;
    for (;;) {
      if (write(ready[1], "r", 1) != 1) _exit(2);
      readAll(wake[0], &c, 1);
      int64_t woke = nowNs();
      if (c == 'q') _exit(0);
      if (write(result[1], &woke, sizeof woke) != sizeof woke) _exit(2);
    }
  }
  std::vector<int64_t> latencies;
  char c;
  for (auto _ : state) {
    readAll(ready[0], &c, 1);
    settle();
    int64_t posted = nowNs();
    if (write(wake[1], "w", 1) != 1) break;
    int64_t woke;
    readAll(result[0], &woke, sizeof woke);
    latencies.push_back(woke - posted);
  }
  readAll(ready[0], &c, 1);
  if (write(wake[1], "q", 1) != 1) kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], wake[0], wake[1], result[0], result[1]}) close(fd);
  report(state, latencies);
  gPipeMedianUs = state.counters["median_us"];
}

void BM_EventWakeupAcrossProcesses(benchmark::State& state) {
  std::string catalog = "/tmp/vdbench-" + std::to_string(getpid()) + ".vd";
  std::ofstream(catalog).put('\0');
  int ready[2], result[2];
  if (pipe(ready) || pipe(result)) state.SkipWithError("pipe");
  pid_t child = fork();
  if (child == 0) {
    // The monitor: snapshot, drain, wait, report the moment the wait returned.
    monitor::EventQueue queue;
    queue.attach(catalog);
    for (;;) {
      uint32_t seen = queue.snapshot();
      if (write(ready[1], "r", 1) != 1) _exit(2);
      queue.wait(seen, 5000);
      int64_t woke = nowNs();
      int id = 0;
      int kind = queue.readNext(&id);
      if (kind == monitor::kEventWakeUp) _exit(0);
      if (write(result[1], &woke, sizeof woke) != sizeof woke) _exit(2);
      while (queue.readNext(&id) != monitor::kEventNone) {
      }
    }
  }
  monitor::EventQueue queue;
  queue.attach(catalog);
  std::vector<int64_t> latencies;
  char c;
  int id = 0;
  for (auto _ : state) {
    readAll(ready[0], &c, 1);
    settle();
    int64_t posted = nowNs();
    queue.post(monitor::kEventRecordUpdated, ++id);
    int64_t woke;
    readAll(result[0], &woke, sizeof woke);
    latencies.push_back(woke - posted);
  }
  readAll(ready[0], &c, 1);
  queue.post(monitor::kEventWakeUp, -1);
  waitpid(child, nullptr, 0);
  queue.detach(false);
  for (int fd : {ready[0], ready[1], result[0], result[1]}) close(fd);
  unlink(catalog.c_str());
  report(state, latencies);
}

BENCHMARK(BM_PipeWakeupBaseline)->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EventWakeupAcrossProcesses)->Iterations(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  BenchObjects objects;  // never a catalog slot of a real user
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

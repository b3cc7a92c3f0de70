// The change monitor seen from both ends, with the catalog in tmpfs. Latency: a writer
// process updates one record per transaction every millisecond; the time from just before
// Asset::update() in the writer to the entry of assetUpdateEvent in a monitoring process.
// The baseline is the raw wake-up the monitor's wait is built on (FUTEX_WAKE of a shared
// word, to a waiter in another process), measured in the same program. Cost: the writer's
// rate, updates back to back, with a monitor whose handler does nothing or loads each changed
// record, as a ratio to its rate alone in the same round, with its per-update (commit) times.
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "BenchObjects.h"
#include "vendrithane/vendrithane.h"

using namespace KESTRIN::Vendrithane;

namespace {

constexpr int kUpdates = 2000;

// Shared between the benchmark and its child process.
struct Shared {
  std::atomic<int> heard;   // events the monitor heard
  std::atomic<int> target;  // it stops after this many
  std::atomic<uint32_t> word;
  int64_t woke[kUpdates];  // when each event (or futex wake) reached the child
};

Shared* gShared = nullptr;
double gFutexMedianUs = 0;  // the baseline's median, once it has run
std::string gDir;           // the catalog's tmpfs directory
int gRecord = 0;            // the id of the record the writer updates

int64_t nowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

long futex(std::atomic<uint32_t>* word, int op, uint32_t value) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, nullptr, nullptr, 0);
}

double percentile(std::vector<int64_t> values, int p) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() * p / 100 - (p == 100)] / 1000.0;
}

void readByte(int fd) {
  char c;
  if (read(fd, &c, 1) != 1) _exit(2);
}

// Ends a child that did not end on its own within `seconds`.
void reap(pid_t child, int seconds) {
  for (int i = 0; i < seconds * 100; ++i) {
    if (waitpid(child, nullptr, WNOHANG) == child) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// The monitoring process: notes when each assetUpdateEvent arrives, loads the record when
// asked to, and ends after gShared->target events.
class Listener : public Handler {
 public:
  Listener(Node& node, bool load) : node_(node), load_(load) {}
  void assetUpdateEvent(int id) override {
    const int64_t now = nowNs();
    const int i = gShared->heard.fetch_add(1);
    if (i < kUpdates) gShared->woke[i] = now;
    if (load_) {
      Asset record = node_.assetLoad(id);
      benchmark::DoNotOptimize(record.nElements());
    }
    if (i + 1 >= gShared->target.load()) stop();
  }

 private:
  Node& node_;
  bool load_;
};

pid_t startMonitor(bool load, int target) {
  gShared->heard = 0;
  gShared->target = target;
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    Node node("bench", gDir.c_str());
    if (node.open() != 0) _exit(1);
    Listener listener(node, load);
    std::thread runner([&] { node.monitor(listener); });
    while (!listener.option(Handler::MonitorMode))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (write(ready[1], "r", 1) != 1) _exit(2);
    runner.join();
    node.close();
    _exit(0);
  }
  readByte(ready[0]);
  close(ready[0]);
  close(ready[1]);
  return child;
}

// The writer: `count` updates of one record, each its own transaction, paced at `periodUs`
// (0: back to back); the moment before each update in *posted, its duration in *took.
void runWriter(int count, int periodUs, std::vector<int64_t>* posted, std::vector<int64_t>* took) {
  Node node("bench", gDir.c_str());
  if (node.open() != 0) return;
  Asset record = node.assetLoad(gRecord);
  const int64_t start = nowNs();
  for (int i = 0; i < count; ++i) {
    if (periodUs > 0)
      while (nowNs() < start + static_cast<int64_t>(i) * periodUs * 1000) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    record.element("n") = std::to_string(i).c_str();
    const int64_t before = nowNs();
    if (record.update() != 0) break;
    posted->push_back(before);
    took->push_back(nowNs() - before);
  }
  node.close();
}

void BM_FutexWakeBaseline(benchmark::State& state) {
  int ready[2], done[2];
  if (pipe(ready) != 0 || pipe(done) != 0) state.SkipWithError("pipe");
  gShared->word = 0;
  pid_t child = fork();
  if (child == 0) {
    for (int i = 0;; ++i) {
      const uint32_t seen = gShared->word.load();
      if (write(ready[1], "r", 1) != 1) _exit(2);
      while (gShared->word.load() == seen) futex(&gShared->word, FUTEX_WAIT, seen);
      gShared->woke[i % kUpdates] = nowNs();
      if (write(done[1], "d", 1) != 1) _exit(0);
    }
  }
  std::vector<int64_t> latencies;
  int i = 0;
  for (auto _ : state) {
    readByte(ready[0]);
    // Gives the waiter time to block in the kernel, so that each round is a real wake-up.
    for (const int64_t until = nowNs() + 200000; nowNs() < until;) {
    }
    const int64_t posted = nowNs();
    gShared->word.fetch_add(1);
    futex(&gShared->word, FUTEX_WAKE, INT32_MAX);
    readByte(done[0]);
    latencies.push_back(gShared->woke[i++ % kUpdates] - posted);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  gFutexMedianUs = percentile(latencies, 50);
  state.counters["median_us"] = gFutexMedianUs;
  state.counters["p99_us"] = percentile(latencies, 99);
}

void BM_MonitorLatency(benchmark::State& state) {
  for (auto _ : state) {
    pid_t child = startMonitor(false, kUpdates);
    std::vector<int64_t> posted, took;
    runWriter(kUpdates, 1000, &posted, &took);
    reap(child, 30);
    std::vector<int64_t> latencies;
    const int heard = std::min(gShared->heard.load(), static_cast<int>(posted.size()));
    for (int i = 0; i < heard; ++i) latencies.push_back(gShared->woke[i] - posted[i]);
    state.counters["heard"] = heard;
    state.counters["median_us"] = percentile(latencies, 50);
    state.counters["p99_us"] = percentile(latencies, 99);
    state.counters["max_us"] = percentile(latencies, 100);
    if (gFutexMedianUs > 0)
      state.counters["median_vs_futex"] = percentile(latencies, 50) / gFutexMedianUs;
  }
}

// One pass of the writer, updates back to back; mode 0 alone, 1 with an idle monitor, 2
// with one that loads each record. Returns its rate; its update times are added to *took.
double writerPass(int mode, std::vector<int64_t>* took) {
  pid_t child = mode == 0 ? 0 : startMonitor(mode == 2, kUpdates);
  std::vector<int64_t> posted;
  const int64_t start = nowNs();
  runWriter(kUpdates, 0, &posted, took);
  const double rate = posted.size() / ((nowNs() - start) / 1e9);
  if (child > 0) reap(child, 30);
  return rate;
}

// range(0): 1 with an idle monitor, 2 with one that loads each record. Five rounds, each a
// pass alone then one with the monitor, so that both see the same load of the machine; the
// ratio is the median of the five rounds' ratios, the commit times those of all passes.
void BM_WriterCost(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<double> ratios;
    std::vector<int64_t> alone, with;
    for (int round = 0; round < 5; ++round) {
      const double base = writerPass(0, &alone);
      ratios.push_back(writerPass(mode, &with) / base);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["ratio_vs_alone"] = ratios[ratios.size() / 2];
    state.counters["ratio_min"] = ratios.front();
    state.counters["alone_p99_commit_us"] = percentile(alone, 99);
    state.counters["alone_max_commit_us"] = percentile(alone, 100);
    state.counters["p99_commit_us"] = percentile(with, 99);
    state.counters["max_commit_us"] = percentile(with, 100);
    state.counters["over_150ms"] = static_cast<double>(
        std::count_if(with.begin(), with.end(), [](int64_t t) { return t > 150000000; }));
  }
}

BENCHMARK(BM_FutexWakeBaseline)->Iterations(kUpdates)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MonitorLatency)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriterCost)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  BenchObjects objects;  // never a catalog slot of a real user
  void* shared =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return 1;
  gShared = new (shared) Shared();
  char dir[] = "/dev/shm/vdbench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  gDir = std::string(dir) + "/";
  {
    Node node("bench", gDir.c_str());
    if (node.create() != 0 || node.open() != 0) return 1;
    Asset record = node.asset("photo", true);
    record.element("n") = "start";
    if (record.store() != 0) return 1;
    gRecord = record.id();
    node.close();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Node("bench", gDir.c_str()).remove();
  rmdir(dir);
  return 0;
}

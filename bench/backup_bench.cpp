// Node::backup of a large catalog against two baselines run in the same process:
//   cp + sync  `cp` of the two files, then `sync` of those two copies (not the whole system);
//   .backup    the stock sqlite3 shell's `.backup` of each file, run on copies whose header
//              is the engine's (the shell cannot open a catalog file as it is).
// A catalog of 200 MB (VD_BACKUP_BENCH_MB=1024 for 1 GB) of records that each carry a text
// element of 30 KB (main file) and a blob of 70 KB (blob file), so both files are large. It
// is made untimed in /tmp/vdbench-backup-XXXXXX. A last benchmark measures how long a writer
// in another process (one small transaction after another) is held up while a backup runs.
// Counters: ratio_vs_cp_sync and ratio_vs_shell = the backup's time over the baseline's
// (below 1 is faster); MB_per_s.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "BenchObjects.h"
#include "platform/Files.h"
#include "platform/ObjectNames.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

namespace {

using Clock = std::chrono::steady_clock;

std::string gDir;           // the temporary directory, with a trailing "/"
double gCatalogMB = 0;      // size of the two files
double gCpSyncSeconds = 0;  // the baselines' last times
double gShellSeconds = 0;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int run(const std::string& command) {
  return std::system(command.c_str());
}

std::string quoted(const std::string& path) {
  return "'" + path + "'";
}

// Makes the catalog once: records of a 30 KB text element and a 70 KB blob each.
void makeCatalog() {
  if (!gDir.empty()) return;
  char pattern[] = "/tmp/vdbench-backup-XXXXXX";
  gDir = std::string(mkdtemp(pattern)) + "/";
  const char* mb = getenv("VD_BACKUP_BENCH_MB");
  int records = (mb ? std::atoi(mb) : 200) * 10;
  Node node("photos", gDir.c_str());
  node.create();
  node.open();
  std::string text(30000, 't'), bytes(70000, 'b');
  for (int i = 0; i < records; ++i) {
    if (i % 200 == 0) node.transactionBegin();
    Asset asset = node.asset("photo", true);
    text[0] = bytes[0] = static_cast<char>('a' + i % 26);
    asset.element("caption") = text.c_str();
    Blob blob;
    blob.set(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), Blob::LocationCatalog);
    asset.element("thumb") = blob;
    asset.store();
    if (i % 200 == 199 || i == records - 1) node.transactionCommit();
  }
  node.close();
  gCatalogMB = static_cast<double>(std::filesystem::file_size(gDir + "photos.vd") +
                                   std::filesystem::file_size(gDir + "photos.vm")) /
               1e6;
  // The shell's inputs: copies with the engine's header put back.
  for (const char* ext : {".vd", ".vm"}) {
    std::string copy = gDir + "shell" + ext + ".db";
    std::filesystem::copy_file(gDir + "photos" + ext, copy,
                               std::filesystem::copy_options::overwrite_existing);
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.write("SQLite format 3\0", 16);
  }
}

void report(benchmark::State& state, double seconds) {
  state.counters["MB_per_s"] = gCatalogMB / seconds;
  state.counters["catalog_MB"] = gCatalogMB;
}

void BM_CpSync(benchmark::State& state) {
  makeCatalog();
  double total = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    run("cp " + quoted(gDir + "photos.vd") + " " + quoted(gDir + "cp.vd") + " && cp " +
        quoted(gDir + "photos.vm") + " " + quoted(gDir + "cp.vm") + " && sync " +
        quoted(gDir + "cp.vd") + " " + quoted(gDir + "cp.vm"));
    double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    total += seconds;  // the copies stay: later passes replace them, as later backups do
  }
  gCpSyncSeconds = total / state.iterations();
  report(state, gCpSyncSeconds);
}
BENCHMARK(BM_CpSync)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ShellBackup(benchmark::State& state) {
  makeCatalog();
  double total = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (const char* ext : {".vd", ".vm"})
      run("sqlite3 " + quoted(gDir + "shell" + ext + ".db") + " \".backup " +
          quoted(gDir + "shell-out" + ext) + "\"");
    double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    total += seconds;
  }
  gShellSeconds = total / state.iterations();
  report(state, gShellSeconds);
}
BENCHMARK(BM_ShellBackup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_NodeBackup(benchmark::State& state) {
  makeCatalog();
  Node node("photos", gDir.c_str());
  node.backupName("bk");
  double total = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (node.backup(false, false, false) != 0) state.SkipWithError("backup failed");
    double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    total += seconds;
  }
  double seconds = total / state.iterations();
  report(state, seconds);
  if (gCpSyncSeconds > 0) state.counters["ratio_vs_cp_sync"] = seconds / gCpSyncSeconds;
  if (gShellSeconds > 0) state.counters["ratio_vs_shell"] = seconds / gShellSeconds;
}
BENCHMARK(BM_NodeBackup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A writer in a child process commits one small record per transaction in a loop; the
// parent backs up once in the middle. Reported: the backup's time, the writer's longest
// transaction (begin to commit) during the run and its longest before the backup began.
void BM_WriterHeldUpByBackup(benchmark::State& state) {
  makeCatalog();
  for (auto _ : state) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) state.SkipWithError("pipe");
    pid_t child = fork();
    if (child == 0) {
      Node node("photos", gDir.c_str());
      node.open();
      double longestBefore = 0, longest = 0;
      char mark = 0;
      bool started = false;
      for (;;) {
        auto start = Clock::now();
        node.transactionBegin();
        Asset asset = node.asset("note", true);
        asset.element("n") = 1;
        asset.store();
        node.transactionCommit();
        double seconds = secondsSince(start);
        (started ? longest : longestBefore) = std::max(started ? longest : longestBefore, seconds);
        fd_set in;
        FD_ZERO(&in);
        FD_SET(toChild[0], &in);
        timeval now{0, 0};
        if (select(toChild[0] + 1, &in, nullptr, nullptr, &now) > 0) {
          if (read(toChild[0], &mark, 1) != 1 || mark == 'q') break;
          started = true;
        }
      }
      node.close();
      double out[2] = {longestBefore, longest};
      ssize_t ignored = write(fromChild[1], out, sizeof out);
      (void)ignored;
      _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ssize_t ignored = write(toChild[1], "s", 1);
    Node node("photos", gDir.c_str());
    node.backupName("bk");
    auto start = Clock::now();
    int status = node.backup(false, false, false);
    double seconds = secondsSince(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ignored = write(toChild[1], "q", 1);
    double out[2] = {0, 0};
    ignored = read(fromChild[0], out, sizeof out);
    (void)ignored;
    waitpid(child, nullptr, 0);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
    if (status != 0) state.SkipWithError("backup failed");
    state.SetIterationTime(seconds);
    state.counters["writer_longest_ms"] = out[1] * 1000;
    state.counters["writer_longest_before_ms"] = out[0] * 1000;
  }
}
BENCHMARK(BM_WriterHeldUpByBackup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  BenchObjects objects;  // never a catalog slot of a real user
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!gDir.empty()) std::filesystem::remove_all(gDir);
  return 0;
}

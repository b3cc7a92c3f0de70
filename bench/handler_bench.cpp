// The load of records into a handler beside a raw loop over the same rows.
//
// BM_HandlerLoad: Node::assetLoad of every record of a catalog through a Handler (deliver
// on, keep off, the event reads the id). BM_RawSelectLoop: "SELECT vd_id,vd_xml,vd_tag FROM
// vd_assets" stepped on the same catalog's connection in the same process, building a row
// object per row (the id and copies of both texts). Counter ratio_vs_raw: the raw loop's
// time over the load's (goal: at least 0.7). VENDRITHANE_BENCH_RECORDS sets the number of
// records (100,000 by default).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "node/ConnectionPool.h"
#include "node/NodeAccess.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "vendrithane/vendrithane.h"

using namespace KESTRIN::Vendrithane;

namespace {

using Clock = std::chrono::steady_clock;

int gRecords = 100000;
std::string gDir;
std::unique_ptr<Node> gNode;
double gRawSeconds = 0;

bool setUp() {
  if (gNode) return true;
  if (const char* n = std::getenv("VENDRITHANE_BENCH_RECORDS")) gRecords = std::atoi(n);
  char pattern[] = "/tmp/vdbench-handler-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  gDir = std::string(pattern) + "/";
  gNode = std::make_unique<Node>("bench", gDir.c_str());
  if (gNode->create(false) != 0 || gNode->open() != 0) return false;
  if (gNode->transactionBegin() != 0) return false;
  for (int i = 0; i < gRecords; ++i) {
    Asset a = gNode->asset("photo", true);
    a.element("title") = String(("Harbour at dusk, frame " + std::to_string(i)).c_str());
    a.element("rating") = i % 5;
    a.element("width") = 4000 + i % 100;
    a.element("height") = 3000;
    a.element("camera") = "Field camera";
    a.element("shot") = Time(1200000000LL + i * 60LL);
    if (a.store() != 0) return false;
  }
  return gNode->transactionCommit() == 0;
}

class IdReader : public Handler {
 public:
  long long sum = 0;
  void assetEvent(int, Asset& a) override { sum += a.id(); }
};

struct RawRow {
  int id;
  std::string xml;
  std::string tag;
};

double rawPass() {
  node::ConnectionLease lease(NodeAccess::impl(*gNode)->pool());
  const auto start = Clock::now();
  node::Statement s(*lease, "SELECT vd_id,vd_xml,vd_tag FROM vd_assets");
  long long sum = 0;
  while (s.step()) {
    RawRow row{static_cast<int>(s.columnInt64(0)), std::string(s.columnText(1).buffer()),
               std::string(s.columnText(2).buffer())};
    sum += row.id + static_cast<long long>(row.xml.size() + row.tag.size());
  }
  benchmark::DoNotOptimize(sum);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double loadPass() {
  IdReader h;
  Filter all;
  all.allowDuplicates(true);
  const auto start = Clock::now();
  const int status = gNode->assetLoad(all, h);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  benchmark::DoNotOptimize(h.sum);
  return status == 0 ? seconds : -1;
}

void BM_RawSelectLoop(benchmark::State& state) {
  if (!setUp()) return state.SkipWithError("catalog set-up failed");
  double total = 0;
  for (auto _ : state) {
    const double seconds = rawPass();
    state.SetIterationTime(seconds);
    total += seconds;
  }
  gRawSeconds = total / static_cast<double>(state.iterations());
  state.counters["us_per_row"] = gRawSeconds * 1e6 / gRecords;
}

void BM_HandlerLoad(benchmark::State& state) {
  if (!setUp()) return state.SkipWithError("catalog set-up failed");
  double total = 0;
  for (auto _ : state) {
    const double seconds = loadPass();
    if (seconds < 0) return state.SkipWithError("load failed");
    state.SetIterationTime(seconds);
    total += seconds;
  }
  const double mean = total / static_cast<double>(state.iterations());
  state.counters["us_per_row"] = mean * 1e6 / gRecords;
  if (gRawSeconds > 0) state.counters["ratio_vs_raw"] = gRawSeconds / mean;
}

BENCHMARK(BM_RawSelectLoop)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandlerLoad)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gNode.reset();
  if (!gDir.empty()) std::system(("rm -rf " + gDir).c_str());
  return 0;
}

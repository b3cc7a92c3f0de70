// The load of records into a handler beside a raw loop over the same rows.
//
// BM_HandlerLoad: Node::assetLoad of every record of a catalog through a Handler (deliver
// on, keep off, the event reads the id). BM_RawSelectLoop: "SELECT vd_id,vd_xml,vd_tag FROM
// vd_assets" stepped on the same catalog's connection in the same process, building a row
// object per row (the id and copies of both texts). Counter ratio_vs_raw: the raw loop's
// time over the load's (goal: at least 0.7). VENDRITHANE_BENCH_RECORDS sets the number of
// records (100,000 by default).
//
// BM_HandlerLoadFiltered loads the records whose element "flag" is 1 (2% of them), read
// through element_extract; BM_HandlerLoadFilteredPromoted the same once "flag" is promoted
// to an indexed column. Both report ratio_vs_raw against BM_RawSelectFiltered: the same
// rows selected by an indexed column of a plain SQLite file holding the same rows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchObjects.h"
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
double gRawFilteredSeconds = 0;
sqlite3* gRaw = nullptr;  // the plain file with the same rows and an indexed flag column

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
    a.element("flag") = i % 50 == 0 ? 1 : 0;
    if (a.store() != 0) return false;
  }
  if (gNode->transactionCommit() != 0) return false;
  // The plain file: the same rows, the flag as an indexed column.
  if (sqlite3_open((gDir + "raw.db").c_str(), &gRaw) != SQLITE_OK) return false;
  if (sqlite3_exec(gRaw,
                   "CREATE TABLE raw (vd_id INTEGER PRIMARY KEY, vd_xml TEXT, vd_tag TEXT, "
                   "flag INTEGER); CREATE INDEX raw_flag ON raw (flag); BEGIN;",
                   nullptr, nullptr, nullptr) != SQLITE_OK)
    return false;
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(gRaw, "INSERT INTO raw VALUES (?1,?2,?3,?4)", -1, &insert, nullptr) !=
      SQLITE_OK)
    return false;
  node::ConnectionLease lease(NodeAccess::impl(*gNode)->pool());
  node::Statement rows(*lease,
                       "SELECT vd_id,vd_xml,vd_tag,element_extract('flag',vd_xml) FROM vd_assets");
  while (rows.step()) {
    const String xml = rows.columnText(1), tag = rows.columnText(2);
    sqlite3_bind_int64(insert, 1, rows.columnInt64(0));
    sqlite3_bind_text(insert, 2, xml.buffer(), static_cast<int>(xml.length()), SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, tag.buffer(), static_cast<int>(tag.length()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 4, rows.columnInt64(3));
    if (sqlite3_step(insert) != SQLITE_DONE) return false;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  return sqlite3_exec(gRaw, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
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

double rawFilteredPass() {
  const auto start = Clock::now();
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(gRaw, "SELECT vd_id,vd_xml,vd_tag FROM raw WHERE flag=1", -1, &s,
                         nullptr) != SQLITE_OK)
    return -1;
  long long sum = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    RawRow row{sqlite3_column_int(s, 0),
               std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 1))),
               std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 2)))};
    sum += row.id + static_cast<long long>(row.xml.size() + row.tag.size());
  }
  sqlite3_finalize(s);
  benchmark::DoNotOptimize(sum);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double loadPass(bool flagged = false) {
  IdReader h;
  Filter all;
  all.allowDuplicates(true);
  Asset prototype = gNode->asset("photo", true);
  if (flagged) all = prototype.element("flag") == Expression(1);
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

void BM_RawSelectFiltered(benchmark::State& state) {
  if (!setUp()) return state.SkipWithError("catalog set-up failed");
  double total = 0;
  for (auto _ : state) {
    const double seconds = rawFilteredPass();
    if (seconds < 0) return state.SkipWithError("raw select failed");
    state.SetIterationTime(seconds);
    total += seconds;
  }
  gRawFilteredSeconds = total / static_cast<double>(state.iterations());
}

void filteredLoads(benchmark::State& state, bool promoted) {
  if (!setUp()) return state.SkipWithError("catalog set-up failed");
  if (promoted) {
    Asset prototype = gNode->asset("photo", true);
    const int indexed = prototype.element("flag").index(2);
    if (indexed != 0 && indexed != StatusExists) return state.SkipWithError("index failed");
  }
  double total = 0;
  for (auto _ : state) {
    const double seconds = loadPass(true);
    if (seconds < 0) return state.SkipWithError("load failed");
    state.SetIterationTime(seconds);
    total += seconds;
  }
  const double mean = total / static_cast<double>(state.iterations());
  if (gRawFilteredSeconds > 0) state.counters["ratio_vs_raw"] = gRawFilteredSeconds / mean;
}

void BM_HandlerLoadFiltered(benchmark::State& state) {
  filteredLoads(state, false);
}

void BM_HandlerLoadFilteredPromoted(benchmark::State& state) {
  filteredLoads(state, true);
}

BENCHMARK(BM_RawSelectLoop)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandlerLoad)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSelectFiltered)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandlerLoadFiltered)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandlerLoadFilteredPromoted)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  BenchObjects objects;  // never a catalog slot of a real user
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gNode.reset();
  if (gRaw != nullptr) sqlite3_close(gRaw);
  if (!gDir.empty()) std::system(("rm -rf " + gDir).c_str());
  return 0;
}

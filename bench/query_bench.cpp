// The statement builder against the engine's compile of what it builds. One catalog in a
// temporary directory with a namespace and one category; one typical filter: an AND/OR of
// four comparisons, a LIKE, a date range and a membership, two ordering terms, a limit and
// an offset.
//   BM_PrepareRendered  the engine's prepare and finalize of the filter's statement text on
//                       the catalog's connection (the baseline);
//   BM_RenderFilter     the statement of the filter: its contents read, every tree rendered,
//                       the statement text built.
// BM_RenderFilter reports prepare_over_render: the baseline's time per statement divided by
// its own, so 2 means rendering costs half of the compile that must follow it anyway.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "BenchObjects.h"
#include "node/ConnectionPool.h"
#include "node/NodeAccess.h"
#include "node/NodeConnection.h"
#include "platform/ObjectNames.h"
#include "query/FilterImpl.h"
#include "query/Render.h"
#include "vendrithane/vendrithane.h"

using namespace KESTRIN::Vendrithane;

namespace {

using Clock = std::chrono::steady_clock;

struct Scene {
  std::string dir;                 // the temporary directory, with a trailing "/"
  std::unique_ptr<Node> node;      // the open catalog
  std::unique_ptr<Asset> photo;    // the record whose elements the filter names
  std::unique_ptr<Filter> filter;  // the typical filter
  double prepareSeconds = 0;       // the baseline's mean time per statement
} gScene;

std::string build() {
  return query::buildStatement(FilterAccess::snapshot(*gScene.filter), query::BuildFlags(),
                               std::string(), NodeAccess::impl(*gScene.node))
      .text;
}

bool setUpScene() {
  std::string templ = "/tmp/vdbench-XXXXXX";
  if (mkdtemp(&templ[0]) == nullptr) return false;
  gScene.dir = templ + "/";
  gScene.node = std::make_unique<Node>("bench", gScene.dir.c_str());
  if (gScene.node->create() != 0 || gScene.node->open() != 0) return false;
  gScene.photo = std::make_unique<Asset>(gScene.node->asset("photo", true));
  Asset& photo = *gScene.photo;
  photo.element("title") = "Harbour at dusk";
  photo.element("album") = "Coast";
  photo.element("rating") = 4;
  photo.element("year") = 2008;
  photo.element("shot") = Time(2008, 3, 5, 14, 0, 0);
  if (photo.store() != 0) return false;
  if (gScene.node->categoryDeclare("places", photo, true, false) != 0) return false;
  Category paris = gScene.node->category("places");
  paris.subCategory("paris");
  if (paris.add() != 0) return false;

  Element& rating = photo.element("rating");
  Element& year = photo.element("year");
  Element& album = photo.element("album");
  Element& title = photo.element("title");
  gScene.filter = std::make_unique<Filter>();
  Filter& f = *gScene.filter;
  f = ((rating >= Expression(3)) && (year < Expression(2010))) ||
      ((album == Expression(String("Coast"))) && (title != Expression(String("Pier"))));
  f &= title.like(String("Har%"));
  f &= photo.element("shot").inDateRange(Time(2008, 1, 1, 0, 0, 0), Time(2008, 12, 31, 0, 0, 0),
                                         true);
  f &= photo.in(paris);
  f.orderBy(Expression(rating), SortDescending);
  f.orderBy(Expression(title), SortAscendingRank);
  f.limit(50);
  f.offset(100);
  return true;
}

void tearDownScene() {
  gScene.filter.reset();
  gScene.photo.reset();
  gScene.node.reset();
  if (!gScene.dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(gScene.dir, ignored);
  }
}

void BM_PrepareRendered(benchmark::State& state) {
  const std::string sql = build();
  node::ConnectionLease lease(NodeAccess::impl(*gScene.node)->pool());
  sqlite3* db = lease->db();
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
      state.SkipWithError(sqlite3_errmsg(db));
      break;
    }
    sqlite3_finalize(stmt);
  }
  gScene.prepareSeconds = std::chrono::duration<double>(Clock::now() - start).count() /
                          static_cast<double>(state.iterations());
}

void BM_RenderFilter(benchmark::State& state) {
  size_t bytes = 0;
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    std::string sql = build();
    bytes = sql.size();
    benchmark::DoNotOptimize(sql);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count() /
                         static_cast<double>(state.iterations());
  state.counters["statement_bytes"] = static_cast<double>(bytes);
  if (gScene.prepareSeconds > 0)
    state.counters["prepare_over_render"] = gScene.prepareSeconds / seconds;
}

BENCHMARK(BM_PrepareRendered)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFilter)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  BenchObjects objects;  // never a catalog slot of a real user
  benchmark::Initialize(&argc, argv);
  int result = 0;
  if (setUpScene()) {
    std::printf("%s\n", build().c_str());
    benchmark::RunSpecifiedBenchmarks();
  } else {
    std::fprintf(stderr, "query_bench: could not set up the catalog in %s\n", gScene.dir.c_str());
    result = 1;
  }
  benchmark::Shutdown();
  tearDownScene();
  return result;
}

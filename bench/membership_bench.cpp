// Category membership, each measured against raw SQLite in the same process on a copy of the
// same catalog (the engine's own header, the same tables and indexes). The catalog holds
// kRecords collection records and a date namespace without persistEmpty.
//   apply       Category::apply of all kRecords ids (a vector) to the day node 2008/05/17:
//               3 x kRecords membership rows; vs one prepared INSERT per row in one
//               transaction, order keys from a counter;
//   file        kFiled records filed one apply(Asset&) each in one host transaction; vs the
//               same rows inserted one by one;
//   remove      Asset::remove of kFiled filed records in one host transaction (the record,
//               its blobs, its memberships and the populations); vs a DELETE of its
//               memberships and of its row per record.
// Each benchmark reports ratio_vs_raw: its rate as a fraction of the baseline's rate.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "BenchPasses.h"
#include "BenchRecords.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Category.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;
using vdbench::Clock;
using vdbench::exec;
using vdbench::runPasses;
using vdbench::secondsSince;

namespace {

constexpr int kRecords = 100000;  // records of the catalog, all applied at once
constexpr int kFiled = 10000;     // records filed and removed one by one
constexpr int kFirstId = 100;     // the records' ids follow it

struct Scene {
  std::string dir;
  std::unique_ptr<Node> node;                       // "m"
  sqlite3* raw = nullptr;                           // the copy
  std::vector<int> levels;                          // the raw side's day, month and year ids
  long long rawKey = 50000000;                      // the raw side's order-key counter
  double rawApply = 0, rawFile = 0, rawRemove = 0;  // seconds of the baselines
};

Scene gScene;

bool setUpScene() {
  if (!vdbench::makeScratchDir("membership", &gScene.dir)) return false;
  gScene.node = std::make_unique<Node>("m", gScene.dir.c_str());
  if (gScene.node->create() != 0 || !vdbench::writeRecords(gScene.dir + "m.vd", kFirstId, kRecords))
    return false;
  const std::string rawFile = gScene.dir + "raw.db";
  if (!vdbench::engineHeaderCopy(gScene.dir + "m.vd", rawFile) ||
      sqlite3_open(rawFile.c_str(), &gScene.raw) != SQLITE_OK)
    return false;
  gScene.levels = {3, 2, 1};
  if (gScene.node->open() != 0) return false;
  Asset prototype = gScene.node->asset("photo", true);
  return gScene.node->categoryDeclare("Dates", prototype, false, false) == 0;
}

void tearDownScene() {
  gScene.node.reset();
  sqlite3_close(gScene.raw);
  vdbench::removeScratchDir(gScene.dir);
}

Category day() {
  Category c = gScene.node->category("Dates");
  for (const char* label : {"2008", "05", "17"}) c.subCategory(label);
  return c;
}

// The raw side: the membership rows of `count` records from `first`, one INSERT each, in
// one transaction; the seconds, negative on failure. The rows are deleted afterwards.
double rawInsertPass(int first, int count) {
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(gScene.raw, "INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (?,?,?);",
                     -1, &insert, nullptr);
  const auto start = Clock::now();
  bool ok = insert != nullptr && exec(gScene.raw, "BEGIN;");
  for (int level : gScene.levels)
    for (int i = 0; ok && i < count; ++i) {
      sqlite3_bind_int64(insert, 1, gScene.rawKey++);
      sqlite3_bind_int(insert, 2, first + i);
      sqlite3_bind_int(insert, 3, level);
      ok = sqlite3_step(insert) == SQLITE_DONE;
      sqlite3_reset(insert);
    }
  ok = exec(gScene.raw, ok ? "COMMIT;" : "ROLLBACK;") && ok;
  const double seconds = secondsSince(start);
  sqlite3_finalize(insert);
  return exec(gScene.raw, "DELETE FROM vd_cat_xref;") && ok ? seconds : -1;
}

void report(benchmark::State& state, double mean, double baseline, int rows) {
  if (mean <= 0) return;
  state.counters["us_per_row"] = mean * 1e6 / rows;
  if (baseline > 0) state.counters["ratio_vs_raw"] = baseline / mean;
}

void BM_RawApply(benchmark::State& state) {
  gScene.rawApply =
      runPasses(state, "raw inserts failed", [] { return rawInsertPass(kFirstId, kRecords); });
}

void BM_Apply(benchmark::State& state) {
  const double mean = runPasses(state, "apply failed", [] {
    std::vector<int> ids;
    for (int i = 0; i < kRecords; ++i) ids.push_back(kFirstId + i);
    Category c = day();
    const auto start = Clock::now();
    const int status = c.apply(ids);
    const double seconds = secondsSince(start);
    const bool whole = status == 0 && c.population() == kRecords;
    return gScene.node->category("Dates").unapply() == 0 && whole ? seconds : -1;
  });
  report(state, mean, gScene.rawApply, 3 * kRecords);
}

void BM_RawFileOneByOne(benchmark::State& state) {
  gScene.rawFile =
      runPasses(state, "raw inserts failed", [] { return rawInsertPass(kFirstId, kFiled); });
}

void BM_FileOneByOne(benchmark::State& state) {
  std::vector<Asset> assets;
  for (int i = 0; i < kFiled; ++i) assets.push_back(gScene.node->assetLoad(kFirstId + i));
  const double mean = runPasses(state, "filing failed", [&] {
    Category c = day();
    const auto start = Clock::now();
    bool ok = gScene.node->transactionBegin() == 0;
    for (Asset& a : assets) ok = ok && c.apply(a) == 0;
    ok = gScene.node->transactionCommit() == 0 && ok;
    const double seconds = secondsSince(start);
    ok = ok && c.population() == kFiled;
    return gScene.node->category("Dates").unapply() == 0 && ok ? seconds : -1;
  });
  report(state, mean, gScene.rawFile, 3 * kFiled);
}

// The raw side of the removal: the records kFirstId + kRecords ... get rows of their own
// and memberships first (untimed).
void BM_RawRemoveOneByOne(benchmark::State& state) {
  gScene.rawRemove = runPasses(state, "raw deletes failed", [] {
    const int first = kFirstId + kRecords;
    bool ok = exec(gScene.raw, "BEGIN;");
    for (int i = 0; ok && i < kFiled; ++i)
      ok = exec(gScene.raw, "INSERT INTO vd_assets (vd_id,vd_tag,vd_xml) VALUES (" +
                                std::to_string(first + i) + ",'photo','<title>x</title>');");
    for (int level : gScene.levels)
      for (int i = 0; ok && i < kFiled; ++i)
        ok = exec(gScene.raw, "INSERT INTO vd_cat_xref VALUES (" + std::to_string(gScene.rawKey++) +
                                  "," + std::to_string(first + i) + "," + std::to_string(level) +
                                  ");");
    ok = exec(gScene.raw, "COMMIT;") && ok;
    sqlite3_stmt* members = nullptr;
    sqlite3_stmt* row = nullptr;
    sqlite3_prepare_v2(gScene.raw, "DELETE FROM vd_cat_xref WHERE vd_aid=?;", -1, &members,
                       nullptr);
    sqlite3_prepare_v2(gScene.raw, "DELETE FROM vd_assets WHERE vd_id=?;", -1, &row, nullptr);
    const auto start = Clock::now();
    ok = ok && exec(gScene.raw, "BEGIN;");
    for (int i = 0; ok && i < kFiled; ++i)
      for (sqlite3_stmt* s : {members, row}) {
        sqlite3_bind_int(s, 1, first + i);
        ok = ok && sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
      }
    ok = exec(gScene.raw, ok ? "COMMIT;" : "ROLLBACK;") && ok;
    const double seconds = secondsSince(start);
    sqlite3_finalize(members);
    sqlite3_finalize(row);
    return ok ? seconds : -1;
  });
}

void BM_RemoveOneByOne(benchmark::State& state) {
  const double mean = runPasses(state, "removal failed", [] {
    std::vector<Asset> made;
    bool ok = gScene.node->transactionBegin() == 0;
    for (int i = 0; ok && i < kFiled; ++i) {
      made.push_back(gScene.node->asset("photo", true));
      made.back().element("title") = "x";
      ok = made.back().store() == 0;
    }
    std::vector<Asset*> list;
    for (Asset& a : made) list.push_back(&a);
    ok = ok && day().apply(list) == 0 && gScene.node->transactionCommit() == 0;
    const auto start = Clock::now();
    ok = ok && gScene.node->transactionBegin() == 0;
    for (Asset& a : made) ok = ok && a.remove() == 0;
    ok = gScene.node->transactionCommit() == 0 && ok;
    const double seconds = secondsSince(start);
    return ok && day().population() == 0 ? seconds : -1;
  });
  report(state, mean, gScene.rawRemove, kFiled);
}

BENCHMARK(BM_RawApply)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Apply)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawFileOneByOne)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileOneByOne)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawRemoveOneByOne)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveOneByOne)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return vdbench::runOverScene(argc, argv, "membership_bench", gScene.dir, setUpScene,
                               tearDownScene);
}

// The catalog verification without repairs against the engine's integrity check alone. The
// catalog holds kRecords collection records, each filed in a date namespace (year, month,
// day) and in a tag namespace.
//   verify      Node::verifyAndFix(false, false);
//   integrity   "PRAGMA integrity_check;" by stock SQLite on copies of the two files under
//               the engine's own header, the blob copy attached, in the same process.
// BM_Verify reports ratio_vs_raw: the integrity check's time as a fraction of the
// verification's (the goal: at least 0.5, the whole check at most twice as long).
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
using vdbench::runPasses;
using vdbench::secondsSince;

namespace {

constexpr int kRecords = 100000;
constexpr int kFirstId = 100;
constexpr int kYears = 2, kMonths = 12, kDays = 28;  // 672 day nodes
constexpr int kTags = 20;

struct Scene {
  std::string dir;
  std::unique_ptr<Node> node;  // "v"
  sqlite3* raw = nullptr;      // the copies
  double rawCheck = 0;         // seconds of the baseline
};

Scene gScene;

std::string twoDigits(int n) {
  return (n < 10 ? "0" : "") + std::to_string(n);
}

// Files every record under one day and one tag, a list per node.
bool fileRecords() {
  std::vector<std::vector<int>> days(kYears * kMonths * kDays), tags(kTags);
  for (int i = 0; i < kRecords; ++i) {
    days[i % days.size()].push_back(kFirstId + i);
    tags[i % tags.size()].push_back(kFirstId + i);
  }
  Node& node = *gScene.node;
  for (size_t d = 0; d < days.size(); ++d) {
    Category c = node.category("Dates");
    const int year = static_cast<int>(d / (kMonths * kDays)),
              rest = static_cast<int>(d) % (kMonths * kDays);
    c.subCategory(std::to_string(2000 + year).c_str());
    c.subCategory(twoDigits(rest / kDays + 1).c_str());
    c.subCategory(twoDigits(rest % kDays + 1).c_str());
    if (c.apply(days[d]) != 0) return false;
  }
  for (size_t t = 0; t < tags.size(); ++t) {
    Category c = node.category("Tags");
    c.subCategory(("tag" + std::to_string(t)).c_str());
    if (c.apply(tags[t]) != 0) return false;
  }
  return true;
}

bool setUpScene() {
  if (!vdbench::makeScratchDir("verify", &gScene.dir)) return false;
  gScene.node = std::make_unique<Node>("v", gScene.dir.c_str());
  if (gScene.node->create() != 0 ||
      !vdbench::writeRecords(gScene.dir + "v.vd", kFirstId, kRecords) || gScene.node->open() != 0)
    return false;
  Asset prototype = gScene.node->asset("photo", true);
  if (gScene.node->categoryDeclare("Dates", prototype, false, false) != 0 ||
      gScene.node->categoryDeclare("Tags", prototype, false, false) != 0 || !fileRecords() ||
      gScene.node->close() != 0)
    return false;
  const std::string main = gScene.dir + "raw.db", blob = gScene.dir + "rawblob.db";
  return vdbench::engineHeaderCopy(gScene.dir + "v.vd", main) &&
         vdbench::engineHeaderCopy(gScene.dir + "v.vm", blob) &&
         sqlite3_open(main.c_str(), &gScene.raw) == SQLITE_OK &&
         vdbench::exec(gScene.raw, "ATTACH DATABASE '" + blob + "' AS blobs;") &&
         gScene.node->open() == 0;
}

void tearDownScene() {
  gScene.node.reset();
  sqlite3_close(gScene.raw);
  vdbench::removeScratchDir(gScene.dir);
}

void BM_RawIntegrityCheck(benchmark::State& state) {
  gScene.rawCheck = runPasses(state, "integrity check failed", [] {
    sqlite3_stmt* check = nullptr;
    const auto start = Clock::now();
    bool ok = sqlite3_prepare_v2(gScene.raw, "PRAGMA integrity_check;", -1, &check, nullptr) ==
                  SQLITE_OK &&
              sqlite3_step(check) == SQLITE_ROW &&
              std::string(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) == "ok";
    sqlite3_finalize(check);
    const double seconds = secondsSince(start);
    return ok ? seconds : -1;
  });
}

void BM_Verify(benchmark::State& state) {
  const double mean = runPasses(state, "verification failed", [] {
    const auto start = Clock::now();
    const int status = gScene.node->verifyAndFix(false, false);
    const double seconds = secondsSince(start);
    return status == 0 ? seconds : -1;
  });
  if (mean > 0 && gScene.rawCheck > 0) state.counters["ratio_vs_raw"] = gScene.rawCheck / mean;
}

BENCHMARK(BM_RawIntegrityCheck)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Verify)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return vdbench::runOverScene(argc, argv, "verify_bench", gScene.dir, setUpScene, tearDownScene);
}

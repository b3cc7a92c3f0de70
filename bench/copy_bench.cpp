// Catalog copy, measured against raw SQLite in the same process. The source catalog holds
// gRecords collection records (ten elements and a 1 KB blob each) filed in a date tree
// (year, month, day: three membership rows per record).
//   keep ids   Node::copy of every record with its blob and memberships (categories
//              included) into a new catalog the copy creates, ids kept;
//   new ids    the same into a foreign catalog (created and opened untimed), every id mapped.
// Baseline: engine-header copies of the source's two files and of an empty catalog's two
// files, opened with the default VFS: ATTACH of the destination's files, then one INSERT ...
// SELECT each of the rows, the blobs, the namespace, the nodes and the memberships, in one
// transaction, and DETACH.
// --records=N (before the Google Benchmark flags) sets gRecords; 20,000 by default.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "BenchPasses.h"
#include "BenchRecords.h"
#include "node/CatalogVfs.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;
using vdbench::Clock;
using vdbench::exec;
using vdbench::runPasses;
using vdbench::secondsSince;

namespace {

int gRecords = 20000;           // records of the source
constexpr int kFirstId = 1000;  // the records' ids follow it; the tree's ids lie below
constexpr int kBlobBytes = 1024;

struct Scene {
  std::string dir;
  std::unique_ptr<Node> source;  // "src"
  double raw = 0;                // seconds of the baseline
  int pass = 0;                  // numbers the destinations
};

Scene gScene;

// The record text of record i: ten elements of the four kinds.
std::string recordXml(int i) {
  const std::string n = std::to_string(i);
  return "<title type=\"text\">record " + n + "</title><artist type=\"text\">artist " +
         std::to_string(i % 97) + "</artist><genre type=\"text\">genre " + std::to_string(i % 13) +
         "</genre><path type=\"text\">/photos/" + n + ".jpg</path><rating type=\"int4\">" +
         std::to_string(i % 5) + "</rating><width type=\"int4\">4000</width><height " +
         "type=\"int4\">3000</height><year type=\"int4\">2008</year><size type=\"int8\">" +
         std::to_string(1000000LL + i) + "</size><taken type=\"time\">" +
         std::to_string(1200000000LL + i * 60LL) + "</taken><b type=\"blob\"/>";
}

// Writes the records, their blobs and the date tree into the closed catalog "src": the
// namespace (id 2), one year (3), twelve months (4..15), 28 days each (16..351).
bool writeSource() {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2((gScene.dir + "src.vd").c_str(), &db, SQLITE_OPEN_READWRITE,
                            node::catalogVfsName()) == SQLITE_OK;
  ok = ok && exec(db, "ATTACH DATABASE '" + gScene.dir + "src.vm' AS blobs;") &&
       exec(db, "BEGIN;") &&
       exec(db,
            "INSERT INTO vd_cat (vd_id,vd_cdscr,vd_cper,vd_croot,vd_ctyp,vd_tgt) VALUES "
            "(2,'',0,'Dates',0,'photo');INSERT INTO vd_cat_nde VALUES (3,'2008',2,'');");
  for (int m = 0; ok && m < 12; ++m) {
    const int month = 4 + m;
    ok = exec(db, "INSERT INTO vd_cat_nde VALUES (" + std::to_string(month) + ",'" +
                      std::to_string(m + 1) + "',3,'');");
    for (int d = 0; ok && d < 28; ++d)
      ok = exec(db, "INSERT INTO vd_cat_nde VALUES (" + std::to_string(16 + m * 28 + d) + ",'" +
                        std::to_string(d + 1) + "'," + std::to_string(month) + ",'');");
  }
  sqlite3_stmt* row = nullptr;
  sqlite3_stmt* blob = nullptr;
  sqlite3_stmt* member = nullptr;
  ok =
      ok &&
      sqlite3_prepare_v2(db, "INSERT INTO vd_assets (vd_id,vd_tag,vd_xml) VALUES (?,'photo',?);",
                         -1, &row, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "INSERT INTO blobs.vd_blobs (vd_aid,vd_tag,vd_blob) VALUES (?,'b',?);",
                         -1, &blob, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (?,?,?);", -1,
                         &member, nullptr) == SQLITE_OK;
  const std::string bytes(kBlobBytes, 'x');
  long long key = kFirstId + gRecords;  // membership ids follow the records'
  for (int i = 0; ok && i < gRecords; ++i) {
    const int id = kFirstId + i, day = 16 + i % (12 * 28), month = 4 + (day - 16) / 28;
    const std::string xml = recordXml(i);
    sqlite3_bind_int(row, 1, id);
    sqlite3_bind_text(row, 2, xml.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(blob, 1, id);
    sqlite3_bind_blob(blob, 2, bytes.data(), kBlobBytes, SQLITE_STATIC);
    ok = sqlite3_step(row) == SQLITE_DONE && sqlite3_step(blob) == SQLITE_DONE;
    sqlite3_reset(row);
    sqlite3_reset(blob);
    for (int category : {day, month, 3}) {
      sqlite3_bind_int64(member, 1, key++);
      sqlite3_bind_int(member, 2, id);
      sqlite3_bind_int(member, 3, category);
      ok = ok && sqlite3_step(member) == SQLITE_DONE;
      sqlite3_reset(member);
    }
  }
  sqlite3_finalize(row);
  sqlite3_finalize(blob);
  sqlite3_finalize(member);
  ok = ok && exec(db, "UPDATE vd_id SET vd_id=" + std::to_string(key) + ";");
  ok = exec(db, ok ? "COMMIT;" : "ROLLBACK;") && ok;
  sqlite3_close(db);
  return ok;
}

bool setUpScene() {
  if (!vdbench::makeScratchDir("copy", &gScene.dir)) return false;
  gScene.source = std::make_unique<Node>("src", gScene.dir.c_str());
  Node empty("empty", gScene.dir.c_str());
  if (gScene.source->create() != 0 || empty.create() != 0 || !writeSource()) return false;
  // The raw side's files: the source's and an empty catalog's, under the engine's header.
  for (const char* name : {"src", "empty"})
    for (const char* ext : {".vd", ".vm"})
      if (!vdbench::engineHeaderCopy(gScene.dir + name + ext, gScene.dir + "raw-" + name + ext))
        return false;
  return gScene.source->open() == 0;
}

void tearDownScene() {
  gScene.source.reset();
  vdbench::removeScratchDir(gScene.dir);
}

void removeCatalog(const std::string& name) {
  std::error_code ignored;
  for (const char* ext : {".vd", ".vm"}) std::filesystem::remove(gScene.dir + name + ext, ignored);
}

// The baseline pass; the seconds, negative on failure.
double rawPass() {
  const std::string to = gScene.dir + "raw-dest";
  std::error_code error;
  for (const char* ext : {".vd", ".vm"})
    std::filesystem::copy_file(gScene.dir + "raw-empty" + ext, to + ext,
                               std::filesystem::copy_options::overwrite_existing, error);
  sqlite3* db = nullptr;
  bool ok = !error && sqlite3_open((gScene.dir + "raw-src.vd").c_str(), &db) == SQLITE_OK &&
            exec(db, "ATTACH DATABASE '" + gScene.dir + "raw-src.vm' AS blobs;");
  const auto start = Clock::now();
  ok = ok && exec(db, "ATTACH DATABASE '" + to + ".vd' AS d;") &&
       exec(db, "ATTACH DATABASE '" + to + ".vm' AS db;") && exec(db, "BEGIN;") &&
       exec(db,
            "INSERT INTO d.vd_assets (vd_id,vd_xml,vd_tag) SELECT vd_id,vd_xml,vd_tag FROM "
            "main.vd_assets;"
            "INSERT INTO db.vd_blobs (vd_aid,vd_tag,vd_blob) SELECT vd_aid,vd_tag,vd_blob FROM "
            "blobs.vd_blobs;"
            "INSERT INTO d.vd_cat SELECT * FROM main.vd_cat;"
            "INSERT INTO d.vd_cat_nde SELECT * FROM main.vd_cat_nde;"
            "INSERT INTO d.vd_cat_xref (vd_id,vd_aid,vd_cid) SELECT vd_id,vd_aid,vd_cid FROM "
            "main.vd_cat_xref ORDER BY vd_cid,vd_id;") &&
       exec(db, "COMMIT;") && exec(db, "DETACH DATABASE db;") && exec(db, "DETACH DATABASE d;");
  const double seconds = secondsSince(start);
  sqlite3_close(db);
  return ok ? seconds : -1;
}

// Counts the rows of `table` in the closed catalog `name`.
long long rowsIn(const std::string& name, const char* table) {
  sqlite3* db = nullptr;
  long long n = -1;
  if (sqlite3_open_v2((gScene.dir + name + ".vd").c_str(), &db, SQLITE_OPEN_READONLY,
                      node::catalogVfsName()) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, (std::string("SELECT count() FROM ") + table).c_str(), -1, &s,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      n = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return n;
}

// One catalog copy pass into a new destination; `foreign`: created and opened first.
double copyPass(bool foreign) {
  const std::string name = "dest" + std::to_string(gScene.pass++);
  Node dest(name.c_str(), gScene.dir.c_str());
  if (foreign && (dest.create() != 0 || dest.open() != 0)) return -1;
  Filter all;
  const auto start = Clock::now();
  const int status =
      gScene.source->copy(dest, all, true, nullptr, foreign ? IdMappingNewIds : IdMappingKeepIds);
  const double seconds = secondsSince(start);
  if (foreign) dest.close();
  const bool whole = status == 0 && rowsIn(name, "vd_assets") == gRecords &&
                     rowsIn(name, "vd_cat_xref") == 3LL * gRecords;
  if (status != 0) fprintf(stderr, "copy_bench: copy returned %d\n", status);
  removeCatalog(name);
  return whole ? seconds : -1;
}

void report(benchmark::State& state, double mean) {
  if (mean <= 0) return;
  state.counters["us_per_record"] = mean * 1e6 / gRecords;
  if (gScene.raw > 0) state.counters["ratio_vs_raw"] = gScene.raw / mean;
}

void BM_RawAttachInsertSelect(benchmark::State& state) {
  gScene.raw = runPasses(state, "raw copy failed", rawPass);
  report(state, gScene.raw);
}

void BM_CopyKeepIds(benchmark::State& state) {
  report(state, runPasses(state, "copy failed", [] { return copyPass(false); }));
}

void BM_CopyNewIds(benchmark::State& state) {
  report(state, runPasses(state, "copy failed", [] { return copyPass(true); }));
}

BENCHMARK(BM_RawAttachInsertSelect)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyKeepIds)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyNewIds)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--records=", 10) != 0) continue;
    gRecords = std::atoi(argv[i] + 10);
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    break;
  }
  return vdbench::runOverScene(
      argc, argv, "copy_bench", gScene.dir, [] { return gRecords > 0 && setUpScene(); },
      tearDownScene);
}

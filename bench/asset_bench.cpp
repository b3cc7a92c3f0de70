// Asset persistence and element scans, each measured against raw SQLite in the same process.
// A catalog and a plain SQLite file (default VFS, the catalog's own main schema) live in one
// temporary directory. Every pass handles gRecords records of ten elements (plus the two
// time stamps the catalog adds, which the raw rows carry as well, so that both sides write
// record texts of the same length):
//   store   one transaction of inserts: Asset::store vs a prepared INSERT of the record text;
//   load    by id in a fixed shuffled order: Node::assetLoad vs a prepared SELECT;
//   update  one transaction: element assignment + Asset::update vs a prepared UPDATE (the
//           loads that make the assets writable are not timed);
//   scan    one element value over all records: element_extract on the catalog's vd_xml vs
//           json_extract over an equivalent JSON column, and vs a promoted, indexed column.
// Each benchmark reports ratio_vs_raw (its rate as a fraction of the baseline's rate, so 0.5
// is half the raw speed) or ratio_vs_json for the scans, next to its per-record time.
// Benchmarks that need rows make them first (untimed) when run on their own.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "BenchObjects.h"
#include "functions/SqlFunctions.h"
#include "node/ConnectionPool.h"
#include "node/NodeAccess.h"
#include "node/Schema.h"
#include "platform/ObjectNames.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Node.h"
#include "vendrithane/Time.h"

using namespace KESTRIN::Vendrithane;

namespace {

int gRecords = 100000;            // records per pass (VENDRITHANE_BENCH_RECORDS)
constexpr int kGenres = 50;       // distinct values of the scanned element
constexpr char kType[] = "song";  // the collection type of every record
constexpr char kScanValue[] = "Genre 7";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The ten element values of record i; `generation` changes the rating for the update pass.
struct Values {
  std::string album, artist, genre, title;  // text elements
  int bitrate, rating, track, year;         // int4 elements
  long long duration;                       // int8 element
  long long taken;                          // time element, seconds
};

Values valuesOf(int i, int generation) {
  Values v;
  v.album = "Album " + std::to_string(i / 12);
  v.artist = "Artist " + std::to_string(i % 997);
  v.genre = "Genre " + std::to_string(i % kGenres);
  v.title = "Title " + std::to_string(i);
  v.bitrate = 128 + (i % 4) * 64;
  v.rating = (i + generation) % 6;
  v.track = i % 20 + 1;
  v.year = 1970 + i % 50;
  v.duration = 180000 + i;
  v.taken = 1500000000LL + i * 60LL;
  return v;
}

void tag(std::string& out, const char* name, const char* type, const std::string& value) {
  out += '<';
  out += name;
  if (type != nullptr) {
    out += " type=\"";
    out += type;
    out += '"';
  }
  out += '>';
  out += value;
  out += "</";
  out += name;
  out += '>';
}

// The record text the catalog writes for these values (elements in name order).
void recordXml(std::string& out, const Values& v, long long created, long long modified) {
  out.clear();
  tag(out, "album", nullptr, v.album);
  tag(out, "artist", nullptr, v.artist);
  tag(out, "bitrate", "int4", std::to_string(v.bitrate));
  tag(out, "duration", "int8", std::to_string(v.duration));
  tag(out, "genre", nullptr, v.genre);
  tag(out, "rating", "int4", std::to_string(v.rating));
  tag(out, "taken", "time", std::to_string(v.taken));
  tag(out, "title", nullptr, v.title);
  tag(out, "track", "int4", std::to_string(v.track));
  tag(out, "vd_created", "time", std::to_string(created));
  tag(out, "vd_modified", "time", std::to_string(modified));
  tag(out, "year", "int4", std::to_string(v.year));
}

// The same record as a JSON object.
std::string recordJson(const Values& v, long long created, long long modified) {
  auto text = [](const char* name, const std::string& value) {
    return std::string("\"") + name + "\":\"" + value + "\"";
  };
  auto number = [](const char* name, long long value) {
    return std::string("\"") + name + "\":" + std::to_string(value);
  };
  return "{" + text("album", v.album) + "," + text("artist", v.artist) + "," +
         number("bitrate", v.bitrate) + "," + number("duration", v.duration) + "," +
         text("genre", v.genre) + "," + number("rating", v.rating) + "," +
         number("taken", v.taken) + "," + text("title", v.title) + "," + number("track", v.track) +
         "," + number("vd_created", created) + "," + number("vd_modified", modified) + "," +
         number("year", v.year) + "}";
}

void fillAsset(Asset& a, const Values& v) {
  a.element("album") = v.album.c_str();
  a.element("artist") = v.artist.c_str();
  a.element("bitrate") = v.bitrate;
  a.element("duration") = v.duration;
  a.element("genre") = v.genre.c_str();
  a.element("rating") = v.rating;
  a.element("taken") = Time(v.taken);
  a.element("title") = v.title.c_str();
  a.element("track") = v.track;
  a.element("year") = v.year;
}

// --- The shared scene: one catalog, one raw file, and what the passes left behind ---------

struct Scene {
  std::string dir;              // the temporary directory, with a trailing "/"
  std::unique_ptr<Node> node;   // the catalog "bench", open
  sqlite3* raw = nullptr;       // the plain SQLite file "raw.db"
  std::vector<int> catalogIds;  // ids of the stored catalog records, in store order
  std::vector<int> order;       // a fixed shuffled order of record indexes for the loads
  bool rawStored = false;       // the raw rows exist
  bool jsonStored = false;      // the raw JSON rows exist
  bool promoted = false;        // the catalog's "genre" column and index exist
  // Baseline times of the last runs, in seconds per pass (0: not run yet).
  double rawStore = 0, rawLoad = 0, rawUpdate = 0, jsonScan = 0;
};

Scene gScene;

bool exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  const int code = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  if (code != SQLITE_OK) {
    fprintf(stderr, "asset_bench: %s: %s\n", sql, message ? message : sqlite3_errstr(code));
    sqlite3_free(message);
    return false;
  }
  return true;
}

sqlite3_stmt* prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    fprintf(stderr, "asset_bench: %s: %s\n", sql, sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    return nullptr;
  }
  return stmt;
}

bool setUpScene() {
  std::string templ = "/tmp/vdbench-XXXXXX";
  if (mkdtemp(&templ[0]) == nullptr) return false;
  gScene.dir = templ + "/";
  gScene.node = std::make_unique<Node>("bench", gScene.dir.c_str());
  if (gScene.node->create() != 0 || gScene.node->open() != 0) return false;
  const std::string rawFile = gScene.dir + "raw.db";
  if (sqlite3_open_v2(rawFile.c_str(), &gScene.raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    return false;
  }
  // The raw file gets the catalog's own tables and indexes, and the catalog's functions so
  // that element_extract can also run over it.
  if (!exec(gScene.raw, node::kMainSchemaScript)) return false;
  if (functions::registerCatalogFunctions(gScene.raw, nullptr, nullptr) != 0) return false;
  gScene.order.resize(gRecords);
  std::iota(gScene.order.begin(), gScene.order.end(), 0);
  std::shuffle(gScene.order.begin(), gScene.order.end(), std::mt19937(20240607));
  return true;
}

void tearDownScene() {
  gScene.node.reset();
  if (gScene.raw != nullptr) sqlite3_close_v2(gScene.raw);
  gScene.raw = nullptr;
  if (!gScene.dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(gScene.dir, ignored);
  }
}

// Holds the calling thread's catalog connection.
struct CatalogConnection {
  CatalogConnection() : lease(NodeAccess::impl(*gScene.node)->pool()) {}
  sqlite3* db() const { return lease ? lease->db() : nullptr; }
  node::ConnectionLease lease;  // the catalog's connection for this thread
};

// --- The passes: each returns its time in seconds, or a negative value on failure --------

double rawStorePass() {
  sqlite3* db = gScene.raw;
  if (!exec(db, "DELETE FROM vd_assets;")) return -1;
  sqlite3_stmt* insert = prepare(db, "INSERT INTO vd_assets (vd_id,vd_tag,vd_xml) VALUES (?,?,?);");
  if (insert == nullptr) return -1;
  std::string xml;
  bool ok = true;
  const auto start = Clock::now();
  ok = exec(db, "BEGIN;");
  for (int i = 0; ok && i < gRecords; ++i) {
    const long long now = time(nullptr);
    recordXml(xml, valuesOf(i, 0), now, now);
    sqlite3_bind_int(insert, 1, i + 1);
    sqlite3_bind_text(insert, 2, kType, -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, xml.data(), static_cast<int>(xml.size()), SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  ok = ok && exec(db, "COMMIT;");
  const double seconds = secondsSince(start);
  sqlite3_finalize(insert);
  if (!ok) return -1;
  gScene.rawStored = true;
  return seconds;
}

double catalogStorePass() {
  Node& node = *gScene.node;
  if (!gScene.catalogIds.empty() && node.assetRemove(gScene.catalogIds) != 0) return -1;
  gScene.catalogIds.clear();
  gScene.catalogIds.reserve(gRecords);
  bool ok = true;
  const auto start = Clock::now();
  ok = node.transactionBegin() == 0;
  for (int i = 0; ok && i < gRecords; ++i) {
    Asset a = node.asset(kType, true);
    fillAsset(a, valuesOf(i, 0));
    ok = a.store() == 0;
    gScene.catalogIds.push_back(a.id());
  }
  ok = node.transactionCommit() == 0 && ok;
  const double seconds = secondsSince(start);
  if (!ok) gScene.catalogIds.clear();
  return ok ? seconds : -1;
}

double rawLoadPass(uint64_t* bytes) {
  sqlite3_stmt* select = prepare(gScene.raw, "SELECT vd_xml,vd_tag FROM vd_assets WHERE vd_id=?;");
  if (select == nullptr) return -1;
  std::string xml, tagText;
  bool ok = true;
  const auto start = Clock::now();
  for (int i : gScene.order) {
    sqlite3_bind_int(select, 1, i + 1);
    if (sqlite3_step(select) != SQLITE_ROW) {
      ok = false;
      break;
    }
    xml.assign(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
               static_cast<size_t>(sqlite3_column_bytes(select, 0)));
    tagText.assign(reinterpret_cast<const char*>(sqlite3_column_text(select, 1)),
                   static_cast<size_t>(sqlite3_column_bytes(select, 1)));
    *bytes += xml.size();
    sqlite3_reset(select);
  }
  const double seconds = secondsSince(start);
  sqlite3_finalize(select);
  return ok ? seconds : -1;
}

// Loads every record by id; with `parse` each loaded asset is also parsed (nElements).
double catalogLoadPass(bool parse, uint64_t* elements) {
  Node& node = *gScene.node;
  const auto start = Clock::now();
  try {
    for (int i : gScene.order) {
      Asset a = node.assetLoad(gScene.catalogIds[i]);
      *elements += parse ? a.nElements() : 1;
    }
  } catch (Status) {
    return -1;
  }
  return secondsSince(start);
}

double rawUpdatePass() {
  sqlite3* db = gScene.raw;
  sqlite3_stmt* update = prepare(db, "UPDATE vd_assets SET vd_tag=?,vd_xml=? WHERE vd_id=?;");
  if (update == nullptr) return -1;
  const long long created = time(nullptr);
  std::string xml;
  bool ok = true;
  const auto start = Clock::now();
  ok = exec(db, "BEGIN;");
  for (int i = 0; ok && i < gRecords; ++i) {
    recordXml(xml, valuesOf(i, 1), created, time(nullptr));
    sqlite3_bind_text(update, 1, kType, -1, SQLITE_STATIC);
    sqlite3_bind_text(update, 2, xml.data(), static_cast<int>(xml.size()), SQLITE_STATIC);
    sqlite3_bind_int(update, 3, i + 1);
    ok = sqlite3_step(update) == SQLITE_DONE && sqlite3_changes(db) == 1;
    sqlite3_reset(update);
  }
  ok = ok && exec(db, "COMMIT;");
  const double seconds = secondsSince(start);
  sqlite3_finalize(update);
  return ok ? seconds : -1;
}

// Times the element assignment and Asset::update of each record, and the commit; the load
// and parse that precede each update are not timed.
double catalogUpdatePass() {
  Node& node = *gScene.node;
  if (node.transactionBegin() != 0) return -1;
  double seconds = 0;
  bool ok = true;
  try {
    for (int i = 0; ok && i < gRecords; ++i) {
      Asset a = node.assetLoad(gScene.catalogIds[i]);
      a.nElements();
      const auto start = Clock::now();
      a.element("rating") = valuesOf(i, 1).rating;
      ok = a.update() == 0;
      seconds += secondsSince(start);
    }
  } catch (Status) {
    ok = false;
  }
  const auto start = Clock::now();
  ok = node.transactionCommit() == 0 && ok;
  seconds += secondsSince(start);
  return ok ? seconds : -1;
}

// --- Rows the later benchmarks need, made untimed when missing ----------------------------

bool ensureRawRows() {
  return gScene.rawStored || rawStorePass() >= 0;
}

bool ensureCatalogRows() {
  return static_cast<int>(gScene.catalogIds.size()) == gRecords || catalogStorePass() >= 0;
}

bool ensureJsonRows() {
  if (gScene.jsonStored) return true;
  sqlite3* db = gScene.raw;
  if (!exec(db,
            "CREATE TABLE vd_docs (vd_id INTEGER, vd_tag TEXT, vd_json TEXT);"
            "CREATE UNIQUE INDEX vd_docs_vd_id_idx ON vd_docs (vd_id);BEGIN;")) {
    return false;
  }
  sqlite3_stmt* insert = prepare(db, "INSERT INTO vd_docs VALUES (?,?,?);");
  bool ok = insert != nullptr;
  const long long now = time(nullptr);
  for (int i = 0; ok && i < gRecords; ++i) {
    const std::string json = recordJson(valuesOf(i, 0), now, now);
    sqlite3_bind_int(insert, 1, i + 1);
    sqlite3_bind_text(insert, 2, kType, -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, json.data(), static_cast<int>(json.size()), SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ok = exec(db, ok ? "COMMIT;" : "ROLLBACK;") && ok;
  gScene.jsonStored = ok;
  return ok;
}

// The "genre" element promoted to an indexed column of vd_assets. This mirrors what element
// promotion does (the column, its fill through element_extract, the index) directly in SQL on
// the catalog's connection; it can become Element::index once that is in place.
bool ensurePromoted() {
  if (gScene.promoted) return true;
  CatalogConnection c;
  if (c.db() == nullptr) return false;
  if (!exec(c.db(),
            "ALTER TABLE vd_assets ADD COLUMN genre TEXT;"
            "UPDATE vd_assets SET genre=element_extract('genre', vd_xml);"
            "CREATE INDEX genre_idx ON vd_assets (genre ASC);")) {
    return false;
  }
  NodeAccess::impl(*gScene.node)->pool().schemaChanged(*c.lease);
  gScene.promoted = true;
  return true;
}

// --- Reporting ----------------------------------------------------------------------------

// Runs `pass` once per iteration and reports the mean pass: its time per record and, once
// the baseline has run (baseline > 0), the rate as a fraction of the baseline's rate. Returns
// the mean seconds per pass; negative, with the benchmark marked failed, when a pass failed.
template <class Pass>
double runPasses(benchmark::State& state, const char* failure, Pass pass, double baseline) {
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
  const double mean = total / static_cast<double>(state.iterations());
  state.counters["us_per_record"] = mean * 1e6 / gRecords;
  if (baseline > 0) state.counters["ratio_vs_raw"] = baseline / mean;
  return mean;
}

// --- Store, load, update --------------------------------------------------------------------

void BM_RawStore(benchmark::State& state) {
  gScene.rawStore = runPasses(state, "raw store failed", rawStorePass, 0);
}

void BM_CatalogStore(benchmark::State& state) {
  if (runPasses(state, "catalog store failed", catalogStorePass, gScene.rawStore) < 0) return;
  if (!ensureRawRows()) return;
  // Both sides must have written record texts of the same length.
  CatalogConnection c;
  sqlite3_stmt* sum = prepare(c.db(), "SELECT sum(length(vd_xml)) FROM vd_assets;");
  sqlite3_stmt* rawSum = prepare(gScene.raw, "SELECT sum(length(vd_xml)) FROM vd_assets;");
  if (sum && rawSum && sqlite3_step(sum) == SQLITE_ROW && sqlite3_step(rawSum) == SQLITE_ROW) {
    const long long bytes = sqlite3_column_int64(sum, 0);
    state.counters["xml_bytes_per_record"] = static_cast<double>(bytes) / gRecords;
    if (bytes != sqlite3_column_int64(rawSum, 0))
      state.SkipWithError("the raw rows differ in size from the catalog's");
  }
  sqlite3_finalize(sum);
  sqlite3_finalize(rawSum);
}

void BM_RawLoadById(benchmark::State& state) {
  if (!ensureRawRows()) return state.SkipWithError("no raw rows");
  uint64_t bytes = 0;
  gScene.rawLoad = runPasses(
      state, "raw load failed", [&bytes] { return rawLoadPass(&bytes); }, 0);
  benchmark::DoNotOptimize(bytes);
}

void BM_CatalogLoadById(benchmark::State& state) {
  if (!ensureCatalogRows()) return state.SkipWithError("no catalog records");
  uint64_t elements = 0;
  runPasses(
      state, "catalog load failed", [&elements] { return catalogLoadPass(false, &elements); },
      gScene.rawLoad);
  benchmark::DoNotOptimize(elements);
}

// The load followed by the parse of the record text, for comparison with the plain load.
void BM_CatalogLoadByIdAndParse(benchmark::State& state) {
  if (!ensureCatalogRows()) return state.SkipWithError("no catalog records");
  uint64_t elements = 0;
  if (runPasses(
          state, "catalog load failed", [&elements] { return catalogLoadPass(true, &elements); },
          gScene.rawLoad) < 0) {
    return;
  }
  if (elements != static_cast<uint64_t>(gRecords) * 12 * state.iterations())
    state.SkipWithError("records read back with the wrong number of elements");
}

void BM_RawUpdate(benchmark::State& state) {
  if (!ensureRawRows()) return state.SkipWithError("no raw rows");
  gScene.rawUpdate = runPasses(state, "raw update failed", rawUpdatePass, 0);
}

void BM_CatalogUpdate(benchmark::State& state) {
  if (!ensureCatalogRows()) return state.SkipWithError("no catalog records");
  runPasses(state, "catalog update failed", catalogUpdatePass, gScene.rawUpdate);
}

// --- Scans ----------------------------------------------------------------------------------

// Runs the counting query `sql` (one parameter: the scanned value) once per iteration and
// checks its count. Returns the seconds per scan, negative on failure.
double runScan(benchmark::State& state, sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = prepare(db, sql);
  if (stmt == nullptr) return -1;
  sqlite3_bind_text(stmt, 1, kScanValue, -1, SQLITE_STATIC);
  double total = 0;
  bool ok = true;
  for (auto _ : state) {
    const auto start = Clock::now();
    ok = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == gRecords / kGenres;
    sqlite3_reset(stmt);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    total += seconds;
    if (!ok) break;
  }
  sqlite3_finalize(stmt);
  if (!ok) return -1;
  const double perScan = total / static_cast<double>(state.iterations());
  state.counters["us_per_record"] = perScan * 1e6 / gRecords;
  return perScan;
}

void reportScan(benchmark::State& state, double perScan) {
  if (perScan < 0) return state.SkipWithError("scan failed or counted wrongly");
  if (gScene.jsonScan > 0) state.counters["ratio_vs_json"] = gScene.jsonScan / perScan;
}

void BM_ScanJsonExtract(benchmark::State& state) {
  if (!ensureJsonRows()) return state.SkipWithError("no JSON rows");
  const double perScan = runScan(
      state, gScene.raw, "SELECT count(*) FROM vd_docs WHERE json_extract(vd_json,'$.genre')=?;");
  if (perScan < 0) return state.SkipWithError("scan failed or counted wrongly");
  gScene.jsonScan = perScan;
}

void BM_ScanElementExtract(benchmark::State& state) {
  if (!ensureCatalogRows()) return state.SkipWithError("no catalog records");
  CatalogConnection c;
  reportScan(state, runScan(state, c.db(),
                            "SELECT count(*) FROM vd_assets WHERE "
                            "element_extract('genre',vd_xml)=?;"));
}

// element_extract over the raw file's rows: the function alone, without the catalog VFS.
void BM_ScanElementExtractRawFile(benchmark::State& state) {
  if (!ensureRawRows()) return state.SkipWithError("no raw rows");
  reportScan(state,
             runScan(state, gScene.raw,
                     "SELECT count(*) FROM vd_assets WHERE element_extract('genre',vd_xml)=?;"));
}

void BM_ScanPromotedColumn(benchmark::State& state) {
  if (!ensureCatalogRows() || !ensurePromoted()) return state.SkipWithError("no promoted column");
  CatalogConnection c;
  reportScan(state, runScan(state, c.db(), "SELECT count(*) FROM vd_assets WHERE genre=?;"));
}

BENCHMARK(BM_RawStore)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogStore)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
// Loads are read-only, so they run three passes each to even out the noise of the reads.
BENCHMARK(BM_RawLoadById)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogLoadById)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogLoadByIdAndParse)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawUpdate)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogUpdate)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanJsonExtract)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanElementExtract)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanElementExtractRawFile)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPromotedColumn)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  BenchObjects objects;  // never a catalog slot of a real user
  benchmark::Initialize(&argc, argv);
  // Fewer records make a run under callgrind short enough to count instructions per pass.
  if (const char* records = getenv("VENDRITHANE_BENCH_RECORDS")) {
    int n = atoi(records);
    if (n < kGenres || n % kGenres != 0) {
      fprintf(stderr, "asset_bench: VENDRITHANE_BENCH_RECORDS must be a multiple of %d\n", kGenres);
      return 1;
    }
    gRecords = n;
  }
  int result = 0;
  if (setUpScene()) {
    benchmark::RunSpecifiedBenchmarks();
  } else {
    fprintf(stderr, "asset_bench: could not set up the catalog in %s\n", gScene.dir.c_str());
    result = 1;
  }
  benchmark::Shutdown();
  tearDownScene();
  return result;
}

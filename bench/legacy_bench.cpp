// Reading an old catalog file: every row of a generated blob table through the old-file
// reader, beside stock SQLite reading the same rows from an equivalent plain file in the
// same process. Also the reader's peak heap use while it reads (counted by this program's
// operator new), which should stay at a fixed page cache plus one row.
//
// VD_LEGACY_BENCH_ROWS sets the row count (default 50,000; blobs of 1 to 20 KiB each, so
// the default files are about 530 MB each).
//
// Upgrading an old catalog (BM_Upgrade51, BM_Upgrade32): the open() that converts a
// generated 5.1 or 3.2 catalog, beside stock SQLite copying the same rows from a plain file
// into a new file of the catalog's schema (BM_PlainCopy: a prepared SELECT and INSERT per
// table, one transaction), and the peak resident memory a child process adds while it only
// upgrades. VD_UPGRADE_BENCH_RECORDS sets the record count (default 50,000: as many
// memberships, a fifth as many blobs of 1 to 20 KiB). Run them alone with
// --benchmark_filter='Upgrade|PlainCopy'.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <malloc.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "BenchObjects.h"
#include "helpers/LegacyWriter.h"
#include "helpers/ScratchDir.h"
#include "legacy/LegacyFile.h"
#include "node/Schema.h"
#include "platform/Files.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

// Heap accounting: bytes live now and the highest value since the last reset. The
// replacements pair malloc with free, which GCC cannot see through.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static std::atomic<size_t> gLive{0}, gPeak{0};

void* operator new(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  const size_t live = gLive += malloc_usable_size(p);
  size_t peak = gPeak.load();
  while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
  }
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  gLive -= malloc_usable_size(p);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  operator delete(p);
}

namespace {

struct Files {
  vdtest::ScratchDir dir{"vdbench-legacy-"};
  std::string legacyPath, plainPath;
  size_t rows = 0;
  uint64_t bytes = 0;  // stored value bytes, the same in both files

  Files() {
    const char* env = std::getenv("VD_LEGACY_BENCH_ROWS");
    rows = env ? std::strtoul(env, nullptr, 10) : 50000;
    legacyPath = dir.path() + "old.vd";
    plainPath = dir.path() + "plain.db";
    std::mt19937 random(42);
    std::vector<vdtest::LegacyRow> table;
    table.reserve(rows);
    static const char* const kTags[] = {"thumb", "preview", "attachment", "icon"};
    for (size_t k = 0; k < rows; ++k) {
      std::string blob(1024 + random() % (19 * 1024 + 1), '\0');
      for (char& c : blob) c = static_cast<char>(1 + random() % 255);  // encoded: no zeros
      const std::string aid = std::to_string(k + 1);
      bytes += aid.size() + blob.size() + std::char_traits<char>::length(kTags[k % 4]);
      table.push_back({static_cast<int32_t>(k + 1), {aid, std::string(kTags[k % 4]), blob}});
    }
    sqlite3* db = nullptr;
    sqlite3_open(plainPath.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=OFF; CREATE TABLE vd_blobs (vd_aid INTEGER, vd_tag TEXT, "
                 "vd_blob BLOB); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO vd_blobs VALUES (?, ?, ?)", -1, &insert, nullptr);
    for (const vdtest::LegacyRow& row : table) {
      for (int c = 0; c < 3; ++c) {
        const std::string& v = *row.values[c];
        sqlite3_bind_text(insert, c + 1, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
      }
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    vdtest::LegacyWriter writer;
    writer.addTable("vd_blobs", "CREATE TABLE vd_blobs (vd_aid INTEGER, vd_tag TEXT, vd_blob BLOB)",
                    std::move(table));
    std::ofstream(legacyPath, std::ios::binary) << writer.bytes();
  }
};

Files& files() {
  static Files f;  // removed with its directory at exit
  return f;
}

double gPlainSeconds = 0;  // per pass, from BM_PlainSqliteRead

void BM_PlainSqliteRead(benchmark::State& state) {
  Files& f = files();
  sqlite3* db = nullptr;
  sqlite3_open_v2(f.plainPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM vd_blobs", -1, &select, nullptr);
    uint64_t bytes = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      for (int c = 0; c < 3; ++c) {
        benchmark::DoNotOptimize(sqlite3_column_text(select, c));
        bytes += static_cast<uint64_t>(sqlite3_column_bytes(select, c));
      }
    }
    sqlite3_finalize(select);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (bytes != f.bytes) state.SkipWithError("plain file: bytes differ");
  }
  sqlite3_close(db);
  gPlainSeconds = seconds / static_cast<double>(state.iterations());
  state.counters["MB_per_s"] = static_cast<double>(f.bytes) / 1e6 / gPlainSeconds;
}

void BM_LegacyRead(benchmark::State& state) {
  Files& f = files();
  double seconds = 0;
  size_t peak = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const size_t before = gLive;
    gPeak = before;
    legacy::LegacyFile file;
    if (file.open(f.legacyPath) != StatusOk || file.table("vd_blobs") == nullptr) {
      state.SkipWithError(file.error().c_str());
      break;
    }
    uint64_t bytes = 0;
    {
      legacy::LegacyRows rows(file, *file.table("vd_blobs"));
      bool has = true;
      while (rows.next(has) == StatusOk && has) {
        for (size_t c = 0; c < rows.size(); ++c) {
          benchmark::DoNotOptimize(rows.value(c).text.data());
          bytes += rows.value(c).text.size();
        }
      }
    }
    peak = gPeak - before;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (bytes != f.bytes) state.SkipWithError("old file: bytes differ");
  }
  seconds /= static_cast<double>(state.iterations());
  state.counters["MB_per_s"] = static_cast<double>(f.bytes) / 1e6 / seconds;
  state.counters["peak_heap_KiB"] = static_cast<double>(peak) / 1024;
  state.counters["file_MB"] = static_cast<double>(f.bytes) / 1e6;
  if (gPlainSeconds > 0) state.counters["ratio_vs_sqlite"] = seconds / gPlainSeconds;
}

BENCHMARK(BM_PlainSqliteRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LegacyRead)->Unit(benchmark::kMillisecond)->Iterations(3);

// An old catalog (version 5.1 or 3.2) and the same rows in a plain SQLite file.
struct UpgradeFiles {
  BenchObjects objects;
  vdtest::ScratchDir dir{"vdbench-upgrade-"};
  std::string oldMain, oldBlob, plain;
  size_t records = 0;

  explicit UpgradeFiles(const std::string& version) {
    const char* env = std::getenv("VD_UPGRADE_BENCH_RECORDS");
    records = env ? std::strtoul(env, nullptr, 10) : 50000;
    const bool codePage = version < "4";
    oldMain = dir.path() + "old.vd";
    oldBlob = dir.path() + "old.vm";
    plain = dir.path() + "plain.db";
    std::mt19937 random(7);
    auto word = [&](size_t n) {
      std::string w;
      for (size_t k = 0; k < n; ++k) w += static_cast<char>('a' + random() % 26);
      if (codePage) w += "\xE9\x80";  // é and €, converted by the upgrade
      return w;
    };
    struct Table {
      const char* name;
      const char* sql;
      std::vector<vdtest::LegacyRow> rows;
    };
    std::vector<Table> main{
        {"vd_id", "CREATE TABLE vd_id (vd_id INTEGER)", {}},
        {"vd_version", "CREATE TABLE vd_version (vd_id INTEGER, vd_version TEXT)", {}},
        {"vd_cat",
         "CREATE TABLE vd_cat (vd_id INTEGER, vd_cdscr TEXT, vd_cper INTEGER, vd_croot TEXT, "
         "vd_ctyp INTEGER, vd_tgt TEXT)",
         {}},
        {"vd_cat_nde",
         "CREATE TABLE vd_cat_nde (vd_id INTEGER, vd_cnod TEXT, vd_cpid INTEGER, vd_xml TEXT)",
         {}},
        {"vd_cat_xref",
         "CREATE TABLE vd_cat_xref (vd_id INTEGER, vd_aid INTEGER, vd_cid INTEGER)",
         {}},
        {"vd_assets", "CREATE TABLE vd_assets (vd_id INTEGER, vd_tag TEXT, vd_xml TEXT)", {}},
        {"vd_registry", "CREATE TABLE vd_registry (vd_tag TEXT, vd_value TEXT)", {}},
        {"photo", "CREATE TABLE photo (vd_id INTEGER PRIMARY KEY, vd_xml)", {}},
        {"movie", "CREATE TABLE movie (vd_id INTEGER, title TEXT, year INTEGER)", {}}};
    Table blobs{
        "vd_blobs", "CREATE TABLE vd_blobs (vd_aid INTEGER, vd_tag TEXT, vd_blob BLOB)", {}};
    int id = 10;
    main[1].rows.push_back({1, {std::string("1"), version}});
    main[2].rows.push_back({1,
                            {std::string("2"), word(8), std::string("1"), word(6), std::string("0"),
                             std::string("photo")}});
    for (int k = 0; k < 300; ++k)
      main[3].rows.push_back(
          {k + 1,
           {std::to_string(id++), word(10), std::string("2"), "<note>" + word(20) + "</note>"}});
    const int firstRecord = id;
    for (size_t k = 0; k < records; ++k, ++id) {
      const std::string xml =
          "<title>" + word(12) + "</title><body>" + word(150 + random() % 400) + "</body>";
      if (k % 2 == 0) {
        main[5].rows.push_back(
            {static_cast<int32_t>(k + 1), {std::to_string(id), std::string("note"), xml}});
      } else if (k % 4 == 1) {
        main[7].rows.push_back({id, {std::nullopt, xml}});
      } else {
        main[8].rows.push_back(
            {static_cast<int32_t>(k + 1),
             {std::to_string(id), word(20), std::to_string(1900 + random() % 120)}});
      }
      if (k % 5 == 0) {
        std::string bytes(1024 + random() % (19 * 1024 + 1), '\0');
        for (char& c : bytes) c = static_cast<char>(1 + random() % 255);
        blobs.rows.push_back(
            {static_cast<int32_t>(k / 5 + 1), {std::to_string(id), std::string("thumb"), bytes}});
      }
    }
    for (size_t k = 0; k < records; ++k)
      main[4].rows.push_back(
          {static_cast<int32_t>(k + 1),
           {std::to_string(id++), std::to_string(firstRecord + random() % records),
            std::to_string(10 + k % 300)}});
    main[0].rows.push_back({1, {std::to_string(id)}});
    for (int k = 0; k < 10; ++k)
      main[6].rows.push_back({k + 1, {"app.key" + std::to_string(k), word(30)}});

    // The plain file: the same tables and rows, values as text (the decoded blob bytes as
    // blobs).
    sqlite3* db = nullptr;
    sqlite3_open(plain.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=OFF; BEGIN", nullptr, nullptr, nullptr);
    for (const Table* t : {&main[0], &main[1], &main[2], &main[3], &main[4], &main[5], &main[6],
                           &main[7], &main[8], &blobs}) {
      sqlite3_exec(db, t->sql, nullptr, nullptr, nullptr);
      const size_t n = t->rows.empty() ? 0 : t->rows[0].values.size();
      std::string insert = std::string("INSERT INTO ") + t->name + " VALUES (?";
      for (size_t c = 1; c < n; ++c) insert += ",?";
      sqlite3_stmt* stmt = nullptr;
      sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr);
      for (const vdtest::LegacyRow& row : t->rows) {
        for (size_t c = 0; c < n; ++c) {
          const auto& v = row.values[c];
          if (!v) {
            sqlite3_bind_int(stmt, static_cast<int>(c) + 1, row.rowid);  // the rowid alias
          } else if (t == &blobs && c == 2) {
            sqlite3_bind_blob(stmt, 3, v->data(), static_cast<int>(v->size()), SQLITE_STATIC);
          } else {
            sqlite3_bind_text(stmt, static_cast<int>(c) + 1, v->data(), static_cast<int>(v->size()),
                              SQLITE_STATIC);
          }
        }
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
      }
      sqlite3_finalize(stmt);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    // The old catalog ('D' and 0x86 in a blob's text stand for other bytes; the plain file's
    // bytes differ there, which does not change the work).
    vdtest::LegacyWriter writer, blobWriter;
    for (Table& t : main) writer.addTable(t.name, t.sql, std::move(t.rows));
    blobWriter.addTable(blobs.name, blobs.sql, std::move(blobs.rows));
    std::ofstream(oldMain, std::ios::binary) << writer.bytes(2000);
    std::ofstream(oldBlob, std::ios::binary) << blobWriter.bytes(2000);
    malloc_trim(0);
  }

  // A fresh copy of the old catalog as catalog `name`.
  void place(const std::string& name) {
    for (const char* ext : {".vd", ".vm", ".vd-journal", ".vm-journal"})
      std::remove((dir.path() + name + ext).c_str());
    platform::copyFile(oldMain, dir.path() + name + ".vd", false);
    platform::copyFile(oldBlob, dir.path() + name + ".vm", false);
  }
};

UpgradeFiles& upgradeFiles(const std::string& version) {
  static std::map<std::string, std::unique_ptr<UpgradeFiles>> made;
  auto& files = made[version];
  if (!files) files = std::make_unique<UpgradeFiles>(version);
  return *files;
}

long statusField(const char* field) {  // kB, from /proc/self/status
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0)
      return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  return -1;
}

// The resident memory a child process adds while it opens (upgrades) catalog `name`, KiB.
long childUpgradeKiB(UpgradeFiles& f, const std::string& name) {
  f.place(name);
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    long start = statusField("VmRSS:");
    Node node(name.c_str(), f.dir.path().c_str());
    long grown =
        node.open(false, false, f.dir.path().c_str()) == 0 ? statusField("VmHWM:") - start : -1;
    if (write(fds[1], &grown, sizeof grown) != sizeof grown) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  long grown = -1;
  if (read(fds[0], &grown, sizeof grown) != sizeof grown) grown = -1;
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return grown;
}

double gPlainCopySeconds = 0;  // per pass, from BM_PlainCopy

void BM_PlainCopy(benchmark::State& state) {
  UpgradeFiles& f = upgradeFiles("5.1");
  double seconds = 0;
  for (auto _ : state) {
    const std::string main = f.dir.path() + "copy.db", blob = f.dir.path() + "copy-blobs.db";
    std::remove(main.c_str());
    std::remove(blob.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(blob.c_str(), &db);
    sqlite3_exec(db, node::kBlobSchemaScript, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    sqlite3_open(main.c_str(), &db);
    sqlite3_exec(db, node::kMainSchemaScript, nullptr, nullptr, nullptr);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, ("ATTACH '" + blob + "' AS blobs; ATTACH '" + f.plain + "' AS old;").c_str(),
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "BEGIN IMMEDIATE; DELETE FROM vd_id;"
                 "CREATE TABLE photo (vd_id INTEGER PRIMARY KEY, vd_xml);"
                 "CREATE TABLE movie (vd_id INTEGER PRIMARY KEY, vd_xml);",
                 nullptr, nullptr, nullptr);
    static const char* const kCopies[][2] = {
        {"SELECT vd_id FROM old.vd_id", "INSERT INTO vd_id VALUES (?)"},
        {"SELECT * FROM old.vd_cat", "INSERT OR IGNORE INTO vd_cat VALUES (?,?,?,?,?,?)"},
        {"SELECT * FROM old.vd_cat_nde", "INSERT OR IGNORE INTO vd_cat_nde VALUES (?,?,?,?)"},
        {"SELECT * FROM old.vd_cat_xref", "INSERT OR IGNORE INTO vd_cat_xref VALUES (?,?,?)"},
        {"SELECT * FROM old.vd_assets", "INSERT OR IGNORE INTO vd_assets VALUES (?,?,?)"},
        {"SELECT * FROM old.vd_registry", "INSERT OR IGNORE INTO vd_registry VALUES (?,?)"},
        {"SELECT * FROM old.photo", "INSERT OR IGNORE INTO photo VALUES (?,?)"},
        {"SELECT vd_id,'<title>'||title||'</title><year>'||year||'</year>' FROM old.movie",
         "INSERT OR IGNORE INTO movie VALUES (?,?)"},
        {"SELECT * FROM old.vd_blobs", "INSERT OR IGNORE INTO blobs.vd_blobs VALUES (?,?,?)"}};
    for (const auto& copy : kCopies) {
      sqlite3_stmt *select = nullptr, *insert = nullptr;
      sqlite3_prepare_v2(db, copy[0], -1, &select, nullptr);
      sqlite3_prepare_v2(db, copy[1], -1, &insert, nullptr);
      while (sqlite3_step(select) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(select); ++c)
          sqlite3_bind_value(insert, c + 1, sqlite3_column_value(select, c));
        if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
        sqlite3_reset(insert);
      }
      sqlite3_finalize(select);
      sqlite3_finalize(insert);
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
      state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_close(db);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  gPlainCopySeconds = seconds / static_cast<double>(state.iterations());
  state.counters["records"] = static_cast<double>(f.records);
}

void upgrade(benchmark::State& state, const std::string& version) {
  UpgradeFiles& f = upgradeFiles(version);
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.place("catalog");
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    Node node("catalog", f.dir.path().c_str());
    const int status = node.open(false, false, f.dir.path().c_str());
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) state.SkipWithError(("open: " + std::to_string(status)).c_str());
    state.PauseTiming();
    node.close();
    state.ResumeTiming();
  }
  seconds /= static_cast<double>(state.iterations());
  state.counters["records"] = static_cast<double>(f.records);
  state.counters["child_peak_rss_growth_KiB"] = static_cast<double>(childUpgradeKiB(f, "child"));
  if (gPlainCopySeconds > 0) state.counters["ratio_vs_sqlite"] = seconds / gPlainCopySeconds;
}

void BM_Upgrade51(benchmark::State& state) {
  upgrade(state, "5.1");
}
void BM_Upgrade32(benchmark::State& state) {
  upgrade(state, "3.2");
}

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Upgrade51)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Upgrade32)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

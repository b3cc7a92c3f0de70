// Reading an old catalog file: every row of a generated blob table through the old-file
// reader, beside stock SQLite reading the same rows from an equivalent plain file in the
// same process. Also the reader's peak heap use while it reads (counted by this program's
// operator new), which should stay at a fixed page cache plus one row.
//
// VD_LEGACY_BENCH_ROWS sets the row count (default 50,000; blobs of 1 to 20 KiB each, so
// the default files are about 530 MB each).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <malloc.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>
#include <string>

#include "helpers/LegacyWriter.h"
#include "helpers/ScratchDir.h"
#include "legacy/LegacyFile.h"

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

}  // namespace

BENCHMARK_MAIN();

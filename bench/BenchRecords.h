// What the benchmarks that fill a catalog through raw SQLite share: running a statement with
// its failure printed, and writing collection records straight into a closed catalog.
#ifndef VENDRITHANE_BENCH_BENCHRECORDS_H
#define VENDRITHANE_BENCH_BENCHRECORDS_H

#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "node/CatalogVfs.h"

namespace vdbench {

// Runs `sql` on `db`; prints the engine's message on failure.
inline bool exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  if (code != SQLITE_OK) {
    fprintf(stderr, "bench: %.80s: %s\n", sql.c_str(), message ? message : sqlite3_errstr(code));
    sqlite3_free(message);
  }
  return code == SQLITE_OK;
}

// Writes `count` collection records of type "photo" with ids from `first` into the closed
// catalog `main` (through the catalog's VFS), and the id counter past them.
inline bool writeRecords(const std::string& main, int first, int count) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(main.c_str(), &db, SQLITE_OPEN_READWRITE,
                            KESTRIN::Vendrithane::node::catalogVfsName()) == SQLITE_OK;
  sqlite3_stmt* insert = nullptr;
  ok = ok && exec(db, "BEGIN;") &&
       sqlite3_prepare_v2(db, "INSERT INTO vd_assets (vd_id,vd_tag,vd_xml) VALUES (?,'photo',?);",
                          -1, &insert, nullptr) == SQLITE_OK;
  for (int i = 0; ok && i < count; ++i) {
    const std::string xml = "<title>record " + std::to_string(i) + "</title>";
    sqlite3_bind_int(insert, 1, first + i);
    sqlite3_bind_text(insert, 2, xml.c_str(), -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ok = ok && exec(db, "UPDATE vd_id SET vd_id=" + std::to_string(first + count) + ";");
  ok = exec(db, ok ? "COMMIT;" : "ROLLBACK;") && ok;
  sqlite3_close(db);
  return ok;
}

}  // namespace vdbench

#endif  // VENDRITHANE_BENCH_BENCHRECORDS_H

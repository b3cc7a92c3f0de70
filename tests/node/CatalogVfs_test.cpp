// The catalog VFS through raw engine connections: the catalog header on disk for main and
// attached files, files readable by the stock sqlite3 shell once the header is swapped back,
// refusal of plain engine files, rollback and hot-journal recovery, and the pager's cached
// page 1 left untouched by header translation.
#include "node/CatalogVfs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "helpers/ScratchDir.h"

using KESTRIN::Vendrithane::node::catalogVfsName;
using KESTRIN::Vendrithane::node::kCatalogHeader;

namespace {

const std::string kEngineHeader("SQLite format 3\0", 16);
const std::string kCatalog(kCatalogHeader, 16);

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string head(const std::string& path) {
  return readFile(path).substr(0, 16);
}

off_t fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Output of the stock sqlite3 shell run as its own process on `file`.
std::string shell(const std::string& file, const std::string& sql) {
  const std::string cmd = "sqlite3 '" + file + "' '" + sql + "' 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  return out;
}

sqlite3* openCatalog(const std::string& path) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                 catalogVfsName());
  EXPECT_EQ(rc, SQLITE_OK) << (db ? sqlite3_errmsg(db) : "");
  return db;
}

int exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  sqlite3_free(err);
  return rc;
}

// The first column of the first row of `sql`, as text ("" when there is none).
std::string scalar(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  std::string out;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0)) {
    out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  return out;
}

class CatalogVfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = scratch_.path();
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { EXPECT_EQ(scratch_.remove(), std::error_code()) << dir_; }
  // A catalog-style pair: main file with a table, attached file with a blob table.
  void makePair(const std::string& main, const std::string& blobs) {
    sqlite3* db = openCatalog(main);
    ASSERT_EQ(exec(db, "ATTACH DATABASE '" + blobs + "' AS blobs;"), SQLITE_OK)
        << sqlite3_errmsg(db);
    ASSERT_EQ(exec(db,
                   "BEGIN IMMEDIATE;CREATE TABLE t (id INTEGER, v TEXT);"
                   "INSERT INTO t VALUES (1, 'one');INSERT INTO t VALUES (2, 'two');"
                   "CREATE TABLE blobs.b (id INTEGER, data BLOB);"
                   "INSERT INTO blobs.b VALUES (7, x'00ff00ff');COMMIT;"),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  vdtest::ScratchDir scratch_{"vdvfs-"};
  std::string dir_;
};

TEST_F(CatalogVfsTest, RegisteredOnceUnderItsOwnNameNeverAsDefault) {
  const char* name = catalogVfsName();
  EXPECT_STREQ(name, "vendrithane");
  EXPECT_EQ(catalogVfsName(), name);
  ASSERT_NE(sqlite3_vfs_find(name), nullptr);
  EXPECT_NE(sqlite3_vfs_find(nullptr), sqlite3_vfs_find(name));
}

TEST_F(CatalogVfsTest, BothFilesCarryTheCatalogHeaderAndTheStockShellReadsThemSwappedBack) {
  const std::string main = dir_ + "c.vd", blobs = dir_ + "c.vm";
  makePair(main, blobs);
  EXPECT_EQ(head(main), kCatalog);
  EXPECT_EQ(head(blobs), kCatalog);

  // The rest of each file is a plain engine database.
  ASSERT_EQ(mkdir((dir_ + "plain").c_str(), 0700), 0);
  for (const char* name : {"c.vd", "c.vm"}) {
    std::string data = readFile(dir_ + name);
    data.replace(0, 16, kEngineHeader);
    writeFile(dir_ + "plain/" + name, data);
    EXPECT_EQ(shell(dir_ + "plain/" + name, "PRAGMA integrity_check;"), "ok\n") << name;
  }
  EXPECT_EQ(shell(dir_ + "plain/c.vd", "SELECT id, v FROM t ORDER BY id;"), "1|one\n2|two\n");
  EXPECT_EQ(shell(dir_ + "plain/c.vm", "SELECT id, hex(data) FROM b;"), "7|00FF00FF\n");

  // And the layer reads back what it wrote.
  sqlite3* db = openCatalog(main);
  ASSERT_EQ(exec(db, "ATTACH DATABASE '" + blobs + "' AS blobs;"), SQLITE_OK);
  EXPECT_EQ(scalar(db, "SELECT group_concat(v) FROM t;"), "one,two");
  EXPECT_EQ(scalar(db, "SELECT hex(data) FROM b;"), "00FF00FF");
  EXPECT_EQ(scalar(db, "PRAGMA integrity_check;"), "ok");
  sqlite3_close(db);
}

TEST_F(CatalogVfsTest, FilesWithTheEngineHeaderAreRefusedAndLeftUnchanged) {
  const std::string plain = dir_ + "plain.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(plain.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, "unix"),
            SQLITE_OK);
  ASSERT_EQ(exec(db, "CREATE TABLE t (x);INSERT INTO t VALUES (1);"), SQLITE_OK);
  sqlite3_close(db);
  const std::string before = readFile(plain);
  ASSERT_EQ(before.substr(0, 16), kEngineHeader);

  // As the main file: the first statement fails.
  db = openCatalog(plain);
  EXPECT_EQ(exec(db, "SELECT * FROM t;"), SQLITE_NOTADB);
  EXPECT_EQ(exec(db, "CREATE TABLE u (y);"), SQLITE_NOTADB);
  sqlite3_close(db);
  EXPECT_EQ(readFile(plain), before);

  // As an attached file of a catalog connection.
  db = openCatalog(dir_ + "c.vd");
  EXPECT_EQ(exec(db, "ATTACH DATABASE '" + plain + "' AS blobs;"), SQLITE_NOTADB);
  sqlite3_close(db);
  EXPECT_EQ(readFile(plain), before);
}

TEST_F(CatalogVfsTest, CachedFirstPageKeepsTheEngineHeader) {
  // The pager writes page 1 from its cache: translating that buffer in place would leave the
  // catalog string in the cache, and the next serialisation of the cache would show it.
  const std::string main = dir_ + "c.vd";
  sqlite3* db = openCatalog(main);
  ASSERT_EQ(exec(db, "CREATE TABLE t (x);INSERT INTO t VALUES (1);"), SQLITE_OK);
  ASSERT_EQ(exec(db, "BEGIN;SELECT * FROM t;"), SQLITE_OK);
  sqlite3_int64 size = 0;
  unsigned char* image = sqlite3_serialize(db, "main", &size, 0);
  ASSERT_NE(image, nullptr);
  ASSERT_GE(size, 16);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(image), 16), kEngineHeader);
  sqlite3_free(image);
  ASSERT_EQ(exec(db, "COMMIT;"), SQLITE_OK);
  EXPECT_EQ(head(main), kCatalog);
  sqlite3_close(db);
}

TEST_F(CatalogVfsTest, RollbackAndHotJournalRecovery) {
  const std::string main = dir_ + "c.vd";
  sqlite3* db = openCatalog(main);
  ASSERT_EQ(exec(db,
                 "CREATE TABLE t (id INTEGER, v TEXT);"
                 "INSERT INTO t VALUES (1, 'kept');"),
            SQLITE_OK);
  ASSERT_EQ(exec(db, "BEGIN;INSERT INTO t VALUES (2, 'gone');CREATE TABLE u (x);ROLLBACK;"),
            SQLITE_OK);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM t;"), "1");
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM sqlite_master;"), "1");
  sqlite3_close(db);
  EXPECT_EQ(head(main), kCatalog);
  const off_t sizeBefore = fileSize(main);

  // A child spills a large transaction (schema change included, so page 1 is journalled and
  // rewritten) into the main file and is killed before it commits.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* c = nullptr;
    if (sqlite3_open_v2(main.c_str(), &c, SQLITE_OPEN_READWRITE, catalogVfsName()) != SQLITE_OK)
      _exit(1);
    if (exec(c,
             "PRAGMA cache_size=10;BEGIN IMMEDIATE;CREATE TABLE u (x);"
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<2000) "
             "INSERT INTO t SELECT i+10, hex(randomblob(100)) FROM n;") != SQLITE_OK)
      _exit(2);
    if (write(ready[1], "x", 1) != 1) _exit(3);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_GT(fileSize(main + "-journal"), 0);
  ASSERT_GT(fileSize(main), sizeBefore);  // the spill reached the main file

  db = openCatalog(main);
  EXPECT_EQ(scalar(db, "SELECT group_concat(v) FROM t;"), "kept");
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM sqlite_master;"), "1");
  EXPECT_EQ(scalar(db, "PRAGMA integrity_check;"), "ok");
  sqlite3_close(db);
  EXPECT_EQ(head(main), kCatalog);
  EXPECT_LE(fileSize(main + "-journal"), 0);
}

TEST_F(CatalogVfsTest, LargeDatabaseVacuumPageSizeChangeAndMmapRequest) {
  const std::string main = dir_ + "c.vd";
  sqlite3* db = openCatalog(main);
  // A mapping request is answered with 0: every page still comes through the translation.
  EXPECT_EQ(scalar(db, "PRAGMA mmap_size=16777216;"), "0");
  ASSERT_EQ(exec(db,
                 "CREATE TABLE t (id INTEGER PRIMARY KEY, data BLOB);"
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<300) "
                 "INSERT INTO t SELECT i, randomblob(6000) FROM n;"
                 "DELETE FROM t WHERE id % 2 = 0;"),
            SQLITE_OK);
  const off_t grown = fileSize(main);
  ASSERT_EQ(exec(db, "PRAGMA page_size=8192;VACUUM;"), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
  EXPECT_LT(fileSize(main), grown);
  EXPECT_EQ(head(main), kCatalog);

  db = openCatalog(main);
  EXPECT_EQ(scalar(db, "PRAGMA page_size;"), "8192");
  EXPECT_EQ(scalar(db, "SELECT count(*) || ',' || sum(length(data)) FROM t;"), "150,900000");
  EXPECT_EQ(scalar(db, "PRAGMA integrity_check;"), "ok");
  sqlite3_close(db);
}

}  // namespace

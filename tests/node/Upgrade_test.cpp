// The upgrade of catalogs of the earlier storage generation at open: the stored old catalogs
// converted and listed against their expected listings, the ones that must fail leaving
// every file as it was, and generated old catalogs for the conversion's edge cases.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "NodeFixture.h"
#include "helpers/LegacyWriter.h"
#include "helpers/ListingText.h"
#include "node/FaultInjection.h"
#include "vendrithane/Status.h"

using namespace KESTRIN::Vendrithane;

namespace {

const std::string kFixtures = VENDRITHANE_FIXTURE_DIR "/legacy/";

// The rows of `sql` on `db` as listing lines under `table`; blob columns as hex. Also
// counts values of INTEGER columns that are not stored as integers in *nonInteger.
void listRows(sqlite3* db, const std::string& table, const std::string& sql, std::string* out) {
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    *out += table;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      *out += '\t';
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL:
          *out += "\\N";
          break;
        case SQLITE_INTEGER:
          *out += std::to_string(sqlite3_column_int64(stmt, i));
          break;
        case SQLITE_BLOB: {
          auto p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, i));
          for (int k = 0; k < sqlite3_column_bytes(stmt, i); ++k) {
            char h[3];
            snprintf(h, sizeof h, "%02x", p[k]);
            *out += h;
          }
          break;
        }
        default:
          *out += vdtest::escapeListingText(
              std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                          static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
      }
    }
    *out += '\n';
  }
  sqlite3_finalize(stmt);
}

// The converted catalog `main` (with its blob file attached) as the fixtures' listings
// have it.
std::string listing(const std::string& main, const std::string& blob) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(main.c_str(), &db, SQLITE_OPEN_READONLY, node::catalogVfsName()) != SQLITE_OK)
    return "cannot open";
  sqlite3_exec(db, ("ATTACH '" + blob + "' AS b;").c_str(), nullptr, nullptr, nullptr);
  for (const char* t : {"vd_id", "vd_version", "vd_idx"})
    listRows(db, t, std::string("SELECT * FROM ") + t + " ORDER BY rowid;", &out);
  for (const char* t : {"vd_cat", "vd_cat_nde", "vd_cat_xref", "vd_assets"})
    listRows(db, t, std::string("SELECT * FROM ") + t + " ORDER BY vd_id, rowid;", &out);
  listRows(db, "vd_registry", "SELECT * FROM vd_registry WHERE vd_tag!='vd_dbid' ORDER BY vd_tag;",
           &out);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'vd\\_%' "
                     "ESCAPE '\\' ORDER BY name;",
                     -1, &stmt, nullptr);
  std::vector<std::string> types;
  while (sqlite3_step(stmt) == SQLITE_ROW)
    types.push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  for (const std::string& t : types)
    listRows(db, t, "SELECT * FROM \"" + t + "\" ORDER BY vd_id, rowid;", &out);
  listRows(db, "vd_blobs", "SELECT * FROM b.vd_blobs ORDER BY vd_aid, vd_tag;", &out);
  sqlite3_close(db);
  return out;
}

// The first difference of two listings, "" when they are the same.
std::string firstDifference(const std::string& made, const std::string& expected) {
  std::istringstream a(made), b(expected);
  std::string la, lb;
  for (int n = 1;; ++n) {
    bool moreA = static_cast<bool>(std::getline(a, la)),
         moreB = static_cast<bool>(std::getline(b, lb));
    if (!moreA && !moreB) return "";
    if (!moreA || !moreB || la != lb)
      return "line " + std::to_string(n) + "\n made:     " + la.substr(0, 300) +
             "\n expected: " + lb.substr(0, 300);
  }
}

std::set<std::string> entries(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

class Upgrade : public NodeTest {
 protected:
  // Copies fixture `name` into the scratch directory.
  void bring(const std::string& name) {
    for (const char* ext : {".vd", ".vm"})
      if (present(kFixtures + name + ext))
        writeFile(dir_ + name + ext, readFile(kFixtures + name + ext));
  }
  std::string value(const std::string& name, const std::string& sql) {
    return raw(dir_ + name + ".vd", sql);
  }
  // Opens `name`, which must fail with `status` on two opens, leaving every file as it was.
  void expectRefused(const std::string& name, int status) {
    std::map<std::string, std::string> before;
    for (const std::string& e : entries(dir_))
      if (e != "tmp") before[e] = readFile(dir_ + e);
    Node node(name.c_str(), dir_.c_str());
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(node.open(false, false, temp_.c_str()), status) << name;
      std::map<std::string, std::string> after;
      for (const std::string& e : entries(dir_))
        if (e != "tmp") after[e] = readFile(dir_ + e);
      EXPECT_TRUE(after == before) << name << ": the directory changed";
      EXPECT_TRUE(entries(temp_).empty()) << name;
    }
  }
};

TEST_F(Upgrade, StoredCatalogsConvertAsTheirListingsOrFailUnchanged) {
  struct Case {
    const char* name;
    const char* id;  // the identity the converted catalog has, "" for a fresh one
  };
  for (const Case& c :
       {Case{"v51_full", "2ea66e67-6f0e-d956-5ecd-5da20f201baf"}, Case{"v32_cp1252", ""},
        Case{"v40_blobs_in_main", "eb60c081-e03a-6b0c-0acc-35a0f3af1bd5"},
        Case{"v51_bigendian", "ba4cd8c5-29d7-8b00-0bda-cea9aa8c6110"}}) {
    SCOPED_TRACE(c.name);
    bring(c.name);
    Node node(c.name, dir_.c_str());
    EXPECT_EQ(node.open(true), StatusUpgradeNeeded);  // check-only changes nothing
    EXPECT_EQ(readFile(dir_ + c.name + ".vd"), readFile(kFixtures + c.name + ".vd"));
    ASSERT_EQ(node.open(false, false, temp_.c_str()), 0);
    EXPECT_EQ(static_cast<const char*>(node.version()), std::string("6.0"));
    ASSERT_EQ(node.close(), 0);
    std::string main = dir_ + c.name + ".vd", blob = dir_ + c.name + ".vm";
    EXPECT_EQ(firstDifference(listing(main, blob), readFile(kFixtures + c.name + ".expected.tsv")),
              "");
    std::string id = value(c.name, "SELECT vd_value FROM vd_registry WHERE vd_tag='vd_dbid';");
    if (*c.id)
      EXPECT_EQ(id, std::string(c.id) + "\n");
    else
      EXPECT_EQ(id.size(), 37u);
    // Numbers of INTEGER columns are stored as integers, texts as texts.
    EXPECT_EQ(value(c.name,
                    "SELECT count(*) FROM vd_cat_xref WHERE typeof(vd_id)!='integer' OR "
                    "typeof(vd_aid)!='integer' OR typeof(vd_cid)!='integer';"),
              "0\n");
    EXPECT_EQ(value(c.name,
                    "SELECT count(*) FROM vd_assets WHERE typeof(vd_id)!='integer' OR "
                    "typeof(vd_tag)!='text';"),
              "0\n");
    EXPECT_EQ(entries(dir_), (std::set<std::string>{c.name + std::string(".vd"),
                                                    c.name + std::string(".vm"), "tmp"}));
    EXPECT_TRUE(entries(temp_).empty());
    ASSERT_EQ(node.open(), 0);  // a second open finds a current catalog
    node.close();
    unlink(main.c_str());
    unlink(blob.c_str());
  }
  for (auto c : {std::make_pair("no_blob_table", StatusUpgradeFailed),
                 std::make_pair("no_version_row", StatusNoVersion),
                 std::make_pair("corrupt_schema", StatusCorrupt),
                 std::make_pair("assets_without_xml", StatusUpgradeFailed),
                 std::make_pair("blob_file_clash", StatusFileMismatch)}) {
    bring(c.first);
    expectRefused(c.first, c.second);
  }
}

// A small old catalog `name` of version `version` in the scratch directory, with the edge
// cases of the conversion; `extra` adds a table (name, CREATE TABLE text).
void writeOldCatalog(const std::string& dir, const std::string& name, const std::string& version,
                     const std::pair<std::string, std::string>& extra = {}) {
  using vdtest::LegacyRow;
  vdtest::LegacyWriter main, blobs;
  main.addTable("vd_id", "CREATE TABLE vd_id (vd_id INTEGER)", {{1, {"5"}}});  // stale
  main.addTable("vd_version", "CREATE TABLE vd_version (vd_id INTEGER, vd_version TEXT)",
                {{1, {"1", version}}});
  main.addTable("vd_cat_xref",
                "CREATE TABLE vd_cat_xref (vd_id INTEGER, vd_aid INTEGER, vd_cid INTEGER)",
                {{1, {"10", "abc", "3"}}, {2, {"11", "7", "3"}}});
  main.addTable("vd_registry", "CREATE TABLE vd_registry (vd_tag TEXT, vd_value TEXT)",
                {{1, {"caf\xE9", "\x81\x8D\x8F\x90\x9D"}}, {2, {"O'Brien", std::nullopt}}});
  main.addTable("vd_assets", "CREATE TABLE vd_assets (vd_id INTEGER, vd_tag TEXT, vd_xml TEXT)",
                {{1, {"20", "note", "<t>\x80</t>"}}});
  main.addTable("book", "CREATE TABLE book (vd_id INTEGER, title TEXT, year INTEGER)",
                {{1, {"30", std::nullopt, std::nullopt}},
                 {2, {"31", "A&B", "1999"}},
                 {3, {"30", "dup", "1"}}});
  main.addTable("clip", "CREATE TABLE clip (vd_id INTEGER PRIMARY KEY, vd_xml)",
                {{40, {std::nullopt, "<x/>"}}});
  if (!extra.first.empty()) main.addTable(extra.first, extra.second, {});
  blobs.addTable(
      "vd_blobs", "CREATE TABLE vd_blobs (vd_aid INTEGER, vd_tag TEXT, vd_blob BLOB)",
      {{1, {"20", "it's", "aDb"}}, {2, {"20", "empty", ""}}, {3, {"20", "null", std::nullopt}}});
  std::ofstream(dir + name + ".vd", std::ios::binary) << main.bytes(2000);
  std::ofstream(dir + name + ".vm", std::ios::binary) << blobs.bytes(2000);
}

TEST_F(Upgrade, ConversionKeepsEveryValueAndRefusesWhatItCannotTakeWhole) {
  writeOldCatalog(dir_, "gen", "3.2");
  // A taken backup name is left alone: the backups take a numbered one.
  std::string taken = dir_ + "gen.vm.vtmp-" + std::to_string(getpid()) + "-Pre-v6-Upgrade-Backup";
  writeFile(taken, "someone's");
  Node node("gen", dir_.c_str());
  ASSERT_EQ(node.open(false, false, temp_.c_str()), 0);
  node.dumpState();  // the dropped duplicate is in the error record
  EXPECT_NE(readFile(dir_ + "gen.vst").find("book 30"), std::string::npos);
  unlink((dir_ + "gen.vst").c_str());
  node.close();
  EXPECT_EQ(readFile(taken), "someone's");
  unlink(taken.c_str());
  EXPECT_EQ(entries(dir_), (std::set<std::string>{"gen.vd", "gen.vm", "tmp"}));
  // Code-page text converted everywhere, undefined bytes to the C1 characters.
  EXPECT_EQ(value("gen",
                  "SELECT vd_tag||'='||quote(vd_value) FROM vd_registry WHERE "
                  "vd_tag!='vd_dbid' ORDER BY vd_tag;"),
            "O'Brien=NULL\ncaf\xC3\xA9='\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D'\n");
  EXPECT_EQ(value("gen", "SELECT vd_xml FROM vd_assets;"), "<t>\xE2\x82\xAC</t>\n");
  // Bound values: numbers in INTEGER columns become integers, other text stays text.
  EXPECT_EQ(value("gen", "SELECT vd_id||typeof(vd_aid)||vd_aid FROM vd_cat_xref ORDER BY vd_id;"),
            "10textabc\n11integer7\n");
  // Elements only for non-NULL columns, '' for none; the first of two rows of one id wins.
  EXPECT_EQ(value("gen", "SELECT vd_id||':'||vd_xml FROM book ORDER BY vd_id;"),
            "30:\n31:<title>A&amp;B</title><year>1999</year>\n");
  EXPECT_EQ(value("gen", "SELECT vd_id||':'||vd_xml FROM clip;"), "40:<x/>\n");
  EXPECT_EQ(value("gen", "SELECT sql FROM sqlite_master WHERE name='book';"),
            "CREATE TABLE \"book\" (vd_id INTEGER PRIMARY KEY, vd_xml)\n");
  // The counter passes the highest converted id.
  EXPECT_EQ(value("gen", "SELECT vd_id FROM vd_id;"), "41\n");
  // Blobs: a tag with an apostrophe, an empty blob, a NULL.
  EXPECT_EQ(raw(dir_ + "gen.vm",
                "SELECT vd_tag||':'||typeof(vd_blob)||':'||quote(vd_blob) FROM "
                "vd_blobs ORDER BY vd_tag;"),
            "empty:blob:X''\nit's:blob:X'610062'\nnull:null:NULL\n");
  ASSERT_EQ(node.open(), 0);
  node.close();

  // Names that are not plain identifiers, an interrupted old write, damage in a table and
  // in the blobs: a status, and every file as it was.
  writeOldCatalog(dir_, "badname", "5.1",
                  {"bad-name", "CREATE TABLE \"bad-name\" (vd_id INTEGER, vd_xml)"});
  expectRefused("badname", StatusUpgradeFailed);
  writeOldCatalog(dir_, "badcolumn", "5.1",
                  {"odd", "CREATE TABLE odd (vd_id INTEGER, \"a b\" TEXT)"});
  expectRefused("badcolumn", StatusUpgradeFailed);
  writeOldCatalog(dir_, "journal", "5.1");
  writeFile(dir_ + "journal.vm-journal", "interrupted");
  expectRefused("journal", StatusCorrupt);
  bring("v51_full");
  std::string damaged = readFile(dir_ + "v51_full.vd");
  damaged[8 * 1024 + 4] = '\xFD';  // vd_assets' root page: a cell offset out of the page
  damaged[8 * 1024 + 5] = '\x03';
  writeFile(dir_ + "v51_full.vd", damaged);
  expectRefused("v51_full", StatusUpgradeFailed);
  bring("v51_full");
  damaged = readFile(dir_ + "v51_full.vm");
  damaged[2 * 1024 + 4] = '\xFD';  // the blob table's root page
  damaged[2 * 1024 + 5] = '\x03';
  writeFile(dir_ + "v51_full.vm", damaged);
  expectRefused("v51_full", StatusUpgradeFailed);
}

TEST_F(Upgrade, ReadOnlyCopyOfAnOldCatalogIsUpgradedInTheTemporaryDirectory) {
  writeOldCatalog(dir_, "ro", "5.1");
  std::string before = readFile(dir_ + "ro.vd");
  ASSERT_EQ(chmod((dir_ + "ro.vd").c_str(), 0400), 0);
  Node node("ro", dir_.c_str());
  EXPECT_EQ(node.open(false, false, temp_.c_str()), StatusReadOnly);
  ASSERT_EQ(node.open(false, true, temp_.c_str()), 0);
  EXPECT_EQ(static_cast<const char*>(node.version()), std::string("6.0"));
  EXPECT_EQ(entries(temp_), (std::set<std::string>{"ro-readonly-copy.vd", "ro-readonly-copy.vm"}));
  node.close();
  EXPECT_TRUE(entries(temp_).empty());
  EXPECT_EQ(readFile(dir_ + "ro.vd"), before);
  EXPECT_EQ(entries(dir_), (std::set<std::string>{"ro.vd", "ro.vm", "tmp"}));
  // An interrupted old write beside the original: nothing is copied.
  writeFile(dir_ + "ro.vd-journal", "interrupted");
  EXPECT_EQ(node.open(false, true, temp_.c_str()), StatusCorrupt);
  EXPECT_TRUE(entries(temp_).empty());
  EXPECT_EQ(readFile(dir_ + "ro.vd-journal"), "interrupted");
  chmod((dir_ + "ro.vd").c_str(), 0600);
}

bool longRun() {
  const char* value = getenv("VENDRITHANE_LONG");
  return value != nullptr && std::string(value) == "1";
}

// An old catalog of `records` records (shared table and a per-type table), memberships and
// blobs of 1-3 KiB.
void writeLargeOldCatalog(const std::string& dir, const std::string& name, int records) {
  using vdtest::LegacyRow;
  std::vector<LegacyRow> assets, photos, members, blobRows;
  for (int i = 0; i < records; ++i) {
    int id = 10 + i;
    std::string xml =
        "<title>record " + std::to_string(id) + "</title>" + std::string(300 + i % 700, 'x');
    (i % 2 ? assets : photos)
        .push_back(i % 2 ? LegacyRow{id, {std::to_string(id), "note", xml}}
                         : LegacyRow{id, {std::nullopt, xml}});
    members.push_back({i + 1, {std::to_string(records + 100 + i), std::to_string(id), "2"}});
    if (i % 4 == 0)
      blobRows.push_back({i + 1, {std::to_string(id), "thumb", std::string(1024 + i % 2048, 'b')}});
  }
  vdtest::LegacyWriter main, blobs;
  main.addTable("vd_id", "CREATE TABLE vd_id (vd_id INTEGER)",
                {{1, {std::to_string(2 * records + 200)}}});
  main.addTable("vd_version", "CREATE TABLE vd_version (vd_id INTEGER, vd_version TEXT)",
                {{1, {"1", "5.1"}}});
  main.addTable("vd_assets", "CREATE TABLE vd_assets (vd_id INTEGER, vd_tag TEXT, vd_xml TEXT)",
                assets);
  main.addTable("photo", "CREATE TABLE photo (vd_id INTEGER PRIMARY KEY, vd_xml)", photos);
  main.addTable("vd_cat_xref",
                "CREATE TABLE vd_cat_xref (vd_id INTEGER, vd_aid INTEGER, vd_cid INTEGER)",
                members);
  blobs.addTable("vd_blobs", "CREATE TABLE vd_blobs (vd_aid INTEGER, vd_tag TEXT, vd_blob BLOB)",
                 blobRows);
  std::ofstream(dir + name + ".vd", std::ios::binary) << main.bytes(2000);
  std::ofstream(dir + name + ".vm", std::ios::binary) << blobs.bytes(2000);
}

// A process upgrading an old catalog is killed at fixed points of the swap and at random
// moments: every next open succeeds with the whole catalog, and nothing else is left in its
// directory. VENDRITHANE_LONG=1 runs 24 random rounds on a catalog of 20,000 records.
TEST_F(Upgrade, KilledUpgradesLeaveTheOldCatalogOrTheNewOne) {
  const int records = longRun() ? 20000 : 1500, rounds = longRun() ? 24 : 4;
  writeLargeOldCatalog(dir_, "big", records);
  std::string oldMain = readFile(dir_ + "big.vd"), oldBlob = readFile(dir_ + "big.vm");
  auto restoreOld = [&] {
    writeFile(dir_ + "big.vd", oldMain);
    writeFile(dir_ + "big.vm", oldBlob);
  };
  auto start = std::chrono::steady_clock::now();
  {
    vdtest::PeerProcess peer("asset_peer", {prefix_});
    ASSERT_EQ(peer.call("open big " + dir_, 120000), "0");
  }
  long long upgradeTime = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
  const std::string reference = listing(dir_ + "big.vd", dir_ + "big.vm");
  auto expectWhole = [&] {
    Node node("big", dir_.c_str());
    ASSERT_EQ(node.open(), 0);
    ASSERT_EQ(node.close(), 0);
    EXPECT_EQ(firstDifference(listing(dir_ + "big.vd", dir_ + "big.vm"), reference), "");
    EXPECT_EQ(entries(dir_), (std::set<std::string>{"big.vd", "big.vm", "tmp"}));
  };
  // Fixed points: conversion done, backups made, and each step of the rename set.
  std::vector<std::pair<node::CrashPoint, long>> points{{node::CrashPoint::UpgradeBackups, 0},
                                                        {node::CrashPoint::UpgradeBackups, 1}};
  for (long step = 0; step < 4; ++step) points.push_back({node::CrashPoint::UpgradeRenames, step});
  for (const auto& point : points) {
    SCOPED_TRACE(static_cast<int>(point.first) * 100 + point.second);
    restoreOld();
    {
      vdtest::PeerProcess peer("asset_peer", {prefix_});
      ASSERT_EQ(peer.call("crashat " + std::to_string(static_cast<int>(point.first)) + " " +
                          std::to_string(point.second)),
                "0");
      EXPECT_EQ(peer.call("open big " + dir_, 120000), "<eof>");
      EXPECT_EQ(peer.waitExit(), node::kCrashExitCode);
    }
    expectWhole();
  }
  std::mt19937 random(2024);
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    restoreOld();
    {
      vdtest::PeerProcess peer("asset_peer", {prefix_});
      peer.send("open big " + dir_);
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (upgradeTime * 5 / 4 + 1)));
      peer.killNow();
    }
    expectWhole();
  }
  // Two processes opening one old catalog at once: one upgrades, the other waits and opens
  // the new files.
  restoreOld();
  vdtest::PeerProcess first("asset_peer", {prefix_}), second("asset_peer", {prefix_});
  first.send("open big " + dir_);
  second.send("open big " + dir_);
  EXPECT_EQ(first.readLine(120000), "0");
  EXPECT_EQ(second.readLine(120000), "0");
  first.finish();
  second.finish();
  expectWhole();
}

// Every file operation of an upgrade made to fail in turn (a sample of each kind unless
// VENDRITHANE_LONG=1): the open ends with a clear status and the old files as they were, or
// succeeds with the whole catalog.
TEST_F(Upgrade, FailedFileOperationsLeaveTheOldFilesOrTheWholeNewCatalog) {
  writeOldCatalog(dir_, "sweep", "5.1");
  const std::string oldMain = readFile(dir_ + "sweep.vd"), oldBlob = readFile(dir_ + "sweep.vm");
  auto restoreOld = [&] {
    for (const std::string& e : entries(dir_))
      if (e != "tmp") unlink((dir_ + e).c_str());
    writeFile(dir_ + "sweep.vd", oldMain);
    writeFile(dir_ + "sweep.vm", oldBlob);
  };
  Node node("sweep", dir_.c_str());
  node::countFaultCallsForTesting();
  ASSERT_EQ(node.open(false, false, temp_.c_str()), 0);
  node::clearFaultForTesting();
  long calls[node::kFaultKinds];
  for (int k = 0; k < node::kFaultKinds; ++k)
    calls[k] = node::faultCallsForTesting(static_cast<node::FaultKind>(k));
  node.close();
  const std::string reference = listing(dir_ + "sweep.vd", dir_ + "sweep.vm");
  int failures = 0;
  for (int k = 0; k < node::kFaultKinds; ++k) {
    long stride = longRun() ? 1 : std::max(1L, calls[k] / 12);
    for (long nth = 1; nth <= calls[k]; nth += stride) {
      SCOPED_TRACE(std::string(node::faultKindName(static_cast<node::FaultKind>(k))) + " " +
                   std::to_string(nth));
      restoreOld();
      node::setFaultForTesting({static_cast<node::FaultKind>(k), nth, SQLITE_IOERR, false});
      int status = node.open(false, false, temp_.c_str());
      node::clearFaultForTesting();
      node.close();
      if (status == 0) {
        EXPECT_EQ(firstDifference(listing(dir_ + "sweep.vd", dir_ + "sweep.vm"), reference), "");
        EXPECT_EQ(entries(dir_), (std::set<std::string>{"sweep.vd", "sweep.vm", "tmp"}));
        continue;
      }
      ++failures;
      EXPECT_NE(status, StatusUpgradeNeeded);
      EXPECT_EQ(readFile(dir_ + "sweep.vd"), oldMain) << status;
      EXPECT_EQ(readFile(dir_ + "sweep.vm"), oldBlob) << status;
      EXPECT_EQ(entries(dir_), (std::set<std::string>{"sweep.vd", "sweep.vm", "tmp"})) << status;
    }
  }
  EXPECT_GT(failures, 0);
  EXPECT_TRUE(entries(temp_).empty());
}

}  // namespace

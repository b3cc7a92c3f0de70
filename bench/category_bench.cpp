// Category trees, each measured against raw SQLite in the same process. One catalog holds a
// date namespace of kTreeNodes nodes (years from 1980, their months and days; rows written
// with SQL, ids in creation order) and kMemberships membership rows spread over the days; a
// second catalog has no categories at all; a third holds the same rows with every node
// directly under the namespace.
//   tree load   Node::open of the catalog with the tree, minus the open of the empty one, vs
//               the three SELECTs of the load (namespaces, nodes in parent order, member
//               counts) stepped into a std::map by the sqlite3 API on a copy of the main file
//               with the engine's own header;
//   descendants SELECT count() over vd_cat_nde with vd_cat_decendent(vd_id, year) on the
//               catalog's connection, vs a recursive CTE down along vd_cpid on that connection.
// Each benchmark reports ratio_vs_raw (or ratio_vs_cte): its rate as a fraction of the
// baseline's rate, so 0.5 is half the raw speed.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchPasses.h"
#include "BenchRecords.h"
#include "node/CatalogVfs.h"
#include "node/ConnectionPool.h"
#include "node/NodeAccess.h"
#include "node/NodeImpl.h"
#include "platform/ObjectNames.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;
using vdbench::Clock;
using vdbench::exec;
using vdbench::runPasses;
using vdbench::secondsSince;

namespace {

constexpr int kTreeNodes = 10000;     // category nodes of the date tree
constexpr int kMemberships = 100000;  // membership rows
constexpr int kNamespaceId = 10;      // the namespace's id; the nodes follow it
constexpr int kMeasuredYear = 2000;   // the year whose descendants are counted (a leap year)

struct Scene {
  std::string dir;              // the temporary directory
  std::unique_ptr<Node> tree;   // the catalog with the tree ("tree")
  std::unique_ptr<Node> empty;  // the catalog without categories ("empty")
  std::unique_ptr<Node> flat;   // the same rows with every node under the namespace ("flat")
  std::string rawFile;          // a copy of tree.vd with the engine's header
  int yearId = 0;               // the node of kMeasuredYear
  int yearNodes = 0;            // it and its descendants
  int years = 0;                // year nodes of the tree
  // Baseline times of the last runs, in seconds per pass (0: not run yet).
  double rawLoad = 0, emptyOpen = 0, cteDown = 0;
};

Scene gScene;

sqlite3_stmt* prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    fprintf(stderr, "category_bench: %s: %s\n", sql, sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    return nullptr;
  }
  return stmt;
}

int daysIn(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

// Writes the namespace, the date tree (or, when `flat`, as many nodes directly under the
// namespace) and the membership rows into the closed catalog `main` through the catalog VFS,
// and moves the catalog's id counter past them.
bool writeTree(const std::string& main, bool flat) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(main.c_str(), &db, SQLITE_OPEN_READWRITE, node::catalogVfsName()) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  bool ok =
      exec(db, "BEGIN;") && exec(db, "INSERT INTO vd_cat VALUES (" + std::to_string(kNamespaceId) +
                                         ",'',1,'Dates',0,'photo');");
  sqlite3_stmt* node = prepare(db, "INSERT INTO vd_cat_nde VALUES (?,?,?,?);");
  sqlite3_stmt* member = prepare(db, "INSERT INTO vd_cat_xref VALUES (?,?,?);");
  ok = ok && node != nullptr && member != nullptr;
  const std::string xml =
      "<vd_created type=\"time\">1200000000</vd_created>"
      "<vd_modified type=\"time\">1200000000</vd_modified>";
  int next = kNamespaceId + 1, made = 0;
  std::vector<int> days;
  auto add = [&](const std::string& label, int parent) {
    const int id = next++;
    sqlite3_bind_int(node, 1, id);
    sqlite3_bind_text(node, 2, label.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(node, 3, parent);
    sqlite3_bind_text(node, 4, xml.c_str(), -1, SQLITE_STATIC);
    ok = ok && sqlite3_step(node) == SQLITE_DONE;
    sqlite3_reset(node);
    ++made;
    return id;
  };
  char label[16];
  while (flat && ok && made < kTreeNodes)
    days.push_back(add("tag " + std::to_string(made), kNamespaceId));
  for (int year = 1980; !flat && ok && made < kTreeNodes; ++year) {
    const int yearId = add(std::to_string(year), kNamespaceId);
    const int first = made;
    ++gScene.years;
    for (int month = 1; month <= 12 && made < kTreeNodes; ++month) {
      snprintf(label, sizeof label, "%02d", month);
      const int monthId = add(label, yearId);
      for (int day = 1; day <= daysIn(year, month) && made < kTreeNodes; ++day) {
        snprintf(label, sizeof label, "%02d", day);
        days.push_back(add(label, monthId));
      }
    }
    if (year == kMeasuredYear) {
      gScene.yearId = yearId;
      gScene.yearNodes = made - first + 1;
    }
  }
  for (int i = 0; ok && i < kMemberships; ++i) {
    sqlite3_bind_int(member, 1, 1000000 + i);
    sqlite3_bind_int(member, 2, 2000000 + i);
    sqlite3_bind_int(member, 3, days[static_cast<size_t>(i) % days.size()]);
    ok = sqlite3_step(member) == SQLITE_DONE;
    sqlite3_reset(member);
  }
  sqlite3_finalize(node);
  sqlite3_finalize(member);
  ok = ok && exec(db, "UPDATE vd_id SET vd_id=3000000;");
  ok = exec(db, ok ? "COMMIT;" : "ROLLBACK;") && ok;
  sqlite3_close(db);
  return ok && (flat || gScene.yearNodes > 0);
}

bool setUpScene() {
  std::string templ = "/tmp/vdbench-category-XXXXXX";
  if (mkdtemp(&templ[0]) == nullptr) return false;
  gScene.dir = templ + "/";
  gScene.tree = std::make_unique<Node>("tree", gScene.dir.c_str());
  gScene.empty = std::make_unique<Node>("empty", gScene.dir.c_str());
  gScene.flat = std::make_unique<Node>("flat", gScene.dir.c_str());
  if (gScene.tree->create() != 0 || gScene.empty->create() != 0 || gScene.flat->create() != 0)
    return false;
  if (!writeTree(gScene.dir + "tree.vd", false) || !writeTree(gScene.dir + "flat.vd", true))
    return false;
  // The raw copy: the same bytes under the engine's own header, for the default VFS.
  gScene.rawFile = gScene.dir + "raw.db";
  return vdbench::engineHeaderCopy(gScene.dir + "tree.vd", gScene.rawFile);
}

void tearDownScene() {
  gScene.tree.reset();
  gScene.empty.reset();
  gScene.flat.reset();
  if (!gScene.dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(gScene.dir, ignored);
  }
}

// --- Tree load ----------------------------------------------------------------------------

// What the raw side keeps of a row: the cache's fields.
struct RawEntry {
  std::string label, xml, description, target;
  int parent = 0, population = 0, flags = 0, type = 0;
};

// The three SELECTs into a map on a new connection (its schema read untimed); the seconds,
// negative when a statement failed or the rows are not all there.
double rawLoadPass() {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(gScene.rawFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      !exec(db, "SELECT count() FROM sqlite_master;")) {
    sqlite3_close(db);
    return -1;
  }
  const auto start = Clock::now();
  std::map<int, RawEntry> tree;
  auto text = [](sqlite3_stmt* s, int column) {
    const char* t = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return std::string(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(s, column)));
  };
  bool ok = true;
  if (sqlite3_stmt* s =
          prepare(db, "SELECT vd_id,vd_cdscr,vd_cper,vd_croot,vd_ctyp,vd_tgt FROM vd_cat;")) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      RawEntry& e = tree[sqlite3_column_int(s, 0)];
      e.description = text(s, 1);
      e.flags = sqlite3_column_int(s, 2);
      e.label = text(s, 3);
      e.type = sqlite3_column_int(s, 4);
      e.target = text(s, 5);
    }
    sqlite3_finalize(s);
  } else {
    ok = false;
  }
  if (sqlite3_stmt* s = prepare(
          db,
          "SELECT vd_id,vd_cnod,vd_cpid,vd_xml FROM vd_cat_nde ORDER BY vd_cpid ASC, vd_id ASC;")) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      const int parent = sqlite3_column_int(s, 2);
      if (tree.find(parent) == tree.end()) continue;  // as the load leaves out orphans
      RawEntry& e = tree[sqlite3_column_int(s, 0)];
      e.label = text(s, 1);
      e.parent = parent;
      e.xml = text(s, 3);
    }
    sqlite3_finalize(s);
  } else {
    ok = false;
  }
  long long members = 0;
  if (sqlite3_stmt* s = prepare(db, "SELECT vd_cid,COUNT() FROM vd_cat_xref GROUP BY vd_cid;")) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      auto it = tree.find(sqlite3_column_int(s, 0));
      if (it != tree.end()) members += it->second.population = sqlite3_column_int(s, 1);
    }
    sqlite3_finalize(s);
  } else {
    ok = false;
  }
  const double seconds = secondsSince(start);
  sqlite3_close(db);
  ok = ok && tree.size() == kTreeNodes + 1 && members == kMemberships;
  return ok ? seconds : -1;
}

// One open and close of `node`; the seconds of the open, negative when it failed.
double openPass(Node& node) {
  const auto start = Clock::now();
  const int status = node.open();
  const double seconds = secondsSince(start);
  if (status != 0) {
    fprintf(stderr, "category_bench: open gave %d\n", status);
    return -1;
  }
  return node.close() == 0 ? seconds : -1;
}

void BM_RawTreeSelects(benchmark::State& state) {
  gScene.rawLoad = runPasses(state, "raw selects failed", rawLoadPass);
  if (gScene.rawLoad > 0) state.counters["us_per_node"] = gScene.rawLoad * 1e6 / kTreeNodes;
}

void BM_OpenEmptyCatalog(benchmark::State& state) {
  gScene.emptyOpen = runPasses(state, "open failed", [] { return openPass(*gScene.empty); });
}

// The open of the catalog with the tree; tree_ms is its excess over the empty catalog's open.
void BM_OpenWithTree(benchmark::State& state) {
  const double mean = runPasses(state, "open failed", [] { return openPass(*gScene.tree); });
  if (mean < 0) return;
  // The tree must be there as the rows say.
  if (gScene.tree->open() != 0) return state.SkipWithError("open failed");
  bool whole = false;
  {
    Category root = gScene.tree->category("Dates");
    Category year = root;
    year.subCategory(std::to_string(kMeasuredYear).c_str());
    whole = root.numChildren() == gScene.years && year.id() == gScene.yearId;
  }
  gScene.tree->close();
  if (!whole) return state.SkipWithError("the tree was not loaded whole");
  if (gScene.emptyOpen <= 0) return;
  const double tree = mean - gScene.emptyOpen;
  state.counters["tree_ms"] = tree * 1e3;
  if (gScene.rawLoad > 0 && tree > 0) state.counters["ratio_vs_raw"] = gScene.rawLoad / tree;
}

// The same number of rows, every node a child of the namespace: as wide as a tree gets.
void BM_OpenWithFlatTree(benchmark::State& state) {
  const double mean = runPasses(state, "open failed", [] { return openPass(*gScene.flat); });
  if (mean < 0 || gScene.emptyOpen <= 0) return;
  const double tree = mean - gScene.emptyOpen;
  state.counters["tree_ms"] = tree * 1e3;
  if (gScene.rawLoad > 0 && tree > 0) state.counters["ratio_vs_raw"] = gScene.rawLoad / tree;
}

// --- Descendants ----------------------------------------------------------------------------

// Runs the counting statement `sql` on the tree catalog's connection once per iteration and
// checks its count; the seconds per query, negative on failure.
double runCount(benchmark::State& state, const std::string& sql) {
  if (gScene.tree->open() != 0) return -1;
  double perQuery = -1;
  {
    node::ConnectionLease lease(NodeAccess::impl(*gScene.tree)->pool());
    sqlite3_stmt* stmt = lease ? prepare(lease->db(), sql.c_str()) : nullptr;
    if (stmt != nullptr) {
      double total = 0;
      bool ok = true;
      for (auto _ : state) {
        const auto start = Clock::now();
        ok = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == gScene.yearNodes;
        sqlite3_reset(stmt);
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        total += seconds;
        if (!ok) break;
      }
      sqlite3_finalize(stmt);
      if (ok) perQuery = total / static_cast<double>(state.iterations());
    }
  }
  gScene.tree->close();
  if (perQuery < 0) state.SkipWithError("query failed or counted wrongly");
  return perQuery;
}

// Down from the year along vd_cpid.
void BM_DescendantsCteDown(benchmark::State& state) {
  gScene.cteDown =
      runCount(state, "WITH RECURSIVE d(id) AS (SELECT " + std::to_string(gScene.yearId) +
                          " UNION ALL SELECT n.vd_id FROM vd_cat_nde n JOIN d ON "
                          "n.vd_cpid=d.id) SELECT count() FROM d;");
}

void BM_DescendantsFunction(benchmark::State& state) {
  const double perQuery =
      runCount(state, "SELECT count() FROM vd_cat_nde WHERE vd_cat_decendent(vd_id," +
                          std::to_string(gScene.yearId) + ");");
  if (perQuery <= 0) return;
  if (gScene.cteDown > 0) state.counters["ratio_vs_cte"] = gScene.cteDown / perQuery;
}

BENCHMARK(BM_RawTreeSelects)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenEmptyCatalog)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenWithTree)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenWithFlatTree)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DescendantsCteDown)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DescendantsFunction)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return vdbench::runOverScene(argc, argv, "category_bench", gScene.dir, setUpScene, tearDownScene);
}

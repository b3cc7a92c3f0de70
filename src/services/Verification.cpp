// The catalog verification: the engine's integrity check, then passes of checks over the
// catalog's own tables (ids, index declarations, namespaces, nodes, memberships, the sweep of
// memberless nodes, the schema's indexes and the promoted columns), each of which reports
// its problem or, in repair mode, repairs it; repair mode passes again until a pass finds
// nothing, all in one transaction.
#include "services/Verification.h"

#include <strings.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "asset/AssetStatements.h"
#include "asset/CatalogAssets.h"
#include "asset/ElementIndex.h"
#include "asset/ElementIndexMap.h"
#include "asset/IndexAndMembership.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "monitor/EventKinds.h"
#include "node/IdAllocator.h"
#include "node/NodeConnection.h"
#include "node/Schema.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "node/StatusOf.h"
#include "node/Transaction.h"
#include "services/VerifyStatements.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {
namespace services {

namespace {

constexpr int kReportLines = 5;  // lines of a failed integrity check kept as the last error

std::string text(const String& s) {
  return std::string(s.buffer(), s.length());
}

std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool hasReservedInfix(const std::string& name) {
  return name.find(assets::kReservedColumnPrefix) != std::string::npos;
}

bool startsReserved(const std::string& name) {
  return strncasecmp(name.c_str(), assets::kReservedColumnPrefix,
                     sizeof assets::kReservedColumnPrefix - 1) == 0;
}

// The engine's integrity check of every file of the connection: 0, 25 with the report's
// first lines kept as the connection's last error, or 4 when it cannot run.
Status integrityCheck(node::NodeConnection& c) {
  node::Statement s(c, node::kIntegrityCheck);
  std::string report;
  int lines = 0;
  while (s.valid() && s.step() && lines < kReportLines) {
    const std::string line = text(s.columnText(0));
    if (lines == 0 && strcasecmp(line.c_str(), "ok") == 0) return StatusOk;
    report += (lines++ == 0 ? "" : "\n") + line;
  }
  if (node::isDamageCode(s.code())) return StatusCorrupt;  // recorded by the statement
  if (!s.valid() || s.failed() || lines == 0) return StatusCategoryFailed;
  c.recordError(StatusCorrupt, 0, report, node::kIntegrityCheck);
  return StatusCorrupt;
}

// One run of checks over a connection, in report mode or in repair mode (where `op`, the
// operation holding the catalog, is given and the caller has begun the transaction).
class Verifier {
 public:
  Verifier(node::NodeConnection& c, category::Operation* op, bool hasBlobs)
      : c_(c), op_(op), hasBlobs_(hasBlobs) {}

  // Passes until one finds nothing: 0, the first problem's status in report mode, 27 or 81
  // when a repair failed, 4 when a count could not be read, 27 when the repairs do not end.
  Status run() {
    try {
      long long passes = count(assets::kCountNodesForCheck) + 10;
      for (;;) {
        repairedInPass_ = false;
        pass();
        if (!repairedInPass_) return StatusOk;
        repaired_ = true;
        if (--passes < 0) return StatusRepairFailed;
      }
    } catch (const Finding& finding) {
      return finding.status;
    }
  }
  bool repaired() const { return repaired_; }

 private:
  struct Finding {
    Status status;
  };

  bool fixing() const { return op_ != nullptr; }

  // A problem: in report mode the run ends with its status.
  void problem(Status status) {
    if (!fixing()) throw Finding{status};
  }
  // A repair ends the run with 81 (read-only) or 27 when it failed.
  static Finding repairFailed(Status status) {
    return Finding{status == StatusReadOnly ? StatusReadOnly : StatusRepairFailed};
  }
  // A repair of rows: one that changes none has failed too (it would be tried for ever).
  void repair(const std::string& sql) {
    node::Statement s(c_, sql);
    if (!s.valid() || !s.run()) throw repairFailed(s.error().status());
    if (s.changes() == 0) throw Finding{StatusRepairFailed};
    repairedInPass_ = true;
  }
  // A repair of the schema (a table or an index made again).
  void repairSchema(const std::string& sql, Status failure) {
    node::EngineError error;
    if (node::execute(c_, sql, &error) != StatusOk)
      throw Finding{error.readOnly() ? StatusReadOnly : failure};
    repairedInPass_ = true;
  }
  // A repair through a routine of another layer, which returns or throws its status.
  template <class F>
  void repairBy(F&& routine) {
    Status status;
    try {
      status = routine();
    } catch (Status thrown) {
      status = thrown;
    }
    if (status != StatusOk) throw repairFailed(status);
    repairedInPass_ = true;
  }
  // A count, or a run ending with 4 when it cannot be read.
  long long count(const std::string& sql) {
    String value;
    if (node::queryValue(c_, sql, &value) != StatusOk) throw Finding{StatusCategoryFailed};
    return std::strtoll(value.buffer(), nullptr, 10);
  }
  std::vector<String> column(const std::string& sql) {
    node::Statement s(c_, sql);
    std::vector<String> values;
    while (s.valid() && s.step()) values.push_back(s.columnText(0));
    if (!s.valid() || s.failed()) throw Finding{StatusCategoryFailed};
    return values;
  }

  void pass() {
    const std::vector<std::string> records = recordTables();
    schemaObjects();
    idRange(records);
    staleDeclarations();
    namespaceNames();
    nodeLabels();
    unreachableNodes();
    orphanMemberships();
    namespaceTargets();
    vanishedMembers();
    missingAncestors();
    sweep();
    labelIndex();
    declarations(records);
  }

  std::vector<std::string> recordTables() {
    try {
      return assets::recordTables(c_);
    } catch (Status) {
      throw Finding{StatusCategoryFailed};
    }
  }
  bool hasIdColumn(const std::string& table) {
    try {
      return assets::hasIdColumn(c_, table);
    } catch (Status) {
      throw Finding{StatusCategoryFailed};
    }
  }

  // Ids of 0 or less go. Ids at or above the stored counter were never handed out: the
  // counter was lowered (a restored or edited file) rather than the rows being wrong, so the
  // rows stay and the counter is raised past them.
  void idRange(const std::vector<std::string>& records) {
    const long long counter = count(node::kSelectIdCounter);
    if (counter < 1) throw Finding{StatusCategoryFailed};
    std::vector<std::string> tables(records);
    tables.insert(tables.end(), std::begin(assets::kCounterTables),
                  std::end(assets::kCounterTables));
    long long highest = 0;
    for (const std::string& table : tables) {
      const std::string quoted = node::quoteIdentifier(table);
      const std::string bad = node::sqlFormat(kBadIds, quoted.c_str());
      if (count(kCountPrefix + (" " + bad)) > 0) {
        problem(StatusIdCounterFailed);
        repair(kDeletePrefix + (" " + bad));
      }
      highest = std::max(highest, count(node::sqlFormat(kSelectHighestId, quoted.c_str())));
    }
    if (highest < counter) return;
    problem(StatusIdCounterFailed);
    repairBy([&] { return node::raiseIdCounter(c_, highest); });
  }

  void staleDeclarations() {
    const std::string where = kStaleDeclarations;
    if (count(std::string(kCountPrefix) + " " + where) == 0) return;
    problem(StatusIndexFailed);
    repair(std::string(kDeletePrefix) + " " + where);
  }

  // The first namespace of a name in id order keeps it; the others become "<name> Copy 2",
  // "<name> Copy 3" and so on, skipping names that are taken.
  void namespaceNames() {
    std::vector<std::pair<long long, std::string>> rows;
    {
      node::Statement s(c_, kSelectNamespaceNames);
      while (s.valid() && s.step()) rows.emplace_back(s.columnInt64(0), text(s.columnText(1)));
      if (!s.valid() || s.failed()) throw Finding{StatusCategoryFailed};
    }
    std::set<std::string> taken;
    for (const auto& row : rows) taken.insert(row.second);
    std::map<std::string, int> counts;
    for (const auto& row : rows) {
      int& n = counts[row.second];
      if (++n == 1) continue;
      problem(StatusNotAllowed);
      std::string name;
      do name = row.second + kCopySuffix + std::to_string(n++);
      while (taken.count(name) != 0);
      --n;
      taken.insert(name);
      repair(node::sqlFormat(kRenameNamespace, name.c_str(), row.first));
    }
  }

  // Siblings of one label merge into the one with the smallest id (children, at any depth,
  // and memberships, held and as a member).
  void nodeLabels() {
    if (count(kCountNodeRows) == count(kCountDistinctNodeRows)) return;
    problem(StatusNotAllowed);
    struct Row {
      int id;
      bool nullLabel;
      std::string label;
      long long parent;
      bool nullParent;
    };
    std::vector<Row> rows;
    {
      node::Statement s(c_, kSelectNodesByPlace);
      while (s.valid() && s.step())
        rows.push_back({static_cast<int>(s.columnInt64(0)), s.columnIsNull(1),
                        text(s.columnText(1)), s.columnInt64(2), s.columnIsNull(2)});
      if (!s.valid() || s.failed()) throw Finding{StatusCategoryFailed};
    }
    auto samePlace = [](const Row& a, const Row& b) {
      return !a.nullParent && !b.nullParent && a.parent == b.parent && a.nullLabel == b.nullLabel &&
             a.label == b.label;
    };
    std::set<int> seen;
    size_t first = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
      if (!samePlace(rows[first], rows[i])) {
        first = i;
        continue;
      }
      // A merge earlier in this pass may have taken either node already; the next pass
      // sees what is left.
      const int keep = rows[first].id, gone = rows[i].id;
      if (seen.count(keep) != 0 || seen.count(gone) != 0) continue;
      try {
        category::mergeNodes(*op_, keep, gone, static_cast<int>(rows[i].parent), rows[i].label,
                             identity, &seen);
      } catch (Status status) {
        throw repairFailed(status);
      }
      repairedInPass_ = true;
    }
  }
  static std::string identity(const String& label) { return text(label); }

  // Nodes that cannot reach a namespace through their parents (a missing parent, or a
  // parent cycle) go with everything below them.
  void unreachableNodes() {
    if (count(node::sqlFormat(kUnreachableNodes, kCountPrefix)) == 0) return;
    problem(StatusEmptyCategories);
    repair(node::sqlFormat(kUnreachableNodes, kDeletePrefix));
  }

  void orphanMemberships() {
    const std::string where = kOrphanMemberships;
    if (count(std::string(kCountPrefix) + " " + where) == 0) return;
    problem(StatusNotInParent);
    repair(std::string(kDeletePrefix) + " " + where);
  }

  // What a target names: "vd_cat_nde", "vd_assets" or an own table of a record type are
  // that table (*table set, quoted); any other name is a collection type (*table empty). A
  // target that is NULL or empty, or that names a table without a vd_id column, names
  // nothing usable: false.
  bool resolveTarget(bool null, const std::string& target, std::string* table) {
    table->clear();
    if (null || target.empty()) return false;
    const std::vector<String> found = column(node::sqlFormat(kSelectTableNamed, target.c_str()));
    if (found.empty()) return true;  // a collection type, with or without records
    const std::string name = text(found[0]);
    if (!hasIdColumn(name)) return false;
    const std::string lower = lowered(name);
    if (lower == category::kNodeTable || lower == node::kAssetsTable || !hasReservedInfix(name))
      *table = node::quoteIdentifier(name);
    return true;
  }

  struct Target {
    long long id;
    bool null;
    std::string name;
  };
  std::vector<Target> targets() {
    std::vector<Target> rows;
    node::Statement s(c_, kSelectTargets);
    while (s.valid() && s.step())
      rows.push_back({s.columnInt64(0), s.columnIsNull(1), text(s.columnText(1))});
    if (!s.valid() || s.failed()) throw Finding{StatusCategoryFailed};
    return rows;
  }

  void namespaceTargets() {
    for (const Target& t : targets()) {
      std::string table;
      if (resolveTarget(t.null, t.name, &table)) continue;
      problem(StatusNoTargetTable);
      repair(node::sqlFormat(category::kDeleteNamespace, static_cast<int>(t.id)));
    }
  }

  // Memberships whose member is in none of the namespaces' member sets, built from the
  // namespace rows as they stand now.
  void vanishedMembers() {
    std::set<std::string> terms;
    for (const Target& t : targets()) {
      std::string table;
      if (!resolveTarget(t.null, t.name, &table)) continue;
      terms.insert(table.empty() ? node::sqlFormat(kMemberOfType, lowered(t.name).c_str())
                                 : node::sqlFormat(kMemberOfTable, table.c_str()));
    }
    if (terms.empty()) return;
    std::string where = kMembershipsWhere;
    for (auto term = terms.begin(); term != terms.end(); ++term)
      where += (term == terms.begin() ? "" : " AND") + *term;
    where += ");";
    if (count(kCountPrefix + where) == 0) return;
    problem(StatusBadMemberId);
    repair(kDeletePrefix + where);
  }

  // A member of a node missing from the node's parent is filed there, and level after level
  // up to the top-level node in this pass, so that the sweep never takes for empty a node
  // whose descendants hold members.
  void missingAncestors() {
    for (long long levels = count(assets::kCountNodesForCheck) + 1; levels >= 0; --levels) {
      std::vector<std::pair<long long, long long>> pairs;
      {
        node::Statement s(c_, kMissingAncestors);
        while (s.valid() && s.step()) pairs.emplace_back(s.columnInt64(0), s.columnInt64(1));
        if (!s.valid() || s.failed()) throw Finding{StatusCategoryFailed};
      }
      if (pairs.empty()) return;
      problem(StatusMissingAncestor);
      node::Statement insert(c_, kInsertAncestorMembership);
      for (const auto& pair : pairs) {
        int key;
        try {
          key = node::nextId(c_);
        } catch (Status status) {
          throw repairFailed(status);
        }
        if (key < 0) throw repairFailed(StatusIdCounterFailed);
        insert.reset();
        if (!insert.valid() || !insert.bind(1, static_cast<long long>(key)) ||
            !insert.bind(2, pair.first) || !insert.bind(3, pair.second) || !insert.run())
          throw repairFailed(insert.error().status());
      }
      repairedInPass_ = true;
    }
  }

  // Nodes without members in namespaces that do not keep empty categories, each paired with
  // its own namespace.
  void sweep() {
    bool found = false;
    const Status status = assets::emptyCategoriesLeft(c_, assets::kCreateCheck, &found);
    if (status != StatusOk || !found) {
      node::execute(c_, assets::kDropCheck);
      if (status != StatusOk) throw Finding{StatusCategoryFailed};
      return;
    }
    if (!fixing()) node::execute(c_, assets::kDropCheck);
    problem(StatusEmptyCategories);
    repair(kDeleteSwept);
    repairSchema(assets::kDropCheck, StatusRepairFailed);
  }

  // The blob table and every index of the two schema scripts but the label index, first in
  // a pass, so that the merges find the blob table and the unique membership index; the
  // label index last (the merges make its rows unique first).
  void schemaObjects() {
    checkIndexes(node::schemaObjects(node::kMainSchemaScript, ""), "", false);
    if (!hasBlobs_) return;
    const std::vector<node::SchemaObject> blobs =
        node::schemaObjects(node::kBlobSchemaScript, kBlobSchema);
    if (count(kCountBlobTable) == 0) {
      // The empty file the attach makes when the blob file is missing.
      problem(StatusBlobFailed);
      for (const node::SchemaObject& object : blobs) repairSchema(object.sql, StatusRepairFailed);
    }
    checkIndexes(blobs, (std::string(kBlobSchema) + ".").c_str(), false);
  }
  void labelIndex() { checkIndexes(node::schemaObjects(node::kMainSchemaScript, ""), "", true); }
  void checkIndexes(const std::vector<node::SchemaObject>& objects, const char* schema,
                    bool label) {
    for (const node::SchemaObject& object : objects) {
      if (!object.index || (object.name == kLabelIndex) != label || indexPresent(object, schema))
        continue;
      problem(StatusIndexFailed);
      repairSchema(object.sql, StatusIndexFailed);  // a unique one that duplicates prevent: 48
    }
  }
  bool indexPresent(const node::SchemaObject& object, const char* schema) {
    std::string older = object.name;
    if (older.size() > sizeof kIndexEnding - 1)
      older.replace(older.size() - (sizeof kIndexEnding - 1), std::string::npos, kOlderIndexEnding);
    for (const std::string& name : {object.name, older})
      if (count(node::sqlFormat(kCountIndexNamed, schema, name.c_str(), object.table.c_str())) > 0)
        return true;
    return false;
  }

  // The promoted columns of the shared table and of the record tables against the vd_idx
  // rows as they are (several rows of one pair record a re-promotion: no damage).
  void declarations(const std::vector<std::string>& records) {
    // (table, element) lower-cased -> the rowids of its declarations
    std::map<std::pair<std::string, std::string>, std::vector<long long>> declared;
    {
      node::Statement s(c_, kSelectAllDeclarations);
      while (s.valid() && s.step())
        declared[{lowered(text(s.columnText(1))), lowered(text(s.columnText(0)))}].push_back(
            s.columnInt64(3));
      if (!s.valid() || s.failed()) throw Finding{StatusIndexFailed};
    }
    std::vector<std::string> tables{node::kAssetsTable};
    for (const std::string& table : records)
      if (!startsReserved(table)) tables.push_back(table);
    std::set<std::string> checked;
    for (const std::string& table : tables) {
      checked.insert(lowered(table));
      std::vector<assets::TableColumn> columns;
      if (assets::tableColumns(c_, table, &columns) != StatusOk)
        throw Finding{StatusCategoryFailed};
      for (const assets::TableColumn& col : columns) {
        if (startsReserved(col.name)) continue;
        if (declared.erase({lowered(table), lowered(col.name)}) != 0) continue;
        problem(StatusIndexFailed);
        const unsigned flags = indexFlags(table, col.name);
        repairBy([&] { return assets::declareColumn(c_, table, col.name, flags); });
      }
    }
    for (const auto& left : declared) {
      if (checked.count(left.first.first) == 0) continue;  // another table's, or step 5's
      problem(StatusIndexFailed);
      for (long long row : left.second) repair(node::sqlFormat(kDeleteDeclarationRow, row));
    }
  }
  // The flags of the promoted column's SQL index: UNIQUE 1, ASC 2, DESC 4; 0 without one.
  unsigned indexFlags(const std::string& table, const std::string& name) {
    const std::vector<String> sql =
        column(node::sqlFormat(kSelectIndexSql, assets::indexStem(table, name).c_str()));
    if (sql.empty()) return 0;
    const std::string statement = lowered(text(sql[0]));
    unsigned flags = statement.find("create unique") == 0 ? assets::kIndexUnique : 0;
    const size_t close = statement.rfind(')');
    const std::string head = statement.substr(0, close == std::string::npos ? 0 : close);
    if (head.size() >= 5 && head.compare(head.size() - 5, 5, " desc") == 0)
      flags |= assets::kIndexDescending;
    else if (head.size() >= 4 && head.compare(head.size() - 4, 4, " asc") == 0)
      flags |= assets::kIndexAscending;
    return flags;
  }

  node::NodeConnection& c_;
  category::Operation* op_;  // the operation holding the catalog; null in report mode
  bool hasBlobs_;            // the blob file is attached as "blobs"
  bool repairedInPass_ = false;
  bool repaired_ = false;
};

// Whether the connection has the blob file attached.
bool blobsAttached(node::NodeConnection& c) {
  String value;
  return node::queryValue(c, kCountBlobSchemas, &value) == StatusOk && !(value == "0");
}

}  // namespace

Status checkCatalogFiles(const std::string& mainFile, const std::string& blobFile) {
  try {
    node::NodeConnection c(mainFile, std::string(), nullptr, true);
    if (!blobFile.empty() &&
        node::execute(c, node::sqlFormat(node::kAttachBlobs, blobFile.c_str())) != StatusOk)
      return StatusCorrupt;
    Status status = integrityCheck(c);
    if (status != StatusOk) return status;
    return Verifier(c, nullptr, !blobFile.empty()).run();
  } catch (Status) {
    return StatusCorrupt;  // a file the engine cannot open
  }
}

}  // namespace services

int Node::verifyAndFix(bool fix, bool) {
  if (!m_impl->isOpen()) return StatusNotOpen;
  return node::statusOf([&]() -> int {
    category::Operation op(m_impl);
    node::NodeConnection& c = op.connection();
    // A repair inside a transaction of the caller's would commit or undo with it, and the
    // caches could not be rebuilt at its end.
    if (fix && node::transactionState(c) != StatusNoTransaction) return StatusBusy;
    Status status = services::integrityCheck(c);
    if (status != StatusOk) return status;
    const bool blobs = services::blobsAttached(c);
    if (!fix) {
      // Nothing is written, so the level is committed whatever was found: a transaction of
      // the caller's goes on unharmed.
      if (node::beginTransaction(c, false) != StatusOk) return StatusCategoryFailed;
      const Status found = services::Verifier(c, nullptr, blobs).run();
      status = node::commitTransaction(c);
      return found != StatusOk ? found : status != StatusOk ? StatusCategoryFailed : StatusOk;
    }
    bool repaired = false;
    {
      Status begun;
      node::TransactionScope scope(c, &begun);
      if (!scope.active()) return StatusRepairFailed;
      services::Verifier verifier(c, &op, blobs);
      status = verifier.run();
      if (status != StatusOk) return status;  // the scope rolls every repair back
      repaired = verifier.repaired();
      // Other nodes read everything anew; stale populations there would sweep nodes that
      // still have members.
      if (repaired) node::queueEvent(c, monitor::kEventCatalogChanged, -1);
      // A commit that fails undoes the transaction: nothing of the repairs is kept.
      if (scope.commit() != StatusOk) return StatusRepairFailed;
    }
    if (!repaired) return StatusOk;
    // This node's caches are read again in place: held handles stay valid.
    status = op.cache.loadTree(c);
    const Status schema = m_impl->reloadSchemaView(c);
    return status != StatusOk ? status : schema;
  });
}

}  // namespace Vendrithane
}  // namespace KESTRIN

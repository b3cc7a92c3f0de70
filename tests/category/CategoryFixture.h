// Shared set-up of the category tests: the asset tests' open catalog "cat", two namespaces of
// photo records (one keeping empty categories, one not), statements on the catalog's own
// connection, and time zones selected for a scope.
#ifndef VENDRITHANE_TESTS_CATEGORYFIXTURE_H
#define VENDRITHANE_TESTS_CATEGORYFIXTURE_H

#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "asset/AssetCatalogFixture.h"
#include "helpers/StatusOf.h"
#include "helpers/ZoneScope.h"
#include "node/ConnectionPool.h"
#include "node/Statement.h"
#include "vendrithane/Category.h"

class CategoryCatalog : public AssetCatalog {
 protected:
  void SetUp() override {
    AssetCatalog::SetUp();
    ASSERT_EQ(declare("Kept", true), 0);
    ASSERT_EQ(declare("Plain", false), 0);
  }

  int declare(const char* name, bool persistEmpty) {
    KESTRIN::Vendrithane::Asset prototype = node_->asset("photo", true);
    return node_->categoryDeclare(name, prototype, persistEmpty, false);
  }
  // The namespace root `ns`, moved down along `path` ("a/b": two steps).
  KESTRIN::Vendrithane::Category at(const char* ns, const std::string& path = "") {
    KESTRIN::Vendrithane::Category c = node_->category(ns);
    size_t from = 0;
    while (from < path.size()) {
      size_t to = path.find('/', from);
      if (to == std::string::npos) to = path.size();
      c.subCategory(path.substr(from, to - from).c_str());
      from = to + 1;
    }
    return c;
  }
  // The first column of each row of `sql` on the catalog's connection of this thread,
  // joined with ","; "error N" when the statement fails.
  std::string query(const std::string& sql) {
    KESTRIN::Vendrithane::node::ConnectionLease lease(impl_->pool());
    KESTRIN::Vendrithane::node::Statement statement(*lease, sql);
    std::string out;
    while (statement.step()) {
      if (!out.empty()) out += ",";
      out += statement.columnText(0).buffer();
    }
    return statement.failed() ? "error " + std::to_string(statement.code()) : out;
  }
  // The node rows as "id|label|parent" lines, read by the stock shell.
  std::string nodeRows() {
    return shell(mainFile(), "SELECT vd_id,vd_cnod,vd_cpid FROM vd_cat_nde ORDER BY rowid;");
  }
  std::vector<std::string> namespaces() {
    std::vector<std::string> names;
    for (const auto& n : node_->categoryNamespaces()) names.emplace_back(n.buffer());
    return names;
  }
};

using vdtest::ZoneScope;

#endif  // VENDRITHANE_TESTS_CATEGORYFIXTURE_H

// Element indexes on real catalogs: the promoted column and its fill, the SQL index and the
// declarations, refused requests, store and update keeping the column in step, the table
// rebuild of unindex (other indexes and the primary key kept, as the stock shell sees it),
// rollback of an enclosing transaction, other connections after the schema change, and the
// index map read back at open.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "asset/AssetCatalogFixture.h"
#include "asset/AssetLayer.h"
#include "asset/ElementIndex.h"
#include "node/ConnectionPool.h"
#include "node/Transaction.h"
#include "vendrithane/Blob.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

class ElementIndex : public AssetCatalog {
 protected:
  int flags(const char* table, const char* column) {
    return assets::elementIndexes(*impl_).flags(table, column);
  }
  std::string declarations() {
    return rows("SELECT vd_kmap||'|'||vd_ktgt||'|'||vd_ktyp FROM vd_idx ORDER BY rowid;");
  }
  std::string indexSql(const char* table) {
    return rows(std::string("SELECT sql FROM sqlite_master WHERE type='index' AND tbl_name='") +
                table + "' ORDER BY name;");
  }
  std::string columnsOf(const char* table) {
    return rows(std::string("SELECT name FROM pragma_table_info('") + table + "');");
  }
  // An own-table record of `type` with a title and a rating, stored.
  Asset storedOwn(const char* type, const char* title, int rating) {
    Asset a = node_->asset(type, false);
    a.element("title") = title;
    a.element("rating") = rating;
    EXPECT_EQ(a.store(), 0);
    return a;
  }
};

TEST_F(ElementIndex, PromotionFillsTheColumnThenIndexFlagsChangeTheSqlIndex) {
  Asset a = stored("photo", "Dawn");
  Asset b = stored("photo", "Dusk");
  Asset bare = node_->asset("photo", true);
  ASSERT_EQ(bare.store(), 0);

  ASSERT_EQ(a.element("title").index(0), 0);
  EXPECT_EQ(rows("SELECT quote(title) FROM vd_assets ORDER BY vd_id;"), "'Dawn'\n'Dusk'\nNULL\n");
  EXPECT_EQ(rows("SELECT type FROM pragma_table_info('vd_assets') WHERE name='title';"), "TEXT\n");
  EXPECT_EQ(indexSql("vd_assets"),
            "CREATE UNIQUE INDEX vd_assets_vd_id_idx ON vd_assets (vd_id)\n");
  EXPECT_EQ(declarations(), "title|vd_assets|0\n");
  EXPECT_EQ(flags("vd_assets", "title"), 0);
  EXPECT_EQ(b.element("title").index(0), StatusExists);  // any asset of the table: same column

  ASSERT_EQ(a.element("title").index(1), 0);
  EXPECT_EQ(rows("SELECT sql FROM sqlite_master WHERE name='vd_assets_title_idx';"),
            "CREATE UNIQUE INDEX \"vd_assets_title_idx\" ON \"vd_assets\" (\"title\" )\n");
  EXPECT_EQ(declarations(), "title|vd_assets|0\ntitle|vd_assets|1\n");
  EXPECT_EQ(a.element("title").index(1), StatusExists);

  // Another order drops the old index and makes the new one; the values stay.
  ASSERT_EQ(a.element("title").index(4), 0);
  EXPECT_EQ(rows("SELECT sql FROM sqlite_master WHERE name='vd_assets_title_idx';"),
            "CREATE INDEX \"vd_assets_title_idx\" ON \"vd_assets\" (\"title\" DESC)\n");
  EXPECT_EQ(flags("vd_assets", "title"), 4);
  EXPECT_EQ(rows("SELECT count(title) FROM vd_assets;"), "2\n");

  // Integer and time elements get INTEGER columns filled with numbers.
  a.element("rating") = 7;
  ASSERT_EQ(a.update(), 0);
  ASSERT_EQ(a.element("rating").index(2), 0);
  EXPECT_EQ(rows("SELECT typeof(rating)||rating FROM vd_assets WHERE vd_id=" +
                 std::to_string(a.id()) + ";"),
            "integer7\n");
  ASSERT_EQ(a.modified().index(0), StatusEmptyArgument);  // the library's own vd_ names
}

TEST_F(ElementIndex, RefusedRequestsChangeNothing) {
  Asset a = stored("photo", "Dawn");
  a.element("pic") = Blob();
  a.element("o'brien") = "quote";
  a.element("9lives") = "digit";  // in memory only: the checks come before any statement
  const std::string columns = columnsOf("vd_assets");

  EXPECT_EQ(a.element("title").index(6), StatusEmptyArgument);  // both orders
  EXPECT_EQ(a.element("title").index(8), StatusEmptyArgument);  // an unknown bit
  EXPECT_EQ(a.element("pic").index(0), StatusUnsupported);
  for (const char* name : {"o'brien", "9lives"}) {
    EXPECT_EQ(a.element(name).index(0), StatusEmptyArgument) << name;
    EXPECT_EQ(a.element(name).unindex(), StatusEmptyArgument) << name;
  }
  EXPECT_EQ(a.element("title").unindex(), StatusExists);  // never promoted
  EXPECT_EQ(Element().index(0), StatusNotOpen);           // no asset, no catalog
  EXPECT_EQ(columnsOf("vd_assets"), columns);
  EXPECT_EQ(declarations(), "");
  EXPECT_EQ(assets::elementIndexes(*impl_).entries().size(), 0u);

  // A refusal inside a host transaction does not doom it.
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(a.element("title").index(0), 0);
  EXPECT_EQ(a.element("title").index(0), StatusExists);
  EXPECT_EQ(a.element("pic").index(0), StatusUnsupported);
  EXPECT_EQ(node_->transactionState(), StatusInTransaction);
  ASSERT_EQ(node_->transactionCommit(), 0);
  EXPECT_EQ(declarations(), "title|vd_assets|0\n");
}

TEST_F(ElementIndex, StoreAndUpdateKeepThePromotedColumnInStep) {
  ASSERT_EQ(node_->assetDeclare("shot", false), 0);
  Asset first = storedOwn("shot", "One", 1);
  ASSERT_EQ(first.element("title").index(0), 0);
  ASSERT_EQ(first.element("rating").index(1), 0);

  Asset a = storedOwn("shot", "It's new", 5);
  const std::string where = " FROM shot WHERE vd_id=" + std::to_string(a.id()) + ";";
  EXPECT_EQ(rows("SELECT title||'|'||rating" + where), "It's new|5\n");
  a.element("title") = "Changed";
  a.element("rating") = 9;
  ASSERT_EQ(a.update(), 0);
  EXPECT_EQ(rows("SELECT title||'|'||rating" + where), "Changed|9\n");
  EXPECT_NE(rows("SELECT vd_xml" + where).find("<title>Changed</title>"), std::string::npos);
  // An element gone from the record takes its value out of the column too.
  a.erase("title");
  ASSERT_EQ(a.update(), 0);
  EXPECT_EQ(rows("SELECT quote(title)||'|'||rating" + where), "NULL|9\n");
  EXPECT_EQ(rows("SELECT count() FROM shot WHERE title='Changed';"), "0\n");

  // The unique index on rating applies to new records.
  Asset clash = storedOwn("shot", "Clash", 2);
  clash.element("rating") = 9;
  EXPECT_NE(clash.update(), 0);
  EXPECT_EQ(rows("SELECT rating FROM shot WHERE vd_id=" + std::to_string(clash.id()) + ";"), "2\n");
}

TEST_F(ElementIndex, UnindexRebuildsKeepingKeysAndOtherIndexes) {
  ASSERT_EQ(node_->assetDeclare("shot", false), 0);
  Asset a = storedOwn("shot", "One", 1);
  Asset b = storedOwn("shot", "Two", 2);
  ASSERT_EQ(a.element("title").index(1), 0);
  ASSERT_EQ(a.element("rating").index(2), 0);
  const std::string otherIndex = indexSql("shot");

  ASSERT_EQ(a.element("title").unindex(), 0);
  EXPECT_EQ(columnsOf("shot"), "vd_id\nvd_xml\nrating\n");
  EXPECT_EQ(indexSql("shot"), "CREATE INDEX \"shot_rating_idx\" ON \"shot\" (\"rating\" ASC)\n");
  EXPECT_NE(otherIndex.find("shot_title_idx"), std::string::npos);
  EXPECT_EQ(declarations(), "rating|shot|2\n");
  EXPECT_EQ(flags("shot", "title"), -1);
  EXPECT_EQ(a.element("title").unindex(), StatusExists);
  EXPECT_EQ(rows("SELECT rating FROM shot ORDER BY vd_id;"), "1\n2\n");

  // vd_id is still the rowid: loads by id search the key, duplicate ids are refused.
  const std::string plan = shell(
      mainFile(),
      "EXPLAIN QUERY PLAN SELECT vd_xml FROM shot WHERE vd_id=" + std::to_string(b.id()) + ";");
  EXPECT_NE(plan.find("INTEGER PRIMARY KEY"), std::string::npos) << plan;
  EXPECT_NE(shell(mainFile(), "SELECT sql FROM sqlite_master WHERE name='shot';")
                .find("\"vd_id\" INTEGER PRIMARY KEY"),
            std::string::npos);
  EXPECT_NE(rows("INSERT INTO shot (vd_id, vd_xml) VALUES (" + std::to_string(b.id()) + ", '');"),
            "");

  // Records load and store as before, without the column.
  const int id = b.id();
  b = Asset();
  a = Asset();
  Asset loaded = node_->assetLoad(id, "shot");
  EXPECT_EQ(std::string(static_cast<String>(loaded.element("title")).buffer()), "Two");
  loaded.element("title") = "Again";
  EXPECT_EQ(loaded.update(), 0);
  storedOwn("shot", "Three", 3);

  // The shared table keeps its own declaration and unique id index.
  Asset c = stored("photo", "Dawn");
  ASSERT_EQ(c.element("title").index(0), 0);
  ASSERT_EQ(c.element("title").unindex(), 0);
  EXPECT_EQ(shell(mainFile(), "SELECT sql FROM sqlite_master WHERE name='vd_assets';"),
            "CREATE TABLE \"vd_assets\" (\"vd_id\" INTEGER, \"vd_tag\" TEXT, \"vd_xml\" TEXT)\n");
  EXPECT_EQ(indexSql("vd_assets"),
            "CREATE UNIQUE INDEX vd_assets_vd_id_idx ON vd_assets (vd_id)\n");
}

TEST_F(ElementIndex, TypesAndColumnsNamedLikeSqlKeywordsWorkThroughout) {
  EXPECT_EQ(node_->assetDestroy("nothing", false), StatusNotFound);
  ASSERT_EQ(node_->assetDeclare("Match", false), 0);
  EXPECT_TRUE(node_->assetDeclared("match", false));
  Asset a = node_->asset("match", false);
  a.element("key") = "k1";
  a.element("order") = 2;
  a.element("group") = "g1";
  a.element("index") = "i1";
  ASSERT_EQ(a.store(), 0);
  ASSERT_EQ(a.element("key").index(1), 0);
  ASSERT_EQ(a.element("order").index(4), 0);
  ASSERT_EQ(a.element("group").index(0), 0);
  ASSERT_EQ(a.element("index").index(2), 0);
  Asset b = node_->asset("match", false);
  b.element("key") = "k2";
  b.element("order") = 1;
  b.element("group") = "g2";
  ASSERT_EQ(b.store(), 0);
  a.element("group") = "changed";
  ASSERT_EQ(a.update(), 0);
  b.element("key") = "k1";
  EXPECT_NE(b.update(), 0);  // the unique index on "key" holds

  // The stock shell reads the file: the names are the plain ones, quoted only in statements.
  EXPECT_EQ(shell(mainFile(), "PRAGMA integrity_check;"), "ok\n");
  EXPECT_EQ(shell(mainFile(), "SELECT name FROM sqlite_master WHERE tbl_name='match' ORDER BY 1;"),
            "match\nmatch_index_idx\nmatch_key_idx\nmatch_order_idx\n");
  EXPECT_EQ(shell(mainFile(),
                  "SELECT \"key\", \"order\", \"group\", quote(\"index\") FROM "
                  "\"match\" ORDER BY \"order\";"),
            "k2|1|g2|NULL\nk1|2|changed|'i1'\n");
  const std::string plan =
      shell(mainFile(), "EXPLAIN QUERY PLAN SELECT vd_id FROM \"match\" WHERE \"key\"='k2';");
  EXPECT_NE(plan.find("match_key_idx"), std::string::npos) << plan;

  // Unindex rebuilds the table; the map read back at open and loads by id see the rest.
  ASSERT_EQ(a.element("order").unindex(), 0);
  EXPECT_EQ(columnsOf("match"), "vd_id\nvd_xml\nkey\ngroup\nindex\n");
  const int id = b.id();
  a = Asset();
  b = Asset();
  ASSERT_EQ(node_->close(), 0);
  ASSERT_EQ(node_->open(), 0);
  EXPECT_EQ(flags("match", "key"), 1);
  EXPECT_EQ(flags("match", "index"), 2);
  Asset loaded = node_->assetLoad(id, "match");
  EXPECT_EQ(std::string(static_cast<String>(loaded.element("group")).buffer()), "g2");
  String type;
  EXPECT_EQ(node_->characterizeID(id, type), ObjectAsset);
  EXPECT_EQ(std::string(type.buffer()), "match");
  loaded.element("index") = "i2";
  ASSERT_EQ(loaded.update(), 0);
  EXPECT_EQ(rows("SELECT \"index\" FROM \"match\" WHERE vd_id=" + std::to_string(id) + ";"),
            "i2\n");

  // A column gone behind the map's back is never indexed as a quoted constant text.
  ASSERT_EQ(rows("ALTER TABLE \"match\" DROP COLUMN \"group\";"), "");
  loaded.element("group").index(2);
  EXPECT_EQ(rows("SELECT count() FROM pragma_index_xinfo('match_group_idx') WHERE cid=-2;"), "0\n");

  ASSERT_EQ(node_->assetDestroy("match", false), 0);
  EXPECT_FALSE(node_->assetDeclared("match", false));
  EXPECT_EQ(declarations(), "");
  EXPECT_EQ(rows("SELECT count() FROM sqlite_master WHERE tbl_name='match';"), "0\n");
}

TEST_F(ElementIndex, RollbackOfAnEnclosingTransactionUndoesThePromotion) {
  Asset a = stored("photo", "Dawn");
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(a.element("title").index(1), 0);
  EXPECT_EQ(flags("vd_assets", "title"), 1);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(flags("vd_assets", "title"), -1);
  EXPECT_EQ(columnsOf("vd_assets"), "vd_id\nvd_tag\nvd_xml\n");
  EXPECT_EQ(declarations(), "");
  stored("photo", "After");  // writes no column that is not there

  ASSERT_EQ(a.element("title").index(0), 0);
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(a.element("title").unindex(), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(flags("vd_assets", "title"), 0);
  EXPECT_EQ(rows("SELECT count(title) FROM vd_assets;"), "2\n");
}

TEST_F(ElementIndex, OtherConnectionsWriteTheColumnAfterTheSchemaChange) {
  Asset a = stored("photo", "Dawn");
  {
    std::thread warm([&] { stored("photo", "Warm"); });  // a second connection in use
    warm.join();
  }
  const int generation = impl_->pool().generation();
  ASSERT_EQ(a.element("title").index(0), 0);
  EXPECT_GT(impl_->pool().generation(), generation);

  // This thread keeps its connection, so the other thread is on another, refreshed one.
  node::ConnectionLease mine(impl_->pool());
  int id = -1;
  std::thread other([&] { id = stored("photo", "Elsewhere").id(); });
  other.join();
  ASSERT_GT(id, 0);
  EXPECT_EQ(rows("SELECT title FROM vd_assets WHERE vd_id=" + std::to_string(id) + ";"),
            "Elsewhere\n");
}

TEST_F(ElementIndex, TheIndexMapIsReadBackAtOpen) {
  Asset a = stored("photo", "Dawn");
  ASSERT_EQ(a.element("title").index(0), 0);
  ASSERT_EQ(a.element("title").index(1), 0);  // a re-promotion: the newer row wins
  a = Asset();
  // A declaration whose column is gone (its table was rebuilt elsewhere) is not loaded.
  ASSERT_EQ(rows("INSERT INTO vd_idx VALUES (900, 'ghost', 'vd_assets', 0);"), "");
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(assets::elementIndexes(*impl_).entries().size(), 0u);

  ASSERT_EQ(node_->open(), 0);
  EXPECT_EQ(flags("vd_assets", "title"), 1);
  EXPECT_EQ(flags("vd_assets", "ghost"), -1);
  Asset b = stored("photo", "Noon");
  EXPECT_EQ(rows("SELECT title FROM vd_assets WHERE vd_id=" + std::to_string(b.id()) + ";"),
            "Noon\n");

  // A second node opened on the catalog reads the same map.
  Node second("cat", dir_.c_str());
  ASSERT_EQ(second.open(), 0);
  EXPECT_EQ(assets::elementIndexes(*NodeAccess::impl(second)).flags("vd_assets", "title"), 1);
  EXPECT_EQ(second.close(), 0);
}

TEST_F(ElementIndex, ADestroyedTypeDeclaredAgainStartsWithoutPromotions) {
  ASSERT_EQ(node_->assetDeclare("clip", false), 0);
  Asset a = storedOwn("clip", "One", 1);
  ASSERT_EQ(a.element("rating").index(0), 0);
  ASSERT_EQ(node_->assetDestroy("clip", false), 0);
  EXPECT_EQ(declarations(), "");
  EXPECT_EQ(flags("clip", "rating"), -1);
  ASSERT_EQ(node_->assetDeclare("clip", false), 0);
  Asset b = storedOwn("clip", "Two", 2);  // no stale column to fill
  EXPECT_EQ(columnsOf("clip"), "vd_id\nvd_xml\n");
}

TEST_F(ElementIndex, ForgettingATablesPromotionsIsUndoneByRollback) {
  ASSERT_EQ(node_->assetDeclare("shot", false), 0);
  Asset a = storedOwn("shot", "One", 1);
  ASSERT_EQ(a.element("title").index(1), 0);
  ASSERT_EQ(a.element("rating").index(0), 0);
  {
    node::ConnectionLease lease(impl_->pool());
    node::TransactionScope scope(*lease);
    ASSERT_EQ(assets::forgetTableIndexes(*lease, *impl_, "shot"), 0);
    EXPECT_EQ(flags("shot", "title"), -1);
  }  // rolled back
  EXPECT_EQ(flags("shot", "title"), 1);
  EXPECT_EQ(flags("shot", "rating"), 0);
  EXPECT_EQ(declarations(), "title|shot|1\nrating|shot|0\n");
  {
    node::ConnectionLease lease(impl_->pool());
    node::TransactionScope scope(*lease);
    ASSERT_EQ(assets::forgetTableIndexes(*lease, *impl_, "shot"), 0);
    ASSERT_EQ(scope.commit(), 0);
  }
  EXPECT_EQ(assets::elementIndexes(*impl_).entries().size(), 0u);
  EXPECT_EQ(declarations(), "");
}

TEST_F(ElementIndex, IndexedElementsListATypesPromotionsWithTheirFlags) {
  Asset image = stored("image", "Harbour");
  ASSERT_EQ(image.element("title").index(assets::kIndexUnique | assets::kIndexAscending), 0);
  ASSERT_EQ(node_->assetDeclare("shot", false), 0);
  Asset shot = node_->asset("shot", false);
  shot.element("rating") = 4;
  shot.element("lens") = "50mm";
  ASSERT_EQ(shot.store(), 0);
  ASSERT_EQ(shot.element("rating").index(assets::kIndexDescending), 0);
  ASSERT_EQ(shot.element("lens").index(0), 0);

  auto listed = [&](const char* type, bool inCollection) {
    std::string text;
    for (const auto& [name, flags] : node_->indexedElements(type, inCollection))
      text += std::string(name.buffer()) + "=" + std::to_string(flags) + ";";
    return text;
  };
  EXPECT_EQ(listed("IMAGE", true), "title=3;");  // every collection type shares the table
  EXPECT_EQ(listed("other", true), "title=3;");
  EXPECT_EQ(listed("Shot", false), "lens=0;rating=4;");
  EXPECT_EQ(listed("missing", false), "");
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(vdtest::statusOf([&] { node_->indexedElements("shot", false); }), StatusNotOpen);
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN

// Asset types in a catalog: declaration with its name rules, the declared check and the
// listing of tables, destruction of both kinds (with the check for categories left empty),
// and an own type dropped by another process.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "asset/AssetCatalogFixture.h"
#include "helpers/StatusOf.h"
#include "node/FaultInjection.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using vdtest::statusOf;

bool listed(const std::vector<String>& names, const char* name) {
  return std::any_of(names.begin(), names.end(), [&](const String& s) { return s == name; });
}

TEST_F(AssetCatalog, DeclareMakesALowerCasedTableOnce) {
  EXPECT_EQ(node_->assetDeclare("Anything at all", true), 0);  // collections need none
  EXPECT_TRUE(node_->assetDeclared("Anything at all", true));

  EXPECT_FALSE(node_->assetDeclared("photo", false));
  ASSERT_EQ(node_->assetDeclare("Photo", false), 0);
  EXPECT_EQ(node_->assetDeclare("PHOTO", false), StatusExists);
  EXPECT_TRUE(node_->assetDeclared("pHoto", false));
  EXPECT_EQ(rows("SELECT sql FROM sqlite_master WHERE tbl_name='photo';"),
            "CREATE TABLE \"photo\" (vd_id INTEGER PRIMARY KEY, vd_xml)\n");

  const std::vector<String> own = node_->assetNames(false, true);
  EXPECT_EQ(own.size(), 1u);
  EXPECT_TRUE(listed(own, "photo"));
  const std::vector<String> all = node_->assetNames(false, false);
  EXPECT_TRUE(listed(all, "photo"));
  EXPECT_TRUE(listed(all, "vd_assets"));
  EXPECT_EQ(statusOf([&] { node_->assetNames(true, true); }), StatusUnsupported);
}

TEST_F(AssetCatalog, OwnTypeNamesMustBePlainIdentifiers) {
  const std::string before = rows("SELECT count() FROM sqlite_master;");
  for (const char* bad :
       {"", "1st", "a b", "O'Brien's", "x;DROP TABLE vd_assets", "t(vd_id)", "caf\xc3\xa9"}) {
    EXPECT_EQ(node_->assetDeclare(bad, false), StatusEmptyArgument) << bad;
    EXPECT_EQ(node_->assetDestroy(bad, false), StatusEmptyArgument) << bad;
  }
  EXPECT_EQ(rows("SELECT count() FROM sqlite_master;"), before);
  EXPECT_EQ(node_->assetDeclare("_a1", false), 0);

  // The library's own tables are declared already, and are never record types.
  EXPECT_EQ(node_->assetDeclare("vd_assets", false), StatusExists);
  EXPECT_EQ(statusOf([&] { node_->asset("vd_assets", false); }), StatusNoSuchTable);
  EXPECT_EQ(statusOf([&] { node_->asset("undeclared", false); }), StatusNoSuchTable);
  EXPECT_EQ(node_->assetDestroy("vd_assets", false), StatusNotFound);
  EXPECT_EQ(rows("SELECT count() FROM sqlite_master WHERE tbl_name='vd_assets';"), "2\n");
}

TEST_F(AssetCatalog, DeclareRolledBackWithItsTransaction) {
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(node_->assetDeclare("scratch", false), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_FALSE(node_->assetDeclared("scratch", false));
  EXPECT_EQ(statusOf([&] { node_->asset("scratch", false); }), StatusNoSuchTable);
  EXPECT_EQ(node_->assetDeclare("scratch", false), 0);
}

TEST_F(AssetCatalog, DestroyOwnTypeDropsItsTableAndBlobs) {
  ASSERT_EQ(node_->assetDeclare("shot", false), 0);
  Asset a = node_->asset("shot", false);
  ASSERT_EQ(a.store(), 0);
  Asset shared = stored("shot", "same name, shared table");
  blobRows("INSERT INTO vd_blobs (vd_aid,vd_tag,vd_blob) VALUES (" + std::to_string(a.id()) +
           ",'x',x'01'),(" + std::to_string(shared.id()) + ",'x',x'02');");

  ASSERT_EQ(node_->assetDestroy("Shot", false), 0);
  EXPECT_FALSE(node_->assetDeclared("shot", false));
  EXPECT_EQ(blobRows("SELECT hex(vd_blob) FROM vd_blobs;"), "02\n");
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "1\n");
  EXPECT_EQ(node_->assetDestroy("shot", false), StatusNotFound);
  EXPECT_EQ(statusOf([&] { node_->asset("shot", false); }), StatusNoSuchTable);
}

TEST_F(AssetCatalog, DestroyCollectionTypeDeletesOnlyThatTag) {
  Asset quoted = stored("O'Brien's", "one");
  stored("o'brien's", "two");
  Asset other = stored("photo", "stays");
  blobRows("INSERT INTO vd_blobs (vd_aid,vd_tag,vd_blob) VALUES (" + std::to_string(quoted.id()) +
           ",'x',x'01');");
  ASSERT_EQ(node_->assetDestroy("O'BRIEN'S", true), 0);
  EXPECT_EQ(rows("SELECT vd_tag FROM vd_assets;"), "photo\n");
  EXPECT_EQ(blobRows("SELECT count() FROM vd_blobs;"), "0\n");
}

TEST_F(AssetCatalog, DestroyCollectionTypeRefusesToLeaveCategoriesEmpty) {
  Asset a = stored("photo", "member");
  const std::string id = std::to_string(a.id());
  // Namespace 100 (empty categories not kept) with category 101 holding only this record,
  // and category 102 of namespace 200 (empty categories kept) under a chain of two levels.
  rows(
      "INSERT INTO vd_cat (vd_id,vd_cper) VALUES (100,0),(200,1);"
      "INSERT INTO vd_cat_nde (vd_id,vd_cnod,vd_cpid) VALUES (101,'a',100),(102,'b',201),"
      "(201,'c',200);"
      "INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (300," +
      id + ",101),(301," + id + ",201);");
  EXPECT_EQ(node_->assetDestroy("photo", true), StatusEmptyCategories);
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "1\n");
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref;"), "2\n");

  // Once the namespace keeps empty categories the records go, memberships with them.
  rows("UPDATE vd_cat SET vd_cper=1 WHERE vd_id=100;");
  ASSERT_EQ(node_->assetDestroy("photo", true), 0);
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "0\n");
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref;"), "0\n");
}

TEST_F(AssetCatalog, DestroyEndsOnACycleOfCategoryParents) {
  Asset member = stored("photo", "x");
  rows("INSERT INTO vd_cat_nde (vd_id,vd_cnod,vd_cpid) VALUES (401,'a',402),(402,'b',401);");
  rows("INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (403," + std::to_string(member.id()) +
       ",401);");
  EXPECT_EQ(node_->assetDestroy("photo", true), StatusCorrupt);
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "1\n");
}

TEST_F(AssetCatalog, StoreIntoATypeDroppedByAnotherProcessFails) {
  ASSERT_EQ(node_->assetDeclare("shot", false), 0);
  Asset old = node_->asset("shot", false);
  ASSERT_EQ(old.store(), 0);
  Asset fresh = node_->asset("shot", false);  // declared as far as this node knows

  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open cat " + dir_), "0");
  ASSERT_EQ(peer.call("destroy shot"), "0");

  EXPECT_EQ(fresh.store(), StatusNoSuchTable);
  EXPECT_EQ(fresh.id(), -1);
  old.element("lens") = 35;
  EXPECT_EQ(old.update(), StatusNoSuchTable);
  node::ConnectionLease lease(impl_->pool());
  EXPECT_EQ(lease->lastError().status, StatusNoSuchTable);

  // A type the other process declared since this node opened exists already.
  ASSERT_EQ(peer.call("declare film"), "0");
  EXPECT_EQ(node_->assetDeclare("film", false), StatusExists);
  EXPECT_NO_THROW(node_->asset("film", false));
  EXPECT_EQ(peer.finish(), 0);
}

// Index, unindex and declarations post no change event: every other node of the catalog
// follows them through the engine's schema cookie, without reopening.
TEST_F(AssetCatalog, AnotherNodeOfThisProcessFollowsSchemaChanges) {
  Node other("cat", dir_.c_str());
  ASSERT_EQ(other.open(), 0);
  Asset probe = other.asset("photo", true);
  ASSERT_EQ(probe.element("title").index(0), 0);
  Asset mine = stored("photo", "filled");
  EXPECT_EQ(rows("SELECT title FROM vd_assets WHERE vd_id=" + std::to_string(mine.id()) + ";"),
            "filled\n");

  ASSERT_EQ(mine.element("title").unindex(), 0);  // promoted elsewhere, demoted here
  Asset theirs = other.asset("photo", true);
  theirs.element("title") = "no column any more";
  EXPECT_EQ(theirs.store(), 0);

  ASSERT_EQ(other.assetDeclare("film", false), 0);
  EXPECT_TRUE(node_->assetDeclared("film", false));
  Asset film = node_->asset("film", false);
  EXPECT_EQ(film.store(), 0);
  EXPECT_EQ(node_->assetLoad(film.id(), "film").name(), "film");
}

// Whether a type is declared cannot be told when the schema cannot be read: the failure is
// the answer, not "not declared".
TEST_F(AssetCatalog, AFailingSchemaReadIsNotTakenForAnUndeclaredType) {
  constexpr int kEngineIoError = 10;  // the engine's result for an I/O error
  node::setFaultForTesting(node::FaultPlan{node::FaultKind::Lock, 1, kEngineIoError, true});
  const int thrown = vdtest::statusOf([&] { node_->asset("film", false); });
  node::clearFaultForTesting();
  EXPECT_NE(thrown, StatusNoSuchTable);
  EXPECT_NE(thrown, StatusOk);
  EXPECT_EQ(node_->asset("photo", true).name(), "photo");
}

TEST_F(AssetCatalog, AnotherProcessFollowsSchemaChanges) {
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  auto stores = [&](const char* command) {
    const std::string reply = peer.call(command);
    EXPECT_NE(reply.compare(0, 6, "status"), 0) << command << ": " << reply;
    return reply;
  };
  ASSERT_EQ(peer.call("open cat " + dir_), "0");
  ASSERT_EQ(peer.call("index origin 0"), "0");  // the peer's records write the column

  Asset mine = node_->asset("photo", true);
  ASSERT_EQ(mine.element("origin").unindex(), 0);
  stores("store photo");
  ASSERT_EQ(mine.element("origin").index(0), 0);
  const std::string id = stores("store photo");
  EXPECT_EQ(rows("SELECT origin FROM vd_assets WHERE vd_id=" + id + ";"), "peer\n");

  ASSERT_EQ(node_->assetDeclare("film", false), 0);
  stores("storeown film");
  EXPECT_EQ(peer.finish(), 0);
}

TEST_F(AssetCatalog, TypeOperationsNeedAnOpenCatalog) {
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(node_->assetDeclare("photo", false), StatusNotOpen);
  EXPECT_EQ(node_->assetDestroy("photo", false), StatusNotOpen);
  EXPECT_EQ(node_->assetDestroy("photo", true), StatusNotOpen);
  EXPECT_EQ(statusOf([&] { node_->assetDeclared("photo", false); }), StatusNotOpen);
  EXPECT_EQ(statusOf([&] { node_->assetNames(false, false); }), StatusNotOpen);
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN

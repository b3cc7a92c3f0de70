// Records in a catalog: store, update and remove with their statuses and time stamps, loads
// through the table of live assets, rollback of an enclosing transaction, blob failures,
// values that SQL text could not carry, change records seen by another node, and the rows
// as the stock shell reads them.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "asset/AssetAccess.h"
#include "asset/AssetCatalogFixture.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "monitor/SectionLayout.h"
#include "vendrithane/Blob.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using vdtest::statusOf;

std::string textOf(Asset& a, const char* name) {
  String s = a.element(name);
  return std::string(s.buffer(), s.length());
}

TEST_F(AssetCatalog, StoreStampsTheRecordAndWritesOneRow) {
  Asset a = node_->asset("Photo", true);
  a.element("title") = "Sunset";
  a.created() = Time(1000);  // set by the host: kept
  ASSERT_EQ(a.store(), 0);
  const int id = a.id();
  EXPECT_GE(id, 2);
  EXPECT_EQ(a.store(), StatusConstraint);
  EXPECT_EQ(a.id(), id);
  EXPECT_EQ(static_cast<long long>(a.created()), 1000);
  EXPECT_GT(static_cast<long long>(a.modified()), 1000);

  // The stock shell sees one row, tagged with the lower-cased type name.
  const std::string row =
      shell(mainFile(), "SELECT vd_id||'|'||vd_tag||'|'||vd_xml FROM vd_assets;");
  EXPECT_EQ(row.rfind(std::to_string(id) + "|photo|", 0), 0u) << row;
  EXPECT_NE(row.find("<title>Sunset</title>"), std::string::npos) << row;
  EXPECT_NE(row.find("<vd_created type=\"time\">1000</vd_created>"), std::string::npos) << row;
  EXPECT_NE(row.find("<vd_modified type=\"time\">"), std::string::npos) << row;

  // A second asset gets the next id; neither stamp is the host's, so both are now.
  Asset b = node_->asset("photo", true);
  ASSERT_EQ(b.store(), 0);
  EXPECT_GT(b.id(), id);
  EXPECT_GT(static_cast<long long>(b.created()), 1000);
}

TEST_F(AssetCatalog, UpdateStatusesAndNothingWrittenBeforeTheRecordIsRead) {
  Asset fresh = node_->asset("photo", true);
  EXPECT_EQ(fresh.update(), StatusNotFound);

  const int id = stored("photo", "old").id();  // the handle goes: the next load reads the row
  const std::string before = rows("SELECT vd_xml FROM vd_assets;");
  Asset loaded = node_->assetLoad(id);
  EXPECT_EQ(loaded.update(), StatusNotRead);
  EXPECT_EQ(rows("SELECT vd_xml FROM vd_assets;"), before);

  loaded.element("title") = "new";
  ASSERT_EQ(loaded.update(), 0);
  const std::string after = rows("SELECT vd_xml FROM vd_assets;");
  EXPECT_NE(after.find("<title>new</title>"), std::string::npos) << after;

  // The row was deleted behind the asset's back: the update writes nothing and says so.
  rows("DELETE FROM vd_assets;");
  EXPECT_EQ(loaded.update(), StatusNotFound);
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "0\n");
}

TEST_F(AssetCatalog, LoadsShareOneLiveAssetWhileHandlesExist) {
  const int id = stored("photo", "shared").id();
  EXPECT_EQ(assets::liveAssets(*impl_).liveCount(), 0u);
  {
    Asset one = node_->assetLoad(id);
    Asset two = node_->assetLoad(id, "photo");
    EXPECT_EQ(AssetAccess::impl(one), AssetAccess::impl(two));
    EXPECT_EQ(assets::liveAssets(*impl_).liveCount(), 1u);
    one.element("title") = "changed";
    EXPECT_EQ(textOf(two, "title"), "changed");
    EXPECT_EQ(two.name().buffer(), std::string("photo"));
  }
  // The last handle took it out of the table: the next load reads the stored text.
  EXPECT_EQ(assets::liveAssets(*impl_).liveCount(), 0u);
  EXPECT_EQ(assets::liveAssets(*impl_).boundCount(), 0u);
  Asset again = node_->assetLoad(id);
  EXPECT_EQ(textOf(again, "title"), "shared");

  EXPECT_EQ(statusOf([&] { node_->assetLoad(999); }), StatusNotFound);
}

TEST_F(AssetCatalog, TwoArgumentLoadFallsBackToTheSharedTable) {
  const int id = stored("Photo", "in shared").id();
  {
    Asset a = node_->assetLoad(id, "PHOTO");  // no own table "photo"
    EXPECT_TRUE(a.inCollection());
    EXPECT_EQ(textOf(a, "title"), "in shared");
  }
  ASSERT_EQ(node_->assetDeclare("photo", false), 0);
  Asset a = node_->assetLoad(id, "photo");  // own table without the row
  EXPECT_TRUE(a.inCollection());
  EXPECT_EQ(a.name().buffer(), std::string("photo"));
  EXPECT_EQ(textOf(a, "title"), "in shared");
}

TEST_F(AssetCatalog, OwnTableRecordsAreNotRemovedByIdFromTheSharedTable) {
  ASSERT_EQ(node_->assetDeclare("Shot", false), 0);
  Asset a = node_->asset("SHOT", false);
  EXPECT_FALSE(a.inCollection());
  a.element("lens") = 50;
  ASSERT_EQ(a.store(), 0);
  const int id = a.id();
  EXPECT_EQ(rows("SELECT vd_id FROM shot;"), std::to_string(id) + "\n");
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "0\n");
  String name;
  EXPECT_EQ(node_->characterizeID(id, name), ObjectAsset);
  EXPECT_EQ(name, "shot");
  const int shared = stored("Photo", "shared").id();
  EXPECT_EQ(node_->characterizeID(shared, name), ObjectAsset);
  EXPECT_EQ(name, "photo");

  EXPECT_EQ(node_->assetRemove({id}), StatusRemoveFailed);
  EXPECT_EQ(rows("SELECT count() FROM shot;"), "1\n");
  EXPECT_EQ(a.id(), id);

  Asset same = node_->assetLoad(id, "shot");
  EXPECT_EQ(AssetAccess::impl(same), AssetAccess::impl(a));
  ASSERT_EQ(a.remove(), 0);
  EXPECT_EQ(a.id(), -1);
  EXPECT_EQ(rows("SELECT count() FROM shot;"), "0\n");
  EXPECT_EQ(a.remove(), StatusNotFound);
  // Unsaved again: it may be stored anew, as a new record.
  ASSERT_EQ(a.store(), 0);
  EXPECT_GT(a.id(), id);
}

TEST_F(AssetCatalog, AssetRemoveDeletesAllOrNothing) {
  Asset a = stored("photo", "a");
  Asset b = stored("photo", "b");
  blobRows("INSERT INTO vd_blobs (vd_aid,vd_tag,vd_blob) VALUES (" + std::to_string(a.id()) +
           ",'x',x'01');");
  rows("INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (900," + std::to_string(a.id()) +
       ",5);");
  const int aid = a.id();
  EXPECT_EQ(node_->assetRemove({aid, 999}), StatusRemoveFailed);
  EXPECT_EQ(a.id(), aid);
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "2\n");

  // A record without blobs is removed too (the check counts the record rows).
  ASSERT_EQ(node_->assetRemove({aid, b.id()}), 0);
  EXPECT_EQ(a.id(), -1);
  EXPECT_EQ(b.id(), -1);
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "0\n");
  EXPECT_EQ(blobRows("SELECT count() FROM vd_blobs;"), "0\n");
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref;"), "0\n");
}

TEST_F(AssetCatalog, RollbackOfAnEnclosingTransactionRestoresIdsAndTheLiveTable) {
  Asset kept = stored("photo", "kept");
  const int keptId = kept.id();
  ASSERT_EQ(node_->transactionBegin(), 0);
  Asset added = node_->asset("photo", true);
  ASSERT_EQ(added.store(), 0);
  const int addedId = added.id();
  kept.element("title") = "undone";
  ASSERT_EQ(kept.update(), 0);
  ASSERT_EQ(kept.remove(), 0);
  EXPECT_EQ(kept.id(), -1);
  EXPECT_EQ(statusOf([&] { node_->assetLoad(keptId); }), StatusNotFound);
  ASSERT_EQ(node_->transactionRollback(), 0);

  EXPECT_EQ(added.id(), -1);
  EXPECT_EQ(kept.id(), keptId);
  EXPECT_EQ(assets::liveAssets(*impl_).liveCount(), 1u);
  EXPECT_EQ(AssetAccess::impl(node_->assetLoad(keptId)), AssetAccess::impl(kept));
  EXPECT_EQ(statusOf([&] { node_->assetLoad(addedId); }), StatusNotFound);
  // The id went back to the pool as well.
  ASSERT_EQ(added.store(), 0);
  EXPECT_EQ(added.id(), addedId);
  // The object keeps what the host gave it, and its next update writes all of it.
  kept.element("rating") = 1;
  ASSERT_EQ(kept.update(), 0);
  EXPECT_NE(rows("SELECT vd_xml FROM vd_assets WHERE vd_id=" + std::to_string(keptId) + ";")
                .find("<title>undone</title>"),
            std::string::npos);
}

TEST_F(AssetCatalog, ThreadsLoadingAndDroppingOneRecordNeverSplitIt) {
  const int id = stored("photo", "contended").id();
  auto work = [&] {
    for (int i = 0; i < 300; ++i) {
      Asset a = node_->assetLoad(id);
      Asset b = node_->assetLoad(id, "photo");
      EXPECT_EQ(AssetAccess::impl(a), AssetAccess::impl(b));
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(assets::liveAssets(*impl_).liveCount(), 0u);
  EXPECT_EQ(assets::liveAssets(*impl_).boundCount(), 0u);
}

TEST_F(AssetCatalog, BlobThatCannotBeWrittenFailsTheStoreAndLeavesNothing) {
  Asset a = node_->asset("photo", true);
  a.element("title") = "with blob";
  Blob missing;
  missing.set(String((dir_ + "no-such-file").c_str()), Blob::LocationCatalog, false);
  a.element("thumb") = missing;
  EXPECT_EQ(a.store(), StatusBlobFailed);
  EXPECT_EQ(a.id(), -1);
  EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "0\n");
  EXPECT_EQ(assets::liveAssets(*impl_).liveCount(), 0u);

  // The same on update: the stored row keeps its text.
  a.erase("thumb");
  ASSERT_EQ(a.store(), 0);
  const std::string before = rows("SELECT vd_xml FROM vd_assets;");
  a.element("title") = "changed";
  a.element("thumb") = missing;
  EXPECT_EQ(a.update(), StatusBlobFailed);
  EXPECT_EQ(rows("SELECT vd_xml FROM vd_assets;"), before);
}

TEST_F(AssetCatalog, QuotesAndZeroBytesSurviveStoreUpdateAndLoad) {
  Asset a = node_->asset("O'Brien's", true);
  const std::string value("it's \0 here", 11);
  a.element("note") = String(value.data(), static_cast<unsigned>(value.size()));
  ASSERT_EQ(a.store(), 0);
  const int id = a.id();
  EXPECT_EQ(rows("SELECT vd_tag FROM vd_assets;"), "o'brien's\n");
  a.element("more") = "x'); DROP TABLE vd_assets; --";
  ASSERT_EQ(a.update(), 0);
  a = node_->asset("photo", true);  // the only handle goes

  Asset back = node_->assetLoad(id);
  EXPECT_EQ(back.name().buffer(), std::string("o'brien's"));
  EXPECT_EQ(textOf(back, "note"), value);
  EXPECT_EQ(textOf(back, "more"), "x'); DROP TABLE vd_assets; --");
}

TEST_F(AssetCatalog, UpdatesAndDeletesReachAnotherNodeAsChangeRecords) {
  Node other("cat", dir_.c_str());
  ASSERT_EQ(other.open(), 0);
  monitor::EventQueue& queue = NodeAccess::impl(other)->queue();

  Asset a = stored("photo", "seen");  // an insert posts nothing
  a.element("title") = "again";
  ASSERT_EQ(a.update(), 0);
  const int id = a.id();
  ASSERT_EQ(a.remove(), 0);

  std::vector<std::pair<int, int>> seen;
  int eventId = 0;
  for (int kind; (kind = queue.readNext(&eventId)) != monitor::kEventNone;)
    seen.emplace_back(kind, eventId);
  const std::vector<std::pair<int, int>> expected{{monitor::kEventRecordUpdated, id},
                                                  {monitor::kEventRecordDeleted, id}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(other.close(), 0);
}

// A record kept in memory while another process updates it: the update writes only what
// this object changed, keeps the other process's changes and shows them afterwards.
TEST_F(AssetCatalog, UpdateKeepsWhatAnotherProcessChangedMeanwhile) {
  Asset a = node_->asset("photo", true);
  for (const char* name : {"caption", "note", "scratch", "title"}) a.element(name) = name;
  a.element("rating") = 1;
  ASSERT_EQ(a.store(), 0);
  const std::string id = std::to_string(a.id());

  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open cat " + dir_), "0");
  ASSERT_EQ(peer.call("update " + id + " caption theirs"), "0");
  ASSERT_EQ(peer.call("update " + id + " note"), "0");  // erased there
  ASSERT_EQ(peer.call("update " + id + " place harbour"), "0");
  ASSERT_EQ(peer.call("update " + id + " title theirs"), "0");
  ASSERT_EQ(peer.call("update " + id + " picture blob:pixels"), "0");

  a.element("caption").attribute("lang");  // a read only: no change of this host's
  a.element("rating") = 2;
  a.erase("scratch");
  a.element("title") = "mine";  // both changed it: the later update wins
  ASSERT_EQ(a.update(), 0);
  auto expectRecord = [&](Asset& r, const char* rating) {
    EXPECT_EQ(textOf(r, "caption"), "theirs");
    EXPECT_EQ(textOf(r, "place"), "harbour");
    EXPECT_EQ(textOf(r, "title"), "mine");
    EXPECT_EQ(textOf(r, "rating"), rating);
    EXPECT_FALSE(r.elementExists("note"));
    EXPECT_FALSE(r.elementExists("scratch"));
  };
  expectRecord(a, "2");  // what it wrote
  EXPECT_EQ(blobRows("SELECT vd_blob FROM vd_blobs WHERE vd_aid=" + id + " AND vd_tag='picture';"),
            "pixels\n");
  Node other("cat", dir_.c_str());
  ASSERT_EQ(other.open(), 0);
  {
    Asset row = other.assetLoad(a.id());
    expectRecord(row, "2");
  }
  a.element("rating") = 3;  // nobody else changed it since
  ASSERT_EQ(a.update(), 0);
  Asset row = other.assetLoad(a.id());
  expectRecord(row, "3");
  EXPECT_EQ(peer.finish(), 0);
}

TEST_F(AssetCatalog, OldTableRowsBecomeElements) {
  rows(
      "CREATE TABLE old (vd_id INTEGER, title TEXT, year INTEGER);"
      "INSERT INTO old VALUES (500,'Dunes',1999);");
  ASSERT_EQ(node_->close(), 0);
  ASSERT_EQ(node_->open(), 0);
  Asset a = node_->assetLoad(500, "old");
  EXPECT_FALSE(a.inCollection());
  EXPECT_EQ(a.nElements(), 2);
  EXPECT_EQ(textOf(a, "title"), "Dunes");
  EXPECT_EQ(textOf(a, "year"), "1999");
}

TEST_F(AssetCatalog, StoreNeedsAnOpenCatalog) {
  Asset unbound;
  EXPECT_EQ(unbound.store(), StatusNotOpen);
  Asset a = node_->asset("photo", true);
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(a.store(), StatusNotOpen);
  EXPECT_EQ(a.id(), -1);
  EXPECT_EQ(statusOf([&] { node_->assetLoad(2); }), StatusNotOpen);
  EXPECT_EQ(node_->assetRemove({2}), StatusNotOpen);
}

TEST_F(AssetCatalog, AssetsOutlivingTheirNodeNoLongerReachIt) {
  Asset a = stored("photo", "orphan");
  {
    Node handle = node_->assetLoad(a.id()).node();  // one more handle on the catalog
    EXPECT_EQ(impl_->handles(), 2);
    ASSERT_EQ(handle.transactionBegin(), 0);
    Asset b = handle.asset("photo", true);
    ASSERT_EQ(b.store(), 0);
    ASSERT_EQ(handle.transactionCommit(), 0);
    EXPECT_EQ(rows("SELECT count() FROM vd_assets;"), "2\n");
  }
  EXPECT_EQ(impl_->handles(), 1);
  node_.reset();
  EXPECT_EQ(a.element("title").operator String().buffer(), std::string("orphan"));
  EXPECT_EQ(a.update(), StatusNotOpen);
  // The node of an asset bound to no catalog names none.
  for (Asset unbound : {a, Asset()}) {
    Node none = unbound.node();
    EXPECT_EQ(none.transactionBegin(), StatusNotOpen);
    EXPECT_EQ(none.asset("photo", true).store(), StatusNotOpen);
    EXPECT_EQ(none.create(), StatusNotOpen);
    EXPECT_EQ(none.open(), StatusNotOpen);
    EXPECT_EQ(none.exists(), -1);
  }
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN

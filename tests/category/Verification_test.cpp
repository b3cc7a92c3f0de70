// The catalog verification: each kind of damage, made with the stock engine on the closed
// catalog, is reported without a change and then repaired; a sound catalog passes both ways.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "category/CategoryFixture.h"
#include "helpers/PeerProcess.h"

using KESTRIN::Vendrithane::Asset;
using KESTRIN::Vendrithane::Category;

namespace {

class Verification : public CategoryCatalog {
 protected:
  void SetUp() override {
    CategoryCatalog::SetUp();
    a_ = stored("photo", "a");
    b_ = stored("photo", "b");
    ASSERT_EQ(at("Plain", "2008/05/17").apply(a_), 0);
    ASSERT_EQ(at("Plain", "2008/05/18").apply(b_), 0);
    ASSERT_EQ(at("Kept", "early").add(), 0);
    ASSERT_EQ(node_->assetDeclare("song", false), 0);  // an own-table type
    Asset song = node_->asset("song", false), songType = node_->asset("song", false);
    song.element("title") = "s";
    ASSERT_EQ(song.store(), 0);
    ASSERT_EQ(node_->categoryDeclare("Songs", songType, false, false), 0);
    ASSERT_EQ(at("Songs", "x").apply(song), 0);
    year_ = at("Plain", "2008").id();
    month_ = at("Plain", "2008/05").id();
    day_ = at("Plain", "2008/05/17").id();
    // Room below the counter for the rows the damage adds (ids from 5000).
    damage("UPDATE vd_id SET vd_id=10000;");
  }

  std::string blobFile() const { return dir_ + "cat.vm"; }
  // Runs `sql` with the stock engine on `file` (the main file by default) while the catalog
  // is closed: the file's header is swapped for the engine's and back.
  void damage(const std::string& sql, std::string file = "") {
    if (file.empty()) file = mainFile();
    ASSERT_EQ(node_->close(), 0);
    std::string bytes = readFile(file);
    ASSERT_GE(bytes.size(), 16u);
    const std::string header = bytes.substr(0, 16);
    bytes.replace(0, 16, std::string("SQLite format 3\0", 16));
    writeFile(file, bytes);
    writeFile(dir_ + "damage.sql", sql);
    const std::string cmd = "sqlite3 -batch -bail '" + file + "' < '" + dir_ + "damage.sql'";
    EXPECT_EQ(system(cmd.c_str()), 0) << sql;
    bytes = readFile(file);
    bytes.replace(0, 16, header);
    writeFile(file, bytes);
    const int opened = node_->open();  // 74: the tree load left damaged rows out
    ASSERT_TRUE(opened == 0 || opened == 74) << opened;
  }
  // Every row of both files, as the stock shell dumps them.
  std::string dump() { return shell(mainFile(), ".dump") + shell(blobFile(), ".dump"); }
  std::string ids(const std::string& sql) { return shell(mainFile(), sql); }

  Asset a_, b_;
  int year_ = 0, month_ = 0, day_ = 0;
};

TEST_F(Verification, SoundCatalogPassesUnchanged) {
  Asset videoType = node_->asset("video", true);
  ASSERT_EQ(node_->categoryDeclare("Videos", videoType, false, true), 0);  // no records
  Category album = at("Plain", "2008");
  ASSERT_EQ(node_->categoryDeclare("Albums", album, false, false), 0);
  Category year = at("Plain", "2008");
  ASSERT_EQ(at("Albums", "best").apply(year), 0);
  // A promotion, then the same element again with other flags (a second declaration row).
  ASSERT_EQ(a_.element("title").index(1), 0);
  ASSERT_EQ(a_.element("title").index(4), 0);
  // A table of the engine's own, and one of another program's without vd_id.
  damage("ANALYZE;CREATE TABLE notes (x);INSERT INTO notes VALUES (1);");
  const std::string before = dump();
  EXPECT_EQ(node_->verifyAndFix(false, false), 0);
  EXPECT_EQ(node_->verifyAndFix(true, false), 0);
  EXPECT_EQ(dump(), before);
}

TEST_F(Verification, EachKindReportedThenRepaired) {
  const std::string y = std::to_string(year_), m = std::to_string(month_), d = std::to_string(day_),
                    a = std::to_string(a_.id()), plain = std::to_string(at("Plain").id()),
                    kept = std::to_string(at("Kept").id()),
                    early = std::to_string(at("Kept", "early").id());
  const std::string x = std::to_string(at("Songs", "x").id());
  struct Case {
    int status;
    std::string damage, check, expected;
    std::string blobDamage = "";  // run on the blob file too, when given
  };
  const std::vector<Case> cases = {
      {80, "INSERT INTO vd_assets VALUES (0,'photo','<photo/>');",
       "SELECT count() FROM vd_assets WHERE vd_id<=0;", "0\n"},
      {80, "INSERT INTO vd_cat VALUES (NULL,'',0,'X',0,NULL);",
       "SELECT count() FROM vd_cat WHERE vd_id IS NULL;", "0\n"},
      {48, "INSERT INTO vd_idx VALUES (5000,'x','gone',0);",
       "SELECT count() FROM vd_idx WHERE vd_ktgt='gone';", "0\n"},
      {47,
       "INSERT INTO vd_cat VALUES (5001,'',0,'O''Brien''s',0,'photo');"
       "INSERT INTO vd_cat VALUES (5002,'',0,'O''Brien''s',0,'photo');"
       "INSERT INTO vd_cat VALUES (5003,'',0,'O''Brien''s',0,'photo');",
       "SELECT vd_croot FROM vd_cat WHERE vd_id>5000 ORDER BY vd_id;",
       "O'Brien's\nO'Brien's Copy 2\nO'Brien's Copy 3\n"},
      // A second "05" under the year, with a child holding a record and filed itself in a
      // namespace of categories: it merges into the first; the child and the memberships
      // (held and as a member) move, the label index is made again. The blob table is
      // missing too: it is made first, so that the merge can drop the node's blob rows.
      {33,
       "DROP INDEX vd_cat_nde_vd_cnod_vd_cpid_idx;INSERT INTO vd_cat_nde VALUES (5004,'05'," + y +
           ",'');INSERT INTO vd_cat_nde VALUES (5005,'19',5004,'');INSERT INTO vd_cat_xref "
           "VALUES (5006," +
           a + ",5005);INSERT INTO vd_cat_xref VALUES (5007," + a +
           ",5004);INSERT INTO vd_cat VALUES (5021,'',0,'Albums',0,'vd_cat_nde');INSERT INTO "
           "vd_cat_nde VALUES (5022,'best',5021,'');INSERT INTO vd_cat_xref VALUES "
           "(5023,5004,5022);",
       "SELECT vd_cpid FROM vd_cat_nde WHERE vd_cnod='19' UNION ALL SELECT count() FROM "
       "vd_cat_nde WHERE vd_id=5004 UNION ALL SELECT vd_aid FROM vd_cat_xref WHERE vd_cid=5022 "
       "UNION ALL SELECT count() FROM sqlite_master WHERE name='vd_cat_nde_vd_cnod_vd_cpid_idx';",
       m + "\n0\n" + m + "\n1\n", "DROP TABLE vd_blobs;"},
      {67,
       "INSERT INTO vd_cat_nde VALUES (5008,'lost',99999,'');"
       "INSERT INTO vd_cat_nde VALUES (5009,'below',5008,'');",
       "SELECT count() FROM vd_cat_nde WHERE vd_id IN (5008,5009);", "0\n"},
      {67,
       "INSERT INTO vd_cat_nde VALUES (5010,'x',5011,'');"  // a parent cycle
       "INSERT INTO vd_cat_nde VALUES (5011,'y',5010,'');",
       "SELECT count() FROM vd_cat_nde WHERE vd_id IN (5010,5011);", "0\n"},
      {62, "INSERT INTO vd_cat_xref VALUES (5012," + a + ",99999);",
       "SELECT count() FROM vd_cat_xref WHERE vd_id=5012;", "0\n"},
      // A membership without a category, and a memberless node that the sweep must still
      // find (a NULL among the categories held must not hide it).
      {62,
       "INSERT INTO vd_cat_xref VALUES (5019," + a +
           ",NULL);INSERT INTO vd_cat_nde VALUES (5020,'empty'," + plain + ",'');",
       "SELECT count() FROM vd_cat_xref WHERE vd_cid IS NULL UNION ALL SELECT count() FROM "
       "vd_cat_nde WHERE vd_id=5020;",
       "0\n0\n"},
      {65,
       "INSERT INTO vd_cat VALUES (5013,'',0,'Nowhere',0,'vd_registry');"
       "INSERT INTO vd_cat VALUES (5014,'',0,'Null',0,NULL);"
       "INSERT INTO vd_cat VALUES (5024,'',0,'Empty',0,'');",
       "SELECT count() FROM vd_cat WHERE vd_id IN (5013,5014,5024);", "0\n"},
      {63, "INSERT INTO vd_cat_xref VALUES (5015,4999," + d + ");",
       "SELECT count() FROM vd_cat_xref WHERE vd_aid=4999;", "0\n"},
      // An own table dropped: its namespace reads as one of a collection type without
      // records, its memberships go, then its memberless node.
      {63, "DROP TABLE song;",
       "SELECT count() FROM vd_cat_xref WHERE vd_cid=" + x +
           " UNION ALL SELECT count() FROM vd_cat_nde WHERE vd_id=" + x +
           " UNION ALL SELECT count() FROM vd_cat WHERE vd_croot='Songs';",
       "0\n0\n1\n"},
      // The upper memberships lost: restored level after level, never swept.
      {79, "DELETE FROM vd_cat_xref WHERE vd_cid IN (" + y + "," + m + ");",
       "SELECT count() FROM vd_cat_xref WHERE vd_cid IN (" + y + "," + m +
           ") UNION ALL SELECT count() FROM vd_cat_nde;",
       "4\n6\n"},
      // Memberless nodes: only the one of the namespace that does not keep them goes, kept
      // ones made before and after it stay.
      {67,
       "INSERT INTO vd_cat_nde VALUES (5016,'empty'," + plain +
           ",'');INSERT INTO vd_cat_nde VALUES (5017,'late'," + kept + ",'');",
       "SELECT vd_cnod FROM vd_cat_nde WHERE vd_id IN (5016,5017," + early + ") ORDER BY vd_id;",
       "early\nlate\n"},
      {48, "DROP INDEX vd_cat_xref_vd_aid_idx;",
       "SELECT count() FROM sqlite_master WHERE name='vd_cat_xref_vd_aid_idx';", "1\n"},
      {48,
       "ALTER TABLE vd_assets ADD COLUMN rating;"
       "CREATE INDEX vd_assets_rating_idx ON vd_assets (rating DESC);",
       "SELECT vd_ktyp FROM vd_idx WHERE vd_kmap='rating' AND vd_ktgt='vd_assets';", "4\n"},
      {48, "INSERT INTO vd_idx VALUES (5018,'nocolumn','vd_assets',0);",
       "SELECT count() FROM vd_idx WHERE vd_kmap='nocolumn';", "0\n"},
  };
  ASSERT_EQ(node_->close(), 0);
  const std::string mainBase = readFile(mainFile()), blobBase = readFile(blobFile());
  ASSERT_EQ(node_->open(), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    ASSERT_EQ(node_->close(), 0);
    writeFile(mainFile(), mainBase);
    writeFile(blobFile(), blobBase);
    ASSERT_EQ(node_->open(), 0);
    damage(c.damage);
    if (!c.blobDamage.empty()) damage(c.blobDamage, blobFile());
    const std::string before = dump();
    EXPECT_EQ(node_->verifyAndFix(false, false), c.status);
    EXPECT_EQ(dump(), before);
    EXPECT_EQ(node_->verifyAndFix(true, false), 0);
    EXPECT_EQ(node_->verifyAndFix(false, false), 0);
    EXPECT_EQ(ids(c.check), c.expected);
  }
}

// A counter lowered below ids in use: the rows stay, the counter goes past them.
TEST_F(Verification, IdsAboveTheCounterKept) {
  damage("UPDATE vd_id SET vd_id=3;");
  EXPECT_EQ(node_->verifyAndFix(false, false), 80);
  EXPECT_EQ(node_->verifyAndFix(true, false), 0);
  EXPECT_EQ(node_->verifyAndFix(false, false), 0);
  EXPECT_EQ(ids("SELECT count() FROM vd_assets;"), "2\n");
  Asset c = stored("photo", "c");
  EXPECT_GT(c.id(), std::stoi(ids("SELECT max(vd_id) FROM vd_cat_xref;")));
  EXPECT_EQ(at("Plain", "2008/05/17").population(), 1);  // the caches were read again
}

// A repair in this process reads the tree again in place: held handles follow.
TEST_F(Verification, HeldHandlesFollowARepair) {
  damage("DELETE FROM vd_cat_xref WHERE vd_cid IN (" + std::to_string(year_) + "," +
         std::to_string(month_) + ");");
  Category month = at("Plain", "2008/05");
  EXPECT_EQ(month.population(), 0);
  EXPECT_EQ(node_->verifyAndFix(true, false), 0);
  EXPECT_EQ(month.id(), month_);
  EXPECT_EQ(month.population(), 2);
}

// A unique index that duplicates prevent, a missing blob table, and an index whose rows do
// not match its declaration (the engine's integrity check: nothing else is examined).
TEST_F(Verification, SchemaObjects) {
  damage("DROP INDEX vd_assets_vd_id_idx;INSERT INTO vd_assets VALUES (" + std::to_string(a_.id()) +
         ",'photo','<photo/>');");
  std::string before = dump();
  EXPECT_EQ(node_->verifyAndFix(false, false), 48);
  EXPECT_EQ(node_->verifyAndFix(true, false), 48);
  EXPECT_EQ(dump(), before);  // nothing kept

  damage("DELETE FROM vd_assets WHERE rowid=(SELECT max(rowid) FROM vd_assets);");
  ASSERT_EQ(node_->verifyAndFix(true, false), 0);
  damage("DROP TABLE vd_blobs;", blobFile());
  EXPECT_EQ(node_->verifyAndFix(false, false), 33);
  EXPECT_EQ(node_->verifyAndFix(true, false), 0);
  EXPECT_EQ(shell(blobFile(), "SELECT count() FROM sqlite_master;"), "2\n");

  damage(
      "PRAGMA writable_schema=ON;UPDATE sqlite_master SET sql=replace(sql,'(vd_aid)','(vd_cid)') "
      "WHERE name='vd_cat_xref_vd_aid_idx';");
  before = dump();
  EXPECT_EQ(node_->verifyAndFix(false, false), 25);
  EXPECT_EQ(node_->verifyAndFix(true, false), 25);
  EXPECT_EQ(dump(), before);
  EXPECT_NE(impl_->stateXml().find("vd_cat_xref_vd_aid_idx"), std::string::npos);
}

// Report mode inside a caller's transaction leaves it committable; repair mode refuses.
// Backup's verifyFirst runs the same check on its copy.
TEST_F(Verification, CallersTransactionAndBackup) {
  damage("INSERT INTO vd_cat_xref VALUES (5000," + std::to_string(a_.id()) + ",99999);");
  ASSERT_EQ(node_->transactionBegin(), 0);
  EXPECT_EQ(node_->verifyAndFix(false, false), 62);
  EXPECT_EQ(node_->verifyAndFix(true, false), 77);
  EXPECT_EQ(node_->transactionState(), 57);
  EXPECT_EQ(node_->transactionCommit(), 0);
  EXPECT_EQ(node_->backup(false, true, false), 62);
  EXPECT_FALSE(node_->backupExists());
  EXPECT_EQ(node_->verifyAndFix(true, false), 0);
  EXPECT_EQ(node_->backup(false, true, false), 0);
}

// Another process repairs: one catalog-changed event, and this node's tree (held handles
// included) follows.
TEST_F(Verification, OtherProcessRepairs) {
  damage("DELETE FROM vd_cat_xref WHERE vd_cid IN (" + std::to_string(year_) + "," +
         std::to_string(month_) + ");");
  Category month = at("Plain", "2008/05");
  EXPECT_EQ(month.population(), 0);
  const uint32_t posted = impl_->queue().snapshot();
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open cat " + dir_), "0");
  EXPECT_EQ(peer.call("verify 0"), "79");
  EXPECT_EQ(peer.call("verify 1"), "0");
  EXPECT_EQ(impl_->queue().snapshot() - posted, 1u);
  ASSERT_EQ(node_->transactionBegin(), 0);  // applies the change
  EXPECT_EQ(node_->transactionCommit(), 0);
  EXPECT_EQ(month.population(), 2);
  EXPECT_EQ(at("Plain", "2008").population(), 2);
  EXPECT_EQ(peer.finish(), 0);
}

}  // namespace

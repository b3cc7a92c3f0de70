// Category membership: filing up the tree and removal down it, the flags' effects, member
// order, rollbacks, membership cycles, damaged rows, collection-type targets, the listings,
// the date-tree check and repair, and another process's filings followed without a monitor.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "category/CategoryFixture.h"
#include "vendrithane/Handler.h"

using namespace KESTRIN::Vendrithane;

namespace {

// Collects what a membership listing delivers: each category's full label and value.
class Holdings : public Handler {
 public:
  void categoryEvent(Category& category, int value) override {
    seen.emplace_back(category.fullLabel().buffer(), value);
  }
  std::vector<std::pair<std::string, int>> seen;
};

class Membership : public CategoryCatalog {
 protected:
  // The populations of the categories along `path` from the namespace, joined with ",".
  std::string populations(const char* ns, const std::string& path) {
    std::string out;
    Category c = at(ns, path);
    for (int depth = c.depth(); depth >= 1; --depth) {
      Category up = c;
      up.ancestor(depth);
      out += (out.empty() ? "" : ",") + std::to_string(up.population());
    }
    return out;
  }
  std::string members(int category) {
    return query("SELECT vd_aid FROM vd_cat_xref WHERE vd_cid=" + std::to_string(category) +
                 " ORDER BY vd_id;");
  }
  // Rows that name a parent or a category that is not there, as the stock shell sees them.
  std::string danglingRows() {
    return shell(mainFile(),
                 "SELECT 'node',vd_id FROM vd_cat_nde WHERE vd_cpid NOT IN (SELECT vd_id FROM "
                 "vd_cat_nde UNION SELECT vd_id FROM vd_cat) UNION ALL SELECT 'member',vd_id FROM "
                 "vd_cat_xref WHERE vd_cid NOT IN (SELECT vd_id FROM vd_cat_nde);");
  }
};

TEST_F(Membership, ApplyFilesUpTheTreeAndRemovalGoesDown) {
  Asset a = stored("photo", "a"), b = stored("photo", "b");
  Category day = at("Plain", "2008/05/17");
  EXPECT_EQ(day.apply(a), 0);
  EXPECT_EQ(day.apply(a), 0);  // a member already: nothing added
  EXPECT_EQ(populations("Plain", "2008/05/17"), "1,1,1");
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref;"), "3\n");
  std::vector<int> ids{b.id(), 999, -7, b.id()};
  EXPECT_EQ(day.apply(ids), StatusPartlyApplied);
  EXPECT_EQ(ids, (std::vector<int>{b.id(), -999, -7, b.id()}));
  std::vector<int> none{999};
  EXPECT_EQ(day.apply(none), StatusEmptyArgument);
  std::vector<int> repeated{a.id(), a.id()};
  EXPECT_EQ(day.apply(repeated), 0);  // a repeated id is no missing one
  EXPECT_EQ(populations("Plain", "2008/05/17"), "2,2,2");

  // The refusals.
  Category root = node_->category("Plain");
  EXPECT_EQ(root.apply(a), StatusNotAllowed);
  Asset unsaved = node_->asset("photo", true);
  EXPECT_EQ(day.apply(unsaved), StatusNoId);
  Asset film = stored("film", "f");
  EXPECT_EQ(day.apply(film), StatusEmptyArgument);
  std::vector<Asset*> mixed{&a, &film};
  EXPECT_EQ(day.apply(mixed), StatusEmptyArgument);
  created("other");
  Node otherCatalog("other", dir_.c_str());
  ASSERT_EQ(otherCatalog.open(), 0);
  Asset foreign = otherCatalog.asset("photo", true);
  ASSERT_EQ(foreign.store(), 0);
  EXPECT_EQ(day.apply(foreign), StatusWrongCatalog);  // its id names another record here
  EXPECT_EQ(day.unapply(foreign), StatusWrongCatalog);
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref;"), "6\n");

  // Down the tree only: the month and the year keep their rows.
  EXPECT_EQ(day.unapply(a), 0);
  EXPECT_EQ(populations("Plain", "2008/05/17"), "1,2,2");
  EXPECT_FALSE(day.contains(a));
  EXPECT_TRUE(at("Plain", "2008/05").contains(a));
  // Its last member gone, the day's row goes (the namespace keeps no empty categories).
  std::vector<Asset*> both{&a, &b};
  EXPECT_EQ(day.unapply(both), 0);
  EXPECT_EQ(day.population(), 0);
  EXPECT_FALSE(at("Plain", "2008/05").isSubCategory("17"));
  EXPECT_GT(day.id(), 0);  // transient again, still navigable
  // From the namespace root: out of every top-level category and everything below.
  EXPECT_EQ(at("Plain", "2009").apply(a), 0);
  EXPECT_EQ(root.unapply(a), 0);
  EXPECT_EQ(root.unapply(b), 0);
  EXPECT_EQ(nodeRows(), "");
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref;"), "0\n");

  // Where empty categories are kept, the rows stay with population 0.
  Category kept = at("Kept", "2008/05/17");
  ASSERT_EQ(kept.apply(a), 0);
  EXPECT_EQ(kept.unapply(), 0);
  EXPECT_EQ(populations("Kept", "2008/05/17"), "0,1,1");
  EXPECT_TRUE(at("Kept", "2008/05").isSubCategory("17"));
  EXPECT_EQ(danglingRows(), "");
}

TEST_F(Membership, RollbackRestoresRowsPopulationsAndStoredFlags) {
  Asset a = stored("photo", "a"), b = stored("photo", "b"), c = stored("photo", "c");
  Category day = at("Plain", "2008/05/17");
  std::vector<int> ids{a.id(), b.id(), c.id()};
  ASSERT_EQ(day.apply(ids), 0);
  const std::string before = nodeRows() + members(day.id());

  ASSERT_EQ(node_->transactionBegin(), 0);
  Category other = at("Plain", "2010/01/01");
  EXPECT_EQ(other.apply(a), 0);
  EXPECT_EQ(day.memberOrder(std::vector<int>{c.id()}, std::vector<int>{0}, false), 0);
  EXPECT_EQ(day.unapply(), 0);
  EXPECT_FALSE(at("Plain", "2008/05").isSubCategory("17"));
  ASSERT_EQ(node_->transactionRollback(), 0);

  EXPECT_EQ(nodeRows() + members(day.id()), before);
  EXPECT_EQ(populations("Plain", "2008/05/17"), "3,3,3");
  EXPECT_TRUE(at("Plain", "2008/05").isSubCategory("17"));
  EXPECT_FALSE(node_->category("Plain").isSubCategory("2010"));
  EXPECT_EQ(other.id(), -1);  // its id went back with the rollback

  // A refusal inside the host's transaction changes nothing and leaves it to commit.
  ASSERT_EQ(node_->transactionBegin(), 0);
  Category again = at("Plain", "2011");
  EXPECT_EQ(again.apply(a), 0);
  EXPECT_EQ(day.memberOrder(std::vector<int>{a.id(), a.id()}, std::vector<int>{0, 1}, true),
            StatusEmptyArgument);
  std::vector<int> missing{999};
  EXPECT_EQ(day.apply(missing), StatusEmptyArgument);
  ASSERT_EQ(node_->transactionCommit(), 0);
  EXPECT_TRUE(again.contains(a));
}

TEST_F(Membership, MemberOrder) {
  std::vector<Asset> made;
  for (const char* title : {"3", "5", "7"}) made.push_back(stored("photo", title));
  const std::string n3 = std::to_string(made[0].id()), n5 = std::to_string(made[1].id()),
                    n7 = std::to_string(made[2].id());
  Category day = at("Kept", "d");
  std::vector<Asset*> list{&made[0], &made[1], &made[2]};
  ASSERT_EQ(day.apply(list), 0);
  const std::string keys =
      query("SELECT vd_id FROM vd_cat_xref WHERE vd_cid=" + std::to_string(day.id()) +
            " ORDER BY vd_id;");

  EXPECT_EQ(day.memberOrder(std::vector<int>{made[2].id()}, std::vector<int>{0}, false), 0);
  EXPECT_EQ(members(day.id()), n7 + "," + n3 + "," + n5);
  EXPECT_EQ(query("SELECT vd_id FROM vd_cat_xref WHERE vd_cid=" + std::to_string(day.id()) +
                  " ORDER BY vd_id;"),
            keys);
  EXPECT_EQ(day.memberOrder(list, false), 0);  // positions 0, 1, 2
  EXPECT_EQ(members(day.id()), n3 + "," + n5 + "," + n7);
  EXPECT_EQ(
      day.memberOrder(std::vector<int>{made[1].id(), made[0].id()}, std::vector<int>{0, 1}, true),
      0);
  EXPECT_EQ(members(day.id()), n5 + "," + n3 + "," + n7);

  // Refused before any change: a position at the population or twice, a non-member, an id
  // twice, sizes that differ, and (relative) a position twice.
  const std::vector<std::pair<std::vector<int>, std::vector<int>>> bad{
      {{made[0].id()}, {3}},
      {{made[0].id(), made[1].id()}, {1, 1}},
      {{999}, {0}},
      {{made[0].id(), made[0].id()}, {0, 1}},
      {{made[0].id()}, {0, 1}}};
  for (const auto& each : bad) {
    EXPECT_EQ(day.memberOrder(each.first, each.second, false), StatusEmptyArgument);
    // Relative positions are sort keys: any value is one, but not one given twice.
    if (each.second != std::vector<int>{3}) {
      EXPECT_EQ(day.memberOrder(each.first, each.second, true), StatusEmptyArgument);
    }
  }
  EXPECT_EQ(
      day.memberOrder(std::vector<int>{made[0].id(), made[1].id()}, std::vector<int>{1, 1}, true),
      StatusEmptyArgument);
  EXPECT_EQ(members(day.id()), n5 + "," + n3 + "," + n7);
  EXPECT_EQ(node_->category("Kept").memberOrder(std::vector<int>{}, false), StatusNotAllowed);
}

// Membership cycles and rows a damaged file may hold end instead of recursing, and leave no
// row behind that names a deleted node.
TEST_F(Membership, CyclesAndDamagedRowsEnd) {
  Category plain = node_->category("Plain");
  ASSERT_EQ(node_->categoryDeclare("Links", plain, false, false), 0);
  Asset a = stored("photo", "a");
  Category x = at("Plain", "x");
  ASSERT_EQ(x.apply(a), 0);
  // lx and ly end up each other's only member; z holds itself, as an older file may.
  Category lx = at("Links", "lx"), ly = at("Links", "ly"), z = at("Links", "z");
  for (Category* each : {&lx, &ly, &z}) ASSERT_EQ(each->apply(x), 0);
  ASSERT_EQ(lx.apply(ly), 0);
  ASSERT_EQ(ly.apply(lx), 0);
  ASSERT_EQ(lx.unapply(x), 0);
  ASSERT_EQ(ly.unapply(x), 0);
  EXPECT_EQ(lx.population(), 1);
  rows("INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (900," + std::to_string(z.id()) + "," +
       std::to_string(z.id()) + ");");
  ASSERT_EQ(node_->close(), 0);
  ASSERT_EQ(node_->open(), 0);
  lx = at("Links", "lx");
  ly = at("Links", "ly");
  z = at("Links", "z");
  x = at("Plain", "x");
  EXPECT_EQ(z.population(), 2);

  // A category is not filed in itself, nor in one below it.
  EXPECT_EQ(z.apply(z), StatusEmptyArgument);
  Category inner = at("Links", "z/inner");
  ASSERT_EQ(inner.apply(x), 0);
  EXPECT_EQ(inner.apply(z), StatusEmptyArgument);
  ASSERT_EQ(inner.unapply(), 0);

  EXPECT_EQ(lx.remove(), 0);  // ly loses its last member and goes, and would take lx again
  EXPECT_EQ(z.remove(), 0);   // its own member
  EXPECT_EQ(nodeRows(), shell(mainFile(),
                              "SELECT vd_id,vd_cnod,vd_cpid FROM vd_cat_nde WHERE "
                              "vd_cnod='x';"));
  EXPECT_EQ(ly.population(), 0);
  EXPECT_EQ(danglingRows(), "");
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref WHERE vd_aid<>" + std::to_string(a.id()) + ";"),
            "0\n");

  // A membership row naming a category outside the tree blocks nothing.
  rows("INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (903," + std::to_string(a.id()) +
       ",77777);");
  a.element("title") = "changed";
  EXPECT_EQ(a.update(), 0);
  EXPECT_EQ(a.remove(), 0);
  EXPECT_EQ(rows("SELECT count() FROM vd_cat_xref;"), "0\n");
  EXPECT_EQ(nodeRows(), "");
}

TEST_F(Membership, CollectionTypeTargetsAndTheirDestruction) {
  Asset prototype = node_->asset("it's", true);
  ASSERT_EQ(node_->categoryDeclare("Tagged", prototype, false, false), 0);
  Asset mine = stored("it's", "m"), other = stored("photo", "p");
  Category c = at("Tagged", "c");
  EXPECT_EQ(c.apply(other), StatusEmptyArgument);
  std::vector<int> wrongTag{other.id()};
  EXPECT_EQ(c.apply(wrongTag), StatusEmptyArgument);
  std::vector<int> ids{mine.id(), other.id()};
  EXPECT_EQ(c.apply(ids), StatusPartlyApplied);
  std::vector<Asset*> list{&mine};
  EXPECT_EQ(c.apply(list), 0);
  EXPECT_EQ(c.population(), 1);
  // Every collection record belongs in a namespace of the shared table.
  Asset shared = node_->asset("vd_assets", true);
  ASSERT_EQ(node_->categoryDeclare("Any", shared, true, false), 0);
  Category any = at("Any", "x");
  std::vector<Asset*> both{&mine, &other};
  EXPECT_EQ(any.apply(both), 0);
  Category empty = at("Kept", "empty");
  ASSERT_EQ(empty.add(), 0);

  // The destruction of "it's" would leave c empty in a namespace that keeps none; nodes
  // already empty (Kept's) do not count, nor do those other records keep filled.
  EXPECT_EQ(node_->assetDestroy("it's", true), StatusEmptyCategories);
  ASSERT_EQ(c.unapply(), 0);
  EXPECT_EQ(node_->assetDestroy("it's", true), 0);
  EXPECT_EQ(any.population(), 1);  // this node read its populations again
  EXPECT_EQ(danglingRows(), "");
}

TEST_F(Membership, ListingsAndMembersModify) {
  Asset a = stored("photo", "a"), b = stored("photo", "b");
  ASSERT_EQ(at("Plain", "2008/05").apply(a), 0);
  ASSERT_EQ(at("Kept", "k").apply(a), 0);
  ASSERT_EQ(at("Kept", "k").apply(b), 0);

  Holdings h;
  EXPECT_EQ(a.categoryMembership(h, nullptr), 0);
  EXPECT_EQ(h.seen, (std::vector<std::pair<std::string, int>>{
                        {"//Plain/2008", 1}, {"//Plain/2008/05", 1}, {"//Kept/k", 1}}));
  EXPECT_EQ(a.categoryMembership(h, nullptr), StatusNotReady);
  h.reset();
  h.seen.clear();
  char kept[] = "Kept";
  EXPECT_EQ(node_->categoryMembership(std::vector<Asset*>{&a, &b}, h, kept), 0);
  EXPECT_EQ(h.seen, (std::vector<std::pair<std::string, int>>{{"//Kept/k", 2}}));
  EXPECT_FALSE(h.active());
  h.reset();
  char missing[] = "Missing";
  EXPECT_EQ(a.categoryMembership(h, missing), StatusNotFound);
  EXPECT_FALSE(h.active());
  h.reset();
  EXPECT_EQ(node_->categoryMembership(std::vector<Asset*>{}, h, nullptr), 0);

  // With membersModify, a record's update marks its categories modified.
  Category k = at("Kept", "k");
  ASSERT_EQ(k.membersModify(true), 0);
  k.modified() = Time(1000);
  ASSERT_EQ(k.update(), 0);
  const std::string row = "SELECT vd_xml FROM vd_cat_nde WHERE vd_id=" + std::to_string(k.id());
  const std::string before = query(row);
  a.element("title") = "again";
  ASSERT_EQ(a.update(), 0);
  EXPECT_NE(query(row), before);

  ASSERT_EQ(node_->close(), 0);
  h.reset();
  EXPECT_EQ(a.categoryMembership(h, missing), StatusNotOpen);
  EXPECT_FALSE(h.active());
}

TEST_F(Membership, DateTreeYearCheckAndLabelRepair) {
  Category root = node_->category("Plain");
  Asset a = stored("photo", "a"), b = stored("photo", "b"), c = stored("photo", "c");
  for (const char* year : {"3001", "-1", "12000", "999", "abc"})
    ASSERT_EQ(at("Plain", std::string(year) + "/01").apply(a), 0);
  EXPECT_EQ(node_->categoryVerifyAndFix(root, false, true), 0);
  EXPECT_EQ(node_->categoryVerifyAndFix(root, true, false), StatusNotAllowed);
  EXPECT_EQ(root.numChildren(), 5);
  EXPECT_EQ(node_->categoryVerifyAndFix(root, true, true), 0);
  EXPECT_EQ(root.numChildren(), 2);
  EXPECT_TRUE(root.isSubCategory("999"));
  EXPECT_TRUE(root.isSubCategory("abc"));
  ASSERT_EQ(root.unapply(), 0);

  // Months "5" and "05" under 2008, each with a day 17 and a user node "u" below it: after
  // the repair one 05/17/u holds what both did.
  Category held = at("Plain", "2008/5/17/u");
  ASSERT_EQ(held.apply(a), 0);
  ASSERT_EQ(at("Plain", "2008/05/17/u").apply(b), 0);
  ASSERT_EQ(at("Plain", "2008/05/17/u").apply(a), 0);
  ASSERT_EQ(at("Plain", "2008/05/7").apply(c), 0);
  ASSERT_EQ(at("Plain", "5/3").apply(c), 0);  // a year keeps its label; its month does not
  EXPECT_EQ(node_->fixDateCats(std::vector<int>{root.id()}), 0);

  EXPECT_EQ(danglingRows(), "");
  EXPECT_EQ(shell(mainFile(), "SELECT vd_cnod FROM vd_cat_nde ORDER BY vd_cnod;"),
            "03\n05\n07\n17\n2008\n5\nu\n");
  Category u = at("Plain", "2008/05/17/u");
  EXPECT_EQ(populations("Plain", "2008/05/17/u"), "2,2,3,3");  // u, 17, 05, 2008
  EXPECT_TRUE(u.contains(a));
  EXPECT_TRUE(u.contains(b));
  // Held handles stay usable: the survivor of each merge is the node that was renamed.
  EXPECT_EQ(held.fullLabel(), "//Plain/2008/05/17/u");
  EXPECT_EQ(held.unapply(b), 0);
  EXPECT_EQ(u.population(), 1);
  EXPECT_EQ(node_->fixDateCats(std::vector<int>{root.id()}), 0);  // nothing left to do

  // The survivor of a merge is the node with the smaller id, at every level, so that the
  // tree still loads whole: here the node with the one-digit label is the younger one. And a
  // day moved by a merge still meets its twin ("8" and "08" under the merged month).
  ASSERT_EQ(at("Plain", "2020/06/17/v").apply(a), 0);
  ASSERT_EQ(at("Plain", "2020/06/8").apply(a), 0);
  ASSERT_EQ(at("Plain", "2020/06/08").apply(b), 0);
  ASSERT_EQ(at("Plain", "2020/6/1").apply(c), 0);
  EXPECT_EQ(node_->fixDateCats(std::vector<int>{root.id()}), 0);
  ASSERT_EQ(node_->close(), 0);
  ASSERT_EQ(node_->open(), 0);
  root = node_->category("Plain");
  EXPECT_EQ(danglingRows(), "");
  EXPECT_TRUE(at("Plain", "2020/06/17").isSubCategory("v"));
  EXPECT_EQ(populations("Plain", "2020/06/08"), "2,3,3");
  EXPECT_EQ(populations("Plain", "2020/06/01"), "1,3,3");
  EXPECT_EQ(at("Plain", "2020").numChildren(), 1);
  EXPECT_EQ(at("Plain", "2020/06").numChildren(), 3);

  // Undone with an enclosing transaction, the repair's reload is undone too.
  ASSERT_EQ(at("Plain", "2008/4").apply(c), 0);
  ASSERT_EQ(node_->transactionBegin(), 0);
  EXPECT_EQ(node_->fixDateCats(std::vector<int>{root.id()}), 0);
  EXPECT_TRUE(at("Plain", "2008").isSubCategory("04"));
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_TRUE(at("Plain", "2008").isSubCategory("4"));
  EXPECT_FALSE(at("Plain", "2008").isSubCategory("04"));
}

TEST_F(Membership, AnotherProcessFilesAndUnapplies) {
  Asset a = stored("photo", "a"), b = stored("photo", "b");
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open cat " + dir_), "0");
  ASSERT_EQ(peer.call("catapply Plain 2008/05/17 " + std::to_string(a.id())), "0");
  ASSERT_EQ(peer.call("catapply Plain 2008/05/18 " + std::to_string(b.id())), "0");
  Category day17 = at("Plain", "2008/05/17");  // the other process's node
  EXPECT_EQ(populations("Plain", "2008/05/17"), "1,2,2");
  EXPECT_EQ(populations("Plain", "2008/05/18"), "1,2,2");
  ASSERT_EQ(peer.call("catunapply Plain 2008/05 " + std::to_string(a.id())), "0");
  EXPECT_EQ(populations("Plain", "2008/05/18"), "1,1,2");
  EXPECT_FALSE(at("Plain", "2008/05").isSubCategory("17"));
  EXPECT_EQ(day17.population(), 0);

  // The other process repairs labels under a handle held here: it follows.
  Category held = at("Plain", "2009/5/1");
  ASSERT_EQ(held.apply(a), 0);
  ASSERT_EQ(peer.call("fixdates Plain"), "0");
  EXPECT_EQ(held.fullLabel(), "//Plain/2009/05/01");
  EXPECT_EQ(held.population(), 1);
  EXPECT_EQ(held.unapply(a), 0);
  EXPECT_FALSE(at("Plain", "2009/05").isSubCategory("01"));
  EXPECT_EQ(peer.finish(), 0);
}

}  // namespace

// Category trees of one process: storing by navigation, labels and renames, the tree load
// with rows it must leave out, rollbacks that take back ids and labels, a failing destroy,
// the descendant SQL function, characterizeID, and navigation by date in three time zones.
#include <gtest/gtest.h>

#include "category/CategoryFixture.h"
#include "node/FaultInjection.h"

using namespace KESTRIN::Vendrithane;

namespace {

TEST_F(CategoryCatalog, AddStoresTransientAncestorsOnlyWhereEmptyCategoriesAreKept) {
  Category plain = at("Plain", "a/b");
  EXPECT_GT(plain.id(), 0);
  EXPECT_EQ(plain.add(), 0);
  EXPECT_EQ(plain.update(), 0);
  EXPECT_EQ(nodeRows(), "");
  EXPECT_FALSE(at("Plain").isSubCategory("a"));

  Category b = at("Kept", "a/b");
  Category a = b;
  a.ancestor(1);
  const int kept = node_->category("Kept").id();
  EXPECT_EQ(b.add(), 0);
  EXPECT_EQ(nodeRows(), std::to_string(a.id()) + "|a|" + std::to_string(kept) + "\n" +
                            std::to_string(b.id()) + "|b|" + std::to_string(a.id()) + "\n");
  EXPECT_EQ(b.add(), StatusConstraint);
  EXPECT_TRUE(at("Kept").isSubCategory("a"));
  EXPECT_EQ(at("Kept").numChildren(), 1);
  EXPECT_EQ(at("Kept", "a").id(), a.id());
}

TEST_F(CategoryCatalog, LabelsDepthsAndRenames) {
  ASSERT_EQ(declare("N/s", true), 0);
  Category c = node_->category("N/s");
  c.subCategory("a/b");
  c.subCategory(String("c"));
  EXPECT_EQ(c.depth(), 2);
  EXPECT_EQ(c.fullLabel(), "//N//s/a//b/c");
  EXPECT_EQ(c.label(0), "N/s");
  EXPECT_EQ(c.label(1), "a/b");
  EXPECT_EQ(vdtest::statusOf([&] { c.label(3); }), StatusOutOfBounds);
  EXPECT_EQ(vdtest::statusOf([&] { c.label(-1); }), StatusOutOfBounds);
  EXPECT_EQ(vdtest::statusOf([&] { c.ancestor(3); }), StatusOutOfBounds);
  EXPECT_EQ(c.fullLabel(), "//N//s/a//b/c");
  Category root = c;
  root.ancestor(0);
  EXPECT_EQ(root.fullLabel(), "//N//s");
  EXPECT_EQ(root.depth(), 0);

  Category x = at("Kept", "x"), y = at("Kept", "y");
  ASSERT_EQ(x.add(), 0);
  ASSERT_EQ(y.add(), 0);
  const std::string rows = nodeRows();
  EXPECT_EQ(y.label("x"), StatusConstraint);
  EXPECT_EQ(y.label("y"), 0);
  EXPECT_EQ(nodeRows(), rows);
  EXPECT_EQ(String(y.label()), "y");

  // A rolled-back rename leaves the cache as the rows are.
  ASSERT_EQ(node_->transactionBegin(), 0);
  EXPECT_EQ(y.label("w"), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(String(y.label()), "y");
  EXPECT_EQ(y.fullLabel(), "//Kept/y");
  EXPECT_TRUE(at("Kept").isSubCategory("y"));
  EXPECT_FALSE(at("Kept").isSubCategory("w"));
  EXPECT_EQ(nodeRows(), rows);
  EXPECT_EQ(y.label("z"), 0);
  EXPECT_EQ(shell(mainFile(),
                  "SELECT vd_cnod FROM vd_cat_nde WHERE vd_id=" + std::to_string(y.id()) + ";"),
            "z\n");
}

// Rows the tree cannot take are left out of it, and left as they are in the file.
TEST_F(CategoryCatalog, TreeLoadLeavesOutDuplicateNamespacesAndOrphans) {
  ASSERT_EQ(at("Kept", "c").add(), 0);
  const int kept = node_->category("Kept").id();
  ASSERT_EQ(node_->close(), 0);
  ASSERT_EQ(raw(mainFile(),
                "INSERT INTO vd_cat VALUES (9000,'',1,'Kept',0,'photo');"
                "INSERT INTO vd_cat_nde VALUES (9001,'lost',8999,'');"
                "INSERT INTO vd_cat_nde VALUES (9002,'under',9000,'');"),
            "");
  const std::string kRows =
      "SELECT vd_id,vd_croot FROM vd_cat ORDER BY rowid;"
      "SELECT vd_id,vd_cnod,vd_cpid FROM vd_cat_nde ORDER BY rowid;";
  const std::string before = shell(mainFile(), kRows);

  EXPECT_EQ(node_->open(), StatusRowsDropped);
  EXPECT_EQ(node_->version(), "6.0");  // open, with the warning
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Kept", "Plain"}));
  EXPECT_EQ(node_->category("Kept").id(), kept);
  EXPECT_TRUE(at("Kept").isSubCategory("c"));
  EXPECT_EQ(vdtest::statusOf([&] { node_->categoryLoad(9001); }), StatusNotFound);
  EXPECT_EQ(vdtest::statusOf([&] { node_->categoryLoad(9002); }), StatusNotFound);
  String name;
  EXPECT_EQ(node_->characterizeID(9001, name), ObjectNone);
  EXPECT_EQ(shell(mainFile(), kRows), before);
}

TEST_F(CategoryCatalog, RolledBackDeclarationCanBeMadeAgain) {
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(declare("Again", true), 0);
  Category undone = node_->category("Again");
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(undone.id(), -1);
  EXPECT_EQ(undone.update(), StatusNoId);
  EXPECT_EQ(undone.label("Other"), StatusNoId);
  EXPECT_FALSE(node_->categoryDeclared("Again"));
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Kept", "Plain"}));

  ASSERT_EQ(declare("Again", true), 0);
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Kept", "Plain", "Again"}));
  EXPECT_EQ(undone.id(), -1);
  Category again = at("Again", "x");
  EXPECT_EQ(again.add(), 0);
  EXPECT_EQ(at("Again").numChildren(), 1);
  EXPECT_EQ(shell(mainFile(), "SELECT vd_croot FROM vd_cat ORDER BY rowid;"),
            "Kept\nPlain\nAgain\n");
}

// Ids that navigation took in a transaction that was rolled back are handed out again: no
// handle may still report them.
TEST_F(CategoryCatalog, NavigationRolledBackSharesNoIdWithALaterRecord) {
  ASSERT_EQ(node_->transactionBegin(), 0);
  Category day = at("Plain", "2001/05");
  Category year = day;
  year.ancestor(1);
  EXPECT_GT(day.id(), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(day.id(), -1);
  EXPECT_EQ(year.id(), -1);
  EXPECT_EQ(day.add(), StatusNoId);
  EXPECT_EQ(day.remove(), StatusNoId);

  Asset photo = stored("photo", "after");
  String name;
  EXPECT_EQ(node_->characterizeID(photo.id(), name), ObjectAsset);
  EXPECT_EQ(name, "photo");
  Category fresh = at("Plain", "2001/05");
  EXPECT_GT(fresh.id(), 0);
  EXPECT_NE(fresh.id(), photo.id());
  fresh.ancestor(1);
  EXPECT_NE(fresh.id(), photo.id());
  EXPECT_EQ(nodeRows(), "");
}

TEST_F(CategoryCatalog, FailingDestroyOrCommitChangesNothing) {
  Category y = at("Kept", "x/y");
  ASSERT_EQ(y.add(), 0);
  const std::string rows = nodeRows();

  constexpr int kEngineIoError = 10;  // the engine's result for an I/O error
  node::setFaultForTesting(node::FaultPlan{node::FaultKind::Write, 1, kEngineIoError, true});
  const int destroyed = node_->categoryDestroy("Kept");
  node::clearFaultForTesting();
  EXPECT_NE(destroyed, 0);
  EXPECT_TRUE(node_->categoryDeclared("Kept"));
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Kept", "Plain"}));
  EXPECT_TRUE(at("Kept").isSubCategory("x"));
  EXPECT_TRUE(at("Kept", "x").isSubCategory("y"));
  EXPECT_EQ(nodeRows(), rows);

  // A commit that fails takes back the declaration, the store and the rename it held.
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(declare("Doomed", true), 0);
  Category doomed = node_->category("Doomed");
  Category z = at("Kept", "x/z");
  ASSERT_EQ(z.add(), 0);
  ASSERT_EQ(y.label("w"), 0);
  node::setFaultForTesting(node::FaultPlan{node::FaultKind::Sync, 1, kEngineIoError, true});
  const int committed = node_->transactionCommit();
  node::clearFaultForTesting();
  EXPECT_EQ(committed, StatusCommitFailed);
  EXPECT_FALSE(node_->categoryDeclared("Doomed"));
  EXPECT_EQ(doomed.id(), -1);
  EXPECT_FALSE(at("Kept", "x").isSubCategory("z"));
  EXPECT_EQ(y.fullLabel(), "//Kept/x/y");
  EXPECT_EQ(nodeRows(), rows);

  EXPECT_EQ(node_->categoryDestroy("Nowhere"), StatusNotFound);
  EXPECT_EQ(node_->categoryDestroy("Kept"), 0);
  EXPECT_EQ(nodeRows(), "");
  EXPECT_EQ(shell(mainFile(), "SELECT vd_croot FROM vd_cat;"), "Plain\n");
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Plain"}));
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(node_->categoryDestroy("Plain"), StatusNotOpen);
}

TEST_F(CategoryCatalog, DescendantFunctionAndCharacterizeId) {
  Category day = at("Kept", "2008/05/07");
  ASSERT_EQ(day.add(), 0);
  Category other = at("Plain", "y");
  ASSERT_EQ(declare("Other", true), 0);
  Category link = at("Other", "z");
  ASSERT_EQ(link.add(), 0);
  Category year = day, month = day;
  year.ancestor(1);
  month.ancestor(2);
  const std::string kSelect = "SELECT vd_cnod FROM vd_cat_nde WHERE vd_cat_decendent(vd_id,";
  EXPECT_EQ(query(kSelect + std::to_string(year.id()) + ") ORDER BY vd_id;"), "2008,05,07");
  EXPECT_EQ(query(kSelect + std::to_string(month.id()) + ") ORDER BY vd_id;"), "05,07");
  EXPECT_EQ(query(kSelect + std::to_string(day.id()) + ") ORDER BY vd_id;"), "07");
  EXPECT_EQ(query(kSelect + std::to_string(link.id()) + ") ORDER BY vd_id;"), "z");
  EXPECT_EQ(query(kSelect + std::to_string(at("Kept").id()) + ") ORDER BY vd_id;"), "2008,05,07");
  EXPECT_EQ(query(kSelect + "99999);"), "");
  const std::string y = std::to_string(year.id());
  EXPECT_EQ(query("SELECT vd_cat_decendent(99999," + y + ")+vd_cat_decendent(" + y +
                  ",99999)+vd_cat_decendent(" + std::to_string(other.id()) + "," + y + ");"),
            "0");

  String name;
  EXPECT_EQ(node_->characterizeID(day.id(), name), ObjectCategory);
  EXPECT_EQ(name, "Kept");
  EXPECT_EQ(node_->characterizeID(other.id(), name), ObjectCategory);  // transient, in memory
  EXPECT_EQ(name, "Plain");
  EXPECT_EQ(node_->characterizeID(at("Other").id(), name), ObjectCategory);
  EXPECT_EQ(name, "Other");
}

long long utcSeconds(int year, int month, int day, int hour, int minute) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return static_cast<long long>(timegm(&t));
}

TEST_F(CategoryCatalog, DateNavigationFollowsTheLocalTimeZone) {
  struct Case {
    long long time;
    const char* days[3];  // UTC, America/New_York, Pacific/Kiritimati
  };
  const Case cases[] = {
      {0, {"1970/01/01", "1969/12/31", "1969/12/31"}},
      {utcSeconds(2008, 2, 29, 12, 0), {"2008/02/29", "2008/02/29", "2008/03/01"}},
      {utcSeconds(2008, 4, 30, 10, 30), {"2008/04/30", "2008/04/30", "2008/05/01"}},
      {utcSeconds(2008, 12, 31, 23, 30), {"2008/12/31", "2008/12/31", "2009/01/01"}},
      {utcSeconds(2009, 1, 1, 4, 30), {"2009/01/01", "2008/12/31", "2009/01/01"}},
  };
  const char* zones[] = {"UTC", "America/New_York", "Pacific/Kiritimati"};
  for (int z = 0; z < 3; ++z) {
    ZoneScope zone(zones[z]);
    for (const Case& c : cases) {
      Category day = node_->category("Plain");
      day.subCategory(c.time);
      EXPECT_EQ(std::string(day.fullLabel()), std::string("//Plain/") + c.days[z])
          << zones[z] << " " << c.time;
      EXPECT_EQ(day.depth(), 3);
      Category again = node_->category("Plain");
      again.subCategory(Time(c.time));
      EXPECT_EQ(again.id(), day.id());
    }
  }
  ZoneScope zone("UTC");
  Category early = node_->category("Plain");
  early.subCategory(utcSeconds(999, 12, 31, 0, 0));
  EXPECT_EQ(early.fullLabel(), "//Plain/999/12/31");
  EXPECT_EQ(nodeRows(), "");
}

}  // namespace

TEST_F(CategoryCatalog, NamespaceRootsAndDeclarationForms) {
  Category root = node_->category("Kept");
  EXPECT_EQ(declare("Kept", false), StatusConstraint);
  EXPECT_EQ(node_->categoryDeclare("Links", root, false, false), 0);
  EXPECT_EQ(node_->category("Links").target(), "vd_cat_nde");
  EXPECT_EQ(root.target(), "photo");
  Category links = node_->category("Links");
  EXPECT_EQ(node_->categoryDeclare("Deeper", links, false, false), StatusUnsupported);
  EXPECT_EQ(root.nElements(), -1);
  EXPECT_EQ(root.population(), 0);
  EXPECT_EQ(vdtest::statusOf([&] { root.created(); }), StatusNotAllowed);
  EXPECT_EQ(vdtest::statusOf([&] { root.modified(); }), StatusNotAllowed);

  // A rolled-back flag change leaves the flag as the row has it.
  ASSERT_EQ(node_->transactionBegin(), 0);
  EXPECT_EQ(root.persistEmpty(false), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_TRUE(root.persistEmpty());
  EXPECT_EQ(root.membersModify(true), 0);
  EXPECT_EQ(shell(mainFile(), "SELECT vd_cper FROM vd_cat WHERE vd_croot='Kept';"), "3\n");

  // On a root, a rename writes the namespace row alone, and remove destroys the namespace.
  ASSERT_EQ(at("Kept", "x").add(), 0);
  const std::string rows = nodeRows();
  EXPECT_EQ(root.label("Renamed"), 0);
  EXPECT_EQ(root.nameSpace(), "Renamed");
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Renamed", "Plain", "Links"}));
  EXPECT_EQ(nodeRows(), rows);
  EXPECT_EQ(shell(mainFile(), "SELECT vd_croot FROM vd_cat ORDER BY rowid;"),
            "Renamed\nPlain\nLinks\n");
  EXPECT_EQ(root.remove(), 0);
  EXPECT_FALSE(node_->categoryDeclared("Renamed"));
  EXPECT_EQ(nodeRows(), "");
  EXPECT_EQ(vdtest::statusOf([&] { node_->category("Renamed"); }), StatusNotFound);
}

TEST_F(CategoryCatalog, ElementsRemovalAndReload) {
  Category b = at("Kept", "a/b");
  b.element("note") = "first & last";
  ASSERT_EQ(b.add(), 0);
  Category a = b;
  a.ancestor(1);
  EXPECT_GT(static_cast<long long>(b.created()), 0);
  const int ids[] = {a.id(), b.id()};
  ASSERT_EQ(raw(mainFile(), "INSERT INTO vd_cat_xref VALUES (500,7," + std::to_string(ids[0]) +
                                "),(501,7," + std::to_string(ids[1]) + ");"),
            "");
  ASSERT_EQ(node_->close(), 0);
  ASSERT_EQ(node_->open(), 0);
  Category loaded = node_->categoryLoad(ids[1]);
  EXPECT_EQ(String(loaded.element("note")), "first & last");
  EXPECT_EQ(loaded.fullLabel(), "//Kept/a/b");
  EXPECT_EQ(loaded.population(), 1);

  ASSERT_EQ(raw(mainFile(), "UPDATE vd_cat_nde SET vd_xml='<note>second</note>' WHERE vd_id=" +
                                std::to_string(ids[1]) + ";"),
            "");
  EXPECT_EQ(loaded.reload(), 0);
  EXPECT_EQ(String(loaded.element("note")), "second");

  Category top = node_->categoryLoad(ids[0]);
  EXPECT_EQ(top.remove(), 0);
  EXPECT_EQ(nodeRows(), "");
  EXPECT_EQ(shell(mainFile(), "SELECT count() FROM vd_cat_xref;"), "0\n");
  EXPECT_FALSE(at("Kept").isSubCategory("a"));
  Category transient = at("Kept", "t");
  EXPECT_EQ(transient.remove(), StatusNotInParent);
}

// A handle whose catalog was closed stays where it was.
TEST_F(CategoryCatalog, RebindingAfterTheCloseIsRefused) {
  Category c = at("Kept", "t");
  const int id = c.id();
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(vdtest::statusOf([&] { c.subCategory("u"); }), StatusNotAllowed);
  EXPECT_EQ(c.id(), id);
}

TEST_F(CategoryCatalog, RolledBackStoreAndRemoveLeaveTheCacheAsTheRowsAre) {
  Category quoted = at("Kept", "it's \"x\"; --");
  ASSERT_EQ(quoted.add(), 0);
  EXPECT_TRUE(at("Kept").isSubCategory("it's \"x\"; --"));
  const std::string rows = nodeRows();

  Category b = at("Kept", "a/b");
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(b.add(), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(nodeRows(), rows);
  EXPECT_FALSE(at("Kept").isSubCategory("a"));
  EXPECT_EQ(at("Kept").numChildren(), 1);
  Category again = at("Kept", "a/b");
  EXPECT_EQ(again.add(), 0);
  EXPECT_TRUE(at("Kept", "a").isSubCategory("b"));
  const std::string stored = nodeRows();

  Category a = at("Kept", "a");
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(a.remove(), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(nodeRows(), stored);
  EXPECT_TRUE(at("Kept").isSubCategory("a"));
  EXPECT_TRUE(at("Kept", "a").isSubCategory("b"));
  EXPECT_EQ(at("Kept", "a/b").id(), again.id());
  EXPECT_EQ(a.remove(), 0);
  EXPECT_EQ(nodeRows(), rows);
  EXPECT_EQ(at("Kept").numChildren(), 1);
}

// Catalog copies: identities and ids over copies in a row, records with their blobs,
// memberships, namespaces and categories into a foreign catalog with a handler's renames and
// refusals, failures after the files were attached, a destination open in another process,
// and two copies from one node on two threads. Rows are read by the stock shell.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "category/CategoryFixture.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Handler.h"

using namespace KESTRIN::Vendrithane;

namespace {

// Answers the copy's offers from a script and notes each offer as "name+" (exists) or
// "name-". A rename is used once; a declined name is refused every time it is offered.
class Offers : public Handler {
 public:
  bool copyNamespaceEvent(String& name, bool exists) override { return offer(name, exists); }
  bool copyCategoryEvent(Category const&, String& name, bool exists) override {
    return offer(name, exists);
  }
  bool offer(String& name, bool exists) {
    const std::string offered = name.buffer();
    asked += offered + (exists ? "+ " : "- ");
    String value;
    if (reads != nullptr) {
      EXPECT_EQ(reads->scalarLoad("k", value), StatusNotFound);
    }
    if (offered == throwOn) {
      if (throwStatus != StatusOk) throw throwStatus;
      throw std::runtime_error("host");
    }
    auto rename = renames.find(offered);
    if (rename != renames.end()) {
      name = rename->second.c_str();
      if (!repeat) renames.erase(rename);
      return true;
    }
    return declines.count(offered) == 0;
  }
  std::map<std::string, std::string> renames;
  std::set<std::string> declines;
  std::string throwOn, asked;
  Status throwStatus = StatusOk;  // thrown instead of a runtime_error
  bool repeat = false;            // renames are used again and again
  Node* reads = nullptr;          // a catalog each offer reads
};

class Copy : public CategoryCatalog {
 protected:
  // A stored photo with a title and a blob element "b" holding the title.
  Asset photo(Node& node, const std::string& title) {
    Asset a = node.asset("photo", true);
    a.element("title") = title.c_str();
    Blob blob;
    std::string bytes = "blob " + title;
    blob.set(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), Blob::LocationCatalog);
    a.element("b") = blob;
    EXPECT_EQ(a.store(), 0);
    return a;
  }
  std::string in(const std::string& name, const std::string& sql) {
    return shell(dir_ + name + ".vd", sql);
  }
  std::string blobsIn(const std::string& name, const std::string& sql) {
    return shell(dir_ + name + ".vm", sql);
  }
  // The titles of the members of the node labelled `label`, in member order.
  std::string memberTitles(const std::string& name, const std::string& label) {
    return in(name,
              "SELECT substr(a.vd_xml,instr(a.vd_xml,'<title')) FROM vd_cat_xref x JOIN "
              "vd_assets a ON a.vd_id=x.vd_aid WHERE x.vd_cid=(SELECT vd_id FROM vd_cat_nde "
              "WHERE vd_cnod='" +
                  label + "') ORDER BY x.vd_id;");
  }
  std::string registry(const std::string& name, const std::string& tag) {
    return in(name, "SELECT vd_value FROM vd_registry WHERE vd_tag='" + tag + "';");
  }
  std::string counter(const std::string& name) { return in(name, "SELECT vd_id FROM vd_id;"); }
  // The largest id of any row of the catalog.
  int largestId(const std::string& name) {
    return std::stoi(
        in(name,
           "SELECT max(m) FROM (SELECT max(vd_id) m FROM vd_assets UNION ALL SELECT max(vd_id) "
           "FROM vd_cat_xref UNION ALL SELECT max(vd_id) FROM vd_cat_nde UNION ALL SELECT "
           "max(vd_id) FROM vd_cat);"));
  }
  // The source's tree: x/y holds c then a (member order against id order), x holds c, a and
  // b, z holds b; Plain/p holds a. Kept's flag word gets bits the library does not name.
  void fileSource() {
    a_ = photo(*node_, "a");
    b_ = photo(*node_, "b");
    c_ = photo(*node_, "c");
    Category y = at("Kept", "x/y");
    ASSERT_EQ(y.apply(c_), 0);
    ASSERT_EQ(y.apply(a_), 0);
    ASSERT_EQ(at("Kept", "x").apply(b_), 0);
    ASSERT_EQ(at("Kept", "z").apply(b_), 0);
    ASSERT_EQ(at("Plain", "p").apply(a_), 0);
    ASSERT_EQ(query("UPDATE vd_cat SET vd_cper=7 WHERE vd_croot='Kept';"), "");
  }
  Asset a_, b_, c_;
  Filter all_;
};

TEST_F(Copy, IdentitiesDecideIdsOverCopiesInARow) {
  fileSource();
  Node copy("copy", dir_.c_str());
  // Checks that need no destination come first: nothing is created.
  Filter ordered;
  ordered.orderBy(SortAscending);
  EXPECT_EQ(node_->copy(copy, ordered, false, nullptr, IdMappingAutomatic), StatusBadFilter);
  EXPECT_EQ(node_->copy(copy, all_, false, nullptr, static_cast<IdMapping>(3)), StatusUnsupported);
  EXPECT_FALSE(present(dir_ + "copy.vd"));
  Node self("cat", dir_.c_str());
  EXPECT_EQ(node_->copy(self, all_, false, nullptr, IdMappingKeepIds), StatusWrongCatalog);
  ASSERT_EQ(node_->transactionBegin(), 0);
  EXPECT_EQ(node_->copy(copy, all_, false, nullptr, IdMappingAutomatic), StatusBusy);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_FALSE(present(dir_ + "copy.vd"));

  // A new destination: created, the source's identity, every id kept, closed again.
  const std::string ids = std::to_string(a_.id()) + "\n" + std::to_string(b_.id()) + "\n" +
                          std::to_string(c_.id()) + "\n";
  ASSERT_EQ(node_->copy(copy, all_, true, nullptr, IdMappingAutomatic), 0);
  EXPECT_EQ(copy.close(), StatusNotOpen);
  EXPECT_EQ(in("copy", "SELECT vd_id FROM vd_assets ORDER BY vd_id;"), ids);
  EXPECT_EQ(registry("copy", "vd_dbid"), registry("cat", "vd_dbid"));
  EXPECT_EQ(registry("copy", "vd_dbiscopy"), counter("copy"));
  EXPECT_EQ(in("copy", "SELECT vd_cper FROM vd_cat WHERE vd_croot='Kept';"), "7\n");
  EXPECT_EQ(blobsIn("copy", "SELECT count() FROM vd_blobs;"), "3\n");

  // Twice more, a new record and a new membership in between: ids kept each time, and
  // blobs and memberships already there are left alone.
  Asset d = photo(*node_, "d");
  ASSERT_EQ(at("Kept", "x/y").apply(d), 0);
  ASSERT_EQ(node_->copy(copy, all_, true, nullptr, IdMappingAutomatic), 0);
  ASSERT_EQ(node_->copy(copy, all_, true, nullptr, IdMappingAutomatic), 0);
  EXPECT_EQ(in("copy", "SELECT vd_id FROM vd_assets ORDER BY vd_id;"),
            ids + std::to_string(d.id()) + "\n");
  EXPECT_EQ(registry("copy", "vd_dbid"), registry("cat", "vd_dbid"));
  EXPECT_EQ(in("copy", "SELECT count() FROM vd_cat_xref;"),
            rows("SELECT count() FROM vd_cat_xref;"));
  EXPECT_EQ(memberTitles("copy", "y"), memberTitles("cat", "y"));
  EXPECT_EQ(blobsIn("copy", "SELECT count() FROM vd_blobs;"), "4\n");
  EXPECT_EQ(node_->copy(copy, all_, false, nullptr, IdMappingNewIds), StatusWrongCatalog);

  // The copy draws an id of its own: no longer a copy, so the next copy renumbers.
  ASSERT_EQ(copy.open(), 0);
  Asset own = photo(copy, "own");
  // A copy that fails leaves its identity as it was.
  Offers throwing;
  throwing.throwOn = "Kept";
  EXPECT_THROW(node_->copy(copy, all_, true, &throwing, IdMappingAutomatic), std::runtime_error);
  EXPECT_EQ(registry("copy", "vd_dbid"), registry("cat", "vd_dbid"));
  EXPECT_NE(registry("copy", "vd_dbiscopy"), "");
  ASSERT_EQ(node_->copy(copy, all_, false, nullptr, IdMappingAutomatic), 0);
  EXPECT_EQ(in("copy", "SELECT count(),count(DISTINCT vd_id) FROM vd_assets;"), "9|9\n");
  EXPECT_EQ(
      in("copy", "SELECT count() FROM vd_assets WHERE vd_id>" + std::to_string(own.id()) + ";"),
      "4\n");
  EXPECT_NE(registry("copy", "vd_dbid"), registry("cat", "vd_dbid"));
  EXPECT_EQ(registry("copy", "vd_dbiscopy"), "");
  EXPECT_EQ(node_->copy(copy, all_, false, nullptr, IdMappingKeepIds), StatusWrongCatalog);
  ASSERT_EQ(copy.close(), 0);

  // An own-table type named by an SQL keyword (its record stored before the copy below
  // draws ids of its own, which the source would hand out again).
  ASSERT_EQ(node_->assetDeclare("order", false), 0);
  Asset order = node_->asset("order", false), prototype = node_->asset("order", false);
  order.element("title") = "o";
  ASSERT_EQ(order.store(), 0);

  // Keep ids into a copy that drew ids meanwhile: its counter is not lowered.
  Node kept("kept", dir_.c_str());
  ASSERT_EQ(node_->copy(kept, all_, false, nullptr, IdMappingKeepIds), 0);
  EXPECT_EQ(registry("kept", "vd_dbiscopy"), "1\n");
  ASSERT_EQ(kept.open(), 0);
  const int drawn = photo(kept, "drawn").id();
  ASSERT_EQ(node_->copy(kept, all_, false, nullptr, IdMappingKeepIds), 0);
  EXPECT_GT(photo(kept, "after").id(), drawn);

  // The own-table type: the destination gets its table.
  Filter orders;
  orders.match(prototype);
  ASSERT_EQ(node_->copy(kept, orders, false, nullptr, IdMappingKeepIds), 0);
  EXPECT_EQ(in("kept", "SELECT vd_id FROM \"order\";"), std::to_string(order.id()) + "\n");
  EXPECT_TRUE(kept.assetDeclared("order", false));

  // Another process gives the copy an identity of its own: ids can no longer be kept.
  ASSERT_EQ(raw(dir_ + "kept.vd", "UPDATE vd_registry SET vd_value='own' WHERE vd_tag='vd_dbid';"),
            "");
  EXPECT_EQ(node_->copy(kept, orders, false, nullptr, IdMappingKeepIds), StatusWrongCatalog);
}

// Ids kept into a copy whose namespace and node were renamed there: the rows at the
// source's ids are their counterparts, never a second row at the same id; a row of another
// kind at such an id fails the copy.
TEST_F(Copy, KeptIdsFindCategoriesRenamedInTheCopy) {
  fileSource();
  Node copy("copy", dir_.c_str());
  ASSERT_EQ(node_->copy(copy, all_, true, nullptr, IdMappingAutomatic), 0);
  ASSERT_EQ(copy.open(), 0);
  Category y = copy.category("Kept");
  y.nameSpace("Other");
  y.subCategory("x");
  y.subCategory("y");
  ASSERT_EQ(y.label("w"), 0);
  ASSERT_EQ(copy.close(), 0);
  Asset d = photo(*node_, "d");
  ASSERT_EQ(at("Kept", "x/y").apply(d), 0);
  ASSERT_EQ(node_->copy(copy, all_, true, nullptr, IdMappingAutomatic), 0);
  EXPECT_EQ(in("copy", "SELECT group_concat(vd_croot) FROM vd_cat;"), "Other,Plain\n");
  EXPECT_EQ(in("copy", "SELECT count() FROM vd_cat_nde WHERE vd_cnod='y';"), "0\n");
  EXPECT_EQ(memberTitles("copy", "w"), memberTitles("cat", "y"));
  EXPECT_EQ(registry("copy", "vd_dbid"), registry("cat", "vd_dbid"));  // ids were kept
  // w moved to the namespace's root there (no id drawn): still y's counterpart.
  ASSERT_EQ(raw(dir_ + "copy.vd",
                "UPDATE vd_cat_nde SET vd_cpid=(SELECT vd_id FROM vd_cat WHERE "
                "vd_croot='Other') WHERE vd_cnod='w';"),
            "");
  Asset f = photo(*node_, "f");
  ASSERT_EQ(at("Kept", "x/y").apply(f), 0);
  ASSERT_EQ(node_->copy(copy, all_, true, nullptr, IdMappingAutomatic), 0);
  EXPECT_EQ(memberTitles("copy", "w"), memberTitles("cat", "y"));
  EXPECT_EQ(in("copy", "SELECT count() FROM vd_cat_nde;"), "4\n");  // none made

  ASSERT_EQ(raw(dir_ + "copy.vd", "UPDATE vd_cat SET vd_tgt='video' WHERE vd_croot='Other';"), "");
  Asset e = photo(*node_, "e");  // d is in the copy already: its new membership stays out
  ASSERT_EQ(at("Kept", "z").apply(e), 0);
  const std::string before = in("copy", "SELECT count() FROM vd_cat_xref;");
  EXPECT_EQ(node_->copy(copy, all_, true, nullptr, IdMappingAutomatic), StatusCategoryFailed);
  EXPECT_EQ(in("copy", "SELECT count() FROM vd_cat_xref;"), before);
}

// Ids kept into a copy that drew the same ids for rows of its own: a record it has at that id
// stays its own, with its blobs and memberships; an id another of its tables holds fails.
TEST_F(Copy, KeptIdsTheDestinationUsedStayItsOwn) {
  fileSource();
  Node kept("kept", dir_.c_str());
  ASSERT_EQ(node_->copy(kept, all_, true, nullptr, IdMappingKeepIds), 0);
  Asset s = photo(*node_, "s"), t = photo(*node_, "t");
  ASSERT_EQ(at("Kept", "x").apply(s), 0);
  ASSERT_EQ(at("Plain", "q").apply(c_), 0);  // a record copied before, filed anew
  ASSERT_EQ(kept.open(), 0);
  Asset k = photo(kept, "k");
  ASSERT_EQ(k.id(), s.id());
  Category x = kept.category("Kept");
  x.subCategory("x");
  ASSERT_EQ(x.apply(k), 0);
  ASSERT_EQ(kept.close(), 0);
  const std::string
      id = std::to_string(k.id()),
      rowsBefore =
          in("kept", "SELECT count() FROM vd_assets;SELECT group_concat(vd_id) FROM vd_cat_xref;");
  ASSERT_EQ(in("kept", "SELECT vd_id FROM vd_cat_xref WHERE vd_aid=" + id + ";"),
            std::to_string(t.id()) + "\n");
  EXPECT_EQ(node_->copy(kept, all_, true, nullptr, IdMappingKeepIds), StatusConstraint);
  EXPECT_EQ(in("kept",
               "SELECT count() FROM vd_assets;SELECT group_concat(vd_id) FROM "
               "vd_cat_xref;"),
            rowsBefore);
  ASSERT_EQ(raw(dir_ + "kept.vd", "DELETE FROM vd_cat_xref WHERE vd_aid=" + id + ";"), "");
  ASSERT_EQ(node_->copy(kept, all_, true, nullptr, IdMappingKeepIds), 0);
  EXPECT_EQ(in("kept", "SELECT count() FROM vd_assets WHERE vd_id=" + std::to_string(t.id()) +
                           " OR (vd_id=" + id + " AND vd_xml LIKE '%>k<%');"),
            "2\n");
  EXPECT_EQ(blobsIn("kept", "SELECT group_concat(vd_blob) FROM vd_blobs WHERE vd_aid=" + id + ";"),
            "blob k\n");
  EXPECT_EQ(in("kept", "SELECT count() FROM vd_cat_xref WHERE vd_aid=" + id + ";"), "0\n");
  // The same record as the destination's is no stranger: its new membership is added.
  EXPECT_EQ(in("kept",
               "SELECT count() FROM vd_cat_xref JOIN vd_cat_nde ON vd_cid=vd_cat_nde.vd_id "
               "WHERE vd_cnod='q' AND vd_aid=" +
                   std::to_string(c_.id()) + ";"),
            "1\n");
}

TEST_F(Copy, ForeignDestinationWithHandlerRenamesRefusalsAndFailures) {
  fileSource();
  Node other("other", dir_.c_str());
  ASSERT_EQ(other.create(), 0);
  ASSERT_EQ(other.open(), 0);
  Asset video = other.asset("video", true), mine = photo(other, "mine");
  ASSERT_EQ(other.categoryDeclare("Kept", video, true, false), 0);  // another target
  Asset prototype = other.asset("photo", true);
  ASSERT_EQ(other.categoryDeclare("Plain", prototype, true, false), 0);
  ASSERT_EQ(mine.element("title").index(0), 0);  // a promoted column, filled for new rows
  const std::string before = in("other", "SELECT count() FROM vd_cat_xref;") +
                             in("other", "SELECT count() FROM vd_assets;");
  const std::vector<String> spaces = other.categoryNamespaces();

  // Kept has another target there: never merged into; every failure after ATTACH leaves
  // nothing behind, in the files or in the open destination's tree, and detaches.
  EXPECT_EQ(node_->copy(other, all_, true, nullptr, IdMappingAutomatic), StatusUnsupported);
  Offers throwing;
  throwing.throwOn = "Kept";
  EXPECT_THROW(node_->copy(other, all_, true, &throwing, IdMappingAutomatic), std::runtime_error);
  throwing.throwStatus = StatusBusy;  // the host's, though a Status
  EXPECT_THROW(node_->copy(other, all_, true, &throwing, IdMappingAutomatic), Status);
  Offers bouncing;  // renames between two names the destination has, without end
  bouncing.renames = {{"Kept", "Plain"}, {"Plain", "Kept"}};
  bouncing.repeat = true;
  EXPECT_EQ(node_->copy(other, all_, true, &bouncing, IdMappingAutomatic), StatusUnsupported);
  EXPECT_EQ(in("other", "SELECT count() FROM vd_cat_xref;") +
                in("other", "SELECT count() FROM vd_assets;"),
            before);
  EXPECT_EQ(other.categoryNamespaces(), spaces);

  // Kept is renamed to an existing name (offered again), then to a new one; source Plain
  // and category z are refused, and z's members with them; w is merged into x.
  ASSERT_EQ(at("Kept", "w").apply(b_), 0);
  Offers offers;
  offers.renames = {{"Kept", "Plain"}, {"Plain", "Kept2"}, {"w", "x"}};
  offers.declines = {"Plain", "z"};
  Category held = other.category("Plain");
  ASSERT_EQ(node_->copy(other, all_, true, &offers, IdMappingAutomatic), 0);
  EXPECT_EQ(offers.asked, "Kept+ Plain+ x- y- z- Plain+ w- x+ ");
  EXPECT_EQ(other.categoryNamespaces(),
            (std::vector<String>{String("Kept"), String("Plain"), String("Kept2")}));
  EXPECT_EQ(in("other", "SELECT vd_cper FROM vd_cat WHERE vd_croot='Kept2';"), "7\n");
  EXPECT_EQ(memberTitles("other", "y"), memberTitles("cat", "y"));  // c before a
  EXPECT_EQ(memberTitles("other", "z"), "");
  EXPECT_NE(in("other", "SELECT vd_id FROM vd_assets ORDER BY vd_id;"),
            rows("SELECT vd_id FROM vd_assets ORDER BY vd_id;"));  // renumbered
  Category x = other.category("Kept2");
  x.subCategory("x");
  EXPECT_EQ(x.population(), 3);  // the open destination's tree, read again in place
  EXPECT_EQ(held.population(), 0);
  EXPECT_EQ(in("other", "SELECT count() FROM vd_assets WHERE title IS NOT NULL;"), "4\n");
  EXPECT_EQ(blobsIn("other", "SELECT count() FROM vd_blobs;"), "4\n");
  // The id counter is above every copied id.
  const int top = largestId("other");
  EXPECT_GT(photo(other, "next").id(), top);
}

TEST_F(Copy, NewIdTakenInTheDestinationFailsTheCopy) {
  fileSource();
  Node other("other", dir_.c_str());
  ASSERT_EQ(other.create(), 0);
  ASSERT_EQ(other.open(), 0);
  // Rows written behind the catalog's back at the ids its block would still hand out.
  const int drawn = photo(other, "mine").id();
  std::string taken = "INSERT INTO vd_assets (vd_id,vd_tag,vd_xml) VALUES ";
  for (int i = 1; i < 20; ++i)
    taken += (i > 1 ? ",(" : "(") + std::to_string(drawn + i) + ",'photo','<t>x</t>')";
  ASSERT_EQ(raw(dir_ + "other.vd", taken + ";"), "");
  EXPECT_EQ(node_->copy(other, all_, true, nullptr, IdMappingNewIds), StatusConstraint);
  EXPECT_EQ(in("other", "SELECT count() FROM vd_assets;"), "20\n");
  EXPECT_EQ(in("other", "SELECT count() FROM vd_cat_xref;"), "0\n");
  EXPECT_EQ(blobsIn("other", "SELECT count() FROM vd_blobs;"), "1\n");
  // So does a row of another table at an id of the range the copy would use.
  ASSERT_EQ(raw(dir_ + "other.vd", "DELETE FROM vd_assets WHERE vd_id>" + std::to_string(drawn) +
                                       ";INSERT INTO vd_cat (vd_id,vd_croot,vd_tgt) VALUES (" +
                                       std::to_string(drawn + 8) + ",'Stray','photo');"),
            "");
  EXPECT_EQ(node_->copy(other, all_, true, nullptr, IdMappingNewIds), StatusConstraint);
  EXPECT_EQ(in("other", "SELECT count() FROM vd_assets;SELECT count() FROM vd_cat_xref;"),
            "1\n0\n");
  // A counter that cannot be read fails the copy with its statement's status.
  ASSERT_EQ(other.close(), 0);
  ASSERT_EQ(raw(dir_ + "other.vd", "DELETE FROM vd_id;"), "");
  EXPECT_EQ(node_->copy(other, all_, true, nullptr, IdMappingNewIds), StatusNoResult);
  EXPECT_EQ(in("other", "SELECT count() FROM vd_assets;"), "1\n");
}

// A category's blob rows go with the category node the copy makes, and only there: never
// through the records' path, and never onto a destination category merged into.
TEST_F(Copy, CategoryBlobsGoWithNewNodesOnly) {
  fileSource();
  Node other("other", dir_.c_str());
  ASSERT_EQ(other.create(), 0);
  ASSERT_EQ(other.open(), 0);
  Asset prototype = other.asset("photo", true), mine = photo(other, "mine");
  ASSERT_EQ(other.categoryDeclare("Kept", prototype, true, false), 0);
  Category x = other.category("Kept");
  x.subCategory("x");
  ASSERT_EQ(x.apply(mine), 0);
  const std::string destX = std::to_string(x.id());
  ASSERT_EQ(raw(dir_ + "other.vm", "INSERT INTO vd_blobs VALUES (" + destX + ",'b','dest');"), "");
  for (const char* label : {"x", "y"}) {
    ASSERT_EQ(raw(dir_ + "cat.vm", "INSERT INTO vd_blobs VALUES (" +
                                       query(std::string("SELECT vd_id FROM vd_cat_nde WHERE "
                                                         "vd_cnod='") +
                                             label + "';") +
                                       ",'b','src " + label + "');"),
              "");
  }
  ASSERT_EQ(node_->copy(other, all_, true, nullptr, IdMappingNewIds), 0);
  EXPECT_EQ(blobsIn("other", "SELECT vd_blob FROM vd_blobs WHERE vd_aid=" + destX + ";"), "dest\n");
  EXPECT_EQ(in("other", "SELECT vd_id FROM vd_cat_nde WHERE vd_cnod='y';"),
            blobsIn("other", "SELECT vd_aid FROM vd_blobs WHERE vd_blob='src y';"));
  EXPECT_EQ(blobsIn("other", "SELECT count() FROM vd_blobs;"), "6\n");  // and 4 records'
}

TEST_F(Copy, HandlerReadsTheDestinationDuringALargeCopy) {
  fileSource();
  ASSERT_EQ(node_->transactionBegin(), 0);  // more record text than the engine's page cache
  const std::string pad(8000, 'p');
  for (int i = 0; i < 400; ++i) {
    Asset a = node_->asset("photo", true);
    a.element("pad") = pad.c_str();
    ASSERT_EQ(a.store(), 0);
  }
  ASSERT_EQ(node_->transactionCommit(), 0);
  Node other("other", dir_.c_str());
  ASSERT_EQ(other.create(), 0);
  ASSERT_EQ(other.open(), 0);
  Offers offers;
  offers.reads = &other;
  ASSERT_EQ(node_->copy(other, all_, true, &offers, IdMappingAutomatic), 0);
  EXPECT_EQ(offers.asked, "Kept- x- y- z- Plain- p- ");
}

TEST_F(Copy, AnotherProcessFollowsTheDestination) {
  fileSource();
  created("shared");
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open shared " + dir_), "0");
  ASSERT_NE(peer.call("store photo").compare(0, 6, "status"), 0);  // a block reserved there
  Node shared("shared", dir_.c_str());
  ASSERT_EQ(node_->copy(shared, all_, true, nullptr, IdMappingAutomatic), 0);
  const int copied = largestId("shared");
  const std::string next = peer.call("store photo");
  ASSERT_NE(next.compare(0, 6, "status"), 0) << next;
  EXPECT_GT(std::stoi(next), copied);
  // The peer's tree has the copied namespace and nodes.
  EXPECT_EQ(peer.call("catapply Kept x/y " + next), "0");
  EXPECT_EQ(in("shared",
               "SELECT count() FROM vd_cat_xref WHERE vd_cid=(SELECT vd_id FROM "
               "vd_cat_nde WHERE vd_cnod='y');"),
            "3\n");
  EXPECT_EQ(peer.finish(), 0);
}

using CopyThreads = Copy;

TEST_F(CopyThreads, TwoCopiesFromOneNodeShareNothing) {
  fileSource();
  Node first("first", dir_.c_str()), second("second", dir_.c_str());
  int results[2] = {-1, -1};
  std::thread one([&] { results[0] = node_->copy(first, all_, true, nullptr, IdMappingNewIds); });
  std::thread two([&] { results[1] = node_->copy(second, all_, true, nullptr, IdMappingNewIds); });
  one.join();
  two.join();
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  for (const char* name : {"first", "second"}) {
    EXPECT_EQ(in(name, "SELECT count() FROM vd_assets;"), "3\n") << name;
    EXPECT_EQ(memberTitles(name, "y"), memberTitles("cat", "y")) << name;
  }
}

}  // namespace

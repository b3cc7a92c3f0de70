// Another process changes the category trees while this one holds handles on them: each of
// this node's category calls first applies what the other process did, without a monitor.
#include <gtest/gtest.h>

#include "category/CategoryFixture.h"

using namespace KESTRIN::Vendrithane;

namespace {

TEST_F(CategoryCatalog, TreeFollowsAnotherProcessWithoutAMonitor) {
  Category root = node_->category("Kept");
  Category held = at("Kept", "held");  // transient, held across the other's changes
  Category twin = at("Kept", "t");     // transient, and then stored by the other process
  const int heldId = held.id();
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open cat " + dir_), "0");

  // A new namespace: a reload of the whole tree that keeps the transient entries held here.
  ASSERT_EQ(peer.call("catdeclare Other 1"), "0");
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Kept", "Plain", "Other"}));
  EXPECT_TRUE(node_->categoryDeclared("Other"));
  EXPECT_EQ(held.id(), heldId);
  EXPECT_EQ(held.fullLabel(), "//Kept/held");
  EXPECT_EQ(held.add(), 0);
  EXPECT_EQ(nodeRows(), std::to_string(heldId) + "|held|" + std::to_string(root.id()) + "\n");

  // A stored node, found by navigation in place of the transient twin of the same label.
  const std::string stored = peer.call("catstore Kept t");
  ASSERT_NE(stored.compare(0, 6, "status"), 0) << stored;
  EXPECT_TRUE(root.isSubCategory("t"));
  EXPECT_EQ(root.numChildren(), 2);
  Category t = at("Kept", "t");
  EXPECT_EQ(std::to_string(t.id()), stored);

  const std::string deep = peer.call("catstore Kept p/q");  // two rows new to this node
  ASSERT_NE(deep.compare(0, 6, "status"), 0) << deep;
  EXPECT_TRUE(at("Kept", "p").isSubCategory("q"));
  EXPECT_EQ(std::to_string(node_->categoryLoad(std::stoi(deep)).depth()), "2");
  EXPECT_EQ(root.numChildren(), 3);

  ASSERT_EQ(peer.call("catrename " + stored + " u"), "0");
  EXPECT_EQ(t.fullLabel(), "//Kept/u");
  EXPECT_EQ(String(t.label()), "u");
  EXPECT_TRUE(root.isSubCategory("u"));
  EXPECT_FALSE(root.isSubCategory("t"));

  ASSERT_EQ(peer.call("catremove " + stored), "0");
  EXPECT_FALSE(root.isSubCategory("u"));
  EXPECT_EQ(root.numChildren(), 2);
  EXPECT_EQ(vdtest::statusOf([&] { t.subCategory("v"); }), StatusNotAllowed);
  EXPECT_EQ(std::to_string(t.id()), stored);  // left where it was
  const std::string rows = nodeRows();
  EXPECT_EQ(rows.find("|u|"), std::string::npos);
  EXPECT_EQ(t.update(), StatusNotAllowed);  // a node gone elsewhere is not written back
  EXPECT_EQ(t.label("w"), StatusNotAllowed);
  EXPECT_EQ(nodeRows(), rows);

  // Namespace rows: the flag word, the name, and the namespace's end.
  Category orphan = at("Other", "child");  // held, transient
  ASSERT_EQ(peer.call("catkeep Kept 0"), "0");
  EXPECT_FALSE(root.persistEmpty());
  ASSERT_EQ(peer.call("catrename " + std::to_string(node_->category("Other").id()) + " Third"),
            "0");
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Kept", "Plain", "Third"}));
  EXPECT_FALSE(node_->categoryDeclared("Other"));
  EXPECT_EQ(orphan.fullLabel(), "//Third/child");
  ASSERT_EQ(peer.call("catremove " + std::to_string(node_->category("Third").id())), "0");
  EXPECT_EQ(namespaces(), (std::vector<std::string>{"Kept", "Plain"}));
  EXPECT_EQ(orphan.id(), -1);  // the reload found no parent for it
  EXPECT_EQ(orphan.add(), StatusNoId);
  EXPECT_EQ(peer.finish(), 0);
}

}  // namespace

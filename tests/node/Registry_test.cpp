// The registry of host values, the one-value query's "no records found" record, and
// characterizeID.
#include "TxnFixture.h"

using namespace KESTRIN::Vendrithane;

TEST_F(TxnTest, RegistryValuesKeepOneRowPerTagAndReadBackAsText) {
  Node node = opened("registry");
  EXPECT_EQ(node.scalarStore("answer", 42), 0);
  String text = "stale";
  EXPECT_EQ(node.scalarLoad("answer", text), 0);
  EXPECT_EQ(text, "42");
  int number = 0;
  EXPECT_EQ(node.scalarLoad("answer", number), 0);
  EXPECT_EQ(number, 42);

  EXPECT_EQ(node.scalarStore("answer", "it's <forty> two"), 0);
  EXPECT_EQ(node.scalarLoad("answer", text), 0);
  EXPECT_EQ(text, "it's <forty> two");
  EXPECT_EQ(raw(dir_ + "registry.vd", "SELECT count() FROM vd_registry WHERE vd_tag='answer';"),
            "1\n");
  EXPECT_EQ(node.scalarLoad("answer", number), 0);
  EXPECT_EQ(number, 0);  // not a number: reads as far as its digits go

  Time when(-86400LL * 365 * 80), read(0LL);
  EXPECT_EQ(node.scalarStore("when", when), 0);
  EXPECT_EQ(node.scalarLoad("when", read), 0);
  EXPECT_EQ(read, when);

  // Absent tags: 30, a String target emptied, others left alone.
  EXPECT_EQ(node.scalarLoad("missing", text), StatusNotFound);
  EXPECT_EQ(text, "");
  number = 7;
  EXPECT_EQ(node.scalarLoad("missing", number), StatusNotFound);
  EXPECT_EQ(number, 7);
  {
    node::ConnectionLease lease(impl(node)->pool());
    EXPECT_EQ(lease->lastError().status, StatusNoResult);
    EXPECT_EQ(lease->lastError().message, "no records found");
    EXPECT_EQ(lease->lastError().statement,
              "SELECT vd_value FROM vd_registry WHERE vd_tag='missing';");
  }

  EXPECT_EQ(node.scalarRemove("answer"), 0);
  EXPECT_EQ(node.scalarRemove("answer"), 0);  // absent: still 0

  // Stores join the thread's transaction.
  ASSERT_EQ(node.transactionBegin(), 0);
  EXPECT_EQ(node.scalarStore("draft", 1), 0);
  EXPECT_EQ(node.transactionRollback(), 0);
  EXPECT_EQ(node.scalarLoad("draft", text), StatusNotFound);

  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(node.scalarStore("x", 1), StatusNotOpen);
  EXPECT_EQ(node.scalarLoad("x", text), StatusNotOpen);
  EXPECT_EQ(node.scalarRemove("x"), StatusNotOpen);
}

TEST_F(TxnTest, CharacterizeTellsWhatAnIdNames) {
  Node node = opened("kinds");
  {
    node::ConnectionLease lease(impl(node)->pool());
    ASSERT_EQ(node::execute(*lease,
                            "INSERT INTO vd_assets VALUES (5, 'image', '');"
                            "CREATE TABLE photo (vd_id INTEGER, vd_xml TEXT);"
                            "INSERT INTO photo VALUES (7, '');"),
              0);
  }
  String name = "stale";
  EXPECT_EQ(node.characterizeID(5, name), ObjectAsset);
  EXPECT_EQ(name, "image");
  EXPECT_EQ(node.characterizeID(7, name), ObjectAsset);
  EXPECT_EQ(name, "photo");
  EXPECT_EQ(node.characterizeID(99, name), ObjectNone);
  EXPECT_EQ(name, "");
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(vdtest::statusOf([&] { node.characterizeID(5, name); }), StatusNotOpen);
}

TEST_F(TxnTest, ScalarNamesListEveryTagInKeyOrder) {
  Node node = opened("names");
  EXPECT_EQ(node.scalarStore("zeta", 1), 0);
  EXPECT_EQ(node.scalarStore("Alpha", 2), 0);
  EXPECT_EQ(node.scalarStore("beta", 3), 0);
  std::vector<String> names = node.scalarNames();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "Alpha");
  EXPECT_EQ(names[1], "beta");
  EXPECT_EQ(names[2], "vd_dbid");  // the catalog id is a registry key as well
  EXPECT_EQ(names[3], "zeta");
  {
    node::ConnectionLease lease(impl(node)->pool());
    ASSERT_EQ(node::execute(*lease, "DROP TABLE vd_registry;"), 0);
  }
  EXPECT_EQ(vdtest::statusOf([&] { node.scalarNames(); }), StatusEngineFailure);
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(vdtest::statusOf([&] { node.scalarNames(); }), StatusNotOpen);
}

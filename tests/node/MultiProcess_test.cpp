// One catalog used by two nodes of this process and a third in another process: the
// format probe, exists, version and check-only opens run beside a write transaction of
// another node of the same process and never drop that transaction's locks, so the other
// process stays unable to write until it ends.
#include "NodeFixture.h"
#include "node/FormatProbe.h"
#include "node/Statement.h"

using namespace KESTRIN::Vendrithane;

namespace {

// Runs `sql` on the calling thread's connection of the node.
int onConnection(Node& node, const char* sql) {
  node::ConnectionLease lease(NodeAccess::impl(node)->pool());
  return lease ? node::execute(*lease, sql) : StatusNotOpen;
}

// BEGIN IMMEDIATE without waiting, on a connection of this process's own: "ok" or "busy".
std::string tryWrite(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, node::catalogVfsName());
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc == SQLITE_OK ? "ok" : rc == SQLITE_BUSY ? "busy" : "rc " + std::to_string(rc);
}

}  // namespace

TEST_F(NodeTest, LookingAtACatalogNeverDropsAnotherNodesWriteLock) {
  Node a = created("shared");
  Node b("shared", dir_.c_str()), viewer("shared", dir_.c_str());
  std::string main = dir_ + "shared.vd";
  ASSERT_EQ(a.open(), 0);
  ASSERT_EQ(b.open(), 0);

  vdtest::PeerProcess peer("catalog_peer", {prefix_});
  ASSERT_EQ(peer.call("node c shared " + dir_), "ok");
  ASSERT_EQ(peer.call("node look shared " + dir_), "ok");
  ASSERT_EQ(peer.call("open c"), "0");
  EXPECT_EQ(peer.call("try-write " + main), "ok");

  // This process writes; looking at the catalog here keeps the peer out.
  ASSERT_EQ(onConnection(a, "BEGIN IMMEDIATE;"), 0);
  EXPECT_EQ(peer.call("try-write " + main), "busy");
  EXPECT_EQ(node::probeFormat(main), node::kCurrentFormat);
  EXPECT_EQ(b.exists(), 0);
  EXPECT_EQ(b.version(), "6.0");
  EXPECT_EQ(viewer.exists(), 0);
  EXPECT_EQ(viewer.open(true), 0);
  EXPECT_EQ(viewer.version(), "");
  EXPECT_EQ(peer.call("try-write " + main), "busy");
  EXPECT_EQ(peer.call("version c"), "v6.0");  // reading is still allowed
  ASSERT_EQ(onConnection(a, "COMMIT;"), 0);
  EXPECT_EQ(peer.call("try-write " + main), "ok");

  // The peer writes; its own looking keeps this process out.
  ASSERT_EQ(peer.call("begin c"), "0");
  EXPECT_EQ(tryWrite(main), "busy");
  EXPECT_EQ(peer.call("exists look"), "0");
  EXPECT_EQ(peer.call("check look"), "0");
  EXPECT_EQ(peer.call("version c"), "v6.0");
  EXPECT_EQ(tryWrite(main), "busy");
  EXPECT_EQ(a.version(), "6.0");
  ASSERT_EQ(peer.call("commit c"), "0");
  EXPECT_EQ(tryWrite(main), "ok");

  EXPECT_EQ(peer.call("close c"), "0");
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(a.close(), 0);
  EXPECT_EQ(b.close(), 0);
}

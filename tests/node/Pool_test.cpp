// The connection pool of an open catalog: per-thread reuse, the waiting sixth thread,
// refresh after a schema change, close waiting for calls in progress, and the statement
// helpers' statuses and error records.
#include <atomic>
#include <future>
#include <thread>

#include "NodeFixture.h"
#include "node/Statement.h"
#include "node/Statements.h"

using namespace KESTRIN::Vendrithane;
using node::ConnectionLease;
using std::chrono::milliseconds;

namespace {

node::ConnectionPool& poolOf(Node& node) {
  return NodeAccess::impl(node)->pool();
}

}  // namespace

TEST_F(NodeThreads, SixthThreadWaitsForAFreeConnection) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  std::promise<void> releaseOne, releaseRest;
  std::shared_future<void> rest = releaseRest.get_future().share();
  std::future<void> one = releaseOne.get_future();
  std::atomic<int> holding{0};
  std::vector<node::NodeConnection*> held(5);
  std::vector<std::thread> holders;
  for (int i = 0; i < 5; ++i) {
    holders.emplace_back([&, i] {
      ConnectionLease lease(poolOf(node));
      held[i] = lease.get();
      ++holding;
      if (i == 0)
        one.wait();
      else
        rest.wait();
    });
  }
  while (holding.load() < 5) std::this_thread::sleep_for(milliseconds(5));
  for (int i = 0; i < 5; ++i)
    for (int j = i + 1; j < 5; ++j) EXPECT_NE(held[i], held[j]);

  auto sixth = std::async(std::launch::async, [&] { return node.version(); });
  EXPECT_EQ(sixth.wait_for(milliseconds(600)), std::future_status::timeout);
  releaseOne.set_value();
  ASSERT_EQ(sixth.wait_for(milliseconds(3000)), std::future_status::ready);
  EXPECT_EQ(sixth.get(), "6.0");
  releaseRest.set_value();
  for (auto& t : holders) t.join();
  EXPECT_EQ(poolOf(node).slotsInUse(), 0);
  EXPECT_EQ(node.close(), 0);
}

TEST_F(NodeThreads, ConnectionsAreReusedPerThreadAndRefreshedAfterSchemaChanges) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  auto& pool = poolOf(node);
  ConnectionLease outer(pool);
  ASSERT_TRUE(outer);
  {
    ConnectionLease inner(pool);
    EXPECT_EQ(inner.get(), outer.get());
    EXPECT_EQ(outer->useCount(), 2);
  }
  EXPECT_EQ(outer->useCount(), 1);

  // A schema change through this connection: it stays current, the others reopen.
  ASSERT_EQ(node::execute(*outer, "CREATE TABLE pictures (vd_id INTEGER PRIMARY KEY, vd_xml);"), 0);
  pool.schemaChanged(*outer);
  EXPECT_EQ(outer->stamp(), pool.generation());
  std::thread([&] {
    ConnectionLease other(pool);
    ASSERT_TRUE(other);
    EXPECT_NE(other.get(), outer.get());
    EXPECT_EQ(other->stamp(), pool.generation());
    EXPECT_TRUE(node::tableExists(*other, "pictures"));
    String count;
    EXPECT_EQ(node::queryValue(*other, "SELECT count(*) FROM vd_blobs;", &count), 0);
    // Someone else's change is not applied under a connection in use.
    pool.schemaChanged(*other);
  }).join();
  ConnectionLease nested(pool);
  EXPECT_NE(outer->stamp(), pool.generation());
  EXPECT_EQ(node::execute(*nested, "SELECT 1;"), 0);
}

TEST_F(NodeThreads, CloseWaitsForCallsInProgress) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  std::promise<void> holding;
  std::atomic<int> late{-1};
  std::thread running([&] {
    ConnectionLease lease(poolOf(node));
    holding.set_value();
    std::this_thread::sleep_for(milliseconds(600));
    String value;
    EXPECT_EQ(node::queryValue(*lease, node::kSelectVersion, &value), 0);
    EXPECT_EQ(value, "6.0");
  });
  holding.get_future().wait();
  std::thread latecomer([&] {
    std::this_thread::sleep_for(milliseconds(200));
    late = node.version().isEmpty() ? 1 : 0;  // refused while the close waits
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(node.close(), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(400));
  running.join();
  latecomer.join();
  EXPECT_EQ(late.load(), 1);
}

TEST_F(NodeTest, StatementHelpersRecordFailures) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  ConnectionLease c(poolOf(node));
  String value("stale");
  std::string missing = node::sqlFormat(node::kRegistryLoad, "it's absent");
  EXPECT_EQ(missing, "SELECT vd_value FROM vd_registry WHERE vd_tag='it''s absent';");
  EXPECT_EQ(node::queryValue(*c, missing, &value), StatusNotFound);
  EXPECT_EQ(value, "");
  EXPECT_EQ(c->lastError().status, StatusNoResult);
  EXPECT_EQ(c->lastError().message, "no records found");
  EXPECT_EQ(c->lastError().statement, missing);

  int before = c->execCount();
  EXPECT_EQ(node::execute(*c, "SELEC nothing;"), StatusSqlError);
  EXPECT_EQ(c->execCount(), before + 1);
  EXPECT_EQ(c->lastError().status, StatusSqlError);
  EXPECT_EQ(c->lastError().engineCode, 1);
  EXPECT_EQ(c->lastError().execOrdinal, before + 1);
  EXPECT_EQ(c->lastError().statement, "SELEC nothing;");
  EXPECT_EQ(node::execute(*c, "INSERT INTO vd_registry VALUES ('vd_dbid', 'again');"),
            StatusConstraint);
  EXPECT_EQ(node::queryColumn(*c, "SELECT 1 UNION SELECT 2;").size(), 2u);
  EXPECT_EQ(vdtest::statusOf([&] { node::queryColumn(*c, "SELECT * FROM nowhere;"); }),
            StatusSqlError);
  EXPECT_TRUE(node::tableExists(*c, "vd_registry"));
  EXPECT_FALSE(node::tableExists(*c, "nowhere"));
}

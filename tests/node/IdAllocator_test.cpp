// The id allocator in one process: blocks of 20 from vd_id, reuse after a rollback, the
// rollback of a transaction that reserved a block, failing reservations, vd_nextid, and the
// give-back of unused ids when the catalog's last user closes it; the counter's statements
// are kept compiled.
#include <set>

#include "TxnFixture.h"

using namespace KESTRIN::Vendrithane;

TEST_F(TxnTest, IdsComeInBlocksOfTwentyFromTheCounter) {
  Node node = opened("blocks");
  node::ConnectionLease lease(impl(node)->pool());
  EXPECT_EQ(counter("blocks"), 2);
  EXPECT_EQ(drawId(node), 2);
  EXPECT_EQ(counter("blocks"), 22);
  int statements = lease->execCount();
  for (int expected = 3; expected <= 21; ++expected) EXPECT_EQ(drawId(node), expected);
  EXPECT_EQ(lease->execCount(), statements);  // no statement within the block
  EXPECT_EQ(counter("blocks"), 22);
  EXPECT_EQ(drawId(node), 22);  // the 21st id reserves the next block
  EXPECT_EQ(counter("blocks"), 42);
  // The counter's statements stay compiled on the connection, idle between reservations.
  int kept = 0;
  for (sqlite3_stmt* s = sqlite3_next_stmt(lease->db(), nullptr); s != nullptr;
       s = sqlite3_next_stmt(lease->db(), s)) {
    const std::string sql = sqlite3_sql(s);
    if (sql != "SELECT vd_id FROM vd_id;" && sql != "UPDATE vd_id SET vd_id=?1;") continue;
    ++kept;
    EXPECT_EQ(sqlite3_stmt_busy(s), 0) << sql;
  }
  EXPECT_EQ(kept, 2);

  // Ids drawn in a transaction come back after its rollback.
  ASSERT_EQ(node.transactionBegin(), 0);
  int first = drawId(node);
  EXPECT_EQ(drawId(node), first + 1);
  EXPECT_EQ(node.transactionRollback(), 0);
  EXPECT_EQ(drawId(node), first);
}

TEST_F(TxnTest, ARolledBackBlockIsNeverHandedOutTwice) {
  Node node = opened("reserve");
  for (int i = 0; i < 5; ++i) drawId(node);  // 2..6 used; block 2..21
  ASSERT_EQ(node.transactionBegin(), 0);
  for (int i = 0; i < 20; ++i) drawId(node);  // 7..26: reserves 22..41 inside
  EXPECT_EQ(node.transactionRollback(), 0);
  EXPECT_EQ(counter("reserve"), 22);

  std::set<int> ids;
  for (int i = 0; i < 60; ++i) {
    int id = drawId(node);
    EXPECT_GE(id, 7);
    EXPECT_TRUE(ids.insert(id).second) << "id " << id << " handed out twice";
  }
  EXPECT_EQ(*ids.rbegin(), 66);
  EXPECT_GE(counter("reserve"), 67);
}

TEST_F(TxnThreads, AFailingReservationEndsItsLevelAndHoldsNothing) {
  Node node = opened("refused");
  node::ConnectionLease lease(impl(node)->pool());
  ASSERT_EQ(node::execute(*lease,
                          "CREATE TRIGGER no_ids BEFORE UPDATE ON vd_id "
                          "BEGIN SELECT RAISE(ABORT, 'no more ids'); END;"),
            0);

  // Inside a transaction: the level is rolled back and the transaction doomed.
  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node.scalarStore("k", "v"), 0);
  EXPECT_EQ(vdtest::statusOf([&] { node::nextId(*lease); }), StatusEngineFailure);
  EXPECT_EQ(lease->lastError().status, StatusEngineFailure);
  EXPECT_EQ(lease->lastError().statement, "UPDATE vd_id SET vd_id=22;");
  EXPECT_EQ(lease->depth.load(), 1);
  EXPECT_EQ(node.transactionState(), StatusMarkedForRollback);
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(committed("refused", "k"), "");
  EXPECT_TRUE(otherThreadTransacts(node));

  // On its own: nothing is left open or held either.
  EXPECT_EQ(vdtest::statusOf([&] { node::nextId(*lease); }), StatusEngineFailure);
  EXPECT_EQ(node.transactionState(), StatusNoTransaction);
  EXPECT_EQ(counter("refused"), 2);
  EXPECT_TRUE(otherThreadTransacts(node));

  // A refused write is 81 (kept in the record as 41); a refused reservation throws 81.
  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node::execute(*lease, "DROP TRIGGER no_ids; PRAGMA query_only=1;"), 0);
  EXPECT_EQ(node.scalarStore("k", "v"), StatusReadOnly);
  EXPECT_EQ(lease->lastError().status, StatusConstraint);
  EXPECT_EQ(vdtest::statusOf([&] { node::nextId(*lease); }), StatusReadOnly);
  EXPECT_EQ(node.transactionCommit(), 0);
  ASSERT_EQ(node::execute(*lease, "PRAGMA query_only=0;"), 0);

  // An unreadable counter gives -1.
  ASSERT_EQ(node::execute(*lease, "DROP TABLE vd_id;"), 0);
  EXPECT_EQ(node::nextId(*lease), -1);
  EXPECT_TRUE(otherThreadTransacts(node));
}

TEST_F(TxnTest, TheSqlFunctionDrawsFromTheSameBlock) {
  Node node = opened("sqlfn");
  node::ConnectionLease lease(impl(node)->pool());
  EXPECT_EQ(drawId(node), 2);
  String id;
  ASSERT_EQ(node::queryValue(*lease, "SELECT vd_nextid();", &id), 0);
  EXPECT_EQ(id, "3");
  EXPECT_EQ(drawId(node), 4);
}

TEST_F(TxnTest, ClosingGivesBackOnlyThePartlyUsedBlockOfThisMachine) {
  // Never drew an id: the counter is left alone (a literal give-back would store -1).
  Node node = opened("giveback");
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(counter("giveback"), 2);

  ASSERT_EQ(node.open(), 0);
  for (int i = 0; i < 3; ++i) drawId(node);  // 2, 3, 4
  EXPECT_EQ(counter("giveback"), 22);
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(counter("giveback"), 5);

  // Reopened without drawing: the counter stays where the last user left it.
  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(counter("giveback"), 5);

  // Only the last user of the catalog gives back.
  Node other("giveback", dir_.c_str());
  ASSERT_EQ(node.open(), 0);
  ASSERT_EQ(other.open(), 0);
  EXPECT_EQ(drawId(node), 5);
  EXPECT_EQ(drawId(other), 6);
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(counter("giveback"), 25);
  EXPECT_EQ(drawId(other), 7);
  EXPECT_EQ(other.close(), 0);
  EXPECT_EQ(counter("giveback"), 8);
}

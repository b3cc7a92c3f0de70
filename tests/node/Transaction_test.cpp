// Transactions of one process: nesting and the states it reports, the thread set against
// other threads and close(), failing BEGIN and COMMIT, the undo journal and the change
// events published at the outermost commit.
#include <sqlite3.h>

#include <thread>

#include "TxnFixture.h"

using namespace KESTRIN::Vendrithane;

TEST_F(TxnTest, NestedLevelsWriteNothingBeforeTheOutermostCommit) {
  Node node = opened("nest");
  EXPECT_EQ(node.transactionCommit(), StatusNoTransaction);
  EXPECT_EQ(node.transactionRollback(), StatusNoTransaction);
  EXPECT_EQ(node.transactionState(), StatusNoTransaction);

  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node.scalarStore("colour", "red"), 0);
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(node.transactionState(), StatusInTransaction);
  EXPECT_EQ(committed("nest", "colour"), "");
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(node.transactionState(), StatusNoTransaction);
  EXPECT_EQ(committed("nest", "colour"), "red");

  // A rolled-back inner level dooms the whole transaction; its last commit still gives 0.
  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node.scalarStore("colour", "blue"), 0);
  ASSERT_EQ(node.transactionBegin(), 0);
  EXPECT_EQ(node.transactionRollback(), 0);
  EXPECT_EQ(node.transactionState(), StatusMarkedForRollback);
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(node.transactionState(), StatusNoTransaction);
  EXPECT_EQ(committed("nest", "colour"), "red");
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(node.transactionState(), StatusNotOpen);
}

TEST_F(TxnThreads, OtherThreadsAreKeptOutUntilTheOutermostEnd) {
  Node node = opened("threads");
  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node.transactionBegin(), 0);

  auto started = std::chrono::steady_clock::now();
  int noBlock =
      std::async(std::launch::async, [&] { return node.transactionBeginNoBlock(); }).get();
  EXPECT_EQ(noBlock, StatusBusy);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));

  // After a nested commit the transaction is still open: others are still turned away.
  EXPECT_EQ(node.transactionCommit(), 0);
  auto probe = std::async(std::launch::async, [&] {
    int begun = node.transactionBeginNoBlock();
    if (begun == 0) node.transactionCommit();
    return begun;
  });
  bool quick = probe.wait_for(std::chrono::milliseconds(500)) == std::future_status::ready;
  if (!quick) {
    ASSERT_EQ(node.transactionCommit(), 0);  // let it in, then fail
  }
  ASSERT_TRUE(quick);
  EXPECT_EQ(probe.get(), StatusBusy);
  EXPECT_EQ(node.close(), StatusBusy);

  // A blocking begin waits for the outermost end.
  auto waiting = std::async(std::launch::async, [&] {
    int begun = node.transactionBegin();
    int state = node.transactionState();
    int ended = node.transactionCommit();
    return std::to_string(begun) + " " + std::to_string(state) + " " + std::to_string(ended);
  });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(waiting.get(), "0 57 0");

  EXPECT_EQ(std::async(std::launch::async,
                       [&] {
                         int begun = node.transactionBeginNoBlock();
                         return begun == 0 ? node.transactionCommit() : begun;
                       })
                .get(),
            0);
  EXPECT_EQ(node.close(), 0);
}

TEST_F(TxnThreads, AFailedBeginHoldsNothing) {
  Node node = created("failbegin");
  EXPECT_EQ(node.transactionBegin(), StatusNotOpen);
  EXPECT_EQ(node.transactionBeginNoBlock(), StatusNotOpen);
  ASSERT_EQ(node.open(), 0);
  {
    // The engine already has a transaction on this thread's connection: BEGIN fails.
    node::ConnectionLease lease(impl(node)->pool());
    ASSERT_EQ(node::execute(*lease, "BEGIN;"), 0);
    EXPECT_EQ(node.transactionBegin(), StatusBeginFailed);
    EXPECT_EQ(node.transactionState(), StatusNoTransaction);
    EXPECT_EQ(lease->useCount(), 1);
    ASSERT_EQ(node::execute(*lease, "ROLLBACK;"), 0);
  }
  EXPECT_TRUE(otherThreadTransacts(node));
  // Neither the failed begins nor the closed node left this thread in the thread set.
  EXPECT_EQ(std::async(std::launch::async,
                       [&] {
                         int begun = node.transactionBeginNoBlock();
                         return begun == 0 ? node.transactionCommit() : begun;
                       })
                .get(),
            0);
  EXPECT_EQ(node.close(), 0);
}

TEST_F(TxnThreads, AFailedCommitUndoesTheTransactionAndReleasesTheCatalog) {
  Node node = opened("failcommit");
  node::ConnectionLease lease(impl(node)->pool());  // the same connection throughout
  ASSERT_EQ(node::execute(*lease,
                          "CREATE TABLE p (id INTEGER PRIMARY KEY);"
                          "CREATE TABLE c (pid INTEGER REFERENCES p(id) DEFERRABLE INITIALLY "
                          "DEFERRED);"
                          "PRAGMA foreign_keys=ON;"),
            0);
  ASSERT_EQ(node.transactionBegin(), 0);
  EXPECT_EQ(drawId(node), 2);  // reserves the first block inside the transaction
  ASSERT_EQ(node.scalarStore("k", "v"), 0);
  bool undone = false;
  node::journalUndo(*lease, [&] { undone = true; });
  ASSERT_EQ(node::execute(*lease, "INSERT INTO c VALUES (99);"), 0);  // fails at COMMIT

  EXPECT_EQ(node.transactionCommit(), StatusCommitFailed);
  EXPECT_EQ(node.transactionState(), StatusNoTransaction);
  EXPECT_NE(sqlite3_get_autocommit(lease->db()), 0);  // the engine's transaction is gone
  EXPECT_TRUE(undone);
  EXPECT_EQ(lease->useCount(), 1);  // the transaction's extra use was given back
  EXPECT_EQ(committed("failcommit", "k"), "");
  EXPECT_EQ(counter("failcommit"), 2);
  EXPECT_EQ(drawId(node), 2);  // the block went with the transaction
  EXPECT_EQ(counter("failcommit"), 22);
  EXPECT_TRUE(otherThreadTransacts(node));
}

TEST_F(TxnTest, TheUndoJournalRunsNewestFirstOnRollbackOnly) {
  Node node = opened("journal");
  node::ConnectionLease lease(impl(node)->pool());
  std::string trail;
  node::journalUndo(*lease, [&] { trail += "outside"; });  // no transaction: dropped

  ASSERT_EQ(node.transactionBegin(), 0);
  node::journalUndo(*lease, [&] { trail += "1"; });
  {
    node::TransactionScope inner(*lease);
    node::journalUndo(*lease, [&] { trail += "2"; });
    node::journalUndo(*lease, [] { throw StatusCorrupt; });  // passed over
    node::journalUndo(*lease, [&] { trail += "3"; });
  }  // not committed: rolls back its level
  EXPECT_EQ(node.transactionState(), StatusMarkedForRollback);
  EXPECT_EQ(trail, "");
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(trail, "321");

  trail.clear();
  ASSERT_EQ(node.transactionBegin(), 0);
  node::journalUndo(*lease, [&] { trail += "x"; });
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(trail, "");
}

TEST_F(TxnTest, ChangeEventsArePublishedAtTheOutermostCommitOnly) {
  Node writer = opened("events");
  Node reader("events", dir_.c_str());
  ASSERT_EQ(reader.open(), 0);
  monitor::EventQueue& ring = impl(reader)->queue();
  auto next = [&ring] {
    int id = 0;
    int kind = ring.readNext(&id);
    return std::to_string(kind) + ":" + std::to_string(id);
  };
  node::ConnectionLease lease(impl(writer)->pool());

  ASSERT_EQ(writer.transactionBegin(), 0);
  node::queueEvent(*lease, 6, 10);
  ASSERT_EQ(writer.transactionBegin(), 0);
  node::queueEvent(*lease, 7, 11);
  node::queueEvent(*lease, 9, 12);  // no such kind
  EXPECT_EQ(writer.transactionCommit(), 0);
  EXPECT_EQ(next(), "8:0");
  EXPECT_EQ(writer.transactionCommit(), 0);
  EXPECT_EQ(next(), "6:10");
  EXPECT_EQ(next(), "7:11");
  EXPECT_EQ(next(), "8:0");

  // Kind 1 replaces what came before it and ends the collection.
  ASSERT_EQ(writer.transactionBegin(), 0);
  node::queueEvent(*lease, 3, 20);
  node::queueEvent(*lease, 1, 21);
  node::queueEvent(*lease, 6, 22);
  EXPECT_EQ(writer.transactionCommit(), 0);
  EXPECT_EQ(next(), "1:-1");
  EXPECT_EQ(next(), "8:0");

  // A rollback publishes nothing, and the next transaction starts with an empty list.
  ASSERT_EQ(writer.transactionBegin(), 0);
  node::queueEvent(*lease, 6, 30);
  EXPECT_EQ(writer.transactionRollback(), 0);
  ASSERT_EQ(writer.transactionBegin(), 0);
  node::queueEvent(*lease, 7, 31);
  EXPECT_EQ(writer.transactionCommit(), 0);
  EXPECT_EQ(next(), "7:31");
  EXPECT_EQ(next(), "8:0");

  EXPECT_EQ(reader.close(), 0);
}

TEST_F(TxnThreads, ClosingTheLastHandleInsideATransactionReleasesTheCatalog) {
  Node other = created("lasthandle");
  ASSERT_EQ(other.open(), 0);
  {
    Node doomed("lasthandle", dir_.c_str());
    ASSERT_EQ(doomed.open(), 0);
    ASSERT_EQ(doomed.transactionBegin(), 0);
    ASSERT_EQ(doomed.scalarStore("k", "lost"), 0);
  }  // rolled back, the catalog mutex released
  EXPECT_TRUE(otherThreadTransacts(other));
  EXPECT_EQ(committed("lasthandle", "k"), "");
  EXPECT_EQ(other.close(), 0);
}

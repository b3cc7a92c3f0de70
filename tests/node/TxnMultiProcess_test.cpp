// Transactions and ids across processes: two processes drawing ids at once share one block
// and never draw the same id, a second process's transaction waits for the first, and a
// process killed inside a transaction that reserved a block leaves no id to be drawn twice.
#include <set>
#include <sstream>

#include "TxnFixture.h"

using namespace KESTRIN::Vendrithane;

namespace {

std::vector<int> idsOf(const std::string& line) {
  std::vector<int> ids;
  std::istringstream in(line);
  for (int id; in >> id;) ids.push_back(id);
  return ids;
}

}  // namespace

TEST_F(TxnTest, ProcessesDrawingAtOnceShareOneSequence) {
  created("shared");
  vdtest::PeerProcess a("txn_peer", {prefix_}), b("txn_peer", {prefix_});
  ASSERT_EQ(a.call("open shared " + dir_), "0");
  ASSERT_EQ(b.call("open shared " + dir_), "0");
  a.send("rounds 15 7");
  b.send("rounds 15 7");
  std::vector<int> fromA = idsOf(a.readLine(30000)), fromB = idsOf(b.readLine(30000));
  ASSERT_EQ(fromA.size(), 105u);
  ASSERT_EQ(fromB.size(), 105u);
  std::set<int> all(fromA.begin(), fromA.end());
  all.insert(fromB.begin(), fromB.end());
  EXPECT_EQ(all.size(), 210u);  // disjoint
  EXPECT_EQ(*all.begin(), 2);
  EXPECT_EQ(*all.rbegin(), 211);  // and without gaps: both drew from one block at a time
  EXPECT_EQ(a.call("close"), "0");
  EXPECT_EQ(b.call("close"), "0");
  EXPECT_EQ(counter("shared"), 212);  // the last one gave the unused rest back
  EXPECT_EQ(a.finish(), 0);
  EXPECT_EQ(b.finish(), 0);
}

TEST_F(TxnTest, ASecondProcessWaitsForTheFirstTransaction) {
  Node node = opened("wait");
  vdtest::PeerProcess peer("txn_peer", {prefix_});
  ASSERT_EQ(peer.call("open wait " + dir_), "0");
  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node.scalarStore("first", 1), 0);
  peer.send("begin");
  EXPECT_EQ(peer.readLine(500), "<timeout>");  // waiting, neither failing nor busy
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(peer.readLine(), "0");
  EXPECT_EQ(peer.call("state"), "57");
  EXPECT_EQ(peer.call("ids 1"), "2");
  EXPECT_EQ(peer.call("commit"), "0");
  EXPECT_EQ(drawId(node), 3);
  EXPECT_EQ(peer.call("close"), "0");
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(node.close(), 0);
}

TEST_F(TxnTest, AProcessKilledInsideATransactionLeavesNoIdToBeDrawnTwice) {
  Node node = opened("killed");
  std::set<int> used;
  ASSERT_EQ(node.transactionBegin(), 0);
  for (int i = 0; i < 5; ++i) used.insert(drawId(node));  // 2..6, block 2..21
  ASSERT_EQ(node.transactionCommit(), 0);
  {
    vdtest::PeerProcess peer("txn_peer", {prefix_});
    ASSERT_EQ(peer.call("open killed " + dir_), "0");
    ASSERT_EQ(peer.call("begin"), "0");
    ASSERT_EQ(idsOf(peer.call("ids 20")).size(), 20u);  // 7..26, reserving 22..41 inside
    peer.killNow();
  }
  // The dead process's transaction is undone by its journal; its block must not survive
  // in the shared record.
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(node.transactionBegin(), 0);
    for (int i = 0; i < 20; ++i) {
      int id = drawId(node);
      EXPECT_GT(id, 6);
      EXPECT_TRUE(used.insert(id).second) << "id " << id << " drawn twice";
    }
    ASSERT_EQ(node.transactionCommit(), 0);
  }
  EXPECT_GE(counter("killed"), *used.rbegin() + 1);
  EXPECT_EQ(node.close(), 0);
}

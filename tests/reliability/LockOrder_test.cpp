// The lock order across processes: a holder of the system mutex never waits for a catalog,
// so a transaction may reach the system mutex (exists, mode, opening another catalog) while
// other processes open and close its catalog, and a close waiting for the per-catalog mutex
// keeps nobody else waiting. Each step runs under a watchdog: a deadlock fails the test.
#include <chrono>
#include <future>
#include <thread>

#include "reliability/ReliabilityFixture.h"

using namespace KESTRIN::Vendrithane;

namespace {

class LockOrderThreads : public ReliabilityTest {};

TEST_F(LockOrderThreads, TransactionsReachTheSystemMutexWhileAnotherProcessOpensAndCloses) {
  ASSERT_EQ(Node("first", dir_.c_str()).create(), 0);
  ASSERT_EQ(Node("second", dir_.c_str()).create(), 0);
  Node node("first", dir_.c_str());
  ASSERT_EQ(node.open(), 0);
  vdtest::PeerProcess cycler("txn_peer", {prefix_});
  cycler.send("cycle first " + dir_ + " 60");
  std::string cycled = "<timeout>";
  int rounds = 0;
  for (; rounds < 400 && (cycled == "<timeout>" || rounds < 10); ++rounds) {
    withinTime(10000, "a transaction calling exists, mode and another catalog's open", [&] {
      EXPECT_EQ(node.transactionBegin(), 0);
      EXPECT_EQ(node.scalarStore("round", rounds), 0);
      EXPECT_EQ(node.exists(), 0);
      EXPECT_EQ(node.mode(false), 0);
      Node second("second", dir_.c_str());
      EXPECT_EQ(second.open(), 0);
      EXPECT_EQ(second.close(), 0);
      EXPECT_EQ(node.transactionCommit(), 0);
      return 0;
    });
    if (cycled == "<timeout>") cycled = cycler.readLine(1);
  }
  if (cycled == "<timeout>") cycled = cycler.readLine(30000);
  EXPECT_EQ(cycled, "60");  // every open and close of the other process succeeded
  int last = -1;
  EXPECT_EQ(node.scalarLoad("round", last), 0);
  EXPECT_EQ(last, rounds - 1);
  EXPECT_EQ(cycler.finish(), 0);
  EXPECT_EQ(node.close(), 0);
}

// Another process, and another thread of this one, hold the per-catalog mutex inside a
// transaction: a close of this process never waits for it (a live holder uses the catalog,
// so the close has no ids to give back), and neither do this process's other calls nor the
// holder's own calls to the system mutex.
TEST_F(LockOrderThreads, ACloseNeverWaitsForAnotherTransaction) {
  ASSERT_EQ(Node("first", dir_.c_str()).create(), 0);
  ASSERT_EQ(Node("second", dir_.c_str()).create(), 0);
  vdtest::PeerProcess holder("txn_peer", {prefix_});
  ASSERT_EQ(holder.call("open first " + dir_), "0");
  ASSERT_EQ(holder.call("begin"), "0");
  withinTime(10000, "a close while another process holds the catalog mutex", [&] {
    Node mine("first", dir_.c_str());
    EXPECT_EQ(mine.open(), 0);
    EXPECT_EQ(mine.exists(), 0);
    EXPECT_EQ(mine.close(), 0);
    return 0;
  });
  EXPECT_EQ(holder.call("exists", 5000), "0");
  EXPECT_EQ(holder.call("commit"), "0");

  Node kept("first", dir_.c_str()), closed("first", dir_.c_str());
  ASSERT_EQ(kept.open(), 0);
  ASSERT_EQ(closed.open(), 0);
  ASSERT_EQ(kept.transactionBegin(), 0);  // this thread holds the catalog mutex
  ASSERT_EQ(kept.scalarStore("kept", 1), 0);
  auto closing = std::async(std::launch::async, [&] { return closed.close(); });
  ASSERT_EQ(closing.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(closing.get(), 0);
  EXPECT_EQ(holder.call("exists", 5000), "0");
  EXPECT_EQ(kept.transactionCommit(), 0);
  int value = 0;
  EXPECT_EQ(kept.scalarLoad("kept", value), 0);
  EXPECT_EQ(holder.call("close"), "0");
  EXPECT_EQ(holder.finish(), 0);
  EXPECT_EQ(kept.close(), 0);
}

}  // namespace

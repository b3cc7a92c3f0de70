// Concurrency: threads of this process and of helper processes store, update and remove
// records of one catalog at once, alone and in transactions, through one shared Node per
// process or a Node per thread. Afterwards every acknowledged write is in the catalog with
// its last acknowledged value, removed records are gone, ids were never handed out twice,
// the transactions' counter in the registry lost no step, and no call failed (the catalog's
// waiting absorbs all contention: a busy or locked status is a fault).
//
// VENDRITHANE_STRESS_OPS sets the writes per thread (default 200).
#include <chrono>
#include <iostream>
#include <thread>

#include "reliability/ReliabilityFixture.h"
#include "reliability/ReliabilityStress.h"

using namespace KESTRIN::Vendrithane;

namespace {

int opsPerThread() {
  const char* text = std::getenv("VENDRITHANE_STRESS_OPS");
  return text && *text ? std::atoi(text) : 200;
}

class ConcurrencyThreads : public ReliabilityTest {
 protected:
  // Checks catalog `name` against the replayed logs and prints the figures.
  void check(const std::string& name, vdrel::StressLog& log, double seconds) {
    log.replay();
    for (const auto& f : log.failures) ADD_FAILURE() << "failed call: " << f;
    for (const auto& id : log.duplicateIds) ADD_FAILURE() << "id stored twice: " << id;

    Node node(name.c_str(), dir_.c_str());
    ASSERT_EQ(node.open(), 0);
    std::set<int> rows;
    for (const auto& text :
         rawRows(mainFile(name), "SELECT vd_id FROM vd_assets WHERE vd_tag='stress';")) {
      ASSERT_NE(text.compare(0, 5, "error"), 0) << text;
      rows.insert(std::stoi(text));
    }
    int wrong = 0;
    for (const auto& entry : log.live) {
      if (!rows.count(entry.first)) {
        ADD_FAILURE() << "acknowledged record " << entry.first << " is missing";
        continue;
      }
      String v = node.assetLoad(entry.first).element("v");
      if (std::string(v.buffer(), v.length()) != entry.second && wrong++ < 10)
        ADD_FAILURE() << "record " << entry.first << " holds " << v.buffer() << ", not "
                      << entry.second;
    }
    EXPECT_EQ(wrong, 0);
    for (int id : rows)
      if (!log.live.count(id)) ADD_FAILURE() << "record " << id << " was never acknowledged";
    int counter = -1;
    EXPECT_EQ(node.scalarLoad(String(vdrel::kCounterTag), counter), log.counter ? 0 : 30);
    if (log.counter) {
      EXPECT_EQ(counter, log.counter);
    }
    EXPECT_EQ(node.close(), 0);
    EXPECT_EQ(integrity(mainFile(name)), "ok");
    EXPECT_EQ(integrity(blobFile(name)), "ok");
    std::cout << name << ": " << log.byThread.size() << " threads, " << log.writes
              << " acknowledged writes and " << log.counter << " counter steps in " << seconds
              << " s; " << log.live.size() << " records left, " << log.removed.size() << " removed"
              << std::endl;
  }
};

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST_F(ConcurrencyThreads, ThreadsOfOneProcessSharingANodeOrEachWithTheirOwn) {
  ASSERT_EQ(Node("threads", dir_.c_str()).create(), 0);
  vdrel::StressOptions shared, own;
  shared.ops = own.ops = opsPerThread() / 2;
  shared.worker = 0;
  own.worker = 1;
  own.ownNodes = true;
  own.transactions = false;
  std::vector<std::string> a, b;
  const auto start = std::chrono::steady_clock::now();
  std::thread first([&] { a = vdrel::runStress("threads", dir_, shared); });
  std::thread second([&] { b = vdrel::runStress("threads", dir_, own); });
  first.join();
  second.join();
  vdrel::StressLog log;
  log.add(0, a);
  log.add(1, b);
  check("threads", log, since(start));
}

TEST_F(ConcurrencyThreads, ProcessesAndThreadsKeepEveryAcknowledgedWrite) {
  ASSERT_EQ(Node("procs", dir_.c_str()).create(), 0);
  const int ops = opsPerThread();
  const auto start = std::chrono::steady_clock::now();
  // Helper processes: a shared Node with transactions, a Node per thread with transactions,
  // a shared Node without; this process runs a fourth worker meanwhile.
  const char* shapes[][2] = {{"0", "1"}, {"1", "1"}, {"0", "0"}};
  std::vector<std::unique_ptr<vdtest::PeerProcess>> peers;
  for (int w = 1; w <= 3; ++w) {
    peers.push_back(std::make_unique<vdtest::PeerProcess>(
        "stress_peer", std::vector<std::string>{prefix_, "procs", dir_, std::to_string(w), "3",
                                                std::to_string(ops), std::to_string(w * 1000 + ops),
                                                shapes[w - 1][0], shapes[w - 1][1]}));
  }
  vdrel::StressOptions here;
  here.ops = ops;
  vdrel::StressLog log;
  log.add(0, vdrel::runStress("procs", dir_, here));
  for (int w = 1; w <= 3; ++w) {
    std::vector<std::string> lines;
    for (;;) {
      std::string line = peers[w - 1]->readLine(240000);
      if (line == "end") break;
      if (line == "<eof>" || line == "<timeout>") {
        lines.push_back("T0 F helper " + line);
        break;
      }
      lines.push_back(line);
    }
    log.add(w, lines);
    EXPECT_EQ(peers[w - 1]->finish(), 0) << "helper " << w;
  }
  check("procs", log, since(start));
}

// A thread inside a transaction holds the catalog mutex; another process opening the catalog
// meanwhile neither waits for that transaction nor keeps the system mutex from this one.
// Closing (or dropping the last handle) inside the transaction answers at once.
TEST_F(ConcurrencyThreads, ClosingInsideATransactionNeverWaitsForAnOpeningProcess) {
  ASSERT_EQ(Node("order", dir_.c_str()).create(), 0);
  Node node("order", dir_.c_str());
  ASSERT_EQ(node.open(), 0);
  ASSERT_EQ(node.transactionBegin(), 0);
  ASSERT_EQ(node.scalarStore("kept", 1), 0);
  vdtest::PeerProcess peer("txn_peer", {prefix_});
  peer.send("open order " + dir_);
  EXPECT_EQ(peer.readLine(5000), "0");  // reads the committed catalog, no wait
  EXPECT_EQ(withinTime(5000, "close inside a transaction", [&] { return node.close(); }),
            StatusBusy);
  EXPECT_EQ(node.transactionCommit(), 0);

  vdtest::PeerProcess opener("txn_peer", {prefix_});
  withinTime(10000, "the last handle going inside a transaction", [&] {
    Node doomed("order", dir_.c_str());
    EXPECT_EQ(doomed.open(), 0);
    EXPECT_EQ(doomed.transactionBegin(), 0);
    EXPECT_EQ(doomed.scalarStore("lost", 1), 0);
    opener.send("open order " + dir_);
    EXPECT_EQ(opener.readLine(5000), "0");
    return 0;
  });
  int kept = 0, lost = 0;
  EXPECT_EQ(node.scalarLoad("kept", kept), 0);
  EXPECT_EQ(node.scalarLoad("lost", lost), StatusNotFound);
  EXPECT_EQ(opener.call("close"), "0");
  EXPECT_EQ(opener.finish(), 0);
  EXPECT_EQ(peer.call("close"), "0");
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(node.close(), 0);
}

// A no-wait begin that passed its check waits for the catalog mutex like any begin, without
// holding its node's thread set meanwhile: the thread holding the mutex may need that set,
// here to close the waiter's node (which answers 77 while the waiter is in it).
TEST_F(ConcurrencyThreads, ANoWaitBeginWaitsWithoutHoldingItsNode) {
  ASSERT_EQ(Node("nowait", dir_.c_str()).create(), 0);
  Node first("nowait", dir_.c_str()), second("nowait", dir_.c_str());
  ASSERT_EQ(first.open(), 0);
  ASSERT_EQ(second.open(), 0);
  withinTime(10000, "a close of the waiting node", [&] {
    EXPECT_EQ(first.transactionBegin(), 0);  // this thread holds the catalog mutex
    std::thread waiter([&] {
      EXPECT_EQ(second.transactionBeginNoBlock(), 0);
      EXPECT_EQ(second.scalarStore("waited", 1), 0);
      EXPECT_EQ(second.transactionCommit(), 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the waiter is waiting
    EXPECT_EQ(second.close(), StatusBusy);
    EXPECT_EQ(first.transactionCommit(), 0);
    waiter.join();
    return 0;
  });
  int value = 0;
  EXPECT_EQ(first.scalarLoad("waited", value), 0);
  EXPECT_EQ(second.close(), 0);
  EXPECT_EQ(first.close(), 0);
}

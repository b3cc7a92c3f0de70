// The change monitor across processes: what a monitor hears of another process's changes
// (and what it does not), the caches that follow with and without one, stop, close and the
// refusals, and a write made while a handler method runs.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "category/CategoryFixture.h"
#include "helpers/EventRecorder.h"
#include "helpers/PeerProcess.h"
#include "vendrithane/Handler.h"

using namespace KESTRIN::Vendrithane;

namespace {

using Recorder = vdtest::EventRecorder;

// Holds an event method until opened.
class Gate {
 public:
  void close() { set(false); }
  void open() { set(true); }
  void pass() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return open_; });
  }

 private:
  void set(bool open) {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = open;
    changed_.notify_all();
  }
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = true;
};

class MonitorThreads : public CategoryCatalog {
 protected:
  void SetUp() override {
    CategoryCatalog::SetUp();
    peer_ = std::make_unique<vdtest::PeerProcess>("asset_peer", std::vector<std::string>{prefix_});
    ASSERT_EQ(peer_->call("open cat " + dir_), "0");
  }
  void TearDown() override {
    if (peer_) {
      EXPECT_EQ(peer_->finish(), 0);
    }
    peer_.reset();
    CategoryCatalog::TearDown();
  }
  // Runs node_->monitor(recorder) on a thread of its own until the recorder is in monitor
  // mode; joined by `end`.
  void watch(Recorder& recorder) {
    watcher_ = std::thread([&] { watched_ = node_->monitor(recorder); });
    while (!recorder.option(Handler::MonitorMode))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int end() {
    watcher_.join();
    return watched_;
  }
  std::string peer(const std::string& command) { return peer_->call(command); }

  std::unique_ptr<vdtest::PeerProcess> peer_;
  std::thread watcher_;
  int watched_ = -1;
};

TEST_F(MonitorThreads, HearsAnotherProcessAndFollowsItsChanges) {
  Category held = at("Kept", "a");
  ASSERT_EQ(held.add(), 0);
  const std::string heldId = std::to_string(held.id());
  Asset mine = stored("photo", "one");
  Asset kept = stored("photo", "two");
  const std::string mineId = std::to_string(mine.id()), keptId = std::to_string(kept.id());
  const std::string unseen = peer("store photo");  // never loaded here
  Recorder recorder;
  Gate gate;
  // A change of `mine` is held in its event method while the gate is closed; stop() from
  // inside the first addition ends the monitor after it.
  recorder.then = [&](const std::string& word) {
    if (word.compare(0, 4, "add:") == 0) recorder.stop();
    if (word == "asset:" + mineId) gate.pass();
  };
  watch(recorder);

  ASSERT_EQ(peer("catrename " + heldId + " b"), "0");
  EXPECT_EQ(recorder.take(1), "update:" + heldId);
  EXPECT_EQ(held.fullLabel(), "//Kept/b");

  // A live record changed elsewhere is told, not rewritten; its update keeps both changes.
  ASSERT_EQ(peer("update " + keptId + " title other"), "0");
  EXPECT_EQ(recorder.take(2), "asset:" + keptId);
  kept.element("note") = "mine";
  EXPECT_EQ(kept.update(), 0);
  const std::string row = rows("SELECT vd_xml FROM vd_assets WHERE vd_id=" + keptId + ";");
  EXPECT_NE(row.find("other"), std::string::npos) << row;
  EXPECT_NE(row.find("mine"), std::string::npos) << row;

  // This node's own changes are not told to it; a deletion is told for a live record only,
  // which then stands for none.
  mine.element("title") = "changed here";
  EXPECT_EQ(mine.update(), 0);
  ASSERT_EQ(peer("remove " + unseen), "0");
  ASSERT_EQ(peer("remove " + keptId), "0");
  EXPECT_EQ(recorder.take(3), "gone:" + keptId);
  EXPECT_EQ(kept.id(), -1);

  // While a handler method runs, the other process adds and removes a category (the row is
  // gone when read: neither is told) and destroys two types: one reload pair for the batch.
  gate.close();
  ASSERT_EQ(peer("update " + mineId + " title again"), "0");
  EXPECT_EQ(recorder.take(4), "asset:" + mineId);
  const std::string flash = peer("catstore Kept x");
  ASSERT_EQ(peer("catremove " + flash), "0");
  for (const char* type : {"t1", "t2"}) ASSERT_EQ(peer(std::string("declare ") + type), "0");
  for (const char* type : {"t1", "t2"}) ASSERT_EQ(peer(std::string("destroy ") + type), "0");
  gate.open();
  EXPECT_EQ(recorder.take(6), "reload:0 reload:1");

  gate.close();
  ASSERT_EQ(peer("update " + mineId + " title third"), "0");
  EXPECT_EQ(recorder.take(7), "asset:" + mineId);
  const std::string added = peer("catstore Kept s1");
  peer("catstore Kept s2");
  gate.open();
  EXPECT_EQ(end(), StatusStopped);
  EXPECT_EQ(recorder.take(8), "add:" + added);
  EXPECT_TRUE(recorder.stopped());
}

TEST_F(MonitorThreads, CloseStopAndRefusals) {
  Recorder recorder, second;
  Node closed("other", dir_.c_str());
  EXPECT_EQ(closed.monitor(recorder), StatusNotOpen);
  watch(recorder);
  EXPECT_EQ(node_->monitor(second), StatusBusy);  // the first goes on
  const std::string added = peer("catstore Kept c");
  EXPECT_EQ(recorder.take(1), "add:" + added);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(node_->close(), 0);
  EXPECT_EQ(end(), StatusStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_TRUE(recorder.stopped());

  // A stop from another thread wakes a waiting monitor at once.
  ASSERT_EQ(node_->open(), 0);
  Recorder third;
  watch(third);
  const auto stopped = std::chrono::steady_clock::now();
  third.stop();
  EXPECT_EQ(end(), StatusStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(1000));

  // A close from inside an event method ends the monitor after it, without a wait.
  Recorder fourth;
  int closedInside = -1;
  fourth.then = [&](const std::string&) { closedInside = node_->close(); };
  watch(fourth);
  const auto closing = std::chrono::steady_clock::now();
  peer("catstore Kept d");
  EXPECT_EQ(end(), StatusStopped);
  EXPECT_EQ(closedInside, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(1000));
}

TEST_F(MonitorThreads, WriteOfAnotherThreadDuringAHandlerMethodReachesOthers) {
  Asset first = stored("photo", "one");
  Asset second = stored("photo", "two");
  const std::string secondId = std::to_string(second.id());
  ASSERT_EQ(peer("watch"), "0");
  Recorder recorder;
  recorder.then = [&](const std::string&) {
    std::thread writer([&] {
      second.element("title") = "written meanwhile";
      EXPECT_EQ(second.update(), 0);
    });
    writer.join();
  };
  watch(recorder);
  ASSERT_EQ(peer("update " + std::to_string(first.id()) + " title elsewhere"), "0");
  EXPECT_EQ(recorder.take(1), "asset:" + std::to_string(first.id()));
  EXPECT_EQ(peer("heard 1"), "asset:" + secondId);
  recorder.stop();
  EXPECT_EQ(end(), StatusStopped);
  EXPECT_EQ(peer("unwatch"), "60");
}

TEST_F(MonitorThreads, RebuildAtANoWaitBeginLeavesNoTransactionBehind) {
  ASSERT_EQ(peer("declare t1"), "0");
  ASSERT_EQ(peer("destroy t1"), "0");  // a kind 1 pending here
  EXPECT_EQ(node_->transactionBeginNoBlock(), 0);
  EXPECT_EQ(node_->transactionCommit(), 0);
  EXPECT_EQ(node_->close(), 0);
}

}  // namespace

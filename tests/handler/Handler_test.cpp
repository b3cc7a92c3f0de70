// The Handler: its options and state, the delivery of a category walk (bounds, keeping,
// progress), replay, exclusion, stop, an event method that throws, and reset from another
// thread while a walk delivers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "vendrithane/vendrithane.h"

using namespace KESTRIN::Vendrithane;

namespace {

// Logs every event as a short token.
class Log : public Handler {
 public:
  std::string log;
  int stopAt = -1;   // calls stop() from this item's event
  int throwAt = -1;  // throws from this item's event
  void categoryEvent(int i, Category& c) override {
    log += std::to_string(i) + ":" + static_cast<const char*>(static_cast<String>(c.label())) + " ";
    if (i == stopAt) stop();
    if (i == throwAt) throw std::runtime_error("host failure");
  }
  void progressEvent(unsigned int n, double f) override {
    log += "p" + std::to_string(n) +
           (f < 0 ? "" : "/" + std::to_string(static_cast<int>(f * 100))) + " ";
  }
  void countEvent(int n) override { log += "n" + std::to_string(n) + " "; }
  void completeEvent() override { log += "done"; }
  void stoppedEvent() override { log += "stopped"; }
};

class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vd-handler-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    node_ = std::make_unique<Node>("walk", dir_.c_str());
    ASSERT_EQ(node_->create(false), 0);
    ASSERT_EQ(node_->open(), 0);
    Asset prototype = node_->asset("photo", true);
    ASSERT_EQ(node_->categoryDeclare("K", prototype, true, false), 0);
    Category k = node_->category("K");
    for (const char* label : {"a", "b", "c", "d", "e"}) {
      Category child = k;
      child.subCategory(label);
      ASSERT_EQ(child.add(), 0);
    }
    Category transient = k;
    transient.subCategory("never stored");
  }
  void TearDown() override {
    node_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }
  Category root() { return node_->category("K"); }

  std::string dir_;
  std::unique_ptr<Node> node_;
};

TEST(Handler, OptionsFollowTheGroupRuleAndAnEmptyHandlerRefusesItsItems) {
  Log h;
  EXPECT_TRUE(h.option(Handler::Deliver));
  EXPECT_FALSE(h.option(Handler::Keep));
  EXPECT_TRUE(h.ready());
  EXPECT_FALSE(h.active());
  EXPECT_EQ(h.progressMax(), 0xFFFFFFFFu);
  EXPECT_EQ(h.callbackLast(), -1);
  h.option(Handler::CategoryMode, true);
  EXPECT_TRUE(h.option(Handler::CategoryMode));
  EXPECT_FALSE(h.option(Handler::AssetMode));
  h.option(Handler::CategoryMode, false);
  EXPECT_TRUE(h.option(Handler::AssetMode) && h.option(Handler::MonitorMode));
  EXPECT_FALSE(h.option(Handler::CategoryMode));
  h.options(Handler::Keep);
  EXPECT_FALSE(h.option(Handler::Deliver));
  EXPECT_THROW(h.asset(0), Status);
  EXPECT_THROW(h.category(0), Status);
  EXPECT_EQ(h.exclude(-1), StatusOutOfBounds);
  h.options(Handler::Deliver);
  EXPECT_EQ(h.exclude(0), StatusNotReady);
  EXPECT_EQ(h.callback(0, 0), StatusNotReady);  // nothing kept: nothing delivered
  EXPECT_EQ(h.log, "");
}

TEST_F(HandlerTest, AWalkKeepsEveryStoredChildAndDeliversWithinTheBounds) {
  Log h;
  h.options(Handler::Deliver | Handler::Keep);
  h.progressEvery(0);  // every item
  ASSERT_EQ(h.callbackRange(1, 3), 0);
  EXPECT_EQ(root().subCategories(h), 0);
  EXPECT_EQ(h.log, "p1 1:b p2 2:c p3 3:d p4 p5 p5 n5 done");
  EXPECT_TRUE(h.option(Handler::CategoryMode));
  EXPECT_EQ(h.availableItems(), 5);
  EXPECT_FALSE(h.ready());

  // Replay: a last index past the kept categories stops at the last one.
  h.log.clear();
  h.progressEvery(2);
  EXPECT_EQ(h.callback(3, 99), 0);
  EXPECT_EQ(h.log, "3:d 4:e p2/100 p2/100 n5 done");
  EXPECT_EQ(h.callback(5, 5), StatusOutOfBounds);

  // Exclusion moves the later items down.
  EXPECT_EQ(h.exclude(0), 0);
  EXPECT_EQ(h.availableItems(), 4);
  EXPECT_EQ(static_cast<String>(h.category(0).label()), "b");
  EXPECT_EQ(h.exclude(4), StatusOutOfBounds);

  // A stop from an item event ends the replay after that item.
  h.log.clear();
  h.stopAt = 1;
  h.progressEvery(100);
  EXPECT_EQ(h.callback(0, 3), StatusStopped);
  EXPECT_EQ(h.log, "0:b 1:c stopped");
  EXPECT_FALSE(h.stopped());

  // The kept categories are the catalog's objects.
  Category c = root();
  c.subCategory("c");
  EXPECT_EQ(h.category(1).id(), c.id());

  h.reset();
  EXPECT_TRUE(h.ready());
  EXPECT_EQ(h.availableItems(), 0);
  EXPECT_TRUE(h.option(Handler::Keep));  // the option word stays

  // With a filter the children come from the catalog, its window applied.
  Filter window;
  window.limit(2);
  window.offset(1);
  h.stopAt = -1;
  h.log.clear();
  EXPECT_EQ(root().subCategories(window, h), 0);
  EXPECT_EQ(h.log, "0:b 1:c p2 n2 done");
  Filter bad;
  bad.offset(1);
  EXPECT_EQ(root().subCategories(bad, h), StatusBadFilter);

  // Narrowing kept categories runs over category nodes; a stop with nothing running is
  // no stop.
  Log kept;
  kept.options(Handler::Keep);
  ASSERT_EQ(root().subCategories(kept), 0);
  Filter two;
  two.limit(2);
  ASSERT_EQ(kept.subFilter(two), 0);
  EXPECT_EQ(kept.availableItems(), 5);
  EXPECT_EQ(static_cast<String>(kept.category(1).label()), "b");
  EXPECT_THROW(kept.category(2), Status);
  EXPECT_EQ(kept.subFilter(), 0);
  EXPECT_EQ(static_cast<String>(kept.category(4).label()), "e");
  kept.stop();
  EXPECT_FALSE(kept.stopped());
}

TEST_F(HandlerTest, AStopFromAnItemEventEndsTheWalkAndAThrowLeavesTheHandlerUsable) {
  Log h;
  h.stopAt = 1;
  EXPECT_EQ(root().subCategories(h), StatusStopped);
  EXPECT_EQ(h.log, "0:a 1:b stopped");

  // An event method that throws: the walk ends, the exception reaches the caller, the
  // handler is inactive, and the catalog is free for a transaction.
  h.reset();
  h.log.clear();
  h.stopAt = -1;
  h.throwAt = 2;
  EXPECT_THROW(root().subCategories(h), std::runtime_error);
  EXPECT_FALSE(h.active());
  EXPECT_EQ(node_->transactionBeginNoBlock(), 0);
  EXPECT_EQ(node_->transactionCommit(), 0);
  h.reset();
  h.throwAt = -1;
  h.log.clear();
  EXPECT_EQ(root().subCategories(h), 0);
  EXPECT_EQ(h.log, "0:a 1:b 2:c 3:d 4:e p5 n5 done");
}

// Waits in its first item event until the handler is stopped.
class Waiting : public Handler {
 public:
  std::atomic<bool> inside{false};
  std::atomic<bool> ended{false};
  void categoryEvent(int, Category&) override {
    inside = true;
    for (int i = 0; i < 500 && !stopped(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  void stoppedEvent() override { ended = true; }
};

class HandlerThreads : public HandlerTest {};

TEST_F(HandlerThreads, ResetFromAnotherThreadStopsTheWalkAndWaitsForItsEnd) {
  Waiting h;
  h.options(Handler::Deliver | Handler::Keep);
  int status = -1;
  Category k = root();
  std::thread walker([&] { status = k.subCategories(h); });
  while (!h.inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  h.reset();
  EXPECT_TRUE(h.ended);  // the walk had ended when reset() returned
  walker.join();
  EXPECT_EQ(status, StatusStopped);
  EXPECT_TRUE(h.ready());
  EXPECT_FALSE(h.active());
  EXPECT_EQ(h.availableItems(), 0);
}

}  // namespace

// The loads into a handler: records in the filter's order as the live objects, the
// refusals that leave the handler as it was, a stop from an event and from another thread,
// an event that throws, and category nodes.
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

class Records : public Handler {
 public:
  std::string log;
  int stopAt = -1;
  int throwAt = -1;
  int sleepMs = 0;
  std::atomic<int> seen{0};
  void assetEvent(int i, Asset& a) override {
    log += std::to_string(static_cast<int>(a.element("rating"))) + " ";
    ++seen;
    if (sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    if (i == stopAt) stop();
    if (i == throwAt) throw std::runtime_error("host failure");
  }
  void categoryEvent(int, Category& c) override {
    log += static_cast<const char*>(static_cast<String>(c.label()));
    log += " ";
  }
  void countEvent(int n) override { log += "n" + std::to_string(n) + " "; }
  void completeEvent() override { log += "done"; }
  void stoppedEvent() override { log += "stopped"; }
  void errorEvent(int s) override { log += "error" + std::to_string(s); }
  void progressEvent(unsigned int n, double f) override {
    log += "p" + std::to_string(n) + "/" + std::to_string(static_cast<int>(f)) + " ";
  }
};

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vd-loads-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    node_ = std::make_unique<Node>("loads", dir_.c_str());
    ASSERT_EQ(node_->create(false), 0);
    ASSERT_EQ(node_->open(), 0);
    ASSERT_EQ(node_->transactionBegin(), 0);
    for (int i = 0; i < 200; ++i) {
      Asset photo = node_->asset("photo", true);
      photo.element("rating") = i % 10;
      ASSERT_EQ(photo.store(), 0);
      if (i < 10) ids_.push_back(photo.id());
    }
    ASSERT_EQ(node_->transactionCommit(), 0);
    prototype_ = std::make_unique<Asset>(node_->asset("photo", true));
  }
  void TearDown() override {
    prototype_.reset();
    node_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }
  // The first ten records rated above 6, highest first.
  Filter topRated() {
    Filter f;
    f = prototype_->element("rating") > Expression(6);
    f.orderBy(Expression(prototype_->element("rating")), SortDescending);
    f.allowDuplicates(true);
    f.limit(10);
    return f;
  }

  std::string dir_;
  std::unique_ptr<Node> node_;
  std::unique_ptr<Asset> prototype_;
  std::vector<int> ids_;
};

TEST_F(LoadTest, RecordsArriveInTheFiltersOrderAsTheLiveObjects) {
  Asset held = node_->assetLoad(ids_[9]);  // rated 9
  Records h;
  h.options(Handler::Deliver | Handler::Keep);
  Filter f = topRated();
  ASSERT_EQ(node_->assetLoad(f, h), 0);
  EXPECT_EQ(h.log, "9 9 9 9 9 9 9 9 9 9 p10/-1 n10 done");
  EXPECT_TRUE(h.option(Handler::AssetMode));
  held.element("mark") = 1;  // the kept record is the object `held` names
  bool found = false;
  for (int i = 0; i < h.availableItems(); ++i)
    found = found || (h.asset(i).id() == held.id() && h.asset(i).elementExists("mark"));
  EXPECT_TRUE(found);

  // Bounds limit the item events, every row is still counted; progress every 4 rows and at
  // the end, with an unknown maximum (-1.0).
  Records bounded;
  bounded.progressEvery(4);
  ASSERT_EQ(bounded.callbackRange(5, 7), 0);
  ASSERT_EQ(node_->assetLoad(f, bounded), 0);
  EXPECT_EQ(bounded.log, "p4/-1 9 9 9 p8/-1 p10/-1 n10 done");

  // Refusals leave the handler as it was and deliver nothing.
  h.log.clear();
  EXPECT_EQ(node_->assetLoad(f, h), StatusNotReady);
  h.reset();
  Filter bad;
  bad.offset(3);  // an offset without a limit makes no statement
  EXPECT_EQ(node_->assetLoad(bad, h), StatusBadFilter);
  EXPECT_TRUE(h.ready());
  Node closed("never", dir_.c_str());
  EXPECT_EQ(closed.assetLoad(f, h), StatusNotOpen);
  EXPECT_EQ(h.log, "");
  EXPECT_TRUE(h.ready());
}

TEST_F(LoadTest, AStopOrAThrowFromAnEventEndsTheLoad) {
  Records h;
  h.stopAt = 2;
  Filter f = topRated();
  EXPECT_EQ(node_->assetLoad(f, h), StatusStopped);
  EXPECT_EQ(h.log, "9 9 9 stopped");  // no count, no completion

  h.reset();
  h.log.clear();
  h.stopAt = -1;
  h.throwAt = 1;
  EXPECT_THROW(node_->assetLoad(f, h), std::runtime_error);
  EXPECT_FALSE(h.active());
  EXPECT_EQ(node_->transactionBeginNoBlock(), 0);  // no statement left running
  EXPECT_EQ(node_->transactionCommit(), 0);
  h.reset();
  h.throwAt = -1;
  h.log.clear();
  EXPECT_EQ(node_->assetLoad(f, h), 0);
  EXPECT_EQ(h.log, "9 9 9 9 9 9 9 9 9 9 p10/-1 n10 done");
}

TEST_F(LoadTest, CategoryNodesStoredElsewhereArrive) {
  ASSERT_EQ(node_->categoryDeclare("K", *prototype_, true, false), 0);
  Node other("loads", dir_.c_str());
  ASSERT_EQ(other.open(), 0);
  Category k = other.category("K");
  for (const char* label : {"a", "b"}) {
    Category c = k;
    c.subCategory(label);
    ASSERT_EQ(c.add(), 0);
  }
  Records h;
  Filter all;
  EXPECT_EQ(node_->categoryLoad(all, h), 0);
  EXPECT_EQ(h.log, "a b p2/-1 n2 done");
  EXPECT_TRUE(h.option(Handler::CategoryMode));
}

TEST_F(LoadTest, SubFilterNarrowsTheKeptRecordsWithinItsWindow) {
  Records h;
  h.options(Handler::Keep);
  Filter all;
  ASSERT_EQ(node_->assetLoad(all, h), 0);
  ASSERT_EQ(h.availableItems(), 200);
  ASSERT_EQ(h.exclude(0), 0);  // one record rated 0 (the first stored) is dropped
  Filter zero;
  zero = prototype_->element("rating") == Expression(0);
  zero.orderBy(Expression(prototype_->element("rating")), SortAscending);
  zero.offset(2);
  zero.limit(3);
  ASSERT_EQ(h.subFilter(zero), 0);
  EXPECT_EQ(h.availableItems(), 19);  // the excluded record does not come back
  for (int i = 0; i < 3; ++i) EXPECT_EQ(static_cast<int>(h.asset(i).element("rating")), 0);
  EXPECT_THROW(h.asset(3), Status);  // never past the kept list
  Filter one;
  one = prototype_->element("rating") == Expression(1);
  ASSERT_EQ(h.subFilter(one), 0);  // narrows the list before the first narrowing
  EXPECT_EQ(h.availableItems(), 20);
  EXPECT_EQ(h.subFilter(), 0);
  EXPECT_EQ(h.availableItems(), 199);
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(h.subFilter(one), StatusNotOpen);
  EXPECT_EQ(h.availableItems(), 199);
}

class LoadThreads : public LoadTest {};

TEST_F(LoadThreads, AStopFromAnotherThreadEndsAnOrderedLoad) {
  Records h;
  h.sleepMs = 5;
  Filter all;
  all.orderBy(Expression(prototype_->element("rating")), SortAscending);
  all.allowDuplicates(true);
  int status = -1;
  std::thread loader([&] { status = node_->assetLoad(all, h); });
  while (h.seen.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  h.stop();
  loader.join();
  EXPECT_EQ(status, StatusStopped);
  EXPECT_LT(h.seen.load(), 10);
  EXPECT_EQ(h.log.substr(h.log.size() - 7), "stopped");
}

}  // namespace

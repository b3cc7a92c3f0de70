// Posting and reading change events between nodes of one process and of two processes.
#include "monitor/EventQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "monitor/MonitorFixture.h"

using namespace KESTRIN::Vendrithane;
using monitor::EventQueue;

namespace {

using QueueTest = MonitorTest;

TEST_F(QueueTest, RecordsReachTheOtherProcessOnceAndPostersStayUpToDate) {
  std::string path = catalog("a.vd");
  EventQueue queue;
  queue.attach(path);
  vdtest::PeerProcess peer("peer", {prefix_});
  ASSERT_EQ(peer.call("attach n " + path), "ok");
  EXPECT_NE(peer.call("poster n"), std::to_string(queue.poster()));

  ASSERT_EQ(peer.call("post n 6 42"), "ok");
  int id = 0;
  EXPECT_EQ(queue.readNext(&id), monitor::kEventRecordUpdated);
  EXPECT_EQ(id, 42);
  EXPECT_EQ(queue.readNext(&id), monitor::kEventNone);  // exactly once
  EXPECT_EQ(peer.call("read n"), "8");                  // the poster was up to date

  queue.post(monitor::kEventCategoryAdded, 7);
  EXPECT_EQ(queue.readNext(&id), monitor::kEventNone);
  EXPECT_EQ(peer.call("read n"), "2 7");

  // A poster behind others' records keeps them: it reads them, then its own as 0.
  ASSERT_EQ(peer.call("post n 5 1"), "ok");
  queue.post(monitor::kEventRecordDeleted, 2);
  EXPECT_EQ(queue.readNext(&id), monitor::kEventMembershipChanged);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(queue.readNext(&id), 0);
  EXPECT_EQ(queue.readNext(&id), monitor::kEventNone);
  EXPECT_EQ(peer.call("read n"), "7 2");
  EXPECT_EQ(peer.call("read n"), "8");

  EXPECT_EQ(peer.call("detach n"), "0");
  EXPECT_EQ(peer.finish(), 0);
}

TEST_F(QueueTest, ReaderLappedByTheRingMustRebuild) {
  std::string path = catalog("a.vd");
  EventQueue poster, reader;
  poster.attach(path);
  reader.attach(path);
  for (int i = 0; i < 65535; ++i) poster.post(monitor::kEventRecordUpdated, i);
  reader.lock();
  EXPECT_EQ(reader.behind(), 65535u);
  EXPECT_FALSE(reader.lost());  // the oldest unread record is still there
  reader.unlock();
  int id = -1;
  EXPECT_EQ(reader.readNext(&id), monitor::kEventRecordUpdated);
  EXPECT_EQ(id, 0);
  for (int i = 0; i < 2; ++i) poster.post(monitor::kEventRecordUpdated, i);
  reader.lock();
  EXPECT_EQ(reader.behind(), 65536u);
  EXPECT_TRUE(reader.lost());
  reader.catchUp();
  EXPECT_EQ(reader.behind(), 0u);
  reader.unlock();
  EXPECT_EQ(reader.readNext(&id), monitor::kEventNone);
}

TEST_F(QueueTest, CountsWrapAtTwoToTheThirtyTwo) {
  std::string path = catalog("a.vd");
  EventQueue poster, reader;
  poster.attach(path);
  reader.attach(path);
  section()->slots[3].writeCount = 0xFFFFFFFEu;
  reader.lock();
  reader.catchUp();
  reader.unlock();
  for (int i = 1; i <= 4; ++i) poster.post(monitor::kEventRecordUpdated, i);
  EXPECT_EQ(section()->slots[3].writeCount, 2u);
  int id = 0;
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(reader.readNext(&id), monitor::kEventRecordUpdated);
    EXPECT_EQ(id, i);
  }
  EXPECT_EQ(reader.readNext(&id), monitor::kEventNone);
}

TEST_F(QueueTest, DamagedRecordsAreReadAsRebuild) {
  std::string path = catalog("a.vd");
  EventQueue poster, reader;
  poster.attach(path);
  reader.attach(path);
  poster.post(monitor::kEventRecordUpdated, 5);
  section()->slots[3].ring[0].kind = 1234;
  int id = 0;
  EXPECT_EQ(reader.readNext(&id), monitor::kEventCatalogChanged);
  EXPECT_EQ(id, -1);
}

TEST_F(QueueTest, MonitorRunningPastTheCloseLeavesTheSlotWhenItEnds) {
  std::string path = catalog("a.vd");
  EventQueue queue;
  queue.attach(path);
  int givenBack = 0;
  queue.giveBackIds = [&] {
    ++givenBack;
    return StatusOk;
  };
  queue.stopMonitoringHandler = [] { return true; };  // asked to stop, but it runs on
  std::atomic<bool> closed{false};
  std::thread monitorThread([&] {
    queue.attach(path);
    while (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    queue.detach(true);
  });
  while (queue.localCount() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(queue.detach(false), StatusOk);  // gives up after its wait
  EXPECT_TRUE(queue.attached());
  closed = true;
  monitorThread.join();
  EXPECT_FALSE(queue.attached());  // the monitor's end left the slot
  EXPECT_EQ(givenBack, 1);
  EXPECT_EQ(usedSlots(), 0);
  EXPECT_EQ(catalogObjects(monitor::catalogKey(monitor::normalisedPath(path))), 0);
}

TEST_F(QueueTest, ClosingNodeStopsItsMonitorPromptly) {
  std::string path = catalog("a.vd");
  EventQueue queue;
  queue.attach(path);
  std::atomic<bool> stopped{false};
  queue.stopMonitoringHandler = [&] {
    stopped = true;
    return true;
  };
  std::thread monitorThread([&] {
    queue.attach(path);  // the monitor counts itself
    while (!stopped) {
      uint32_t seen = queue.snapshot();
      int id;
      while (queue.readNext(&id) != monitor::kEventNone) {
      }
      if (stopped) break;
      queue.wait(seen, 5000);
    }
    queue.detach(true);
  });
  while (queue.localCount() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // in its wait
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(queue.detach(false), StatusOk);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  monitorThread.join();
  EXPECT_LT(ms, 1000);  // woken by the wake-up record, not by the 5000 ms round
  EXPECT_EQ(queue.localCount(), 0);
  EXPECT_FALSE(queue.attached());
  EXPECT_EQ(usedSlots(), 0);
}

TEST_F(QueueTest, IdsAreGivenBackOnlyByTheLastLiveUser) {
  std::string path = catalog("a.vd");
  EventQueue first, second;
  int calls = 0;
  auto giveBack = [&] {
    ++calls;
    return static_cast<Status>(80);
  };
  first.giveBackIds = giveBack;
  second.giveBackIds = giveBack;
  EXPECT_NE(first.poster(), second.poster());  // nodes of one process are told apart
  first.attach(path);
  second.attach(path);
  EXPECT_EQ(section()->slots[3].attachCount, 2);  // the highest free slot is taken first
  second.lock();
  second.nextId(40);
  second.maxId(60);
  second.unlock();
  first.lock();
  EXPECT_EQ(first.nextId(), 40);  // one shared block
  first.unlock();
  EXPECT_EQ(first.detach(false), StatusOk);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(static_cast<int>(second.detach(false)), 80);  // reported, detach still complete
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(second.attached());
  EXPECT_EQ(usedSlots(), 0);
}

}  // namespace

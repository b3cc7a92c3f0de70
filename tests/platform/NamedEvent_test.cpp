// Pulse events, the machine-wide counter and liveness files, across processes.
#include "platform/NamedEvent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>

#include "helpers/PeerProcess.h"
#include "platform/LivenessFile.h"
#include "platform/MachineCounter.h"
#include "platform/ObjectNames.h"
#include "platform/SharedObject.h"

using namespace KESTRIN::Vendrithane;
using Clock = std::chrono::steady_clock;

namespace {

class SignalsTest : public ::testing::Test {
 protected:
  void SetUp() override { prefix_ = vdtest::useTestPrefix(); }
  void TearDown() override { vdtest::removeTestObjects(prefix_); }
  std::string name(const std::string& suffix) { return "Global\\" + prefix_ + suffix; }
  std::string prefix_;
};

long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(SignalsTest, PulseWakesAWaiterInAnotherProcessPromptly) {
  platform::NamedEvent event(name(".e"));
  vdtest::PeerProcess peer("peer", {prefix_});
  peer.send("event-wait " + name(".e") + " 5000");
  ASSERT_EQ(peer.readLine(), "waiting");
  usleep(50000);  // let it reach the kernel wait
  auto start = Clock::now();
  event.pulse();
  EXPECT_EQ(peer.readLine(), "pulsed");
  EXPECT_LT(msSince(start), 1000);  // far from the 5000 ms time-out
  EXPECT_EQ(peer.finish(), 0);
}

TEST_F(SignalsTest, PulseBetweenSnapshotAndWaitIsNotLostAndNothingStaysSignalled) {
  platform::NamedEvent event(name(".e"));
  uint32_t seen = event.snapshot();
  event.pulse();
  auto start = Clock::now();
  EXPECT_TRUE(event.wait(seen, 5000));
  EXPECT_LT(msSince(start), 100);

  // A fresh snapshot sees no pulse: the wait runs into its time-out.
  seen = event.snapshot();
  start = Clock::now();
  EXPECT_FALSE(event.wait(seen, 150));
  long waited = msSince(start);
  EXPECT_GE(waited, 140);
  EXPECT_LT(waited, 1000);
}

TEST_F(SignalsTest, CounterValuesAreUniqueAcrossProcessesAndSkipZero) {
  std::string counterName = name(".counter");
  vdtest::PeerProcess a("peer", {prefix_}), b("peer", {prefix_});
  a.send("counter " + counterName + " 2000");
  b.send("counter " + counterName + " 2000");
  platform::MachineCounter counter(counterName);
  std::multiset<uint32_t> all;
  for (int i = 0; i < 2000; ++i) all.insert(counter.next());
  for (auto* peer : {&a, &b}) {
    std::istringstream values(peer->readLine());
    uint32_t v;
    while (values >> v) all.insert(v);
  }
  EXPECT_EQ(all.size(), 6000u);
  EXPECT_EQ(std::set<uint32_t>(all.begin(), all.end()).size(), 6000u);
  EXPECT_EQ(all.count(0), 0u);

  platform::SharedObject raw(platform::objectPath(counterName), 4);
  *static_cast<uint32_t*>(raw.data()) = 0xFFFFFFFFu;
  EXPECT_EQ(counter.next(), 1u);  // wraps past 0
}

TEST_F(SignalsTest, LivenessFollowsTheHoldersLifeNotItsCleanExit) {
  std::string live = name(".live");
  EXPECT_FALSE(platform::LivenessFile::inUse(live));  // missing: nobody
  vdtest::PeerProcess peer("peer", {prefix_});
  ASSERT_EQ(peer.call("live-hold " + live), "held");
  EXPECT_TRUE(platform::LivenessFile::inUse(live));
  {
    platform::LivenessFile mine;  // a second holder shares it
    mine.hold(live);
    EXPECT_TRUE(platform::LivenessFile::inUse(live));
  }
  peer.killNow();
  EXPECT_FALSE(platform::LivenessFile::inUse(live));

  platform::LivenessFile mine;
  mine.hold(live);
  EXPECT_TRUE(platform::LivenessFile::inUse(live));  // this process counts as well
  mine.release();
  EXPECT_FALSE(platform::LivenessFile::inUse(live));
}

}  // namespace

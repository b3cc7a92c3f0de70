// The run-time lock-order checker of debug builds: a lock taken against the written order
// aborts with the names of both locks; the order, recursive entries and two per-catalog
// mutexes in the order of their keys pass.
#include <gtest/gtest.h>

#include "helpers/PeerProcess.h"
#include "platform/LockOrder.h"
#include "platform/Mutex.h"
#include "platform/NamedMutex.h"

using namespace KESTRIN::Vendrithane;

namespace {

class LockOrderDeathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::kLockOrderChecked) GTEST_SKIP() << "the order is checked in debug builds";
    prefix_ = vdtest::useTestPrefix();
  }
  void TearDown() override { vdtest::removeTestObjects(prefix_); }
  std::string name(const std::string& suffix) { return "Global\\" + prefix_ + suffix; }
  std::string prefix_;
};

TEST_F(LockOrderDeathTest, ALockOfAnEarlierRankAbortsWithBothNames) {
  platform::Mutex pool(platform::LockRank::kPool, "the pool");
  platform::Mutex threads(platform::LockRank::kThreadSet, "the thread set");
  {
    platform::MutexLock first(threads);
    platform::MutexLock second(pool);
  }
  EXPECT_DEATH(
      {
        platform::MutexLock first(pool);
        platform::MutexLock second(threads);
      },
      "taking \"the thread set\" while holding \"the pool\"");
  platform::Mutex leaf(platform::LockRank::kPool, "another pool");
  EXPECT_DEATH(
      {
        platform::MutexLock first(pool);
        platform::MutexLock second(leaf);
      },
      "another pool");
}

// Takes a mutex the caller holds once more, and lets it go (the analysis flags any second
// acquisition).
void reenter(platform::NamedMutex& mutex) NO_THREAD_SAFETY_ANALYSIS {
  mutex.lock();
  mutex.unlock();
}

TEST_F(LockOrderDeathTest, MachineWideMutexesFollowTheOrderAndTheirKeys) {
  platform::NamedMutex system(name(".system"), platform::LockRank::kSystem);
  platform::NamedMutex a(name(".a"), platform::LockRank::kCatalog, "a");
  platform::NamedMutex b(name(".b"), platform::LockRank::kCatalog, "b");
  {
    platform::NamedMutexHold first(a);
    platform::NamedMutexHold second(b);
    reenter(a);  // recursive, while a later one is held
    platform::NamedMutexHold last(system);
    reenter(system);
  }
  EXPECT_DEATH(
      {
        platform::NamedMutexHold first(system);
        platform::NamedMutexHold second(a);
      },
      "while holding \"[^\"]*system\"");
  EXPECT_DEATH(
      {
        platform::NamedMutexHold first(b);
        platform::NamedMutexHold second(a);
      },
      "\\(a\\) while holding \"[^\"]*\" \\(b\\)");
}

}  // namespace

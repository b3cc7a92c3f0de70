// Machine-wide mutexes and the creation and mapping of shared objects, across processes.
#include "platform/NamedMutex.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "helpers/PeerProcess.h"
#include "platform/ObjectNames.h"
#include "platform/SharedObject.h"

using namespace KESTRIN::Vendrithane;

namespace {

class NamedMutexTest : public ::testing::Test {
 protected:
  void SetUp() override { prefix_ = vdtest::useTestPrefix(); }
  void TearDown() override { vdtest::removeTestObjects(prefix_); }
  std::string name(const std::string& suffix) { return "Global\\" + prefix_ + suffix; }
  std::string prefix_;
};

// The tests take and release mutexes by hand, in patterns the analysis does not follow.
bool take(platform::NamedMutex& mutex) NO_THREAD_SAFETY_ANALYSIS {
  return mutex.lock();
}
void give(platform::NamedMutex& mutex) NO_THREAD_SAFETY_ANALYSIS {
  mutex.unlock();
}

TEST_F(NamedMutexTest, RecursiveWithinAThreadExclusiveAcrossProcesses) {
  platform::NamedMutex mutex(name(".m"));
  EXPECT_FALSE(take(mutex));
  EXPECT_FALSE(take(mutex));  // recursive for its owner
  give(mutex);

  vdtest::PeerProcess peer("peer", {prefix_});
  peer.send("mutex-lock " + name(".m"));
  EXPECT_EQ(peer.readLine(300), "<timeout>");  // still held once by this thread
  give(mutex);
  EXPECT_EQ(peer.readLine(), "locked");
  EXPECT_EQ(peer.call("mutex-unlock " + name(".m")), "unlocked");
  EXPECT_EQ(peer.finish(), 0);
}

TEST_F(NamedMutexTest, OwnerKilledWhileHoldingIsRecovered) {
  vdtest::PeerProcess peer("peer", {prefix_});
  ASSERT_EQ(peer.call("mutex-lock " + name(".m")), "locked");
  platform::NamedMutex mutex(name(".m"));
  std::atomic<int> result{-1};
  std::thread waiter([&] {
    result = take(mutex) ? 1 : 0;
    give(mutex);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(result.load(), -1);  // blocked by the live owner
  peer.killNow();
  waiter.join();
  EXPECT_EQ(result.load(), 1);  // acquired, reported as abandoned
  EXPECT_FALSE(take(mutex));    // consistent again: later owners see nothing unusual
  give(mutex);
}

TEST_F(NamedMutexTest, UnrecoverableMutexIsAStatusNotAHang) {
  platform::NamedMutex mutex(name(".m"));
  vdtest::PeerProcess peer("peer", {prefix_});
  ASSERT_EQ(peer.call("mutex-lock " + name(".m")), "locked");
  peer.killNow();
  // Someone takes it over without making it consistent: it becomes unrecoverable.
  platform::SharedObject raw(platform::objectPath(name(".m")), platform::NamedMutex::kObjectSize);
  auto* m = static_cast<pthread_mutex_t*>(raw.data());
  ASSERT_EQ(pthread_mutex_lock(m), EOWNERDEAD);
  pthread_mutex_unlock(m);
  EXPECT_EQ(vdtest::statusOf([&] { take(mutex); }), StatusMutexUnrecoverable);
}

TEST_F(NamedMutexTest, RacingCreatorsNeverSeeHalfMadeObjects) {
  // Eight processes race to create each object; the creator's initialiser writes a marker
  // at both ends, and every process must see it the moment the object has its name.
  constexpr int kProcesses = 8, kRounds = 40;
  constexpr size_t kSize = 1 << 20;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      char c;
      close(go[1]);
      if (read(go[0], &c, 1) != 0) _exit(3);  // released when the pipe closes
      int bad = 0;
      for (int r = 0; r < kRounds; ++r) {
        platform::SharedObject obj(platform::objectPath(name(".race" + std::to_string(r))), kSize,
                                   [](void* d) {
                                     memcpy(d, "MADE", 4);
                                     memcpy(static_cast<char*>(d) + kSize - 4, "DONE", 4);
                                   });
        const char* d = static_cast<const char*>(obj.data());
        if (memcmp(d, "MADE", 4) != 0 || memcmp(d + kSize - 4, "DONE", 4) != 0) ++bad;
        platform::NamedMutex m(name(".racem" + std::to_string(r)));
        m.lock();
        m.unlock();
      }
      _exit(bad == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // Exactly the named objects are left: no temporary files.
  EXPECT_EQ(vdtest::listTestObjects(prefix_).size(), 2u * kRounds);
}

TEST_F(NamedMutexTest, ObjectsAreMappedOncePerProcessAndRefuseAWrongSize) {
  std::string path = platform::objectPath(name(".obj"));
  size_t before = platform::SharedObject::mappingCount();
  {
    platform::SharedObject a(path, 4096), b(path, 4096);
    EXPECT_EQ(a.data(), b.data());
    EXPECT_EQ(platform::SharedObject::mappingCount(), before + 1);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);  // everyone, whatever the umask
    EXPECT_EQ(vdtest::statusOf([&] { platform::SharedObject(path, 8192); }),
              StatusSharedObjectFailed);
  }
  EXPECT_EQ(platform::SharedObject::mappingCount(), before);

  // A handle dropped while its thread holds the mutex keeps the mapping alive.
  auto* mutex = new platform::NamedMutex(name(".held"));
  take(*mutex);
  size_t held = platform::SharedObject::mappingCount();
  mutex->close();
  EXPECT_EQ(platform::SharedObject::mappingCount(), held);
  delete mutex;
}

}  // namespace

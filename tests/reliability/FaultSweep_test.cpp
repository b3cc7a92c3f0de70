// The fault sweep: the catalog workload (FaultWorkload.h) is run once with the VFS switch
// counting, then once for every fault point N of a kind (every N, or a stride of them in the
// bounded version; VENDRITHANE_LONG=1 sweeps them all) with call N failing. Each run is a
// forked child under a time limit. After the first failing step another process must get a
// transaction on the catalog within seconds; after the run the catalog is reopened without
// faults and must be intact, hold every step that reported success and none that reported
// failure. Focused cases follow for what the sweep found and for truncation, which only
// compaction does.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "helpers/PeerProcess.h"
#include "helpers/ScratchDir.h"
#include "node/CatalogVfs.h"
#include "node/ConnectionPool.h"
#include "node/FaultInjection.h"
#include "node/NodeAccess.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "reliability/FaultRun.h"
#include "reliability/FaultWorkload.h"

using KESTRIN::Vendrithane::node::FaultKind;
using KESTRIN::Vendrithane::node::FaultPlan;
namespace vn = KESTRIN::Vendrithane::node;

namespace {

constexpr int kRunLimitMs = 30000;  // one run, workload and check; a hang ends it
constexpr int kPeerWaitMs = 5000;   // another process's open, begin, commit or close

bool writableDir(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode) && access(path, W_OK) == 0;
}

bool longSweep() {
  const char* value = getenv("VENDRITHANE_LONG");
  return value != nullptr && std::string(value) == "1";
}

// One kind of fault swept over its points.
struct SweepCase {
  FaultKind kind;
  int code;     // the engine result of the failing call
  bool sticky;  // every later call fails as well
  int budget;   // at most this many points in the bounded version (0: all)
};

std::string describe(const SweepCase& c) {
  return std::string(vn::faultKindName(c.kind)) + " code " + std::to_string(c.code) +
         (c.sticky ? " sticky" : " once");
}

// What the runs of one case came to.
struct Figures {
  long calls = 0;                   // calls of the kind in a clean run
  int points = 0;                   // runs made
  int fired = 0;                    // runs in which the fault was injected
  int reported = 0;                 // runs in which some step reported a failure
  int peerChecks = 0;               // times another process got a transaction meanwhile
  std::map<std::string, int> seen;  // "step=status" of failing steps, and how often
  double seconds = 0;               // wall time of the runs
};

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = vdtest::useTestPrefix();
    dir_ = scratch_.path();
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    peer_.reset();
    vdtest::removeTestObjects(prefix_);
    EXPECT_EQ(scratch_.remove(), std::error_code()) << dir_;
  }

  // A fresh directory for one run.
  std::string runDir() {
    std::string dir = dir_ + "run" + std::to_string(++runs_) + "/";
    mkdir(dir.c_str(), 0700);
    return dir;
  }
  void dropDir(const std::string& dir) {
    if (std::error_code ec = vdtest::removeTree(dir))
      ADD_FAILURE() << "cannot remove " << dir << ": " << ec.message();
  }

  // Whether another process opens the catalog in `dir` and begins and commits a transaction
  // on it, each within a few seconds; *why says what it got otherwise.
  bool otherProcessTransacts(const std::string& dir, std::string* why) {
    if (!peer_)
      peer_ = std::make_unique<vdtest::PeerProcess>("txn_peer", std::vector<std::string>{prefix_});
    const std::vector<std::string> commands = {"open cat " + dir, "begin", "commit", "close"};
    for (const std::string& command : commands) {
      std::string reply = peer_->call(command, kPeerWaitMs);
      if (reply != "0") {
        *why = "the other process's " + command.substr(0, command.find(' ')) + " gives " + reply;
        peer_.reset();  // it may be stuck: a new one next time
        return false;
      }
    }
    return true;
  }

  // The calls of every kind in a clean run; the clean run must succeed in every step.
  std::vector<long> cleanCounts() {
    const std::string dir = runDir();
    vdfault::RunResult result = vdfault::runForked(
        [&](vdfault::Channel& channel) {
          vn::countFaultCallsForTesting();
          vdfault::Workload workload(dir, channel);
          workload.run();
          vn::clearFaultForTesting();
          std::string calls = "calls";
          for (int k = 0; k < vn::kFaultKinds; ++k)
            calls += " " + std::to_string(vn::faultCallsForTesting(static_cast<FaultKind>(k)));
          channel.line(calls);
          workload.check();
        },
        kRunLimitMs, [] {});
    std::vector<long> counts;
    EXPECT_TRUE(result.ended && result.exitCode == 0) << "the clean run did not end";
    for (const std::string& line : result.lines) {
      if (line.rfind("calls ", 0) == 0) {
        std::istringstream in(line.substr(6));
        for (long n; in >> n;) counts.push_back(n);
      } else if (line.rfind("fail ", 0) == 0 || line == "held") {
        ADD_FAILURE() << "clean run: " << line;
      } else if (line.rfind("step ", 0) == 0 && line.substr(line.rfind(' ')) != " 0") {
        ADD_FAILURE() << "clean run: " << line;
      }
    }
    dropDir(dir);
    EXPECT_EQ(counts.size(), static_cast<size_t>(vn::kFaultKinds));
    counts.resize(vn::kFaultKinds, 0);
    return counts;
  }

  void finding(const std::string& text) {
    ++findings_;
    ADD_FAILURE() << text;
  }

  // One run with call `nth` of the case failing; adds to the figures and reports findings.
  void runPoint(const SweepCase& c, long nth, Figures* figures) {
    const std::string dir = runDir();
    const int findingsBefore = findings_;
    bool peerOk = true;
    std::string peerWhy;
    vdfault::RunResult result = vdfault::runForked(
        [&](vdfault::Channel& channel) {
          vn::setFaultForTesting(FaultPlan{c.kind, nth, c.code, c.sticky});
          vdfault::Workload workload(dir, channel);
          workload.run();
          long injected = vn::faultsInjectedForTesting();
          vn::clearFaultForTesting();
          channel.line("injected " + std::to_string(injected));
          workload.check();
        },
        kRunLimitMs,
        [&] {
          ++figures->peerChecks;
          peerOk = otherProcessTransacts(dir, &peerWhy) && peerOk;
        });
    ++figures->points;
    const std::string where = describe(c) + ", call " + std::to_string(nth);
    std::string transcript;
    bool reported = false;
    for (const std::string& line : result.lines) {
      transcript += "  " + line + "\n";
      if (line.rfind("injected ", 0) == 0 && line != "injected 0") ++figures->fired;
      if (line.rfind("step ", 0) == 0) {
        size_t space = line.rfind(' ');
        if (line.compare(space, std::string::npos, " 0") != 0) {
          reported = true;
          ++figures->seen[line.substr(5, space - 5) + "=" + line.substr(space + 1)];
        }
      }
    }
    if (reported) ++figures->reported;
    if (!result.ended) {
      finding(where + ": the run hung\n" + transcript);
    } else if (result.signal != 0 || result.exitCode != 0) {
      finding(where + ": the run ended with signal " + std::to_string(result.signal) + ", exit " +
              std::to_string(result.exitCode) + "\n" + transcript);
    } else if (result.lines.empty() || result.lines.back() != "end") {
      finding(where + ": the run did not finish\n" + transcript);
    }
    for (const std::string& line : result.lines) {
      if (line.rfind("fail ", 0) == 0) finding(where + ": " + line.substr(5));
    }
    if (!peerOk) finding(where + ": catalog held after a failure: " + peerWhy);
    if (findings_ > findingsBefore && ++failedPoints_ >= 20) {
      std::printf("[fault sweep] %s: stopped after 20 failing points\n", describe(c).c_str());
      stopped_ = true;
    }
    dropDir(dir);
  }

  // Sweeps the case over the clean run's calls of its kind.
  void sweep(const SweepCase& c) {
    std::vector<long> counts = cleanCounts();
    Figures figures;
    figures.calls = counts[static_cast<int>(c.kind)];
    ASSERT_GT(figures.calls, 0) << describe(c) << ": the workload makes no such call";
    long stride = 1;
    if (!longSweep() && c.budget > 0) stride = (figures.calls + c.budget - 1) / c.budget;
    const auto start = std::chrono::steady_clock::now();
    // The stride's offset moves with the kind so that bounded sweeps do not all hit the
    // first call of a group; the last call is always included.
    for (long nth = 1 + (stride > 1 ? static_cast<int>(c.kind) % stride : 0); nth <= figures.calls;
         nth += stride) {
      runPoint(c, nth, &figures);
      if (stopped_) return;
    }
    if (stride > 1 && (figures.calls - 1) % stride != 0) runPoint(c, figures.calls, &figures);
    // One point past the end: nothing is injected and everything succeeds.
    runPoint(c, figures.calls + 1, &figures);
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report(c, figures);
    EXPECT_GT(figures.fired, 0) << describe(c) << ": no fault was ever injected";
    EXPECT_GT(figures.reported, 0) << describe(c) << ": no failure was ever reported";
  }

  void report(const SweepCase& c, const Figures& f) {
    std::string seen;
    for (const auto& entry : f.seen) seen += " " + entry.first + "x" + std::to_string(entry.second);
    std::printf(
        "[fault sweep] %s: %ld calls, %d points, %d fired, %d reported a failure, "
        "%d checks by another process, %.1f s\n  failing steps:%s\n",
        describe(c).c_str(), f.calls, f.points, f.fired, f.reported, f.peerChecks, f.seconds,
        seen.c_str());
    RecordProperty("points", f.points);
    RecordProperty("fired", f.fired);
  }

  // Memory-backed when possible: the sweep makes thousands of syncs, and what it tests is
  // what the engine is told, not what the disk does.
  vdtest::ScratchDir scratch_{"vdfault-", writableDir("/dev/shm") ? "/dev/shm/" : "/tmp/"};
  std::string prefix_, dir_;
  int runs_ = 0;
  int findings_ = 0;                           // findings reported so far
  int failedPoints_ = 0;                       // runs that ended with a finding
  bool stopped_ = false;                       // too many findings: the sweep ends early
  std::unique_ptr<vdtest::PeerProcess> peer_;  // the other process, started on first use
};

TEST_F(FaultSweep, WriteErrorsOnce) {
  sweep({FaultKind::Write, SQLITE_IOERR_WRITE, false, 70});
}

TEST_F(FaultSweep, DiskFullStaysFull) {
  sweep({FaultKind::Write, SQLITE_FULL, true, 30});
}

TEST_F(FaultSweep, ReadOnlyFileRefusesWrites) {
  sweep({FaultKind::Write, SQLITE_READONLY, true, 30});
}

TEST_F(FaultSweep, SyncErrors) {
  sweep({FaultKind::Sync, SQLITE_IOERR_FSYNC, false, 0});
  sweep({FaultKind::Sync, SQLITE_IOERR_FSYNC, true, 15});
}

TEST_F(FaultSweep, ReadErrorsOnce) {
  sweep({FaultKind::Read, SQLITE_IOERR_READ, false, 40});
}

TEST_F(FaultSweep, LockErrorsOnce) {
  sweep({FaultKind::Lock, SQLITE_IOERR_LOCK, false, 40});
}

TEST_F(FaultSweep, JournalDeleteErrorsOnce) {
  sweep({FaultKind::Delete, SQLITE_IOERR_DELETE, false, 0});
}

// ---- Focused cases ----

// Arms the switch for its lifetime.
class ArmedFault {
 public:
  explicit ArmedFault(const FaultPlan& plan) { vn::setFaultForTesting(plan); }
  ~ArmedFault() { vn::clearFaultForTesting(); }
  ArmedFault(const ArmedFault&) = delete;
  ArmedFault& operator=(const ArmedFault&) = delete;
};

// The registry values of `tags` as committed, read on a connection of their own.
std::string committedTags(const std::string& mainFile) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(mainFile.c_str(), &db, SQLITE_OPEN_READWRITE, vn::catalogVfsName()) ==
      SQLITE_OK) {
    sqlite3_exec(
        db, "SELECT vd_tag FROM vd_registry WHERE vd_tag LIKE 't%' ORDER BY vd_tag;",
        [](void* text, int, char** values, char**) {
          *static_cast<std::string*>(text) += std::string(values[0] ? values[0] : "") + " ";
          return 0;
        },
        &out, nullptr);
  }
  sqlite3_close(db);
  return out;
}

// An I/O error inside a transaction makes the engine undo the whole transaction by itself.
// What the transaction does afterwards must not be committed statement by statement: the
// commit reports the failure, a rollback succeeds, and nothing of it is kept either way.
TEST_F(FaultSweep, ATransactionTheEngineUndidKeepsNothing) {
  KESTRIN::Vendrithane::Node node("cat", dir_.c_str());
  ASSERT_EQ(node.create(), 0);
  ASSERT_EQ(node.open(), 0);
  ASSERT_EQ(node.scalarStore("kept", 1), 0);
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    ASSERT_EQ(node.transactionBegin(), 0);
    {
      // The first write of the transaction is its journal's header.
      ArmedFault fault({FaultKind::Write, 1, SQLITE_IOERR_WRITE, false});
      EXPECT_EQ(node.scalarStore("t1", 1), 13);
      EXPECT_EQ(vn::faultsInjectedForTesting(), 1);
    }
    EXPECT_EQ(node.scalarStore("t2", 2), 0);  // goes with the rest of the transaction
    EXPECT_EQ(node.scalarStore("t3", 3), 0);
    if (commit) {
      EXPECT_EQ(node.transactionCommit(), 55);
    } else {
      EXPECT_EQ(node.transactionRollback(), 0);
    }
    EXPECT_EQ(node.transactionState(), 58);
    EXPECT_EQ(committedTags(dir_ + "cat.vd"), "");
  }
  // The catalog goes on: the next transaction commits.
  ASSERT_EQ(node.transactionBegin(), 0);
  EXPECT_EQ(node.scalarStore("t4", 4), 0);
  EXPECT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(committedTags(dir_ + "cat.vd"), "t4 ");
  EXPECT_EQ(node.close(), 0);
}

// The catalog's workload never truncates a file (rollback journals are deleted, files never
// shrink); compaction does. A failed truncation at the end of a VACUUM leaves the catalog
// intact and its records readable, and the next compaction succeeds.
TEST_F(FaultSweep, AFailedTruncationOfACompactionKeepsTheCatalog) {
  KESTRIN::Vendrithane::Node node("cat", dir_.c_str());
  ASSERT_EQ(node.create(), 0);
  ASSERT_EQ(node.open(), 0);
  std::vector<int> gone;
  int keptId = -1;
  for (int i = 0; i < 20; ++i) {
    KESTRIN::Vendrithane::Asset a = node.asset("clip", true);
    a.element("title") = std::string(20000, static_cast<char>('a' + i % 26)).c_str();
    ASSERT_EQ(a.store(), 0);
    (i == 7 ? keptId : gone.emplace_back()) = a.id();
  }
  ASSERT_EQ(node.assetRemove(gone), 0);
  struct stat before, after;
  ASSERT_EQ(stat((dir_ + "cat.vd").c_str(), &before), 0);
  {
    vn::ConnectionLease lease(KESTRIN::Vendrithane::NodeAccess::impl(node)->pool());
    {
      ArmedFault fault({FaultKind::Truncate, 1, SQLITE_IOERR_TRUNCATE, true});
      EXPECT_EQ(vn::execute(*lease, "VACUUM;"), 13);
      EXPECT_GE(vn::faultsInjectedForTesting(), 1);
    }
    std::vector<KESTRIN::Vendrithane::String> check =
        vn::queryColumn(*lease, "PRAGMA integrity_check;");
    ASSERT_EQ(check.size(), 1u);
    EXPECT_STREQ(check[0].buffer(), "ok");
  }
  KESTRIN::Vendrithane::String title = node.assetLoad(keptId).element("title");
  EXPECT_EQ(std::string(title.buffer()), std::string(20000, 'h'));
  {
    vn::ConnectionLease lease(KESTRIN::Vendrithane::NodeAccess::impl(node)->pool());
    EXPECT_EQ(vn::execute(*lease, "VACUUM;"), 0);
  }
  ASSERT_EQ(stat((dir_ + "cat.vd").c_str(), &after), 0);
  EXPECT_LT(after.st_size, before.st_size);
  EXPECT_EQ(node.close(), 0);
}

}  // namespace

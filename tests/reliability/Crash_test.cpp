// Crash safety: a helper process writes to a catalog and is killed with SIGKILL at random
// moments, inside commits, while it holds the per-catalog mutex with changes uncommitted,
// and while it is merely attached. After every kill the catalog must open (and take a
// transaction) without hanging, pass the engine's integrity check on both files, hold every
// transaction the helper acknowledged in full and the one it was ending either in full or
// not at all.
//
// The run is bounded for CI; VENDRITHANE_CRASH_ROUNDS and VENDRITHANE_CRASH_SECONDS make it
// longer (tools/crash-rounds.sh), VENDRITHANE_CRASH_SEED replays a run.
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "reliability/ReliabilityFixture.h"

using namespace KESTRIN::Vendrithane;

namespace {

enum class KillAt { Random, CommitWindow, Holding, Attached };
constexpr KillAt kCycle[] = {KillAt::Random,   KillAt::CommitWindow, KillAt::Random,
                             KillAt::Holding,  KillAt::CommitWindow, KillAt::Random,
                             KillAt::Attached, KillAt::CommitWindow};
constexpr int kHangMs = 20000;  // an open or begin after a kill that takes longer hangs

long envNumber(const char* name, long otherwise) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtol(text, nullptr, 10) : otherwise;
}

// What the killer saw of one helper before it killed it.
struct Observation {
  vdrel::PendingTxn pending;   // announced and not yet acknowledged (txn -1: none)
  std::string phase = "open";  // what the helper was doing: open, work, reopen, hold, idle
  int acknowledged = 0;
  int lastTxn = 0;
  std::vector<std::string> failures;
};

class CrashTest : public ReliabilityTest {
 protected:
  // Takes one line of the helper into the observation and the model of what is committed.
  void take(const std::string& line, Observation* seen) {
    std::string tag;
    vdrel::PendingTxn p = vdrel::PendingTxn::parse(line, &tag);
    if (tag == "ready") {
      seen->phase = "work";
    } else if (tag == "reopen") {
      seen->phase = "reopen";
    } else if (tag == "attached") {
      seen->phase = "idle";
    } else if (tag == "pending" || tag == "rollback" || tag == "holding") {
      p.commits = tag == "pending";
      seen->pending = p;
      seen->lastTxn = std::max(seen->lastTxn, p.txn);
      if (tag == "holding") seen->phase = "hold";
    } else if (tag == "done") {
      if (seen->pending.txn != p.txn) {
        seen->failures.push_back("done without its announcement: " + line);
        return;
      }
      if (seen->pending.commits) {
        if (!p.ops.empty()) resolveNewId(&seen->pending, std::stoi(p.ops[0]));
        expected_ = seen->pending.applied(expected_);
      }
      seen->pending = vdrel::PendingTxn();
      ++seen->acknowledged;
    } else if (tag == "fail" || tag == "<eof>") {
      seen->failures.push_back(line);
    }
  }

  // Gives a store announced without its id ("s:?:SLOT") the id it got.
  static void resolveNewId(vdrel::PendingTxn* p, int id) {
    for (auto& op : p->ops)
      if (op.compare(0, 3, "s:?") == 0) op = "s:" + std::to_string(id) + op.substr(3);
  }

  std::string idList() const {
    std::string text;
    for (const auto& r : expected_.records)
      text += (text.empty() ? "" : ",") + std::to_string(r.first);
    return text.empty() ? "-" : text;
  }

  // Lets the helper run until the kill moment of `at`, then kills it and reads what it wrote.
  Observation runAndKill(vdtest::PeerProcess& child, KillAt at, std::mt19937& rng) {
    Observation seen;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto readFor = [&](int ms) {
      std::string line = child.readLine(ms);
      if (line != "<timeout>") take(line, &seen);
      return line;
    };
    auto waitFor = [&](const char* cue) {
      for (;;) {
        std::string line = readFor(kHangMs);
        if (line == "<timeout>") seen.failures.push_back("helper silent for too long");
        if (line == "<eof>" || line == "<timeout>") return false;
        if (line.compare(0, strlen(cue), cue) == 0) return true;
      }
    };
    if (at == KillAt::Random) {
      // A third of the kills land while the helper starts: opening, attaching.
      const int ms = static_cast<int>(rng() % 3 == 0 ? rng() % 25 : rng() % 700);
      const auto deadline = start + std::chrono::milliseconds(ms);
      for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || readFor(static_cast<int>(left.count())) == "<eof>") break;
      }
    } else if (at == KillAt::CommitWindow) {
      // The n-th announced commit, and a few hundred microseconds into it.
      int wanted = 1 + static_cast<int>(rng() % 6);
      for (int announced = 0; announced < wanted && waitFor("pending "); ++announced) {
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1500));
    } else {
      waitFor(at == KillAt::Holding ? "holding" : "attached");
    }
    child.killNow();
    for (std::string line; (line = child.readLine(2000)) != "<eof>" && line != "<timeout>";)
      take(line, &seen);
    if (seen.pending.txn >= 0 && seen.phase == "work") seen.phase = "commit";
    return seen;
  }

  vdrel::CatalogModel expected_;  // every acknowledged transaction applied
};

const char* nameOf(KillAt at) {
  switch (at) {
    case KillAt::Random:
      return "random";
    case KillAt::CommitWindow:
      return "commit";
    case KillAt::Holding:
      return "hold";
    default:
      return "attached";
  }
}

}  // namespace

TEST_F(CrashTest, KilledWritersLoseNoAcknowledgedCommitAndLeaveNoPartialOne) {
  const unsigned seed = static_cast<unsigned>(
      envNumber("VENDRITHANE_CRASH_SEED", std::chrono::system_clock::now().time_since_epoch() /
                                              std::chrono::microseconds(1) % 1000000007));
  const long seconds = envNumber("VENDRITHANE_CRASH_SECONDS", 0);
  const long rounds = envNumber("VENDRITHANE_CRASH_ROUNDS", seconds > 0 ? 1L << 30 : 24);
  std::cout << "crash run seed " << seed << " (replay with VENDRITHANE_CRASH_SEED=" << seed << ")"
            << std::endl;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ASSERT_EQ(Node("crash", dir_.c_str()).create(), 0);

  const auto start = std::chrono::steady_clock::now();
  std::map<std::string, int> killsIn;  // phase of the helper at the kill
  int nextTxn = 1, acknowledged = 0, inFlightKept = 0, inFlightGone = 0, round = 0;
  for (; round < rounds; ++round) {
    if (seconds > 0 && std::chrono::steady_clock::now() - start > std::chrono::seconds(seconds))
      break;
    SCOPED_TRACE("round " + std::to_string(round));
    const KillAt at = kCycle[round % 8];
    // Every other round this process stays attached to the catalog meanwhile, so that the
    // dead helper's mutex and slot are met by a node that is already open.
    const bool keepOpen = round % 2 == 1;
    std::unique_ptr<Node> node = std::make_unique<Node>("crash", dir_.c_str());
    if (keepOpen) {
      ASSERT_EQ(node->open(), 0);
    }

    Observation seen;
    {
      const char* mode = at == KillAt::Holding    ? "hold"
                         : at == KillAt::Attached ? "attached"
                                                  : "work";
      vdtest::PeerProcess child("crash_peer", {prefix_, mode, "crash", dir_, std::to_string(rng()),
                                               std::to_string(nextTxn), idList()});
      seen = runAndKill(child, at, rng);
    }
    for (const auto& f : seen.failures) ADD_FAILURE() << "helper: " << f;
    if (at == KillAt::Holding) {
      EXPECT_EQ(seen.phase, "hold");
    } else if (at == KillAt::Attached) {
      EXPECT_EQ(seen.phase, "idle");
    }
    ++killsIn[std::string(nameOf(at)) + "/" + seen.phase];
    acknowledged += seen.acknowledged;
    nextTxn = std::max(nextTxn, seen.lastTxn + 1);

    // The catalog opens and takes a transaction without waiting for the dead helper.
    if (!keepOpen) {
      ASSERT_EQ(withinTime(kHangMs, "open after a kill", [&] { return node->open(); }), 0);
    }
    std::vector<std::string> problems;
    vdrel::CatalogModel actual = readModel(*node, "crash", &problems);
    for (const auto& p : problems) ADD_FAILURE() << p;
    vdrel::CatalogModel before = expected_;
    if (actual == before) {
      if (seen.pending.txn >= 0 && seen.pending.commits) ++inFlightGone;
    } else if (seen.pending.txn >= 0 && seen.pending.commits) {
      vdrel::PendingTxn p = seen.pending;
      // A store announced without its id: the one new record, if there is exactly one.
      std::vector<int> fresh;
      for (const auto& r : actual.records)
        if (!before.records.count(r.first)) fresh.push_back(r.first);
      if (fresh.size() == 1) resolveNewId(&p, fresh[0]);
      vdrel::CatalogModel after = p.applied(before);
      ASSERT_TRUE(actual == after)
          << "transaction " << p.txn << " is partly there:" << actual.differences(after)
          << "; against the state before it:" << actual.differences(before);
      expected_ = after;
      ++inFlightKept;
    } else {
      FAIL() << "the catalog is not as acknowledged:" << actual.differences(before);
    }

    // New ids do not meet the dead helper's: a store and the registry join one transaction.
    const int probe = nextTxn++;
    int probeId = withinTime(kHangMs, "a transaction after a kill", [&] {
      if (node->transactionBegin() != 0) return -1;
      Asset a = node->asset(vdrel::kRecordType, true);
      vdrel::writeContent(a, probe, 0);
      int stored = a.store();
      std::string last = "probe" + std::to_string(probe);
      int scalar = node->scalarStore(String(vdrel::kLastTag), String(last.c_str()));
      int committed = node->transactionCommit();
      return stored == 0 && scalar == 0 && committed == 0 ? a.id() : -2;
    });
    ASSERT_GT(probeId, 0);
    expected_.records[probeId] = {probe, 0};
    expected_.last = "probe" + std::to_string(probe);

    ASSERT_EQ(withinTime(kHangMs, "close", [&] { return node->close(); }), 0);
    ASSERT_EQ(integrity(mainFile("crash")), "ok");
    ASSERT_EQ(integrity(blobFile("crash")), "ok");
  }

  // Nothing of the dead helpers' catalog objects stays behind once the last user left.
  for (const auto& object : vdtest::listTestObjects(prefix_))
    EXPECT_EQ(object.find(':'), std::string::npos) << "left behind: " << object;

  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "crash run: " << round << " rounds in " << elapsed << " s, " << acknowledged
            << " acknowledged transactions, " << expected_.records.size()
            << " records at the end; transactions killed while ending: " << inFlightKept
            << " kept whole, " << inFlightGone << " gone whole; kills by moment:";
  for (const auto& k : killsIn) std::cout << " " << k.first << "=" << k.second;
  std::cout << std::endl;
}

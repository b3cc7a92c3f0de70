// The concurrency workload: threads that store, update and remove records of one catalog at
// once, alone or grouped in transactions that also count in the registry, and log every
// write the library acknowledged. Run inside the test program and by the stress helper in
// other processes; the logs are checked against the catalog afterwards (StressLog).
#ifndef VENDRITHANE_TESTS_RELIABILITY_RELIABILITYSTRESS_H
#define VENDRITHANE_TESTS_RELIABILITY_RELIABILITYSTRESS_H

#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ReliabilityContent.h"
#include "vendrithane/Node.h"

namespace vdrel {

constexpr char kStressType[] = "stress";  // collection type of the workers' records

struct StressOptions {
  int worker = 0;            // number of the process, part of every value
  int threads = 3;           // threads of the process
  int ops = 200;             // writes per thread
  unsigned seed = 1;         // of the threads' choices
  bool ownNodes = false;     // one Node per thread instead of one for all
  bool transactions = true;  // group some writes (and a counter step) in transactions
};

// One thread's writes. Each record is written by the thread that stored it only, so the
// last acknowledged value of a record is well defined. Log lines: "S ID VALUE" stored,
// "U ID VALUE" updated, "R ID" removed, "I" the registry counter stepped, "F WHAT STATUS" a
// call that failed.
class StressThread {
 public:
  StressThread(KESTRIN::Vendrithane::Node& node, const StressOptions& o, int thread)
      : node_(node),
        rng_(o.seed * 7919u + static_cast<unsigned>(thread) * 104729u + o.worker),
        tag_("p" + std::to_string(o.worker) + "t" + std::to_string(thread)),
        o_(o) {}

  std::vector<std::string> run() {
    for (int done = 0; done < o_.ops;) {
      if (o_.transactions && rng_() % 3 == 0) {
        done += group();
      } else {
        write(&log_);
        ++done;
      }
    }
    return log_;
  }

 private:
  using Status = KESTRIN::Vendrithane::Status;

  std::string value() { return tag_ + "o" + std::to_string(serial_++); }
  int pick() { return own_[rng_() % own_.size()]; }

  // One to three writes and a counter step in a transaction, committed or now and then
  // rolled back; returns the number of writes.
  int group() {
    std::vector<std::string> lines;
    std::vector<int> before = own_;
    int status = node_.transactionBegin();
    if (status != 0) {
      log_.push_back("F begin " + std::to_string(status));
      return 1;
    }
    int n = 1 + static_cast<int>(rng_() % 3);
    for (int i = 0; i < n; ++i) write(&lines);
    int count = 0;
    status = node_.scalarLoad(KESTRIN::Vendrithane::String(kCounterTag), count);
    if (status != 0 && status != KESTRIN::Vendrithane::StatusNotFound)
      lines.push_back("F counter-load " + std::to_string(status));
    status = node_.scalarStore(KESTRIN::Vendrithane::String(kCounterTag), count + 1);
    lines.push_back(status == 0 ? "I" : "F counter-store " + std::to_string(status));
    if (rng_() % 8 == 0) {
      status = node_.transactionRollback();
      if (status != 0) log_.push_back("F rollback " + std::to_string(status));
      own_ = before;
      for (const auto& line : lines)
        if (line[0] == 'F') log_.push_back(line);
      return n;
    }
    status = node_.transactionCommit();
    if (status != 0) {
      log_.push_back("F commit " + std::to_string(status));
      own_ = before;
      return n;
    }
    log_.insert(log_.end(), lines.begin(), lines.end());
    return n;
  }

  void write(std::vector<std::string>* lines) {
    using KESTRIN::Vendrithane::Asset;
    unsigned r = rng_() % 100;
    try {
      if (own_.empty() || r < 45) {
        Asset a = node_.asset(kStressType, true);
        std::string v = value();
        a.element("v") = v.c_str();
        if (r % 5 == 0) writeContent(a, static_cast<int>(serial_), static_cast<int>(r));
        int status = a.store();
        if (status != 0) return lines->push_back("F store " + std::to_string(status));
        own_.push_back(a.id());
        lines->push_back("S " + std::to_string(a.id()) + " " + v);
      } else if (r < 80) {
        int id = pick();
        Asset a = node_.assetLoad(id);
        std::string v = value();
        a.element("v") = v.c_str();
        int status = a.update();
        if (status != 0) return lines->push_back("F update " + std::to_string(status));
        lines->push_back("U " + std::to_string(id) + " " + v);
      } else {
        size_t at = rng_() % own_.size();
        int id = own_[at];
        int status;
        if (r % 2) {
          status = node_.assetRemove({id});
        } else {
          Asset a = node_.assetLoad(id);
          status = a.remove();
        }
        if (status != 0) return lines->push_back("F remove " + std::to_string(status));
        own_.erase(own_.begin() + static_cast<long>(at));
        lines->push_back("R " + std::to_string(id));
      }
    } catch (Status s) {
      lines->push_back("F thrown " + std::to_string(static_cast<int>(s)));
    }
  }

  KESTRIN::Vendrithane::Node& node_;
  std::mt19937 rng_;
  std::string tag_;  // this thread's part of every value
  StressOptions o_;
  unsigned serial_ = 0;   // values written so far
  std::vector<int> own_;  // records this thread stored and did not remove
  std::vector<std::string> log_;
};

// Runs the threads of one process on catalog `name` in `dir` and returns their logs, each
// line prefixed with "T<thread> ". A node that does not open logs "F open STATUS".
inline std::vector<std::string> runStress(const std::string& name, const std::string& dir,
                                          const StressOptions& o) {
  using KESTRIN::Vendrithane::Node;
  std::unique_ptr<Node> shared;
  if (!o.ownNodes) {
    shared = std::make_unique<Node>(name.c_str(), dir.c_str());
    int status = shared->open();
    if (status != 0) return {"T0 F open " + std::to_string(status)};
  }
  std::vector<std::vector<std::string>> logs(static_cast<size_t>(o.threads));
  std::vector<std::thread> threads;
  for (int t = 0; t < o.threads; ++t) {
    threads.emplace_back([&, t] {
      std::unique_ptr<Node> own;
      Node* node = shared.get();
      if (o.ownNodes) {
        own = std::make_unique<Node>(name.c_str(), dir.c_str());
        int status = own->open();
        if (status != 0) return logs[t].push_back("F open " + std::to_string(status));
        node = own.get();
      }
      logs[t] = StressThread(*node, o, t).run();
      if (own) {
        int status = own->close();
        if (status != 0) logs[t].push_back("F close " + std::to_string(status));
      }
    });
  }
  for (auto& t : threads) t.join();
  std::vector<std::string> all;
  for (int t = 0; t < o.threads; ++t)
    for (const auto& line : logs[t]) all.push_back("T" + std::to_string(t) + " " + line);
  if (shared) {
    int status = shared->close();
    if (status != 0) all.push_back("T0 F close " + std::to_string(status));
  }
  return all;
}

// What the logs of every worker say the catalog must hold.
struct StressLog {
  std::map<std::string, std::vector<std::string>> byThread;  // "worker/thread" -> lines
  std::vector<std::string> failures;
  std::map<int, std::string> live;  // record -> last acknowledged value
  std::set<int> removed;
  std::vector<std::string> duplicateIds;
  int counter = 0;
  int writes = 0;

  void add(int worker, const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
      std::string thread = line.substr(0, line.find(' '));
      byThread[std::to_string(worker) + "/" + thread].push_back(line.substr(thread.size() + 1));
    }
  }

  // Replays every thread's log in its order.
  void replay() {
    std::set<int> stored;
    for (const auto& entry : byThread) {
      for (const auto& line : entry.second) {
        std::istringstream in(line);
        std::string op, value;
        int id = 0;
        in >> op;
        if (op == "F") {
          failures.push_back(entry.first + ": " + line);
          continue;
        }
        if (op == "I") {
          ++counter;
          continue;
        }
        in >> id >> value;
        ++writes;
        if (op == "S") {
          if (!stored.insert(id).second) duplicateIds.push_back(std::to_string(id));
          live[id] = value;
        } else if (op == "U") {
          live[id] = value;
        } else if (op == "R") {
          live.erase(id);
          removed.insert(id);
        }
      }
    }
  }
};

}  // namespace vdrel

#endif  // VENDRITHANE_TESTS_RELIABILITY_RELIABILITYSTRESS_H

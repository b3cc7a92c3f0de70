// A helper process for the crash tests: works on a catalog until it is killed, announcing
// every transaction before it ends it and acknowledging it once it ended, one flushed line
// each, so that the killer knows which transactions must be in the catalog and which one may
// or may not be.
//
// Arguments: PREFIX MODE NAME DIR SEED FIRST IDS. MODE is one of
//   work      transactions of varied shapes for ever (stores, updates, removes with blobs,
//             nested levels, rollbacks, calls without a transaction, now and then a close
//             and reopen);
//   hold      one transaction left open, then "holding ..." and a wait: the helper dies
//             holding the per-catalog mutex with its changes uncommitted;
//   attached  the catalog open and idle, then "attached" and a wait.
// FIRST is the number of the first transaction; IDS the records in the catalog, comma-
// separated ("-" for none).
//
// Lines: "ready" (open), "pending K OPS" (about to commit), "rollback K OPS" (about to roll
// back), "done K" (ended as announced), "reopen", "holding K OPS", "attached", and
// "fail K WHAT STATUS" (the helper then exits with 2).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../reliability/ReliabilityContent.h"
#include "PeerLoop.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

namespace {

void say(const std::string& line) {
  std::cout << line << std::endl;
}

[[noreturn]] void fail(int txn, const std::string& what, int status) {
  say("fail " + std::to_string(txn) + " " + what + " " + std::to_string(status));
  std::exit(2);
}

void must(int status, int txn, const char* what) {
  if (status != 0) fail(txn, what, status);
}

// Blocks until the parent kills the process (or closes its input).
void waitForKill() {
  std::string line;
  while (std::getline(std::cin, line)) {
  }
}

class Worker {
 public:
  Worker(Node& node, unsigned seed, int first, std::vector<int> ids)
      : node_(node), rng_(seed), txn_(first), ids_(std::move(ids)) {}

  // One transaction of a shape drawn at random; returns after its "done" line.
  void step() {
    unsigned shape = rng_() % 12;
    if (rng_() % 40 == 0) reopen();
    PendingTxn p;
    p.txn = txn_++;
    switch (shape) {
      case 0:
      case 1:
      case 2:
      case 3:
        explicitTxn(&p, false);
        break;
      case 4:
        explicitTxn(&p, true);
        break;
      case 5:
      case 6:
        rolledBack(&p, shape == 6);
        break;
      case 7:
        singleStore(&p);
        break;
      case 8:
        singleUpdate(&p);
        break;
      default:
        removeMany(&p);
        break;
    }
  }

  void hold() {
    PendingTxn p;
    p.txn = txn_;
    p.commits = false;
    must(node_.transactionBegin(), p.txn, "begin");
    int n = 1 + static_cast<int>(rng_() % 25);  // more than 20 reserves a block inside
    for (int i = 0; i < n; ++i) store(&p, i);
    if (!ids_.empty()) update(&p, pick(), 10);
    if (ids_.size() > 1) remove(&p, pick());
    scalar(&p);
    say(p.line("holding"));
    waitForKill();
  }

 private:
  using PendingTxn = vdrel::PendingTxn;

  int pick() { return ids_[rng_() % ids_.size()]; }
  bool crowded() const { return ids_.size() > 60; }

  void store(PendingTxn* p, int slot) {
    Asset a = node_.asset(vdrel::kRecordType, true);
    vdrel::writeContent(a, p->txn, slot);
    must(a.store(), p->txn, "store");
    p->ops.push_back("s:" + std::to_string(a.id()) + ":" + std::to_string(slot));
  }
  void update(PendingTxn* p, int id, int slot) {
    Asset a = node_.assetLoad(id);
    vdrel::writeContent(a, p->txn, slot);
    must(a.update(), p->txn, "update");
    p->ops.push_back("u:" + std::to_string(id) + ":" + std::to_string(slot));
  }
  void remove(PendingTxn* p, int id) {
    for (const auto& op : p->ops)
      if (op.compare(0, 2, "r:") == 0 && std::stoi(op.substr(2)) == id) return;
    Asset a = node_.assetLoad(id);
    must(a.remove(), p->txn, "remove");
    p->ops.push_back("r:" + std::to_string(id));
  }
  void scalar(PendingTxn* p) {
    std::string value = "txn" + std::to_string(p->txn);
    must(node_.scalarStore(String(vdrel::kLastTag), String(value.c_str())), p->txn, "scalar");
    p->ops.push_back("c:" + value);
  }

  // A transaction of stores, updates and removes; nested: a second level around the stores.
  void explicitTxn(PendingTxn* p, bool nested) {
    must(node_.transactionBegin(), p->txn, "begin");
    if (nested) must(node_.transactionBegin(), p->txn, "begin");
    int stores = crowded() ? 0 : 1 + static_cast<int>(rng_() % 4);
    for (int i = 0; i < stores; ++i) store(p, i);
    if (nested) must(node_.transactionCommit(), p->txn, "inner commit");
    int updates = ids_.empty() ? 0 : static_cast<int>(rng_() % 3);
    for (int j = 0; j < updates; ++j) update(p, pick(), 10 + j);
    int removes = ids_.size() < 2 ? 0 : static_cast<int>(rng_() % (crowded() ? 4 : 2));
    for (int j = 0; j < removes; ++j) remove(p, pick());
    scalar(p);
    end(p);
  }

  // A transaction that is rolled back, at its own level or (nested) by an inner level.
  void rolledBack(PendingTxn* p, bool nested) {
    p->commits = false;
    must(node_.transactionBegin(), p->txn, "begin");
    if (nested) must(node_.transactionBegin(), p->txn, "begin");
    for (int i = 0, n = 1 + static_cast<int>(rng_() % 3); i < n; ++i) store(p, i);
    if (!ids_.empty()) update(p, pick(), 10);
    if (ids_.size() > 1) remove(p, pick());
    scalar(p);
    if (nested) must(node_.transactionRollback(), p->txn, "inner rollback");
    say(p->line("rollback"));
    must(nested ? node_.transactionCommit() : node_.transactionRollback(), p->txn, "rollback");
    say("done " + std::to_string(p->txn));
  }

  // One store in the transaction of its own: the id is known only afterwards.
  void singleStore(PendingTxn* p) {
    p->ops.push_back("s:?:0");
    say(p->line("pending"));
    Asset a = node_.asset(vdrel::kRecordType, true);
    vdrel::writeContent(a, p->txn, 0);
    must(a.store(), p->txn, "store");
    ids_.push_back(a.id());
    say("done " + std::to_string(p->txn) + " " + std::to_string(a.id()));
  }

  void singleUpdate(PendingTxn* p) {
    if (ids_.empty()) return singleStore(p);
    int id = pick();
    p->ops.push_back("u:" + std::to_string(id) + ":10");
    say(p->line("pending"));
    Asset a = node_.assetLoad(id);
    vdrel::writeContent(a, p->txn, 10);
    must(a.update(), p->txn, "update");
    say("done " + std::to_string(p->txn));
  }

  // Records removed by id in one call, all or none.
  void removeMany(PendingTxn* p) {
    if (ids_.size() < 4) return singleStore(p);
    std::vector<int> doomed;
    for (int i = 0, n = 1 + static_cast<int>(rng_() % 3); i < n; ++i) {
      int id = pick();
      bool seen = false;
      for (int d : doomed) seen = seen || d == id;
      if (seen) continue;
      doomed.push_back(id);
      p->ops.push_back("r:" + std::to_string(id));
    }
    say(p->line("pending"));
    must(node_.assetRemove(doomed), p->txn, "assetRemove");
    apply(*p);
    say("done " + std::to_string(p->txn));
  }

  void end(PendingTxn* p) {
    say(p->line("pending"));
    must(node_.transactionCommit(), p->txn, "commit");
    apply(*p);
    say("done " + std::to_string(p->txn));
  }

  // Keeps the list of records in step with a transaction that committed.
  void apply(const PendingTxn& p) {
    for (const auto& op : p.ops) {
      if (op[0] == 's') ids_.push_back(std::stoi(op.substr(2)));
      if (op[0] != 'r') continue;
      int id = std::stoi(op.substr(2));
      for (size_t i = 0; i < ids_.size(); ++i) {
        if (ids_[i] != id) continue;
        ids_[i] = ids_.back();
        ids_.pop_back();
        break;
      }
    }
  }

  void reopen() {
    must(node_.close(), txn_, "close");
    say("reopen");
    must(node_.open(), txn_, "open");
    say("ready");
  }

  Node& node_;
  std::mt19937 rng_;
  int txn_;               // number of the next transaction
  std::vector<int> ids_;  // records in the catalog
};

std::vector<int> parseIds(const std::string& text) {
  std::vector<int> ids;
  if (text == "-") return ids;
  std::istringstream in(text);
  for (std::string id; std::getline(in, id, ',');)
    if (!id.empty()) ids.push_back(std::stoi(id));
  return ids;
}

// Works on the catalog the arguments name as MODE says.
int work(int argc, char** argv) {
  const std::string mode = argv[2];
  unsigned seed = argc > 5 ? static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)) : 1;
  int first = argc > 6 ? std::atoi(argv[6]) : 1;
  std::vector<int> ids = parseIds(argc > 7 ? argv[7] : "-");
  try {
    Node node(argv[3], argv[4]);
    must(node.open(), first, "open");
    Worker worker(node, seed, first, ids);
    if (mode == "attached") {
      say("attached");
      waitForKill();
    } else if (mode == "hold") {
      say("ready");
      worker.hold();
    } else {
      say("ready");
      for (;;) worker.step();
    }
  } catch (Status s) {
    fail(first, "thrown", s);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return vdpeer::argumentMain(argc, argv, 5, "crash_peer PREFIX MODE NAME DIR [SEED FIRST IDS]",
                              work);
}

// Shared pieces of the transaction, id and registry tests: the id counter as stored, ids
// drawn on the calling thread's connection, and whether another thread gets a transaction.
#ifndef VENDRITHANE_TESTS_TXNFIXTURE_H
#define VENDRITHANE_TESTS_TXNFIXTURE_H

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>

#include "NodeFixture.h"
#include "node/IdAllocator.h"
#include "node/Statement.h"
#include "node/Transaction.h"

class TxnTest : public NodeTest {
 protected:
  // A new catalog, opened.
  KESTRIN::Vendrithane::Node opened(const std::string& name) {
    KESTRIN::Vendrithane::Node node = created(name);
    EXPECT_EQ(node.open(), 0);
    return node;
  }

  // The id counter in vd_id, read on a connection of its own.
  int counter(const std::string& name) {
    std::string text = raw(dir_ + name + ".vd", "SELECT vd_id FROM vd_id;");
    return text.empty() || text.compare(0, 5, "error") == 0 ? -999 : std::stoi(text);
  }

  // The registry value of `tag` as committed, "" when absent.
  std::string committed(const std::string& name, const std::string& tag) {
    std::string text =
        raw(dir_ + name + ".vd", "SELECT vd_value FROM vd_registry WHERE vd_tag='" + tag + "';");
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  static KESTRIN::Vendrithane::NodeImpl* impl(KESTRIN::Vendrithane::Node& node) {
    return KESTRIN::Vendrithane::NodeAccess::impl(node);
  }

  // One id drawn on the calling thread's connection.
  static int drawId(KESTRIN::Vendrithane::Node& node) {
    KESTRIN::Vendrithane::node::ConnectionLease lease(impl(node)->pool());
    return lease ? KESTRIN::Vendrithane::node::nextId(*lease) : -20;
  }

  // Whether another thread begins and commits a transaction within `ms` milliseconds. A
  // thread that cannot get in would wait for ever: the test program ends at once then.
  static bool otherThreadTransacts(KESTRIN::Vendrithane::Node& node, int ms = 2000) {
    auto done = std::async(std::launch::async, [&node] {
      int begun = node.transactionBegin();
      int ended = node.transactionCommit();
      return begun == 0 && ended == 0;
    });
    if (done.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready) {
      std::fprintf(stderr, "another thread cannot get a transaction: the catalog is still held\n");
      std::_Exit(1);
    }
    return done.get();
  }
};

// Transaction tests that run several threads: labelled "threads", so that they run under
// ThreadSanitizer too.
class TxnThreads : public TxnTest {};

#endif  // VENDRITHANE_TESTS_TXNFIXTURE_H

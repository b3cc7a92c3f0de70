// A peer process for the transaction and id tests: holds one Node and answers one line per
// command. The first argument is the object-name prefix of the test that started it.
//
// Commands: create NAME DIR | open NAME DIR | close | begin | commit | rollback | state | ids N (N
// ids drawn on the node's connection, space-separated) | rounds K N (K transactions of N ids each,
// all ids space-separated) | exists | cycle NAME DIR N (N opens and closes of another Node of
// catalog NAME: "N", or the first failing status as "open S" or "close S") | exit
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "PeerLoop.h"
#include "node/IdAllocator.h"
#include "node/NodeAccess.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

namespace {

std::unique_ptr<Node> gNode;  // the catalog of this peer

using vdpeer::reply;

Node& node() {
  if (!gNode) throw StatusNotOpen;
  return *gNode;
}

std::string drawIds(int n) {
  node::ConnectionLease lease(NodeAccess::impl(node())->pool());
  if (!lease) return "status 20";
  std::string ids;
  for (int i = 0; i < n; ++i) ids += (i ? " " : "") + std::to_string(node::nextId(*lease));
  return ids;
}

bool run(const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a, b;
  in >> cmd >> a >> b;
  if (cmd == "exit") return false;
  if (cmd == "create") {
    reply(std::to_string(Node(a.c_str(), b.c_str()).create()));
  } else if (cmd == "open") {
    gNode = std::make_unique<Node>(a.c_str(), b.c_str());
    reply(std::to_string(gNode->open()));
  } else if (cmd == "close") {
    reply(std::to_string(node().close()));
  } else if (cmd == "begin") {
    reply(std::to_string(node().transactionBegin()));
  } else if (cmd == "commit") {
    reply(std::to_string(node().transactionCommit()));
  } else if (cmd == "rollback") {
    reply(std::to_string(node().transactionRollback()));
  } else if (cmd == "state") {
    reply(std::to_string(node().transactionState()));
  } else if (cmd == "exists") {
    reply(std::to_string(node().exists()));
  } else if (cmd == "cycle") {
    std::string n;
    in >> n;
    std::string result = n;
    for (int k = 0; k < std::stoi(n); ++k) {
      Node other(a.c_str(), b.c_str());
      if (int opened = other.open()) {
        result = "open " + std::to_string(opened);
        break;
      }
      if (int closed = other.close()) {
        result = "close " + std::to_string(closed);
        break;
      }
    }
    reply(result);
  } else if (cmd == "ids") {
    reply(drawIds(std::stoi(a)));
  } else if (cmd == "rounds") {
    std::string all;
    for (int k = 0; k < std::stoi(a); ++k) {
      if (node().transactionBegin() != 0) throw StatusBeginFailed;
      all += (k ? " " : "") + drawIds(std::stoi(b));
      if (node().transactionCommit() != 0) throw StatusCommitFailed;
    }
    reply(all);
  } else {
    reply("unknown " + cmd);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  return vdpeer::commandMain(argc, argv, run, [] { gNode.reset(); });
}

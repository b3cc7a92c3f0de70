// A peer process for the multi-process catalog tests: holds Node handles of catalogs and
// answers one line per command. The first argument is the object-name prefix of the test
// that started it.
//
// Commands: node LABEL NAME DIR | open LABEL | check LABEL | close LABEL | version LABEL |
// exists LABEL | begin LABEL | commit LABEL (raw BEGIN IMMEDIATE / COMMIT on the node's
// connection) | try-write PATH (BEGIN IMMEDIATE without waiting on a connection of its own:
// "ok" or "busy") | exit
#include <sqlite3.h>

#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "PeerLoop.h"
#include "node/CatalogVfs.h"
#include "node/NodeAccess.h"
#include "node/Statement.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

namespace {

std::map<std::string, std::unique_ptr<Node>> gNodes;  // by label

using vdpeer::reply;

Node& nodeLabelled(const std::string& label) {
  auto& node = gNodes[label];
  if (!node) throw StatusNotFound;
  return *node;
}

// Runs `sql` on the calling thread's connection of the node.
int onConnection(Node& node, const char* sql) {
  node::ConnectionLease lease(NodeAccess::impl(node)->pool());
  if (!lease) return StatusNotOpen;
  return node::execute(*lease, sql);
}

std::string tryWrite(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, node::catalogVfsName());
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc == SQLITE_OK ? "ok" : rc == SQLITE_BUSY ? "busy" : "rc " + std::to_string(rc);
}

bool run(const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a, b, c;
  in >> cmd >> a >> b >> c;
  if (cmd == "exit") return false;
  if (cmd == "node") {
    gNodes[a] = std::make_unique<Node>(b.c_str(), c.c_str());
    reply("ok");
  } else if (cmd == "open") {
    reply(std::to_string(nodeLabelled(a).open()));
  } else if (cmd == "check") {
    reply(std::to_string(nodeLabelled(a).open(true)));
  } else if (cmd == "close") {
    reply(std::to_string(nodeLabelled(a).close()));
  } else if (cmd == "version") {
    reply("v" + std::string(nodeLabelled(a).version().buffer()));
  } else if (cmd == "exists") {
    reply(std::to_string(nodeLabelled(a).exists()));
  } else if (cmd == "begin") {
    reply(std::to_string(onConnection(nodeLabelled(a), "BEGIN IMMEDIATE;")));
  } else if (cmd == "commit") {
    reply(std::to_string(onConnection(nodeLabelled(a), "COMMIT;")));
  } else if (cmd == "try-write") {
    reply(tryWrite(a));
  } else {
    reply("unknown " + cmd);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  return vdpeer::commandMain(argc, argv, run, [] { gNodes.clear(); });
}

// A peer process for the asset tests: holds one Node and answers one line per command. The
// first argument is the object-name prefix of the test that started it.
//
// Commands: open NAME DIR | declare TYPE | destroy TYPE (own-table type) | store TYPE (a
// collection record; replies its id) | storeown TYPE (a record of an own-table type;
// replies its id) | index ELEMENT FLAGS | unindex ELEMENT (of the collection's records) |
// update ID ELEMENT [VALUE] (loads the collection record, sets the element to the text, or
// to a catalog blob of the bytes after "blob:", or erases it; updates) | remove ID |
// catdeclare NAME KEEP (a namespace of photo records; KEEP 1 keeps empty categories) |
// catstore NAME PATH (stores the node at PATH, "a/b", under namespace NAME; replies its id) |
// catrename ID LABEL | catremove ID | catkeep NAME 0|1 (the namespace's persistEmpty) |
// catapply NAME PATH ID | catunapply NAME PATH ID (files the record at, or takes it out of,
// the node at PATH and below) | fixdates NAME (fixDateCats of that namespace) | verify FIX
// (verifyAndFix, FIX 0 or 1) |
// counter ID N (N transactions each setting the record's element "n" and its blob element
// "b" to the same counter, 1..N; replies "done" or the first failing status) | spill N BYTES
// (begins a transaction and stores N records with blobs of BYTES bytes, replies "spilled"
// and leaves the transaction open) | backups NAME DIR N (N backups of a closed node of the
// catalog; replies the first failing status or "done") | restore NAME DIR (backupRestore of
// a closed node) | crashat KIND STEP (the test-only crash point: KIND 1 backup, 2 restore) |
// rawwrite NAME DIR (a registry row written through an engine connection of its own,
// which waits for file locks only, not for the per-catalog mutex) | watch (runs a monitor of
// the node on a thread of its own, replies 0 once it runs) | heard N (waits up to 10 s for
// N events and replies those heard, as "name:id" words) | unwatch (stops it, replies its
// status) | exit
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "EventRecorder.h"
#include "PeerLoop.h"
#include "node/FaultInjection.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Handler.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

namespace {

std::unique_ptr<Node> gNode;  // the catalog of this peer

using vdpeer::reply;

using Recorder = vdtest::EventRecorder;  // the handler of `watch`

std::unique_ptr<Recorder> gRecorder;
std::thread gWatcher;
int gWatched = 0;  // the monitor's status

void unwatch() {
  if (!gWatcher.joinable()) return;
  gRecorder->stop();
  gWatcher.join();
}

Node& node() {
  if (!gNode) throw StatusNotOpen;
  return *gNode;
}

bool run(const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a, b, c;
  in >> cmd >> a >> b >> c;
  auto stored = [](Asset asset) {
    asset.element("origin") = "peer";
    int status = asset.store();
    reply(status == 0 ? std::to_string(asset.id()) : "status " + std::to_string(status));
  };
  if (cmd == "exit") return false;
  if (cmd == "open") {
    gNode = std::make_unique<Node>(a.c_str(), b.c_str());
    reply(std::to_string(gNode->open()));
  } else if (cmd == "declare") {
    reply(std::to_string(node().assetDeclare(a.c_str(), false)));
  } else if (cmd == "destroy") {
    reply(std::to_string(node().assetDestroy(a.c_str(), false)));
  } else if (cmd == "store") {
    stored(node().asset(a.c_str(), true));
  } else if (cmd == "storeown") {
    stored(node().asset(a.c_str(), false));
  } else if (cmd == "index") {
    Asset asset = node().asset("any", true);
    reply(std::to_string(asset.element(a.c_str()).index(std::stoul(b))));
  } else if (cmd == "unindex") {
    Asset asset = node().asset("any", true);
    reply(std::to_string(asset.element(a.c_str()).unindex()));
  } else if (cmd == "update") {
    Asset asset = node().assetLoad(std::stoi(a));
    if (c.empty()) {
      asset.erase(b.c_str());
    } else if (c.compare(0, 5, "blob:") == 0) {
      Blob blob;
      blob.set(reinterpret_cast<unsigned char*>(&c[5]), c.size() - 5, Blob::LocationCatalog);
      asset.element(b.c_str()) = blob;
    } else {
      asset.element(b.c_str()) = c.c_str();
    }
    reply(std::to_string(asset.update()));
  } else if (cmd == "counter") {
    int id = std::stoi(a), n = std::stoi(b), status = 0;
    for (int i = 1; i <= n && status == 0; ++i) {
      status = node().transactionBegin();
      if (status != 0) break;
      Asset asset = node().assetLoad(id);
      std::string value = std::to_string(i);
      Blob blob;
      blob.set(reinterpret_cast<unsigned char*>(&value[0]), value.size(), Blob::LocationCatalog);
      asset.element("n") = value.c_str();
      asset.element("b") = blob;
      status = asset.update();
      int ended = status == 0 ? node().transactionCommit() : node().transactionRollback();
      if (status == 0) status = ended;
    }
    reply(status == 0 ? "done" : "status " + std::to_string(status));
  } else if (cmd == "spill") {
    int status = node().transactionBegin();
    std::string bytes(std::stoul(b), 'x');
    for (int i = 0, n = std::stoi(a); i < n && status == 0; ++i) {
      Asset asset = node().asset("spill", true);
      Blob blob;
      bytes[0] = static_cast<char>('a' + i % 26);
      blob.set(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), Blob::LocationCatalog);
      asset.element("b") = blob;
      status = asset.store();
    }
    reply(status == 0 ? "spilled" : "status " + std::to_string(status));
  } else if (cmd == "backups") {
    Node other(a.c_str(), b.c_str());
    int status = 0;
    for (int i = 0, n = std::stoi(c); i < n && status == 0; ++i)
      status = other.backup(false, false, false);
    reply(status == 0 ? "done" : "status " + std::to_string(status));
  } else if (cmd == "restore") {
    reply(std::to_string(Node(a.c_str(), b.c_str()).backupRestore(false, false)));
  } else if (cmd == "rawwrite") {
    node::NodeConnection connection(b + a + ".vd", b + a + ".vm", nullptr, false);
    reply(std::to_string(
        node::execute(connection, node::sqlFormat(node::kRegistryStore, "peer", "1"))));
  } else if (cmd == "crashat") {
    node::setCrashPointForTesting(static_cast<node::CrashPoint>(std::stoi(a)), std::stol(b));
    reply("0");
  } else if (cmd == "remove") {
    reply(std::to_string(node().assetRemove({std::stoi(a)})));
  } else if (cmd == "catdeclare") {
    Asset prototype = node().asset("photo", true);
    reply(std::to_string(node().categoryDeclare(a.c_str(), prototype, b == "1", false)));
  } else if (cmd == "catstore") {
    Category category = node().category(a.c_str());
    std::istringstream path(b);
    for (std::string label; std::getline(path, label, '/');) category.subCategory(label.c_str());
    int status = category.add();
    reply(status == 0 ? std::to_string(category.id()) : "status " + std::to_string(status));
  } else if (cmd == "catrename") {
    reply(std::to_string(node().categoryLoad(std::stoi(a)).label(b.c_str())));
  } else if (cmd == "catremove") {
    reply(std::to_string(node().categoryLoad(std::stoi(a)).remove()));
  } else if (cmd == "catapply" || cmd == "catunapply") {
    Category category = node().category(a.c_str());
    std::istringstream path(b);
    for (std::string label; std::getline(path, label, '/');) category.subCategory(label.c_str());
    std::vector<int> ids{std::stoi(c)};
    reply(std::to_string(cmd == "catapply" ? category.apply(ids) : category.unapply(ids)));
  } else if (cmd == "fixdates") {
    reply(std::to_string(node().fixDateCats({node().category(a.c_str()).id()})));
  } else if (cmd == "verify") {
    reply(std::to_string(node().verifyAndFix(a == "1", false)));
  } else if (cmd == "catkeep") {
    reply(std::to_string(node().category(a.c_str()).persistEmpty(b == "1")));
  } else if (cmd == "watch") {
    gRecorder = std::make_unique<Recorder>();
    Node& watched = node();
    gWatcher = std::thread([&watched] { gWatched = watched.monitor(*gRecorder); });
    while (!gRecorder->option(Handler::MonitorMode))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    reply("0");
  } else if (cmd == "heard") {
    reply(gRecorder->heard(std::stoi(a)));
  } else if (cmd == "unwatch") {
    unwatch();
    reply(std::to_string(gWatched));
  } else {
    reply("unknown " + cmd);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  return vdpeer::commandMain(argc, argv, run, [] {
    unwatch();
    gNode.reset();
  });
}

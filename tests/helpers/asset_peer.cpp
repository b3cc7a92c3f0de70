// A peer process for the asset tests: holds one Node and answers one line per command. The
// first argument is the object-name prefix of the test that started it.
//
// Commands: open NAME DIR | declare TYPE | destroy TYPE (own-table type) | store TYPE (a
// collection record; replies its id) | storeown TYPE (a record of an own-table type;
// replies its id) | index ELEMENT FLAGS | unindex ELEMENT (of the collection's records) |
// update ID ELEMENT [VALUE] (loads the collection record, sets the element to the text, or
// to a catalog blob of the bytes after "blob:", or erases it; updates) | remove ID |
// catdeclare NAME KEEP (a namespace of photo records; KEEP 1 keeps empty categories) |
// catstore NAME LABEL (stores the child LABEL of namespace NAME; replies its id) |
// catrename ID LABEL | catremove ID | catkeep NAME 0|1 (the namespace's persistEmpty) | exit
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "PeerLoop.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

namespace {

std::unique_ptr<Node> gNode;  // the catalog of this peer

using vdpeer::reply;

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
  } else if (cmd == "remove") {
    reply(std::to_string(node().assetRemove({std::stoi(a)})));
  } else if (cmd == "catdeclare") {
    Asset prototype = node().asset("photo", true);
    reply(std::to_string(node().categoryDeclare(a.c_str(), prototype, b == "1", false)));
  } else if (cmd == "catstore") {
    Category category = node().category(a.c_str());
    category.subCategory(b.c_str());
    int status = category.add();
    reply(status == 0 ? std::to_string(category.id()) : "status " + std::to_string(status));
  } else if (cmd == "catrename") {
    reply(std::to_string(node().categoryLoad(std::stoi(a)).label(b.c_str())));
  } else if (cmd == "catremove") {
    reply(std::to_string(node().categoryLoad(std::stoi(a)).remove()));
  } else if (cmd == "catkeep") {
    reply(std::to_string(node().category(a.c_str()).persistEmpty(b == "1")));
  } else {
    reply("unknown " + cmd);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  return vdpeer::commandMain(argc, argv, run, [] { gNode.reset(); });
}

// The membership listings: the categories that hold some records or categories, each
// delivered to the caller's handler with the number of the listed members it holds.
#include <cstdlib>
#include <string>
#include <vector>

#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "handler/HandlerImpl.h"
#include "node/NodeAccess.h"
#include "node/Statement.h"
#include "node/StatusOf.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

// A category holding some of the listed members, with how many.
struct Holding {
  Category category;
  int count;
};

// The categories holding any of `members` ("(id,...)"), of the namespace `name` unless it
// is empty, read under the per-catalog mutex (released before any event runs). 0, 30 (no
// such namespace), or a read's status. A membership row naming a category that is not in
// the catalog's tree (a damaged file) is passed over.
int holdingsOf(NodeImpl* node, const std::string& members, const String& name,
               std::vector<Holding>* out) {
  category::Operation op(node);
  int space = category::kNone;
  if (name.length() > 0) {
    space = op.cache.findChild(category::kRootId, name, true);
    if (space == category::kNone) return StatusNotFound;
  }
  const std::vector<String> ids = node::queryColumn(
      op.connection(), node::sqlFormat(category::kSelectHoldersOfList, members.c_str()));
  for (const String& text : ids) {
    const int id = static_cast<int>(std::strtol(text.buffer(), nullptr, 10));
    category::TreeEntry e;
    if (!op.cache.entry(id, &e)) {
      if (op.cache.loadNode(op.connection(), id) != StatusOk) continue;
      op.cache.loadPopulation(op.connection(), id);
      if (!op.cache.entry(id, &e)) continue;
    }
    if (space != category::kNone && e.namespaceId != space) continue;
    String count;
    const Status counted = node::queryValue(
        op.connection(), node::sqlFormat(category::kCountHeldOfList, members.c_str(), id), &count);
    if (counted != StatusOk) return counted;
    CategoryImpl* object = op.cache.acquire(id);
    if (object == nullptr) continue;
    out->push_back({CategoryAccess::adopt(object),
                    static_cast<int>(std::strtol(count.buffer(), nullptr, 10))});
  }
  return StatusOk;
}

int listHoldings(NodeImpl* node, const std::vector<int>& ids, Handler& handler,
                 const char* nameSpace) {
  handler::Operation operation(handler);
  if (ids.empty()) return StatusOk;  // nothing to list: the handler stays as it was
  if (!operation.ready()) return StatusNotReady;
  operation.begin(true);
  handler.option(Handler::CategoryMode, true);
  if (node == nullptr || !node->isOpen()) return StatusNotOpen;
  const std::string members = "(" + category::joinIds(ids) + ")";
  std::vector<Holding> holdings;
  const int read = node::statusOf([&] {
    return holdingsOf(node, members, String(nameSpace == nullptr ? "" : nameSpace), &holdings);
  });
  if (read == StatusNotFound) HandlerAccess::progressInc(handler, handler::kProgressRow);
  if (read != StatusOk) return read;
  HandlerImpl& impl = HandlerAccess::impl(handler);
  for (Holding& each : holdings) {
    if (impl.isStopped()) {
      handler.stoppedEvent();
      return StatusStopped;
    }
    handler::deliver(handler, each.category, each.count);
  }
  HandlerAccess::progressInc(handler, handler::kProgressFinal);
  return StatusOk;
}

}  // namespace

int Category::categoryMembership(Handler& handler, char* nameSpace) {
  return listHoldings(m_impl->node.load(), {m_impl->id.load()}, handler, nameSpace);
}

int Asset::categoryMembership(Handler& handler, char* nameSpace) {
  Node owner = node();  // held for the call
  return listHoldings(NodeAccess::impl(owner), {id()}, handler, nameSpace);
}

int Node::categoryMembership(std::vector<Asset*> const& assets, Handler& handler, char* nameSpace) {
  std::vector<int> ids;
  for (Asset* asset : assets) ids.push_back(asset == nullptr ? -1 : asset->id());
  return listHoldings(m_impl, ids, handler, nameSpace);
}

int Node::categoryMembership(std::vector<Category*> const& categories, Handler& handler,
                             char* nameSpace) {
  std::vector<int> ids;
  for (Category* category : categories) ids.push_back(category == nullptr ? -1 : category->id());
  return listHoldings(m_impl, ids, handler, nameSpace);
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// The two loads into a handler: the records or the category nodes a filter selects, the
// filter's statement stepped on the calling thread's connection and each row delivered as
// it is read. Record rows become objects through the live-asset table without parsing;
// category ids through the tree cache (a node not cached yet is loaded as categoryLoad(int)
// does).
//
// What a load holds while it delivers: the handler's delivery lock and the statement's read
// of the catalog file, never the per-catalog mutex (a category load takes it at its start,
// to apply other nodes' changes, and again only to load a node the cache lacks). Event
// methods may therefore call any catalog or category operation.
#include <memory>
#include <string>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/CatalogAssets.h"
#include "category/CategoryOps.h"
#include "handler/HandlerImpl.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "query/FilterImpl.h"
#include "query/QueryStatements.h"
#include "query/Render.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using platform::RecursiveLock;

// The table of a quoted identifier ("photo" -> photo).
String unquoted(const std::string& quoted) {
  std::string out;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    out += quoted[i];
    if (quoted[i] == '"') ++i;  // a doubled quote
  }
  return String(quoted.size() >= 2 && quoted.front() == '"' ? out.c_str() : quoted.c_str());
}

// The connection a running load's statement uses, known to stop() until the statement ends.
class Registration {
 public:
  Registration(HandlerImpl& impl, node::NodeConnection* connection) : impl_(impl) {
    RecursiveLock hold(impl_.optionsLock);
    impl_.running = connection;
  }
  ~Registration() { end(); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  void end() {
    RecursiveLock hold(impl_.optionsLock);
    impl_.running = nullptr;
  }

 private:
  HandlerImpl& impl_;
};

// The category of a row's id: the cached one, else loaded from the catalog. Null when its
// row cannot be read (or lies outside the trees).
CategoryImpl* categoryOf(NodeImpl& node, int id) {
  category::CategoryCache& cache = category::CategoryCache::of(node);
  if (CategoryImpl* cached = cache.acquire(id)) return cached;
  category::Operation op(&node);
  if (op.cache.loadNode(op.connection(), id) != StatusOk) return nullptr;
  op.cache.loadPopulation(op.connection(), id);
  return op.cache.acquire(id);
}

int load(NodeImpl* node, Filter& filter, Handler& handler, bool categories) {
  if (node == nullptr || !node->isOpen()) return StatusNotOpen;
  HandlerImpl& impl = HandlerAccess::impl(handler);
  handler::Operation operation(handler);
  if (!operation.ready()) return StatusNotReady;
  query::BuildFlags flags;
  flags.idsOnly = categories;
  query::Built built;
  try {
    built = query::buildStatement(FilterAccess::snapshot(filter), flags,
                                  categories ? category::quotedNodeTable() : std::string(), node);
  } catch (Status refused) {
    return refused;
  }
  node::ConnectionLease lease(node->pool());
  if (!lease) return StatusNotOpen;
  if (categories) {
    category::Operation catchUp(node);  // other nodes' changes applied
  }

  operation.begin(true);
  {
    RecursiveLock options(impl.optionsLock);
    impl.recordRows = built.recordRows;
  }
  handler.option(categories ? Handler::CategoryMode : Handler::AssetMode, true);
  {
    RecursiveLock results(impl.resultsLock);
    (categories ? impl.categoryCount : impl.assetCount) = 0;
    impl.filter = std::make_unique<Filter>(filter);  // shared, for subFilter
  }
  const String ownType = unquoted(built.mainTable);

  Registration registration(impl, lease.get());
  node::Statement statement(*lease, built.text);
  bool unreadable = false;
  while (statement.valid() && !impl.isStopped() && statement.step()) {
    const int id = static_cast<int>(statement.columnInt64(0));
    if (categories) {
      CategoryImpl* object = categoryOf(*node, id);
      if (object == nullptr) {
        unreadable = true;
        break;
      }
      Category item = CategoryAccess::adopt(object);
      handler::deliver(handler, item);
    } else {
      const bool tagged = built.recordRows && statement.columnCount() >= 3;
      AssetImpl* object = assets::assetFromRow(*node, id, statement.columnText(1),
                                               tagged ? statement.columnText(2) : ownType, tagged);
      Asset item = AssetAccess::make(object);
      handler::deliver(handler, item);
    }
  }
  registration.end();
  if (impl.isStopped()) {
    handler.stoppedEvent();
    return StatusStopped;
  }
  if (unreadable || !statement.valid() || statement.failed()) {
    const node::EngineError error = statement.error();
    lease->recordError(StatusEngineFailure, unreadable ? 0 : error.code,
                       unreadable ? "a category of the result cannot be read" : error.message,
                       built.text);
    handler.errorEvent(StatusEngineFailure);
    return error.readOnly() && !unreadable ? StatusReadOnly : StatusEngineFailure;
  }
  HandlerAccess::progressInc(handler, handler::kProgressFinal);
  return StatusOk;
}

}  // namespace

int Node::assetLoad(Filter& filter, Handler& handler) {
  return load(m_impl, filter, handler, false);
}

int Node::categoryLoad(Filter& filter, Handler& handler) {
  return load(m_impl, filter, handler, true);
}

}  // namespace Vendrithane
}  // namespace KESTRIN

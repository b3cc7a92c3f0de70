// The sub-category walk: a category's stored children delivered to a handler, from the
// tree cache, or from the catalog when the cache holds no children of it.
#include <string>
#include <vector>

#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "handler/HandlerImpl.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/StatusOf.h"
#include "query/FilterImpl.h"
#include "query/Render.h"
#include "vendrithane/Filter.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

// The children to deliver, read under the per-catalog mutex (which is released before
// any event runs, so that event methods may call category operations, and writers of
// other processes are not held up for the whole walk). 0, 31, 47, or 74 with the engine's
// code in *engineCode.
// `clause`: the filter's clause-only text, null without a filter (then the children in
// memory are delivered when there are any).
Status childrenOf(CategoryImpl* impl, const std::string* clause, std::vector<Category>* out,
                  int* engineCode) {
  category::Operation op(category::nodeOf(*impl));
  if (!op.cache.holds(impl)) return StatusNotAllowed;
  const int id = impl->id.load();
  std::vector<int> cached = op.cache.children(id, false);
  if (clause == nullptr && !cached.empty()) {
    for (int child : op.cache.children(id, true)) {
      if (child <= 0) continue;
      CategoryImpl* object = op.cache.acquire(child);
      if (object != nullptr) out->push_back(CategoryAccess::adopt(object));
    }
    return StatusOk;
  }
  node::Statement s(op.connection(), node::sqlFormat(category::kSelectChildren, id,
                                                     clause != nullptr ? clause->c_str() : ""));
  if (s.valid() && s.columnCount() != 4) return StatusEngineFailure;
  while (s.valid() && s.step()) {
    CategoryImpl* object = category::objectForRow(op, static_cast<int>(s.columnInt64(0)),
                                                  s.columnText(1), id, s.columnText(3));
    if (object != nullptr) out->push_back(CategoryAccess::adopt(object));
  }
  if (!s.valid() || s.failed()) {
    *engineCode = s.code();
    op.connection().recordError(StatusRowsDropped, s.code(), s.error().message, s.sql());
    return StatusRowsDropped;
  }
  return StatusOk;
}

}  // namespace

namespace {

int walk(CategoryImpl* category, Filter* filter, Handler& handler) {
  std::string clause;
  if (filter != nullptr) {
    NodeImpl* node = category->node.load();
    if (node == nullptr) return StatusNotOpen;
    query::BuildFlags flags;
    flags.clauseOnly = true;
    try {
      clause = query::buildStatement(FilterAccess::snapshot(*filter), flags,
                                     category::quotedNodeTable(), node)
                   .text;
    } catch (Status refused) {
      return refused;
    }
  }
  handler::Operation operation(handler);
  operation.begin(false);
  HandlerImpl& impl = HandlerAccess::impl(handler);
  {
    platform::RecursiveLock hold(impl.optionsLock);
    impl.ready = false;
  }
  handler.option(Handler::CategoryMode, true);
  std::vector<Category> children;
  int engineCode = 0;
  const int read = node::statusOf([&] {
    return childrenOf(category, filter != nullptr ? &clause : nullptr, &children, &engineCode);
  });
  if (read == StatusRowsDropped) {
    handler.errorEvent(engineCode);
    return read;
  }
  if (read != StatusOk) return read;
  for (Category& child : children) {
    if (impl.isStopped()) break;
    handler::deliver(handler, child);
  }
  if (impl.isStopped()) {
    handler.stoppedEvent();
    return StatusStopped;
  }
  HandlerAccess::progressInc(handler, handler::kProgressFinal);
  return StatusOk;
}

}  // namespace

int Category::subCategories(Handler& handler) {
  return walk(m_impl, nullptr, handler);
}

int Category::subCategories(Filter& filter, Handler& handler) {
  return walk(m_impl, &filter, handler);
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// Narrowing a handler's kept items by a second filter, and putting them back.
#include <string>
#include <unordered_map>
#include <vector>

#include "category/CategoryOps.h"
#include "handler/HandlerImpl.h"
#include "node/NodeAccess.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "query/FilterImpl.h"
#include "query/QueryStatements.h"
#include "query/Render.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using platform::RecursiveLock;

// Keeps the items of `list` whose ids `ids` holds, in the order of `ids`, then the window
// of `narrowing` over them; *matched receives how many matched.
template <class Item>
std::vector<Item> narrowed(std::vector<Item>& list, const std::vector<int>& ids,
                           const query::FilterState& narrowing, int* matched) {
  std::unordered_map<int, size_t> at;  // id -> its item in `list`
  for (size_t i = 0; i < list.size(); ++i) at.emplace(list[i].id(), i);
  std::vector<Item> matching;
  for (int id : ids) {
    auto found = at.find(id);
    if (found == at.end()) continue;
    matching.push_back(list[found->second]);
    at.erase(found);  // once, also when the statement repeats it
  }
  *matched = static_cast<int>(matching.size());
  const size_t start = narrowing.offset > 0 ? static_cast<size_t>(narrowing.offset) : 0;
  size_t end = matching.size();
  if (narrowing.limit > 0 && start + static_cast<size_t>(narrowing.limit) < end)
    end = start + static_cast<size_t>(narrowing.limit);
  if (start >= end) return {};
  return std::vector<Item>(matching.begin() + start, matching.begin() + end);
}

}  // namespace

int Handler::subFilter(Filter& narrowing) {
  handler::Operation operation(*this);  // no load or replay meanwhile
  if (!m_impl->option(Keep)) return StatusEmptyArgument;
  const bool categories = !m_impl->option(AssetMode);
  std::vector<Asset> assets;
  std::vector<Category> kept;
  query::FilterState base;
  {
    RecursiveLock hold(m_impl->resultsLock);
    if (categories) {
      kept = m_impl->savedCategories.empty() ? m_impl->keptCategories : m_impl->savedCategories;
    } else {
      assets = m_impl->savedAssets.empty() ? m_impl->keptAssets : m_impl->savedAssets;
    }
    if (m_impl->filter) base = FilterAccess::snapshot(*m_impl->filter);
  }
  if (categories ? kept.empty() : assets.empty()) return StatusNothingKept;
  // The catalog through an item: a handle that keeps it alive, or none once it has gone.
  Node node = categories ? kept.front().node() : assets.front().node();
  NodeImpl* catalog = NodeAccess::impl(node);
  if (!catalog->isOpen()) return StatusNotOpen;

  const query::FilterState second = FilterAccess::snapshot(narrowing);
  if (base.prototype && second.prototype &&
      base.prototype->name().compareNoCase(second.prototype->name().buffer()) != 0)
    return StatusBadFilter;
  query::FilterState both = base;
  both.condition = base.condition && second.condition;
  both.allowDuplicates = base.allowDuplicates && second.allowDuplicates;
  both.terms = second.terms;
  if (!both.prototype) both.prototype = second.prototype;
  both.limit = -1;  // every match, in the second filter's order
  both.offset = -1;
  query::BuildFlags flags;
  flags.idsOnly = true;
  std::string sql;
  try {
    sql = query::buildStatement(both, flags,
                                categories ? category::quotedNodeTable() : std::string(), catalog)
              .text;
  } catch (Status refused) {
    return refused;
  }
  node::ConnectionLease lease(catalog->pool());
  if (!lease) return StatusNotOpen;
  std::vector<int> ids;
  {
    node::Statement statement(*lease, sql);
    while (statement.valid() && statement.step())
      ids.push_back(static_cast<int>(statement.columnInt64(0)));
    if (!statement.valid() || statement.failed()) {
      const node::EngineError error = statement.error();
      lease->recordError(StatusEngineFailure, error.code, error.message, sql);
      return StatusEngineFailure;
    }
  }
  int matched = 0;
  RecursiveLock hold(m_impl->resultsLock);
  if (categories) {
    std::vector<Category> window = narrowed(kept, ids, second, &matched);
    if (m_impl->savedCategories.empty()) m_impl->savedCategories = m_impl->keptCategories;
    m_impl->keptCategories = window;
    m_impl->categoryCount = matched;
  } else {
    std::vector<Asset> window = narrowed(assets, ids, second, &matched);
    if (m_impl->savedAssets.empty()) m_impl->savedAssets = m_impl->keptAssets;
    m_impl->keptAssets = window;
    m_impl->assetCount = matched;
  }
  return StatusOk;
}

int Handler::subFilter() {
  const bool categories = !m_impl->option(AssetMode);
  RecursiveLock hold(m_impl->resultsLock);
  if (categories && !m_impl->savedCategories.empty()) {
    m_impl->keptCategories.swap(m_impl->savedCategories);
    m_impl->savedCategories.clear();
    m_impl->categoryCount = static_cast<int>(m_impl->keptCategories.size());
  } else if (!categories && !m_impl->savedAssets.empty()) {
    m_impl->keptAssets.swap(m_impl->savedAssets);
    m_impl->savedAssets.clear();
    m_impl->assetCount = static_cast<int>(m_impl->keptAssets.size());
  }
  return StatusOk;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

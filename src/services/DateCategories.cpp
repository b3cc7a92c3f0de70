// Date trees (a namespace whose top-level nodes are years, then months "01" to "12", then
// days "01" to "31"): the check for impossible years, and the repair of month and day
// labels written without their leading zero, which merges each such node with its sibling
// of the proper label.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "asset/AssetStatements.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "monitor/EventKinds.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/StatusOf.h"
#include "node/Transaction.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using category::Operation;

// The value of a label that is a decimal integer from 0 to 9 (an optional sign, digits, no
// fraction or exponent); -1 for any other label.
int singleDigit(const String& label) {
  const char* p = label.buffer();
  if (*p == '+' || *p == '-') ++p;
  if (*p == '\0') return -1;
  long value = 0;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
    if (value > 9) return -1;
  }
  return label.buffer()[0] == '-' && value != 0 ? -1 : static_cast<int>(value);
}

// The label as the repair writes it: a single digit with its leading zero.
std::string normalLabel(const String& label) {
  const int digit = singleDigit(label);
  if (digit < 0) return std::string(label.buffer(), label.length());
  char two[12];
  std::snprintf(two, sizeof two, "%02d", digit);
  return two;
}

// The parent of row `id`; kNone when the row is gone.
int parentOf(Operation& op, int id) {
  node::Statement s(op.connection(), node::sqlFormat(category::kSelectNode, id));
  if (s.valid() && s.step()) return static_cast<int>(s.columnInt64(1));
  if (!s.valid() || s.failed()) throw StatusCategoryFailed;
  return category::kNone;
}

// One repair pass in one transaction: 0, 4 (a node outside the cache, or a statement that
// cannot be prepared), or a statement's status. *changed tells whether rows changed.
int repairPass(Operation& op, const std::set<int>& spaces, bool* changed) {
  Status begun;
  node::TransactionScope scope(op.connection(), &begun);
  if (!scope.active()) return begun;
  std::vector<std::pair<int, std::string>> found;  // (id, the label it is to have)
  {
    node::Statement s(op.connection(), category::kSelectAllNodes);
    if (!s.valid()) return StatusCategoryFailed;
    while (s.step()) {
      const String label = s.columnText(1);
      const std::string repaired = normalLabel(label);
      if (repaired == label.buffer()) continue;  // not one digit, or written right already
      const int id = static_cast<int>(s.columnInt64(0));
      category::TreeEntry e;
      if (!op.cache.entry(id, &e)) return StatusCategoryFailed;
      // Years keep their labels; only months and days are repaired.
      if (spaces.count(e.namespaceId) == 0 || e.parent == e.namespaceId) continue;
      found.emplace_back(id, repaired);
    }
    if (s.failed()) return category::failedWith(s.error());
  }
  std::set<int> seen;
  for (const auto& f : found) {
    const int id = f.first;
    const std::string& label = f.second;
    // Where the node is now: an earlier merge of this pass may have moved or deleted it.
    const int parent = seen.count(id) != 0 ? category::kNone : parentOf(op, id);
    if (parent == category::kNone) continue;
    const std::vector<String> siblings = node::queryColumn(
        op.connection(), node::sqlFormat(category::kSelectSiblingsLabelled, parent, label.c_str()));
    if (siblings.empty()) {
      category::runRepair(op, node::sqlFormat(category::kRenameNode, label.c_str(), id));
    } else {
      // A sibling has the label already: the two merge, the one with the smaller id stays.
      const int other = static_cast<int>(std::strtol(siblings[0].buffer(), nullptr, 10));
      category::mergeNodes(op, std::min(id, other), std::max(id, other), parent, label, normalLabel,
                           &seen);
    }
    *changed = true;
  }
  if (*changed) node::queueEvent(op.connection(), monitor::kEventCatalogChanged, -1);
  return scope.commit();
}

}  // namespace

int Node::categoryVerifyAndFix(Category category, bool check, bool fix) {
  if (!m_impl->isOpen()) return StatusNotOpen;
  return node::statusOf([&]() -> int {
    Operation op(m_impl);
    CategoryImpl* root = CategoryAccess::impl(category);
    if (root->node.load() != m_impl) return StatusWrongCatalog;
    if (!check) return StatusOk;
    // Read before the transaction level: a refusal must not doom a transaction of the host's.
    const std::vector<String> years = node::queryColumn(
        op.connection(), node::sqlFormat(category::kSelectBadYears, root->id.load()));
    if (years.empty()) return StatusOk;
    if (!fix) return StatusNotAllowed;
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    for (const String& text : years) {
      const int id = static_cast<int>(std::strtol(text.buffer(), nullptr, 10));
      std::unique_ptr<CategoryImpl, void (*)(CategoryImpl*)> year(op.cache.acquire(id),
                                                                  releaseCategory);
      if (!year || node::statusOf([&] { return category::removeNode(op, *year); }) != StatusOk)
        return StatusRepairFailed;
    }
    return scope.commit();
  });
}

int Node::fixDateCats(std::vector<int> const& namespaceIds) {
  if (!m_impl->isOpen()) return StatusNotOpen;
  return node::statusOf([&]() -> int {
    Operation op(m_impl);
    const std::set<int> spaces(namespaceIds.begin(), namespaceIds.end());
    bool first = false, second = false;
    // A second pass repairs what the first one's merges brought to light.
    node::statusOf([&] { return repairPass(op, spaces, &first); });
    const int status = node::statusOf([&] { return repairPass(op, spaces, &second); });
    if (!first && !second) return status;
    // The tree is read again in place (also when the second pass failed: the first one's
    // changes stand); a rollback of an enclosing transaction puts the rows back, and the next
    // dispatch reads them again.
    NodeImpl* node = m_impl;
    node::journalUndo(op.connection(), [node] { node->requestRebuild(); });
    const Status loaded = op.cache.loadTree(op.connection());
    return status != StatusOk ? status : loaded;
  });
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// Date trees (a namespace whose top-level nodes are years, then months "01" to "12", then
// days "01" to "31"): the check for impossible years, and the repair of month and day
// labels written without their leading zero, which merges each such node with its sibling
// of the proper label.
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

// Runs a statement of the repair; throws its status on failure.
void run(Operation& op, const std::string& sql) {
  const Status status = node::execute(op.connection(), sql);
  if (status != StatusOk) throw status;
}

// The (id, label) of each child row of `parent`.
std::vector<std::pair<int, String>> childRows(Operation& op, int parent) {
  std::vector<std::pair<int, String>> rows;
  node::Statement s(op.connection(), node::sqlFormat(category::kSelectChildren, parent, ""));
  while (s.valid() && s.step())
    rows.emplace_back(static_cast<int>(s.columnInt64(0)), s.columnText(1));
  if (!s.valid() || s.failed()) throw StatusCategoryFailed;
  return rows;
}

// Merges node `from` into `into`: each child of `from` moves under `into`, or merges the
// same way into the child of `into` whose label is the same once repaired; the memberships
// of `from` (held, and as a member) move to `into`, those `into` has already go; then `from`
// goes. `seen` ends the descent in a damaged file whose parents form a cycle.
void merge(Operation& op, int from, int into, std::set<int>* seen) {
  if (from == into || !seen->insert(from).second) return;
  std::map<std::string, int> twins;
  for (const auto& child : childRows(op, into)) twins[normalLabel(child.second)] = child.first;
  for (const auto& child : childRows(op, from)) {
    auto twin = twins.find(normalLabel(child.second));
    if (twin != twins.end())
      merge(op, child.first, twin->second, seen);
    else
      run(op, node::sqlFormat(category::kMoveNode, into, child.first));
  }
  run(op, node::sqlFormat(category::kMoveMemberships, into, from));
  run(op, node::sqlFormat(category::kDeleteNodeMemberships, from));
  run(op, node::sqlFormat(category::kMoveMembershipsAsMember, into, from));
  {
    node::Statement s(op.connection(), category::kDeleteMemberRows);
    if (!s.valid() || !s.bind(1, static_cast<long long>(from)) || !s.run())
      throw s.error().status();
  }
  run(op, node::sqlFormat(assets::kDeleteRowBlobs, from));
  run(op, node::sqlFormat(category::kDeleteNode, from));
}

// One repair pass in one transaction: 0, 4 (a node outside the cache, or a statement that
// cannot be prepared), or a statement's status. *changed tells whether rows changed.
int repairPass(Operation& op, const std::set<int>& spaces, bool* changed) {
  struct Found {
    int digit, id, parent;
  };
  Status begun;
  node::TransactionScope scope(op.connection(), &begun);
  if (!scope.active()) return begun;
  std::vector<Found> found;
  {
    node::Statement s(op.connection(), category::kSelectAllNodes);
    if (!s.valid()) return StatusCategoryFailed;
    while (s.step()) {
      const int digit = singleDigit(s.columnText(1));
      if (digit < 0) continue;
      const int id = static_cast<int>(s.columnInt64(0));
      category::TreeEntry e;
      if (!op.cache.entry(id, &e)) return StatusCategoryFailed;
      // Years keep their labels; only months and days are repaired.
      if (spaces.count(e.namespaceId) == 0 || e.parent == e.namespaceId) continue;
      found.push_back({digit, id, static_cast<int>(s.columnInt64(2))});
    }
    if (s.failed()) return s.error().status();
  }
  std::set<int> seen;
  for (const Found& f : found) {
    if (seen.count(f.id) != 0) continue;  // merged away already
    char two[12];
    std::snprintf(two, sizeof two, "%02d", f.digit);
    const std::string rename = node::sqlFormat(category::kRenameNode, two, f.id);
    node::EngineError failure;
    Status status = node::execute(op.connection(), rename, &failure);
    if (status == StatusConstraint) {
      // A sibling has the label already: it merges into this node, which takes the label.
      for (const String& sibling : node::queryColumn(
               op.connection(), node::sqlFormat(category::kSelectSiblingsLabelled, f.parent, two)))
        merge(op, static_cast<int>(std::strtol(sibling.buffer(), nullptr, 10)), f.id, &seen);
      status = node::execute(op.connection(), rename);
    }
    if (status != StatusOk) return status;
    *changed = *changed || node::changedRows(op.connection()) > 0;
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
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    if (!check) return scope.commit();
    const std::vector<String> years = node::queryColumn(
        op.connection(), node::sqlFormat(category::kSelectBadYears, root->id.load()));
    if (years.empty()) return scope.commit();
    if (!fix) return StatusNotAllowed;
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
    bool changed = false;
    // A second pass repairs what the first one's merges brought to light.
    node::statusOf([&] { return repairPass(op, spaces, &changed); });
    const int status = node::statusOf([&] { return repairPass(op, spaces, &changed); });
    if (status != StatusOk) return status;
    if (!changed) return StatusOk;
    // The tree is read again in place; a rollback of an enclosing transaction puts the rows
    // back, and the next dispatch reads them again.
    NodeImpl* node = m_impl;
    node::journalUndo(op.connection(), [node] { node->requestRebuild(); });
    return op.cache.loadTree(op.connection());
  });
}

}  // namespace Vendrithane
}  // namespace KESTRIN

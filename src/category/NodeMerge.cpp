// The merge of two sibling category nodes that the repairs of a catalog's trees share.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "asset/CatalogAssets.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "node/Statement.h"

namespace KESTRIN {
namespace Vendrithane {
namespace category {

namespace {

// The (id, label) of each child row of `parent`.
std::vector<std::pair<int, String>> childRows(Operation& op, int parent) {
  std::vector<std::pair<int, String>> rows;
  node::Statement s(op.connection(), node::sqlFormat(kSelectChildren, parent, ""));
  while (s.valid() && s.step())
    rows.emplace_back(static_cast<int>(s.columnInt64(0)), s.columnText(1));
  if (!s.valid() || s.failed()) throw StatusCategoryFailed;
  return rows;
}

}  // namespace

Status failedWith(const node::EngineError& error) {
  return error.status() == StatusOk ? StatusCategoryFailed : error.status();
}

void runRepair(Operation& op, const std::string& sql) {
  node::EngineError error;
  if (node::execute(op.connection(), sql, &error) != StatusOk) throw failedWith(error);
}

void mergeNodes(Operation& op, int keep, int gone, int parent, const std::string& label,
                LabelKey key, std::set<int>* seen) {
  if (keep == gone || !seen->insert(gone).second) return;
  std::map<std::string, int> twins;
  for (const auto& child : childRows(op, keep)) twins[key(child.second)] = child.first;
  for (const auto& child : childRows(op, gone)) {
    const std::string wanted = key(child.second);
    auto twin = twins.find(wanted);
    if (twin == twins.end()) {
      runRepair(op, node::sqlFormat(kMoveNode, keep, child.first));
      twins[wanted] = child.first;
      continue;
    }
    const int low = std::min(twin->second, child.first), high = std::max(twin->second, child.first);
    mergeNodes(op, low, high, keep, wanted, key, seen);
    twin->second = low;
  }
  runRepair(op, node::sqlFormat(kMoveMemberships, keep, gone));
  runRepair(op, node::sqlFormat(kDeleteNodeMemberships, gone));
  runRepair(op, node::sqlFormat(kMoveMembershipsAsMember, keep, gone));
  {
    node::Statement s(op.connection(), kDeleteMemberRows);
    if (!s.valid() || !s.bind(1, static_cast<long long>(gone)) || !s.run())
      throw failedWith(s.error());
  }
  const Status blobs = assets::deleteRowBlobs(op.connection(), gone);
  if (blobs != StatusOk) throw blobs;
  runRepair(op, node::sqlFormat(kDeleteNode, gone));
  runRepair(op, node::sqlFormat(kMoveNode, parent, keep));
  runRepair(op, node::sqlFormat(kRenameNode, label.c_str(), keep));
}

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

// Category membership: filing records or categories in a category (and so in each of its
// ancestors below the namespace root), reordering the members, the membership test, and
// taking a member out of every category that holds it, with the effects of the namespace's
// flags: without persistEmpty a node is stored with its first member and deleted with its
// last; with membersModify each change of its members also counts as a change of the node.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetStatements.h"
#include "asset/RecordLock.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "monitor/EventKinds.h"
#include "node/IdAllocator.h"
#include "node/NodeAccess.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/Transaction.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {
namespace category {

namespace {

// 62 also says that a membership row could not be written.
constexpr Status kMembershipFailed = StatusNotInParent;

// The statements run once per member, kept compiled on the connection.
const std::string& insertMembershipText() {
  static const std::string text(kInsertMembership);
  return text;
}
const std::string& holdersText() {
  static const std::string text(kSelectHolders);
  return text;
}
const std::string& deleteMemberRowsText() {
  static const std::string text(kDeleteMemberRows);
  return text;
}

// Records the failure of `s` on the connection and returns its status.
Status failure(Operation& op, const node::Statement& s) {
  const node::EngineError error = s.error();
  op.connection().recordError(error.status(), error.code, error.message, s.sql());
  return error.status() == StatusOk ? StatusEngineFailure : error.status();
}

// The first column of every row of `sql` as ids; 0 or the statement's status (recorded).
Status readIds(Operation& op, node::Statement& s, std::vector<long long>* out) {
  while (s.valid() && s.step()) out->push_back(s.columnInt64(0));
  if (!s.valid() || s.failed()) return failure(op, s);
  return StatusOk;
}

Status readIds(Operation& op, const std::string& sql, std::vector<long long>* out) {
  node::Statement s(op.connection(), sql);
  return readIds(op, s, out);
}

// The categories holding `member`, highest id first: 0 or the read's status (recorded).
Status holdersOf(Operation& op, int member, std::vector<long long>* out) {
  node::Statement s(op.connection(), holdersText(), node::Statement::kCached);
  if (s.valid()) s.bind(1, static_cast<long long>(member));
  return readIds(op, s, out);
}

// The entry of holder `id` as it is now, when it is a stored category of the tree; false
// for a row naming a category outside the tree (a damaged file).
bool storedHolder(Operation& op, int id, TreeEntry* e) {
  return op.cache.entry(id, e) && e->stored && e->namespaceId != id;
}

// Runs update() on the node `id`: a new modification time and a category-updated change.
Status touch(Operation& op, int id) {
  std::unique_ptr<CategoryImpl, void (*)(CategoryImpl*)> object(op.cache.acquire(id),
                                                                releaseCategory);
  if (!object) return StatusCategoryFailed;
  return updateNode(op, *object);
}

// The target of the namespace of entry `id`.
String namespaceTarget(Operation& op, int id) {
  TreeEntry root = entryOrFail(op, entryOrFail(op, id).namespaceId);
  if (root.object == nullptr) throw StatusCategoryFailed;
  return static_cast<String>(root.object->elements.element(kTarget));
}

// Whether `member` (a record or category id) holds a row at category `id`.
bool holds(Operation& op, int member, int id) {
  String count;
  return node::queryValue(op.connection(), node::sqlFormat(kContains, member, id), &count) ==
             StatusOk &&
         std::atoll(count.buffer()) >= 1;
}

// Files `members` at one level: 0, 62 (a row could not be written), 63, or the counter's
// failure; *inserted counts the new rows (a member already there is left as it is).
Status fileAtLevel(Operation& op, int level, const std::vector<long long>& members, int* inserted) {
  node::NodeConnection& c = op.connection();
  for (long long member : members) {
    if (member <= 0) return StatusBadMemberId;
    const int key = node::nextId(c);
    if (key < 1) return StatusIdCounterFailed;
    node::Statement s(c, insertMembershipText(), node::Statement::kCached);
    if (s.valid() && s.bind(1, static_cast<long long>(key)) && s.bind(2, member) &&
        s.bind(3, static_cast<long long>(level)) && s.run()) {
      ++*inserted;
      continue;
    }
    if (s.valid() && s.error().status() == StatusConstraint &&
        holds(op, static_cast<int>(member), level))
      continue;  // a member already: nothing to add
    failure(op, s);
    return kMembershipFailed;
  }
  return StatusOk;
}

}  // namespace

std::string joinIds(const std::vector<int>& ids) {
  std::string text;
  for (int id : ids) {
    if (!text.empty()) text += ',';
    text += std::to_string(id);
  }
  return text;
}

Status applyMembers(Operation& op, int id, std::vector<int>& ids) {
  if (ids.empty()) return StatusOk;
  TreeEntry e = entryOrFail(op, id);
  if (e.namespaceId == id) return e.stored ? StatusEmptyArgument : StatusNotAllowed;
  const TreeEntry root = entryOrFail(op, e.namespaceId);
  const MemberRows rows = memberRows(op.node, namespaceTarget(op, id));
  node::NodeConnection& c = op.connection();
  // The checks read only, before the transaction level: a refusal must not doom a
  // transaction of the host's. The ids that exist among the namespace's members, in the
  // order the engine gives them.
  const std::string tag = rows.byTag ? node::sqlFormat(kTagCondition, rows.tag.buffer()) : "";
  std::vector<long long> found;
  Status status;
  if (ids.size() == 1) {
    // One member, as filing a record at a time goes: the statement stays compiled, its id
    // bound.
    const std::string sql =
        node::sqlFormat(kSelectExistingMembers, rows.table.c_str(), "?1", tag.c_str());
    node::Statement s(c, sql, node::Statement::kCached);
    if (s.valid()) s.bind(1, static_cast<long long>(ids[0]));
    status = readIds(op, s, &found);
  } else {
    status = readIds(op,
                     node::sqlFormat(kSelectExistingMembers, rows.table.c_str(),
                                     joinIds(ids).c_str(), tag.c_str()),
                     &found);
  }
  if (status != StatusOk) return status;
  if (found.empty()) return StatusEmptyArgument;
  if (!root.stored || e.namespaceId < 1) return StatusNotAllowed;
  std::vector<int> levels = op.cache.chain(id);
  if (!levels.empty()) levels.pop_back();  // the namespace root holds no members
  // A category is never filed in itself, nor in a category below it.
  for (long long member : found)
    if (std::find(levels.begin(), levels.end(), member) != levels.end()) return StatusEmptyArgument;
  // A missing id is negated in the caller's list (one negative already stays so); a repeated
  // one is no missing one.
  std::unordered_set<long long> present(found.begin(), found.end());
  bool partly = false;
  for (int& each : ids) {
    if (present.count(each) != 0) continue;
    partly = true;
    if (each > 0) each = -each;
  }
  Status begun;
  node::TransactionScope scope(c, &begun);
  if (!scope.active()) return begun;
  if (!e.stored) {
    status = persist(op, id);
    if (status == StatusOk) e = entryOrFail(op, id);
    if (status != StatusOk || !e.stored)
      return status >= StatusNotAllowed ? status : StatusNotAllowed;
  }
  const bool modify = (namespaceFlags(op, id) & kMembersModifyBit) != 0;
  for (int level : levels) {
    int inserted = 0;
    status = fileAtLevel(op, level, found, &inserted);
    if (status != StatusOk) return status;
    const int before = entryOrFail(op, level).population;
    journalPopulation(op, level, before);
    op.cache.setPopulation(level, before + inserted);
    if (modify) {
      status = touch(op, level);
      if (status != StatusOk) return status;
    }
    node::queueEvent(c, monitor::kEventMembershipChanged, id);
  }
  status = scope.commit();
  if (status != StatusOk) return status;
  return partly ? StatusPartlyApplied : StatusOk;
}

Status removeAtNode(Operation& op, int id, const std::string& members) {
  TreeEntry e = entryOrFail(op, id);
  if (!e.stored || op.deleting.count(id) != 0) return StatusOk;
  node::NodeConnection& c = op.connection();
  Status status = node::execute(
      c, members.empty() ? node::sqlFormat(kDeleteNodeMemberships, id)
                         : node::sqlFormat(kDeleteListedMemberships, id, members.c_str()));
  if (status != StatusOk) return status;
  const int deleted = node::changedRows(c);
  const int left = std::max(0, e.population - deleted);
  journalPopulation(op, id, e.population);
  op.cache.setPopulation(id, left);
  const int flags = namespaceFlags(op, id);
  if (left > 0 || (flags & kPersistEmptyBit) != 0)
    return deleted > 0 && (flags & kMembersModifyBit) != 0 ? touch(op, id) : StatusOk;
  // Its last member left: the node goes, with any stored node below it (they hold none).
  return deleteSubtree(op, id);
}

Status removeBelow(Operation& op, int id, const std::string& members) {
  for (int child : op.cache.children(id, true)) {
    Status status = removeBelow(op, child, members);
    if (status != StatusOk) return status;
  }
  return removeAtNode(op, id, members);
}

Status removeMember(Operation& op, int member) {
  node::NodeConnection& c = op.connection();
  std::vector<long long> holders;
  Status read = holdersOf(op, member, &holders);
  if (read != StatusOk) return read;
  for (long long each : holders) {
    const int id = static_cast<int>(each);
    // Read now: an earlier holder's deletion may have changed this one's population. A row
    // naming a category outside the tree only goes with the rest.
    TreeEntry e;
    if (op.deleting.count(id) != 0 || !storedHolder(op, id, &e)) continue;
    const int left = std::max(0, e.population - 1);
    journalPopulation(op, id, e.population);
    op.cache.setPopulation(id, left);
    const int flags = namespaceFlags(op, id);
    Status status = StatusOk;
    if (left == 0 && (flags & kPersistEmptyBit) == 0) {
      status = deleteSubtree(op, id);  // it leaves the categories holding it in turn
    } else {
      node::queueEvent(c, monitor::kEventMembershipChanged, id);
      if ((flags & kMembersModifyBit) != 0) status = touch(op, id);
    }
    if (status != StatusOk) return status;
  }
  node::Statement s(c, deleteMemberRowsText(), node::Statement::kCached);
  if (s.valid() && s.bind(1, static_cast<long long>(member)) && s.run()) return StatusOk;
  return failure(op, s);
}

Status touchHolders(Operation& op, int member) {
  std::vector<long long> holders;
  Status read = holdersOf(op, member, &holders);
  if (read != StatusOk) return read;
  for (long long each : holders) {
    const int id = static_cast<int>(each);
    TreeEntry e;
    if (!storedHolder(op, id, &e) || (namespaceFlags(op, id) & kMembersModifyBit) == 0) continue;
    Status status = touch(op, id);
    if (status != StatusOk) return status;
  }
  return StatusOk;
}

Status reorderMembers(Operation& op, int id, const std::vector<int>& ids,
                      const std::vector<int>& positions, bool relative) {
  if (id < 0) return StatusNotAllowed;
  const int n = static_cast<int>(ids.size());
  const int population = entryOrFail(op, id).population;
  node::NodeConnection& c = op.connection();
  // Every check reads only, before the transaction level (a refusal must not doom a
  // transaction of the host's).
  const std::string listed = joinIds(ids);
  std::vector<int> order;      // the members in their new order
  std::vector<long long> key;  // the sort key of each
  if (!relative) {
    std::vector<long long> others;
    Status status = readIds(op, node::sqlFormat(kSelectOtherMembers, id, listed.c_str()), &others);
    if (status != StatusOk) return status;
    // A listed id that is no member, or one listed twice, leaves the counts unequal.
    if (n + static_cast<int>(others.size()) != population) return StatusEmptyArgument;
    std::vector<int> slot(population, 0);
    std::vector<bool> taken(population, false);
    for (int k = 0; k < n; ++k) {
      const int p = positions[k];
      if (p < 0 || p >= population || taken[p]) return StatusEmptyArgument;
      slot[p] = ids[k];
      taken[p] = true;
    }
    size_t next = 0;
    for (int s = 0; s < population && next < others.size(); ++s)
      if (!taken[s]) {
        slot[s] = static_cast<int>(others[next++]);
        taken[s] = true;
      }
    if (std::find(taken.begin(), taken.end(), false) != taken.end()) return StatusEmptyArgument;
    order = slot;
    for (int s = 0; s < population; ++s) key.push_back(s);
  } else {
    // Every listed id a member, none listed twice, no position twice.
    std::unordered_set<int> seenIds(ids.begin(), ids.end());
    std::unordered_set<int> seenPositions(positions.begin(), positions.end());
    if (static_cast<int>(seenIds.size()) != n || static_cast<int>(seenPositions.size()) != n)
      return StatusEmptyArgument;
    order = ids;
    key.assign(positions.begin(), positions.end());
  }
  std::vector<long long> keys;
  Status status = readIds(op, node::sqlFormat(kSelectOrderKeys, id, joinIds(order).c_str()), &keys);
  if (status != StatusOk) return status;
  if (keys.size() != order.size()) return relative ? StatusEmptyArgument : StatusCategoryFailed;
  Status begun;
  node::TransactionScope scope(c, &begun);
  if (!scope.active()) return begun;
  for (long long k : keys) {
    status = node::execute(c, node::sqlFormat(kDeleteOrderKey, std::to_string(k).c_str()));
    if (status != StatusOk) return status;
  }
  std::vector<size_t> byKey(order.size());
  for (size_t i = 0; i < byKey.size(); ++i) byKey[i] = i;
  std::stable_sort(byKey.begin(), byKey.end(), [&](size_t a, size_t b) { return key[a] < key[b]; });
  for (size_t j = 0; j < byKey.size(); ++j) {
    status = node::execute(
        c, node::sqlFormat(kInsertOrdered, std::to_string(keys[j]).c_str(), order[byKey[j]], id));
    if (status != StatusOk) return status;
  }
  if ((namespaceFlags(op, id) & kMembersModifyBit) != 0) {
    status = touch(op, id);
    if (status != StatusOk) return status;
  }
  return scope.commit();
}

Status destroyTargetNamespaces(NodeImpl& node, const String& type) {
  std::vector<String> names;
  {
    Operation op(&node);
    for (int id : op.cache.children(kRootId, true))
      if (namespaceTarget(op, id).compareNoCase(type.buffer()) == 0)
        names.push_back(entryOrFail(op, id).label);
  }
  for (const String& name : names) {
    Status status = destroyNamespace(&node, name);
    if (status != StatusOk) return status;
  }
  return StatusOk;
}

}  // namespace category

// ---- The handle's membership calls ----

using category::onCategory;
using category::Operation;
using category::TreeEntry;

namespace {

// Whether records of the asset's type may be members where `target` is the namespace's
// target: its type name, or any collection record for the shared table.
bool matchesTarget(Asset& asset, const String& target) {
  if (asset.name().compareNoCase(target.buffer()) == 0) return true;
  return asset.inCollection() && target.compareNoCase(assets::kAssetsTable) == 0;
}

// Whether the asset is a record of another catalog than `node` (its id would name another
// record here).
bool otherCatalog(const Asset& asset, NodeImpl* node) {
  AssetImpl* impl = AssetAccess::impl(asset);
  std::lock_guard<RecordLock> hold(*impl->lock);
  return impl->node != nullptr && impl->node != node;
}

// The ids of a list of assets for apply: 14 for a null entry or an asset of another type
// (the namespace's members are category nodes: every asset is of another type), 44 for one
// of another catalog.
int assetIds(Operation& op, CategoryImpl* impl, Asset* const* list, size_t count,
             std::vector<int>* ids) {
  const String target = category::namespaceTarget(op, impl->id.load());
  const bool nodes = target.compareNoCase(category::kNodeTable) == 0;
  for (size_t i = 0; i < count; ++i) {
    if (list[i] == nullptr || nodes || !matchesTarget(*list[i], target)) return StatusEmptyArgument;
    if (otherCatalog(*list[i], &op.node)) return StatusWrongCatalog;
    ids->push_back(list[i]->id());
  }
  return StatusOk;
}

// The ids of assets for unapply, memberOrder and contains (-1 for a null entry); 44 when one
// is a record of another catalog than the category's.
int listedIds(CategoryImpl* impl, const std::vector<Asset*>& assets, std::vector<int>* ids) {
  NodeImpl* node = impl->node.load();
  for (Asset* asset : assets) {
    if (asset != nullptr && otherCatalog(*asset, node)) return StatusWrongCatalog;
    ids->push_back(asset == nullptr ? -1 : asset->id());
  }
  return StatusOk;
}

bool isRoot(Operation& op, CategoryImpl* impl) {
  return category::entryOrFail(op, impl->id.load()).namespaceId == impl->id.load();
}

int applyList(CategoryImpl* impl, Asset* const* list, size_t count) {
  return onCategory(impl, [&](Operation& op) -> int {
    if (isRoot(op, impl)) return StatusNotAllowed;
    std::vector<int> ids;
    const int refused = assetIds(op, impl, list, count, &ids);
    if (refused != StatusOk) return refused;
    return category::applyMembers(op, impl->id.load(), ids);
  });
}

int reorder(CategoryImpl* impl, const std::vector<int>& ids, const std::vector<int>* positions,
            bool relative) {
  return onCategory(impl, [&](Operation& op) -> int {
    const TreeEntry e = category::entryOrFail(op, impl->id.load());
    if (!e.stored || e.namespaceId == impl->id.load()) return StatusNotAllowed;
    std::vector<int> counted;
    if (positions == nullptr)
      for (size_t k = 0; k < ids.size(); ++k) counted.push_back(static_cast<int>(k));
    const std::vector<int>& at = positions != nullptr ? *positions : counted;
    if (at.size() != ids.size()) return StatusEmptyArgument;
    if (ids.empty()) return StatusOk;
    return category::reorderMembers(op, impl->id.load(), ids, at, relative);
  });
}

// unapply: the removal of `ids` (every member when null) at the category and below, or at
// each stored top-level category of a namespace root, in one transaction; each category
// the removal started at queues a membership change.
int unapplyMembers(CategoryImpl* impl, const std::vector<int>* ids) {
  return onCategory(impl, [&](Operation& op) -> int {
    const int id = impl->id.load();
    const TreeEntry e = category::entryOrFail(op, id);
    if (!e.stored) return StatusNotAllowed;
    std::string members;
    if (ids != nullptr) {
      if (ids->empty()) return StatusOk;
      std::vector<int> distinct;
      std::unordered_set<int> seen;
      for (int each : *ids)
        if (seen.insert(each).second) distinct.push_back(each);
      members = category::joinIds(distinct);
    }
    const std::vector<int> starts =
        e.namespaceId == id ? op.cache.children(id, true) : std::vector<int>{id};
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    for (int start : starts) {
      Status status = category::removeBelow(op, start, members);
      if (status != StatusOk) return status;
      node::queueEvent(op.connection(), monitor::kEventMembershipChanged, start);
    }
    return scope.commit();
  });
}

bool containsId(CategoryImpl* impl, int member) {
  NodeImpl* node = impl->node.load();
  if (node == nullptr || impl->id.load() < 0) return false;
  try {
    Operation op(node);
    return category::holds(op, member, impl->id.load());
  } catch (Status) {
    return false;
  }
}

}  // namespace

int Category::apply(Asset& asset) {
  return onCategory(m_impl, [&](Operation& op) -> int {
    if (isRoot(op, m_impl)) return StatusNotAllowed;
    if (asset.id() < 0) return StatusNoId;
    if (!matchesTarget(asset, category::namespaceTarget(op, m_impl->id.load())))
      return StatusEmptyArgument;
    if (otherCatalog(asset, &op.node)) return StatusWrongCatalog;
    std::vector<int> ids{asset.id()};
    return category::applyMembers(op, m_impl->id.load(), ids);
  });
}

int Category::apply(Category& member) {
  return onCategory(m_impl, [&](Operation& op) -> int {
    if (isRoot(op, m_impl)) return StatusNotAllowed;
    CategoryImpl* other = CategoryAccess::impl(member);
    NodeImpl* owner = other->node.load();
    if (owner != nullptr && owner != &op.node) return StatusWrongCatalog;
    const int id = other->id.load();
    TreeEntry e;
    if (other == m_impl || !op.cache.holds(other) || !op.cache.entry(id, &e) || !e.stored ||
        e.namespaceId == id)
      return StatusEmptyArgument;
    std::vector<int> ids{id};
    return category::applyMembers(op, m_impl->id.load(), ids);
  });
}

int Category::apply(Asset** list, int count) {
  if (list == nullptr && count > 0) return StatusEmptyArgument;
  return applyList(m_impl, list, count < 0 ? 0 : static_cast<size_t>(count));
}

int Category::apply(std::vector<Asset*> const& assets) {
  return applyList(m_impl, assets.data(), assets.size());
}

int Category::apply(std::vector<int>& ids) {
  return onCategory(m_impl, [&](Operation& op) -> int {
    if (isRoot(op, m_impl)) return StatusNotAllowed;
    return category::applyMembers(op, m_impl->id.load(), ids);
  });
}

int Category::memberOrder(std::vector<int> const& ids, std::vector<int> const& positions,
                          bool relative) {
  return reorder(m_impl, ids, &positions, relative);
}

int Category::memberOrder(std::vector<Asset*> const& assets, std::vector<int> const& positions,
                          bool relative) {
  std::vector<int> ids;
  const int refused = listedIds(m_impl, assets, &ids);
  return refused != StatusOk ? refused : reorder(m_impl, ids, &positions, relative);
}

int Category::memberOrder(std::vector<int> const& ids, bool relative) {
  return reorder(m_impl, ids, nullptr, relative);
}

int Category::memberOrder(std::vector<Asset*> const& assets, bool relative) {
  std::vector<int> ids;
  const int refused = listedIds(m_impl, assets, &ids);
  return refused != StatusOk ? refused : reorder(m_impl, ids, nullptr, relative);
}

int Category::unapply() {
  return unapplyMembers(m_impl, nullptr);
}

int Category::unapply(Asset& asset) {
  std::vector<int> ids;
  const int refused = listedIds(m_impl, {&asset}, &ids);
  return refused != StatusOk ? refused : unapplyMembers(m_impl, &ids);
}

int Category::unapply(Category& member) {
  CategoryImpl* other = CategoryAccess::impl(member);
  const int refused = onCategory(m_impl, [&](Operation& op) -> int {
    TreeEntry e;
    if (!op.cache.holds(other) || !op.cache.entry(other->id.load(), &e) || !e.stored)
      return StatusNotAllowed;
    return StatusOk;
  });
  if (refused != StatusOk) return refused;
  const std::vector<int> ids{other->id.load()};
  return unapplyMembers(m_impl, &ids);
}

int Category::unapply(Asset* array, int count) {
  std::vector<Asset*> assets;
  for (int i = 0; array != nullptr && i < count; ++i) assets.push_back(&array[i]);
  return unapply(assets);
}

int Category::unapply(std::vector<Asset*> const& assets) {
  std::vector<int> ids;
  const int refused = listedIds(m_impl, assets, &ids);
  return refused != StatusOk ? refused : unapplyMembers(m_impl, &ids);
}

int Category::unapply(std::vector<int> const& ids) {
  return unapplyMembers(m_impl, &ids);
}

int Asset::categoryUnapply() {
  Node owner = node();  // held for the call
  NodeImpl* node = NodeAccess::impl(owner);
  if (!node->isOpen()) return StatusNotOpen;
  const int id = this->id();
  return node::statusOf([&]() -> int {
    Operation op(node);
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    Status status = category::removeMember(op, id);
    if (status != StatusOk) return status;
    return scope.commit();
  });
}

bool Category::contains(Asset& asset) {
  std::vector<int> ids;
  return listedIds(m_impl, {&asset}, &ids) == StatusOk && containsId(m_impl, ids[0]);
}

bool Category::contains(Category& member) {
  return containsId(m_impl, CategoryAccess::impl(member)->id.load());
}

bool Category::contains(int id) {
  return containsId(m_impl, id);
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// The category layer's writes: declaring and destroying namespaces, the namespace row, the
// persist steps, update, rename, removal and reload of nodes, and the undo entries that
// keep the tree cache matching the rows when a transaction is rolled back.
#include <memory>
#include <mutex>
#include <string>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetStatements.h"
#include "asset/BlobStore.h"
#include "asset/CatalogAssets.h"
#include "asset/RecordLock.h"
#include "asset/RecordWriter.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "monitor/EventKinds.h"
#include "node/IdAllocator.h"
#include "node/NodeAccess.h"
#include "node/Statement.h"
#include "node/StatusOf.h"
#include "node/Transaction.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {
namespace category {

namespace {

using Hold = std::lock_guard<RecordLock>;

// The columns of a namespace root's row, from its elements.
struct NamespaceColumns {
  String description;
  int flags;
  int typeNumber;
  String target;
};

NamespaceColumns columnsOf(CategoryImpl& root) {
  Asset& set = root.elements;
  return {static_cast<String>(set.element(kDescription)), static_cast<int>(set.element(kFlags)),
          static_cast<int>(set.element(kTypeNumber)), static_cast<String>(set.element(kTarget))};
}

// Writes the blobs of the category's element set under its id (inside the caller's
// transaction).
Status storeBlobs(Operation& op, CategoryImpl& category) {
  AssetImpl& set = category.set();
  Hold hold(*set.lock);
  set.id = category.id.load();
  return storeAssetBlobs(op.connection(), set);
}

bool hasElements(CategoryImpl& category) {
  return category.elements.nElements() > 0;
}

}  // namespace

TreeEntry entryOrFail(Operation& op, int id) {
  TreeEntry e;
  if (!op.cache.entry(id, &e)) throw StatusCategoryFailed;
  return e;
}

// ---- Undo entries ----

void journalStored(Operation& op, int id, bool previous) {
  CategoryCache* cache = &op.cache;
  node::journalUndo(op.connection(), [cache, id, previous] { cache->setStored(id, previous); });
}

void journalPopulation(Operation& op, int id, int previous) {
  CategoryCache* cache = &op.cache;
  node::journalUndo(op.connection(), [cache, id, previous] { cache->setPopulation(id, previous); });
}

void journalLabel(Operation& op, int id, const String& previous) {
  CategoryCache* cache = &op.cache;
  CategoryImpl* object = cache->acquire(id);
  if (object == nullptr) return;
  std::shared_ptr<CategoryImpl> held(object, releaseCategory);
  node::journalUndo(op.connection(), [cache, id, previous, held] {
    cache->setLabel(id, previous);
    held->labelText(previous);
  });
}

void journalNewEntry(Operation& op, int id) {
  CategoryCache* cache = &op.cache;
  node::journalUndo(op.connection(), [cache, id] {
    // The id goes back to the counter: the entry and everything made under it leave the
    // tree, and their handles read -1.
    std::shared_ptr<DetachedEntries> gone = cache->detach(id);
    for (auto& each : gone->entries)
      if (each.second.object != nullptr) each.second.object->id = -1;
  });
}

// ---- Namespaces ----

int namespaceFlags(Operation& op, int id) {
  TreeEntry e = entryOrFail(op, id);
  TreeEntry root = entryOrFail(op, e.namespaceId);
  if (root.object == nullptr) throw StatusCategoryFailed;
  return static_cast<int>(root.object->elements.element(kFlags));
}

Status writeNamespace(Operation& op, int id) {
  TreeEntry root = entryOrFail(op, id);
  if (root.object == nullptr || root.namespaceId != id) return StatusCategoryFailed;
  Status begun;
  node::TransactionScope scope(op.connection(), &begun);
  if (!scope.active()) return begun;
  NamespaceColumns columns = columnsOf(*root.object);
  Status status = node::execute(
      op.connection(),
      node::sqlFormat(kUpdateNamespace, columns.description.buffer(), columns.flags,
                      root.label.buffer(), columns.typeNumber, columns.target.buffer(), id));
  if (status == StatusOk && hasElements(*root.object)) status = storeBlobs(op, *root.object);
  if (status != StatusOk) return status;
  // Other nodes read the namespaces only with the whole tree.
  node::queueEvent(op.connection(), monitor::kEventCatalogChanged, -1);
  return scope.commit();
}

Status declareNamespace(NodeImpl* node, const char* name, const String& target, bool persistEmpty,
                        bool membersModify) {
  if (node == nullptr) return StatusNotOpen;
  const String label(name == nullptr ? "" : name);
  return static_cast<Status>(node::statusOf([&]() -> int {
    Operation op(node);
    if (op.cache.findChild(kRootId, label, true) != kNone) return StatusConstraint;
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    const int id = node::nextId(op.connection());
    if (id < 1) return StatusIdCounterFailed;
    const int flags =
        (persistEmpty ? kPersistEmptyBit : 0) | (membersModify ? kMembersModifyBit : 0);
    Status status = node::execute(
        op.connection(),
        node::sqlFormat(kInsertNamespace, id, "", 0, label.buffer(), 0, target.buffer()));
    if (status != StatusOk) return status;
    auto* object = new CategoryImpl(node, id, label);
    object->elements.element(kDescription) = "";
    object->elements.element(kFlags) = flags;
    object->elements.element(kTypeNumber) = 0;
    object->elements.element(kTarget) = target;
    op.cache.append(kRootId, object, label, true);
    journalNewEntry(op, id);
    if (flags != 0) {
      status = writeNamespace(op, id);
      if (status != StatusOk) return status;
    }
    node::queueEvent(op.connection(), monitor::kEventCatalogChanged, -1);
    return scope.commit();
  }));
}

// Any failure is returned at once, and the caller rolls the whole removal back: a child left
// behind would be a row whose parent is gone. Stored flags and populations are journalled;
// each deleted node queues a category-deleted change.
Status deleteSubtree(Operation& op, int id) {
  if (!op.deleting.insert(id).second) return StatusOk;  // a membership cycle led back here
  TreeEntry e = entryOrFail(op, id);
  for (int child : op.cache.children(id, false)) {
    Status status = deleteSubtree(op, child);
    if (status != StatusOk) return status;
  }
  if (!e.stored) return StatusOk;
  const bool root = e.namespaceId == id;
  node::NodeConnection& c = op.connection();
  Status status = node::execute(c, node::sqlFormat(root ? kDeleteNamespace : kDeleteNode, id));
  if (status == StatusOk && !root) status = removeMember(op, id);
  if (status == StatusOk) status = node::execute(c, node::sqlFormat(kDeleteNodeMemberships, id));
  if (status == StatusOk && !root) status = assets::deleteRowBlobs(c, id);
  if (status != StatusOk) return status;
  journalPopulation(op, id, e.population);
  op.cache.setPopulation(id, 0);
  journalStored(op, id, true);
  op.cache.setStored(id, false);
  if (!root) node::queueEvent(c, monitor::kEventCategoryDeleted, id);
  return StatusOk;
}

Status destroyNamespace(NodeImpl* node, const String& name) {
  if (node == nullptr || !node->isOpen()) return StatusNotOpen;
  return static_cast<Status>(node::statusOf([&]() -> int {
    Operation op(node);
    const int id = op.cache.findChild(kRootId, name, true);
    if (id == kNone) return StatusNotFound;
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    Status status = deleteSubtree(op, id);
    if (status != StatusOk) return status;
    for (int below : op.cache.subtree(id)) {
      TreeEntry e;
      if (op.cache.entry(below, &e) && e.stored) {
        journalStored(op, below, true);
        op.cache.setStored(below, false);
      }
    }
    node::queueEvent(op.connection(), monitor::kEventCatalogChanged, -1);
    // The namespace leaves the tree; a rollback puts it back where it stood.
    std::shared_ptr<DetachedEntries> gone = op.cache.detach(id);
    CategoryCache* cache = &op.cache;
    node::journalUndo(op.connection(), [cache, gone] { cache->reattach(*gone); });
    return scope.commit();
  }));
}

// ---- Nodes ----

CategoryImpl* objectForRow(Operation& op, int id, const String& label, int parent,
                           const String& xml) {
  CategoryImpl* object = op.cache.acquire(id);
  if (object == nullptr) {
    object = new CategoryImpl(&op.node, id, label);
    object->resetElements(xml);
    object->refs.fetch_add(1);  // the caller's; the first is the cache's
    if (!op.cache.append(parent, object, label, true)) {
      releaseCategory(object);
      return nullptr;
    }
    // Made inside a transaction that is rolled back, the entry goes again (the row stays).
    CategoryCache* cache = &op.cache;
    node::journalUndo(op.connection(), [cache, id] { cache->detach(id); });
    op.cache.loadPopulation(op.connection(), id);
    return object;
  }
  TreeEntry e;
  if (op.cache.entry(id, &e) && !e.stored) {
    journalStored(op, id, false);
    op.cache.setStored(id, true);
  }
  return object;
}

const std::string& quotedNodeTable() {
  static const std::string quoted = node::quoteIdentifier(std::string(kNodeTable));
  return quoted;
}

MemberRows memberRows(NodeImpl& node, const String& target) {
  String lower = target;
  lower.makeLower();
  if (lower == kNodeTable || lower == assets::kAssetsTable || assets::isOwnTableType(node, lower))
    return {node::quoteIdentifier(lower), String(), false};
  return {node::quoteIdentifier(std::string(assets::kAssetsTable)), lower,
          true};  // tags are stored lower-cased
}

Status persist(Operation& op, int id) {
  TreeEntry e = entryOrFail(op, id);
  if (e.stored) return StatusOk;
  if (e.namespaceId == id) return StatusCategoryFailed;
  if (e.parent != e.namespaceId) {
    Status parent = persist(op, e.parent);
    if (parent != StatusOk) return parent;
  }
  std::unique_ptr<CategoryImpl, void (*)(CategoryImpl*)> held(op.cache.acquire(id),
                                                              releaseCategory);
  if (!held) return StatusCategoryFailed;
  CategoryImpl& category = *held;
  String xml;
  {
    AssetImpl& set = category.set();
    set.ensureParsed();
    Hold hold(*set.lock);
    const Time now;
    assets::stampTime(set, assets::kCreatedStamp, now);
    assets::stampTime(set, assets::kModifiedStamp, now);
    xml = writeRecord(set.elements);
  }
  Status status = node::execute(
      op.connection(), node::sqlFormat(kInsertNode, id, e.label.buffer(), e.parent, xml.buffer()));
  if (status != StatusOk) return status;
  journalStored(op, id, false);
  op.cache.setStored(id, true);
  node::queueEvent(op.connection(), monitor::kEventCategoryAdded, id);
  return StatusOk;
}

Status updateNode(Operation& op, CategoryImpl& category) {
  const int id = category.id.load();
  TreeEntry e = entryOrFail(op, id);
  if (e.namespaceId == id) return writeNamespace(op, id);
  Status begun;
  node::TransactionScope scope(op.connection(), &begun);
  if (!scope.active()) return begun;
  // A label the host assigned to the label element is a rename.
  const String label = category.labelText();
  if (!(label == e.label)) {
    if (op.cache.findChild(e.parent, label, true) != kNone) return StatusConstraint;
    journalLabel(op, id, e.label);
    op.cache.setLabel(id, label);
    e.label = label;
  }
  const bool keepEmpty = (namespaceFlags(op, id) & kPersistEmptyBit) != 0;
  Status status;
  if (e.stored || !keepEmpty) {
    String xml;
    {
      AssetImpl& set = category.set();
      set.ensureParsed();
      Hold hold(*set.lock);
      assets::stampTime(set, assets::kModifiedStamp, Time());
      xml = writeRecord(set.elements);
    }
    status = node::execute(op.connection(), node::sqlFormat(kUpdateNode, e.label.buffer(), e.parent,
                                                            xml.buffer(), id));
    // A transient node has no row: nothing changes, and no blob may be written for it.
    if (status == StatusOk && e.stored) status = storeBlobs(op, category);
    if (status == StatusOk && e.stored)
      node::queueEvent(op.connection(), monitor::kEventCategoryUpdated, id);
  } else {
    status = persist(op, id);
    if (status == StatusOk) status = storeBlobs(op, category);
  }
  if (status != StatusOk) return status;
  status = scope.commit();
  if (status == StatusOk) {
    AssetImpl& set = category.set();
    Hold hold(*set.lock);
    assets::clearUserSet(set);
  }
  return status;
}

Status removeNode(Operation& op, CategoryImpl& category) {
  const int id = category.id.load();
  TreeEntry e = entryOrFail(op, id);
  if (op.cache.findChild(e.parent, e.label, true) != id) return StatusNotInParent;
  Status begun;
  node::TransactionScope scope(op.connection(), &begun);
  if (!scope.active()) return begun;
  if (deleteSubtree(op, id) != StatusOk) return StatusCategoryFailed;
  return scope.commit();
}

}  // namespace category

// ---- The handle's writes ----

using category::CategoryCache;
using category::Operation;
using category::TreeEntry;

using category::onCategory;

int Category::label(char const* text) {
  const String label(text == nullptr ? "" : text);
  return onCategory(m_impl, [&](Operation& op) -> int {
    TreeEntry e;
    op.cache.entry(m_impl->id.load(), &e);
    if (label == e.label) return StatusOk;
    if (op.cache.findChild(e.parent, label, true) != category::kNone) return StatusConstraint;
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    category::journalLabel(op, m_impl->id.load(), e.label);
    op.cache.setLabel(m_impl->id.load(), label);
    m_impl->labelText(label);
    Status status = category::updateNode(op, *m_impl);
    if (status != StatusOk) return status;
    return scope.commit();
  });
}

int Category::add() {
  return onCategory(m_impl, [&](Operation& op) -> int {
    TreeEntry e;
    op.cache.entry(m_impl->id.load(), &e);
    if (e.stored) return StatusConstraint;
    if ((category::namespaceFlags(op, m_impl->id.load()) & category::kPersistEmptyBit) == 0)
      return StatusOk;  // stored with its first member
    Status begun;
    node::TransactionScope scope(op.connection(), &begun);
    if (!scope.active()) return begun;
    Status status = category::persist(op, m_impl->id.load());
    if (status != StatusOk) return status;
    return scope.commit();
  });
}

int Category::update() {
  return onCategory(m_impl, [&](Operation& op) { return category::updateNode(op, *m_impl); });
}

int Category::remove() {
  return onCategory(m_impl, [&](Operation& op) -> int {
    TreeEntry e;
    op.cache.entry(m_impl->id.load(), &e);
    if (e.namespaceId == m_impl->id.load()) return category::destroyNamespace(&op.node, e.label);
    return category::removeNode(op, *m_impl);
  });
}

int Category::reload() {
  return onCategory(m_impl, [&](Operation& op) -> int {
    TreeEntry e;
    op.cache.entry(m_impl->id.load(), &e);
    if (e.namespaceId == m_impl->id.load()) return op.cache.loadTree(op.connection());
    Status status = op.cache.loadNode(op.connection(), m_impl->id.load());
    if (status == StatusOk) op.cache.loadPopulation(op.connection(), m_impl->id.load());
    return status;
  });
}

// ---- The Node's namespace calls ----

int Node::categoryDeclare(char const* name, Asset& prototype, bool persistEmpty,
                          bool membersModify) {
  return category::declareNamespace(m_impl, name, prototype.name(), persistEmpty, membersModify);
}

int Node::categoryDeclare(char const* name, Category& category, bool persistEmpty,
                          bool membersModify) {
  int refused = node::statusOf([&]() -> int {
    return category.target().compareNoCase(category::kNodeTable) == 0 ? StatusUnsupported
                                                                      : StatusOk;
  });
  if (refused != StatusOk) return refused;
  return category::declareNamespace(m_impl, name, String(category::kNodeTable), persistEmpty,
                                    membersModify);
}

bool Node::categoryDeclared(char const* name) {
  if (!m_impl->isOpen()) return false;
  try {
    Operation op(m_impl);
    return op.cache.findChild(category::kRootId, String(name == nullptr ? "" : name), true) !=
           category::kNone;
  } catch (Status) {
    return false;
  }
}

Category Node::category(char const* name) {
  Operation op(m_impl);
  const int id = op.cache.findChild(category::kRootId, String(name == nullptr ? "" : name), true);
  CategoryImpl* object = id == category::kNone ? nullptr : op.cache.acquire(id);
  if (object == nullptr) throw StatusNotFound;
  return CategoryAccess::adopt(object);
}

int Node::categoryDestroy(char const* name) {
  return category::destroyNamespace(m_impl, String(name == nullptr ? "" : name));
}

Category Node::categoryLoad(int id) {
  Operation op(m_impl);
  CategoryImpl* object = op.cache.acquire(id);
  if (object == nullptr && id != category::kRootId) {
    Status status = op.cache.loadNode(op.connection(), id);
    if (status != StatusOk) throw status == StatusEngineFailure ? StatusNotFound : status;
    op.cache.loadPopulation(op.connection(), id);
    object = op.cache.acquire(id);
  }
  if (object == nullptr || id == category::kRootId) {
    if (object != nullptr) releaseCategory(object);
    throw StatusNotFound;
  }
  return CategoryAccess::adopt(object);
}

std::vector<String> Node::categoryNamespaces() {
  Operation op(m_impl);
  std::vector<String> names;
  for (int id : op.cache.children(category::kRootId, false)) {
    TreeEntry e;
    if (op.cache.entry(id, &e)) names.push_back(e.label);
  }
  return names;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

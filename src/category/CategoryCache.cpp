// The category tree cache: the entries and their links, the objects' references, the tree
// load at open (and after another node's whole-catalog change), the loading of one node,
// and other nodes' category changes applied to the cache.
#include "category/CategoryCache.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <unordered_set>

#include "asset/AssetSql.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/StatusOf.h"
#include "node/Transaction.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {
namespace category {

namespace {

using Hold = platform::MutexLock;

// Records a statement's failure, or a result of the wrong shape (`wrongShape`), as 31.
Status loadFailure(node::NodeConnection& c, const node::Statement& statement, bool wrongShape) {
  assets::EngineFailure failure = statement.error();
  if (wrongShape) {
    failure.code = 0;
    failure.message = "unexpected result shape";
  }
  assets::recordFailure(c, StatusEngineFailure, failure, statement.sql());
  return StatusEngineFailure;
}

int asInt(const node::Statement& s, int column) {
  return static_cast<int>(s.columnInt64(column));
}

// A namespace root's columns as its elements.
void setNamespaceElements(CategoryImpl& object, const String& description, int flags,
                          int typeNumber, const String& target) {
  object.elements.erase();
  object.elements.element(kDescription) = description;
  object.elements.element(kFlags) = flags;
  object.elements.element(kTypeNumber) = typeNumber;
  object.elements.element(kTarget) = target;
}

struct NamespaceRow {
  int id;
  String description;
  int flags;
  String label;
  int typeNumber;
  String target;
};

struct NodeRow {
  int id;
  String label;
  int parent;
  String xml;
};

}  // namespace

DetachedEntries::~DetachedEntries() {
  for (auto& entry : entries)
    if (entry.second.object != nullptr) releaseCategory(entry.second.object);
}

CategoryCache::~CategoryCache() {
  clear();
}

// ---- Reads ----

bool CategoryCache::entry(int id, TreeEntry* out) const {
  Hold hold(lock_);
  auto found = tree_.find(id);
  if (found == tree_.end()) return false;
  *out = found->second;
  return true;
}

CategoryImpl* CategoryCache::acquire(int id) {
  String label, record;
  {
    Hold hold(lock_);
    auto found = tree_.find(id);
    if (found == tree_.end()) return nullptr;
    if (found->second.object != nullptr) {
      found->second.object->refs.fetch_add(1);
      return found->second.object;
    }
    label = found->second.label;
    record = found->second.record;
  }
  // Made outside the lock: its elements take locks of their own.
  auto* made = new CategoryImpl(node_, id, label);
  made->resetElements(record);
  CategoryImpl* result = nullptr;
  {
    Hold hold(lock_);
    auto found = tree_.find(id);
    if (found != tree_.end() && found->second.object == nullptr) {
      found->second.object = made;
      found->second.record = String();
      bound_.insert(made);
      made->refs.fetch_add(1);  // the caller's; the first is the cache's
      return made;
    }
    if (found != tree_.end()) {  // another thread made it meanwhile
      result = found->second.object;
      result->refs.fetch_add(1);
    }
  }
  releaseCategory(made);
  return result;
}

bool CategoryCache::holds(const CategoryImpl* object) const {
  Hold hold(lock_);
  auto found = tree_.find(object->id.load());
  return found != tree_.end() && found->second.object == object;
}

int CategoryCache::findChild(int parent, const String& label, bool storedOnly) const {
  Hold hold(lock_);
  auto p = tree_.find(parent);
  if (p == tree_.end()) return kNone;
  int transient = kNone;
  for (int child = p->second.firstChild; child != kNone;) {
    auto c = tree_.find(child);
    if (c == tree_.end()) break;
    if (c->second.label == label) {
      if (c->second.stored) return child;
      if (transient == kNone) transient = child;
    }
    child = c->second.nextSibling;
  }
  return storedOnly ? kNone : transient;
}

std::vector<int> CategoryCache::children(int parent, bool storedOnly) const {
  std::vector<int> out;
  Hold hold(lock_);
  auto p = tree_.find(parent);
  if (p == tree_.end()) return out;
  for (int child = p->second.firstChild; child != kNone;) {
    auto c = tree_.find(child);
    if (c == tree_.end()) break;
    if (!storedOnly || c->second.stored) out.push_back(child);
    child = c->second.nextSibling;
  }
  return out;
}

std::vector<int> CategoryCache::chain(int id) const {
  std::vector<int> out;
  Hold hold(lock_);
  for (size_t steps = 0; steps <= tree_.size(); ++steps) {
    auto e = tree_.find(id);
    if (e == tree_.end() || id == kRootId) return {};
    out.push_back(id);
    if (e->second.namespaceId == id) return out;
    id = e->second.parent;
  }
  return {};
}

std::vector<int> CategoryCache::subtree(int id) const {
  std::vector<int> out;
  Hold hold(lock_);
  std::vector<int> pending{id};
  while (!pending.empty() && out.size() <= tree_.size()) {
    int next = pending.back();
    pending.pop_back();
    auto e = tree_.find(next);
    if (e == tree_.end()) continue;
    if (next != id) out.push_back(next);
    std::vector<int> kids;
    for (int child = e->second.firstChild; child != kNone;) {
      auto c = tree_.find(child);
      if (c == tree_.end()) break;
      kids.push_back(child);
      child = c->second.nextSibling;
    }
    pending.insert(pending.end(), kids.rbegin(), kids.rend());
  }
  return out;
}

size_t CategoryCache::size() const {
  Hold hold(lock_);
  return tree_.size();
}

int CategoryCache::outsideReferences(const CategoryImpl* object) const {
  Hold hold(lock_);
  auto found = tree_.find(object->id.load());
  const bool mapped = found != tree_.end() && found->second.object == object;
  return object->refs.load() - (mapped ? 1 : 0);
}

// ---- Links ----

void CategoryCache::makeRootLocked() {
  TreeEntry root;
  root.label = String(kRootLabel);
  root.namespaceId = kRootId;
  tree_[kRootId] = root;
}

void CategoryCache::appendLocked(int parent, int id, TreeEntry entry) {
  auto p = tree_.find(parent);
  entry.parent = parent;
  entry.nextSibling = kNone;
  entry.namespaceId = parent == kRootId ? id : p->second.namespaceId;
  if (p->second.lastChild == kNone) {
    p->second.firstChild = id;
  } else {
    tree_[p->second.lastChild].nextSibling = id;
  }
  p->second.lastChild = id;
  if (entry.object != nullptr) bound_.insert(entry.object);
  tree_[id] = std::move(entry);
}

void CategoryCache::linkAfterLocked(int parent, int id, int previous) {
  auto p = tree_.find(parent);
  TreeEntry& e = tree_[id];
  e.parent = parent;
  if (previous == kNone || tree_.count(previous) == 0 || tree_[previous].parent != parent) {
    e.nextSibling = p->second.firstChild;
    p->second.firstChild = id;
    if (p->second.lastChild == kNone) p->second.lastChild = id;
    return;
  }
  TreeEntry& before = tree_[previous];
  e.nextSibling = before.nextSibling;
  before.nextSibling = id;
  if (p->second.lastChild == previous) p->second.lastChild = id;
}

void CategoryCache::unlinkLocked(int id, int* previous) {
  *previous = kNone;
  auto e = tree_.find(id);
  if (e == tree_.end()) return;
  auto p = tree_.find(e->second.parent);
  if (p == tree_.end()) return;
  int before = kNone;
  for (int child = p->second.firstChild; child != kNone;) {
    if (child == id) break;
    before = child;
    child = tree_[child].nextSibling;
  }
  if (before == kNone) {
    if (p->second.firstChild == id) p->second.firstChild = e->second.nextSibling;
  } else {
    tree_[before].nextSibling = e->second.nextSibling;
  }
  if (p->second.lastChild == id) p->second.lastChild = before;
  *previous = before;
}

bool CategoryCache::append(int parent, CategoryImpl* object, const String& label, bool stored) {
  TreeEntry entry;
  entry.stored = stored;
  entry.label = label;
  entry.object = object;
  {
    Hold hold(lock_);
    if (tree_.count(parent) != 0) {
      appendLocked(parent, object->id.load(), std::move(entry));
      return true;
    }
  }
  releaseCategory(object);
  return false;
}

void CategoryCache::setStored(int id, bool stored) {
  Hold hold(lock_);
  auto e = tree_.find(id);
  if (e != tree_.end()) e->second.stored = stored;
}

void CategoryCache::setPopulation(int id, int population) {
  Hold hold(lock_);
  auto e = tree_.find(id);
  if (e != tree_.end()) e->second.population = population;
}

void CategoryCache::setLabel(int id, const String& label) {
  Hold hold(lock_);
  auto e = tree_.find(id);
  if (e != tree_.end()) e->second.label = label;
}

std::shared_ptr<DetachedEntries> CategoryCache::detach(int id) {
  auto detached = std::make_shared<DetachedEntries>();
  std::vector<int> below = subtree(id);  // the per-catalog mutex keeps it current
  Hold hold(lock_);
  if (tree_.count(id) == 0 || id == kRootId) return detached;
  unlinkLocked(id, &detached->previousSibling);
  below.insert(below.begin(), id);
  for (int each : below) {
    auto e = tree_.find(each);
    if (e == tree_.end()) continue;
    detached->entries.emplace_back(each, e->second);
    tree_.erase(e);
  }
  return detached;
}

void CategoryCache::reattach(const DetachedEntries& detached) {
  if (detached.entries.empty()) return;
  Hold hold(lock_);
  const auto& top = detached.entries.front();
  if (tree_.count(top.second.parent) == 0) return;
  for (const auto& each : detached.entries) {
    tree_[each.first] = each.second;
    if (each.second.object != nullptr) each.second.object->refs.fetch_add(1);
  }
  linkAfterLocked(top.second.parent, top.first, detached.previousSibling);
}

// ---- Objects ----

void CategoryCache::release(CategoryImpl* object) {
  {
    Hold hold(lock_);
    if (object->refs.fetch_sub(1) != 1) return;
    bound_.erase(object);
  }
  delete object;
}

void CategoryCache::clear() {
  std::vector<CategoryImpl*> mapped;
  {
    Hold hold(lock_);
    for (auto& entry : tree_)
      if (entry.second.object != nullptr) mapped.push_back(entry.second.object);
    tree_.clear();
    // Handles that outlive the catalog's opening no longer reach the node.
    for (CategoryImpl* object : bound_) object->node = nullptr;
    bound_.clear();
  }
  for (CategoryImpl* object : mapped) releaseCategory(object);
}

// ---- The node's questions ----

void CategoryCache::describeHeld(std::string* text) const {
  Hold hold(lock_);
  for (const auto& entry : tree_) {
    if (entry.second.object == nullptr || entry.second.object->refs.load() <= 1) continue;
    char line[64];
    std::snprintf(line, sizeof line, "ID:%d Name:", entry.first);
    *text += line;
    *text += fullLabelLocked(entry.first);
    std::snprintf(line, sizeof line, " PID:%d\n", entry.second.parent);
    *text += line;
  }
}

std::string CategoryCache::fullLabelLocked(int id) const {
  std::string out;
  for (size_t steps = 0; steps <= tree_.size(); ++steps) {
    auto e = tree_.find(id);
    if (e == tree_.end()) break;
    std::string label(e->second.label.buffer(), e->second.label.length());
    std::string doubled;
    for (char c : label) {
      doubled += c;
      if (c == '/') doubled += '/';
    }
    const bool root = e->second.namespaceId == id;
    out = (root ? "//" : "/") + doubled + out;
    if (root) break;
    id = e->second.parent;
  }
  return out;
}

bool CategoryCache::namespaceLabel(int id, String* label) const {
  Hold hold(lock_);
  if (id == kRootId) return false;
  auto e = tree_.find(id);
  if (e == tree_.end()) return false;
  auto root = tree_.find(e->second.namespaceId);
  if (root == tree_.end()) return false;
  *label = root->second.label;
  return true;
}

bool CategoryCache::descends(long long node, long long ancestor) const {
  if (node < 0 || node > INT32_MAX || ancestor < 0 || ancestor > INT32_MAX) return false;
  Hold hold(lock_);
  auto n = tree_.find(static_cast<int>(node));
  if (n == tree_.end() || node == kRootId) return false;
  auto a = tree_.find(static_cast<int>(ancestor));
  if (a != tree_.end() && a->second.parent == kRootId) return n->second.namespaceId == ancestor;
  if (a == tree_.end()) return false;
  int id = static_cast<int>(node);
  for (size_t steps = 0; steps <= tree_.size(); ++steps) {
    if (id == ancestor) return true;
    auto e = tree_.find(id);
    if (e == tree_.end() || e->second.namespaceId == id) return false;
    id = e->second.parent;
  }
  return false;
}

// ---- Loading ----

Status CategoryCache::loadTree(node::NodeConnection& c) {
  std::vector<NamespaceRow> namespaces;
  std::vector<NodeRow> nodes;
  std::map<int, int> populations;
  {
    node::Statement s(c, kSelectNamespaces);
    if (!s.valid()) return loadFailure(c, s, false);
    if (s.columnCount() != 6) return loadFailure(c, s, true);
    while (s.step())
      namespaces.push_back({asInt(s, 0), s.columnText(1), asInt(s, 2), s.columnText(3), asInt(s, 4),
                            s.columnText(5)});
    if (s.failed()) return loadFailure(c, s, false);
  }
  {
    node::Statement s(c, kSelectNodes);
    if (!s.valid()) return loadFailure(c, s, false);
    if (s.columnCount() != 4) return loadFailure(c, s, true);
    while (s.step()) nodes.push_back({asInt(s, 0), s.columnText(1), asInt(s, 2), s.columnText(3)});
    if (s.failed()) return loadFailure(c, s, false);
  }
  {
    node::Statement s(c, kSelectPopulations);
    if (!s.valid()) return loadFailure(c, s, false);
    if (s.columnCount() != 2) return loadFailure(c, s, true);
    while (s.step()) populations[asInt(s, 0)] = asInt(s, 1);
    if (s.failed()) return loadFailure(c, s, false);
  }

  // The objects of the rows: those in memory are reused (handles stay valid), the others
  // made; their elements are set before the tree is swapped in, with no lock of the cache
  // held. Each object here carries one reference for the new tree.
  std::map<int, CategoryImpl*> objects;
  std::map<int, CategoryImpl*> old;  // the old tree's references, released at the end
  std::vector<std::pair<int, TreeEntry>> heldTransients;
  {
    Hold hold(lock_);
    for (auto& entry : tree_) {
      if (entry.second.object == nullptr) continue;
      old[entry.first] = entry.second.object;
    }
    // Transient entries that handles hold stay, under their parent, with the transient
    // ancestors between them and their nearest stored one (a date navigation leaves year
    // and month transient while the handle holds the day). Parents have the smaller ids.
    std::set<int> keep;
    for (auto& entry : tree_) {
      if (entry.second.stored || entry.first == kRootId || entry.second.object == nullptr ||
          entry.second.object->refs.load() <= 1)
        continue;
      for (int up = entry.first; up != kRootId && keep.size() <= tree_.size();) {
        auto e = tree_.find(up);
        if (e == tree_.end() || e->second.stored || !keep.insert(up).second) break;
        up = e->second.parent;
      }
    }
    for (int id : keep) heldTransients.emplace_back(id, tree_[id]);
  }
  auto objectFor = [&](int id, const String& label) {
    auto found = old.find(id);
    CategoryImpl* object;
    if (found != old.end()) {
      object = found->second;
      object->refs.fetch_add(1);
    } else {
      object = new CategoryImpl(node_, id, label);
    }
    objects[id] = object;
    object->labelText(label);
    return object;
  };
  objectFor(kRootId, String(kRootLabel));
  for (const NamespaceRow& row : namespaces) {
    if (objects.count(row.id)) continue;
    CategoryImpl* object = objectFor(row.id, row.label);
    setNamespaceElements(*object, row.description, row.flags, row.typeNumber, row.target);
  }
  // Nodes in memory are refreshed; the others get their objects on first use.
  for (const NodeRow& row : nodes) {
    if (objects.count(row.id) || old.count(row.id) == 0) continue;
    objectFor(row.id, row.label)->resetElements(row.xml);
  }

  Status result = StatusOk;
  std::vector<CategoryImpl*> unused;  // objects of dropped rows
  {
    Hold hold(lock_);
    tree_.clear();
    makeRootLocked();
    tree_[kRootId].object = objects[kRootId];
    bound_.insert(objects[kRootId]);
    objects[kRootId] = nullptr;
    auto entryFor = [&](int id, const String& label, const String& record) {
      TreeEntry entry;
      entry.stored = true;
      entry.label = label;
      auto object = objects.find(id);
      if (object != objects.end()) {
        entry.object = object->second;
        object->second = nullptr;
      } else {
        entry.record = record;
      }
      return entry;
    };
    // The labels placed under each parent, as parent id bytes followed by the label.
    std::unordered_set<std::string> placed;
    auto storedChild = [&](int parent, const String& label) {
      std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
      key.append(label.buffer(), label.length());
      return !placed.insert(std::move(key)).second;
    };
    for (const NamespaceRow& row : namespaces) {
      if (row.id < 1 || tree_.count(row.id) || storedChild(kRootId, row.label)) {
        result = StatusRowsDropped;
        continue;
      }
      appendLocked(kRootId, row.id, entryFor(row.id, row.label, String()));
    }
    for (const NodeRow& row : nodes) {
      if (row.id < 1 || tree_.count(row.id) || tree_.count(row.parent) == 0 ||
          row.parent == kRootId || storedChild(row.parent, row.label)) {
        result = StatusRowsDropped;
        continue;
      }
      appendLocked(row.parent, row.id, entryFor(row.id, row.label, row.xml));
    }
    for (auto& held : heldTransients) {
      if (tree_.count(held.first) != 0) continue;  // stored meanwhile: its row placed it
      CategoryImpl* object = held.second.object;
      if (tree_.count(held.second.parent) == 0) {
        object->id = -1;  // its parent is gone: it can never be stored
        continue;
      }
      object->refs.fetch_add(1);
      TreeEntry entry;
      entry.label = held.second.label;
      entry.object = object;
      appendLocked(held.second.parent, held.first, std::move(entry));
    }
    for (const auto& count : populations) {
      auto e = tree_.find(count.first);
      if (e != tree_.end()) e->second.population = count.second;
    }
    for (auto& each : objects)
      if (each.second != nullptr) unused.push_back(each.second);
  }
  for (CategoryImpl* object : unused) releaseCategory(object);
  for (auto& each : old) releaseCategory(each.second);
  return result;
}

void CategoryCache::reloadPopulations(node::NodeConnection& c) {
  std::map<int, int> populations;
  node::Statement s(c, kSelectPopulations);
  while (s.valid() && s.columnCount() == 2 && s.step())
    populations[static_cast<int>(s.columnInt64(0))] = static_cast<int>(s.columnInt64(1));
  if (!s.valid() || s.failed()) return;
  std::map<int, int> previous;
  {
    Hold hold(lock_);
    for (auto& entry : tree_) {
      previous[entry.first] = entry.second.population;
      auto found = populations.find(entry.first);
      entry.second.population = found == populations.end() ? 0 : found->second;
    }
  }
  node::journalUndo(c, [this, previous] {
    for (const auto& each : previous) setPopulation(each.first, each.second);
  });
}

Status CategoryCache::removeMember(int id) {
  return static_cast<Status>(node::statusOf([&] {
    Operation op(node_);
    return category::removeMember(op, id);
  }));
}

Status CategoryCache::touchHolders(int id) {
  // Without a namespace that asks for it, an update reads nothing more.
  bool any = false;
  for (int root : children(kRootId, true)) {
    TreeEntry e;
    if (entry(root, &e) && e.object != nullptr &&
        (static_cast<int>(e.object->elements.element(kFlags)) & kMembersModifyBit) != 0)
      any = true;
  }
  if (!any) return StatusOk;
  return static_cast<Status>(node::statusOf([&] {
    Operation op(node_);
    return category::touchHolders(op, id);
  }));
}

Status CategoryCache::destroyTargetNamespaces(const String& type) {
  return static_cast<Status>(
      node::statusOf([&] { return category::destroyTargetNamespaces(*node_, type); }));
}

void CategoryCache::loadPopulation(node::NodeConnection& c, int id) {
  String count;
  if (node::queryValue(c, node::sqlFormat(kCountMembers, id), &count) != StatusOk) return;
  setPopulation(id, static_cast<int>(std::strtol(count.buffer(), nullptr, 10)));
}

Status CategoryCache::loadNode(node::NodeConnection& c, int id) {
  // The row and those of its missing ancestors, nearest first, up to one in the cache.
  if (id < 1) return StatusNotFound;
  std::vector<std::pair<int, NodeRow>> rows;
  std::set<int> ids;  // the rows read, so that a cycle of parents ends the reading
  for (int next = id;;) {
    if (next < 1 || !ids.insert(next).second) return StatusNotFound;
    node::Statement s(c, node::sqlFormat(kSelectNode, next));
    if (!s.valid()) return loadFailure(c, s, false);
    if (s.columnCount() != 3) return loadFailure(c, s, true);
    int count = 0;
    NodeRow row{next, String(), 0, String()};
    while (s.step())
      if (++count == 1) row = {next, s.columnText(0), asInt(s, 1), s.columnText(2)};
    if (s.failed()) return loadFailure(c, s, false);
    if (count != 1) return StatusNotFound;
    rows.emplace_back(next, row);
    TreeEntry parent;
    if (row.parent == kRootId) return StatusNotFound;  // a node row directly under the root
    if (entry(row.parent, &parent)) break;
    next = row.parent;
  }
  // The rows must hang below a namespace root through the cache, never below one of
  // themselves, and a row in memory moves only within its namespace.
  {
    Hold hold(lock_);
    int up = rows.back().second.parent;
    int namespaceId = kNone;
    for (size_t steps = 0; steps <= tree_.size() && namespaceId == kNone; ++steps) {
      auto e = tree_.find(up);
      if (ids.count(up) != 0 || e == tree_.end() || up == kRootId) return StatusNotFound;
      if (e->second.namespaceId == up) namespaceId = up;
      up = e->second.parent;
    }
    if (namespaceId == kNone) return StatusNotFound;
    for (const auto& row : rows) {
      auto e = tree_.find(row.first);
      if (e != tree_.end() && e->second.namespaceId != namespaceId) return StatusNotFound;
    }
  }
  // Placed farthest first, so that each parent is there for its child.
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const NodeRow& row = it->second;
    {
      // An entry whose object is not made yet takes the row as it is.
      Hold hold(lock_);
      auto e = tree_.find(row.id);
      if (e != tree_.end() && e->second.object == nullptr && e->second.parent == row.parent) {
        e->second.stored = true;
        e->second.label = row.label;
        e->second.record = row.xml;
        continue;
      }
    }
    CategoryImpl* object = acquire(row.id);
    const bool known = object != nullptr;
    if (!known) object = new CategoryImpl(node_, row.id, row.label);
    object->labelText(row.label);
    object->resetElements(row.xml);
    bool adopted = false;  // a new object went into the tree with its reference
    {
      Hold hold(lock_);
      auto e = tree_.find(row.id);
      if (e != tree_.end() && e->second.parent != row.parent && tree_.count(row.parent)) {
        // Moved under another parent: relinked there, keeping its entry and reference.
        int previous;
        unlinkLocked(row.id, &previous);
        TreeEntry moved = e->second;
        tree_.erase(e);
        appendLocked(row.parent, row.id, std::move(moved));
        e = tree_.find(row.id);
      }
      if (e != tree_.end()) {
        e->second.stored = true;
        e->second.label = row.label;
      } else if (!known && tree_.count(row.parent)) {
        TreeEntry entry;
        entry.stored = true;
        entry.label = row.label;
        entry.object = object;
        appendLocked(row.parent, row.id, std::move(entry));
        adopted = true;
      }
    }
    if (!adopted) releaseCategory(object);  // the reference taken or made above
  }
  return StatusOk;
}

Status CategoryCache::applyEvents(node::NodeConnection& c,
                                  const std::vector<std::pair<int, int>>& events, bool rebuild) {
  if (rebuild) {
    const Status loaded = loadTree(c);
    return loaded == StatusRowsDropped ? StatusOk : loaded;
  }
  Status result = StatusOk;
  for (const auto& event : events) {
    const int id = event.second;
    switch (event.first) {
      case monitor::kEventCategoryAdded:
      case monitor::kEventCategoryUpdated: {
        TreeEntry e;
        if (entry(id, &e) && e.namespaceId == id) break;  // namespace rows come with kind 1
        const Status loaded = loadNode(c, id);
        if (loaded == StatusOk)
          loadPopulation(c, id);
        else if (loaded != StatusNotFound)
          result = loaded;  // a failed read: the node is missed
        break;
      }
      case monitor::kEventCategoryDeleted:
        detach(id);  // released here: the deletion is not undone
        break;
      case monitor::kEventMembershipChanged: {
        std::vector<int> touched = chain(id);
        for (int below : subtree(id)) touched.push_back(below);
        for (int each : touched) loadPopulation(c, each);
        break;
      }
      default:
        break;
    }
  }
  return result;
}

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

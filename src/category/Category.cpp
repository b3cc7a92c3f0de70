// The category object and the Category handle: reference counting, the tree getters,
// navigation (by label and by date), the namespace's flags and the element access.
#include <cstdio>
#include <mutex>
#include <string>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/ElementImpl.h"
#include "asset/RecordLock.h"
#include "category/CategoryCache.h"
#include "category/CategoryImpl.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "node/IdAllocator.h"
#include "node/NodeAccess.h"
#include "node/StatusOf.h"
#include "node/Transaction.h"
#include "types/TimeCalc.h"
#include "vendrithane/Node.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using Hold = std::lock_guard<RecordLock>;

constexpr char kLabelElement[] = "vd_cnod";

Asset newElementSet() {
  return AssetAccess::make(new AssetImpl(String(category::kNodeTable), false));
}

}  // namespace

// ---- The object ----

CategoryImpl::CategoryImpl(NodeImpl* owner, int id, const String& text)
    : id(id),
      node(owner),
      label(
          AssetAccess::make(new ElementImpl(String(kLabelElement), defaultRecordLock(), nullptr))),
      elements(newElementSet()) {
  labelText(text);
}

AssetImpl& CategoryImpl::set() const {
  return *AssetAccess::impl(elements);
}

void CategoryImpl::resetElements(const String& xml) {
  AssetImpl& s = set();
  Hold hold(*s.lock);
  s.eraseAllLocked();
  s.record = xml;
  s.parsed = xml.length() == 0;
}

String CategoryImpl::labelText() const {
  return static_cast<String>(label);
}

void CategoryImpl::labelText(const String& text) {
  label = text;
  AssetAccess::impl(label)->userSet = false;
}

void releaseCategory(CategoryImpl* category) {
  NodeImpl* node = category->node.load();
  if (node != nullptr) {
    category::CategoryCache::of(*node).release(category);
  } else if (category->refs.fetch_sub(1) == 1) {
    delete category;
  }
}

namespace category {

NodeImpl* nodeOf(const CategoryImpl& category) {
  NodeImpl* node = category.node.load();
  if (node == nullptr) throw StatusNotOpen;
  return node;
}

Operation::Operation(NodeImpl* owner)
    : node(*owner), lease(owner->pool()), cache(CategoryCache::of(*owner)) {
  if (!lease) throw StatusNotOpen;
  hold_.emplace(node);
}

}  // namespace category

// ---- The handle ----

using category::CategoryCache;
using category::Operation;
using category::TreeEntry;

namespace {

// The entry of the handle's category, under an operation; throws 47 when the object is not
// the cache's any more (deleted elsewhere, catalog closed or reloaded without it).
TreeEntry entryOf(Operation& op, CategoryImpl* impl) {
  TreeEntry e;
  if (!op.cache.holds(impl) || !op.cache.entry(impl->id.load(), &e)) throw StatusNotAllowed;
  return e;
}

// The ids from the namespace root down to the category (index = depth).
std::vector<int> pathOf(Operation& op, CategoryImpl* impl) {
  entryOf(op, impl);
  std::vector<int> up = op.cache.chain(impl->id.load());
  if (up.empty()) throw StatusNotAllowed;
  return std::vector<int>(up.rbegin(), up.rend());
}

// The node of a handle about to be re-pointed: 47 when its catalog was closed (the handle
// stays where it was), 20 when that catalog is not open.
NodeImpl* navigationNode(const CategoryImpl& impl) {
  NodeImpl* node = impl.node.load();
  if (node == nullptr) throw StatusNotAllowed;
  return node;
}

// Re-points the handle to `id`'s object.
void moveTo(Category& handle, Operation& op, int id) {
  CategoryImpl* target = op.cache.acquire(id);
  if (target == nullptr) throw StatusNotAllowed;
  CategoryAccess::rebind(handle, target);
}

// The label of entry `id` ("" when it is not in the cache).
String labelOf(Operation& op, int id) {
  TreeEntry e;
  return op.cache.entry(id, &e) ? e.label : String();
}

}  // namespace

Category::Category(const Category& other) : m_impl(other.m_impl) {
  m_impl->refs.fetch_add(1);
}

Category& Category::operator=(const Category& other) {
  if (other.m_impl != m_impl) {
    other.m_impl->refs.fetch_add(1);
    CategoryImpl* old = m_impl;
    m_impl = other.m_impl;
    releaseCategory(old);
  }
  return *this;
}

Category::~Category() {
  releaseCategory(m_impl);
}

int Category::id() {
  return m_impl->id.load();
}

Node Category::node() {
  return NodeAccess::shareOrNone(m_impl->node.load());
}

Element& Category::label() {
  return m_impl->label;
}

String Category::label(int n) {
  Operation op(category::nodeOf(*m_impl));
  std::vector<int> path = pathOf(op, m_impl);
  if (n < 0 || n >= static_cast<int>(path.size())) throw StatusOutOfBounds;
  return labelOf(op, path[n]);
}

String Category::fullLabel() {
  Operation op(category::nodeOf(*m_impl));
  std::string out;
  for (int id : pathOf(op, m_impl)) {
    String label = labelOf(op, id);
    std::string doubled;
    for (size_t i = 0; i < label.length(); ++i) {
      doubled += label.buffer()[i];
      if (label.buffer()[i] == '/') doubled += '/';
    }
    out += (out.empty() ? "//" : "/") + doubled;
  }
  return String(out.c_str());
}

int Category::depth() {
  Operation op(category::nodeOf(*m_impl));
  return static_cast<int>(pathOf(op, m_impl).size()) - 1;
}

void Category::ancestor(int n) {
  Operation op(navigationNode(*m_impl));
  std::vector<int> path = pathOf(op, m_impl);
  if (n < 0 || n >= static_cast<int>(path.size())) throw StatusOutOfBounds;
  moveTo(*this, op, path[n]);
}

namespace {

// One navigation step of the handle: to the child of that label, made transient when there
// is none (its id drawn from the counter; a rollback of the transaction that drew it takes
// it out again).
void stepDown(Category& handle, Operation& op, const String& label) {
  CategoryImpl* impl = CategoryAccess::impl(handle);
  entryOf(op, impl);  // 47 when the category left the tree
  const int parent = impl->id.load();
  int child = op.cache.findChild(parent, label, false);
  if (child == category::kNone) {
    const int id = node::nextId(op.connection());
    if (id < 1) throw StatusIdCounterFailed;
    op.cache.append(parent, new CategoryImpl(&op.node, id, label), label, false);
    category::journalNewEntry(op, id);
    child = id;
  } else {
    TreeEntry e;
    op.cache.entry(child, &e);
    if (!e.stored && e.object != nullptr && e.firstChild == category::kNone &&
        op.cache.outsideReferences(e.object) <= 0)
      e.object->resetElements(String());
  }
  moveTo(handle, op, child);
}

}  // namespace

void Category::subCategory(char const* label) {
  Operation op(navigationNode(*m_impl));
  stepDown(*this, op, String(label == nullptr ? "" : label));
}

void Category::subCategory(String label) {
  Operation op(navigationNode(*m_impl));
  stepDown(*this, op, label);
}

void Category::subCategory(long long time) {
  const CalendarFields local = localCalendar(time);  // one conversion for the three fields
  char text[32];
  Operation op(navigationNode(*m_impl));
  std::snprintf(text, sizeof text, "%d", local.year);
  stepDown(*this, op, String(text));
  std::snprintf(text, sizeof text, "%02d", local.month);
  stepDown(*this, op, String(text));
  std::snprintf(text, sizeof text, "%02d", local.day);
  stepDown(*this, op, String(text));
}

bool Category::isSubCategory(char const* label) {
  Operation op(category::nodeOf(*m_impl));
  entryOf(op, m_impl);
  return op.cache.findChild(m_impl->id.load(), String(label == nullptr ? "" : label), true) !=
         category::kNone;
}

int Category::numChildren() {
  Operation op(category::nodeOf(*m_impl));
  entryOf(op, m_impl);
  return static_cast<int>(op.cache.children(m_impl->id.load(), true).size());
}

int Category::refCount() {
  NodeImpl* node = m_impl->node.load();
  if (node == nullptr) return m_impl->refs.load();
  Operation op(node);
  CategoryCache& cache = op.cache;
  const int children =
      cache.holds(m_impl) ? static_cast<int>(cache.children(m_impl->id.load(), false).size()) : 0;
  return children + cache.outsideReferences(m_impl);
}

String Category::nameSpace() {
  Operation op(category::nodeOf(*m_impl));
  return labelOf(op, entryOf(op, m_impl).namespaceId);
}

void Category::nameSpace(char const* name) {
  // Renaming the root writes the namespace's row.
  Category root(*this);
  root.ancestor(0);
  const int status = root.label(name);
  if (status != StatusOk) throw static_cast<Status>(status);
}

namespace {

// The namespace root's object of the handle's category (one reference for the caller).
Asset namespaceSet(Operation& op, CategoryImpl* impl) {
  TreeEntry root;
  if (!op.cache.entry(entryOf(op, impl).namespaceId, &root) || root.object == nullptr)
    throw StatusNotAllowed;
  return root.object->elements;
}

int setFlag(CategoryImpl* impl, int bit, bool on) {
  return node::statusOf([&]() -> int {
    Operation op(category::nodeOf(*impl));
    const int root = entryOf(op, impl).namespaceId;
    Asset set = namespaceSet(op, impl);
    const int before = static_cast<int>(set.element(category::kFlags));
    const int after = on ? (before | bit) : (before & ~bit);
    if (after == before) return StatusOk;
    node::TransactionScope scope(op.connection());
    set.element(category::kFlags) = after;
    node::journalUndo(op.connection(),
                      [set, before]() mutable { set.element(category::kFlags) = before; });
    Status written = category::writeNamespace(op, root);
    if (written != StatusOk) return written;
    return scope.commit();
  });
}

}  // namespace

String Category::target() {
  Operation op(category::nodeOf(*m_impl));
  return static_cast<String>(namespaceSet(op, m_impl).element(category::kTarget));
}

bool Category::persistEmpty() {
  Operation op(category::nodeOf(*m_impl));
  return (category::namespaceFlags(op, m_impl->id.load()) & category::kPersistEmptyBit) != 0;
}

bool Category::membersModify() {
  Operation op(category::nodeOf(*m_impl));
  return (category::namespaceFlags(op, m_impl->id.load()) & category::kMembersModifyBit) != 0;
}

int Category::persistEmpty(bool on) {
  return setFlag(m_impl, category::kPersistEmptyBit, on);
}

int Category::membersModify(bool on) {
  return setFlag(m_impl, category::kMembersModifyBit, on);
}

int Category::nElements() {
  NodeImpl* node = m_impl->node.load();
  if (node != nullptr) {
    TreeEntry e;
    if (category::CategoryCache::of(*node).entry(m_impl->id.load(), &e) &&
        e.namespaceId == m_impl->id.load())
      return -1;
  }
  return m_impl->elements.nElements();
}

int Category::population() {
  Operation op(category::nodeOf(*m_impl));
  TreeEntry e;
  if (!op.cache.holds(m_impl) || !op.cache.entry(m_impl->id.load(), &e)) return 0;
  if (!e.stored || e.namespaceId == m_impl->id.load()) return 0;
  return e.population;
}

Element& Category::element(char const* name) {
  return m_impl->elements.element(name);
}

bool Category::elementExists(char const* name) {
  return m_impl->elements.elementExists(name);
}

void Category::erase(char const* name) {
  m_impl->elements.erase(name);
}

const std::map<String, Element*>* Category::elems() {
  m_impl->elements.nElements();  // parsed first
  return m_impl->elements.elems();
}

namespace {

void refuseOnRoot(CategoryImpl* impl) {
  NodeImpl* node = impl->node.load();
  if (node == nullptr) return;
  TreeEntry e;
  if (category::CategoryCache::of(*node).entry(impl->id.load(), &e) && e.namespaceId == impl->id)
    throw StatusNotAllowed;
}

}  // namespace

Element& Category::created() {
  refuseOnRoot(m_impl);
  return m_impl->elements.created();
}

Element& Category::modified() {
  refuseOnRoot(m_impl);
  return m_impl->elements.modified();
}

}  // namespace Vendrithane
}  // namespace KESTRIN

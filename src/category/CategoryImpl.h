// The shared object behind Category handles: one per category in memory. Its place in the
// tree (parent, children, stored flag, population) is kept by the catalog's tree cache
// (category/CategoryCache.h), which also holds one reference on each object it knows.
//
// The object's own lock is its element set's record lock: the label element and the
// element set guard themselves. id and node are atomic, changed only under the per-catalog
// mutex (by the tree cache, the writes and their undo).
#ifndef VENDRITHANE_CATEGORY_CATEGORYIMPL_H
#define VENDRITHANE_CATEGORY_CATEGORYIMPL_H

#include <atomic>

#include "vendrithane/Asset.h"
#include "vendrithane/Category.h"
#include "vendrithane/Element.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
class NodeImpl;

class CategoryImpl {
 public:
  // A category of `node` with that id and label, no elements, one reference for the caller.
  CategoryImpl(NodeImpl* node, int id, const String& label);
  CategoryImpl(const CategoryImpl&) = delete;
  CategoryImpl& operator=(const CategoryImpl&) = delete;

  // The element set's implementation (record table "vd_cat_nde", bound to no catalog).
  AssetImpl& set() const;
  // Replaces the elements by the record text `xml`, parsed on first use.
  void resetElements(const String& xml);
  // The label element's value.
  String labelText() const;
  void labelText(const String& label);

  std::atomic<int> refs{1};     // handles, plus one while the tree cache holds it
  std::atomic<int> id;          // -1 until assigned, and after an undone assignment
  std::atomic<NodeImpl*> node;  // null once the catalog is closed or gone
  mutable Element label;        // "vd_cnod", text
  mutable Asset elements;       // own elements, or a namespace root's columns
};

// Drops one reference; the last one destroys the object.
void releaseCategory(CategoryImpl* category);

struct CategoryAccess {
  // A handle that adopts one reference the caller took on impl.
  static Category adopt(CategoryImpl* impl) {
    Category category{Category::Unset()};
    category.m_impl = impl;
    return category;
  }
  static CategoryImpl* impl(const Category& category) { return category.m_impl; }
  // Re-points `category` to impl (adopting one reference the caller took), releasing the
  // old object.
  static void rebind(Category& category, CategoryImpl* impl) {
    CategoryImpl* old = category.m_impl;
    category.m_impl = impl;
    releaseCategory(old);
  }
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYIMPL_H

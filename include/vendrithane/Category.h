// Category: one place in a catalog's category trees. Each tree hangs under a namespace (a
// named root, Node::categoryDeclare) that says which records its categories hold; below it
// lie category nodes, each with a label unique among its siblings and elements of its own.
// A handle: copies share one category object, assignment re-points the handle. A node made
// by navigation (subCategory) is transient, in memory only, until it is stored (add,
// update, or its first member).
//
// Every operation takes the catalog's lock first (applying other nodes' changes), then the
// category's own. A handle on a category that left its catalog's tree (removed by another
// process, its namespace destroyed) reads as before, but its writes, add() and reload()
// answer 47 and change nothing; once the catalog is closed they answer 20.
#ifndef VENDRITHANE_CATEGORY_H
#define VENDRITHANE_CATEGORY_H

#include <map>
#include <vector>

#include "vendrithane/Element.h"
#include "vendrithane/Export.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class Asset;
class CategoryImpl;
struct CategoryAccess;
class Expression;
class Filter;
class Handler;
class Node;

class VENDRITHANE_API Category {
 public:
  Category(const Category& other);
  Category& operator=(const Category& other);
  ~Category();

  // The id; -1 before one is assigned, and again when the transaction that gave it was
  // rolled back.
  int id();
  // A handle on the owning catalog (one that names no catalog once it has gone).
  Node node();

  // The label element ("vd_cnod", text).
  Element& label();
  // The label of the ancestor at depth n (0 the namespace root, depth() this category).
  // Throws 37 when n is outside [0, depth()].
  String label(int n);
  // Renames: 0 (also for the current label), 41 (a stored sibling has it), 42 (no id), or
  // the status of the write.
  int label(char const* text);
  // "//namespace/label/label", each label with its "/" doubled.
  String fullLabel();
  // Parent steps to the namespace root (0 for the root itself).
  int depth();
  // Re-points the handle to the ancestor at depth n; throws 37 as label(int) does.
  void ancestor(int n);
  // Re-points the handle to the child of that label, made (transient) when there is none.
  // Throws 47 when this category is no longer in its catalog (deleted elsewhere, catalog
  // closed): the handle stays where it was.
  void subCategory(char const* label);
  void subCategory(String label);
  // Three steps: the year ("%d"), month and day ("%02d") of the time, in local time.
  void subCategory(long long time);
  // Whether a stored child has that label.
  bool isSubCategory(char const* label);
  int numChildren();  // stored children
  int refCount();     // children (stored or not) plus handles held outside the catalog

  String nameSpace();                // the namespace root's label
  void nameSpace(char const* name);  // renames the namespace root and writes its row
  String target();                   // the record type of the members, or "vd_cat_nde"
  bool persistEmpty();               // categories without members are kept
  bool membersModify();              // a change of members counts as a change
  // Set or clear the flag on the namespace root and write its row: 0, or that write's status.
  int persistEmpty(bool on);
  int membersModify(bool on);

  // Stores a transient category (and its transient ancestors): 0 (also when the namespace
  // does not keep empty categories: then nothing is stored), 41 (stored already), 42, or a
  // write's status.
  int add();
  // Writes the category (storing it when its namespace keeps empty ones): 0, 42, or the
  // write's status. On a namespace root it writes the namespace's row.
  int update();
  // Deletes the category with its subtree and memberships: 0, 4, 42, 62 (not a stored child
  // of its parent). On a namespace root it destroys the namespace.
  int remove();
  // Reads the category's row again: 0, 20, 30.
  int reload();

  // Membership. A category holds records of its namespace's target (or, for "vd_cat_nde",
  // category nodes); a member of a category is also a member of each of its ancestors
  // below the namespace root. Members keep the order they were filed in, which
  // memberOrder changes.
  //
  // apply files members here (storing the category and its transient ancestors first):
  // 0, 47 (a namespace root, or no longer the catalog's), 42 (no id), 14 (a member of
  // another type, an unstored or root category, the category itself, or no listed id
  // exists), 44 (a category of another catalog), 83 (some ids did not exist: the vector
  // form negates them in place), 62, 63 (an id not positive), or a write's status.
  int apply(Asset& asset);
  int apply(Category& category);
  int apply(Asset** list, int count);
  int apply(std::vector<Asset*> const& assets);
  int apply(std::vector<int>& ids);
  // unapply takes members out of this category and every category below it (all of them
  // for the first form; the category's ancestors keep theirs); on a namespace root, out of
  // each top-level category, in one transaction. Categories left without members go when
  // their namespace does not keep empty ones. 0, 47 (not stored), 20, 4, or a write's status.
  int unapply();
  int unapply(Asset& asset);
  int unapply(Category& category);
  int unapply(Asset* array, int count);
  int unapply(std::vector<Asset*> const& assets);
  int unapply(std::vector<int> const& ids);
  // Reorders members: absolute (the listed members at those positions, the others in
  // their order around them) or relative (the listed members exchange the order keys they
  // hold, sorted by the positions given). Without positions: 0, 1, 2, ... 0, 47 (not
  // stored, or a namespace root), 14 (sizes differ, a non-member, an id or a position
  // listed twice, a position outside [0, population())), or a write's status.
  int memberOrder(std::vector<int> const& ids, std::vector<int> const& positions, bool relative);
  int memberOrder(std::vector<Asset*> const& assets, std::vector<int> const& positions,
                  bool relative);
  int memberOrder(std::vector<int> const& ids, bool relative);
  int memberOrder(std::vector<Asset*> const& assets, bool relative);
  // Whether the record or category (by id) is a member.
  bool contains(Asset& asset);
  bool contains(Category& category);
  bool contains(int id);
  // Delivers this category, if it belongs to the namespace so named (any when nameSpace is
  // null or ""), to a ready handler as Asset::categoryMembership does, with its population.
  int categoryMembership(Handler& handler, char* nameSpace);

  // Delivers the stored children to the handler (category mode), in the order they were
  // made, as a load does: kept, item events within the bounds, progress, completion. The
  // children in memory are delivered; when none is, they are read from the catalog. 0, 20,
  // 31 (a result of the wrong shape), 47 (the category is no longer the catalog's), 60
  // (stopped: after the current item), 74 (the read failed, after errorEvent).
  int subCategories(Handler& handler);
  // The same for the stored children the filter selects, read from the catalog (its
  // ordering, limit and offset applied); also 45 or 4 when the filter makes no clause.
  int subCategories(Filter& filter, Handler& handler);

  int nElements();   // own elements; -1 for a namespace root
  int population();  // members; 0 for a transient category and for a namespace root
  // The category's own elements, as an Asset's.
  Element& element(char const* name);
  bool elementExists(char const* name);
  void erase(char const* name);
  const std::map<String, Element*>* elems();
  // "vd_created" and "vd_modified"; throw 47 on a namespace root.
  Element& created();
  Element& modified();

  // Conditions for a Filter (Expression.h) over category nodes. in(category): the node is
  // a member of that category (of a namespace root: of any of its stored top-level
  // categories); in(ids): the node's id is listed (an empty list gives an empty
  // expression); descendant(): the node is this category or lies below it.
  Expression in(Category const& category);
  Expression in(std::vector<int> ids);
  Expression descendant();

 private:
  friend struct CategoryAccess;  // the library's own access to the implementation
  struct Unset {};
  explicit Category(Unset) : m_impl(nullptr) {}  // CategoryAccess::adopt sets m_impl at once

  CategoryImpl* m_impl;  // never null once made
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_H

// Asset: one record of a catalog, a bag of named, typed elements keyed by their lower-cased
// names in byte order. A handle: copies share one asset, assignment re-points the handle,
// the last handle destroys it. An asset read from a catalog keeps its record text and
// parses it on the first call that needs its elements. Every operation takes the asset's
// recursive lock; lock() and unlock() let the host make a sequence of calls atomic.
#ifndef VENDRITHANE_ASSET_H
#define VENDRITHANE_ASSET_H

#include <map>
#include <vector>

#include "vendrithane/Element.h"
#include "vendrithane/Export.h"
#include "vendrithane/String.h"
#include "vendrithane/UserData.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
struct AssetAccess;
class Category;
class Expression;
class Handler;
class Node;

class VENDRITHANE_API Asset {
 public:
  // A new unsaved asset of type "vd_assets" in the shared collection, id -1, no elements,
  // bound to no catalog.
  Asset();
  Asset(const Asset& other);
  Asset& operator=(const Asset& other);
  ~Asset();

  int id() const;  // -1 until stored
  String name();   // the asset type name
  bool inCollection();
  // A handle on the catalog the asset was made for (Node::asset, Node::assetLoad). An asset
  // bound to no catalog, or whose catalog's last handle has gone, gets a Node that names no
  // catalog: it never opens and its calls answer 20 (StatusNotOpen).
  Node node();

  int nElements();  // parses if needed
  // The element map itself, without parsing: call nElements() first on an asset read from a
  // catalog. Hold lock() while walking it if other threads use the asset.
  const std::map<String, Element*>* elems();
  bool elementExists(const char* name);  // case-insensitive; parses if needed
  // The element of the lower-cased name, created (type undef, empty text) when absent. The
  // reference stays valid until that element is erased or the asset destroyed.
  Element& element(const char* name);
  // "vd_created" and "vd_modified"; created with time 0, not marked as set, when absent.
  Element& created();
  Element& modified();
  void erase(const char* name);  // that element, if present; parses if needed
  // Every element. Also drops a record text not yet parsed, so the erased elements do not
  // come back on the next use.
  void erase();

  void lock();  // enter and leave the asset's recursive lock
  void unlock();

  // Stores p; when p differs from the current payload, dispose() is called on that first.
  void userData(UserData* p);
  UserData* userData();

  // Persistence in the catalog the asset was made for (Node::asset, Node::assetLoad).
  // Each runs in a transaction of its own, nested in the calling thread's when one is open.
  // Inserts a new record, stamping "vd_created" and "vd_modified" unless the host set them:
  // 0, 41 (stored already), 20 (not open, or the asset belongs to no catalog), 64 (the
  // type's table is gone), 81 (read-only), 61, or the status of a blob or of the id counter.
  int store();
  // Rewrites a stored record, stamping "vd_modified" unless the host set it: 0, 20, 30
  // (never stored, or its row is gone), 70 (loaded and never read: nothing to write), 64,
  // 81, 61, or a blob's status. Other catalogs see a record-updated change. When another
  // node or process rewrote the record since this asset read or wrote it, only the elements
  // the host assigned, changed or erased since then are written over that record, and the
  // asset shows the record as written (its other elements take the stored values).
  int update();
  // Deletes a stored record with its blobs and memberships; its id is -1 again: 0, 30
  // (never stored), 20, 29.
  int remove();

  // Takes the record out of every category that holds it: 0, 20, or a write's status.
  // Categories left without members go when their namespace does not keep empty ones.
  int categoryUnapply();
  // Delivers to a ready handler (category mode) each category holding the record, with
  // categoryEvent(category, 1); only those of the namespace so named unless nameSpace is
  // null or "". 0, 20, 30 (no such namespace), 46 (handler not ready), or a read's status.
  int categoryMembership(Handler& handler, char* nameSpace);

  // Conditions for a Filter (Expression.h) over records of this asset's table. in(ids):
  // the record's id is listed (an empty list gives an empty expression). in(category): the
  // record is a member of the category; of a namespace root: a member of any of its stored
  // top-level categories (none: no record). inAny: a member of any listed category, a root
  // standing for its top-level categories; throws 14 for a null pointer. Categories are
  // read under the catalog's lock (20 when their catalog is not open).
  Expression in(std::vector<int> ids);
  Expression in(Category const& category);
  Expression inAny(std::vector<Category*> const& categories);

 private:
  friend struct AssetAccess;  // the library's own access to the implementation
  struct Unset {};
  explicit Asset(Unset) : m_impl(nullptr) {}  // AssetAccess::make sets m_impl at once

  AssetImpl* m_impl;  // never null once made
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_H

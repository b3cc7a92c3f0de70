// The table of live assets of a node: every AssetImpl bound to the node, and for each stored
// id the one AssetImpl that represents it while handles on it exist. Loads of an id found
// here share that object; the last handle on a bound asset takes it out of the table.
//
// Lock order (platform/LockOrder.h): an asset's lock before this table's lock. The table's
// lock is never held while an asset is destroyed or its lock taken.
#ifndef VENDRITHANE_ASSET_LIVEASSETS_H
#define VENDRITHANE_ASSET_LIVEASSETS_H

#include <cstddef>
#include <map>
#include <unordered_map>

#include "platform/Mutex.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;

class LiveAssets {
 public:
  LiveAssets() = default;
  // Unbinds every asset still bound (their node pointer becomes null), so that handles
  // that outlive the node no longer reach it.
  ~LiveAssets();
  LiveAssets(const LiveAssets&) = delete;
  LiveAssets& operator=(const LiveAssets&) = delete;

  // A new asset, bound to the node by the caller, is known from now on.
  void bind(AssetImpl* asset);
  // The live asset of `id` with one more reference for the caller; null when none.
  AssetImpl* find(int id);
  // `asset` with one more reference for the caller while it is bound to the node (a handle
  // on it is left); null otherwise. The pointer is only compared, never followed, until
  // found.
  AssetImpl* findBound(const AssetImpl* asset);
  // Enters a bound asset under `id`. When another asset holds the id already, that one
  // gets one more reference and is returned; else `asset` is entered and returned.
  AssetImpl* enter(AssetImpl* asset, int id);
  // Takes `asset` out of the entry of `id` when it holds it.
  void leave(AssetImpl* asset, int id);
  // The live asset of `id`, if any, leaves the table and no longer stands for a stored
  // record (its id becomes -1): the record was deleted elsewhere. Whether one was live.
  bool forget(int id);
  // Drops one reference of a bound asset; the last one takes it out of the table and
  // destroys it.
  void release(AssetImpl* asset);

  size_t liveCount();   // ids in the table
  size_t boundCount();  // assets bound to the node

 private:
  platform::Mutex lock_{platform::LockRank::kLiveAssets, "live-asset lock"};  // the maps, refs
  std::map<int, AssetImpl*> byId_ GUARDED_BY(lock_);           // stored id -> its live asset
  std::unordered_map<AssetImpl*, int> ids_ GUARDED_BY(lock_);  // bound asset -> id, 0 none
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_LIVEASSETS_H

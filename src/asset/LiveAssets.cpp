// The table of live assets.
#include "asset/LiveAssets.h"

#include <vector>

#include "asset/AssetImpl.h"

namespace KESTRIN {
namespace Vendrithane {

LiveAssets::~LiveAssets() {
  std::vector<AssetImpl*> bound;
  {
    platform::MutexLock hold(lock_);
    for (const auto& entry : ids_) bound.push_back(entry.first);
    ids_.clear();
    byId_.clear();
  }
  for (AssetImpl* asset : bound) {
    std::lock_guard<RecordLock> hold(*asset->lock);
    asset->node = nullptr;
  }
}

void LiveAssets::bind(AssetImpl* asset) {
  platform::MutexLock hold(lock_);
  ids_.emplace(asset, 0);
}

AssetImpl* LiveAssets::find(int id) {
  platform::MutexLock hold(lock_);
  auto it = byId_.find(id);
  if (it == byId_.end()) return nullptr;
  it->second->refs.fetch_add(1);
  return it->second;
}

AssetImpl* LiveAssets::findBound(const AssetImpl* asset) {
  platform::MutexLock hold(lock_);
  auto it = ids_.find(const_cast<AssetImpl*>(asset));
  if (it == ids_.end()) return nullptr;
  it->first->refs.fetch_add(1);
  return it->first;
}

AssetImpl* LiveAssets::enter(AssetImpl* asset, int id) {
  platform::MutexLock hold(lock_);
  auto it = byId_.find(id);
  if (it != byId_.end() && it->second != asset) {
    it->second->refs.fetch_add(1);
    return it->second;
  }
  byId_[id] = asset;
  ids_[asset] = id;
  return asset;
}

void LiveAssets::leave(AssetImpl* asset, int id) {
  platform::MutexLock hold(lock_);
  auto it = byId_.find(id);
  if (it != byId_.end() && it->second == asset) byId_.erase(it);
  auto own = ids_.find(asset);
  if (own != ids_.end() && own->second == id) own->second = 0;
}

bool LiveAssets::forget(int id) {
  AssetImpl* live = find(id);
  if (live == nullptr) return false;
  {
    std::lock_guard<RecordLock> hold(*live->lock);
    if (live->id == id) live->id = -1;
  }
  leave(live, id);
  release(live);
  return true;
}

void LiveAssets::release(AssetImpl* asset) {
  {
    platform::MutexLock hold(lock_);
    if (asset->refs.fetch_sub(1) != 1) return;
    auto own = ids_.find(asset);
    if (own != ids_.end()) {
      auto it = byId_.find(own->second);
      if (it != byId_.end() && it->second == asset) byId_.erase(it);
      ids_.erase(own);
    }
  }
  delete asset;  // outside the table's lock: the destructor takes the asset's lock
}

size_t LiveAssets::liveCount() {
  platform::MutexLock hold(lock_);
  return byId_.size();
}

size_t LiveAssets::boundCount() {
  platform::MutexLock hold(lock_);
  return ids_.size();
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// The category cache of a catalog: the in-memory root made at open, the map dropped at
// close, and what the node reads of it.
#include "category/CategoryCache.h"

#include <cstdio>

namespace KESTRIN {
namespace Vendrithane {
namespace category {

std::shared_ptr<CategoryObject> CategoryCache::find(int id) const {
  platform::MutexLock hold(lock_);
  auto found = categories_.find(id);
  return found == categories_.end() ? nullptr : found->second;
}

Status CategoryCache::load(node::NodeConnection&) {
  auto root = std::make_shared<CategoryObject>(node_, kRootId, String(kRootLabel), -1);
  platform::MutexLock hold(lock_);
  categories_[kRootId] = std::move(root);
  return StatusOk;
}

void CategoryCache::clear() {
  std::map<int, std::shared_ptr<CategoryObject>> dropped;  // released after the lock
  platform::MutexLock hold(lock_);
  dropped.swap(categories_);
}

size_t CategoryCache::inMemory() const {
  platform::MutexLock hold(lock_);
  return categories_.size();
}

void CategoryCache::describeHeld(std::string* text) const {
  platform::MutexLock hold(lock_);
  for (const auto& entry : categories_) {
    if (entry.second.use_count() <= 1) continue;
    const CategoryObject& c = *entry.second;
    char line[64];
    std::snprintf(line, sizeof line, "ID:%d Name:", c.id());
    *text += line;
    text->append(c.label().buffer(), c.label().length());
    std::snprintf(line, sizeof line, " PID:%d\n", c.parentId());
    *text += line;
  }
}

bool CategoryCache::namespaceLabel(int, String*) const {
  return false;  // no stored category is loaded yet
}

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

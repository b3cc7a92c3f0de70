// A small per-thread cache of freed blocks for the objects that an asset makes and drops
// per element: a record of ten elements otherwise costs some twenty malloc/free pairs on
// each store or load. A block freed on another thread joins that thread's cache. The cache
// is off under the address and thread sanitizers, so that they still see every allocation.
#ifndef VENDRITHANE_ASSET_THREADCACHE_H
#define VENDRITHANE_ASSET_THREADCACHE_H

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VENDRITHANE_NO_THREAD_CACHE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VENDRITHANE_NO_THREAD_CACHE 1
#endif
#endif

namespace KESTRIN {
namespace Vendrithane {

template <class T>
class ThreadCache {
 public:
  static constexpr int kMaxBlocks = 256;  // blocks kept per thread; more go back to malloc

  // A block of sizeof(T) bytes; throws std::bad_alloc.
  static void* allocate() {
#ifndef VENDRITHANE_NO_THREAD_CACHE
    if (List* list = threadList(); list != nullptr && list->head != nullptr) {
      Block* block = list->head;
      list->head = block->next;
      --list->count;
      return block;
    }
#endif
    return ::operator new(sizeof(T) < sizeof(Block) ? sizeof(Block) : sizeof(T));
  }

  // Gives back a block from allocate(), once its object is destroyed.
  static void release(void* p) noexcept {
    if (p == nullptr) return;
#ifndef VENDRITHANE_NO_THREAD_CACHE
    if (List* list = threadList(); list != nullptr && list->count < kMaxBlocks) {
      Block* block = static_cast<Block*>(p);
      block->next = list->head;
      list->head = block;
      ++list->count;
      return;
    }
#endif
    ::operator delete(p);
  }

 private:
  struct Block {
    Block* next;  // the next cached block
  };
  struct List {
    Block* head = nullptr;  // cached blocks
    int count = 0;          // how many
    ~List() {
      while (head != nullptr) {
        Block* next = head->next;
        ::operator delete(head);
        head = next;
      }
      ended() = true;  // blocks freed later in this thread's exit go straight back
    }
  };

  static bool& ended() {
    static thread_local bool value = false;  // trivially destructible: usable to the end
    return value;
  }
  static List* threadList() {
    if (ended()) return nullptr;
    static thread_local List list;
    return &list;
  }
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_THREADCACHE_H

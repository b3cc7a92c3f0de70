// The implementation object behind Element handles. All members are guarded by the lock the
// element's lock slot designates (its asset's, or the default lock); the helpers below
// expect the caller to hold it.
#ifndef VENDRITHANE_ASSET_ELEMENTIMPL_H
#define VENDRITHANE_ASSET_ELEMENTIMPL_H

#include <atomic>
#include <map>

#include "asset/RecordLock.h"
#include "asset/ThreadCache.h"
#include "vendrithane/Attribute.h"
#include "vendrithane/Blob.h"
#include "vendrithane/String.h"
#include "vendrithane/Type.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
class BlobImpl;

class ElementImpl {
 public:
  ElementImpl(const String& name, const LockRef& lock, AssetImpl* asset)
      : name(name), lock(lock), asset(asset) {}
  ~ElementImpl();
  ElementImpl(const ElementImpl&) = delete;
  static void* operator new(size_t) { return ThreadCache<ElementImpl>::allocate(); }
  static void operator delete(void* p) { ThreadCache<ElementImpl>::release(p); }
  ElementImpl& operator=(const ElementImpl&) = delete;

  // Replaces the value: drops any blob, stores the text and type, marks it as set by the host.
  void assign(Type t, const String& value);
  void assign(Type t, const char* value);  // null as the empty text
  // Detaches and releases the blob, if any (its owner link is cleared first). A blob that
  // other handles keep takes its catalog bytes along (keepBlobBytes).
  void dropBlob();
  // Reads the bytes of this element's catalog blob that are not in memory yet, while this
  // element and its asset still name the row that holds them; a failure leaves the blob
  // without them (its next store reports it).
  void keepBlobBytes();
  // Attaches blob, adopting one reference on it, and records this element as its owner.
  void attachBlob(BlobImpl* blob);
  // The attribute of exactly that name, created with an empty text when absent.
  Attribute& attributeLocked(const String& name);
  void eraseAttribute(std::map<String, Attribute*>::iterator it);
  void eraseAttributes();
  // Moves the element and its attributes under another lock and asset; the caller holds
  // the current lock. Used when an asset lets the element go while handles on it remain.
  void moveUnder(const LockRef& newLock, AssetImpl* newAsset);

  Type type = TypeUndef;                    // value type
  const String name;                        // lower case when created through an asset
  String text;                              // the value as text
  Blob* blob = nullptr;                     // own handle on the blob; type TypeBlob only
  LockSlot lock;                            // the guarding lock
  std::atomic<int> refs{1};                 // handles on this element
  std::map<String, Attribute*> attributes;  // by exact name; each handle owned by the map
  AssetImpl* asset;                         // owning asset; null when it has none
  bool userSet = false;                     // the host assigned the value since creation
  bool nameChecked = false;                 // the writer found the name fit for a record
};

// Drops one reference; the last one destroys the element.
void releaseElement(ElementImpl* element);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ELEMENTIMPL_H

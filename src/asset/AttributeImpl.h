// The implementation object behind Attribute handles.
#ifndef VENDRITHANE_ASSET_ATTRIBUTEIMPL_H
#define VENDRITHANE_ASSET_ATTRIBUTEIMPL_H

#include <atomic>

#include "asset/RecordLock.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class ElementImpl;

class AttributeImpl {
 public:
  AttributeImpl(const String& name, const LockRef& lock, ElementImpl* element)
      : name(name), lock(lock), element(element) {}
  AttributeImpl(const AttributeImpl&) = delete;
  AttributeImpl& operator=(const AttributeImpl&) = delete;

  // Leaves the element: from now on the default lock guards the attribute. The caller holds
  // the attribute's current lock.
  void detach();

  const String name;         // exact, case-sensitive
  LockSlot lock;             // the owning asset's lock, or the default one
  std::atomic<int> refs{1};  // handles on this attribute
  String text;               // the value; guarded by lock
  ElementImpl* element;      // owning element; null once detached; guarded by lock
};

// Drops one reference; the last one destroys the attribute.
void releaseAttribute(AttributeImpl* attribute);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ATTRIBUTEIMPL_H

// The library's own way between the public Asset, Element, Attribute and Blob handles and
// their implementation objects.
#ifndef VENDRITHANE_ASSET_ASSETACCESS_H
#define VENDRITHANE_ASSET_ASSETACCESS_H

#include "vendrithane/Asset.h"
#include "vendrithane/Attribute.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Element.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
class AttributeImpl;
class BlobImpl;
class ElementImpl;

struct AssetAccess {
  // A handle that adopts one reference on impl (never null): the caller's reference passes
  // to the handle, whose destruction releases it.
  static Asset make(AssetImpl* impl) { return adopt<Asset>(impl); }
  static Element make(ElementImpl* impl) { return adopt<Element>(impl); }
  static Attribute make(AttributeImpl* impl) { return adopt<Attribute>(impl); }
  static Blob make(BlobImpl* impl) { return adopt<Blob>(impl); }

  // The implementation behind a handle; no reference is taken.
  static AssetImpl* impl(const Asset& asset) { return asset.m_impl; }
  static ElementImpl* impl(const Element& element) { return element.m_impl; }
  static AttributeImpl* impl(const Attribute& attribute) { return attribute.m_impl; }
  static BlobImpl* impl(const Blob& blob) { return blob.m_impl; }

 private:
  template <typename Handle, typename Impl>
  static Handle adopt(Impl* impl) {
    Handle handle{typename Handle::Unset()};
    handle.m_impl = impl;
    return handle;
  }
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ASSETACCESS_H

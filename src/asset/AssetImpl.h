// The implementation object behind Asset handles. Every member but lock and refs is guarded
// by lock; the *Locked helpers expect the caller to hold it.
#ifndef VENDRITHANE_ASSET_ASSETIMPL_H
#define VENDRITHANE_ASSET_ASSETIMPL_H

#include <atomic>
#include <map>

#include "asset/RecordLock.h"
#include "vendrithane/Element.h"
#include "vendrithane/String.h"
#include "vendrithane/UserData.h"

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;

class AssetImpl {
 public:
  // A new asset: parsed, id -1, no elements, bound to no catalog.
  AssetImpl(const String& typeName, bool inCollection);
  // Lets the elements go (handles that remain move under the default lock) and disposes the
  // user payload.
  ~AssetImpl();
  AssetImpl(const AssetImpl&) = delete;
  AssetImpl& operator=(const AssetImpl&) = delete;

  // Parses the record text if that has not happened yet. Takes the locks itself.
  void ensureParsed();
  // The element of the lower-cased name, created (type undef, not set by the host) when absent.
  Element& elementLocked(const String& lowerName);
  // The reserved time-stamp element of that name, created with time 0 when absent.
  Element& stampLocked(const char* name);
  void eraseLocked(std::map<String, Element*>::iterator it);
  void eraseAllLocked();
  // Releases a handle taken out of the map; the element lives on under the default lock
  // while the host holds other handles on it.
  void letGo(Element* handle);

  const LockRef lock;                   // recursive; guards the members below
  std::atomic<int> refs{1};             // handles on this asset
  String typeName;                      // asset type name
  String record;                        // record text read from the catalog, until parsed
  String rowText;                       // the row's record text as last read (once parsed)
                                        //   or written here; an update writes on that condition
  bool parsed = true;                   // the element map reflects the record
  int nElements = 0;                    // always elements.size()
  std::map<String, Element*> elements;  // by lower-cased name; handles owned by the map
  NodeImpl* node = nullptr;             // owning catalog; null while unbound
  int id = -1;                          // -1 until stored
  bool inCollection;                    // rows live in the shared table vd_assets
  UserData* userData = nullptr;         // host payload; null when none
};

// Drops one reference; the last one destroys the asset, taking a bound asset out of its
// node's table of live assets.
void releaseAsset(AssetImpl* asset);

// Lower-cased copy of an element name; a null name is the empty one.
String elementKey(const char* name);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ASSETIMPL_H

// The merge of an update with a row that changed under it: another node (or process)
// rewrote a record after this asset object read it, and the object's update must keep that
// node's changes while it writes its own.
#ifndef VENDRITHANE_ASSET_RECORDMERGE_H
#define VENDRITHANE_ASSET_RECORDMERGE_H

#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;

// Brings the element map of `asset` onto `current`, the record text its row holds now,
// keeping what the host changed since `base`, the text the object last read or wrote: each
// element the host assigned (user-set) or whose value, attributes or blob differ from base,
// and the removal of each element base had. Every other element takes its value from
// current, in place (handles on it stay valid); elements current lacks go, elements only
// current has come. The caller holds the asset's lock. Throws what the record writer
// throws for the host's elements (nothing changed then), or std::bad_alloc.
void mergeRecord(AssetImpl& asset, const String& base, const String& current);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_RECORDMERGE_H

// Writing an asset's blobs to the catalog: one vd_blobs row per catalog blob, then the
// removal of the asset's rows that no element names any more.
#ifndef VENDRITHANE_ASSET_BLOBSTORE_H
#define VENDRITHANE_ASSET_BLOBSTORE_H

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;

namespace node {
class NodeConnection;
}

// Stores the blobs of `asset` (which has its id) on `connection`, inside the caller's
// transaction; the caller holds the asset's lock. Walks the elements in map order: a
// catalog blob in memory is written with INSERT OR REPLACE, one not yet read from its URL
// is read first, one already held in the catalog is kept as it is; then the asset's rows
// of every other element are deleted. Returns 0, or 33 when a blob cannot be read from its
// URL (recorded as 5) or written, or the delete fails (recorded as 33). On failure it stops
// at once and deletes nothing, and the caller rolls back; the blobs are marked as held in
// the catalog only when everything succeeded. `firstStore`: the asset's id is new to the
// catalog, so it has no rows to delete (ids are never reused while rows of them remain).
Status storeAssetBlobs(node::NodeConnection& connection, AssetImpl& asset, bool firstStore = false);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_BLOBSTORE_H

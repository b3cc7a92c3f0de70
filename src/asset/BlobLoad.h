// Reading blob bytes from where they live: a row of the catalog's vd_blobs table, or a file.
// Both hand back a block from newBlobBlock (BlobImpl.h) that the caller takes over.
#ifndef VENDRITHANE_ASSET_BLOBLOAD_H
#define VENDRITHANE_ASSET_BLOBLOAD_H

#include "vendrithane/Status.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

namespace node {
class NodeConnection;
}

// The bytes of the vd_blobs row of (assetId, tag) into *block; the row must hold exactly
// `length` bytes. 33, recorded on the connection, when the statement fails, there is no
// row, its size differs from length or it cannot be held in memory; *block is then null.
Status readBlobRow(node::NodeConnection& connection, int assetId, const String& tag,
                   unsigned long long length, unsigned char** block);

// The whole file at path into *block and its size into *length. 30 when it cannot be
// opened, 13 when it cannot be read in full or held in memory; *block is then null.
Status readBlobFile(const String& path, unsigned char** block, unsigned long long* length);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_BLOBLOAD_H

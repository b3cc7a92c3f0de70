// The catalog side of assets: type declaration and destruction, the making and loading of
// assets through the node's table of live assets, and the deletion of asset rows. The Node
// methods of asset types pass on to these; Asset::store, update and remove use them too.
#ifndef VENDRITHANE_ASSET_CATALOGASSETS_H
#define VENDRITHANE_ASSET_CATALOGASSETS_H

#include <string>
#include <vector>

#include "vendrithane/Status.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
class NodeImpl;

namespace node {
class NodeConnection;
}

namespace assets {

// Whether a (lower-cased) name can be the table of an own-table type: letters, digits and
// "_", not starting with a digit. An SQL keyword is one too: every statement quotes it.
bool isPlainIdentifier(const String& name);
// Whether `name` (lower-cased) is a declared own-table type of the node: a plain identifier
// without "vd_" (the library's own tables) in the node's set of tables.
bool isOwnTableType(NodeImpl& node, const String& name);
// The same, with the node's schema view refreshed on `connection` before the answer "no"
// (another node may have declared the type since the view was read). Throws the status of
// a failing refresh (recorded).
bool isOwnTableTypeNow(NodeImpl& node, node::NodeConnection& connection, const String& name);
// The table of an asset's rows.
std::string tableOf(const AssetImpl& asset);

Status declareType(NodeImpl& node, const char* name, bool inCollection);
bool typeDeclared(NodeImpl& node, const char* name, bool inCollection);  // throws 20
Status destroyType(NodeImpl& node, const char* name, bool inCollection);
// Table names, or own-table type names only. Throws 24 for `remote`, 20 when not open.
std::vector<String> typeNames(NodeImpl& node, bool remote, bool ownTypesOnly);

// A new unsaved asset of the type bound to the node (one reference for the caller). Throws
// 64 for an own-table type that is not declared.
AssetImpl* newAsset(NodeImpl& node, const char* name, bool inCollection);
// The asset with that id (one reference for the caller): the live one, else read from the
// type's own table when `type` is a declared own-table type and not found there, from the
// shared table. Throws 20, 30 (no such row) or 31.
AssetImpl* loadAsset(NodeImpl& node, int id, const char* type, bool collection);
// The asset of a row a query read (one reference for the caller): the live one of `id`,
// else a new one of type `type` holding the row's record text, parsed on first use.
AssetImpl* assetFromRow(NodeImpl& node, int id, const String& record, const String& type,
                        bool collection);
// The record text the row `id` of `table` holds now: 0, 30 (no row) or 31 (recorded).
Status readRecordText(node::NodeConnection& connection, const std::string& table, bool collection,
                      int id, String* record);
// Deletes the shared-table rows of `ids` in one transaction: 0, 20, 29.
Status removeAssets(NodeImpl& node, const std::vector<int>& ids);

// Sets the reserved time stamp `name` ("vd_created", "vd_modified") to `now` unless the host
// set it, and marks it as not set by the host. Caller holds the asset's lock.
void stampTime(AssetImpl& asset, const char* name, const Time& now);
// Marks every element as not set by the host (after a write). Caller holds the asset's lock.
void clearUserSet(AssetImpl& asset);

// Deletes the row `id` of `table` and its blobs inside the caller's transaction; the live
// asset of the id (if any) gets id -1 and leaves the live table (journalled), and a
// record-deleted change is queued. With `mustExist` a missing row is a failure (recorded as
// 14). Returns 0, or 81/31 (29 when the row is missing).
Status deleteAssetRow(node::NodeConnection& connection, NodeImpl& node, const std::string& table,
                      int id, bool mustExist);
// The library's own tables whose rows take their ids from the catalog's counter.
constexpr const char* kCounterTables[] = {"vd_assets", "vd_idx", "vd_cat", "vd_cat_nde",
                                          "vd_cat_xref"};
// The record tables of the catalog on `connection` as its file has them now: no reserved
// infix in the name, not one of the engine's own ("sqlite_..."), and a vd_id column (so
// that a table another program made, or ANALYZE's, is none of them). Throws the status of a
// failing read.
std::vector<std::string> recordTables(node::NodeConnection& connection);
// Whether `table` has a vd_id column; throws the status of a failing read.
bool hasIdColumn(node::NodeConnection& connection, const std::string& table);

// Deletes the blob rows of record or category `id` inside the caller's transaction, through
// a statement kept compiled on the connection. 0, or 81/31 (recorded).
Status deleteRowBlobs(node::NodeConnection& connection, int id);

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_CATALOGASSETS_H

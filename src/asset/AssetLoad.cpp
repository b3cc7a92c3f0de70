// Assets on the node side: new assets, loads through the table of live assets (with the
// fall-back to the shared table and the rows of old per-type tables), and row deletion.
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/AssetSql.h"
#include "asset/AssetStatements.h"
#include "asset/CatalogAssets.h"
#include "asset/ElementImpl.h"
#include "asset/IndexAndMembership.h"
#include "monitor/EventKinds.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Transaction.h"
#include "vendrithane/Asset.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

namespace {

using Hold = std::lock_guard<RecordLock>;

constexpr char kNothingDeleted[] = "no record deleted";
constexpr char kIdColumn[] = "vd_id";

// What one row read gives.
struct Row {
  String record;                                  // the record text
  String tag;                                     // vd_tag of a shared-table row
  bool legacy = false;                            // a row of an old table without vd_xml
  std::vector<std::pair<String, String>> values;  // legacy: (column, value) per column
};

String lowered(const char* name) {
  String lower(name);
  lower.makeLower();
  return lower;
}

// Records the statement's failure (or a wrong result, `wrong`) as 31.
Status engineFailure(node::NodeConnection& c, const node::Statement& statement,
                     bool wrong = false) {
  EngineFailure failure = statement.error();
  if (wrong) failure.code = 0;
  recordFailure(c, StatusEngineFailure, failure, statement.sql());
  return StatusEngineFailure;
}

// A row of an old per-type table: every column but the id becomes a text element.
Status readLegacyRow(node::NodeConnection& c, const std::string& table, int id, Row* row) {
  node::Statement statement(
      c, node::sqlFormat(kSelectRow, kAllColumns, node::quoteIdentifier(table).c_str(), id));
  if (!statement.valid()) return engineFailure(c, statement);
  int rows = 0;
  while (statement.step() && ++rows == 1) {
    for (int i = 0; i < statement.columnCount(); ++i) {
      String column = lowered(statement.columnName(i));
      if (column == kIdColumn || statement.columnIsNull(i)) continue;
      row->values.emplace_back(column, statement.columnText(i));
    }
  }
  if (statement.failed()) return engineFailure(c, statement);
  statement.reset();
  if (rows == 0) return StatusNotFound;
  if (rows > 1) return engineFailure(c, statement, true);
  row->legacy = true;
  return StatusOk;
}

// Reads the row `id` of `table`: 0, 30 (no row) or 31 (recorded).
Status readRow(node::NodeConnection& c, const std::string& table, bool collection, int id,
               Row* row) {
  const int width = collection ? 2 : 1;
  const std::string sql =
      node::sqlFormat(kSelectRow, collection ? kCollectionColumns : kOwnTableColumns,
                      node::quoteIdentifier(table).c_str(), id);
  node::Statement statement(c, sql);
  if (!statement.valid()) {
    if (!collection && statement.error().mentions(kRecordColumn))
      return readLegacyRow(c, table, id, row);
    return engineFailure(c, statement);
  }
  int rows = 0;
  bool wrongWidth = false;
  while (statement.step()) {
    if (++rows > 1) break;
    if (statement.columnCount() != width) {
      wrongWidth = true;
      continue;
    }
    row->record = statement.columnText(0);
    if (collection) row->tag = statement.columnText(1);
  }
  if (statement.failed()) return engineFailure(c, statement);
  statement.reset();
  if (rows == 0) return StatusNotFound;
  if (rows > 1 || wrongWidth) return engineFailure(c, statement, true);
  return StatusOk;
}

// The live asset of a deleted row (if any) becomes unsaved; a rollback restores it.
void forgetLive(node::NodeConnection& c, NodeImpl& node, int id) {
  AssetImpl* live = liveAssets(node).find(id);
  if (live == nullptr) return;
  Asset handle = AssetAccess::make(live);  // owns the reference find() took
  {
    Hold hold(*live->lock);
    if (live->id == id) live->id = -1;
  }
  liveAssets(node).leave(live, id);
  auto keep = std::make_shared<Asset>(handle);  // keeps the asset alive for the undo action
  NodeImpl* owner = &node;
  node::journalUndo(c, [keep, owner, id] {
    AssetImpl* asset = AssetAccess::impl(*keep);
    {
      Hold hold(*asset->lock);
      if (asset->id == -1) asset->id = id;
    }
    AssetImpl* entered = liveAssets(*owner).enter(asset, id);
    if (entered != asset) releaseAsset(entered);
  });
}

}  // namespace

AssetImpl* newAsset(NodeImpl& node, const char* name, bool inCollection) {
  const String type = lowered(name);
  if (!inCollection && !isOwnTableType(node, type)) {
    node::ConnectionLease lease(node.pool());
    if (!lease || !isOwnTableTypeNow(node, *lease, type)) throw StatusNoSuchTable;
  }
  std::unique_ptr<AssetImpl> asset(new AssetImpl(type, inCollection));
  asset->node = &node;
  liveAssets(node).bind(asset.get());
  return asset.release();
}

AssetImpl* loadAsset(NodeImpl& node, int id, const char* rawType, bool collection) {
  if (AssetImpl* live = liveAssets(node).find(id)) return live;
  String type = lowered(rawType);
  node::ConnectionLease lease(node.pool());
  if (!lease) throw StatusNotOpen;
  if (!collection && !isOwnTableTypeNow(node, *lease, type)) collection = true;
  Row row;
  Status status = StatusNotFound;
  if (!collection) {
    status = readRow(*lease, std::string(type.buffer(), type.length()), false, id, &row);
    if (status != StatusOk) collection = true;
  }
  if (collection) {
    row = Row();
    status = readRow(*lease, kAssetsTable, true, id, &row);
    if (status == StatusOk) type = row.tag;
  }
  // An engine failure stays one: only a missing row reads as "not found".
  if (status != StatusOk) throw status;

  AssetImpl* asset = newAsset(node, collection ? kAssetsTable : type.buffer(), collection);
  {
    Hold hold(*asset->lock);
    asset->typeName = type;
    asset->id = id;
    for (const auto& value : row.values) {
      Element& e = asset->elementLocked(value.first);
      e = value.second;
      AssetAccess::impl(e)->userSet = false;
    }
    asset->record = std::move(row.record);  // kept as the row's text once parsed
    asset->parsed = false;
  }
  AssetImpl* entered = liveAssets(node).enter(asset, id);
  if (entered != asset) releaseAsset(asset);  // loaded meanwhile by another thread
  return entered;
}

AssetImpl* assetFromRow(NodeImpl& node, int id, const String& record, const String& type,
                        bool collection) {
  if (AssetImpl* live = liveAssets(node).find(id)) return live;
  auto* asset = new AssetImpl(lowered(type.buffer()), collection);
  asset->node = &node;
  liveAssets(node).bind(asset);
  {
    Hold hold(*asset->lock);
    asset->id = id;
    asset->record = record;  // parsed on first use
    asset->parsed = false;
  }
  AssetImpl* entered = liveAssets(node).enter(asset, id);
  if (entered != asset) releaseAsset(asset);  // loaded meanwhile by another thread
  return entered;
}

Status readRecordText(node::NodeConnection& c, const std::string& table, bool collection, int id,
                      String* record) {
  Row row;
  const Status status = readRow(c, table, collection, id, &row);
  if (status == StatusOk) *record = std::move(row.record);
  return status;
}

Status deleteRowBlobs(node::NodeConnection& c, int id) {
  static const std::string text(kDeleteRowBlobs);
  EngineFailure failure;
  std::string expanded;
  if (runBoundWithId(c, text, {}, id, &failure, &expanded) >= 0) return StatusOk;
  recordFailure(c, StatusEngineFailure, failure, expanded);
  return failure.writeStatus(StatusEngineFailure);
}

Status deleteAssetRow(node::NodeConnection& c, NodeImpl& node, const std::string& table, int id,
                      bool mustExist) {
  // Both statements stay compiled on the connection: a removal runs them once per record.
  const std::string& sql = rowStatementText(kDeleteRow, table, std::string());
  EngineFailure failure;
  std::string expanded;
  const int changed = runBoundWithId(c, sql, {}, id, &failure, &expanded);
  if (changed < 0) {
    recordFailure(c, StatusEngineFailure, failure, expanded);
    return failure.writeStatus(StatusEngineFailure);
  }
  if (mustExist && changed < 1) {
    c.recordError(StatusEmptyArgument, 0, kNothingDeleted, sql + " (" + std::to_string(id) + ")");
    return StatusRemoveFailed;
  }
  const Status blobs = deleteRowBlobs(c, id);
  if (blobs != StatusOk) return blobs;
  forgetLive(c, node, id);
  node::queueEvent(c, monitor::kEventRecordDeleted, id);
  return StatusOk;
}

Status removeAssets(NodeImpl& node, const std::vector<int>& ids) {
  node::ConnectionLease lease(node.pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  for (int id : ids) {
    if (deleteAssetRow(*lease, node, kAssetsTable, id, true) != StatusOk) return StatusRemoveFailed;
    Status status = unapplyCategories(*lease, node, id);
    if (status != StatusOk) return status;
  }
  return scope.commit();
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

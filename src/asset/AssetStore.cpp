// Asset::store, update and remove: the stamping of "vd_created" and "vd_modified", the row
// writes with their blobs, the live-table entries journalled for a rollback, and the change
// records. Each runs in a transaction level of its own and holds the asset's lock (taken
// after the transaction's catalog mutex) from its checks to its end. An update writes on
// the condition that the row still holds what the asset last read or wrote; otherwise it
// merges the row's changes into the asset first (RecordMerge.h).
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/AssetSql.h"
#include "asset/AssetStatements.h"
#include "asset/BlobStore.h"
#include "asset/CatalogAssets.h"
#include "asset/ElementImpl.h"
#include "asset/IndexAndMembership.h"
#include "asset/RecordMerge.h"
#include "asset/RecordWriter.h"
#include "monitor/EventKinds.h"
#include "node/IdAllocator.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Transaction.h"
#include "vendrithane/Asset.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using Hold = std::lock_guard<RecordLock>;
using assets::EngineFailure;

constexpr char kNoRowUpdated[] = "no record updated";

NodeImpl* nodeOf(AssetImpl& asset) {
  Hold hold(*asset.lock);
  return asset.node;
}

// The status of a failed row write, recorded as the operation reports it: 64 when the
// table is gone, else 61 (returned as 81 for a read-only database).
Status rowWriteFailure(node::NodeConnection& c, const EngineFailure& failure,
                       const std::string& sql) {
  if (failure.mentions(assets::kNoSuchTable)) {
    assets::recordFailure(c, StatusNoSuchTable, failure, sql);
    return StatusNoSuchTable;
  }
  assets::recordFailure(c, StatusWriteFailed, failure, sql);
  return failure.writeStatus(StatusWriteFailed);
}

// Resets a new asset's id unless dismissed: a store that fails or throws leaves the asset
// unsaved.
class NewIdGuard {
 public:
  explicit NewIdGuard(AssetImpl& asset) : asset_(asset) {}
  ~NewIdGuard() {
    if (armed_) asset_.id = -1;
  }
  void dismiss() { armed_ = false; }

 private:
  AssetImpl& asset_;   // the asset being stored (its lock is held)
  bool armed_ = true;  // reset the id at destruction
};

Status storeAsset(AssetImpl& asset) {
  NodeImpl* node = nodeOf(asset);
  if (node == nullptr) return StatusNotOpen;
  {
    Hold hold(*asset.lock);
    if (asset.id >= 0) return StatusConstraint;
  }
  asset.ensureParsed();  // the parser's lock comes before the asset's
  node::ConnectionLease lease(node->pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  Hold hold(*asset.lock);
  if (asset.id >= 0) return StatusConstraint;
  const Time now;
  assets::stampTime(asset, assets::kCreatedStamp, now);
  assets::stampTime(asset, assets::kModifiedStamp, now);

  NewIdGuard guard(asset);
  int id;
  try {
    id = node::nextId(*lease);
  } catch (Status s) {
    return s;
  }
  if (id < 0) return StatusIdCounterFailed;
  asset.id = id;

  const std::string table = assets::tableOf(asset);
  std::string columns = "vd_id";
  std::string values;
  std::vector<String> texts;
  texts.reserve(3);
  if (asset.inCollection) {
    columns += ",vd_tag";
    values += ",?";
    texts.push_back(asset.typeName);
  }
  for (const auto& promoted : assets::promotedValues(*node, table, asset)) {
    columns += ",";
    columns += node::quoteIdentifier(promoted.column);
    values += promoted.present ? ",?" : ",NULL";
    if (promoted.present) texts.push_back(promoted.value);
  }
  if (!asset.elements.empty()) {
    Status status = storeAssetBlobs(*lease, asset, /*firstStore=*/true);
    if (status != StatusOk) return status;
  }
  texts.push_back(writeRecord(asset.elements));
  const std::string& sql = assets::rowStatementText(assets::kInsertRow, table, columns, values);
  EngineFailure failure;
  std::string expanded;
  if (assets::runBoundWithId(*lease, sql, texts, id, &failure, &expanded) < 0)
    return rowWriteFailure(*lease, failure, expanded);
  asset.rowText = std::move(texts.back());

  assets::clearUserSet(asset);
  // A rollback of an enclosing transaction makes the asset unsaved again, if a handle on it
  // is left (the live table is the weak reference: a transaction of many stores must not
  // keep every asset alive until its end).
  node::journalUndo(*lease, [node, id] {
    AssetImpl* a = assets::liveAssets(*node).find(id);
    if (a == nullptr) return;
    {
      Hold undo(*a->lock);
      if (a->id == id) a->id = -1;
    }
    assets::liveAssets(*node).leave(a, id);
    releaseAsset(a);
  });
  AssetImpl* entered = assets::liveAssets(*node).enter(&asset, id);
  if (entered != &asset) releaseAsset(entered);  // an id is never live twice
  guard.dismiss();
  return scope.commit();
}

// The SET prefix and the values of an update of the asset's row: the type tag of a
// collection record, the promoted columns, then the record text. Caller holds the lock.
struct RowUpdate {
  std::string prefix;         // "column=?," for each value before the record text
  std::vector<String> texts;  // the values, the record text last
};

RowUpdate rowUpdate(NodeImpl& node, const std::string& table, AssetImpl& asset) {
  RowUpdate row;
  const std::vector<assets::PromotedValue> promoted = assets::promotedValues(node, table, asset);
  row.texts.reserve(promoted.size() + 3);  // with the tag, the record and a condition
  if (asset.inCollection) {
    row.prefix = "vd_tag=?,";
    row.texts.push_back(asset.typeName);
  }
  for (const auto& value : promoted) {
    row.prefix += node::quoteIdentifier(value.column);
    row.prefix += value.present ? "=?," : "=NULL,";
    if (value.present) row.texts.push_back(value.value);
  }
  row.texts.push_back(writeRecord(asset.elements));
  return row;
}

// Lends a text to the end of a list of statement values for the lifetime of the object.
class LentText {
 public:
  LentText(String& text, std::vector<String>* texts) : text_(text), texts_(*texts) {
    texts_.push_back(std::move(text_));
  }
  ~LentText() {
    text_ = std::move(texts_.back());
    texts_.pop_back();
  }
  LentText(const LentText&) = delete;
  LentText& operator=(const LentText&) = delete;

 private:
  String& text_;                // where the text goes back to
  std::vector<String>& texts_;  // the list it is lent to
};

// Another node rewrote the row since this object read or wrote it: its changes are merged
// into the object (which then holds what is written) and the row is written anew. 0 with
// *changed set, or the status to return.
Status mergeAndWrite(node::NodeConnection& c, NodeImpl& node, const std::string& table,
                     AssetImpl& asset, RowUpdate* row, int* changed) {
  String current;
  Status status = assets::readRecordText(c, table, asset.inCollection, asset.id, &current);
  if (status != StatusOk) return status;
  mergeRecord(asset, asset.rowText, current);
  *row = rowUpdate(node, table, asset);
  const std::string& sql = assets::rowStatementText(assets::kUpdateRow, table, row->prefix);
  EngineFailure failure;
  std::string expanded;
  *changed = assets::runBoundWithId(c, sql, row->texts, asset.id, &failure, &expanded);
  return *changed < 0 ? rowWriteFailure(c, failure, expanded) : StatusOk;
}

// The row's text as this object knows it becomes `written`; a rollback of an enclosing
// transaction, or a failing commit, brings back what it was.
void keepRowText(node::NodeConnection& c, NodeImpl& node, AssetImpl& asset, String written,
                 String* previous) {
  *previous = std::move(asset.rowText);
  asset.rowText = std::move(written);
  if (c.depth.load() <= 1) return;  // the caller's commit is the outermost one
  const int id = asset.id;
  NodeImpl* owner = &node;
  node::journalUndo(c, [owner, id, before = std::move(*previous)] {
    AssetImpl* a = assets::liveAssets(*owner).find(id);
    if (a == nullptr) return;
    {
      Hold undo(*a->lock);
      if (a->id == id) a->rowText = before;
    }
    releaseAsset(a);
  });
}

Status updateAsset(AssetImpl& asset) {
  NodeImpl* node = nodeOf(asset);
  if (node == nullptr) return StatusNotOpen;
  node::ConnectionLease lease(node->pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  Hold hold(*asset.lock);
  if (!asset.parsed) return StatusNotRead;
  if (asset.id < 0) return StatusNotFound;
  assets::stampTime(asset, assets::kModifiedStamp, Time());

  const std::string table = assets::tableOf(asset);
  RowUpdate row = rowUpdate(*node, table, asset);
  // Written on the condition that the row still holds what this object read or wrote last:
  // a record nobody else changed costs no read.
  const std::string& sql =
      assets::rowStatementText(assets::kUpdateRowIfUnchanged, table, row.prefix);
  EngineFailure failure;
  std::string expanded;
  int changed;
  {
    LentText condition(asset.rowText, &row.texts);
    changed = assets::runBoundWithId(*lease, sql, row.texts, asset.id, &failure, &expanded);
  }
  if (changed < 0) return rowWriteFailure(*lease, failure, expanded);
  if (changed == 0) {
    const std::string conditional = sql;  // the text is the thread's until the next one
    Status status = mergeAndWrite(*lease, *node, table, asset, &row, &changed);
    if (status == StatusNotFound || (status == StatusOk && changed == 0)) {
      // The row went (another process deleted the record): nothing was written.
      lease->recordError(StatusNotFound, 0, kNoRowUpdated, conditional);
      return StatusNotFound;
    }
    if (status != StatusOk) return status;
  }
  if (!asset.elements.empty()) {
    Status status = storeAssetBlobs(*lease, asset);
    if (status != StatusOk) return status;
  }
  node::queueEvent(*lease, monitor::kEventRecordUpdated, asset.id);
  assets::clearUserSet(asset);
  Status status = assets::touchMemberCategories(*lease, *node, asset.id);
  if (status != StatusOk) return status;
  String previous;
  keepRowText(*lease, *node, asset, std::move(row.texts.back()), &previous);
  status = scope.commit();
  if (status != StatusOk) asset.rowText = std::move(previous);
  return status;
}

Status removeAsset(AssetImpl& asset) {
  NodeImpl* node;
  {
    Hold hold(*asset.lock);
    if (asset.id < 0) return StatusNotFound;
    node = asset.node;
  }
  if (node == nullptr) return StatusNotOpen;
  node::ConnectionLease lease(node->pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  Hold hold(*asset.lock);
  const int id = asset.id;
  if (id < 0) return StatusNotFound;
  if (assets::unapplyCategories(*lease, *node, id) != StatusOk) return StatusRemoveFailed;
  if (assets::deleteAssetRow(*lease, *node, assets::tableOf(asset), id, false) != StatusOk)
    return StatusRemoveFailed;
  return scope.commit();
}

}  // namespace

namespace assets {

// Sets a reserved time stamp to `now` unless the host set it, and marks it as not set by
// the host. Caller holds the asset's lock.
void stampTime(AssetImpl& asset, const char* name, const Time& now) {
  const String key(name);
  auto it = asset.elements.find(key);
  if (it != asset.elements.end() && AssetAccess::impl(*it->second)->userSet) {
    AssetAccess::impl(*it->second)->userSet = false;
    return;
  }
  Element& e = it != asset.elements.end() ? *it->second : asset.elementLocked(key);
  e = now;
  AssetAccess::impl(e)->userSet = false;
}

void clearUserSet(AssetImpl& asset) {
  for (auto& entry : asset.elements) AssetAccess::impl(*entry.second)->userSet = false;
}

}  // namespace assets

int Asset::store() {
  try {
    return storeAsset(*m_impl);
  } catch (Status s) {
    if (s == StatusUnsupported || s == StatusBlobFailed) throw;  // the record cannot be written
    return s;
  }
}

int Asset::update() {
  try {
    return updateAsset(*m_impl);
  } catch (Status s) {
    if (s == StatusUnsupported || s == StatusBlobFailed) throw;
    return s;
  }
}

int Asset::remove() {
  try {
    return removeAsset(*m_impl);
  } catch (Status s) {
    return s;
  }
}

}  // namespace Vendrithane
}  // namespace KESTRIN

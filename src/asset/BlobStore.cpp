// The blob store of an asset: the row writes and the delete with its keep list. Element
// names reach the statements only as bound values or as quoted literals.
#include "asset/BlobStore.h"

#include <cassert>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/AssetStatements.h"
#include "asset/BlobImpl.h"
#include "asset/BlobLoad.h"
#include "asset/ElementImpl.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/Transaction.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr char kUrlNotFound[] = "blob not found at path/URL";
constexpr char kUrlContext[] = "loadUrlBlob(blob)";
constexpr char kNoBytes[] = "blob bytes missing";
constexpr Status kUrlLoadStatus = StatusNotCatalog;  // 5: recorded when a URL cannot be read

using BlobHold = std::unique_lock<RecordLock>;

// The insert statement of one store, compiled on first use and finalized at the end.
class RowWriter {
 public:
  RowWriter(node::NodeConnection& c, int assetId) : c_(c), assetId_(assetId) {}
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // Writes the row of `tag`; 33 (recorded) on failure.
  Status write(const String& tag, const BlobImpl& blob) {
    if (blob.length == kUnknownBlobLength || (blob.bytes == nullptr && blob.length != 0)) {
      return fail(0, kNoBytes);
    }
    // The statement text is made on first use: most assets have no blob to write.
    if (!statement_) {
      statement_ =
          std::make_unique<node::Statement>(c_, node::sqlFormat(assets::kInsertBlob, assetId_));
      if (!statement_->valid()) return fail();
    }
    node::Statement& s = *statement_;
    const bool ran = s.bind(1, tag) && s.bindBlob(2, blob.bytes, blob.length) && s.run();
    if (ran) s.reset();
    s.clearBindings();  // the tag and the bytes are not ours to keep pointing at
    return ran ? StatusOk : fail();
  }

 private:
  Status fail() {
    node::EngineError failure = statement_->error();
    return fail(failure.code, failure.message.c_str());
  }
  Status fail(int code, const char* message) {
    c_.recordError(StatusBlobFailed, code, message,
                   statement_ ? statement_->sql() : node::sqlFormat(assets::kInsertBlob, assetId_));
    return StatusBlobFailed;
  }

  node::NodeConnection& c_;                     // where the rows go
  int assetId_;                                 // the asset whose rows these are
  std::unique_ptr<node::Statement> statement_;  // compiled on first use
};

// Adds a name to the keep list as a quoted literal.
void appendKept(std::string& keep, const String& name) {
  keep += keep.empty() ? assets::kKeepListStart : ",";
  keep += node::sqlFormat("%Q", name.buffer());
}

Status deleteOtherRows(node::NodeConnection& c, int assetId, std::string keep) {
  if (!keep.empty()) keep += ")";
  const std::string sql = node::sqlFormat(assets::kDeleteOtherBlobs, assetId, keep.c_str());
  node::EngineError failure;
  if (node::execute(c, sql, &failure) == StatusOk) return StatusOk;
  c.recordError(StatusBlobFailed, failure.code, failure.message, sql);
  return StatusBlobFailed;
}

// A rollback takes the rows written for `names` out of the catalog again: their blobs must
// then not count as held there, or release() would drop the only copy. The asset is found
// again only while a handle on it is left (a transaction of many stores keeps none alive).
// Only bytes in memory are concerned: dropping the mark of those never loses a value.
void forgetOnRollback(node::NodeConnection& c, const AssetImpl& asset, std::vector<String> names) {
  NodeImpl* node = c.node();
  node::journalUndo(c, [node, anchor = &asset, names = std::move(names)] {
    AssetImpl* found = assets::liveAssets(*node).findBound(anchor);
    if (found == nullptr) return;
    {
      std::lock_guard<RecordLock> hold(*found->lock);
      for (const String& name : names) {
        auto it = found->elements.find(name);
        if (it == found->elements.end()) continue;
        ElementImpl& element = *AssetAccess::impl(*it->second);
        if (element.type != TypeBlob || element.blob == nullptr) continue;
        BlobImpl& blob = *AssetAccess::impl(*element.blob);
        std::lock_guard<RecordLock> blobHold(blob.lock);
        if (blob.managed() && blob.loaded) blob.stored = false;
      }
    }
    releaseAsset(found);
  });
}

}  // namespace

Status storeAssetBlobs(node::NodeConnection& c, AssetImpl& asset, bool firstStore) {
  assert(asset.id > 0);
  RowWriter writer(c, asset.id);
  std::string keep;  // the keep list, without its closing parenthesis
  // Every blob stays locked until the end, so that none changes between its write and its
  // mark as held in the catalog. (Blob locks come after the asset's lock, which the caller
  // holds; the map order is the same for every store of the asset.)
  std::vector<BlobHold> holds;
  std::vector<BlobImpl*> written;
  std::vector<String> newlyStored;  // elements whose bytes the catalog did not hold before
  for (auto& entry : asset.elements) {
    ElementImpl& element = *AssetAccess::impl(*entry.second);
    if (element.type != TypeBlob || element.blob == nullptr) continue;
    BlobImpl& blob = *AssetAccess::impl(*element.blob);
    holds.emplace_back(blob.lock);
    if (!blob.managed()) {
      written.push_back(&blob);  // a file blob lives in its file: nothing to write
      continue;
    }
    if (!blob.stored && !blob.loaded) {
      unsigned char* block = nullptr;
      unsigned long long n = 0;
      if (readBlobFile(blob.url, &block, &n) != StatusOk) {
        c.recordError(kUrlLoadStatus, 0, kUrlNotFound, kUrlContext);
        return StatusBlobFailed;
      }
      blob.adoptBytes(block, n);
      blob.loaded = true;
    }
    if (blob.loaded) {
      Status status = writer.write(element.name, blob);
      if (status != StatusOk) return status;
      written.push_back(&blob);
      if (!blob.stored) newlyStored.push_back(element.name);
    }
    appendKept(keep, element.name);
  }
  if (!firstStore) {
    Status status = deleteOtherRows(c, asset.id, keep);
    if (status != StatusOk) return status;
  }
  for (BlobImpl* blob : written) blob->stored = true;
  if (!newlyStored.empty()) forgetOnRollback(c, asset, std::move(newlyStored));
  return StatusOk;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

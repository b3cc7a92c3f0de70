// The blob store of an asset: the row writes and the delete with its keep list. Element
// names reach the statements only as bound values or as quoted literals.
#include "asset/BlobStore.h"

#include <sqlite3.h>

#include <cassert>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "asset/AssetImpl.h"
#include "asset/BlobImpl.h"
#include "asset/BlobLoad.h"
#include "asset/ElementImpl.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr char kInsertBlob[] =
    "INSERT OR REPLACE INTO vd_blobs (vd_aid,vd_tag,vd_blob) VALUES (%d,?1,?2);";
constexpr char kDeleteOtherBlobs[] = "DELETE FROM vd_blobs WHERE vd_aid=%d %s;";
constexpr char kKeepListStart[] = "AND vd_tag NOT IN (";
constexpr char kUrlNotFound[] = "blob not found at path/URL";
constexpr char kUrlContext[] = "loadUrlBlob(blob)";
constexpr char kNoBytes[] = "blob bytes missing";
constexpr Status kUrlLoadStatus = StatusNotCatalog;  // 5: recorded when a URL cannot be read

using BlobHold = std::unique_lock<RecordLock>;

// The insert statement of one store, compiled on first use and finalized at the end.
class RowWriter {
 public:
  RowWriter(node::NodeConnection& c, int assetId) : c_(c), assetId_(assetId) {}
  ~RowWriter() { sqlite3_finalize(stmt_); }
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // Writes the row of `tag`; 33 (recorded) on failure.
  Status write(const String& tag, const BlobImpl& blob) {
    if (blob.length == kUnknownBlobLength || (blob.bytes == nullptr && blob.length != 0)) {
      return fail(0, kNoBytes);
    }
    int code = SQLITE_OK;
    if (stmt_ == nullptr) {
      code = sqlite3_prepare_v2(c_.db(), sql().c_str(), -1, &stmt_, nullptr);
      if (code != SQLITE_OK) return fail(code, nullptr);
    }
    code =
        sqlite3_bind_text(stmt_, 1, tag.buffer(), static_cast<int>(tag.length()), SQLITE_TRANSIENT);
    if (code == SQLITE_OK) {
      // An empty value is an empty blob, never NULL.
      code = blob.length == 0
                 ? sqlite3_bind_zeroblob(stmt_, 2, 0)
                 : sqlite3_bind_blob64(stmt_, 2, blob.bytes, blob.length, SQLITE_STATIC);
    }
    if (code != SQLITE_OK) {
      sqlite3_clear_bindings(stmt_);
      return fail(code, nullptr);
    }
    c_.execStarted();
    code = sqlite3_step(stmt_);
    c_.execEnded();
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);  // the bytes are not ours to keep pointing at
    if (code != SQLITE_DONE) return fail(code, nullptr);
    return StatusOk;
  }

 private:
  Status fail(int code, const char* message) {
    if (message == nullptr) message = sqlite3_errmsg(c_.db());
    c_.recordError(StatusBlobFailed, code, message, sql());
    return StatusBlobFailed;
  }

  // The statement text, made on first use (most assets have no blob to write).
  const std::string& sql() {
    if (sql_.empty()) sql_ = node::sqlFormat(kInsertBlob, assetId_);
    return sql_;
  }

  node::NodeConnection& c_;       // where the rows go
  int assetId_;                   // the asset whose rows these are
  std::string sql_;               // the statement text, with the asset id; empty until used
  sqlite3_stmt* stmt_ = nullptr;  // compiled on first use
};

// Adds a name to the keep list as a quoted literal.
void appendKept(std::string& keep, const String& name) {
  keep += keep.empty() ? kKeepListStart : ",";
  keep += node::sqlFormat("%Q", name.buffer());
}

Status deleteOtherRows(node::NodeConnection& c, int assetId, std::string keep) {
  if (!keep.empty()) keep += ")";
  const std::string sql = node::sqlFormat(kDeleteOtherBlobs, assetId, keep.c_str());
  char* message = nullptr;
  c.execStarted();
  const int code = sqlite3_exec(c.db(), sql.c_str(), nullptr, nullptr, &message);
  c.execEnded();
  if (code == SQLITE_OK) return StatusOk;
  c.recordError(StatusBlobFailed, code, message ? message : sqlite3_errstr(code), sql);
  sqlite3_free(message);
  return StatusBlobFailed;
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
  for (auto& entry : asset.elements) {
    ElementImpl& element = *entry.second->impl();
    if (element.type != TypeBlob || element.blob == nullptr) continue;
    BlobImpl& blob = *element.blob->impl();
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
    }
    appendKept(keep, element.name);
  }
  if (!firstStore) {
    Status status = deleteOtherRows(c, asset.id, keep);
    if (status != StatusOk) return status;
  }
  for (BlobImpl* blob : written) blob->stored = true;
  return StatusOk;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

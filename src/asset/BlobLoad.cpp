// Lazy loading of blob bytes: the row reader and the file reader, and loadBlob, which finds
// the owner's catalog, asset id and element name under the owner's lock and fills the blob.
// This file and the blob store are the asset layer's only direct users of the engine.
#include "asset/BlobLoad.h"

#include <stdint.h>

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "asset/AssetImpl.h"
#include "asset/AssetStatements.h"
#include "asset/BlobImpl.h"
#include "asset/ElementImpl.h"
#include "node/ConnectionPool.h"
#include "node/NodeConnection.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "platform/RawFile.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr char kNoRow[] = "no blob row found";
constexpr char kWrongSize[] = "blob size differs from its recorded length";
constexpr char kNoMemory[] = "out of memory";

using Hold = std::lock_guard<RecordLock>;

Status failRow(node::NodeConnection& c, int code, const std::string& message,
               const std::string& sql) {
  c.recordError(StatusBlobFailed, code, message, sql);
  return StatusBlobFailed;
}

Status failRow(node::NodeConnection& c, const node::Statement& statement) {
  node::EngineError failure = statement.error();
  return failRow(c, failure.code, failure.message, statement.sql());
}

// Reads a file blob's bytes; the caller holds the blob's lock.
Status loadFileLocked(BlobImpl& b) {
  assert(b.lock.heldByCurrentThread());
  unsigned char* block = nullptr;
  unsigned long long n = 0;
  Status status = readBlobFile(b.url, &block, &n);
  if (status != StatusOk) return status;
  b.adoptBytes(block, n);
  b.loaded = true;
  return StatusOk;
}

// Reads a catalog blob's row; the caller holds the blob's lock and the owner's lock (or
// the blob's lock was already held on entry, see loadBlob).
Status loadRowLocked(BlobImpl& b) {
  assert(b.lock.heldByCurrentThread());
  if (b.owner == nullptr) return StatusBlobFailed;  // a free blob: no row to name
  ElementImpl& element = *b.owner;
  AssetImpl* asset = element.asset;
  if (asset == nullptr || asset->node == nullptr) return StatusNotOpen;
  if (asset->id < 1) return StatusBlobFailed;
  NodeImpl& node = *asset->node;
  try {
    node::ConnectionLease lease(node.pool());
    if (!lease) return StatusNotOpen;
    unsigned char* block = nullptr;
    Status status = readBlobRow(*lease, asset->id, element.name, b.length, &block);
    if (status != StatusOk) return status;
    b.adoptBytes(block, b.length);
    b.loaded = true;
    return StatusOk;
  } catch (Status status) {
    return status;  // the connection could not be refreshed
  }
}

// Whether a catalog load is still to be done; otherwise *result is the call's result.
bool catalogLoadPending(BlobImpl& b, Status* result) {
  *result = StatusOk;
  if (!b.loadPending()) return false;
  switch (b.location) {
    case Blob::LocationCatalog:
      if (b.owner != nullptr) return true;
      *result = StatusBlobFailed;
      return false;
    case Blob::LocationFile:
      *result = loadFileLocked(b);
      return false;
    case Blob::LocationNone:
    case Blob::LocationManaged:
    case Blob::LocationOther:
      *result = StatusUnsupported;
      return false;
    default:
      return false;  // an unknown location loads nothing
  }
}

}  // namespace

Status readBlobRow(node::NodeConnection& c, int assetId, const String& tag,
                   unsigned long long length, unsigned char** block) {
  *block = nullptr;
  node::Statement statement(c, node::sqlFormat(assets::kSelectBlob, assetId, tag.buffer()));
  const std::string& sql = statement.sql();
  if (!statement.valid()) return failRow(c, statement);
  c.execStarted();
  const bool row = statement.step();
  c.execEnded();
  if (!row) {
    if (statement.failed()) return failRow(c, statement);
    return failRow(c, statement.code(), kNoRow, sql);
  }
  const void* data = statement.columnBlob(0);
  const int size = statement.columnBytes(0);
  if (size < 0 || static_cast<unsigned long long>(size) != length) {
    return failRow(c, 0, kWrongSize, sql);
  }
  unsigned char* bytes = newBlobBlock(length);
  if (bytes == nullptr) return failRow(c, node::kEngineNoMemory, kNoMemory, sql);
  if (length != 0) std::memcpy(bytes, data, length);
  if (statement.step() || statement.failed()) {
    std::free(bytes);
    return failRow(c, statement);
  }
  *block = bytes;
  return StatusOk;
}

Status readBlobFile(const String& path, unsigned char** block, unsigned long long* length) {
  *block = nullptr;
  *length = 0;
  // Through the process's shared descriptor: should the path name a catalog file, closing
  // a descriptor of our own would drop the engine's locks on it.
  platform::RawFile file(std::string(path.buffer(), path.length()));
  if (!file.valid()) return StatusNotFound;
  const int64_t found = file.size();
  if (found < 0) return StatusPermissionFailed;
  const auto size = static_cast<unsigned long long>(found);
  unsigned char* bytes = newBlobBlock(size);
  if (bytes == nullptr) return StatusPermissionFailed;
  if (size > 0 && file.readAt(0, bytes, static_cast<size_t>(size)) != static_cast<int64_t>(size)) {
    std::free(bytes);
    return StatusPermissionFailed;
  }
  *block = bytes;
  *length = size;
  return StatusOk;
}

Status loadBlob(BlobImpl& b) {
  for (;;) {
    RecordLock* ownerLock;  // pooled locks stay valid, whatever happens to the owner
    {
      Hold hold(b.lock);
      Status result;
      if (!catalogLoadPending(b, &result)) return result;
      ownerLock = b.owner->lock.peek();
      // A caller that already holds the blob's lock cannot take the owner's lock in order;
      // one that holds the owner's lock needs nothing more.
      if (b.lock.depth() > 1 || ownerLock->heldByCurrentThread()) return loadRowLocked(b);
    }
    Hold ownerHold(*ownerLock);
    Hold hold(b.lock);
    Status result;
    if (!catalogLoadPending(b, &result)) return result;
    if (b.owner->lock.peek() == ownerLock) return loadRowLocked(b);
    // The blob changed hands, or its owner moved under another lock, meanwhile: again.
  }
}

}  // namespace Vendrithane
}  // namespace KESTRIN

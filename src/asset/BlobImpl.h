// The implementation object behind Blob handles: the bytes, where they live and who owns
// them, and the lazy loading of bytes kept in the catalog or in a file.
//
// Locks: the blob's own lock guards its fields. It is taken after the lock of the owning
// element (its asset's lock), never before it: loading takes the owner's lock first so
// that it can read the owner's name, asset id and catalog.
#ifndef VENDRITHANE_ASSET_BLOBIMPL_H
#define VENDRITHANE_ASSET_BLOBIMPL_H

#include <atomic>
#include <cstddef>

#include "asset/RecordLock.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Status.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class ElementImpl;

constexpr unsigned long long kUnknownBlobLength = ~0ULL;  // length of a blob not yet measured

class BlobImpl {
 public:
  BlobImpl() = default;
  ~BlobImpl();
  BlobImpl(const BlobImpl&) = delete;
  BlobImpl& operator=(const BlobImpl&) = delete;

  // A new free blob with copies of everything but the owner and the stored flag; the
  // caller holds lock.
  BlobImpl* clone() const;
  // Replaces the bytes by a copy of the n bytes at p; the caller holds lock. Throws
  // std::bad_alloc (nothing changed) when there is no room.
  void setBytes(const unsigned char* p, unsigned long long n);
  // Takes over block (from newBlobBlock, or null) as the bytes, n long; the caller holds lock.
  void adoptBytes(unsigned char* block, unsigned long long n);
  // Resizes loaded bytes to n (see Blob::buffer) and returns the bytes; the caller holds lock.
  unsigned char* resize(unsigned long long n);

  bool managed() const {
    return location == Blob::LocationCatalog || location == Blob::LocationManaged;
  }
  // Bytes to read before use: the blob came from a record (or was written) and is not in
  // memory.
  bool loadPending() const { return stored && !loaded; }

  RecordLock lock;                               // recursive; guards every field below
  std::atomic<int> refs{1};                      // handles on this blob
  ElementImpl* owner = nullptr;                  // element whose value it is; null when free
  bool stored = false;                           // the catalog holds these bytes (or its file
                                                 //   does), or the blob came from a record
  bool loaded = false;                           // the bytes in memory are valid
  Blob::Location location = Blob::LocationNone;  // where the bytes live
  unsigned char* bytes = nullptr;                // from malloc, length + 2; null when none
  unsigned long long length = 0;                 // byte count; kUnknownBlobLength when unknown
  String mime;                                   // MIME text
  String url;                                    // path of a file blob
};

// Drops one reference; the last one destroys the blob.
void releaseBlob(BlobImpl* blob);

// A malloc'ed block of n bytes followed by two zero bytes (contents otherwise undefined);
// null when n bytes cannot be held in memory.
unsigned char* newBlobBlock(unsigned long long n);

// Reads the bytes of a blob that came from a record and is not in memory: a catalog blob
// from its row of vd_blobs, a file blob from its file. Takes the owner's lock, then the
// blob's (do not hold another asset's lock). 0 when loaded or when there was nothing to
// load; 20 when the owner's catalog is not open (or it has none); 33 when the row is
// missing, differs from the recorded length or cannot be read (recorded on the
// connection); 30 when the file cannot be opened, 13 when it cannot be read; 24 for the
// locations that cannot be loaded. A failure leaves the blob unloaded, so that a later
// call tries again and a store never takes the missing bytes for the value.
Status loadBlob(BlobImpl& blob);

// Decodes the `n` bytes of the old text encoding of a blob at `text` into `out` (room for
// `n` bytes): "D" is a zero byte, 0x86 followed by 1, 2 or 3 is "D", 0x86 or the apostrophe.
// Returns the number of bytes written.
size_t decodeBlobText(const unsigned char* text, size_t n, unsigned char* out);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_BLOBIMPL_H

// The implementation object behind Blob handles: the bytes, where they live and who owns
// them. The model needs the fields and the owner link; loading and storing the bytes belong
// to the blob storage.
#ifndef VENDRITHANE_ASSET_BLOBIMPL_H
#define VENDRITHANE_ASSET_BLOBIMPL_H

#include <atomic>

#include "asset/RecordLock.h"
#include "vendrithane/Blob.h"
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
  // Replaces the bytes by a copy of the n bytes at p; the caller holds lock.
  void setBytes(const unsigned char* p, unsigned long long n);

  RecordLock lock;                               // recursive; guards every field below
  std::atomic<int> refs{1};                      // handles on this blob
  ElementImpl* owner = nullptr;                  // element whose value it is; null when free
  bool stored = false;                           // bytes are in the catalog, or came from a record
  bool loaded = false;                           // the bytes in memory are valid
  Blob::Location location = Blob::LocationNone;  // where the bytes live
  unsigned char* bytes = nullptr;                // from malloc, length + 2; null when none
  unsigned long long length = 0;                 // byte count; kUnknownBlobLength when unknown
  String mime;                                   // MIME text
  String url;                                    // path of a file blob
};

// Drops one reference; the last one destroys the blob.
void releaseBlob(BlobImpl* blob);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_BLOBIMPL_H

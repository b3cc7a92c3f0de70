// Blob: the binary value of a blob element: bytes with a MIME text, a URL and a location
// that says where the bytes live. A handle: copies share one implementation, assignment
// re-points the handle, the last handle frees the bytes. Every operation takes the blob's
// own recursive lock, so handles on one blob may be used from several threads.
#ifndef VENDRITHANE_BLOB_H
#define VENDRITHANE_BLOB_H

#include "vendrithane/Export.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class BlobImpl;
struct AssetAccess;
class Element;

class VENDRITHANE_API Blob {
 public:
  // Where the bytes live. The number is the value written nowhere but passed around;
  // records carry "db" for LocationCatalog and "os" for LocationFile.
  enum Location {
    LocationNone = 0,     // no location yet; a record holding it cannot be written (33)
    LocationCatalog = 1,  // bytes kept in the catalog's blob file
    LocationManaged = 2,  // managed, but neither loadable nor writable in a record (24)
    LocationFile = 3,     // bytes kept in the file whose path is the URL
    LocationOther = 4,    // not supported for loading or writing (24)
  };

  Blob();  // a free blob: no location, no bytes, empty MIME text and URL
  Blob(const Blob& other);
  Blob& operator=(const Blob& other);
  ~Blob();
  // A handle on the blob of element e; Status 16 when e is not a blob element.
  Blob(Element& e);
  Blob& operator=(const Element& e);

  // A new free blob with copies of the loaded flag, location, length, bytes, MIME text and
  // URL; it has no owner and is not marked as held in the catalog. The bytes of a catalog
  // blob not yet in memory are read first, so that the copy carries them.
  Blob clone() const;
  // Copies everything of b into this blob (its owner stays): flags, location, length, bytes,
  // MIME text and URL. The bytes of a catalog blob of b not yet in memory are read first;
  // a catalog blob copied here counts as not yet held in the catalog for this blob's owner.
  void set(Blob& b);
  // Replaces the bytes by a copy of the n bytes at p (none when n is 0); the blob is loaded
  // and not held in the catalog, its location is loc, its MIME text "NA" and its URL empty.
  // Returns 0, or 14 (nothing changed) when p is null and n is not 0.
  int set(unsigned char* p, unsigned long long n, Location loc);
  // Points the blob at url (the scheme before "://" lower-cased) and frees the bytes; the
  // length becomes unknown and the MIME text "NA". A catalog blob set this way is read from
  // the URL and written to the catalog by the next store. A true b throws Status 24.
  int set(String url, Location loc, bool b);

  // The recorded length, all ones when unknown. For a file blob read from a record and not
  // loaded, the current size of its file, all ones when the file cannot be examined.
  unsigned long long length();
  // The bytes in memory, or null, reading a blob read from a record first (from the catalog,
  // or from its file). When the bytes are loaded and n is neither 0 nor the length, the
  // buffer is resized to n bytes (keeping the leading ones, new ones zero) and the MIME text
  // becomes "NA"; std::bad_alloc leaves the blob as it was. Null when there are no bytes or
  // they could not be read (the failure is recorded on the catalog connection).
  unsigned char* buffer(unsigned long long n);
  unsigned char operator[](unsigned long long i) const;  // 37 outside the bytes in memory
  void clear();  // frees the bytes; the value is now empty (length 0)
  // Drops the bytes from memory so that the next access reads them again: 33 (nothing
  // changes) for a catalog blob whose bytes are not yet held in the catalog, else 0.
  int release();
  // Replaces the bytes by the decoding of the zero-terminated text of the earlier storage
  // format ("D" is a zero byte, 0x86 escapes "D", 0x86 and the apostrophe). Returns 0;
  // throws Status 12 when there is no memory for the bytes.
  int decode(const unsigned char* text);
  bool managed();  // location 1 or 2
  void mime(const String& m);
  String mime();
  void url(const String& u);  // sets the URL and location 3
  String url();
  void location(Location loc);
  Location location();
  void lock();  // enter and leave the blob's recursive lock
  void unlock();
  int isLocked();  // entries currently held on the blob's lock

 private:
  friend struct AssetAccess;  // the library's own access to the implementation
  struct Unset {};
  explicit Blob(Unset) : m_impl(nullptr) {}  // AssetAccess::make sets m_impl at once

  BlobImpl* m_impl;  // never null once made
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_BLOB_H

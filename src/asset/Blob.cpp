// Blob handles and the blob implementation: ownership, cloning and copying, bytes held in
// memory (set, resize, clear, release, the decoding of the earlier text encoding), and the
// MIME text, URL and location. Loading bytes on first use is in BlobLoad.cpp.
#include <stdint.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "asset/AssetAccess.h"
#include "asset/BlobImpl.h"
#include "asset/ElementImpl.h"
#include "platform/Files.h"
#include "vendrithane/Element.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using Hold = std::lock_guard<RecordLock>;

// Status 12 also reports memory that could not be had.
constexpr Status kStatusNoMemory = StatusNoFreeSlot;

// A malloc'ed copy of n bytes followed by two zero bytes; bad_alloc when there is no room.
unsigned char* copyBytes(const unsigned char* p, unsigned long long n) {
  unsigned char* block = newBlobBlock(n);
  if (block == nullptr) throw std::bad_alloc();
  if (n != 0) std::memcpy(block, p, n);
  return block;
}

// One more reference on the blob of element e; 16 when e holds none.
BlobImpl* blobOf(Element& e) {
  ElementImpl& impl = *AssetAccess::impl(e);
  HeldLock hold(impl.lock);
  if (impl.type != TypeBlob || impl.blob == nullptr) throw StatusNotNumber;
  BlobImpl* blob = AssetAccess::impl(*impl.blob);
  blob->refs.fetch_add(1);
  return blob;
}

// Reads the bytes of a catalog blob that are not in memory yet, so that a copy carries
// them; a failure leaves the copy without bytes (its store then reports it).
void loadForCopy(BlobImpl& b) {
  bool pending;
  {
    Hold hold(b.lock);
    pending = b.managed() && b.loadPending();
  }
  if (pending) (void)loadBlob(b);
}

// The scheme of a URL ("HTTP://x" → "http://x"); the rest is kept as it is.
String lowerScheme(const String& url) {
  String result(url);
  const int end = result.find("://");
  for (int i = 0; i < end; ++i) {
    const char c = result.buffer()[i];
    if (c >= 'A' && c <= 'Z') result.setAt(static_cast<unsigned>(i), static_cast<char>(c + 32));
  }
  return result;
}

}  // namespace

// ---- Implementation ----

unsigned char* newBlobBlock(unsigned long long n) {
  if (n > SIZE_MAX - 2) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(n) + 2));
  if (block == nullptr) return nullptr;
  block[n] = 0;
  block[n + 1] = 0;
  return block;
}

BlobImpl::~BlobImpl() {
  std::free(bytes);
}

BlobImpl* BlobImpl::clone() const {
  auto* copy = new BlobImpl;
  try {
    copy->loaded = loaded;
    copy->location = location;
    copy->length = length;
    if (length != 0 && length != kUnknownBlobLength && bytes != nullptr) {
      copy->bytes = copyBytes(bytes, length);
    }
    copy->mime = mime;
    copy->url = url;
  } catch (...) {
    delete copy;
    throw;
  }
  return copy;
}

void BlobImpl::setBytes(const unsigned char* p, unsigned long long n) {
  adoptBytes(n == 0 ? nullptr : copyBytes(p, n), n);
}

void BlobImpl::adoptBytes(unsigned char* block, unsigned long long n) {
  std::free(bytes);
  bytes = block;
  length = n;
}

unsigned char* BlobImpl::resize(unsigned long long n) {
  if (!loaded || n == 0 || n == length) return bytes;
  if (n > SIZE_MAX - 2) throw std::bad_alloc();
  const unsigned long long kept = bytes == nullptr ? 0 : std::min(n, length);
  auto* block = static_cast<unsigned char*>(std::realloc(bytes, static_cast<size_t>(n) + 2));
  if (block == nullptr) throw std::bad_alloc();  // the old block is still ours
  if (n > kept) std::memset(block + kept, 0, static_cast<size_t>(n - kept));
  block[n] = 0;
  block[n + 1] = 0;
  bytes = block;
  length = n;
  mime = "NA";
  // The catalog no longer holds these bytes: release() must not drop them before a store.
  if (managed()) stored = false;
  return bytes;
}

void releaseBlob(BlobImpl* blob) {
  if (blob->refs.fetch_sub(1) == 1) delete blob;
}

// ---- Handle ----

Blob::Blob() : m_impl(new BlobImpl) {}

Blob::Blob(const Blob& other) : m_impl(other.m_impl) {
  m_impl->refs.fetch_add(1);
}

Blob& Blob::operator=(const Blob& other) {
  if (other.m_impl != m_impl) {
    other.m_impl->refs.fetch_add(1);
    releaseBlob(m_impl);
    m_impl = other.m_impl;
  }
  return *this;
}

Blob::~Blob() {
  releaseBlob(m_impl);
}

Blob::Blob(Element& e) : m_impl(blobOf(e)) {}

Blob& Blob::operator=(const Element& e) {
  BlobImpl* blob = blobOf(const_cast<Element&>(e));
  releaseBlob(m_impl);
  m_impl = blob;
  return *this;
}

Blob Blob::clone() const {
  loadForCopy(*m_impl);
  Hold hold(m_impl->lock);
  return AssetAccess::make(m_impl->clone());
}

void Blob::set(Blob& b) {
  if (b.m_impl == m_impl) return;
  loadForCopy(*b.m_impl);
  // Copy the source under its own lock, then install under ours: never both at once.
  BlobImpl copy;
  bool stored;
  {
    Hold hold(b.m_impl->lock);
    const BlobImpl& source = *b.m_impl;
    if (source.bytes != nullptr && source.length != kUnknownBlobLength) {
      copy.bytes = copyBytes(source.bytes, source.length);
    }
    copy.length = source.length;
    copy.loaded = source.loaded;
    copy.location = source.location;
    copy.mime = source.mime;
    copy.url = source.url;
    // Catalog bytes are held for the source's owner, not for this blob's: this one's store
    // must write them. A file blob's file is the same file for both.
    stored = source.stored && !source.managed();
  }
  Hold hold(m_impl->lock);
  BlobImpl& b2 = *m_impl;
  std::swap(b2.bytes, copy.bytes);  // the old bytes go with copy
  b2.length = copy.length;
  b2.loaded = copy.loaded;
  b2.stored = stored;
  b2.location = copy.location;
  b2.mime = copy.mime;
  b2.url = copy.url;
}

int Blob::set(unsigned char* p, unsigned long long n, Location loc) {
  if (p == nullptr && n != 0) return StatusEmptyArgument;
  Hold hold(m_impl->lock);
  m_impl->setBytes(p, n);
  m_impl->loaded = true;
  m_impl->stored = false;
  m_impl->location = loc;
  m_impl->mime = "NA";
  m_impl->url.empty();
  return 0;
}

int Blob::set(String url, Location loc, bool b) {
  if (b) throw StatusUnsupported;
  String target = lowerScheme(url);
  Hold hold(m_impl->lock);
  BlobImpl& blob = *m_impl;
  // A catalog blob now takes its bytes from the URL: whatever the catalog holds is stale.
  if (loc != blob.location || loc == LocationCatalog || loc == LocationManaged) {
    blob.stored = false;
  }
  blob.loaded = false;
  blob.adoptBytes(nullptr, kUnknownBlobLength);
  blob.url = target;
  blob.location = loc;
  blob.mime = "NA";
  return 0;
}

unsigned long long Blob::length() {
  Hold hold(m_impl->lock);
  const BlobImpl& b = *m_impl;
  if (b.location == LocationFile && b.loadPending()) {
    const int64_t size = platform::fileSize(std::string(b.url.buffer(), b.url.length()));
    return size < 0 ? kUnknownBlobLength : static_cast<unsigned long long>(size);
  }
  return b.length;
}

unsigned char* Blob::buffer(unsigned long long n) {
  (void)loadBlob(*m_impl);  // a failure is recorded; the bytes stay null
  Hold hold(m_impl->lock);
  return m_impl->resize(n);
}

unsigned char Blob::operator[](unsigned long long i) const {
  Hold hold(m_impl->lock);
  if (m_impl->bytes == nullptr || i >= m_impl->length) throw StatusOutOfBounds;
  return m_impl->bytes[i];
}

void Blob::clear() {
  Hold hold(m_impl->lock);
  BlobImpl& b = *m_impl;
  b.adoptBytes(nullptr, 0);
  // The empty value is the value now; a store writes it, release() must not undo it.
  b.loaded = true;
  if (b.managed()) b.stored = false;
}

int Blob::release() {
  Hold hold(m_impl->lock);
  BlobImpl& b = *m_impl;
  if (b.managed() && !b.stored) return StatusBlobFailed;  // the memory copy is the only one
  b.loaded = false;
  std::free(b.bytes);
  b.bytes = nullptr;
  return 0;
}

size_t decodeBlobText(const unsigned char* text, size_t n, unsigned char* out) {
  constexpr unsigned char kDecodeZero = 0x44;    // "D" stands for a zero byte
  constexpr unsigned char kDecodeEscape = 0x86;  // introduces a two-byte escape
  size_t written = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = text[i];
    if (c == kDecodeZero) {
      c = 0;
    } else if (c == kDecodeEscape && i + 1 < n) {
      // An escape selects one of three bytes; a lone 0x86 (at the end of the text, or
      // before any other byte) stands for itself and the next byte is read as usual.
      switch (text[i + 1]) {
        case 0x01:
          c = kDecodeZero;
          ++i;
          break;
        case 0x02:
          c = kDecodeEscape;
          ++i;
          break;
        case 0x03:
          c = '\'';
          ++i;
          break;
        default:
          break;
      }
    }
    out[written++] = c;
  }
  return written;
}

int Blob::decode(const unsigned char* text) {
  Hold hold(m_impl->lock);
  BlobImpl& b = *m_impl;
  if (text == nullptr || *text == 0) {
    b.adoptBytes(nullptr, 0);
  } else {
    unsigned char* block = newBlobBlock(std::strlen(reinterpret_cast<const char*>(text)));
    if (block == nullptr) throw kStatusNoMemory;
    unsigned long long n =
        decodeBlobText(text, std::strlen(reinterpret_cast<const char*>(text)), block);
    block[n] = 0;
    block[n + 1] = 0;
    b.adoptBytes(block, n);
    b.mime = "NA";
  }
  b.loaded = true;
  b.stored = false;
  return 0;
}

bool Blob::managed() {
  Hold hold(m_impl->lock);
  return m_impl->managed();
}

void Blob::mime(const String& m) {
  Hold hold(m_impl->lock);
  m_impl->mime = m;
}

String Blob::mime() {
  Hold hold(m_impl->lock);
  return m_impl->mime;
}

void Blob::url(const String& u) {
  Hold hold(m_impl->lock);
  m_impl->url = u;
  m_impl->location = LocationFile;
}

String Blob::url() {
  Hold hold(m_impl->lock);
  return m_impl->url;
}

void Blob::location(Location loc) {
  Hold hold(m_impl->lock);
  m_impl->location = loc;
}

Blob::Location Blob::location() {
  Hold hold(m_impl->lock);
  return m_impl->location;
}

void Blob::lock() {
  m_impl->lock.lock();
}

void Blob::unlock() {
  m_impl->lock.unlock();
}

int Blob::isLocked() {
  return m_impl->lock.depth();
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// Blob handles and the parts of the blob implementation the record model needs: ownership,
// cloning, bytes held in memory and the MIME text, URL and location.
#include "asset/BlobImpl.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "asset/ElementImpl.h"
#include "vendrithane/Element.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using Hold = std::lock_guard<RecordLock>;

// A malloc'ed copy of n bytes followed by two zero bytes; bad_alloc when there is no room.
unsigned char* copyBytes(const unsigned char* p, unsigned long long n) {
  if (n > ~0ULL - 2) throw std::bad_alloc();
  auto* block = static_cast<unsigned char*>(std::malloc(n + 2));
  if (block == nullptr) throw std::bad_alloc();
  if (n != 0) std::memcpy(block, p, n);
  block[n] = 0;
  block[n + 1] = 0;
  return block;
}

// One more reference on the blob of element e; 16 when e holds none.
BlobImpl* blobOf(Element& e) {
  ElementImpl& impl = *e.impl();
  HeldLock hold(impl.lock);
  if (impl.type != TypeBlob || impl.blob == nullptr) throw StatusNotNumber;
  BlobImpl* blob = impl.blob->impl();
  blob->refs.fetch_add(1);
  return blob;
}

}  // namespace

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
  unsigned char* block = n == 0 ? nullptr : copyBytes(p, n);
  std::free(bytes);
  bytes = block;
  length = n;
}

void releaseBlob(BlobImpl* blob) {
  if (blob->refs.fetch_sub(1) == 1) delete blob;
}

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
  Hold hold(m_impl->lock);
  return Blob(m_impl->clone());
}

int Blob::set(unsigned char* p, unsigned long long n, Location loc) {
  Hold hold(m_impl->lock);
  m_impl->setBytes(p, n);
  m_impl->loaded = true;
  m_impl->location = loc;
  m_impl->mime = "NA";
  m_impl->url.empty();
  return 0;
}

unsigned long long Blob::length() {
  Hold hold(m_impl->lock);
  return m_impl->length;
}

unsigned char* Blob::buffer(unsigned long long n) {
  Hold hold(m_impl->lock);
  BlobImpl& b = *m_impl;
  if (b.loaded && b.bytes != nullptr && n != 0 && n != b.length) {
    if (n > ~0ULL - 2) throw std::bad_alloc();
    auto* block = static_cast<unsigned char*>(std::realloc(b.bytes, n + 2));
    if (block == nullptr) throw std::bad_alloc();
    if (n > b.length) std::memset(block + b.length, 0, n - b.length);
    block[n] = 0;
    block[n + 1] = 0;
    b.bytes = block;
    b.length = n;
    b.mime = "NA";
  }
  return b.bytes;
}

unsigned char Blob::operator[](unsigned long long i) const {
  Hold hold(m_impl->lock);
  if (m_impl->bytes == nullptr || i >= m_impl->length) throw StatusOutOfBounds;
  return m_impl->bytes[i];
}

bool Blob::managed() {
  Hold hold(m_impl->lock);
  return m_impl->location == LocationCatalog || m_impl->location == LocationManaged;
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

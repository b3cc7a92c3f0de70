// Element handles and their implementation: typed values held as text, attributes, and
// the attachment of blobs.
#include "asset/ElementImpl.h"

#include <cassert>
#include <memory>
#include <mutex>

#include "asset/AssetAccess.h"
#include "asset/AttributeImpl.h"
#include "asset/BlobImpl.h"
#include "asset/ValueText.h"
#include "vendrithane/Element.h"

namespace KESTRIN {
namespace Vendrithane {

// ---- Implementation ----

ElementImpl::~ElementImpl() {
  // Surviving attribute handles must not keep pointing at this element; the detach runs
  // under the lock their users take.
  HeldLock hold(lock);
  eraseAttributes();
  dropBlob();
}

void ElementImpl::assign(Type t, const String& value) {
  if (blob == nullptr) {
    text = value;  // all or nothing: a failure leaves the element as it was
  } else {
    String copy(value);  // before any change, for the same reason
    dropBlob();
    text = std::move(copy);
  }
  type = t;
  userSet = true;
}

void ElementImpl::assign(Type t, const char* value) {
  if (blob != nullptr) return assign(t, String(value));
  text = value;  // all or nothing, as above
  type = t;
  userSet = true;
}

void ElementImpl::dropBlob() {
  if (blob == nullptr) return;
  BlobImpl* impl = AssetAccess::impl(*blob);
  // Once free, nothing names the row of a blob that was never read.
  if (impl->refs.load() > 1) keepBlobBytes();
  {
    std::lock_guard<RecordLock> hold(impl->lock);
    if (impl->owner == this) impl->owner = nullptr;
  }
  delete blob;
  blob = nullptr;
}

void ElementImpl::keepBlobBytes() {
  if (blob == nullptr) return;
  BlobImpl* impl = AssetAccess::impl(*blob);
  bool pending;
  {
    std::lock_guard<RecordLock> hold(impl->lock);
    pending = impl->owner == this && impl->managed() && impl->loadPending();
  }
  if (pending) (void)loadBlob(*impl);  // the caller holds the owner's lock
}

void ElementImpl::attachBlob(BlobImpl* impl) {
  std::unique_ptr<Blob> handle(new Blob(AssetAccess::make(impl)));
  dropBlob();
  {
    std::lock_guard<RecordLock> hold(impl->lock);
    impl->owner = this;
  }
  blob = handle.release();
}

Attribute& ElementImpl::attributeLocked(const String& attributeName) {
  assert(lock.peek()->heldByCurrentThread());
  auto it = attributes.find(attributeName);
  if (it != attributes.end()) return *it->second;
  std::unique_ptr<Attribute> handle(
      new Attribute(AssetAccess::make(new AttributeImpl(attributeName, lock.ref(), this))));
  Attribute& result = *handle;
  attributes.emplace(attributeName, handle.get());
  handle.release();
  return result;
}

void ElementImpl::eraseAttribute(std::map<String, Attribute*>::iterator it) {
  Attribute* handle = it->second;
  attributes.erase(it);
  AttributeImpl* attribute = AssetAccess::impl(*handle);
  if (attribute->refs.load() > 1) attribute->detach();
  delete handle;
}

void ElementImpl::eraseAttributes() {
  while (!attributes.empty()) eraseAttribute(attributes.begin());
}

void ElementImpl::moveUnder(const LockRef& newLock, AssetImpl* newAsset) {
  for (auto& entry : attributes) AssetAccess::impl(*entry.second)->lock.store(newLock);
  asset = newAsset;
  lock.store(newLock);
}

void releaseElement(ElementImpl* element) {
  if (element->refs.fetch_sub(1) == 1) delete element;
}

// ---- Handle ----

Element::Element() : m_impl(new ElementImpl(String(), defaultRecordLock(), nullptr)) {}

Element::Element(const Element& other) : m_impl(other.m_impl) {
  m_impl->refs.fetch_add(1);
}

Element& Element::operator=(const Element& other) {
  if (other.m_impl != m_impl) {
    other.m_impl->refs.fetch_add(1);
    releaseElement(m_impl);
    m_impl = other.m_impl;
  }
  return *this;
}

Element::~Element() {
  releaseElement(m_impl);
}

Type Element::type() const {
  HeldLock hold(m_impl->lock);
  return m_impl->type;
}

String Element::name() const {
  return m_impl->name;
}

Element::operator int() const {
  HeldLock hold(m_impl->lock);
  if (m_impl->text.isEmpty()) return 0;
  return static_cast<int>(m_impl->text);
}

Element::operator long long() const {
  HeldLock hold(m_impl->lock);
  return static_cast<long long>(m_impl->text);
}

Element::operator String() const {
  HeldLock hold(m_impl->lock);
  return m_impl->text;
}

Element::operator const Blob&() const {
  HeldLock hold(m_impl->lock);
  if (m_impl->type != TypeBlob || m_impl->blob == nullptr) throw StatusNotNumber;
  return *m_impl->blob;
}

Element& Element::operator=(int v) {
  char digits[24];
  HeldLock hold(m_impl->lock);
  m_impl->assign(TypeInt4, decimalDigits(v, digits));
  return *this;
}

Element& Element::operator=(long long v) {
  char digits[24];
  HeldLock hold(m_impl->lock);
  m_impl->assign(TypeInt8, decimalDigits(v, digits));
  return *this;
}

Element& Element::operator=(const char* v) {
  HeldLock hold(m_impl->lock);
  m_impl->assign(TypeText, v);
  return *this;
}

Element& Element::operator=(const String& v) {
  HeldLock hold(m_impl->lock);
  m_impl->assign(TypeText, v);
  return *this;
}

Element& Element::operator=(const Time& v) {
  HeldLock hold(m_impl->lock);
  char digits[24];
  m_impl->assign(TypeTime, decimalDigits(static_cast<long long>(v), digits));
  return *this;
}

Element& Element::operator=(const Blob& b) {
  BlobImpl* source = AssetAccess::impl(b);
  bool pending;
  {
    std::lock_guard<RecordLock> blobHold(source->lock);
    pending = source->owner != nullptr && source->owner != m_impl && source->managed() &&
              source->loadPending();
  }
  // The copy made below must carry the bytes another element's row holds. Read before this
  // element's lock is taken: loading takes the owner's lock.
  if (pending) (void)loadBlob(*source);
  HeldLock hold(m_impl->lock);
  BlobImpl* attach = nullptr;
  {
    std::lock_guard<RecordLock> blobHold(source->lock);
    if (source->owner == m_impl) return *this;  // already this element's value
    if (source->owner == nullptr) {
      source->refs.fetch_add(1);
      source->owner = m_impl;  // claimed here, so that no other element takes it meanwhile
      // Catalog bytes are held under the previous owner's row: this element's store must
      // write them, and release() must not drop them before.
      if (source->managed()) source->stored = false;
      attach = source;
    } else {
      attach = source->clone();  // a blob belongs to one element at a time
    }
  }
  try {
    m_impl->attachBlob(attach);
  } catch (...) {
    {
      std::lock_guard<RecordLock> blobHold(attach->lock);
      if (attach->owner == m_impl) attach->owner = nullptr;
    }
    releaseBlob(attach);
    throw;
  }
  m_impl->type = TypeBlob;
  m_impl->text.empty();
  m_impl->userSet = true;
  return *this;
}

Attribute& Element::attribute(const char* name) {
  HeldLock hold(m_impl->lock);
  return m_impl->attributeLocked(String(name));
}

bool Element::attributeExists(const char* name) {
  HeldLock hold(m_impl->lock);
  return m_impl->attributes.count(String(name)) != 0;
}

int Element::nAttributes() {
  HeldLock hold(m_impl->lock);
  return static_cast<int>(m_impl->attributes.size());
}

void Element::erase(const char* name) {
  HeldLock hold(m_impl->lock);
  auto it = m_impl->attributes.find(String(name));
  if (it != m_impl->attributes.end()) m_impl->eraseAttribute(it);
}

void Element::erase() {
  HeldLock hold(m_impl->lock);
  m_impl->eraseAttributes();
}

}  // namespace Vendrithane
}  // namespace KESTRIN

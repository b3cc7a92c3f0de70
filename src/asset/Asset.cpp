// Asset handles and their implementation: the element map, the reserved time stamps, the
// user payload and the release of elements that outlive their asset.
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/AssetStatements.h"

#include <cassert>
#include <memory>
#include <mutex>

#include "asset/AssetAccess.h"
#include "asset/ElementImpl.h"
#include "asset/RecordParser.h"
#include "asset/ThreadCache.h"
#include "node/NodeAccess.h"
#include "node/NodeImpl.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using Hold = std::lock_guard<RecordLock>;

// The handles an asset's element map owns come from the per-thread cache.
Element* newOwnedHandle(const String& lowerName, const LockRef& lock, AssetImpl* asset) {
  void* block = ThreadCache<Element>::allocate();
  ElementImpl* impl;
  try {
    impl = new ElementImpl(lowerName, lock, asset);
  } catch (...) {
    ThreadCache<Element>::release(block);
    throw;
  }
  return new (block) Element(AssetAccess::make(impl));
}

void deleteOwnedHandle(Element* handle) {
  handle->~Element();
  ThreadCache<Element>::release(handle);
}

}  // namespace

String elementKey(const char* name) {
  String key(name);
  key.makeLower();
  return key;
}

// ---- Implementation ----

AssetImpl::AssetImpl(const String& typeName, bool inCollection)
    : lock(newRecordLock()), typeName(typeName), inCollection(inCollection) {}

AssetImpl::~AssetImpl() {
  Hold hold(*lock);
  eraseAllLocked();
  if (userData != nullptr) userData->dispose();
}

void AssetImpl::ensureParsed() {
  {
    Hold hold(*lock);
    if (parsed) return;
  }
  parseRecord(*this);
}

Element& AssetImpl::elementLocked(const String& lowerName) {
  assert(lock->heldByCurrentThread());
  auto it = elements.lower_bound(lowerName);
  if (it != elements.end() && it->first == lowerName) return *it->second;
  Element* handle = newOwnedHandle(lowerName, lock, this);
  try {
    elements.emplace_hint(it, lowerName, handle);
  } catch (...) {
    deleteOwnedHandle(handle);
    throw;
  }
  Element& result = *handle;
  nElements = static_cast<int>(elements.size());
  return result;
}

Element& AssetImpl::stampLocked(const char* name) {
  assert(lock->heldByCurrentThread());
  const String key(name);
  auto it = elements.find(key);
  if (it != elements.end()) return *it->second;
  Element& stamp = elementLocked(key);
  stamp = Time(0);
  AssetAccess::impl(stamp)->userSet = false;
  return stamp;
}

void AssetImpl::eraseLocked(std::map<String, Element*>::iterator it) {
  assert(lock->heldByCurrentThread());
  Element* handle = it->second;
  elements.erase(it);
  nElements = static_cast<int>(elements.size());
  letGo(handle);
}

void AssetImpl::eraseAllLocked() {
  assert(lock->heldByCurrentThread());
  std::map<String, Element*> gone;
  gone.swap(elements);  // one sweep, without rebalancing after each element
  nElements = 0;
  for (auto& entry : gone) letGo(entry.second);
}

void AssetImpl::letGo(Element* handle) {
  // Handles the host still holds keep a usable element of their own.
  ElementImpl* element = AssetAccess::impl(*handle);
  if (element->refs.load() > 1) {
    element->keepBlobBytes();  // without its asset the element names no row any more
    element->moveUnder(defaultRecordLock(), nullptr);
  }
  deleteOwnedHandle(handle);
}

void releaseAsset(AssetImpl* asset) {
  NodeImpl* node;
  {
    Hold hold(*asset->lock);
    node = asset->node;
  }
  // A bound asset's references change under its node's table lock, so that a load never
  // picks up an asset that is going away.
  if (node != nullptr) {
    assets::liveAssets(*node).release(asset);
  } else if (asset->refs.fetch_sub(1) == 1) {
    delete asset;
  }
}

// ---- Handle ----

Asset::Asset() : m_impl(new AssetImpl(String(assets::kAssetsTable), true)) {}

Asset::Asset(const Asset& other) : m_impl(other.m_impl) {
  m_impl->refs.fetch_add(1);
}

Asset& Asset::operator=(const Asset& other) {
  if (other.m_impl != m_impl) {
    other.m_impl->refs.fetch_add(1);
    releaseAsset(m_impl);
    m_impl = other.m_impl;
  }
  return *this;
}

Asset::~Asset() {
  releaseAsset(m_impl);
}

int Asset::id() const {
  Hold hold(*m_impl->lock);
  return m_impl->id;
}

String Asset::name() {
  Hold hold(*m_impl->lock);
  return m_impl->typeName;
}

bool Asset::inCollection() {
  Hold hold(*m_impl->lock);
  return m_impl->inCollection;
}

Node Asset::node() {
  NodeImpl* node;
  {
    // An asset outliving its catalog loses its node under this lock before the node goes.
    Hold hold(*m_impl->lock);
    node = m_impl->node;
    if (node != nullptr && !node->shareHandle()) node = nullptr;
  }
  return node != nullptr ? NodeAccess::adopt(node) : NodeAccess::shareOrNone(nullptr);
}

int Asset::nElements() {
  m_impl->ensureParsed();
  Hold hold(*m_impl->lock);
  return m_impl->nElements;
}

const std::map<String, Element*>* Asset::elems() {
  return &m_impl->elements;
}

bool Asset::elementExists(const char* name) {
  m_impl->ensureParsed();
  Hold hold(*m_impl->lock);
  return m_impl->elements.count(elementKey(name)) != 0;
}

Element& Asset::element(const char* name) {
  const String key = elementKey(name);
  std::unique_lock<RecordLock> hold(*m_impl->lock);
  if (!m_impl->parsed) {
    hold.unlock();  // the parser's lock comes before the asset's
    m_impl->ensureParsed();
    hold.lock();
  }
  return m_impl->elementLocked(key);
}

Element& Asset::created() {
  m_impl->ensureParsed();
  Hold hold(*m_impl->lock);
  return m_impl->stampLocked(assets::kCreatedStamp);
}

Element& Asset::modified() {
  m_impl->ensureParsed();
  Hold hold(*m_impl->lock);
  return m_impl->stampLocked(assets::kModifiedStamp);
}

void Asset::erase(const char* name) {
  m_impl->ensureParsed();
  Hold hold(*m_impl->lock);
  auto it = m_impl->elements.find(elementKey(name));
  if (it != m_impl->elements.end()) m_impl->eraseLocked(it);
}

void Asset::erase() {
  Hold hold(*m_impl->lock);
  m_impl->eraseAllLocked();
  if (!m_impl->parsed) m_impl->rowText = std::move(m_impl->record);  // what the row holds
  m_impl->record.empty();
  m_impl->parsed = true;
}

void Asset::lock() {
  m_impl->lock->lock();
}

void Asset::unlock() {
  m_impl->lock->unlock();
}

void Asset::userData(UserData* p) {
  Hold hold(*m_impl->lock);
  if (p == m_impl->userData) return;
  if (m_impl->userData != nullptr) m_impl->userData->dispose();
  m_impl->userData = p;
}

UserData* Asset::userData() {
  Hold hold(*m_impl->lock);
  return m_impl->userData;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// The merge of an update with a row that changed under it: the host's changes are found by
// comparing each element with the text the object last read or wrote; everything else is
// taken over from the row.
#include "asset/RecordMerge.h"

#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AttributeImpl.h"
#include "asset/BlobImpl.h"
#include "asset/ElementImpl.h"
#include "asset/RecordParser.h"
#include "asset/RecordWriter.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using Hold = std::lock_guard<RecordLock>;

ElementImpl& implOf(Element* handle) {
  return *AssetAccess::impl(*handle);
}

// The elements of a record text, in an asset of their own that nobody else sees.
std::unique_ptr<AssetImpl> parsedCopy(const String& text, const AssetImpl& like) {
  auto copy = std::make_unique<AssetImpl>(like.typeName, like.inCollection);
  copy->record = text;
  copy->parsed = false;
  Parser own;  // a pooled parser could be held by a thread that waits for the asset's lock
  own.fill(*copy);
  return copy;
}

// Whether the host changed `mine` since the object read or wrote `base` (null: base had no
// such element). Caller holds the locks of both.
bool changedByHost(ElementImpl& mine, ElementImpl* base) {
  if (mine.userSet) return true;
  if (mine.blob != nullptr) {
    BlobImpl& blob = *AssetAccess::impl(*mine.blob);
    Hold hold(blob.lock);
    if (blob.managed() && !blob.stored) return true;  // bytes set since: not in any row yet
  }
  if (base == nullptr) {
    // Made on demand by a read, never given anything: no change of the host's.
    return !(mine.text.isEmpty() && mine.attributes.empty() && mine.blob == nullptr &&
             (mine.type == TypeUndef || mine.type == TypeText));
  }
  // An attribute the host only read into being (empty, unknown to base) is no change either:
  // base, the merge's own copy, gets it too before the two are compared.
  for (const auto& entry : mine.attributes) {
    if (AssetAccess::impl(*entry.second)->text.isEmpty() &&
        base->attributes.count(entry.first) == 0)
      base->attributeLocked(entry.first);
  }
  std::string now, then;
  writeElement(now, mine);
  writeElement(then, *base);
  return now != then;
}

// Gives `into` the value, attributes and blob of `from`, keeping the handles on `into` and
// on its attributes of the names `from` has (and its empty ones). Caller holds the locks of both.
void takeValue(ElementImpl& into, ElementImpl& from) {
  for (auto it = into.attributes.begin(); it != into.attributes.end();) {
    auto source = from.attributes.find(it->first);
    if (source == from.attributes.end()) {
      // One the host only read into being stays, empty, for the handle it holds.
      if (AssetAccess::impl(*it->second)->text.isEmpty()) {
        ++it;
        continue;
      }
      into.eraseAttribute(it++);
    } else {
      AssetAccess::impl(*it->second)->text = AssetAccess::impl(*source->second)->text;
      ++it;
    }
  }
  for (const auto& source : from.attributes) {
    AssetAccess::impl(into.attributeLocked(source.first))->text =
        AssetAccess::impl(*source.second)->text;
  }
  if (from.blob != nullptr) {
    BlobImpl* blob = AssetAccess::impl(*from.blob);
    blob->refs.fetch_add(1);
    into.attachBlob(blob);  // adopts the reference taken, and becomes the blob's owner
    from.dropBlob();        // the owner is `into` now: only the handle goes
  } else {
    into.dropBlob();
  }
  into.type = from.type;
  into.text = from.text;
  into.userSet = false;
}

}  // namespace

void mergeRecord(AssetImpl& asset, const String& base, const String& current) {
  std::unique_ptr<AssetImpl> before = parsedCopy(base, asset);
  std::unique_ptr<AssetImpl> now = parsedCopy(current, asset);
  Hold holdBefore(*before->lock);
  Hold holdNow(*now->lock);

  std::set<String> kept;  // the host's changes, decided before anything moves
  for (const auto& entry : asset.elements) {
    auto then = before->elements.find(entry.first);
    ElementImpl* old = then == before->elements.end() ? nullptr : &implOf(then->second);
    if (changedByHost(implOf(entry.second), old)) kept.insert(entry.first);
  }
  for (const auto& entry : now->elements) {
    if (kept.count(entry.first) != 0) continue;
    const bool removedByHost =
        asset.elements.count(entry.first) == 0 && before->elements.count(entry.first) != 0;
    if (removedByHost) continue;
    takeValue(implOf(&asset.elementLocked(entry.first)), implOf(entry.second));
  }
  for (auto it = asset.elements.begin(); it != asset.elements.end();) {
    if (kept.count(it->first) != 0 || now->elements.count(it->first) != 0) {
      ++it;
    } else {
      asset.eraseLocked(it++);
    }
  }
}

}  // namespace Vendrithane
}  // namespace KESTRIN

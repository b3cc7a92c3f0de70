// The record parser callbacks, the parse of an asset and the parser pool.
#include "asset/RecordParser.h"

#include <cstring>
#include <memory>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AttributeImpl.h"
#include "asset/BlobImpl.h"
#include "asset/ElementImpl.h"
#include "asset/RecordNames.h"
#include "asset/TypeNames.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr int kPoolSize = 16;

bool writableName(const String& s) {
  return isRecordName(s.buffer(), s.length());
}

// The last of the tag's attributes named name (later ones win, as in the element's map).
const String* findAttribute(const String* names, const String* values, int n, const char* name) {
  for (int k = n - 1; k >= 0; --k) {
    if (names[k].length() == std::strlen(name) && names[k] == name) return &values[k];
  }
  return nullptr;
}

// The blob a blob tag describes; throws Status 33 for a missing or unknown store word or a
// missing MIME text, and Status 16 or 17 for a length that is not a 64-bit number.
BlobImpl* blobFromTag(const String* names, const String* values, int n) {
  const String* store = findAttribute(names, values, n, "store");
  Blob::Location location;
  if (store != nullptr && *store == "db" && store->length() == 2) {
    location = Blob::LocationCatalog;
  } else if (store != nullptr && *store == "os" && store->length() == 2) {
    location = Blob::LocationFile;
  } else {
    throw StatusBlobFailed;
  }
  const String* length = findAttribute(names, values, n, "length");
  // Written as a signed 64-bit number; an unknown length (all ones) reads back as it was.
  const long long bytes =
      length == nullptr ? throw StatusNotNumber : static_cast<long long>(*length);
  // The writer always gives the MIME text; without it the tag's other attributes could
  // not all be written back.
  const String* mime = findAttribute(names, values, n, "mime");
  if (mime == nullptr) throw StatusBlobFailed;
  auto* blob = new BlobImpl;
  blob->stored = true;
  blob->location = location;
  blob->length = static_cast<unsigned long long>(bytes);
  blob->mime = *mime;
  return blob;
}

}  // namespace

Parser::~Parser() {}

int Parser::onStartElement(const String& tag) {
  if (m_inElement) throw StatusBadRecord;  // elements do not nest
  String name(tag);
  name.makeLower();
  // Everything is checked before the element is touched, so a fault leaves no trace.
  if (!writableName(name)) throw StatusBadRecord;
  for (int k = 0; k < m_nAttributes; ++k) {
    if (!writableName(m_attrName[k])) throw StatusBadRecord;
  }
  const String* typeText = findAttribute(m_attrName, m_attrValue, m_nAttributes, "type");
  const Type type = typeText == nullptr ? TypeText : typeFromName(*typeText);
  std::unique_ptr<BlobImpl, void (*)(BlobImpl*)> blob(nullptr, releaseBlob);
  if (type == TypeBlob) blob.reset(blobFromTag(m_attrName, m_attrValue, m_nAttributes));

  // A name seen twice cannot come from the writer, whose map holds each name once.
  if (m_asset->elements.count(name) != 0) throw StatusBadRecord;

  m_inElement = true;
  ElementImpl& e = *AssetAccess::impl(m_asset->elementLocked(name));
  for (int k = 0; k < m_nAttributes; ++k) {
    AssetAccess::impl(e.attributeLocked(m_attrName[k]))->text = m_attrValue[k];
  }
  const char* consumed[] = {"type", "mime", "store", "length"};
  const int nConsumed = type == TypeBlob ? 4 : 1;
  for (int k = 0; k < nConsumed; ++k) {
    auto it = e.attributes.find(String(consumed[k]));
    if (it != e.attributes.end()) e.eraseAttribute(it);
  }
  if (blob) {
    e.attachBlob(blob.get());
    blob.release();
  } else {
    e.dropBlob();
  }
  e.type = type;
  m_element = &e;
  return 0;
}

String Parser::onEntity(const String& name) {
  const char first = name.length() > 0 ? name.buffer()[0] : 0;
  const char second = name.length() > 1 ? name.buffer()[1] : 0;
  switch (first) {
    case 'a':
      return String(second == 'p' ? "'" : "&");
    case 'g':
      return String(">");
    case 'l':
      return String("<");
    case 'q':
      return String("\"");
    default:
      return name;  // unknown entities, numeric ones included, stay as their bare name
  }
}

int Parser::onCharacters(const char* text, size_t n) {
  if (m_element == nullptr || n == 0) return 0;
  const String chunk(text, static_cast<unsigned>(n));
  if (m_element->type == TypeBlob && m_element->blob != nullptr) {
    BlobImpl& blob = *AssetAccess::impl(*m_element->blob);
    std::lock_guard<RecordLock> hold(blob.lock);
    blob.url += chunk;  // a file blob's text is its path
  } else {
    m_element->text += chunk;
  }
  return 0;
}

int Parser::onText(const String&) {
  return 0;
}

int Parser::onEndElement(const String&) {
  if (!m_inElement) throw StatusBadRecord;
  m_inElement = false;
  m_element = nullptr;
  return 0;
}

void Parser::fill(AssetImpl& asset) {
  std::lock_guard<RecordLock> hold(*asset.lock);
  if (asset.parsed) return;
  asset.parsed = true;  // the callbacks create elements; they must not start another parse
  String record(std::move(asset.record));
  m_asset = &asset;
  struct Reset {
    Parser* self;
    ~Reset() {
      self->m_inElement = false;
      self->m_asset = nullptr;
      self->m_element = nullptr;
    }
  } reset{this};
  try {
    parse(record.buffer(), record.length());
  } catch (Status) {
    // A fault in the record: what was read before it stays.
  } catch (...) {
    // Not a fault of the record (memory ran out): leave the asset unparsed, as it was.
    asset.eraseAllLocked();
    asset.record = std::move(record);
    asset.parsed = false;
    throw;
  }
  asset.rowText = std::move(record);  // what the row held: an update writes on that condition
}

Parser& poolParser(int id) {
  // Never destroyed: assets in the host's static storage may still be parsed at exit.
  static Parser* pool = new Parser[kPoolSize];
  return pool[id & (kPoolSize - 1)];
}

void parseRecord(AssetImpl& asset) {
  int id;
  {
    std::lock_guard<RecordLock> hold(*asset.lock);
    if (asset.parsed) return;
    id = asset.id;
  }
  // The pooled parser is only ever tried, never waited for: its holder may be waiting for an
  // asset lock that this thread holds (a host may keep any asset locked through lock()). A
  // busy parser is replaced by a private one.
  if (poolParser(id).tryFill(asset)) return;
  Parser own;
  own.fill(asset);
}

bool Parser::tryFill(AssetImpl& asset) {
  if (!m_lock.try_lock()) return false;
  platform::MutexLock hold(m_lock, std::adopt_lock);
  fill(asset);
  return true;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

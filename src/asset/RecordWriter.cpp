// The record XML writer.
#include "asset/RecordWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AttributeImpl.h"
#include "asset/BlobImpl.h"
#include "asset/ElementImpl.h"
#include "asset/RecordNames.h"
#include "asset/TypeNames.h"
#include "asset/ValueText.h"
#include "types/XmlEscape.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr size_t kInitialRoom = 2001;    // typical record size; the text grows beyond it
constexpr size_t kKeptRoom = 64 * 1024;  // a larger buffer is not kept for the next record

// The growing text a record is written into: appends are a bounds check and a copy.
class RecordText {
 public:
  RecordText() = default;
  RecordText(const RecordText&) = delete;
  RecordText& operator=(const RecordText&) = delete;
  ~RecordText() { std::free(m_data); }

  void put(const char* p, size_t n) {
    if (n == 0) return;
    if (n > m_capacity - m_size) grow(n);
    std::memcpy(m_data + m_size, p, n);
    m_size += n;
  }
  void put(char c) { put(&c, 1); }
  void put(const String& s) { put(s.buffer(), s.length()); }
  template <size_t N>
  void putLiteral(const char (&text)[N]) {
    put(text, N - 1);
  }
  // Empties the text, keeping a block of reasonable size for the next one.
  void clear() {
    m_size = 0;
    if (m_capacity > kKeptRoom) {
      std::free(m_data);
      m_data = nullptr;
      m_capacity = 0;
    }
  }
  const char* data() const { return m_data; }
  size_t size() const { return m_size; }

 private:
  void grow(size_t n) {
    if (n > SIZE_MAX / 2 - m_size) throw std::bad_alloc();
    const size_t capacity = std::max(kInitialRoom, 2 * (m_size + n));
    char* data = static_cast<char*>(std::realloc(m_data, capacity));
    if (data == nullptr) throw std::bad_alloc();
    m_data = data;
    m_capacity = capacity;
  }

  char* m_data = nullptr;  // malloc'ed block
  size_t m_size = 0;       // bytes written
  size_t m_capacity = 0;   // bytes of the block
};

void appendEscaped(RecordText& out, const String& s) {
  escapeXml(s.buffer(), s.length(), [&out](const char* p, size_t n) { out.put(p, n); });
}

// ` name="escaped value"`
void appendAttribute(RecordText& out, const char* name, const String& value) {
  out.put(' ');
  out.put(name, std::strlen(name));
  out.putLiteral("=\"");
  appendEscaped(out, value);
  out.put('"');
}

void checkName(const String& name) {
  if (!isRecordName(name.buffer(), name.length())) throw StatusUnsupported;
}

// The blob part of a blob element's tag (mime, store and length attributes).
void appendBlob(RecordText& out, ElementImpl& e) {
  if (e.blob == nullptr) throw StatusBlobFailed;
  BlobImpl& blob = *AssetAccess::impl(*e.blob);
  std::lock_guard<RecordLock> hold(blob.lock);
  const char* store = nullptr;
  switch (blob.location) {
    case Blob::LocationNone:
      throw StatusBlobFailed;
    case Blob::LocationCatalog:
      store = "db";
      break;
    case Blob::LocationFile:
      store = "os";
      e.text = blob.url;  // the record keeps a file blob's path as the element's text
      break;
    default:
      throw StatusUnsupported;
  }
  appendAttribute(out, "mime", blob.mime);
  out.putLiteral(" store=\"");
  out.put(store, std::strlen(store));
  out.putLiteral("\" length=\"");
  // Signed, as the format has always written it: an unknown length reads back as all ones.
  out.put(decimalText(static_cast<long long>(blob.length)));
  out.put('"');
}

void writeElementTo(RecordText& out, ElementImpl& e) {
  if (!e.nameChecked) {
    checkName(e.name);
    e.nameChecked = true;  // the name never changes
  }
  int tagAttributes = static_cast<int>(e.attributes.size());
  switch (e.type) {
    case TypeUndef:
    case TypeText:
      break;
    case TypeInt4:
    case TypeInt8:
    case TypeTime:
      ++tagAttributes;
      break;
    case TypeBlob:
      tagAttributes += 4;
      break;
    case TypeAsset:
      throw StatusUnsupported;
    default:
      throw e.type;
  }
  // A reader keeps at most this many attributes per tag; more would read back differently.
  if (tagAttributes > kMaxTagAttributes) throw StatusUnsupported;
  for (const auto& entry : e.attributes) checkName(entry.first);

  out.put('<');
  out.put(e.name);
  if (e.type != TypeUndef && e.type != TypeText) {
    out.putLiteral(" type=\"");
    const char* type = typeName(e.type);
    out.put(type, std::strlen(type));
    out.put('"');
  }
  if (e.type == TypeBlob) appendBlob(out, e);
  for (const auto& entry : e.attributes) {
    appendAttribute(out, entry.first.buffer(), AssetAccess::impl(*entry.second)->text);
  }
  out.put('>');
  appendEscaped(out, e.text);
  out.putLiteral("</");
  out.put(e.name);
  out.put('>');
}

}  // namespace

void writeElement(std::string& out, ElementImpl& e) {
  RecordText text;
  writeElementTo(text, e);
  out.append(text.data(), text.size());
}

String writeRecord(const std::map<String, Element*>& elements) {
  // One buffer per thread, kept between records (the result is a copy).
  static thread_local RecordText out;
  out.clear();
  for (const auto& entry : elements) writeElementTo(out, *AssetAccess::impl(*entry.second));
  if (out.size() > 0xFFFFFFFDu) throw StatusOutOfBounds;
  return String(out.data(), static_cast<unsigned>(out.size()));
}

String writeRecord(AssetImpl& asset) {
  asset.ensureParsed();  // an unread record must not be written back empty
  std::lock_guard<RecordLock> hold(*asset.lock);
  return writeRecord(asset.elements);
}

}  // namespace Vendrithane
}  // namespace KESTRIN

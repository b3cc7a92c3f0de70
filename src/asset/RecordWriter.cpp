// The record XML writer.
#include "asset/RecordWriter.h"

#include <mutex>

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

template <size_t N>
void appendLiteral(std::string& out, const char (&text)[N]) {
  out.append(text, N - 1);
}

void appendRaw(std::string& out, const String& s) {
  out.append(s.buffer(), s.length());
}

void appendEscaped(std::string& out, const String& s) {
  escapeXml(s.buffer(), s.length(), [&out](const char* p, size_t n) { out.append(p, n); });
}

// ` name="escaped value"`
void appendAttribute(std::string& out, const char* name, const String& value) {
  out += ' ';
  out += name;
  appendLiteral(out, "=\"");
  appendEscaped(out, value);
  out += '"';
}

void checkName(const String& name) {
  if (!isRecordName(name.buffer(), name.length())) throw StatusUnsupported;
}

// The blob part of a blob element's tag (mime, store and length attributes).
void appendBlob(std::string& out, ElementImpl& e) {
  if (e.blob == nullptr) throw StatusBlobFailed;
  BlobImpl& blob = *e.blob->impl();
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
  appendLiteral(out, " store=\"");
  out += store;
  appendLiteral(out, "\" length=\"");
  // Signed, as the format has always written it: an unknown length reads back as all ones.
  appendRaw(out, decimalText(static_cast<long long>(blob.length)));
  out += '"';
}

}  // namespace

void writeElement(std::string& out, ElementImpl& e) {
  checkName(e.name);
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

  out += '<';
  appendRaw(out, e.name);
  if (e.type != TypeUndef && e.type != TypeText) {
    appendLiteral(out, " type=\"");
    out += typeName(e.type);
    out += '"';
  }
  if (e.type == TypeBlob) appendBlob(out, e);
  for (const auto& entry : e.attributes) {
    appendAttribute(out, entry.first.buffer(), entry.second->impl()->text);
  }
  out += '>';
  appendEscaped(out, e.text);
  appendLiteral(out, "</");
  appendRaw(out, e.name);
  out += '>';
}

String writeRecord(const std::map<String, Element*>& elements) {
  // One buffer per thread, kept between records (it is copied into the result).
  static thread_local std::string out;
  out.clear();
  if (out.capacity() > kKeptRoom) out.shrink_to_fit();
  out.reserve(kInitialRoom);
  for (const auto& entry : elements) writeElement(out, *entry.second->impl());
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

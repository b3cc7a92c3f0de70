// Fuzz target for element_extract and element_drop, both through the scanning routines and
// through a real connection with the catalog's functions registered. The first byte picks
// the kind of input:
//  - even: a length-prefixed element name and any record text after it. The scan must stay
//    inside the text, find a span that really is "<name ...>value</name>", and the SQL
//    functions must agree with it: drop cuts out exactly that span, extract of a text element
//    is its value with the entities decoded.
//  - odd: a list of elements built into an asset and written by the record writer. For each
//    element, extract gives back the value that was set, and drop gives the record of the
//    other elements.
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/ElementImpl.h"
#include "asset/RecordNames.h"
#include "asset/RecordWriter.h"
#include "functions/ElementScan.h"
#include "functions/SqlFunctions.h"
#include "vendrithane/Asset.h"

using namespace KESTRIN::Vendrithane;

namespace {

// What the two SQL functions gave for one (name, xml) pair.
struct SqlResult {
  int extractType = SQLITE_NULL;  // sqlite3_column_type of element_extract
  long long number = 0;           // its value when an integer
  std::string text;               // its value when text
  std::string dropped;            // element_drop
};

// One in-memory connection with the catalog functions, kept for the whole run.
sqlite3_stmt* statement() {
  static sqlite3_stmt* stmt = [] {
    sqlite3* db = nullptr;
    VDFUZZ_CHECK(sqlite3_open(":memory:", &db) == SQLITE_OK);
    VDFUZZ_CHECK(functions::registerCatalogFunctions(db, nullptr, nullptr) == 0);
    sqlite3_stmt* s = nullptr;
    const char sql[] = "SELECT element_extract(?1, ?2), element_drop(?1, ?2);";
    VDFUZZ_CHECK(sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK);
    return s;
  }();
  return stmt;
}

std::string columnText(sqlite3_stmt* stmt, int column) {
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, column)))
              : std::string();
}

SqlResult runSql(std::string_view name, std::string_view xml) {
  sqlite3_stmt* stmt = statement();
  sqlite3_reset(stmt);
  sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, xml.data(), static_cast<int>(xml.size()), SQLITE_TRANSIENT);
  VDFUZZ_CHECK(sqlite3_step(stmt) == SQLITE_ROW);
  SqlResult out;
  out.extractType = sqlite3_column_type(stmt, 0);
  if (out.extractType == SQLITE_INTEGER) out.number = sqlite3_column_int64(stmt, 0);
  if (out.extractType == SQLITE_TEXT) out.text = columnText(stmt, 0);
  out.dropped = columnText(stmt, 1);
  VDFUZZ_CHECK(sqlite3_step(stmt) == SQLITE_DONE);
  sqlite3_clear_bindings(stmt);
  return out;
}

// Any name and text: the span found is well-formed and the SQL functions follow it.
void fuzzRawRecord(vdfuzz::FuzzInput& in) {
  const std::string_view name = in.text();
  const std::string_view xml = in.rest();
  functions::ElementSpan span{};
  const bool found = functions::findElement(xml, name, &span);
  const SqlResult sql = runSql(name, xml);
  if (!found) {
    VDFUZZ_CHECK(sql.extractType == SQLITE_NULL);
    VDFUZZ_CHECK(sql.dropped == xml);
    return;
  }
  VDFUZZ_CHECK(!name.empty());
  VDFUZZ_CHECK(span.open < span.nameEnd && span.nameEnd < span.valueBegin);
  VDFUZZ_CHECK(span.valueBegin <= span.valueEnd && span.valueEnd < span.end &&
               span.end <= xml.size());
  VDFUZZ_CHECK(xml.substr(span.open, 1 + name.size()) == "<" + std::string(name));
  VDFUZZ_CHECK(xml[span.valueBegin - 1] == '>');
  VDFUZZ_CHECK(xml.substr(span.valueEnd, span.end - span.valueEnd) ==
               "</" + std::string(name) + ">");

  std::string expectedDrop(xml.substr(0, span.open));
  expectedDrop.append(xml.substr(span.end));
  VDFUZZ_CHECK(sql.dropped == expectedDrop);

  const std::string_view raw = xml.substr(span.valueBegin, span.valueEnd - span.valueBegin);
  switch (functions::elementType(xml, span)) {
    case functions::ScanType::Text:
      VDFUZZ_CHECK(sql.extractType == SQLITE_TEXT);
      VDFUZZ_CHECK(sql.text == functions::decodeEntities(raw));
      VDFUZZ_CHECK(sql.text.size() <= raw.size());
      if (raw.find('&') == std::string_view::npos) VDFUZZ_CHECK(sql.text == raw);
      break;
    case functions::ScanType::Int4:
    case functions::ScanType::Int8:
    case functions::ScanType::Time:
      VDFUZZ_CHECK(sql.extractType == SQLITE_INTEGER);
      break;
    case functions::ScanType::Other:
      VDFUZZ_CHECK(sql.extractType == SQLITE_NULL);
      break;
  }
}

// The value an element was given, as extract must hand it back.
struct Expected {
  std::string name;  // the element's key (lower-cased)
  Type type;
  long long number;  // int4, int8 and time
  std::string text;  // text and undef
};

std::optional<Expected> addElement(Asset& asset, vdfuzz::FuzzInput& in) {
  const uint8_t kind = in.byte();
  const std::string_view rawName = in.take(in.byte() % 24);
  if (!isRecordName(rawName.data(), rawName.size())) return std::nullopt;
  const std::string name(rawName);
  if (kind % 6 == 0 && asset.elementExists(name.c_str())) return std::nullopt;  // keeps its value
  Element& e = asset.element(name.c_str());
  Expected out{std::string(e.name().buffer(), e.name().length()), TypeUndef, 0, ""};
  switch (kind % 6) {
    case 0:  // never assigned
      break;
    case 1:
      out.number = static_cast<int32_t>(in.number(4));
      e = static_cast<int>(out.number);
      break;
    case 2:
    case 4: {
      uint64_t bits = in.number(4);
      bits |= uint64_t(in.number(4)) << 32;
      out.number = static_cast<long long>(bits);
      if (kind % 6 == 2) {
        e = out.number;
      } else {
        e = Time(out.number);
      }
      break;
    }
    default: {  // text, with up to two attributes
      const std::string_view value = in.text();
      out.text.assign(value);
      e = String(value.data(), static_cast<unsigned>(value.size()));
      for (int k = kind % 6 == 5 ? in.byte() % 3 : 0; k > 0; --k) {
        const std::string attr(in.take(in.byte() % 12));
        const std::string_view attrValue = in.text();
        if (!isRecordName(attr.data(), attr.size()) || attr == "type") continue;
        e.attribute(attr.c_str()) =
            String(attrValue.data(), static_cast<unsigned>(attrValue.size()));
      }
      break;
    }
  }
  out.type = e.type();
  return out;
}

// Records written by the library: every element comes back out of the text.
void fuzzWrittenRecord(vdfuzz::FuzzInput& in) {
  Asset asset;
  std::map<std::string, Expected> set;  // by key: what each element was last given
  for (int n = in.byte() % 9; n > 0; --n) {
    if (std::optional<Expected> added = addElement(asset, in)) set[added->name] = *added;
  }
  // The tag of each element in map order, and their concatenation.
  std::vector<Expected> elements;
  std::vector<std::string> tags;
  std::string record;
  try {
    for (const auto& entry : *asset.elems()) {
      ElementImpl& e = *AssetAccess::impl(*entry.second);
      std::string tag;
      writeElement(tag, e);
      auto x = set.find(std::string(entry.first.buffer(), entry.first.length()));
      VDFUZZ_CHECK(x != set.end());
      elements.push_back(x->second);
      tags.push_back(tag);
      record += tag;
    }
  } catch (Status) {
    return;  // a name or attribute count the record cannot carry: refused, not written
  }
  VDFUZZ_CHECK(elements.size() == set.size());
  const String written = writeRecord(*AssetAccess::impl(asset));
  VDFUZZ_CHECK(std::string_view(written.buffer(), written.length()) == record);

  for (size_t i = 0; i < elements.size(); ++i) {
    const Expected& x = elements[i];
    const SqlResult sql = runSql(x.name, record);
    std::string others;
    for (size_t j = 0; j < tags.size(); ++j) {
      if (j != i) others += tags[j];
    }
    VDFUZZ_CHECK(sql.dropped == others);
    switch (x.type) {
      case TypeUndef:
      case TypeText:
        VDFUZZ_CHECK(sql.extractType == SQLITE_TEXT && sql.text == x.text);
        break;
      case TypeInt4:
      case TypeInt8:
      case TypeTime:
        VDFUZZ_CHECK(sql.extractType == SQLITE_INTEGER && sql.number == x.number);
        break;
      default:
        VDFUZZ_CHECK(sql.extractType == SQLITE_NULL);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  vdfuzz::FuzzInput in(data, size);
  if (in.byte() % 2 == 0) {
    fuzzRawRecord(in);
  } else {
    fuzzWrittenRecord(in);
  }
  return 0;
}

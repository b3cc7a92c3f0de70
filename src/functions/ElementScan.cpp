// Element scanning over record XML: exact-name tag search, the type attribute and entity
// decoding. Positions are checked against the text's length before every access.
#include "functions/ElementScan.h"

#include <algorithm>

namespace KESTRIN {
namespace Vendrithane {
namespace functions {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr int kMaxTagAttributes = 10;  // attributes the record reader keeps per tag

// Whether `close` stands at `pos` of xml as "</" + name + ">".
bool closeTagAt(std::string_view xml, std::string_view name, size_t pos) {
  if (pos + name.size() + 3 > xml.size()) return false;
  return xml[pos] == '<' && xml[pos + 1] == '/' && xml.compare(pos + 2, name.size(), name) == 0 &&
         xml[pos + 2 + name.size()] == '>';
}

// Position of the first close tag "</name>" at or after `from`, npos when there is none.
size_t findCloseTag(std::string_view xml, std::string_view name, size_t from) {
  for (size_t pos = xml.find("</", from); pos != npos; pos = xml.find("</", pos + 1)) {
    if (closeTagAt(xml, name, pos)) return pos;
  }
  return npos;
}

}  // namespace

size_t findOpenTag(std::string_view xml, std::string_view name, size_t from) {
  if (name.empty()) return npos;
  for (size_t pos = xml.find('<', from); pos != npos; pos = xml.find('<', pos + 1)) {
    const size_t after = pos + 1 + name.size();
    if (after >= xml.size()) return npos;
    if (xml.compare(pos + 1, name.size(), name) != 0) continue;
    const char next = xml[after];
    if (next == ' ' || next == '>' || next == '/') return pos;
  }
  return npos;
}

bool findElement(std::string_view xml, std::string_view name, ElementSpan* span) {
  const size_t open = findOpenTag(xml, name);
  if (open == npos) return false;
  const size_t nameEnd = open + 1 + name.size();
  const size_t gt = xml.find('>', nameEnd);
  if (gt == npos) return false;
  const size_t close = findCloseTag(xml, name, gt + 1);
  if (close == npos) return false;
  span->open = open;
  span->nameEnd = nameEnd;
  span->valueBegin = gt + 1;
  span->valueEnd = close;
  span->end = close + name.size() + 3;
  return true;
}

ScanType elementType(std::string_view xml, const ElementSpan& span) {
  // The open tag's attributes, read as the record reader reads them: spaces, a name up to
  // "=", a value in double quotes; at most kMaxTagAttributes of them, the last "type" one
  // counting. So an attribute value that merely ends in " type=" gives no type.
  const std::string_view tag = xml.substr(span.nameEnd, span.valueBegin - 1 - span.nameEnd);
  std::string_view type;
  bool typed = false;
  size_t pos = 0;
  for (int n = 0; n < kMaxTagAttributes; ++n) {
    while (pos < tag.size() && tag[pos] == ' ') ++pos;
    const size_t equals = tag.find('=', pos);
    if (equals == npos || equals + 1 >= tag.size() || tag[equals + 1] != '"') break;
    const size_t open = equals + 2;
    const size_t close = std::min(tag.find('"', open), tag.size());  // cut off: to the tag end
    if (tag.substr(pos, equals - pos) == "type") {
      type = tag.substr(open, close - open);
      typed = true;
    }
    pos = close + 1;
  }
  if (!typed) return ScanType::Text;
  auto charAt = [&type](size_t i) { return i < type.size() ? type[i] : '\0'; };
  switch (charAt(0)) {
    case 'i':
      return charAt(3) == '4' ? ScanType::Int4 : ScanType::Int8;
    case 't':
      return charAt(1) == 'i' ? ScanType::Time : ScanType::Text;
    case 'u':
      return ScanType::Text;
    default:
      return ScanType::Other;
  }
}

std::string decodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c != '&') {
      out += c;
      ++pos;
      continue;
    }
    const char first = pos + 1 < text.size() ? text[pos + 1] : '\0';
    const char second = pos + 2 < text.size() ? text[pos + 2] : '\0';
    size_t length = 1;  // a lone "&" is dropped
    switch (first) {
      case 'a':
        out += second == 'p' ? '\'' : '&';
        length = second == 'p' ? 6 : 5;
        break;
      case 'q':
        out += '"';
        length = 6;
        break;
      case 'l':
        out += '<';
        length = 4;
        break;
      case 'g':
        out += '>';
        length = 4;
        break;
      default:
        break;
    }
    pos = length < text.size() - pos ? pos + length : text.size();
  }
  return out;
}

}  // namespace functions
}  // namespace Vendrithane
}  // namespace KESTRIN

// Scanning one element out of a record's XML text without parsing the whole record: locating
// an element by its exact name, reading its declared value type, and decoding the five
// entities of the record writer. Every function stays inside the text it is given.
#ifndef VENDRITHANE_FUNCTIONS_ELEMENTSCAN_H
#define VENDRITHANE_FUNCTIONS_ELEMENTSCAN_H

#include <cstddef>
#include <string>
#include <string_view>

namespace KESTRIN {
namespace Vendrithane {
namespace functions {

// Where one element lies in a record text; all positions are byte offsets into it.
struct ElementSpan {
  size_t open;        // the "<" of the open tag
  size_t nameEnd;     // just after the name in the open tag
  size_t valueBegin;  // just after the open tag's ">"
  size_t valueEnd;    // the "<" of the close tag "</name>"
  size_t end;         // just after the close tag
};

// How element_extract hands out a value, from the element's type attribute.
enum class ScanType {
  Text,   // no type attribute, text or undef
  Int4,   // a 32-bit integer
  Int8,   // a 64-bit integer
  Time,   // seconds since 1970, 64-bit
  Other,  // blob, asset or anything else: no value
};

// Position of the first open tag of the element named exactly `name` at or after `from`
// ("<name" followed by ' ', '>' or '/'); npos when there is none or the name is empty.
size_t findOpenTag(std::string_view xml, std::string_view name, size_t from = 0);

// The first element named exactly `name` that has a complete open tag and a close tag
// "</name>" after it. False when there is none.
bool findElement(std::string_view xml, std::string_view name, ElementSpan* span);

// The value type declared by the element's type attribute, its open tag's attributes read as
// the record reader reads them (at most ten, the last "type" one counting).
ScanType elementType(std::string_view xml, const ElementSpan& span);

// `text` with "&apos;", "&amp;", "&quot;", "&lt;" and "&gt;" decoded. Entities are told apart
// by the letters after "&" alone; an "&" followed by anything else is dropped. An entity cut
// off by the end of the text decodes to its character and ends the text.
std::string decodeEntities(std::string_view text);

}  // namespace functions
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_FUNCTIONS_ELEMENTSCAN_H

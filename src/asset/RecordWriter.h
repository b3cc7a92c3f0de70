// The record XML writer: the text stored for an asset (or category) in its vd_xml column.
// One tag per element, in map order, no separators, no root:
//   <name type="int4" attr="value">escaped value</name>
// Text and undef elements carry no type attribute; blob elements carry mime, store ("db" or
// "os") and length after it. Attribute values, the MIME text and the value are escaped.
#ifndef VENDRITHANE_ASSET_RECORDWRITER_H
#define VENDRITHANE_ASSET_RECORDWRITER_H

#include <map>
#include <string>

#include "vendrithane/Element.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
class ElementImpl;

// The most attributes one tag may carry, the type, mime, store and length ones included.
constexpr int kMaxTagAttributes = 10;

// Appends the tag of element e to out; the caller holds the lock that guards e. Throws
// Status 24 for a name the record cannot carry, for more than kMaxTagAttributes attributes,
// for an asset-typed element and for a blob location other than 1 and 3; Status 33 for a
// blob element without a blob or without a location; the Type value for a type above 6.
// For a file blob ("os") the element's text is first set to the blob's URL.
void writeElement(std::string& out, ElementImpl& e);

// The record text of an element map; the caller holds the lock that guards it.
String writeRecord(const std::map<String, Element*>& elements);

// The record text of an asset, parsed first if it has not been, written under its lock.
String writeRecord(AssetImpl& asset);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_RECORDWRITER_H

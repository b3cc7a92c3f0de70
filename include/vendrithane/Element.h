// Element: one named, typed value of an asset, with optional attributes. Values are held as
// text; conversions read that text whatever the type. A handle: copies share one element,
// assignment between handles re-points the target, the last handle destroys the element. A
// copy taken from an asset stays usable after the asset is gone. Operations lock the owning
// asset, or the process-wide default lock for an element that has none.
#ifndef VENDRITHANE_ELEMENT_H
#define VENDRITHANE_ELEMENT_H

#include "vendrithane/Attribute.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Export.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"
#include "vendrithane/Type.h"

namespace KESTRIN {
namespace Vendrithane {

class ElementImpl;
class Expression;
struct AssetAccess;

class VENDRITHANE_API Element {
 public:
  Element();  // a free element: no name, type undef, empty text
  Element(const Element& other);
  Element& operator=(const Element& other);
  ~Element();

  Type type() const;
  String name() const;
  operator int() const;          // 0 for the empty text; else 16 not a number, 17 outside 32 bits
  operator long long() const;    // 16 when not a number (the empty text included)
  operator String() const;       // the value text (for a blob element not the blob's bytes)
  operator const Blob&() const;  // the element's blob; 16 unless the type is TypeBlob

  // Value assignment: drops any blob held, stores the value as text, sets the type
  // (int4 "%d", int8 "%lld", text, time as its seconds) and marks the value as set by the host.
  Element& operator=(int v);
  Element& operator=(long long v);
  Element& operator=(const char* v);
  Element& operator=(const String& v);
  Element& operator=(const Time& v);
  // Attaches b with an empty text. A blob belongs to one element: when b already belongs to
  // another element a clone is attached; when it belongs to this one nothing changes.
  Element& operator=(const Blob& b);

  // The attribute of exactly this name (case-sensitive), created with an empty text when
  // absent. The reference stays valid until the attribute is erased.
  Attribute& attribute(const char* name);
  bool attributeExists(const char* name);
  int nAttributes();
  void erase(const char* name);  // that attribute, if present
  void erase();                  // every attribute; the value stays

  // Promotes the element to a column of its asset's table (vd_assets for a collection asset,
  // the type's own table otherwise), filled from the stored records, with an SQL index when
  // `flags` ask for one (1 unique, 2 ascending, 4 descending). 0; 18 already promoted with
  // these flags; 20 no open catalog; 24 a blob or asset element; 14 flags with both orders or
  // unknown bits, a name that cannot be a column, or an index that cannot be made; 48; 81.
  int index(unsigned flags);
  // Takes the element's column out of the table again. 0; 18 not promoted; 20; 14; 48 or 81
  // when the declaration cannot be removed. Throws Status 48 when the SQL index cannot be
  // dropped or the table cannot be rebuilt (nothing is changed then).
  int unindex();

  // Conditions and values over this element for a Filter (Expression.h). LIKE and GLOB
  // match the value text against a pattern of SQL's LIKE ('%', '_', case-blind for ASCII)
  // or GLOB ('*', '?', '[...]'); lower and upper give the value's cases; year, month, day
  // and dayOfWeek (1 Sunday to 7) are the local calendar fields of a time value, -1 for a
  // record without the element. inDateRange holds for local dates from `from` to `to`, both
  // included; without the year, the range recurs every year (1 December to 31 January
  // spans the turn of the year). A record without the element is in no range.
  Expression like(String pattern);
  Expression glob(String pattern);
  Expression lower();
  Expression upper();
  Expression year();
  Expression month();
  Expression day();
  Expression dayOfWeek();
  Expression inDateRange(Time const& from, Time const& to, bool withYear);

 private:
  friend struct AssetAccess;  // the library's own access to the implementation
  struct Unset {};
  explicit Element(Unset) : m_impl(nullptr) {}  // AssetAccess::make sets m_impl at once

  ElementImpl* m_impl;  // never null once made
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ELEMENT_H

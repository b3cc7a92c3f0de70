// Attribute: a named text value carried by an element. A handle: copies share one
// attribute, assignment between handles re-points the target (it never copies the value),
// and the last handle destroys the attribute. Operations lock the asset that owns the
// attribute's element, or the process-wide default lock when there is none.
#ifndef VENDRITHANE_ATTRIBUTE_H
#define VENDRITHANE_ATTRIBUTE_H

#include "vendrithane/Export.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"
#include "vendrithane/Type.h"

namespace KESTRIN {
namespace Vendrithane {

class AttributeImpl;
struct AssetAccess;

class VENDRITHANE_API Attribute {
 public:
  Attribute();  // a free attribute with an empty name and text
  Attribute(const Attribute& other);
  Attribute& operator=(const Attribute& other);
  ~Attribute();

  String name() const;
  // Inferred from the text: TypeInt4 for an integer that fits 32 bits, TypeInt8 for a
  // longer integer, TypeText otherwise (the empty text included).
  Type type();
  operator int() const;        // 16 when not a number, 17 outside 32 bits
  operator long long() const;  // 16 when not a number
  operator String() const;     // the text

  // Values are stored as text: "%d", "%lld", the bytes, or the seconds of a Time.
  Attribute& operator=(int v);
  Attribute& operator=(long long v);
  Attribute& operator=(const char* v);
  Attribute& operator=(const String& v);
  Attribute& operator=(const Time& v);

 private:
  friend struct AssetAccess;  // the library's own access to the implementation
  struct Unset {};
  explicit Attribute(Unset) : m_impl(nullptr) {}  // AssetAccess::make sets m_impl at once

  AttributeImpl* m_impl;  // never null once made
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ATTRIBUTE_H

// The value types read from elements and attributes: a String or a Time made from (or
// assigned) an element's or attribute's value; a blob element's bytes become the text.
// They are declared with the value types and defined here, beside the record model.
#include "vendrithane/Attribute.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Element.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {

String::String(Element& e) : String() {
  if (e.type() != TypeBlob) {
    *this = e.operator String();
    return;
  }
  Blob blob(e);
  const unsigned char* bytes = blob.buffer(0);
  const unsigned long long n = blob.length();
  if (bytes == nullptr || n == 0 || n == ~0ULL) return;
  assign(reinterpret_cast<const char*>(bytes), n);
}

String::String(Attribute& a) : String(a.operator String()) {}

String& String::operator=(const Element& e) {
  return *this = e.operator String();
}

String& String::operator=(const Attribute& a) {
  return *this = a.operator String();
}

Time::Time(Element& e) : m_time(static_cast<long long>(e)) {}

Time& Time::operator=(const Element& e) {
  m_time = static_cast<long long>(e);
  return *this;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

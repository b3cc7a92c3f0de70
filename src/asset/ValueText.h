// The text forms under which element and attribute values are held.
#ifndef VENDRITHANE_ASSET_VALUETEXT_H
#define VENDRITHANE_ASSET_VALUETEXT_H

#include <charconv>

#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

// Signed decimal ("%lld"); int and Time values take the same form.
inline String decimalText(long long v) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, v);
  return String(digits, static_cast<unsigned>(end.ptr - digits));
}

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_VALUETEXT_H

// The text forms under which element and attribute values are held.
#ifndef VENDRITHANE_ASSET_VALUETEXT_H
#define VENDRITHANE_ASSET_VALUETEXT_H

#include <cstdio>

#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

// Signed decimal ("%lld"); int and Time values take the same form.
inline String decimalText(long long v) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%lld", v);
  return String(digits, static_cast<unsigned>(n));
}

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_VALUETEXT_H

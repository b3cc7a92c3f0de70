// The text forms under which element and attribute values are held.
#ifndef VENDRITHANE_ASSET_VALUETEXT_H
#define VENDRITHANE_ASSET_VALUETEXT_H

#include <charconv>

#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

// Signed decimal ("%lld") written into `buffer`, zero-terminated; returns the buffer. Int
// and Time values take the same form.
inline const char* decimalDigits(long long v, char (&buffer)[24]) {
  *std::to_chars(buffer, buffer + sizeof buffer - 1, v).ptr = 0;
  return buffer;
}

inline String decimalText(long long v) {
  char digits[24];
  return String(decimalDigits(v, digits));
}

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_VALUETEXT_H

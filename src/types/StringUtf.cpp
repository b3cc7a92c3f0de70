// The UTF-8 encoding and decoding of single UTF-16 units used by the String type.
#include "types/StringUtf.h"

#include <cstdint>

namespace KESTRIN {
namespace Vendrithane {
namespace utf {

unsigned encodeUnit(char16_t u, char* out) {
  if (u < 0x80) {
    out[0] = static_cast<char>(u);
    return 1;
  }
  if (u < 0x800) {
    out[0] = static_cast<char>(0xC0 + (u >> 6));
    out[1] = static_cast<char>(0x80 + (u & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 + (u >> 12));
  out[1] = static_cast<char>(0x80 + ((u >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 + (u & 0x3F));
  return 3;
}

unsigned decodeAt(const char* p, size_t n, size_t i, char16_t* unit) {
  if (i >= n) return 0;
  const unsigned b = static_cast<unsigned char>(p[i]);
  if ((b & 0xC0) != 0xC0) {
    // ASCII or a stray continuation byte: the byte sign-extended to 16 bits.
    *unit = static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(p[i])));
    return 1;
  }
  if ((b & 0xE0) == 0xE0) {
    if (n - i < 3) return 0;
    const unsigned b1 = static_cast<unsigned char>(p[i + 1]);
    const unsigned b2 = static_cast<unsigned char>(p[i + 2]);
    *unit = static_cast<char16_t>(((b & 0x0F) << 12) + ((b1 & 0x3F) << 6) + (b2 & 0x3F));
    return 3;
  }
  if (n - i < 2) return 0;
  const unsigned b1 = static_cast<unsigned char>(p[i + 1]);
  *unit = static_cast<char16_t>(((b & 0x1F) << 6) + (b1 & 0x3F));
  return 2;
}

}  // namespace utf
}  // namespace Vendrithane
}  // namespace KESTRIN

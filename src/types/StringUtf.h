// The UTF-8 rules of the String type: the encoding of one UTF-16 unit (no surrogate
// pairing, so every unit becomes 1, 2 or 3 bytes) and the one-unit decoding shared by
// String::getAt and String::altEncode.
#ifndef VENDRITHANE_TYPES_STRINGUTF_H
#define VENDRITHANE_TYPES_STRINGUTF_H

#include <cstddef>

namespace KESTRIN {
namespace Vendrithane {
namespace utf {

constexpr unsigned kMaxUnitBytes = 3;  // longest UTF-8 form of one UTF-16 unit

// True for a UTF-8 continuation byte (top bits 10).
inline bool isContinuation(char b) {
  return (static_cast<unsigned char>(b) & 0xC0) == 0x80;
}

// Writes the UTF-8 form of unit u to out (room for kMaxUnitBytes); returns its byte count.
unsigned encodeUnit(char16_t u, char* out);

// Decodes the character that starts at byte i of the n bytes at p into one unit. An ASCII
// or continuation byte comes back sign-extended; lead bytes of three or more bytes are read
// as three-byte sequences. Returns the bytes the character spans, or 0 when it runs past n.
unsigned decodeAt(const char* p, size_t n, size_t i, char16_t* unit);

}  // namespace utf
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_TYPES_STRINGUTF_H

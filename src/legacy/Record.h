// The record of an old table entry: a header of value offsets (1, 2 or 3 bytes each,
// little-endian, the width set by the record's size) followed by the values, each a text
// with a terminating zero byte, or nothing for NULL.
#ifndef VENDRITHANE_LEGACY_RECORD_H
#define VENDRITHANE_LEGACY_RECORD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

struct LegacyValue {
  bool null = true;       // a NULL value
  std::string_view text;  // the text bytes (without the terminating zero) when not NULL
};

// Splits the `size` bytes at `data` into exactly `columns` values (views into `data`).
// False, with a reason in `error`, when the record holds another number of values or its
// offsets are out of order or out of range, or a value lacks its terminating zero.
bool decodeRecord(const uint8_t* data, uint32_t size, size_t columns, std::vector<LegacyValue>& out,
                  std::string& error);

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LEGACY_RECORD_H

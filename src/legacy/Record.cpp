#include "legacy/Record.h"

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

bool decodeRecord(const uint8_t* data, uint32_t size, size_t columns, std::vector<LegacyValue>& out,
                  std::string& error) {
  const uint32_t width = size < 256 ? 1 : size < 65536 ? 2 : 3;
  const uint64_t header = uint64_t(width) * (columns + 1);
  if (header > size) {
    error = "record shorter than its offsets";
    return false;
  }
  auto offset = [data, width](size_t i) {
    const uint8_t* p = data + i * width;
    uint32_t v = p[0];
    if (width > 1) v |= uint32_t(p[1]) << 8;
    if (width > 2) v |= uint32_t(p[2]) << 16;
    return v;
  };
  if (offset(0) != header) {
    error = "record value count differs from the table's columns";
    return false;
  }
  if (offset(columns) != size) {
    error = "record offsets do not end at the record's size";
    return false;
  }
  out.resize(columns);
  uint32_t begin = offset(0);
  for (size_t i = 0; i < columns; ++i) {
    const uint32_t end = offset(i + 1);
    if (end < begin || end > size) {
      error = "record offsets decrease";
      return false;
    }
    LegacyValue& v = out[i];
    v.null = end == begin;
    v.text = std::string_view();
    if (!v.null) {
      if (data[end - 1] != 0) {
        error = "record value without its terminating zero";
        return false;
      }
      const char* text = reinterpret_cast<const char*>(data + begin);
      size_t n = 0;
      while (text[n] != 0) ++n;  // a zero byte inside ends the value
      v.text = std::string_view(text, n);
    }
    begin = end;
  }
  return true;
}

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

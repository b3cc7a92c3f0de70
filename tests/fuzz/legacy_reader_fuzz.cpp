// Fuzz target for the reader of old catalog files: the input is the whole file. Opening and
// reading every table must end in a status (0, or 25 with a reason), never a crash, a hang
// or an unbounded allocation; every row has one value per column, and a table yields at most
// as many rows as its file's pages can hold cells.
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "FuzzScratch.h"
#include "legacy/LegacyFile.h"

using namespace KESTRIN::Vendrithane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (4u << 20)) return 0;
  static const std::string path = vdfuzz::scratch("legacy").directory + "old.vd";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    VDFUZZ_CHECK(out.good());
  }
  legacy::LegacyFile file;
  const Status opened = file.open(path);
  VDFUZZ_CHECK(opened == StatusOk || opened == StatusCorrupt);
  VDFUZZ_CHECK((opened == StatusOk) == file.error().empty());
  if (opened != StatusOk) return 0;
  const uint64_t maxRows = uint64_t(size / 1024) * 63;
  for (const legacy::LegacyTable& table : file.tables()) {
    VDFUZZ_CHECK(!table.columns.empty());
    legacy::LegacyRows rows(file, table);
    uint64_t count = 0;
    bool has = true;
    while (has) {
      const Status s = rows.next(has);
      VDFUZZ_CHECK(s == StatusOk || s == StatusCorrupt);
      if (s != StatusOk) {
        VDFUZZ_CHECK(!has && !rows.error().empty());
        break;
      }
      if (!has) break;
      VDFUZZ_CHECK(rows.size() == table.columns.size());
      size_t bytes = 0;
      for (size_t c = 0; c < rows.size(); ++c) bytes += rows.value(c).text.size();
      VDFUZZ_CHECK(bytes <= (size_t(16) << 20));
      VDFUZZ_CHECK(++count <= maxRows);
    }
  }
  return 0;
}

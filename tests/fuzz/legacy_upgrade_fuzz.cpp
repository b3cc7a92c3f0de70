// Fuzz target for the conversion of old catalogs: the input is an old main file (its blob
// table inside it, or none), converted into a new catalog in a scratch directory. The
// conversion must end in one of its statuses, never a crash, a hang or an unbounded
// allocation; a failed one leaves the new catalog as it was made, a successful one a
// catalog whose files pass the engine's integrity check.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "FuzzInput.h"
#include "FuzzScratch.h"
#include "asset/LegacyConversion.h"
#include "node/CatalogVfs.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"

using namespace KESTRIN::Vendrithane;

namespace {

// The first value of `sql` on `path` (through the catalog VFS), "" on failure.
std::string firstValue(const std::string& path, const char* sql) {
  node::NodeConnection connection(path, std::string(), nullptr, true);
  String value;
  return node::queryValue(connection, sql, &value) == StatusOk ? std::string(value) : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (4u << 20)) return 0;
  static const std::string dir = vdfuzz::scratch("upgrade").directory;
  const std::string old = dir + "old.vd", main = dir + "new.vd", blob = dir + "new.vm";
  {
    std::ofstream out(old, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    VDFUZZ_CHECK(out.good());
  }
  for (const std::string& file : {main, blob, main + "-journal", blob + "-journal"})
    std::remove(file.c_str());
  try {
    node::NodeConnection made(main, blob, nullptr, false);  // a new, empty catalog
  } catch (Status) {
    VDFUZZ_CHECK(false);
  }
  const std::string objects = firstValue(main, "SELECT count(*) FROM sqlite_master;");
  std::string dropped;
  const Status status = assets::convertLegacyCatalog({old, dir + "old.vm", main, blob}, &dropped);
  VDFUZZ_CHECK(status == StatusOk || status == StatusCorrupt || status == StatusUpgradeFailed ||
               status == StatusNoVersion);
  try {
    if (status != StatusOk) {
      VDFUZZ_CHECK(firstValue(main, "SELECT count(*) FROM sqlite_master;") == objects);
      VDFUZZ_CHECK(firstValue(main, "SELECT vd_id FROM vd_id;") == "2");
    } else {
      VDFUZZ_CHECK(firstValue(main, "PRAGMA integrity_check;") == "ok");
      VDFUZZ_CHECK(firstValue(blob, "PRAGMA integrity_check;") == "ok");
    }
  } catch (Status) {
    VDFUZZ_CHECK(false);
  }
  return 0;
}

// Fuzz target for files named as catalogs: the format probe, the format check and a full
// open. An input is
//   [flags: 1 byte][main file length: 3 bytes, little-endian][main file][tail]
// and flags & 3 tells what stands beside the main file: 0 nothing, 1 a good (empty) blob
// file, 2 the tail as the blob file, 3 a good blob file and the tail as the main file's
// rollback journal. With flags & 4 the open only checks the format.
// Any outcome but a crash, a hang or a leak is fine, as long as the format check gives one
// of its statuses, open reports a status of the library, and a failed (or closed) open
// leaves nothing held: no liveness lock on the catalog, no open transaction.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "FuzzScratch.h"
#include "monitor/CatalogKey.h"
#include "monitor/EventQueue.h"
#include "node/FormatProbe.h"
#include "platform/LivenessFile.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;

namespace {

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  VDFUZZ_CHECK(out.good());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The catalog "cat" of the scratch directory, and a good blob file to put beside it.
struct ProbeWorld {
  std::string dir, main, blob, journal, liveness;
  std::string goodBlob;          // the blob file of a new catalog
  std::map<int, long> outcomes;  // open's status -> inputs (shown with VDFUZZ_STATS set)

  ProbeWorld() {
    dir = vdfuzz::scratch("probe").directory;
    main = dir + "cat.vd";
    blob = dir + "cat.vm";
    journal = main + "-journal";
    {
      Node maker("fresh", dir.c_str());
      VDFUZZ_CHECK(maker.create(true) == StatusOk);
    }
    goodBlob = readFile(dir + "fresh.vm");
    writeFile(main, "");
    liveness = monitor::catalogLivenessName(monitor::catalogKey(monitor::normalisedPath(main)));
  }
};

ProbeWorld& world() {
  static ProbeWorld* w = [] {
    auto* made = new ProbeWorld;
    if (getenv("VDFUZZ_STATS")) {
      atexit([] {
        for (const auto& o : world().outcomes) std::printf("open %d: %ld\n", o.first, o.second);
      });
    }
    return made;
  }();
  return *w;
}

// Whether `status` is one of the library's status codes (open passes on the status of a
// failing load step, so any of them may come back for a damaged catalog).
bool knownStatus(int status) {
  static const int kCodes[] = {0,  1,  5,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22, 23,
                               24, 25, 26, 29, 30, 31, 32, 33, 36, 37, 41, 43, 44, 48, 54, 55, 56,
                               57, 58, 59, 60, 61, 64, 67, 70, 71, 74, 77, 78, 80, 81, 90, 91};
  for (int code : kCodes) {
    if (code == status) return true;
  }
  return false;
}

// The statuses of the format check.
bool formatCheckStatus(int status) {
  switch (status) {
    case 0:
    case 1:
    case 5:
    case 9:
    case 25:
    case 36:
    case 78:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  ProbeWorld& w = world();
  vdfuzz::FuzzInput in(data, size);
  const uint8_t flags = in.byte();
  const std::string_view mainBytes = in.take(in.number(3));
  const std::string_view tail = in.rest();

  std::remove(w.blob.c_str());
  std::remove(w.journal.c_str());
  std::remove((w.blob + "-journal").c_str());
  writeFile(w.main, mainBytes);
  switch (flags & 3) {
    case 0:
      break;
    case 1:
      writeFile(w.blob, w.goodBlob);
      break;
    case 2:
      writeFile(w.blob, tail);
      break;
    default:
      writeFile(w.blob, w.goodBlob);
      writeFile(w.journal, tail);
      break;
  }

  node::probeFormat(w.main);
  const node::FormatCheck format = node::checkFormat(w.main, w.blob, nullptr);
  if (!formatCheckStatus(format.status)) std::fprintf(stderr, "check: status %d\n", format.status);
  VDFUZZ_CHECK(formatCheckStatus(format.status));

  int status;
  {
    Node catalog("cat", w.dir.c_str());
    const bool checkOnly = (flags & 4) != 0;
    status = catalog.open(checkOnly);
    if (status == StatusOk && !checkOnly) {
      catalog.version();
      try {
        catalog.assetNames(false, false);
        catalog.assetLoad(2);
      } catch (Status) {
      }
      VDFUZZ_CHECK(catalog.transactionState() == StatusNoTransaction);
      VDFUZZ_CHECK(catalog.close() == StatusOk);
    }
  }
  ++w.outcomes[status];
  if (!knownStatus(status)) std::fprintf(stderr, "open: status %d\n", status);
  VDFUZZ_CHECK(knownStatus(status));
  VDFUZZ_CHECK(!platform::LivenessFile::inUse(w.liveness));
  return 0;
}

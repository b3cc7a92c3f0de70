// The file-format probe of a catalog's main file and the format check that open runs on
// it: current catalogs, catalogs of the old engine that need the upgrade, and files that
// are not catalogs or are newer than the library.
#ifndef VENDRITHANE_NODE_FORMATPROBE_H
#define VENDRITHANE_NODE_FORMATPROBE_H

#include <cstdint>
#include <string>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;

namespace node {

constexpr int kCurrentFormat = 3;                 // the probe's number for the current header
constexpr uint32_t kOldEngineMagic = 0xDAE37528;  // b-tree magic of old-engine files
constexpr int kLastOldFormat = 1998;              // format numbers above it: the old engine

// The format number of a main file: 3 for the current header, the stored format number of
// an old-engine catalog, -1 for a file that cannot be read or is not a catalog. Reads
// through the process's shared descriptor of the file, so the engine's locks survive.
int probeFormat(const std::string& mainFile);

// Whether `mainFile` is a catalog of the old engine with a non-empty rollback journal beside
// it or beside `blobFile`: an interrupted write that nothing here can roll back.
bool oldJournalPresent(const std::string& mainFile, const std::string& blobFile);

// Outcome of the format check.
struct FormatCheck {
  Status status;  // 0 current, 1 needs the upgrade, 5, 9, 25, 36 or 78
  int format;     // the probe's number
};

// The format check of open: the probe, then for current files the stored schema version
// read through a temporary connection and compared (major parts) with the library's.
FormatCheck checkFormat(const std::string& mainFile, const std::string& blobFile, NodeImpl* node);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_FORMATPROBE_H

// The catalog VFS: a layer between the database engine and the catalog files that keeps the
// catalog's own 16-byte header string ("VendrithaneFMT6" and a zero byte) on disk in place
// of the engine's, for main files and attached databases alike. Memory-mapped I/O is off
// for these files so that every read passes through the substitution. A file carrying the
// engine's standard header is not a catalog file and is refused. The layer wraps the
// default "unix" VFS and is never registered as the default VFS. Tests can make its file
// operations fail on purpose through the switch in FaultInjection.h.
#ifndef VENDRITHANE_NODE_CATALOGVFS_H
#define VENDRITHANE_NODE_CATALOGVFS_H

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// The catalog header string as it stands at offset 0 of both catalog files (16 bytes).
extern const char kCatalogHeader[16];

// Registers the layer on first use (thread-safe) and returns its name, for
// sqlite3_open_v2. Throws StatusEngineFailure when it cannot be registered.
const char* catalogVfsName();

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_CATALOGVFS_H

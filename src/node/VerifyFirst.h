// The check that backup and backupRestore run with verifyFirst, on their own copy of the
// catalog's files before those are put in place (never on the files it copied from): the
// catalog verification without repairs, which lives in a layer above this one and is
// registered on the node (NodeImpl::registerFileCheck). Without one, the engine's own
// integrity check of both files.
#ifndef VENDRITHANE_NODE_VERIFYFIRST_H
#define VENDRITHANE_NODE_VERIFYFIRST_H

#include <string>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// A check of a catalog's pair of files (`blobFile` "" when there is none) that writes
// nothing to them: 0, or the status of what it found.
using CatalogFileCheck = Status (*)(const std::string& mainFile, const std::string& blobFile);

// Checks the main file `mainFile` and, unless `blobFile` is "", the blob file, with `check`
// when not null; reads the schema's major version into *major (-1 when unreadable). 0, or
// 25 when the integrity check is not "ok" or a file cannot be read, or what `check` found.
// Writes nothing to either file.
Status verifyFirstCheck(const std::string& mainFile, const std::string& blobFile,
                        CatalogFileCheck check, int* major);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_VERIFYFIRST_H

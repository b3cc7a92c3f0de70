// The check that backup and backupRestore run with verifyFirst, on their own copy of the
// catalog's files before those are put in place (never on the files it copied from).
//
// SEAM: the catalog verification work fills verifyFirstCheck with its check without repairs
// (verifyAndFix(false, false)) run on a node over the copy. That check lives in a layer above
// this one, so it will arrive here through a hook the upper layer registers (as LayerHooks.h
// does), with this body left as the fallback. Until then it runs the engine's own integrity
// check on both files.
#ifndef VENDRITHANE_NODE_VERIFYFIRST_H
#define VENDRITHANE_NODE_VERIFYFIRST_H

#include <string>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// Checks the main file `mainFile` and, unless `blobFile` is "", the blob file; reads the
// schema's major version into *major (-1 when unreadable). 0, or 25 when a check is not
// "ok" or a file cannot be read. Writes nothing to either file.
Status verifyFirstCheck(const std::string& mainFile, const std::string& blobFile, int* major);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_VERIFYFIRST_H

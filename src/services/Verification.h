// The catalog verification: Node::verifyAndFix, and its check without repairs on a pair of
// files that no node has open (backup's and restore's verifyFirst).
#ifndef VENDRITHANE_SERVICES_VERIFICATION_H
#define VENDRITHANE_SERVICES_VERIFICATION_H

#include <string>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace services {

// Checks the catalog files `mainFile` and `blobFile` ("" when there is none) as
// verifyAndFix(false, false) does, through a connection of its own that writes nothing to
// either file: 0, or the status of the first problem found (25 also when a file cannot be
// opened).
Status checkCatalogFiles(const std::string& mainFile, const std::string& blobFile);

}  // namespace services
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_SERVICES_VERIFICATION_H

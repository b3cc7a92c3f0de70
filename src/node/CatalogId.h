// The catalog id written into a new catalog's registry under "vd_dbid": 36 characters,
// lower-case hex digits in groups of 8, 4, 4, 4 and 12 joined by "-".
#ifndef VENDRITHANE_NODE_CATALOGID_H
#define VENDRITHANE_NODE_CATALOGID_H

#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// A new id for the catalog whose main file is `mainFile`: the MD5 digest of the process's
// processor time, the machine's identity, the user's name, the current time, the main
// file's full path and fresh random bits.
std::string generateCatalogId(const std::string& mainFile);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_CATALOGID_H

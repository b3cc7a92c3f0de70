// The names a rename set of a catalog's files uses (its marker, the new files written beside
// their targets) and the journal removals every such set carries. Backup, restore and the
// upgrade of old catalogs put a catalog's files in place through them.
#ifndef VENDRITHANE_NODE_CATALOGRENAMES_H
#define VENDRITHANE_NODE_CATALOGRENAMES_H

#include <string>

#include "platform/RenameSet.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// A temporary name beside `target`, unique to this process and call (target +
// platform::kRenameTempInfix + process id + "-" + serial); left by a killed process, it is
// removed by the next finish of the catalog's renames.
std::string tempBeside(const std::string& target);
// The marker of the rename set whose main target is `mainTarget`.
std::string markerOf(const std::string& mainTarget);
// The removals of every journal of a catalog file (`file`'s rollback journal and, for a
// main file, its super-journals): left beside, one would be played back into the new file.
void removeJournals(platform::RenameSet* set, const std::string& file, bool main);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_CATALOGRENAMES_H

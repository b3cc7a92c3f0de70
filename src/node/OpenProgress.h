// What an open of a catalog has made so far, for the steps of open (NodeLifecycle.cpp) and
// its upgrade of old catalogs (NodeUpgrade.cpp): what a failing open must undo.
#ifndef VENDRITHANE_NODE_OPENPROGRESS_H
#define VENDRITHANE_NODE_OPENPROGRESS_H

#include <memory>
#include <string>

#include "node/NodeImpl.h"
#include "platform/NamedMutex.h"

namespace KESTRIN {
namespace Vendrithane {

// What a failing open has made so far and must undo.
struct NodeImpl::OpenProgress {
  bool copied = false;    // a read-only copy was made and the node points at it
  bool attached = false;  // the node joined the change-event queue
  bool opened = false;    // every step succeeded: nothing to undo
  // The upgrade of an old catalog: its lock, held to the end of the open, and the old
  // files' backups beside the new ones, deleted when the open succeeds, else put back.
  std::unique_ptr<platform::NamedMutex> upgradeLock;
  std::unique_ptr<platform::NamedMutexHold> upgradeHold;
  bool upgraded = false;   // the new files are in place and the backups exist
  std::string main, blob;  // the catalog's files
  std::string backupMain;  // the old main file's backup
  std::string backupBlob;  // the old blob file's backup, "" when there was no blob file
  std::string dropped;     // rows the conversion dropped as duplicates
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_OPENPROGRESS_H

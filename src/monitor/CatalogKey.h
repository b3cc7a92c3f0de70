// How a catalog is named machine-wide: its normalised path, its key K, its slot key and the
// names of its kernel objects and of the process-wide ones.
#ifndef VENDRITHANE_MONITOR_CATALOGKEY_H
#define VENDRITHANE_MONITOR_CATALOGKEY_H

#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace monitor {

// The resolved absolute path of a catalog's main file ('\' read as '/', symbolic links, "."
// and ".." resolved, letter case kept), so that every spelling of one file gives one text.
// Throws StatusNotFound when the file's directory cannot be resolved.
std::string normalisedPath(const std::string& mainFile);

// K: the MD5 digest of the normalised path, lower-case hex grouped 8-4-4-4-12.
std::string catalogKey(const std::string& normalised);

// The text stored in a slot: the normalised path when it fits the key field (259 bytes),
// else "#" + K. A normalised path always starts with '/', so the two forms never meet.
std::string slotKeyFor(const std::string& normalised);
// K of the catalog holding a slot with key `slotKey`; "" when the key is not well-formed.
std::string catalogKeyOfSlot(const std::string& slotKey);

std::string sectionName();                              // the shared section
std::string systemMutexName();                          // the system mutex
std::string posterCounterName();                        // the machine-wide node identity counter
std::string catalogMutexName(const std::string& k);     // the per-catalog mutex
std::string catalogEventName(const std::string& k);     // the per-catalog event
std::string catalogUpgradeName(const std::string& k);   // the per-catalog upgrade lock
std::string catalogLivenessName(const std::string& k);  // the per-catalog liveness file

}  // namespace monitor
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_MONITOR_CATALOGKEY_H

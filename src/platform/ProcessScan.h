// Whether another process of the machine has the library loaded.
#ifndef VENDRITHANE_PLATFORM_PROCESSSCAN_H
#define VENDRITHANE_PLATFORM_PROCESSSCAN_H

#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

// The file name (without directory) of the module that holds the library's code:
// "libvendrithane.so" when it is the shared library (version suffixes dropped), else the
// name of the program it is linked into.
std::string libraryModuleName();

// 1 when a process other than this one maps a file whose name (without directory) starts
// with `moduleName`, 0 when none does, -1 when /proc cannot be listed. Processes that vanish
// during the scan, and processes whose maps cannot be read, are not counted.
int otherProcessMaps(const std::string& moduleName);

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_PROCESSSCAN_H

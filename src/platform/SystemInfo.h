// Facts about the running system: the user, the machine and the calling thread.
#ifndef VENDRITHANE_PLATFORM_SYSTEMINFO_H
#define VENDRITHANE_PLATFORM_SYSTEMINFO_H

#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

// The name of the effective user, "" when it has no entry in the user database.
std::string userName();
// The machine's identity text (/etc/machine-id, else /var/lib/dbus/machine-id), without the
// line end; "" when neither can be read.
std::string machineId();
// The kernel's id of the calling thread.
long threadId();
// The id of this process.
long processId();
// Whether a process of that id exists (false only when it surely does not).
bool processExists(long pid);

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_SYSTEMINFO_H

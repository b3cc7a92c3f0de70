// Names of the machine-wide objects and where they live: "Global\" names map to files in
// /dev/shm, with a per-user session directory as the fallback when /dev/shm is unusable.
#ifndef VENDRITHANE_PLATFORM_OBJECTNAMES_H
#define VENDRITHANE_PLATFORM_OBJECTNAMES_H

#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

// The fixed prefix P of every object name ("org.vendrithane" unless a test changed it).
std::string objectPrefix();

// Test hook: makes this process use its own object names so that a test program never
// meets the objects of real users (or of other test programs). Call before any object is
// made; helper processes of a test must be given the same prefix.
void setObjectPrefixForTesting(const std::string& prefix);

// The directory that holds the machine-wide objects, with a trailing '/': /dev/shm/ when it
// is a writable directory, else the private session directory (created on first use).
// Throws StatusSharedObjectFailed when neither can be used.
std::string objectDirectory();

// The file of a named object: the directory above plus the name without its "Global\"
// prefix, lower-cased, with '\' and '/' replaced by '_'.
std::string objectPath(const std::string& name);

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_OBJECTNAMES_H

// Object names and the directory of the machine-wide objects.
#include "platform/ObjectNames.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/Mutex.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

// Never destroyed, so that nodes closed during the process's exit still find it.
struct Names {
  Mutex lock{LockRank::kObjectNames, "object-name lock"};  // guards the two values below
  std::string prefix = "org.vendrithane";                  // object-name prefix P
  std::string directory;  // resolved object directory, empty until used
};

Names& names() {
  static Names* instance = new Names;
  return *instance;
}

bool usableDirectory(const std::string& dir) {
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(dir.c_str(), W_OK) == 0;
}

// The per-user session directory: $XDG_RUNTIME_DIR (else /tmp) + "/vendrithane-<uid>", a real
// directory of mode 0700 owned by this user. Returns "" when it cannot be had safely.
std::string sessionDirectory() {
  const char* base = getenv("XDG_RUNTIME_DIR");
  std::string dir = (base && *base == '/') ? base : "/tmp";
  dir += "/vendrithane-" + std::to_string(geteuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0)
    return "";
  return dir + "/";
}

}  // namespace

std::string objectPrefix() {
  platform::MutexLock hold(names().lock);
  return names().prefix;
}

void setObjectPrefixForTesting(const std::string& prefix) {
  platform::MutexLock hold(names().lock);
  names().prefix = prefix;
}

std::string objectDirectory() {
  platform::MutexLock hold(names().lock);
  if (names().directory.empty()) {
    if (usableDirectory("/dev/shm"))
      names().directory = "/dev/shm/";
    else
      names().directory = sessionDirectory();
    if (names().directory.empty()) throw StatusSharedObjectFailed;
  }
  return names().directory;
}

std::string objectPath(const std::string& name) {
  std::string rest = name;
  static const char kGlobal[] = "global\\";  // the namespace prefix, in any letter case
  if (strncasecmp(rest.c_str(), kGlobal, sizeof kGlobal - 1) == 0)
    rest.erase(0, sizeof kGlobal - 1);
  for (char& c : rest) {
    if (c == '\\' || c == '/') c = '_';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return objectDirectory() + rest;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

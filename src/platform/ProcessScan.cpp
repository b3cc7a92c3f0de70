// The other-process check, through /proc/<pid>/maps.
#include "platform/ProcessScan.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

// Whether the maps file of process `pid` names a file starting with `moduleName`.
bool mapsModule(const char* pid, const std::string& moduleName) {
  std::string path = std::string("/proc/") + pid + "/maps";
  FILE* maps = fopen(path.c_str(), "re");
  if (!maps) return false;
  bool found = false;
  char* line = nullptr;
  size_t capacity = 0;
  while (!found && getline(&line, &capacity, maps) > 0) {
    char* file = strchr(line, '/');
    if (!file) continue;
    file[strcspn(file, "\n")] = '\0';
    const char* base = strrchr(file, '/') + 1;
    found = strncmp(base, moduleName.c_str(), moduleName.size()) == 0;
  }
  free(line);
  fclose(maps);
  return found;
}

}  // namespace

std::string libraryModuleName() {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&libraryModuleName), &info) || !info.dli_fname)
    return "libvendrithane.so";
  std::string name = info.dli_fname;
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t so = name.find(".so");
  if (so != std::string::npos) name.erase(so + 3);
  return name;
}

int otherProcessMaps(const std::string& moduleName) {
  DIR* proc = opendir("/proc");
  if (!proc) return -1;
  std::string self = std::to_string(getpid());
  int result = 0;
  while (struct dirent* entry = readdir(proc)) {
    const char* name = entry->d_name;
    if (name[0] < '1' || name[0] > '9' || self == name) continue;
    if (mapsModule(name, moduleName)) {
      result = 1;
      break;
    }
  }
  closedir(proc);
  return result;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

// User name, machine id and thread id.
#include "platform/SystemInfo.h"

#include <pwd.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

std::string userName() {
  std::vector<char> buffer(1024);
  struct passwd entry;
  struct passwd* result = nullptr;
  for (;;) {
    int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return rc == 0 && result ? std::string(result->pw_name) : std::string();
  }
}

std::string machineId() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::ifstream in(path);
    std::string id;
    if (in && std::getline(in, id) && !id.empty()) {
      while (!id.empty() && (id.back() == '\r' || id.back() == ' ')) id.pop_back();
      if (!id.empty()) return id;
    }
  }
  return "";
}

long processId() {
  return static_cast<long>(getpid());
}

bool processExists(long pid) {
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

long threadId() {
  // Asked on every connection lease: the system call once per thread is enough.
  thread_local const long id = static_cast<long>(syscall(SYS_gettid));
  return id;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

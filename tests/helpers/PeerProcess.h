// Test support: a helper program run as a separate process and driven line by line through
// pipes (one command per line on its input, one reply per line on its output), and the
// private object-name prefix of a test program.
#ifndef VENDRITHANE_TESTS_PEERPROCESS_H
#define VENDRITHANE_TESTS_PEERPROCESS_H

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "StatusOf.h"
#include "platform/ObjectNames.h"
#include "vendrithane/Status.h"

namespace vdtest {

// Gives this test process object names of its own and returns the prefix.
inline std::string useTestPrefix() {
  static const std::string prefix = "org.vendrithane.test-" + std::to_string(getpid());
  KESTRIN::Vendrithane::platform::setObjectPrefixForTesting(prefix);
  return prefix;
}

// Whether object file `name` belongs to `prefix` (the prefix followed by '.' or ':', so that
// the prefix of process 123 does not claim the objects of process 1234).
inline bool ownedByPrefix(const char* name, const std::string& prefix) {
  return strncmp(name, prefix.c_str(), prefix.size()) == 0 &&
         (name[prefix.size()] == '.' || name[prefix.size()] == ':');
}

// Deletes every object file of `prefix`; returns how many there were.
inline int removeTestObjects(const std::string& prefix) {
  std::string dir = KESTRIN::Vendrithane::platform::objectDirectory();
  int count = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      if (ownedByPrefix(e->d_name, prefix)) {
        unlink((dir + e->d_name).c_str());
        ++count;
      }
    }
    closedir(d);
  }
  return count;
}

// Object files of this test's prefix that exist now, by name.
inline std::vector<std::string> listTestObjects(const std::string& prefix) {
  std::string dir = KESTRIN::Vendrithane::platform::objectDirectory();
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d))
      if (ownedByPrefix(e->d_name, prefix)) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

class PeerProcess {
 public:
  // Starts helper `program` (a file of VENDRITHANE_HELPER_DIR) with the given arguments.
  PeerProcess(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    std::string path = std::string(VENDRITHANE_HELPER_DIR) + "/" + program;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(path.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toPeer_ = in[1];
    fromPeer_ = out[0];
  }
  ~PeerProcess() {
    if (toPeer_ >= 0) close(toPeer_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fromPeer_ >= 0) close(fromPeer_);
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  pid_t pid() const { return pid_; }

  void send(const std::string& line) {
    std::string text = line + "\n";
    ssize_t ignored = write(toPeer_, text.data(), text.size());
    (void)ignored;
  }

  // The next reply line, or "<timeout>" / "<eof>".
  std::string readLine(int timeoutMs = 10000) {
    for (;;) {
      size_t nl = buffered_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffered_.substr(0, nl);
        buffered_.erase(0, nl + 1);
        return line;
      }
      struct pollfd p = {fromPeer_, POLLIN, 0};
      int rc = poll(&p, 1, timeoutMs);
      if (rc < 0 && errno == EINTR) continue;
      if (rc == 0) return "<timeout>";
      char chunk[256];
      ssize_t n = read(fromPeer_, chunk, sizeof chunk);
      if (n <= 0) return "<eof>";
      buffered_.append(chunk, static_cast<size_t>(n));
    }
  }

  std::string call(const std::string& line, int timeoutMs = 10000) {
    send(line);
    return readLine(timeoutMs);
  }

  // Kills the peer at once and reaps it.
  void killNow() {
    if (pid_ <= 0 || reaped_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
  }

  // Waits for a peer that ends by itself; its exit status (-1 when it did not exit normally).
  int waitExit() {
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Asks the peer to end and returns its exit status (-1 when it did not exit normally).
  int finish() {
    send("exit");
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;        // the helper process
  int toPeer_ = -1;       // write end of its input
  int fromPeer_ = -1;     // read end of its output
  bool reaped_ = false;   // waited for already
  std::string buffered_;  // output read but not yet returned
};

}  // namespace vdtest

#endif  // VENDRITHANE_TESTS_PEERPROCESS_H

// Test support of the fault sweep: one run of a body in a forked child that talks to the
// parent in lines over a pipe, guarded by a time limit so that a hang or a crash of the child
// shows as a failed run instead of stopping the test program. The child may pause at a "held"
// line until the parent has done its own checks (from another process) and lets it go on.
#ifndef VENDRITHANE_TESTS_RELIABILITY_FAULTRUN_H
#define VENDRITHANE_TESTS_RELIABILITY_FAULTRUN_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vdfault {

// The child's end: lines to the parent, and the wait for its go-ahead.
class Channel {
 public:
  Channel(int out, int in) : out_(out), in_(in) {}

  void line(const std::string& text) {
    std::string all = text + "\n";
    const char* p = all.data();
    size_t left = all.size();
    while (left > 0) {
      ssize_t n = write(out_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  void fail(const std::string& text) { line("fail " + text); }
  // Reports "held" and waits until the parent lets the child go on.
  void held() {
    line("held");
    char go;
    while (read(in_, &go, 1) < 0 && errno == EINTR) {
    }
  }

 private:
  int out_;  // lines to the parent
  int in_;   // the parent's go-aheads
};

// How a run ended, and what the child said.
struct RunResult {
  bool ended = false;              // the child exited by itself within the time limit
  int exitCode = -1;               // its exit code when it did
  int signal = 0;                  // the signal that ended it, 0 when none
  std::vector<std::string> lines;  // every line it wrote, in order
};

// Runs `body` in a forked child (which then exits with 0) and collects its lines. On a
// "held" line the parent calls `onHeld` and then lets the child go on. A child still running
// after `limitMs` is killed (ended false).
inline RunResult runForked(const std::function<void(Channel&)>& body, int limitMs,
                           const std::function<void()>& onHeld) {
  RunResult result;
  int up[2], down[2];
  if (pipe2(up, O_CLOEXEC) != 0) return result;
  if (pipe2(down, O_CLOEXEC) != 0) {
    close(up[0]);
    close(up[1]);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(up[0]);
    close(down[1]);
    Channel channel(up[1], down[0]);
    body(channel);
    channel.line("end");
    _exit(0);
  }
  close(up[1]);
  close(down[0]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  std::string buffered;
  bool open = pid > 0;
  while (open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    struct pollfd p = {up[0], POLLIN, 0};
    int rc = poll(&p, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) break;
    char chunk[512];
    ssize_t n = read(up[0], chunk, sizeof chunk);
    if (n <= 0) {
      open = false;
    } else {
      buffered.append(chunk, static_cast<size_t>(n));
    }
    for (size_t nl; (nl = buffered.find('\n')) != std::string::npos;) {
      std::string text = buffered.substr(0, nl);
      buffered.erase(0, nl + 1);
      result.lines.push_back(text);
      if (text == "held") {
        onHeld();
        char go = 'g';
        ssize_t ignored = write(down[1], &go, 1);
        (void)ignored;
      }
    }
  }
  if (pid > 0) {
    int status = 0;
    if (open) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    } else {
      // The pipe closed: the child is ending; give it the rest of the time limit.
      while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
          open = true;
          break;
        }
        usleep(1000);
      }
    }
    result.ended = !open;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  close(up[0]);
  close(down[1]);
  return result;
}

}  // namespace vdfault

#endif  // VENDRITHANE_TESTS_RELIABILITY_FAULTRUN_H

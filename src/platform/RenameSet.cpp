// The rename set: marker format and the steps. The marker is a text file of one step a line,
// "R\t<temp>\t<target>" or "D\t<target>", closed by a line "end"; it is written under a
// ".part" name, synced, and renamed into place, so that a marker that exists is complete.
#include "platform/RenameSet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <sstream>

#include "platform/Files.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

constexpr char kPartSuffix[] = ".part";
constexpr char kEndLine[] = "end";

// Writes a new file `path` (never through a link or a file someone else put there).
bool writeSynced(const std::string& path, const std::string& text) {
  ::unlink(path.c_str());
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  return ::close(fd) == 0 && ok;
}

bool unusable(const std::string& path) {
  return path.find('\n') != std::string::npos || path.find('\t') != std::string::npos;
}

// Runs the steps from the first (a rename whose temporary file is gone ran already), syncs
// the directories, removes the marker. The first step that fails stops the set: the marker
// and the remaining temporary files stay for the next finishRenameSet.
Status runSteps(const std::string& marker,
                const std::vector<std::pair<std::string, std::string>>& steps,
                const std::function<void(size_t)>& afterStep) {
  std::set<std::string> directories{directoryOf(marker)};
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string& temp = steps[i].first;
    const std::string& target = steps[i].second;
    directories.insert(directoryOf(target));
    bool ok = temp.empty() ? ::unlink(target.c_str()) == 0 || errno == ENOENT
                           : ::rename(temp.c_str(), target.c_str()) == 0 || errno == ENOENT;
    if (!ok) return StatusCopyFailed;
    if (afterStep) afterStep(i);
  }
  bool ok = true;
  for (const std::string& directory : directories) ok = syncDirectory(directory) && ok;
  if (!ok) return StatusCopyFailed;
  // Synced: a marker that came back after a power loss would run its removals again.
  ::unlink(marker.c_str());
  syncDirectory(directoryOf(marker));
  return StatusOk;
}

// Whether `path` is `file` itself or one of its companions beside it (`file` + "-..."),
// which is what a set of `files` may remove or replace.
bool oneOf(const std::vector<std::string>& files, const std::string& path) {
  for (const std::string& file : files) {
    if (path == file) return true;
    if (path.size() > file.size() + 1 && path.compare(0, file.size(), file) == 0 &&
        path[file.size()] == '-' && path.find('/', file.size()) == std::string::npos)
      return true;
  }
  return false;
}

// Whether `temp` is a temporary name beside `target`.
bool tempOf(const std::string& target, const std::string& temp) {
  std::string prefix = target + kRenameTempInfix;
  return temp.size() > prefix.size() && temp.compare(0, prefix.size(), prefix) == 0 &&
         temp.find('/', prefix.size()) == std::string::npos;
}

// The marker's text when it is a regular file of this user (opened without following a
// link); false otherwise.
bool readOwnMarker(const std::string& marker, std::string* text) {
  int fd = ::open(marker.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
  char buffer[4096];
  while (ok) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

}  // namespace

Status RenameSet::commit(const std::function<void(size_t)>& afterStep) {
  std::string text;
  std::vector<std::pair<std::string, std::string>> steps;
  for (const Step& step : steps_) {
    // A temporary file that is gone would later read as a rename that ran already.
    if (unusable(step.temp) || unusable(step.target) ||
        (!step.temp.empty() && !fileExists(step.temp))) {
      abandon();
      return StatusCopyFailed;
    }
    text += step.temp.empty() ? "D\t" + step.target + "\n"
                              : "R\t" + step.temp + "\t" + step.target + "\n";
    steps.emplace_back(step.temp, step.target);
  }
  text += std::string(kEndLine) + "\n";
  // The temporary files' names are durable before the marker that needs them.
  std::set<std::string> directories;
  for (const Step& step : steps_)
    if (!step.temp.empty()) directories.insert(directoryOf(step.temp));
  bool ok = !unusable(marker_);
  for (const std::string& directory : directories) ok = ok && syncDirectory(directory);
  std::string part = marker_ + kPartSuffix;
  if (!ok || !writeSynced(part, text) || ::rename(part.c_str(), marker_.c_str()) != 0) {
    ::unlink(part.c_str());
    abandon();
    return StatusCopyFailed;
  }
  // The marker is in place: the set is decided, whatever the directory sync says (the steps
  // sync it again).
  syncDirectory(directoryOf(marker_));
  return runSteps(marker_, steps, afterStep);
}

void RenameSet::abandon() {
  for (const Step& step : steps_)
    if (!step.temp.empty()) ::unlink(step.temp.c_str());
}

Status finishRenameSet(const std::string& marker, const std::vector<std::string>& files) {
  ::unlink((marker + kPartSuffix).c_str());  // never decided: nothing was changed
  std::string text;
  if (!readOwnMarker(marker, &text)) return StatusOk;  // none, or not one this user wrote
  std::vector<std::pair<std::string, std::string>> steps;
  bool complete = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line == kEndLine) {
      complete = true;
      break;
    }
    std::istringstream fields(line);
    std::string kind, first, second;
    std::getline(fields, kind, '\t');
    std::getline(fields, first, '\t');
    std::getline(fields, second, '\t');
    if (kind == "D" && oneOf(files, first)) {
      steps.emplace_back("", first);
    } else if (kind == "R" && oneOf(files, second) && tempOf(second, first)) {
      steps.emplace_back(first, second);
    } else {
      break;  // a step outside this set's files is never run
    }
  }
  if (!complete) {  // not a marker this library wrote completely: leave the files alone
    ::unlink(marker.c_str());
    return StatusOk;
  }
  return runSteps(marker, steps, nullptr);
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

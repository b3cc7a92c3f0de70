// The rename set: marker format and the steps. The marker is a text file of one step a line,
// "R\t<temp>\t<target>" or "D\t<target>", closed by a line "end"; it is written under a
// ".part" name, synced, and renamed into place, so that a marker that exists is complete.
#include "platform/RenameSet.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/Files.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

constexpr char kPartSuffix[] = ".part";
constexpr char kEndLine[] = "end";

bool writeSynced(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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
// the directories, removes the marker.
Status runSteps(const std::string& marker,
                const std::vector<std::pair<std::string, std::string>>& steps,
                const std::function<void(size_t)>& afterStep) {
  std::set<std::string> directories{directoryOf(marker)};
  bool ok = true;
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string& temp = steps[i].first;
    const std::string& target = steps[i].second;
    directories.insert(directoryOf(target));
    if (temp.empty()) {
      if (::unlink(target.c_str()) != 0 && errno != ENOENT) ok = false;
    } else if (::rename(temp.c_str(), target.c_str()) != 0 && errno != ENOENT) {
      ok = false;
    }
    if (afterStep) afterStep(i);
  }
  for (const std::string& directory : directories) ok = syncDirectory(directory) && ok;
  if (!ok) return StatusCopyFailed;
  // Not synced: a marker that comes back after a power loss only repeats what is done.
  ::unlink(marker.c_str());
  return StatusOk;
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
  std::string part = marker_ + kPartSuffix;
  if (unusable(marker_) || !writeSynced(part, text) ||
      ::rename(part.c_str(), marker_.c_str()) != 0 || !syncDirectory(directoryOf(marker_))) {
    ::unlink(part.c_str());
    abandon();
    return StatusCopyFailed;
  }
  return runSteps(marker_, steps, afterStep);
}

void RenameSet::abandon() {
  for (const Step& step : steps_)
    if (!step.temp.empty()) ::unlink(step.temp.c_str());
}

Status finishRenameSet(const std::string& marker) {
  ::unlink((marker + kPartSuffix).c_str());  // never decided: nothing was changed
  std::ifstream in(marker);
  if (!in) return StatusOk;
  std::vector<std::pair<std::string, std::string>> steps;
  bool complete = false;
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
    if (kind == "D") {
      steps.emplace_back("", first);
    } else if (kind == "R") {
      steps.emplace_back(first, second);
    } else {
      break;
    }
  }
  in.close();
  if (!complete) {  // not a marker this library wrote completely: leave the files alone
    ::unlink(marker.c_str());
    return StatusOk;
  }
  return runSteps(marker, steps, nullptr);
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

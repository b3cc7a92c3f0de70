// File services over stat, chmod, copy_file_range, rename and statvfs.
#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

std::atomic<unsigned> gMoveSerial{0};  // unique names for cross-device move targets

// Copies the whole of `in` into `out` from offset 0: copy_file_range, falling back to reads
// and writes where the kernel cannot copy between the two file systems.
bool copyContents(int in, int out) {
  loff_t inOff = 0, outOff = 0;
  for (;;) {
    ssize_t n = copy_file_range(in, &inOff, out, &outOff, 1 << 30, 0);
    if (n == 0) return true;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS) break;
    return false;
  }
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = pread(in, buffer, sizeof buffer, inOff);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    inOff += n;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = pwrite(out, buffer + done, static_cast<size_t>(n - done), outOff);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
      outOff += w;
    }
  }
}

}  // namespace

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool fileIsReadOnly(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

Status setFileReadOnly(const std::string& path, bool readOnly) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return StatusPermissionFailed;
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  return chmod(path.c_str(), mode) == 0 ? StatusOk : StatusPermissionFailed;
}

Status copyFile(const std::string& from, const std::string& to, bool failIfExists) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return StatusCopyFailed;
  struct stat src, dst;
  if (fstat(in, &src) != 0 || !S_ISREG(src.st_mode)) {
    close(in);
    return StatusCopyFailed;
  }
  if (stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
    close(in);  // truncating the target would destroy the source
    return StatusCopyFailed;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  int out = open(to.c_str(), flags, 0600);
  if (out < 0) {
    close(in);
    return StatusCopyFailed;
  }
  bool ok = copyContents(in, out) && fchmod(out, src.st_mode & 07777) == 0 && fdatasync(out) == 0;
  ok = close(out) == 0 && ok;
  close(in);
  if (!ok) {
    unlink(to.c_str());
    return StatusCopyFailed;
  }
  return StatusOk;
}

Status moveFile(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) == 0) return StatusOk;
  if (errno != EXDEV) return StatusCopyFailed;
  // Across devices: copy beside the target, put it in place in one step, then delete.
  std::string temp = to + ".move-" + std::to_string(getpid()) + "-" + std::to_string(gMoveSerial++);
  if (copyFile(from, temp, true) != StatusOk) return StatusCopyFailed;
  if (rename(temp.c_str(), to.c_str()) != 0) {
    unlink(temp.c_str());
    return StatusCopyFailed;
  }
  unlink(from.c_str());
  return StatusOk;
}

Status linkFile(const std::string& from, const std::string& to) {
  if (link(from.c_str(), to.c_str()) == 0) return StatusOk;
  if (errno != EPERM && errno != EXDEV && errno != ENOTSUP && errno != EMLINK)
    return StatusCopyFailed;
  return copyFile(from, to, true);
}

Status deleteFile(const std::string& path) {
  return unlink(path.c_str()) == 0 ? StatusOk : StatusDeleteFailed;
}

int64_t fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int64_t freeSpace(const std::string& directory) {
  struct statvfs vs;
  if (statvfs(directory.c_str(), &vs) != 0) return -1;
  return static_cast<int64_t>(vs.f_bavail) * static_cast<int64_t>(vs.f_frsize);
}

int fileMode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

Status setFileMode(const std::string& path, int mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode)) == 0 ? StatusOk : StatusPermissionFailed;
}

int64_t volumeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_dev) : -1;
}

bool syncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

std::vector<std::string> filesWithPrefix(const std::string& directory, const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (struct dirent* entry = readdir(dir))
      if (std::string(entry->d_name).compare(0, prefix.size(), prefix) == 0)
        names.push_back(entry->d_name);
    closedir(dir);
  }
  return names;
}

bool fileStartsNonZero(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char first = 0;
  ssize_t n;
  do {
    n = pread(fd, &first, 1, 0);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == 1 && first != 0;
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string tempDirectory() {
  const char* dir = getenv("TMPDIR");
  std::string result = (dir && *dir) ? dir : "/tmp/";
  if (result.back() != '/') result += '/';
  return result;
}

std::string fullPath(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char resolved[PATH_MAX];
  if (!realpath(dir.c_str(), resolved)) return "";
  std::string result = resolved;
  if (result.back() != '/') result += '/';
  return result + name;
}

std::string resolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

Status writeWholeFile(const std::string& path, const std::string& data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return StatusPermissionFailed;
  bool ok = true;
  for (size_t done = 0; ok && done < data.size();) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  return ok ? StatusOk : StatusPermissionFailed;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

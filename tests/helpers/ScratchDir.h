// Test support: a scratch directory made with mkdtemp and removed with everything in it,
// read-only files and directories included.
#ifndef VENDRITHANE_TESTS_HELPERS_SCRATCHDIR_H
#define VENDRITHANE_TESTS_HELPERS_SCRATCHDIR_H

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace vdtest {

// Removes `path` and everything in it. The owner's write bit is given back to the
// directory and to everything inside it first (and read and search to each directory, so
// that the walk can enter it), so that files and directories a test made read-only never
// stop the removal, also for a user other than root. Symbolic links are not followed. The
// first error met is returned; the removal is tried even when the walk met one.
inline std::error_code removeTree(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code first, ec;
  auto keep = [&first](const std::error_code& e) {
    if (e && !first) first = e;
  };
  auto writable = [&keep](const fs::path& p, const fs::file_status& st) {
    if (fs::is_symlink(st)) return;
    fs::perms add = fs::perms::owner_write;
    if (fs::is_directory(st)) add |= fs::perms::owner_read | fs::perms::owner_exec;
    std::error_code permsEc;
    fs::permissions(p, add, fs::perm_options::add, permsEc);
    keep(permsEc);
  };
  const fs::file_status top = fs::symlink_status(path, ec);
  if (top.type() == fs::file_type::not_found) return {};  // nothing to remove
  if (ec) return ec;
  writable(path, top);
  if (fs::is_directory(top)) {
    fs::recursive_directory_iterator it(path, ec), end;
    keep(ec);
    for (; !ec && it != end; it.increment(ec)) {
      // The directory is made searchable here, before the iterator enters it.
      std::error_code statEc;
      const fs::file_status st = it->symlink_status(statEc);
      keep(statEc);
      if (!statEc) writable(it->path(), st);
    }
    keep(ec);
  }
  fs::remove_all(path, ec);
  keep(ec);
  return first;
}

class ScratchDir {
 public:
  // Makes PARENT/PREFIXXXXXXX with mkdtemp; path() is empty when that failed.
  explicit ScratchDir(const std::string& prefix, const std::string& parent = "/tmp/") {
    std::string templ = parent;
    if (!templ.empty() && templ.back() != '/') templ += '/';
    templ += prefix + "XXXXXX";
    if (mkdtemp(&templ[0]) != nullptr) path_ = templ + "/";
  }
  ~ScratchDir() {
    const std::string path = path_;
    if (std::error_code ec = remove())
      std::fprintf(stderr, "cannot remove %s: %s\n", path.c_str(), ec.message().c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory, with a trailing "/"; empty when it could not be made or is removed.
  const std::string& path() const { return path_; }

  // Removes the directory and everything in it now; later calls do nothing.
  std::error_code remove() {
    if (path_.empty()) return {};
    std::error_code ec = removeTree(path_);
    path_.clear();
    return ec;
  }

 private:
  std::string path_;
};

}  // namespace vdtest

#endif  // VENDRITHANE_TESTS_HELPERS_SCRATCHDIR_H

// File services: existence, attributes, permissions, copy, move, delete, sizes and paths.
// Attributes come from stat(), never from opening the file: closing any descriptor of a
// catalog file would drop the engine's locks on it.
#ifndef VENDRITHANE_PLATFORM_FILES_H
#define VENDRITHANE_PLATFORM_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

bool fileExists(const std::string& path);
// True when the owner write bit is clear (false for a missing file).
bool fileIsReadOnly(const std::string& path);
// Clears every write bit (readOnly) or adds the owner write bit. 0 or StatusPermissionFailed.
Status setFileReadOnly(const std::string& path, bool readOnly);

// Copies `from` to `to` with the source's permission bits. With failIfExists an existing
// target is left alone and the copy fails. A failed copy leaves no partial target behind.
// 0 or StatusCopyFailed (also when both names are one file).
Status copyFile(const std::string& from, const std::string& to, bool failIfExists);
// Renames `from` to `to`, replacing the target; across devices copies then deletes.
// 0 or StatusCopyFailed.
Status moveFile(const std::string& from, const std::string& to);
// A second name `to` for the file `from` (a hard link; a copy where the file system has no
// links), so that `from` can be replaced while its content stays under `to`. An existing
// `to` is never replaced. 0 or StatusCopyFailed.
Status linkFile(const std::string& from, const std::string& to);
// 0 or StatusDeleteFailed (a missing file counts as a failure).
Status deleteFile(const std::string& path);
// Writes `data` as the whole file at `path` (made with owner access, or emptied first).
// Returns 0, or 13 when it could not be written completely.
Status writeWholeFile(const std::string& path, const std::string& data);

int64_t fileSize(const std::string& path);        // bytes, -1 when it cannot be read
int64_t freeSpace(const std::string& directory);  // bytes available to this user, -1 on failure
// The permission bits of a file, -1 when it does not exist; setFileMode sets them (0 or 13).
int fileMode(const std::string& path);
Status setFileMode(const std::string& path, int mode);
// The device a file or directory lies on, -1 when it cannot be told.
int64_t volumeOf(const std::string& path);
// Flushes a directory's entries (renames and deletions in it) to disk; false on failure.
bool syncDirectory(const std::string& directory);
// The names (without directory) of the entries of `directory` starting with `prefix`.
std::vector<std::string> filesWithPrefix(const std::string& directory, const std::string& prefix);
// Whether the file exists, is not empty and its first byte is not zero (the mark of a
// rollback journal the engine would play back).
bool fileStartsNonZero(const std::string& path);
// The directory part of a path with its trailing "/" ("./" when it has none).
std::string directoryOf(const std::string& path);

// $TMPDIR, else /tmp/, always with a trailing '/'.
std::string tempDirectory();
// The resolved directory (symbolic links, "." and ".." removed) plus the file name; ""
// when the directory does not exist.
std::string fullPath(const std::string& path);
// The resolved path of an existing file (symbolic links of the file itself included); ""
// when it does not exist.
std::string resolvedPath(const std::string& path);

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_FILES_H

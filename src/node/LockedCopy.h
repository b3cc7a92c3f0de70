// The locked copy of catalog files: each source is copied while this process holds the
// engine's locks of it as a writer would, so that nobody reads or writes a half-copied
// state and the copy is a committed state of every file together.
#ifndef VENDRITHANE_NODE_LOCKEDCOPY_H
#define VENDRITHANE_NODE_LOCKEDCOPY_H

#include <functional>
#include <string>
#include <vector>

#include "platform/RawFile.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

constexpr long long kPendingByte = 0x40000000;        // the engine's pending-lock byte
constexpr long long kReservedByte = 0x40000001;       // the engine's reserved-lock byte
constexpr long long kSharedRangeOffset = 0x40000002;  // the engine's shared-lock range
constexpr long long kSharedRangeLength = 510;

// One file to copy.
struct CopyPair {
  std::string from;  // the source file
  std::string to;    // the target file
};

// Locks every source in order as the engine's writers do (reserved and pending bytes, then
// the shared range exclusively; a source whose descriptor is read-only takes them shared,
// which keeps writers out as well), copies them in order through the process's shared
// descriptors, unlocks. The first source is waited for; a later one that stays taken makes
// the copy let go of everything and start again, so that it never deadlocks with a writer
// that holds the later file and waits for the earlier one. Copies of one file within the
// process are serialised. A non-empty rollback journal beside a source (a writer killed
// mid-commit) is never copied around: the locks are given up, `rollBack` plays it back
// through a connection, and the copy starts again; a journal still there then (or without
// `rollBack`) fails the copy. The targets are made owner-writable and synced; with
// failIfExists an existing target fails the copy. `opened`, when given, holds the sources
// opened by the caller (in the order of `files`), so that the files copied are those the
// caller looked at even when a rename set replaced the names since; else each attempt opens
// them by name. Returns 0, 11 when a copy failed (its partial target removed) or a source
// could not be locked at all, 81 when a target's permission could not be set, or the status
// of `rollBack`.
Status lockedCopy(const std::vector<CopyPair>& files, bool failIfExists,
                  const std::function<Status()>& rollBack = nullptr,
                  std::vector<platform::RawFile>* opened = nullptr);

// The rollback journal of a catalog file.
std::string journalOf(const std::string& file);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_LOCKEDCOPY_H

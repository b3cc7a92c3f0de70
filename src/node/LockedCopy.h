// The locked copy of catalog files: each source is copied while this process holds the
// engine's shared-lock byte range of it, so that no connection reads or writes a
// half-copied state.
#ifndef VENDRITHANE_NODE_LOCKEDCOPY_H
#define VENDRITHANE_NODE_LOCKEDCOPY_H

#include <string>
#include <vector>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

constexpr long long kSharedRangeOffset = 0x40000002;  // the engine's shared-lock range
constexpr long long kSharedRangeLength = 510;

// One file to copy.
struct CopyPair {
  std::string from;  // the source file
  std::string to;    // the target file
};

// Locks every source in order (waiting until granted), copies them in order, unlocks.
// The targets are made owner-writable. With failIfExists an existing target fails the
// copy. Returns 0, 11 when a copy failed (its partial target removed), 81 when a target's
// permission could not be set. A source whose descriptor is read-only is held with a
// shared lock on the range, which keeps writers out as well.
Status lockedCopy(const std::vector<CopyPair>& files, bool failIfExists);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_LOCKEDCOPY_H

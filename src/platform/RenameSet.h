// RenameSet: files put in place together, so that a process killed at any moment leaves
// either every old file or every new one once the set has been finished. Two renames are
// not atomic together; an intent marker makes them so:
//   1. the caller writes each new file beside its target under a temporary name and syncs it;
//   2. commit() writes the marker, listing every step, and syncs it (the set is decided);
//   3. the removals run, then the renames in the order given (the main file last);
//   4. the directories involved are synced and the marker removed.
// finishRenameSet() completes a set whose marker it finds (after a kill in 3 or 4) and
// removes a marker that was never completely written (a kill in 2: nothing was changed).
// Callers run both under a lock that keeps other users of the same files out (the system
// mutex), and finish a set before looking at its files.
#ifndef VENDRITHANE_PLATFORM_RENAMESET_H
#define VENDRITHANE_PLATFORM_RENAMESET_H

#include <functional>
#include <string>
#include <vector>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

// The infix of a temporary file's name beside its target (target + infix + anything).
constexpr char kRenameTempInfix[] = ".vtmp-";

class RenameSet {
 public:
  explicit RenameSet(std::string marker) : marker_(std::move(marker)) {}

  // The target is replaced by `temp` (written and synced by the caller before commit; its
  // name is the target's followed by kRenameTempInfix).
  void replace(const std::string& temp, const std::string& target) {
    steps_.push_back({temp, target});
  }
  // The target is removed with the set, before any rename (a missing file is no failure).
  void remove(const std::string& target) { steps_.insert(steps_.begin(), {"", target}); }

  // Runs the set. `afterStep`, when given, is called after each removal or rename with its
  // number (from 0): a place for test-only crash points. 0, or 11 when a temporary file is
  // missing or the marker could not be written (nothing changed; the temporary files are
  // deleted) or when a step failed (the set stops there; the marker and the remaining
  // temporary files stay, so that the next finishRenameSet completes the set).
  Status commit(const std::function<void(size_t)>& afterStep = nullptr);
  // Deletes the temporary files of a set that is not to be committed (never after a commit).
  void abandon();

 private:
  struct Step {
    std::string temp;    // the new file; "" for a removal
    std::string target;  // the file replaced or removed
  };
  std::string marker_;       // the intent marker's path
  std::vector<Step> steps_;  // removals first, then the renames in order
};

// Completes the set of `marker` when its marker exists (0 when there was none or it was
// completed, 11 when a step failed: the marker stays, and the caller leaves the set's
// temporary files and files alone); removes a partly written marker. Only steps on `files`
// (the set's targets) and their companions beside them (file + "-...") are run, renames only
// from a temporary name of their target; a marker of another user, or a link, is ignored.
Status finishRenameSet(const std::string& marker, const std::vector<std::string>& files);

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_RENAMESET_H

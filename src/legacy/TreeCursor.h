// In-order walk of one table b-tree of an old file: the entries in key order, each with its
// payload reassembled from the cell and its overflow chain. Every page is checked when the
// walk enters it (cell chain, cell sizes, free blocks, children) and claimed in the walk's
// page bitmap, so that a walk over any file reads each of its pages at most once.
#ifndef VENDRITHANE_LEGACY_TREECURSOR_H
#define VENDRITHANE_LEGACY_TREECURSOR_H

#include <cstdint>
#include <string>
#include <vector>

#include "legacy/PageSource.h"

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

class TreeCursor {
 public:
  static constexpr size_t kMaxDepth = 30;

  // A walk of the tree rooted at `root` of `pages`, which must outlive the cursor.
  TreeCursor(PageSource& pages, uint32_t root);

  // Moves to the next entry. 1: an entry is ready; 0: the walk is over; -1: damage, with a
  // reason in `error` (the cursor then stays at its end).
  int next(std::string& error);

  int32_t rowid() const { return rowid_; }
  // The entry's data (the record), valid until the next call.
  const uint8_t* data() const { return payload_.data() + 4; }
  uint32_t dataSize() const { return static_cast<uint32_t>(payload_.size() - 4); }

 private:
  struct Frame {
    uint32_t page;   // the page number
    uint16_t cell;   // offset of the current cell, 0 once past the last one
    bool leftDone;   // the current cell's left subtree is walked
    bool rightDone;  // the page's right subtree is walked
  };

  bool enter(uint32_t page, std::string& error);
  int fail();  // ends the walk after a damage: -1
  bool checkPage(const uint8_t* p, std::string& error) const;
  bool readPayload(const uint8_t* p, uint16_t cell, std::string& error);

  PageSource& pages_;
  PageSource::Walk walk_;         // the pages this walk has met
  std::vector<Frame> stack_;      // the pages from the root down to the current one
  bool started_ = false;          // the root is entered
  bool done_ = false;             // the walk is over (or failed)
  int32_t rowid_ = 0;             // the current entry's rowid
  std::vector<uint8_t> payload_;  // the current entry's key and data
  uint32_t root_;                 // the tree's root page
};

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LEGACY_TREECURSOR_H

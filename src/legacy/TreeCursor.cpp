// Layout of a b-tree page: u32 right child, u16 first cell, u16 first free block, then cells
// of a 12-byte header (u32 left child, u16 key size low, u16 next cell, key size high byte,
// data size high byte, u16 data size low) and up to 236 payload bytes, plus a u32 overflow
// page when the payload is longer. Overflow pages: u32 next, 1020 payload bytes.
#include "legacy/TreeCursor.h"

#include <cstring>

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

namespace {

constexpr uint32_t kLocalMax = 236;        // payload bytes kept in the cell
constexpr uint32_t kOverflowBytes = 1020;  // payload bytes per overflow page
constexpr uint32_t kMaxCells = 63;         // cells that fit on a page
constexpr uint32_t kUsable = kPageSize - 8;

struct CellHeader {
  uint32_t left;
  uint32_t keySize;
  uint32_t dataSize;
  uint16_t next;
};

CellHeader readCell(const PageSource& s, const uint8_t* p, uint16_t cell) {
  const uint8_t* c = p + cell;
  return CellHeader{s.u32(c), uint32_t(s.u16(c + 4)) + (uint32_t(c[8]) << 16),
                    uint32_t(s.u16(c + 10)) + (uint32_t(c[9]) << 16), s.u16(c + 6)};
}

// Bytes the cell occupies on its page.
uint32_t cellSize(const CellHeader& h) {
  const uint32_t payload = h.keySize + h.dataSize;
  return payload > kLocalMax ? 12 + kLocalMax + 4 : 12 + ((payload + 3) & ~3u);
}

// Whether a cell may start at `cell`: its 12-byte header and 4 payload bytes fit.
bool cellInPage(uint32_t cell) {
  return cell >= 8 && cell <= kPageSize - 16 && cell % 4 == 0;
}

}  // namespace

TreeCursor::TreeCursor(PageSource& pages, uint32_t root) : pages_(pages), root_(root) {
  pages_.beginWalk(walk_, root);
}

bool TreeCursor::checkPage(const uint8_t* p, std::string& error) const {
  const uint32_t right = pages_.u32(p);
  uint32_t used = 0, cells = 0, withChild = 0;
  for (uint16_t cell = pages_.u16(p + 4); cell != 0;) {
    if (++cells > kMaxCells) {
      error = "cell chain too long (or looping)";
      return false;
    }
    if (!cellInPage(cell)) {
      error = "cell offset out of range";
      return false;
    }
    const CellHeader h = readCell(pages_, p, cell);
    const uint32_t size = cellSize(h);
    if (cell + size > kPageSize) {
      error = "cell runs past the end of its page";
      return false;
    }
    if (h.keySize != 4) {
      error = "table key size is not 4";
      return false;
    }
    if (h.left != 0) ++withChild;
    used += size;
    cell = h.next;
  }
  uint32_t freeBlocks = 0;
  for (uint32_t block = pages_.u16(p + 6), last = 0; block != 0;) {
    if (block < 8 || block + 4 > kPageSize || block <= last || ++freeBlocks > kUsable / 4) {
      error = "free block out of range";
      return false;
    }
    const uint32_t size = pages_.u16(p + block);
    if (size < 4 || block + size > kPageSize) {
      error = "free block size out of range";
      return false;
    }
    used += size;
    last = block;
    block = pages_.u16(p + block + 2);
  }
  if ((cells != 0 || freeBlocks != 0) && used != kUsable) {
    error = "cell and free space sizes do not add up to the page";
    return false;
  }
  if (cells == 0 && right != 0) {
    error = "page without cells has a child";
    return false;
  }
  if (withChild != 0 && (withChild != cells || right == 0)) {
    error = "interior page with a missing child";
    return false;
  }
  if (withChild == 0 && right != 0) {
    error = "leaf page with a right child";
    return false;
  }
  return true;
}

bool TreeCursor::enter(uint32_t page, std::string& error) {
  if (stack_.size() >= kMaxDepth) {
    error = "tree deeper than 30 levels";
    return false;
  }
  if (!pages_.claim(walk_, page, error)) return false;
  const uint8_t* p = pages_.page(page, error);
  if (p == nullptr || !checkPage(p, error)) return false;
  stack_.push_back(Frame{page, pages_.u16(p + 4), false, false});
  return true;
}

bool TreeCursor::readPayload(const uint8_t* p, uint16_t cell, std::string& error) {
  const CellHeader h = readCell(pages_, p, cell);
  if (h.keySize != 4 || cell + cellSize(h) > kPageSize) {
    error = "page changed while it was read";
    return false;
  }
  const uint32_t total = h.keySize + h.dataSize;
  const uint32_t local = total > kLocalMax ? kLocalMax : total;
  uint32_t overflow = 0;
  if (total > kLocalMax) {
    // The chain needs one page per 1020 bytes; the file must have that many pages.
    const uint64_t needed = (uint64_t(total - kLocalMax) + kOverflowBytes - 1) / kOverflowBytes;
    if (needed > pages_.pageCount()) {
      error = "payload larger than the file";
      return false;
    }
    overflow = pages_.u32(p + cell + 12 + kLocalMax);
  }
  payload_.resize(total);
  std::memcpy(payload_.data(), p + cell + 12, local);
  for (uint32_t have = local; have < total;) {
    if (overflow == 0) {
      error = "overflow chain ends early";
      return false;
    }
    if (overflow < 3) {
      error = "overflow page out of range";
      return false;
    }
    if (!pages_.claim(walk_, overflow, error)) return false;
    const uint8_t* o = pages_.page(overflow, error);
    if (o == nullptr) return false;
    const uint32_t take = total - have < kOverflowBytes ? total - have : kOverflowBytes;
    std::memcpy(payload_.data() + have, o + 4, take);
    have += take;
    overflow = pages_.u32(o);
  }
  // The key: 4 bytes, big-endian with the sign bit inverted.
  const uint32_t key = (uint32_t(payload_[0]) << 24 | uint32_t(payload_[1]) << 16 |
                        uint32_t(payload_[2]) << 8 | payload_[3]) ^
                       0x80000000u;
  rowid_ = static_cast<int32_t>(key);
  return true;
}

int TreeCursor::next(std::string& error) {
  if (done_) return 0;
  if (!started_) {
    started_ = true;
    if (!enter(root_, error)) return fail();
  }
  while (!stack_.empty()) {
    Frame& top = stack_.back();
    const uint8_t* p = pages_.page(top.page, error);
    if (p == nullptr) return fail();
    if (top.cell != 0) {
      // The page was checked when the walk entered it; a copy read again after leaving the
      // cache is checked where it is used, in case the file changed meanwhile.
      if (!cellInPage(top.cell)) {
        error = "page changed while it was read";
        return fail();
      }
      const CellHeader h = readCell(pages_, p, top.cell);
      if (!top.leftDone) {
        top.leftDone = true;
        if (h.left != 0) {
          if (!enter(h.left, error)) return fail();
        }
        continue;
      }
      const uint16_t cell = top.cell;
      top.cell = h.next;
      top.leftDone = false;
      if (!readPayload(p, cell, error)) return fail();
      return 1;
    }
    if (!top.rightDone) {
      top.rightDone = true;
      const uint32_t right = pages_.u32(p);
      if (right != 0 && !enter(right, error)) return fail();
      continue;
    }
    stack_.pop_back();
  }
  done_ = true;
  walk_.met.clear();
  return 0;
}

int TreeCursor::fail() {
  done_ = true;
  stack_.clear();
  walk_.met.clear();
  return -1;
}

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

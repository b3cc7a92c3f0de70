// The pages of an old file: page 1's checks, the b-tree byte order, a small fixed cache of
// pages read through the platform's file, and the page claims of walks: a page met twice in
// one walk (a cycle, or a page shared by two parts of a tree or two chains) or met by walks
// of two trees is a damage.
#ifndef VENDRITHANE_LEGACY_PAGESOURCE_H
#define VENDRITHANE_LEGACY_PAGESOURCE_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/RawFile.h"

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

constexpr uint32_t kPageSize = 1024;

// A bit per page of a file, in chunks of 32,768 pages (4 KiB) made on first use, so that a
// walk of a few pages of a large (or sparse) file costs little; at most about pageCount / 8
// bytes.
class PageBitmap {
 public:
  // Sets the bit of page `n` (at most `pageCount`, which the caller checks); its value before.
  bool testAndSet(uint32_t n, uint32_t pageCount);
  void clear() { std::vector<std::unique_ptr<uint64_t[]>>().swap(chunks_); }

 private:
  static constexpr uint32_t kChunkPages = 32768;
  std::vector<std::unique_ptr<uint64_t[]>> chunks_;
};

class PageSource {
 public:
  // Opens `path` and checks page 1. False, with a reason in `error`, when the file cannot
  // be opened or read, is shorter than a page, or page 1 is not of this format.
  bool open(const std::string& path, std::string& error);
  void close();

  uint32_t pageCount() const { return pageCount_; }
  uint32_t formatNumber() const { return formatNumber_; }
  bool bigEndian() const { return bigEndian_; }

  // The bytes of page `n` (1..pageCount), valid until the next call; nullptr, with a reason
  // in `error`, when it cannot be read.
  const uint8_t* page(uint32_t n, std::string& error);

  // Integers in the b-tree byte order.
  uint16_t u16(const uint8_t* p) const {
    return bigEndian_ ? static_cast<uint16_t>(p[0] << 8 | p[1])
                      : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  uint32_t u32(const uint8_t* p) const {
    return bigEndian_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                      : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }

  // One walk of a tree with its overflow chains and the pages it has met, so that a walk
  // over any file reads each page at most once.
  struct Walk {
    uint64_t opening = 0;  // the open() the walk belongs to
    uint32_t root = 0;     // the tree's root page
    PageBitmap met;        // the pages met
  };

  // Starts `walk` over the tree rooted at `root`.
  void beginWalk(Walk& walk, uint32_t root);
  // Claims page `n` for `walk`. False, with a reason, when the walk met it already, or when
  // a walk of another tree met it. The second check holds while `walk` is the only walk of
  // its tree begun in this opening: a tree read again, or by two streams at once, meets its
  // own pages again, and only the first walk knows they are not another tree's.
  bool claim(Walk& walk, uint32_t n, std::string& error);

 private:
  // The cache: kSlots blocks of kBlockPages consecutive pages each, read with one call
  // (overflow chains and tree pages mostly lie next to each other), 128 KiB in all.
  static constexpr uint32_t kBlockPages = 8;
  static constexpr size_t kSlots = 16;
  struct Slot {
    uint32_t block = 0;  // block held plus 1 (pages block*8+1 ...), 0 for none
    uint32_t pages = 0;  // whole pages read into it
    uint64_t used = 0;   // last use, for eviction
    std::array<uint8_t, kPageSize * kBlockPages> bytes;
  };

  platform::RawFile file_;
  uint32_t pageCount_ = 0;     // whole pages in the file
  uint32_t formatNumber_ = 0;  // the catalog's format number (page 1, offset 32)
  bool bigEndian_ = false;     // b-tree byte order
  uint64_t clock_ = 0;         // use counter for the cache
  std::vector<Slot> slots_;    // kSlots entries once open
  uint64_t opening_ = 0;       // counts open() calls, for the walks
  PageBitmap met_;             // the pages any walk of this opening met
  std::vector<std::pair<uint32_t, uint32_t>> walks_;  // per tree root: walks begun
};

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LEGACY_PAGESOURCE_H

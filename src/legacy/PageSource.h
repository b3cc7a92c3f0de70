// The pages of an old file: page 1's checks, the b-tree byte order, a small fixed cache of
// pages read through the platform's file, and the page claims that make a page met twice in
// one pass (a cycle, or a page shared by two trees or chains) a damage.
#ifndef VENDRITHANE_LEGACY_PAGESOURCE_H
#define VENDRITHANE_LEGACY_PAGESOURCE_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/RawFile.h"

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

constexpr uint32_t kPageSize = 1024;

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

  // Starts a pass over the tree rooted at `root` (with its overflow chains); returns its id.
  uint32_t beginPass(uint32_t root);
  // Claims page `n` for pass `pass`. False, with a reason, when the pass met it already or
  // another tree's pass did.
  bool claim(uint32_t pass, uint32_t n, std::string& error);

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
  // Per page, the pass that last claimed it (0 for none), in chunks of kChunk pages made on
  // first use, so that only pages really read cost memory, whatever the file's size.
  static constexpr uint32_t kChunk = 4096;
  std::vector<std::unique_ptr<uint32_t[]>> claims_;
  std::vector<uint32_t> passRoots_;  // per pass id: the root of its tree
};

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LEGACY_PAGESOURCE_H

#include "legacy/PageSource.h"

#include <algorithm>
#include <cstring>

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

bool PageBitmap::testAndSet(uint32_t n, uint32_t pageCount) {
  if (chunks_.empty()) chunks_.resize(pageCount / kChunkPages + 1);
  std::unique_ptr<uint64_t[]>& chunk = chunks_[n / kChunkPages];
  if (!chunk) chunk.reset(new uint64_t[kChunkPages / 64]());
  uint64_t& word = chunk[n % kChunkPages / 64];
  const uint64_t bit = uint64_t(1) << (n % 64);
  const bool was = (word & bit) != 0;
  word |= bit;
  return was;
}

bool PageSource::open(const std::string& path, std::string& error) {
  close();
  file_ = platform::RawFile(path);
  if (!file_.valid()) {
    error = "cannot open the file";
    return false;
  }
  const int64_t size = file_.size();
  if (size < 0) {
    error = "cannot read the file size";
    close();
    return false;
  }
  if (size < static_cast<int64_t>(kPageSize)) {
    error = "file shorter than one page";
    close();
    return false;
  }
  const int64_t pages = size / kPageSize;
  pageCount_ = pages > INT32_MAX ? INT32_MAX : static_cast<uint32_t>(pages);
  slots_.resize(kSlots);
  ++opening_;
  const uint8_t* first = page(1, error);
  if (first == nullptr) {
    close();
    return false;
  }
  if (std::memcmp(first, "Vendrithane4", 13) != 0) {
    error = "page 1: not the header string of this format";
    close();
    return false;
  }
  static const uint8_t kLittle[4] = {0x28, 0x75, 0xE3, 0xDA};
  static const uint8_t kBig[4] = {0xDA, 0xE3, 0x75, 0x28};
  if (std::memcmp(first + 16, kLittle, 4) == 0) {
    bigEndian_ = false;
  } else if (std::memcmp(first + 16, kBig, 4) == 0) {
    bigEndian_ = true;
  } else {
    error = "page 1: bad b-tree magic";
    close();
    return false;
  }
  formatNumber_ = u32(first + 32);
  return true;
}

void PageSource::close() {
  file_.reset();
  pageCount_ = 0;
  formatNumber_ = 0;
  slots_.clear();
  met_.clear();
  walks_.clear();
}

const uint8_t* PageSource::page(uint32_t n, std::string& error) {
  if (n == 0 || n > pageCount_) {
    error = "page number beyond the file";
    return nullptr;
  }
  const uint32_t block = (n - 1) / kBlockPages;
  const uint32_t index = (n - 1) % kBlockPages;
  Slot* victim = nullptr;
  for (Slot& s : slots_) {
    if (s.block == block + 1 && index < s.pages) {
      s.used = ++clock_;
      return s.bytes.data() + size_t(index) * kPageSize;
    }
    if (victim == nullptr || s.used < victim->used) victim = &s;
  }
  if (victim == nullptr) {
    error = "file not open";
    return nullptr;
  }
  victim->block = 0;
  const uint32_t want = std::min(kBlockPages, pageCount_ - block * kBlockPages);
  const int64_t got = file_.readAt(int64_t(block) * kBlockPages * kPageSize, victim->bytes.data(),
                                   size_t(want) * kPageSize);
  if (got < int64_t(index + 1) * kPageSize) {
    error = "short read (file truncated or unreadable)";
    return nullptr;
  }
  victim->block = block + 1;
  victim->pages = static_cast<uint32_t>(got / kPageSize);
  victim->used = ++clock_;
  return victim->bytes.data() + size_t(index) * kPageSize;
}

void PageSource::beginWalk(Walk& walk, uint32_t root) {
  walk.opening = opening_;
  walk.root = root;
  walk.met.clear();
  for (auto& w : walks_) {
    if (w.first == root) {
      ++w.second;
      return;
    }
  }
  walks_.emplace_back(root, 1);
}

bool PageSource::claim(Walk& walk, uint32_t n, std::string& error) {
  if (walk.opening != opening_ || pageCount_ == 0) {
    error = "walk of a file closed or opened again";
    return false;
  }
  if (n < 2 || n > pageCount_) {
    error = "page number out of range";
    return false;
  }
  if (walk.met.testAndSet(n, pageCount_)) {
    error = "page met twice in one walk (a cycle)";
    return false;
  }
  const bool metBefore = met_.testAndSet(n, pageCount_);
  if (metBefore) {
    for (const auto& w : walks_) {
      if (w.first == walk.root && w.second == 1) {
        error = "page shared by two trees";
        return false;
      }
    }
  }
  return true;
}

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

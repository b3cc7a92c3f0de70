#include "legacy/PageSource.h"

#include <algorithm>
#include <cstring>

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

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
  claims_.resize(pageCount_ / kChunk + 1);
  passRoots_.assign(1, 0);
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
  claims_.clear();
  passRoots_.clear();
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

uint32_t PageSource::beginPass(uint32_t root) {
  passRoots_.push_back(root);
  return static_cast<uint32_t>(passRoots_.size() - 1);
}

bool PageSource::claim(uint32_t pass, uint32_t n, std::string& error) {
  if (pass == 0 || pass >= passRoots_.size()) {
    error = "walk of a file opened again";
    return false;
  }
  if (n < 2 || n > pageCount_) {
    error = "page number out of range";
    return false;
  }
  std::unique_ptr<uint32_t[]>& chunk = claims_[n / kChunk];
  if (!chunk) chunk.reset(new uint32_t[kChunk]());
  uint32_t& claimed = chunk[n % kChunk];
  const uint32_t previous = claimed;
  if (previous == pass) {
    error = "page met twice in one tree (a cycle)";
    return false;
  }
  if (previous != 0 && passRoots_[previous] != passRoots_[pass]) {
    error = "page shared by two trees";
    return false;
  }
  claimed = pass;
  return true;
}

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

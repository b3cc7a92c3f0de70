// Reading a fuzz input piece by piece: bytes, small integers and length-prefixed texts, with
// zeros (or empty texts) once the input is used up, so that every input is a valid program
// for the targets that interpret their bytes as steps. And the targets' invariant check,
// which names the broken invariant and aborts (a finding for the fuzzer).
#ifndef VENDRITHANE_TESTS_FUZZ_FUZZINPUT_H
#define VENDRITHANE_TESTS_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define VDFUZZ_CHECK(condition) \
  ((condition) ? (void)0 : vdfuzz::invariantBroken(__FILE__, __LINE__, #condition))

namespace vdfuzz {

[[noreturn]] inline void invariantBroken(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size)
      : data_(reinterpret_cast<const char*>(data)), size_(size) {}

  bool empty() const { return pos_ >= size_; }
  size_t remaining() const { return size_ - pos_; }

  uint8_t byte() { return empty() ? 0 : static_cast<uint8_t>(data_[pos_++]); }

  // Little-endian, `n` bytes (at most 4).
  uint32_t number(int n) {
    uint32_t value = 0;
    for (int k = 0; k < n; ++k) value |= uint32_t(byte()) << (8 * k);
    return value;
  }

  // The next `n` bytes, fewer when the input ends first.
  std::string_view take(size_t n) {
    const size_t count = n < remaining() ? n : remaining();
    std::string_view out(data_ + pos_, count);
    pos_ += count;
    return out;
  }

  // A text whose length is the next byte.
  std::string_view text() { return take(byte()); }

  // Everything not read yet.
  std::string_view rest() { return take(remaining()); }

 private:
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace vdfuzz

#endif  // VENDRITHANE_TESTS_FUZZ_FUZZINPUT_H

// The String text type. The file is organised as: storage helpers (blocks, terminators,
// aliasing), construction and assignment, access and conversion, comparison and searching,
// editing, formatting and capacity, substrings and concatenation.
//
// Storage: texts of up to 41 bytes start in the inline buffer; longer ones in a malloc'ed
// block of exactly length + 2 bytes. A block grows only to the exact size needed and never
// shrinks except through resize() and empty(). Every check runs before the first change,
// so a thrown Status leaves the object as it was.
#include "vendrithane/String.h"

#include <cassert>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "types/StringUtf.h"
#include "types/XmlEscape.h"

// The two zero bytes after the text; callers may write through operator char*(), so the
// operations that read the text check it in debug builds.
#define VD_ASSERT_TERMINATED() assert(m_text[m_length] == 0 && m_text[m_length + 1] == 0)

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr uint64_t kMaxLength = 0xFFFFFFFDu;  // longest text whose block size fits 32 bits
constexpr uint32_t kFormatStart = 256;        // first block size tried by format()

// n as a text length; lengths whose block (n + 2) would not fit in 32 bits throw 37.
uint32_t checkedLength(uint64_t n) {
  if (n > kMaxLength) throw StatusOutOfBounds;
  return static_cast<uint32_t>(n);
}

// A block of `size` bytes from malloc; bad_alloc when there is none.
char* allocate(uint64_t size) {
  void* p = std::malloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return static_cast<char*>(p);
}

// Membership table of the bytes of a zero-terminated set; a null set is empty.
class ByteSet {
 public:
  explicit ByteSet(const char* set) {
    std::memset(m_has, 0, sizeof m_has);
    if (set == nullptr) return;
    for (; *set != 0; ++set) m_has[static_cast<unsigned char>(*set)] = true;
  }
  bool contains(char c) const { return m_has[static_cast<unsigned char>(c)]; }

 private:
  bool m_has[256];  // true for each byte value of the set
};

// Number of leading / trailing bytes of p[0..n) that satisfy pred.
template <typename Pred>
uint32_t leadingRun(const char* p, uint32_t n, Pred pred) {
  uint32_t k = 0;
  while (k < n && pred(p[k])) ++k;
  return k;
}
template <typename Pred>
uint32_t trailingRun(const char* p, uint32_t n, Pred pred) {
  uint32_t k = 0;
  while (k < n && pred(p[n - 1 - k])) ++k;
  return k;
}

int sign(int v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

int lowerAscii(char c) {
  const int u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

// strcasecmp in the C locale, whatever the host's locale: ASCII letters fold to lower case,
// other bytes compare as unsigned values.
int compareFolded(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = lowerAscii(*a);
    const int cb = lowerAscii(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

// Reads the n bytes at p, an optional sign followed by digits, as a 64-bit value. False
// when the value does not fit in 64 bits.
bool parseDecimal(const char* p, uint32_t n, long long* value) {
  const bool negative = n > 0 && p[0] == '-';
  uint32_t k = (n > 0 && (p[0] == '-' || p[0] == '+')) ? 1 : 0;
  const uint64_t limit = negative ? uint64_t(LLONG_MAX) + 1 : uint64_t(LLONG_MAX);
  uint64_t magnitude = 0;
  for (; k < n; ++k) {
    const unsigned digit = static_cast<unsigned>(p[k] - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) {
    *value = static_cast<long long>(magnitude);
  } else if (magnitude == uint64_t(LLONG_MAX) + 1) {
    *value = LLONG_MIN;
  } else {
    *value = -static_cast<long long>(magnitude);
  }
  return true;
}

// Length of a zero-terminated UTF-16 text; 0 for a null pointer.
unsigned wideLength(const char16_t* w) {
  if (w == nullptr) return 0;
  const size_t n = std::char_traits<char16_t>::length(w);
  if (n > UINT_MAX) throw StatusOutOfBounds;
  return static_cast<unsigned>(n);
}

// The outcome of formatting into a fresh block.
struct Formatted {
  char* block;        // the text and its terminators, or null on failure
  uint32_t capacity;  // size of the block
  uint32_t length;    // bytes of text
  int failure;        // 0, a Status value, or -1 when memory ran out
};

// The printf-style formatting of fmt in a block that starts at 256 bytes and doubles until
// the text and both terminators fit (a text that fills the block exactly does not fit).
Formatted formatToBlock(const char* fmt, va_list args) {
  uint64_t size = kFormatStart;
  for (;;) {
    char* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr) return {nullptr, 0, 0, -1};
    va_list attempt;
    va_copy(attempt, args);
    const int n = std::vsnprintf(block, size, fmt, attempt);
    va_end(attempt);
    if (n < 0) {  // an output error (an unconvertible wide character), not a short block
      std::free(block);
      return {nullptr, 0, 0, StatusUnsupported};
    }
    if (uint64_t(n) + 2 <= size) {
      block[n] = 0;
      block[n + 1] = 0;
      return {block, static_cast<uint32_t>(size), static_cast<uint32_t>(n), 0};
    }
    std::free(block);
    while (size < uint64_t(n) + 2) size *= 2;  // the doublings the text needs, at once
    if (size > UINT32_MAX) return {nullptr, 0, 0, StatusOutOfBounds};
  }
}

}  // namespace

// ---- Storage helpers ----

void String::initEmpty() {
  m_text = m_inline;
  m_length = 0;
  m_capacity = kInlineCapacity;
  m_inline[0] = 0;
  m_inline[1] = 0;
}

void String::releaseBlock() {
  if (!isInline()) std::free(m_text);
  initEmpty();
}

void String::install(char* block, uint32_t capacity, uint32_t length) {
  if (!isInline()) std::free(m_text);
  m_text = block;
  m_capacity = capacity;
  m_length = length;
  terminate();
}

void String::terminate() {
  assert(uint64_t(m_length) + 2 <= m_capacity);
  m_text[m_length] = 0;
  m_text[m_length + 1] = 0;
}

bool String::overlaps(const char* p, unsigned long long n) const {
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  const uintptr_t b = reinterpret_cast<uintptr_t>(m_text);
  return n != 0 && a < b + m_capacity && b < a + n;
}

void String::assign(const char* p, unsigned long long n) {
  const uint32_t length = checkedLength(n);
  if (uint64_t(length) + 2 > m_capacity) {
    char* block = allocate(uint64_t(length) + 2);
    std::memcpy(block, p, length);
    install(block, length + 2, length);
    return;
  }
  if (length != 0) std::memmove(m_text, p, length);
  m_length = length;
  terminate();
}

void String::splice(uint32_t pos, uint32_t removed, const char* p, unsigned long long n) {
  assert(uint64_t(pos) + removed <= m_length);
  const uint32_t length = checkedLength(uint64_t(m_length) - removed + n);
  const uint32_t tail = m_length - pos - removed;
  if (uint64_t(length) + 2 > m_capacity) {
    // The old block stays valid until install(), so p may point into it.
    char* block = allocate(uint64_t(length) + 2);
    std::memcpy(block, m_text, pos);
    if (n != 0) std::memcpy(block + pos, p, n);
    std::memcpy(block + pos + n, m_text + pos + removed, tail);
    install(block, length + 2, length);
    return;
  }
  std::string kept;  // the inserted bytes, when they lie inside the text that moves
  if (overlaps(p, n)) {
    kept.assign(p, n);
    p = kept.data();
  }
  std::memmove(m_text + pos + n, m_text + pos + removed, tail);
  if (n != 0) std::memcpy(m_text + pos, p, n);
  m_length = length;
  terminate();
}

int String::findBytes(const char* p, unsigned long long n, unsigned start) const {
  assert(start <= m_length);
  if (n == 0) return static_cast<int>(start);
  const void* hit = memmem(m_text + start, m_length - start, p, n);
  return hit == nullptr ? -1 : static_cast<int>(static_cast<const char*>(hit) - m_text);
}

int String::removeAll(const char* p, unsigned n) {
  assert(n != 0 && !overlaps(p, n));
  const char* end = m_text + m_length;
  const char* read = m_text;
  char* write = m_text;
  int count = 0;
  for (;;) {
    // Writing never passes the read position, so the search sees unchanged bytes.
    const char* hit = static_cast<const char*>(memmem(read, end - read, p, n));
    const char* stop = hit != nullptr ? hit : end;
    std::memmove(write, read, stop - read);
    write += stop - read;
    if (hit == nullptr) break;
    read = hit + n;
    ++count;
  }
  m_length = static_cast<uint32_t>(write - m_text);
  terminate();
  return count;
}

int String::replaceBytes(const char* from, unsigned long long nFrom, const char* to,
                         unsigned long long nTo) {
  assert(nFrom != 0);
  std::string fromKept, toKept;  // arguments that lie inside our own block
  if (overlaps(from, nFrom)) from = fromKept.assign(from, nFrom).data();
  if (overlaps(to, nTo)) to = toKept.assign(to, nTo).data();

  const char* end = m_text + m_length;
  uint64_t count = 0;
  for (const char* p = m_text;
       (p = static_cast<const char*>(memmem(p, end - p, from, nFrom))) != nullptr; p += nFrom) {
    ++count;
  }
  if (count == 0) return 0;
  const uint64_t kept = m_length - nFrom * count;
  if (nTo != 0 && count > (kMaxLength - kept) / nTo) throw StatusOutOfBounds;
  const uint32_t length = static_cast<uint32_t>(kept + nTo * count);

  // A longer replacement is built in a fresh block of exactly length + 2 (the inline buffer
  // when the result is short); a shorter or equal one is done in place, left to right.
  const bool fresh = uint64_t(length) + 2 > m_capacity || nTo > nFrom;
  char local[kInlineCapacity];
  char* dest = m_text;
  if (fresh) dest = length <= kInlineMax ? local : allocate(uint64_t(length) + 2);
  const char* read = m_text;
  char* write = dest;
  for (;;) {
    const char* hit = static_cast<const char*>(memmem(read, end - read, from, nFrom));
    const char* stop = hit != nullptr ? hit : end;
    std::memmove(write, read, stop - read);
    write += stop - read;
    if (hit == nullptr) break;
    if (nTo != 0) std::memcpy(write, to, nTo);
    write += nTo;
    read = hit + nFrom;
  }
  if (!fresh) {
    m_length = length;
    terminate();
  } else if (dest == local) {
    releaseBlock();
    std::memcpy(m_inline, local, length);
    m_length = length;
    terminate();
  } else {
    install(dest, length + 2, length);
  }
  return static_cast<int>(count);
}

// ---- Construction and assignment ----

String::String() {
  initEmpty();
}

String::String(unsigned n) {
  initEmpty();
  if (n > kInlineMax) {
    const uint32_t room = checkedLength(n);
    m_text = allocate(uint64_t(room) + 2);
    m_capacity = room + 2;
    terminate();
  }
}

String::String(char c, unsigned n) : String(n) {
  std::memset(m_text, c, n);
  m_length = n;
  terminate();
}

String::String(const String& other) : String() {
  assign(other.m_text, other.m_length);
}

String::String(String&& other) noexcept {
  initEmpty();
  takeFrom(other);
}

void String::takeFrom(String& other) noexcept {
  if (other.isInline()) {
    std::memcpy(m_inline, other.m_inline, other.m_length + 2);
    m_length = other.m_length;
  } else {
    m_text = other.m_text;
    m_length = other.m_length;
    m_capacity = other.m_capacity;
  }
  other.initEmpty();
}

String::String(const char* s) : String() {
  if (s != nullptr) assign(s, std::strlen(s));
}

String::String(char* s) : String(static_cast<const char*>(s)) {}

String::String(const char* s, unsigned n) : String() {
  if (n == 0) return;
  if (s == nullptr) throw StatusOutOfBounds;  // n bytes of nothing
  assign(s, n);
}

String::String(const char16_t* w) : String(w, wideLength(w)) {}

String::String(char16_t* w) : String(static_cast<const char16_t*>(w)) {}

String::String(const char16_t* w, unsigned n) : String() {
  if (n == 0) return;
  if (w == nullptr) throw StatusOutOfBounds;
  // Room for the longest conversion, 3 bytes a unit, decided before converting.
  const uint64_t room = uint64_t(n) * utf::kMaxUnitBytes + 2;
  if (room > UINT32_MAX) throw StatusOutOfBounds;
  if (room > kInlineCapacity) {
    m_text = allocate(room);
    m_capacity = static_cast<uint32_t>(room);
  }
  uint32_t length = 0;
  for (unsigned k = 0; k < n; ++k) length += utf::encodeUnit(w[k], m_text + length);
  m_length = length;
  terminate();
}

String::String(int value, const char* format) : String() {
  if (format == nullptr) return;
  const int n = std::snprintf(m_inline, kInlineCapacity, format, value);
  if (n < 0) throw StatusUnsupported;
  if (n <= static_cast<int>(kInlineMax)) {
    m_length = static_cast<uint32_t>(n);
    terminate();
    return;
  }
  // Too long for the inline buffer: format again, whole, into a block of length + 2.
  char* block = allocate(uint64_t(n) + 2);
  std::snprintf(block, size_t(n) + 1, format, value);
  install(block, static_cast<uint32_t>(n) + 2, static_cast<uint32_t>(n));
}

String::~String() {
  if (!isInline()) std::free(m_text);
}

String& String::operator=(const String& other) {
  if (other.m_text != m_text) assign(other.m_text, other.m_length);
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (&other == this) return *this;
  releaseBlock();
  takeFrom(other);
  return *this;
}

String& String::operator=(char c) {
  assign(&c, 1);
  return *this;
}

String& String::operator=(const char* s) {
  if (s == nullptr) {
    releaseBlock();
  } else {
    assign(s, std::strlen(s));
  }
  return *this;
}

String& String::operator=(const unsigned char* s) {
  return *this = reinterpret_cast<const char*>(s);
}

// ---- Access and conversion ----

char String::getByteAt(unsigned i) const {
  if (i >= m_length) throw StatusOutOfBounds;
  return m_text[i];
}

void String::setAt(unsigned i, char c) {
  if (i >= m_length) throw StatusOutOfBounds;
  m_text[i] = c;
}

char16_t String::getAt(unsigned i) const {
  char16_t unit = 0;
  if (utf::decodeAt(m_text, m_length, i, &unit) == 0) throw StatusOutOfBounds;
  return unit;
}

bool String::isNumber() const {
  if (m_length == 0) return false;
  const uint32_t first = (m_text[0] == '+' || m_text[0] == '-') ? 1 : 0;
  for (uint32_t k = first; k < m_length; ++k) {
    if (m_text[k] < '0' || m_text[k] > '9') return false;
  }
  return true;
}

String::operator int() const {
  if (!isNumber()) throw StatusNotNumber;
  long long value = 0;
  if (!parseDecimal(m_text, m_length, &value) || value < INT_MIN || value > INT_MAX) {
    throw StatusNumberTooLarge;
  }
  return static_cast<int>(value);
}

String::operator long long() const {
  if (!isNumber()) throw StatusNotNumber;
  long long value = 0;
  if (!parseDecimal(m_text, m_length, &value)) throw StatusNumberTooLarge;
  return value;
}

char16_t* String::altEncode(Encoding e, unsigned) const {
  if (e != UTF16) throw StatusUnsupported;
  VD_ASSERT_TERMINATED();
  auto* out = static_cast<char16_t*>(std::malloc(2 * size_t(m_length) + 2));
  if (out == nullptr) throw std::bad_alloc();
  size_t characters = 0;
  for (uint32_t k = 0; k < m_length; ++k) {
    if (!utf::isContinuation(m_text[k])) ++characters;
  }
  size_t units = 0;
  if (characters != 0) {
    for (size_t i = 0; i < m_length; ++units) {
      const unsigned step = utf::decodeAt(m_text, m_length, i, &out[units]);
      if (step == 0) {
        std::free(out);
        throw StatusOutOfBounds;
      }
      i += step;
    }
  }
  out[units] = 0;
  return out;
}

String String::toXML() const {
  String out(checkedLength(uint64_t(m_length) + 100));
  escapeXml(m_text, m_length,
            [&out](const char* p, size_t n) { out.splice(out.m_length, 0, p, n); });
  return out;
}

// ---- Comparison and searching ----

int String::compare(const char* s) const {
  VD_ASSERT_TERMINATED();
  if (m_length == 0) return (s == nullptr || *s == 0) ? 0 : -1;
  if (s == nullptr) return 1;
  return sign(std::strcmp(m_text, s));
}

int String::compareNoCase(const char* s) const {
  VD_ASSERT_TERMINATED();
  if (m_length == 0) return (s == nullptr || *s == 0) ? 0 : -1;
  if (s == nullptr) return 1;
  return compareFolded(m_text, s);
}

int String::find(char c) const {
  const void* hit = std::memchr(m_text, c, m_length);
  return hit == nullptr ? -1 : static_cast<int>(static_cast<const char*>(hit) - m_text);
}

int String::find(char c, unsigned start) const {
  if (start >= m_length) throw StatusOutOfBounds;
  const void* hit = std::memchr(m_text + start, c, m_length - start);
  return hit == nullptr ? -1 : static_cast<int>(static_cast<const char*>(hit) - m_text);
}

int String::find(const char* t) const {
  if (m_length == 0) return -1;
  return findBytes(t, t == nullptr ? 0 : std::strlen(t), 0);
}

int String::find(const char* t, unsigned start) const {
  if (start >= m_length) return -1;
  return findBytes(t, t == nullptr ? 0 : std::strlen(t), start);
}

int String::find(char16_t w) const {
  char bytes[utf::kMaxUnitBytes];
  return findBytes(bytes, utf::encodeUnit(w, bytes), 0);
}

int String::find(char16_t w, unsigned start) const {
  if (start >= m_length) return -1;
  char bytes[utf::kMaxUnitBytes];
  return findBytes(bytes, utf::encodeUnit(w, bytes), start);
}

int String::findOneOf(const char* set) const {
  const ByteSet members(set);
  const uint32_t k = leadingRun(m_text, m_length, [&](char c) { return !members.contains(c); });
  return k == m_length ? -1 : static_cast<int>(k);
}

int String::reverseFind(char c) const {
  const void* hit = memrchr(m_text, c, m_length);
  return hit == nullptr ? -1 : static_cast<int>(static_cast<const char*>(hit) - m_text);
}

// ---- Editing ----

int String::insert(unsigned i, char c) {
  if (i >= m_length) throw StatusOutOfBounds;
  splice(i, 0, &c, 1);
  return static_cast<int>(m_length);
}

int String::insert(unsigned i, const char* t) {
  if (i >= m_length) throw StatusOutOfBounds;
  if (t != nullptr) splice(i, 0, t, std::strlen(t));
  return static_cast<int>(m_length);
}

int String::insert(unsigned i, char16_t w) {
  if (i >= m_length) throw StatusOutOfBounds;
  char bytes[utf::kMaxUnitBytes];
  splice(i, 0, bytes, utf::encodeUnit(w, bytes));
  return static_cast<int>(m_length);
}

int String::remove(unsigned i, unsigned n) {
  if (i >= m_length) throw StatusOutOfBounds;
  if (utf::isContinuation(m_text[i])) throw StatusNotBoundary;
  if (uint64_t(i) + n >= m_length) {
    m_length = i;
  } else {
    if (utf::isContinuation(m_text[i + n])) throw StatusNotBoundary;
    std::memmove(m_text + i, m_text + i + n, m_length - i - n);
    m_length -= n;
  }
  terminate();
  return static_cast<int>(m_length);
}

int String::remove(char c) {
  uint32_t kept = 0;
  for (uint32_t k = 0; k < m_length; ++k) {
    if (m_text[k] != c) m_text[kept++] = m_text[k];
  }
  const int removed = static_cast<int>(m_length - kept);
  m_length = kept;
  terminate();
  return removed;
}

int String::remove(char16_t w) {
  char bytes[utf::kMaxUnitBytes];
  return removeAll(bytes, utf::encodeUnit(w, bytes));
}

int String::replace(char a, char b) {
  int count = 0;
  for (uint32_t k = 0; k < m_length; ++k) {
    if (m_text[k] == a) {
      m_text[k] = b;
      ++count;
    }
  }
  terminate();
  return count;
}

int String::replace(const char* from, const char* to) {
  if (from == nullptr || *from == 0) throw StatusEmptyArgument;
  return replaceBytes(from, std::strlen(from), to, to == nullptr ? 0 : std::strlen(to));
}

int String::replace(char16_t a, char16_t b) {
  char from[utf::kMaxUnitBytes];
  char to[utf::kMaxUnitBytes];
  const unsigned nFrom = utf::encodeUnit(a, from);
  return replaceBytes(from, nFrom, to, utf::encodeUnit(b, to));
}

void String::empty() {
  releaseBlock();
}

void String::makeLower() {
  for (uint32_t k = 0; k < m_length; ++k) {
    if (m_text[k] >= 'A' && m_text[k] <= 'Z') m_text[k] = static_cast<char>(m_text[k] + 32);
  }
}

void String::makeUpper() {
  for (uint32_t k = 0; k < m_length; ++k) {
    if (m_text[k] >= 'a' && m_text[k] <= 'z') m_text[k] = static_cast<char>(m_text[k] - 32);
  }
}

void String::trimLeft() {
  trimLeft(' ');
}

void String::trimRight() {
  trimRight(' ');
}

void String::trimLeft(char c) {
  const uint32_t k = leadingRun(m_text, m_length, [c](char b) { return b == c; });
  if (k == 0) return;
  std::memmove(m_text, m_text + k, m_length - k);
  m_length -= k;
  terminate();
}

void String::trimRight(char c) {
  m_length -= trailingRun(m_text, m_length, [c](char b) { return b == c; });
  terminate();
}

void String::trimLeft(const char* set) {
  const ByteSet members(set);
  const uint32_t k = leadingRun(m_text, m_length, [&](char b) { return members.contains(b); });
  if (k == 0) return;
  std::memmove(m_text, m_text + k, m_length - k);
  m_length -= k;
  terminate();
}

void String::trimRight(const char* set) {
  if (set == nullptr || *set == 0) throw StatusEmptyArgument;
  const ByteSet members(set);
  m_length -= trailingRun(m_text, m_length, [&](char b) { return members.contains(b); });
  terminate();
}

String& String::operator+=(const String& s) {
  splice(m_length, 0, s.m_text, s.m_length);
  return *this;
}

String& String::operator+=(char c) {
  splice(m_length, 0, &c, 1);
  return *this;
}

String& String::operator+=(const char* s) {
  if (s != nullptr) splice(m_length, 0, s, std::strlen(s));
  return *this;
}

// ---- Formatting and capacity ----

void String::format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  // The new block is filled before the old one is freed, so the arguments may be this
  // String's own text.
  const Formatted result = formatToBlock(fmt == nullptr ? "" : fmt, args);
  va_end(args);
  if (result.failure == -1) throw std::bad_alloc();
  if (result.failure != 0) throw static_cast<Status>(result.failure);
  install(result.block, result.capacity, result.length);
}

void String::resize(unsigned n) {
  if (n > kInlineMax) {
    const uint32_t room = checkedLength(n);
    if (isInline()) {
      char* block = allocate(uint64_t(room) + 2);
      std::memcpy(block, m_inline, m_length);
      install(block, room + 2, m_length);
    } else if (room >= m_capacity) {
      void* block = std::realloc(m_text, uint64_t(room) + 2);
      if (block == nullptr) throw std::bad_alloc();
      m_text = static_cast<char*>(block);
      m_capacity = room + 2;
    }
    return;
  }
  if (!isInline() && m_length <= kInlineMax) {
    char* block = m_text;
    std::memcpy(m_inline, block, m_length);
    m_text = m_inline;
    m_capacity = kInlineCapacity;
    std::free(block);
    terminate();
  }
}

// ---- Substrings and concatenation ----

String String::left(unsigned n) const {
  if (n > m_length) throw StatusOutOfBounds;
  return String(m_text, n);
}

String String::right(unsigned n) const {
  if (n > m_length) throw StatusOutOfBounds;
  return String(m_text + (m_length - n), n);
}

String String::mid(unsigned start) const {
  if (start > m_length) throw StatusOutOfBounds;
  return String(m_text + start, m_length - start);
}

String String::mid(unsigned start, unsigned n) const {
  if (uint64_t(start) + n > m_length) throw StatusOutOfBounds;
  return String(m_text + start, n);
}

String String::spanIncluding(const char* set) const {
  const ByteSet members(set);
  return String(m_text, leadingRun(m_text, m_length, [&](char c) { return members.contains(c); }));
}

String String::spanExcluding(const char* set) const {
  const ByteSet members(set);
  return String(m_text, leadingRun(m_text, m_length, [&](char c) { return !members.contains(c); }));
}

namespace {

// An empty String with room for exactly a + b bytes.
String sized(uint64_t a, uint64_t b) {
  if (a + b > kMaxLength) throw StatusOutOfBounds;
  return String(static_cast<unsigned>(a + b));
}

}  // namespace

String operator+(const String& a, const String& b) {
  String r = sized(a.length(), b.length());
  r += a;
  r += b;
  return r;
}

String operator+(const String& a, char c) {
  String r = sized(a.length(), 1);
  r += a;
  r += c;
  return r;
}

String operator+(char c, const String& b) {
  String r = sized(1, b.length());
  r += c;
  r += b;
  return r;
}

String operator+(const String& a, const char* b) {
  String r = sized(a.length(), b == nullptr ? 0 : std::strlen(b));
  r += a;
  r += b;
  return r;
}

String operator+(const char* a, const String& b) {
  String r = sized(a == nullptr ? 0 : std::strlen(a), b.length());
  r += a;
  r += b;
  return r;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

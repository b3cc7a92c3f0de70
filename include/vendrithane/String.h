// String: the library's text type. UTF-8 bytes with a byte length, always followed by two
// zero bytes, with an inline buffer for texts of up to 41 bytes. Passed by value; its layout
// (text pointer, length, capacity, 43-byte inline buffer) is part of the binary interface.
//
// Misuse throws a Status value (14, 15, 16, 17, 24 or 37) and leaves the object unchanged;
// so does running out of memory, which throws std::bad_alloc. Lengths above 2^32 - 3 bytes
// cannot be represented and throw 37.
// Positions, counts and lengths are byte counts. Searches return -1 when nothing is found.
// A String is not safe for concurrent modification; distinct objects are independent.
#ifndef VENDRITHANE_STRING_H
#define VENDRITHANE_STRING_H

#include <cstdint>
#include <cstring>

#include "vendrithane/Export.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

class Attribute;
class Element;

class VENDRITHANE_API String {
 public:
  enum Encoding { UTF16 = 0 };  // the only encoding altEncode accepts

  static constexpr unsigned kInlineCapacity = 43;  // inline buffer, terminators included
  static constexpr unsigned kInlineMax = 41;       // longest text kept inline

  // Construction. Narrow texts are copied byte for byte (the caller supplies UTF-8); wide
  // texts are UTF-16 units, each converted to UTF-8 on its own (no surrogate pairing).
  String();                     // empty, inline (as String(41))
  explicit String(unsigned n);  // empty, with room for n bytes
  String(char c, unsigned n);   // n copies of byte c
  String(const String& other);
  String(String&& other) noexcept;  // steals a heap block; other is left empty
  String(const char* s);            // null gives the empty text
  String(char* s);
  String(const char* s, unsigned n);  // exactly n bytes of s; 37 when s is null and n > 0
  String(const char16_t* w);          // zero-terminated UTF-16; null gives the empty text
  String(char16_t* w);
  // n UTF-16 units in a block sized 3n + 2 (inline up to 43); 37 when w is null and n > 0.
  String(const char16_t* w, unsigned n);
  // The text sprintf(format, value) produces. A text longer than 41 bytes is kept whole
  // in a heap block rather than overflowing the inline buffer.
  String(int value, const char* format);
  // The value of an element: a blob element's bytes in memory (empty when none), else the
  // element's text. 37 for a blob too long for a String.
  String(Element& e);
  String(Attribute& a);  // the attribute's text
  ~String();

  String& operator=(const String& other);
  String& operator=(String&& other) noexcept;
  String& operator=(char c);
  String& operator=(const char* s);
  String& operator=(const unsigned char* s);
  String& operator=(const Element& e);    // the element's text (never a blob's bytes)
  String& operator=(const Attribute& a);  // the attribute's text

  // Access.
  const char* buffer() const { return m_text; }
  operator const char*() const { return m_text; }
  operator char*() { return m_text; }
  unsigned length() const { return m_length; }
  unsigned size() const { return m_capacity; }  // bytes allocated, terminators included
  bool isEmpty() const { return m_length == 0; }
  char getByteAt(unsigned i) const;  // 37 when i >= length()
  void setAt(unsigned i, char c);    // 37 when i >= length()
  // The character starting at byte i as one UTF-16 unit; a continuation byte comes back
  // sign-extended (0xFF80 to 0xFFBF). 37 when the character runs past the end.
  char16_t getAt(unsigned i) const;
  char operator[](unsigned i) const { return static_cast<char>(getAt(i)); }
  char operator[](int i) const { return static_cast<char>(getAt(static_cast<unsigned>(i))); }

  // Numbers: an optional sign followed by decimal digits only (a sign alone is 0).
  bool isNumber() const;
  operator int() const;        // 16 when not a number, 17 when outside 32 bits
  operator long long() const;  // 16 when not a number

  // The UTF-16 form in a block from malloc that the caller frees; 24 unless e is UTF16.
  char16_t* altEncode(Encoding e, unsigned unused) const;
  String toXML() const;  // & < > " ' escaped as entities

  // Comparison (-1, 0, 1). An empty String equals a null or empty s.
  int compare(const char* s) const;
  int compareNoCase(const char* s) const;  // ASCII case-insensitive
  bool operator==(const char* s) const { return compare(s) == 0; }
  bool operator!=(const char* s) const { return compare(s) != 0; }
  bool operator<(const char* s) const { return compare(s) < 0; }
  bool operator>(const char* s) const { return compare(s) > 0; }
  bool operator<=(const char* s) const { return compare(s) < 1; }
  bool operator>=(const char* s) const { return compare(s) >= 0; }
  bool operator==(const String& s) const { return compare(s.m_text) == 0; }
  bool operator!=(const String& s) const { return compare(s.m_text) != 0; }
  // Inline for ordered containers; the same order as compare() (both texts are terminated).
  bool operator<(const String& s) const { return std::strcmp(m_text, s.m_text) < 0; }
  bool operator>(const String& s) const { return compare(s.m_text) > 0; }
  bool operator<=(const String& s) const { return compare(s.m_text) < 1; }
  bool operator>=(const String& s) const { return compare(s.m_text) >= 0; }

  // Searching.
  int find(char c) const;
  int find(char c, unsigned start) const;  // 37 when start >= length()
  int find(const char* t) const;
  int find(const char* t, unsigned start) const;
  int find(char16_t w) const;
  int find(char16_t w, unsigned start) const;
  int findOneOf(const char* set) const;
  int reverseFind(char c) const;

  // Editing. The int results are the new length unless said otherwise.
  int insert(unsigned i, char c);  // 37 when i >= length(); append with +=
  int insert(unsigned i, const char* t);
  int insert(unsigned i, char16_t w);
  int remove(unsigned i, unsigned n);             // 37 outside, 15 when cutting inside a character
  int remove(char c);                             // returns the number of bytes removed
  int remove(char16_t w);                         // returns the number of occurrences removed
  int replace(char a, char b);                    // returns the number of bytes replaced
  int replace(const char* from, const char* to);  // returns the count; 14 when from is empty
  int replace(char16_t a, char16_t b);
  void empty();  // back to the empty inline text, heap block freed
  void resize(unsigned n);
  void makeLower();  // ASCII only
  void makeUpper();
  void trimLeft();  // spaces (0x20) only
  void trimRight();
  void trimLeft(char c);
  void trimRight(char c);
  void trimLeft(const char* set);
  void trimRight(const char* set);  // 14 when set is empty
  // Replaces the text by the printf-style formatting; the block starts at 256 bytes and
  // doubles until the text and its terminators fit, so size() is that block's size.
  void format(const char* fmt, ...) VENDRITHANE_PRINTF(2, 3);
  String& operator+=(const String& s);
  String& operator+=(char c);
  String& operator+=(const char* s);

  // Substrings.
  String left(unsigned n) const;   // 37 when n > length()
  String right(unsigned n) const;  // 37 when n > length()
  String mid(unsigned start) const;
  String mid(unsigned start, unsigned n) const;
  String spanIncluding(const char* set) const;
  String spanExcluding(const char* set) const;

 private:
  bool isInline() const { return m_text == m_inline; }
  void initEmpty();     // the empty inline text; frees nothing
  void releaseBlock();  // frees a heap block and returns to the empty inline text
  // Takes other's text (its heap block, or a copy of its inline bytes) into this empty
  // inline String; other is left empty.
  void takeFrom(String& other) noexcept;
  void install(char* block, uint32_t capacity, uint32_t length);  // adopts a heap block
  void terminate();  // writes the two zero bytes after the text
  bool overlaps(const char* p, unsigned long long n) const;  // p..p+n inside our block
  // Replaces the text by the n bytes at p (which may lie inside the text).
  void assign(const char* p, unsigned long long n);
  // Replaces `removed` bytes at pos by the n bytes at p (which may lie inside the text),
  // growing to a block of exactly the new length + 2 when needed.
  void splice(uint32_t pos, uint32_t removed, const char* p, unsigned long long n);
  // Removes every occurrence of the n bytes at p; returns the number removed.
  int removeAll(const char* p, unsigned n);
  // Replaces every occurrence of nFrom bytes (not 0) by nTo bytes; returns the count.
  int replaceBytes(const char* from, unsigned long long nFrom, const char* to,
                   unsigned long long nTo);
  // First index at or after start (at most length()) of the n bytes at p; -1 if none.
  int findBytes(const char* p, unsigned long long n, unsigned start) const;

  char* m_text;                    // the inline buffer or a malloc'ed block
  uint32_t m_length;               // bytes of text, terminators not counted
  uint32_t m_capacity;             // bytes of the block m_text designates
  char m_inline[kInlineCapacity];  // storage of texts up to kInlineMax bytes
};

VENDRITHANE_API String operator+(const String& a, const String& b);
VENDRITHANE_API String operator+(const String& a, char c);
VENDRITHANE_API String operator+(char c, const String& b);
VENDRITHANE_API String operator+(const String& a, const char* b);
VENDRITHANE_API String operator+(const char* a, const String& b);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_STRING_H

// Tests of String: the inline/heap thresholds and exact block sizes, UTF-16 conversion and
// decoding, numbers, comparison, searching and editing at character boundaries, the format
// block doubling, and the guards against null pointers, unsigned overflow and the object
// changing when an operation throws.
#include "vendrithane/String.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "helpers/StatusOf.h"

namespace {

using namespace KESTRIN::Vendrithane;

using vdtest::statusOf;

// The text bytes, and whether both terminators follow them.
std::string bytes(const String& s) {
  return std::string(s.buffer(), s.length());
}
bool terminated(const String& s) {
  return s.buffer()[s.length()] == 0 && s.buffer()[s.length() + 1] == 0;
}

const char* const kNull = nullptr;

TEST(StringStorage, InlineUpTo41BytesThenExactHeapBlocks) {
  const std::string t41(41, 'x'), t42(42, 'x');
  for (const String& s : {String(t41.c_str()), String('x', 41), String(t41.c_str(), 41)}) {
    EXPECT_EQ(s.length(), 41u);
    EXPECT_EQ(s.size(), 43u);
    EXPECT_TRUE(terminated(s));
  }
  for (const String& s : {String(t42.c_str()), String('x', 42), String(t42.c_str(), 42)}) {
    EXPECT_EQ(s.length(), 42u);
    EXPECT_EQ(s.size(), 44u);
    EXPECT_TRUE(terminated(s));
  }
  EXPECT_EQ(String().size(), 43u);
  EXPECT_EQ(String(41u).size(), 43u);
  EXPECT_EQ(String(42u).size(), 44u);
  EXPECT_EQ(String(String(t42.c_str())).size(), 44u);

  String s(t41.c_str());
  s += 'y';  // grows to exactly length + 2
  EXPECT_EQ(s.size(), 44u);
  s += "zz";
  EXPECT_EQ(s.size(), 46u);
  s = "ab";  // blocks do not shrink on assignment
  EXPECT_EQ(bytes(s), "ab");
  EXPECT_EQ(s.size(), 46u);
  EXPECT_TRUE(terminated(s));
  s = kNull;  // a null text empties and goes back inline
  EXPECT_EQ(s.size(), 43u);
  s = t42.c_str();
  s.empty();
  EXPECT_TRUE(s.isEmpty());
  EXPECT_EQ(s.size(), 43u);

  const String zeros("a\0b", 3);  // counted bytes survive copies and concatenation
  EXPECT_EQ(bytes(String(zeros)), std::string("a\0b", 3));
  EXPECT_EQ(bytes(zeros + zeros), std::string("a\0ba\0b", 6));
  EXPECT_EQ(zeros.find('b'), 2);
}

TEST(StringStorage, MoveStealsHeapBlocksAndCopiesInlineTexts) {
  String heap('h', 50);
  const char* block = heap.buffer();
  String moved(std::move(heap));
  EXPECT_EQ(moved.buffer(), block);
  EXPECT_EQ(moved.size(), 52u);
  EXPECT_TRUE(heap.isEmpty());
  EXPECT_EQ(heap.size(), 43u);

  String small("abc");
  String target('t', 60);
  target = std::move(small);
  EXPECT_EQ(bytes(target), "abc");
  EXPECT_EQ(target.size(), 43u);
  EXPECT_NE(target.buffer(), small.buffer());
  target = std::move(moved);
  EXPECT_EQ(target.buffer(), block);
}

TEST(StringStorage, IntFormatConstructorNeverOverflowsTheInlineBuffer) {
  EXPECT_EQ(bytes(String(-42, "%d")), "-42");
  EXPECT_EQ(String(7, "%041d").size(), 43u);
  const String wide(7, "value %060d end");  // 70 bytes: kept whole on the heap
  EXPECT_EQ(wide.length(), 70u);
  EXPECT_EQ(wide.size(), 72u);
  EXPECT_EQ(bytes(wide.right(5)), "7 end");
  EXPECT_TRUE(terminated(wide));
  EXPECT_TRUE(String(1, kNull).isEmpty());
}

TEST(StringStorage, NullPointersAndUnrepresentableLengths) {
  EXPECT_TRUE(String(kNull).isEmpty());
  EXPECT_TRUE(String(static_cast<const char16_t*>(nullptr)).isEmpty());
  EXPECT_TRUE(String(kNull, 0).isEmpty());
  EXPECT_EQ(statusOf([] { String(kNull, 3); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([] { String(static_cast<const char16_t*>(nullptr), 2); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([] { String(0xFFFFFFFEu); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([] { String('x', 0xFFFFFFFFu); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([] { String("abc").resize(0xFFFFFFFEu); }), StatusOutOfBounds);

  String s("abc");
  EXPECT_EQ(s.insert(1, kNull), 3);
  s += kNull;
  EXPECT_EQ(s.replace("b", kNull), 1);  // a null replacement deletes
  EXPECT_EQ(bytes(s), "ac");
  EXPECT_EQ(s.find(kNull), 0);
  EXPECT_EQ(s.findOneOf(kNull), -1);
  EXPECT_EQ(bytes(s.spanExcluding(kNull)), "ac");
  EXPECT_TRUE(s.spanIncluding(kNull).isEmpty());
  EXPECT_EQ(bytes(s + kNull), "ac");
  EXPECT_EQ(bytes(kNull + s), "ac");
}

TEST(StringWide, EachUnitIsEncodedOnItsOwn) {
  const char16_t units[] = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
  const String s(units);
  EXPECT_EQ(bytes(s), "A\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(bytes(String(units, 2)), "A\xC3\xA9");
  const char16_t withZero[] = {0x61, 0, 0x62};
  EXPECT_EQ(bytes(String(withZero, 3)), std::string("a\0b", 3));

  // The block is sized for 3 bytes a unit before converting: 13 units fit inline, 14 do not.
  const std::u16string a13(13, u'a'), a14(14, u'a');
  EXPECT_EQ(String(a13.c_str()).size(), 43u);
  const String s14(a14.c_str());
  EXPECT_EQ(s14.length(), 14u);
  EXPECT_EQ(s14.size(), 44u);
  EXPECT_TRUE(terminated(s14));
}

TEST(StringWide, GetAtDecodesOneUnitAndSignExtendsContinuationBytes) {
  const String e(u"\u00e9");
  EXPECT_EQ(e.length(), 2u);
  EXPECT_EQ(e.getAt(0), 0x00E9);
  EXPECT_EQ(e.getAt(1), 0xFFA9);
  EXPECT_EQ(e[0], static_cast<char>(0xE9));
  EXPECT_EQ(String("\xE2\x82\xAC").getAt(0), 0x20AC);
  EXPECT_EQ(String("A").getAt(0), 0x41);
  EXPECT_EQ(statusOf([] { String("\xE2\x82").getAt(0); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([] { String("a\xC3").getAt(1); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([&] { e.getAt(2); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([&] { (void)e[-1]; }), StatusOutOfBounds);
}

TEST(StringWide, AltEncodeProducesMallocedUtf16) {
  const auto encode = [](const String& s) {
    char16_t* w = s.altEncode(String::UTF16, 0);
    std::u16string out(w);
    std::free(w);
    return out;
  };
  EXPECT_EQ(encode(String("a\xC3\xA9\xE2\x82\xAC")), u"a\u00e9\u20ac");
  EXPECT_EQ(encode(String("a\x80")), std::u16string({0x61, 0xFF80}));  // stray continuation
  EXPECT_EQ(encode(String()), u"");
  EXPECT_EQ(statusOf([] { String("ab\xE2\x82").altEncode(String::UTF16, 0); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([] { String("a").altEncode(static_cast<String::Encoding>(1), 0); }),
            StatusUnsupported);
}

TEST(StringWide, SearchAndEditWithUtf16Units) {
  String s("caf\xC3\xA9 caf\xC3\xA9");
  EXPECT_EQ(s.find(u'\u00e9'), 3);
  EXPECT_EQ(s.find(u'\u00e9', 4), 9);
  EXPECT_EQ(s.find(u'\u00e9', 11), -1);
  EXPECT_EQ(s.replace(u'\u00e9', u'\u20ac'), 2);  // 2 bytes by 3: a new exact block
  EXPECT_EQ(bytes(s), "caf\xE2\x82\xAC caf\xE2\x82\xAC");
  EXPECT_EQ(s.remove(u'\u20ac'), 2);
  EXPECT_EQ(s.insert(0, u'\u00e9'), 9);
  EXPECT_EQ(bytes(s),
            "\xC3\xA9"
            "caf caf");
}

TEST(StringNumber, SignedDecimalDigitsOnly) {
  EXPECT_TRUE(String("-").isNumber());
  EXPECT_EQ(static_cast<int>(String("-")), 0);
  EXPECT_EQ(static_cast<int>(String("+17")), 17);
  EXPECT_EQ(static_cast<int>(String("-2147483648")), INT_MIN);
  for (const char* t : {"", " 5", "5 ", "1.5", "1e3", "--1", "0x1"}) {
    EXPECT_FALSE(String(t).isNumber()) << t;
    EXPECT_EQ(statusOf([t] { (void)static_cast<int>(String(t)); }), StatusNotNumber) << t;
    EXPECT_EQ(statusOf([t] { (void)static_cast<long long>(String(t)); }), StatusNotNumber) << t;
  }
  EXPECT_EQ(statusOf([] { (void)static_cast<int>(String("2147483648")); }), StatusNumberTooLarge);
  EXPECT_EQ(static_cast<long long>(String("2147483648")), 2147483648LL);
  EXPECT_EQ(static_cast<long long>(String("-9223372036854775808")), LLONG_MIN);
  EXPECT_EQ(statusOf([] { (void)static_cast<long long>(String("9223372036854775808")); }),
            StatusNumberTooLarge);
  EXPECT_EQ(statusOf([] { (void)static_cast<int>(String("99999999999999999999")); }),
            StatusNumberTooLarge);
}

TEST(StringCompare, EmptyNullBytesAndAsciiFolding) {
  const String empty;
  EXPECT_EQ(empty.compare(kNull), 0);
  EXPECT_EQ(empty.compare(""), 0);
  EXPECT_EQ(empty.compare("a"), -1);
  EXPECT_EQ(String("a").compare(kNull), 1);
  EXPECT_EQ(String("a").compare(""), 1);
  EXPECT_EQ(String("\xC3").compare("z"), 1);  // bytes compare unsigned
  EXPECT_EQ(String("abc").compare("abd"), -1);
  EXPECT_TRUE(String("b") < "c" && String("b") <= "b" && String("b") >= String("b"));
  EXPECT_TRUE(String("b") != String("B") && String("b") > String("B"));
  EXPECT_EQ(String("HeLLo").compareNoCase("hello"), 0);
  EXPECT_EQ(String("_").compareNoCase("A"), -1);        // folds to lower case, as strcasecmp
  EXPECT_EQ(String("\xC9").compareNoCase("\xE9"), -1);  // no folding outside ASCII
  EXPECT_EQ(empty.compareNoCase(kNull), 0);
}

TEST(StringSearch, PositionsStartsAndNotFound) {
  const String s("abcabc");
  EXPECT_EQ(s.find('a', 0), 0);
  EXPECT_EQ(s.find('a', 1), 3);
  EXPECT_EQ(statusOf([&] { s.find('a', 6); }), StatusOutOfBounds);
  EXPECT_EQ(s.find("bc", 2), 4);
  EXPECT_EQ(s.find("bc", 6), -1);
  EXPECT_EQ(s.find("cab"), 2);
  EXPECT_EQ(s.find("abcd"), -1);
  EXPECT_EQ(String().find("a"), -1);
  EXPECT_EQ(String().find('a'), -1);
  EXPECT_EQ(s.findOneOf("xc"), 2);
  EXPECT_EQ(s.findOneOf("xyz"), -1);
  EXPECT_EQ(s.reverseFind('a'), 3);
  EXPECT_EQ(s.reverseFind('z'), -1);
}

TEST(StringEdit, InsertAndRemoveRespectCharacterBoundaries) {
  String s("abc");
  EXPECT_EQ(statusOf([&] { s.insert(3, 'x'); }), StatusOutOfBounds);
  EXPECT_EQ(s.insert(0, s.buffer() + 1), 5);  // the inserted text is our own, and moves
  EXPECT_EQ(bytes(s), "bcabc");
  String h('h', 42);
  h.insert(0, h.buffer() + 40);  // grows while reading from the old block
  EXPECT_EQ(bytes(h), std::string(44, 'h'));
  EXPECT_EQ(h.size(), 46u);

  String e(
      "\xC3\xA9"
      "a");
  EXPECT_EQ(statusOf([&] { e.remove(1, 1); }), StatusNotBoundary);  // starts inside
  EXPECT_EQ(statusOf([&] { e.remove(0, 1); }), StatusNotBoundary);  // ends inside
  EXPECT_EQ(statusOf([&] { e.remove(3, 1); }), StatusOutOfBounds);
  EXPECT_EQ(e.remove(0, 2), 1);
  EXPECT_EQ(bytes(e), "a");
  String cut("abcdef");
  EXPECT_EQ(cut.remove(2, 0xFFFFFFFFu), 2);  // i + n wrapping still cuts at i
  EXPECT_EQ(bytes(cut), "ab");
  EXPECT_TRUE(terminated(cut));
  String r("a-b-c");
  EXPECT_EQ(r.remove('-'), 2);
  EXPECT_EQ(bytes(r), "abc");
  EXPECT_EQ(r.replace('b', 'x'), 1);
  EXPECT_EQ(bytes(r), "axc");
}

TEST(StringEdit, ReplaceGrowsIntoExactBlocksAndShrinksInPlace) {
  String s("aaa");
  EXPECT_EQ(s.replace("aa", "b"), 1);
  EXPECT_EQ(bytes(s), "ba");
  EXPECT_EQ(statusOf([&] { s.replace("", "x"); }), StatusEmptyArgument);
  EXPECT_EQ(statusOf([&] { s.replace(kNull, "x"); }), StatusEmptyArgument);
  EXPECT_EQ(s.replace("z", "y"), 0);

  String shrink(std::string(100, 'a').c_str());
  const char* block = shrink.buffer();
  EXPECT_EQ(shrink.replace("aa", "b"), 50);
  EXPECT_EQ(shrink.buffer(), block);  // in place
  EXPECT_EQ(shrink.size(), 102u);
  EXPECT_EQ(bytes(shrink), std::string(50, 'b'));

  String grow(200u);  // room enough, but a longer replacement takes a new exact block
  grow += std::string(50, 'a').c_str();
  EXPECT_EQ(grow.replace("a", "bb"), 50);
  EXPECT_EQ(bytes(grow), std::string(100, 'b'));
  EXPECT_EQ(grow.size(), 102u);
  EXPECT_TRUE(terminated(grow));
  String small("axa");
  EXPECT_EQ(small.replace("x", "yyy"), 1);
  EXPECT_EQ(bytes(small), "ayyya");
  EXPECT_EQ(small.size(), 43u);

  String self("abcabc");  // arguments inside the text itself
  EXPECT_EQ(self.replace(self.buffer() + 3, self.buffer() + 5), 2);
  EXPECT_EQ(bytes(self), "cc");
  String front("ab\0abab", 7);  // the search text is the first bytes overwritten in place
  EXPECT_EQ(front.replace(front.buffer(), "c"), 3);
  EXPECT_EQ(bytes(front), std::string("c\0cc", 4));
}

TEST(StringEdit, TrimsAndAsciiCase) {
  String s("  a\t ");
  s.trimRight();
  EXPECT_EQ(bytes(s), "  a\t");
  s.trimLeft();
  EXPECT_EQ(bytes(s), "a\t");
  String t("\t a");
  t.trimLeft();
  EXPECT_EQ(bytes(t), "\t a");
  String x("xxaxx");
  x.trimLeft('x');
  x.trimRight('x');
  EXPECT_EQ(bytes(x), "a");
  String set("xyaxy");
  set.trimLeft("");
  set.trimLeft(kNull);
  EXPECT_EQ(bytes(set), "xyaxy");
  set.trimLeft("yx");
  set.trimRight("yx");
  EXPECT_EQ(bytes(set), "a");
  EXPECT_TRUE(terminated(set));
  EXPECT_EQ(statusOf([&] { set.trimRight(""); }), StatusEmptyArgument);
  EXPECT_EQ(statusOf([&] { set.trimRight(kNull); }), StatusEmptyArgument);
  String c("aZ\xC3\xA9");
  c.makeUpper();
  EXPECT_EQ(bytes(c), "AZ\xC3\xA9");
  c.makeLower();
  EXPECT_EQ(bytes(c), "az\xC3\xA9");
}

TEST(StringFormat, BlockDoublesUntilTextAndTerminatorsFit) {
  String s;
  const struct {
    unsigned length;
    unsigned size;
  } kCases[] = {{0, 256}, {254, 256}, {255, 512}, {256, 512}, {300, 512}, {1000, 1024}};
  for (const auto& c : kCases) {
    s.format("%*s", static_cast<int>(c.length), "");
    EXPECT_EQ(s.length(), c.length);
    EXPECT_EQ(s.size(), c.size) << c.length;
    EXPECT_TRUE(terminated(s));
  }
  s.format("%d-%s", 12, "ab");
  EXPECT_EQ(bytes(s), "12-ab");
  s.format("%s|%s", s.buffer(), s.buffer());  // our own text as an argument
  EXPECT_EQ(bytes(s), "12-ab|12-ab");
  // An output error (a wide character the C locale cannot convert) is refused, not retried.
  EXPECT_EQ(statusOf([&] { s.format("%ls", L"\u00e9"); }), StatusUnsupported);
  EXPECT_EQ(bytes(s), "12-ab|12-ab");
  s.format(kNull);
  EXPECT_TRUE(s.isEmpty());
  EXPECT_EQ(s.size(), 256u);
}

TEST(StringCapacity, ResizeMovesBetweenInlineAndHeap) {
  String s("abc");
  s.resize(41);
  EXPECT_EQ(s.size(), 43u);
  s.resize(100);
  EXPECT_EQ(s.size(), 102u);
  EXPECT_EQ(bytes(s), "abc");
  s.resize(50);  // smaller than the block: nothing changes
  EXPECT_EQ(s.size(), 102u);
  s.resize(102);  // at least the capacity: n + 2
  EXPECT_EQ(s.size(), 104u);
  s.resize(10);  // a short text returns inline
  EXPECT_EQ(s.size(), 43u);
  EXPECT_EQ(bytes(s), "abc");
  String long_('l', 60);
  long_.resize(10);  // a long text stays where it is
  EXPECT_EQ(long_.size(), 62u);
}

TEST(StringSubstring, BoundsAndOverflow) {
  const String s("abcdef");
  EXPECT_EQ(bytes(s.left(6)), "abcdef");
  EXPECT_EQ(bytes(s.right(2)), "ef");
  EXPECT_TRUE(s.mid(6).isEmpty());
  EXPECT_EQ(bytes(s.mid(2, 3)), "cde");
  EXPECT_EQ(statusOf([&] { s.left(7); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([&] { s.right(7); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([&] { s.mid(7); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([&] { s.mid(4, 3); }), StatusOutOfBounds);
  EXPECT_EQ(statusOf([&] { s.mid(4, 0xFFFFFFFDu); }), StatusOutOfBounds);  // would wrap
  EXPECT_EQ(bytes(s.spanIncluding("ba")), "ab");
  EXPECT_EQ(bytes(s.spanExcluding("dc")), "ab");
  EXPECT_EQ(bytes(String("ab").toXML()), "ab");
  EXPECT_EQ(bytes(String("a<b&'c'\"d>\xC3\xA9\x01").toXML()),
            "a&lt;b&amp;&apos;c&apos;&quot;d&gt;\xC3\xA9\x01");
  EXPECT_TRUE(String().toXML().isEmpty());

  const String full('x', 41);
  EXPECT_EQ((full + 'y').size(), 44u);  // concatenations are sized exactly
  EXPECT_EQ(('y' + full).length(), 42u);
  EXPECT_EQ(bytes("ab" + String("cd")), "abcd");
}

TEST(StringFailure, ThrowingLeavesTheObjectUnchanged) {
  String s("\xC3\xA9");
  s += std::string(60, 'z').c_str();
  const std::string before = bytes(s);
  const char* block = s.buffer();
  const std::vector<std::function<void()>> misuse = {
      [&] { s.insert(s.length(), "x"); }, [&] { s.remove(1, 3); },        [&] { s.remove(0, 1); },
      [&] { s.replace("", "x"); },        [&] { s.trimRight(""); },       [&] { s.setAt(62, 'x'); },
      [&] { (void)static_cast<int>(s); }, [&] { s.resize(0xFFFFFFFFu); }, [&] { s.getByteAt(62); },
      [&] { s.find('z', 62); },
  };
  for (size_t k = 0; k < misuse.size(); ++k) {
    EXPECT_NE(statusOf(misuse[k]), StatusOk) << k;
    EXPECT_EQ(bytes(s), before) << k;
    EXPECT_EQ(s.buffer(), block) << k;
    EXPECT_EQ(s.size(), 64u) << k;
    EXPECT_TRUE(terminated(s)) << k;
  }
}

}  // namespace

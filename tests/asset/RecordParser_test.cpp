// The record reader: decoding, the format's own rules, tolerance of malformed records and
// staying inside its input.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "RecordFixture.h"
#include "asset/RecordParser.h"
#include "vendrithane/Asset.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using testing::assetFromRecord;
using testing::recordOf;
using testing::text;
using testing::valueOf;

std::string names(Asset& a) {
  a.nElements();
  std::string out;
  for (const auto& entry : *a.elems()) out += text(entry.first) + ",";
  return out;
}

TEST(RecordParser, SpecialCharactersRoundTrip) {
  Asset a;
  a.element("t") = "<a href=\"x\">Tom & Jerry's</a>";
  a.element("t").attribute("note") = "&amp; stays \"&amp;\" <'>";
  Asset b = assetFromRecord(recordOf(a));
  EXPECT_EQ(valueOf(b, "t"), "<a href=\"x\">Tom & Jerry's</a>");
  EXPECT_EQ(text(String(b.element("t").attribute("note"))), "&amp; stays \"&amp;\" <'>");
  EXPECT_EQ(recordOf(b), recordOf(a));  // a second store writes the same text
}

TEST(RecordParser, FormatRulesForTypes) {
  Asset a;
  a.element("never");  // undef
  a.element("num") = 12;
  a.element("num").attribute("unit") = "cm";
  Asset b = assetFromRecord(recordOf(a));
  EXPECT_EQ(b.element("never").type(), TypeText);
  EXPECT_EQ(b.element("num").type(), TypeInt4);
  EXPECT_FALSE(b.element("num").attributeExists("type"));
  EXPECT_EQ(b.element("num").nAttributes(), 1);

  // A user attribute named "type" is read as the element's type and consumed.
  Asset c = assetFromRecord("<x type=\"time\">5</x><y type=\"bogus\">v</y><z Type=\"int4\">1</z>");
  EXPECT_EQ(c.element("x").type(), TypeTime);
  EXPECT_EQ(c.element("y").type(), TypeUndef);
  EXPECT_EQ(c.element("y").nAttributes(), 0);
  EXPECT_EQ(c.element("z").type(), TypeText);  // attribute names are exact
  EXPECT_TRUE(c.element("z").attributeExists("Type"));
  // Values are not validated on reading; conversions complain later.
  Asset d = assetFromRecord("<n type=\"int4\">abc</n>");
  EXPECT_EQ(d.element("n").type(), TypeInt4);
  EXPECT_THROW((void)static_cast<int>(d.element("n")), Status);
}

TEST(RecordParser, BlobTagsBecomeStoredBlobs) {
  Asset a = assetFromRecord(
      "<f type=\"blob\" mime=\"image/png\" store=\"os\" length=\"-1\" k=\"v\">/p/a&amp;b</f>"
      "<g type=\"blob\" mime=\"a\" store=\"db\" length=\"6000000000\"></g>"
      "<t mime=\"m\" store=\"s\" length=\"l\">x</t>");
  const Blob& f = a.element("f");
  EXPECT_EQ(AssetAccess::impl(f)->location, Blob::LocationFile);
  EXPECT_EQ(text(AssetAccess::impl(f)->url), "/p/a&b");
  EXPECT_EQ(text(AssetAccess::impl(f)->mime), "image/png");
  EXPECT_EQ(AssetAccess::impl(f)->length, kUnknownBlobLength);
  EXPECT_TRUE(AssetAccess::impl(f)->stored);
  EXPECT_EQ(AssetAccess::impl(f)->owner, AssetAccess::impl(a.element("f")));
  EXPECT_EQ(a.element("f").nAttributes(), 1);  // mime, store and length consumed
  const Blob& g = a.element("g");
  EXPECT_EQ(AssetAccess::impl(g)->location, Blob::LocationCatalog);
  EXPECT_EQ(AssetAccess::impl(g)->length, 6000000000ULL);  // beyond 32 bits
  EXPECT_EQ(a.element("t").nAttributes(), 3);              // only blob elements consume them
}

TEST(RecordParser, EntityRules) {
  Asset a = assetFromRecord(
      "<a>x&nbsp;y&#233;&apos;&quot;&gt;&lt;&amp;&ap;&a;</a>"
      "<b>AT&T &amp</b><c>&xbcdefg;|&xbcdefgh;|&&amp;|&;</c><d>end&</d>");
  EXPECT_EQ(valueOf(a, "a"), "xnbspy#233'\"><&'&");
  EXPECT_EQ(valueOf(a, "b"), "AT&T &amp");
  EXPECT_EQ(valueOf(a, "c"), "xbcdefg|&xbcdefgh;|&&|");
  EXPECT_EQ(valueOf(a, "d"), "end&");
}

TEST(RecordParser, LoadsWhatPrecedesTheFirstFault) {
  struct Case {
    const char* record;
    const char* loaded;
  } cases[] = {
      {"<a>1</a><b>2<c>3</c></b><d>4</d>", "a,b,"},  // nested: b was started, c was not
      {"<a>1</a></x><b>2</b>", "a,"},                // end tag without start tag
      {"<a>1</a><b type=\"blob\" mime=\"m\" store=\"zz\" length=\"1\"></b><c/>", "a,"},
      {"<a>1</a><b type=\"blob\" mime=\"m\" store=\"db\" length=\"x\"></b>", "a,"},
      {"<a>1</a><b type=\"blob\" mime=\"m\" store=\"db\"></b>", "a,"},
      {"<a>1</a><b type=\"blob\" store=\"db\" length=\"1\"></b>", "a,"},  // no mime
      {"<a>1</a><b c d=\"1\">2</b>", "a,"},  // attribute name with a space
      {"<a>1</a><>2</>", "a,"},              // empty tag name
      {"<a>1</a><b x>2</b>", "a,"},          // attribute without a value
      {"<a>1</a><b x=1>2</b>", "a,"},        // unquoted value
      {"<a>1</a><b x=\"1>2</b>", "a,"},      // quote left open
      {"<a>1</a><b", "a,"},
      {"<a>1</a><", "a,"},
      {"<a>1</a><b>2</b", "a,b,"},  // end tag cut off: b is empty
      {"junk<a>1</a>more junk<b>2</b>trailing", "a,b,"},
      {"<a>1</a><b>2</b><A x=\"1\">3</A><c>4</c>", "a,b,"},  // a name seen twice
  };
  for (const Case& c : cases) {
    Asset a = assetFromRecord(c.record);
    EXPECT_EQ(names(a), c.loaded) << c.record;
  }
  Asset cut = assetFromRecord("<a>1</a><b>2</b");
  EXPECT_EQ(valueOf(cut, "b"), "");
  // A fault leaves no half-built element: b would be a blob without a blob.
  Asset blob = assetFromRecord("<b type=\"blob\" mime=\"m\" store=\"zz\" length=\"1\"></b>");
  EXPECT_FALSE(blob.elementExists("b"));
}

TEST(RecordParser, KeepsTenAttributesAndStaysInsideItsInput) {
  std::string many = "<e";
  for (int k = 0; k < 14; ++k) many += " a" + std::to_string(k) + "=\"" + std::to_string(k) + "\"";
  many += ">v</e><f>w</f>";
  Asset a = assetFromRecord(many);
  EXPECT_EQ(a.element("e").nAttributes(), 10);
  EXPECT_TRUE(a.element("e").attributeExists("a9"));
  EXPECT_FALSE(a.element("e").attributeExists("a10"));
  EXPECT_EQ(valueOf(a, "f"), "w");

  // Zero bytes are ordinary text; names with them are faults.
  const char withZeros[] = "<a>x\0y</a><b\0>1</b>";
  Asset zeros = assetFromRecord(std::string(withZeros, sizeof withZeros - 1));
  EXPECT_EQ(valueOf(zeros, "a"), std::string("x\0y", 3));
  EXPECT_FALSE(zeros.elementExists("b"));

  // Every prefix of a record ends somewhere inside a construct; none may read past it.
  const std::string record =
      "<t a=\"&amp;&quot;\" b=\"x\">A &amp; B &#1;</t><u type=\"blob\" mime=\"m\" "
      "store=\"os\" length=\"3\">/p</u>";
  for (size_t n = 0; n <= record.size(); ++n) {
    Asset prefix = assetFromRecord(record.substr(0, n));
    EXPECT_LE(prefix.nElements(), 2);
  }
}

TEST(RecordParser, ParsesLazilyAndTheSameWayTwice) {
  const std::string record =
      "<b type=\"int8\">5000000000</b><a x=\"1\" y=\"&lt;\">t</a>"
      "<c type=\"blob\" mime=\"m\" store=\"db\" length=\"3\"></c>";
  Asset first = assetFromRecord(record, 3);
  EXPECT_FALSE(AssetAccess::impl(first)->parsed);
  EXPECT_EQ(first.elems()->size(), 0u);  // elems() does not parse
  EXPECT_TRUE(first.elementExists("A"));
  EXPECT_TRUE(AssetAccess::impl(first)->parsed);
  EXPECT_TRUE(AssetAccess::impl(first)->record.isEmpty());
  Asset second = assetFromRecord(record, 19);  // the same pooled parser
  second.nElements();
  testing::expectSameElements(*first.elems(), *second.elems());
  EXPECT_EQ(recordOf(first), recordOf(second));
}

TEST(RecordParser, NeverWaitsForABusyPooledParser) {
  // The pooled parser's holder waits for an asset this thread keeps locked: parsing another
  // asset of the same pool slot must not wait for that parser (it would wait for ever),
  // whether or not this thread holds that asset's lock too.
  Asset held = assetFromRecord("<h>1</h>", 1);
  Asset other = assetFromRecord("<o>2</o>", 17);
  Asset locked = assetFromRecord("<l>3</l>", 33);
  held.lock();
  std::thread holder([&] { poolParser(1).tryFill(*AssetAccess::impl(held)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(other.nElements(), 1);
  locked.lock();
  EXPECT_EQ(locked.nElements(), 1);
  locked.unlock();
  held.unlock();
  holder.join();
  EXPECT_EQ(held.nElements(), 1);
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN

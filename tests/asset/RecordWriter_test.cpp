// The record XML writer: the exact text, escaping, and the elements it refuses.
#include <gtest/gtest.h>

#include "RecordFixture.h"
#include "helpers/StatusOf.h"
#include "vendrithane/Asset.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using testing::assetFromRecord;
using testing::recordOf;
using testing::text;
using vdtest::statusOf;

TEST(RecordWriter, WritesTheExampleRecordByteForByte) {
  Asset a;
  a.element("count") = 5;
  a.element("size") = 5000000000LL;
  a.element("Title") = "A & B";
  a.element("title").attribute("lang") = "en";
  std::vector<unsigned char> bytes(1234, 0x5A);
  Blob thumb;
  thumb.set(bytes.data(), bytes.size(), Blob::LocationCatalog);
  thumb.mime("image/jpeg");
  a.element("thumb") = thumb;
  a.created() = Time(1204700000);
  EXPECT_EQ(recordOf(a),
            "<count type=\"int4\">5</count><size type=\"int8\">5000000000</size>"
            "<thumb type=\"blob\" mime=\"image/jpeg\" store=\"db\" length=\"1234\"></thumb>"
            "<title lang=\"en\">A &amp; B</title>"
            "<vd_created type=\"time\">1204700000</vd_created>");
}

TEST(RecordWriter, EscapesValuesAttributesAndMimeText) {
  Asset a;
  a.element("f").attribute("q") = "x\"y&'<>";
  Blob file;
  file.url("/media/a&b \"1\".jpg");
  file.mime("image/\"odd\"");
  a.element("p") = file;
  a.element("u");  // undef: no type attribute
  EXPECT_EQ(recordOf(a),
            "<f q=\"x&quot;y&amp;&apos;&lt;&gt;\"></f>"
            "<p type=\"blob\" mime=\"image/&quot;odd&quot;\" store=\"os\" length=\"0\">"
            "/media/a&amp;b &quot;1&quot;.jpg</p><u></u>");
  // A file blob's path becomes the element's text.
  EXPECT_EQ(testing::valueOf(a, "p"), "/media/a&b \"1\".jpg");
}

TEST(RecordWriter, RefusesNamesTheTextCannotCarry) {
  for (const char* name : {"", "a b", "a<b", "a>b", "a=b", "a\"b", "a&b", "a\tb", "/a", "a\x7f"}) {
    Asset element;
    element.element(name) = 1;
    EXPECT_THROW(recordOf(element), Status) << name;
    try {
      recordOf(element);
    } catch (Status s) {
      EXPECT_EQ(s, StatusUnsupported);
    }
    Asset attribute;
    attribute.element("ok").attribute(name) = "v";
    EXPECT_THROW(recordOf(attribute), Status) << name;
  }
  Asset fine;
  fine.element("a/b;'\xC3\xA9#") = 1;
  fine.element("x").attribute("A/b'\xC3\xA9") = 1;
  EXPECT_NO_THROW(recordOf(fine));
}

TEST(RecordWriter, RefusesMoreAttributesThanAReaderKeeps) {
  Asset text10;
  for (int k = 0; k < 10; ++k) text10.element("e").attribute(std::to_string(k).c_str()) = k;
  EXPECT_NO_THROW(recordOf(text10));
  text10.element("e") = 1;  // the type attribute makes eleven
  EXPECT_THROW(recordOf(text10), Status);

  Asset blob;
  Blob b;
  b.set(nullptr, 0, Blob::LocationCatalog);
  blob.element("b") = b;
  for (int k = 0; k < 6; ++k) blob.element("b").attribute(std::to_string(k).c_str()) = k;
  EXPECT_NO_THROW(recordOf(blob));
  blob.element("b").attribute("7") = 7;
  EXPECT_THROW(recordOf(blob), Status);
}

TEST(RecordWriter, RefusesUnwritableTypesAndBlobs) {
  Asset asset;
  AssetAccess::impl(asset.element("a"))->type = TypeAsset;
  EXPECT_EQ(statusOf([&] { recordOf(asset); }), StatusUnsupported);

  Asset none;
  none.element("b") = Blob();  // no location yet
  EXPECT_EQ(statusOf([&] { recordOf(none); }), StatusBlobFailed);
  Asset missing;
  AssetAccess::impl(missing.element("b"))->type = TypeBlob;
  EXPECT_EQ(statusOf([&] { recordOf(missing); }), StatusBlobFailed);

  for (Blob::Location loc : {Blob::LocationManaged, Blob::LocationOther, Blob::Location(7)}) {
    Asset a;
    Blob b;
    b.location(loc);
    a.element("b") = b;
    EXPECT_EQ(statusOf([&] { recordOf(a); }), StatusUnsupported);
  }

  Asset beyond;
  AssetAccess::impl(beyond.element("z"))->type = static_cast<Type>(7);
  try {
    recordOf(beyond);
    FAIL();
  } catch (Type t) {
    EXPECT_EQ(t, 7);
  }
}

TEST(RecordWriter, ParsesAnUnreadAssetBeforeWriting) {
  Asset a = assetFromRecord("<a>1</a>");
  EXPECT_EQ(recordOf(a), "<a>1</a>");
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN

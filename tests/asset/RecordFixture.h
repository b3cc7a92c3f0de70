// Helpers shared by the record model tests: assets made from record text as a catalog load
// would make them, and byte-exact comparison of texts and element maps.
#ifndef VENDRITHANE_TESTS_ASSET_RECORDFIXTURE_H
#define VENDRITHANE_TESTS_ASSET_RECORDFIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AttributeImpl.h"
#include "asset/BlobImpl.h"
#include "asset/ElementImpl.h"
#include "asset/RecordWriter.h"
#include "vendrithane/Asset.h"

namespace KESTRIN {
namespace Vendrithane {
namespace testing {

// An unparsed asset holding record text, as loading it from a catalog leaves it.
inline Asset assetFromRecord(const std::string& record, int id = 7) {
  auto* impl = new AssetImpl(String("vd_assets"), true);
  impl->record = String(record.data(), static_cast<unsigned>(record.size()));
  impl->parsed = false;
  impl->id = id;
  return AssetAccess::make(impl);
}

inline std::string text(const String& s) {
  return std::string(s.buffer(), s.length());
}

inline std::string recordOf(Asset& a) {
  return text(writeRecord(*AssetAccess::impl(a)));
}

// Element text, attribute and blob values, byte for byte (String's own operators stop at a
// zero byte).
inline std::string valueOf(Asset& a, const char* name) {
  return text(a.element(name).operator String());
}

// The element maps hold the same elements, keeping the format's own rules: an undef element
// reads back as text, and a file blob's text comes back as its URL.
inline void expectSameElements(const std::map<String, Element*>& written,
                               const std::map<String, Element*>& read) {
  ASSERT_EQ(written.size(), read.size());
  auto r = read.begin();
  for (auto w = written.begin(); w != written.end(); ++w, ++r) {
    const ElementImpl& we = *AssetAccess::impl(*w->second);
    const ElementImpl& re = *AssetAccess::impl(*r->second);
    ASSERT_EQ(text(we.name), text(re.name));
    EXPECT_EQ(we.type == TypeUndef ? TypeText : we.type, re.type) << text(we.name);
    if (we.type == TypeBlob) {
      const BlobImpl& wb = *AssetAccess::impl(*we.blob);
      const BlobImpl& rb = *AssetAccess::impl(*re.blob);
      EXPECT_EQ(wb.location, rb.location);
      EXPECT_EQ(text(wb.mime), text(rb.mime));
      EXPECT_EQ(wb.length, rb.length);
      EXPECT_EQ(wb.location == Blob::LocationFile ? text(wb.url) : "", text(rb.url));
      EXPECT_TRUE(rb.stored);
      EXPECT_FALSE(rb.loaded);
    } else {
      EXPECT_EQ(text(we.text), text(re.text)) << text(we.name);
    }
    ASSERT_EQ(we.attributes.size(), re.attributes.size()) << text(we.name);
    auto ra = re.attributes.begin();
    for (auto wa = we.attributes.begin(); wa != we.attributes.end(); ++wa, ++ra) {
      EXPECT_EQ(text(wa->first), text(ra->first));
      EXPECT_EQ(text(AssetAccess::impl(*wa->second)->text),
                text(AssetAccess::impl(*ra->second)->text));
    }
  }
}

}  // namespace testing
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_TESTS_ASSET_RECORDFIXTURE_H

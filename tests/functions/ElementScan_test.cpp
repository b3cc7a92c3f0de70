// Element scanning on cut-off records: every prefix of a record is scanned from an exact-size
// heap buffer, so that a read past its end shows under the address sanitizer.
#include "functions/ElementScan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace KESTRIN::Vendrithane::functions;

namespace {

TEST(ElementScanTest, EveryPrefixOfARecordStaysInsideItsBuffer) {
  const std::string record =
      "<ab type=\"int4\">1</ab><a type=\"i\">&amp;&apos;&q&l&g&</a><t type=\"time\">9</t>&a";
  for (size_t n = 0; n <= record.size(); ++n) {
    std::unique_ptr<char[]> copy(new char[n ? n : 1]);
    std::memcpy(copy.get(), record.data(), n);
    const std::string_view xml(copy.get(), n);
    for (const char* name : {"a", "ab", "t", "x"}) {
      ElementSpan span;
      if (findElement(xml, name, &span)) {
        ASSERT_LE(span.end, n);
        elementType(xml, span);
        decodeEntities(xml.substr(span.valueBegin, span.valueEnd - span.valueBegin));
      }
    }
    decodeEntities(xml);
  }
}

}  // namespace

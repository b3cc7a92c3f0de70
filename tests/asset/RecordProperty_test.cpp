// Every record the writer produces reads back to an equal element map: generated maps with
// random names, types, values and attributes, every byte value included. The format's own
// rules are kept out of the generator: undef reads back as text, and the attribute names the
// reader consumes ("type"; "mime", "store" and "length" on blob elements) are not used.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "RecordFixture.h"
#include "vendrithane/Asset.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using testing::assetFromRecord;
using testing::text;

class MapGenerator {
 public:
  explicit MapGenerator(uint64_t seed) : m_rng(seed) {}

  // A name the record can carry: printable ASCII without space < > = " &, bytes from 0x80
  // up, and no leading "/".
  std::string name() {
    std::string out;
    const int n = 1 + below(10);
    while (static_cast<int>(out.size()) < n) {
      const unsigned char c = static_cast<unsigned char>(0x21 + below(0xFF - 0x21 + 1));
      if (c == 0x7F || c == '<' || c == '>' || c == '=' || c == '"' || c == '&') continue;
      if (out.empty() && c == '/') continue;
      out += static_cast<char>(c);
    }
    return out;
  }

  // Arbitrary bytes, weighted towards the ones the format treats specially.
  std::string value() {
    static const char* const kPieces[] = {"&amp;", "&lt;", "&#233;", "&nbsp;",      "&",
                                          ";",     "&a;",  "</x>",   "<y a=\"1\">", "\"",
                                          "'",     "<",    ">"};
    std::string out;
    const int n = below(12);
    for (int k = 0; k < n; ++k) {
      if (below(2) == 0) {
        out += static_cast<char>(below(256));
      } else {
        out += kPieces[below(sizeof kPieces / sizeof kPieces[0])];
      }
    }
    return out;
  }

  String string(const std::string& s) { return String(s.data(), static_cast<unsigned>(s.size())); }

  unsigned long long length() {
    switch (below(4)) {
      case 0:
        return 0;
      case 1:
        return below(100000);
      case 2:
        return 1ULL << (32 + below(30));
      default:
        return kUnknownBlobLength;
    }
  }

  void fill(Asset& a) {
    const int n = below(9);
    for (int k = 0; k < n; ++k) {
      const std::string elementName = name();
      if (a.elementExists(elementName.c_str())) continue;  // its attributes are counted
      Element& e = a.element(elementName.c_str());
      const Type type = static_cast<Type>(below(6));
      const bool asText = below(2) == 0;  // the reader does not validate values
      switch (type) {
        case TypeUndef:
          if (asText) AssetAccess::impl(e)->text = string(value());
          break;
        case TypeInt4:
          e = static_cast<int>(m_rng());
          break;
        case TypeInt8:
          e = static_cast<long long>(m_rng());
          break;
        case TypeTime:
          e = Time(static_cast<long long>(m_rng()));
          break;
        case TypeText:
          e = string(value());
          break;
        default: {
          Blob b;
          if (below(2) == 0) {
            b.location(Blob::LocationCatalog);
          } else {
            b.url(string(value()));
          }
          b.mime(string(value()));
          AssetAccess::impl(b)->length = length();
          e = b;
        }
      }
      if (asText && type != TypeBlob && type != TypeUndef) {
        AssetAccess::impl(e)->text = string(value());
        AssetAccess::impl(e)->type = type;
      }
      const int room = type == TypeBlob ? 6 : (type == TypeUndef || type == TypeText) ? 10 : 9;
      const int nAttributes = below(room + 1);
      for (int j = 0; j < nAttributes; ++j) {
        const std::string attribute = name();
        if (attribute == "type" ||
            (type == TypeBlob &&
             (attribute == "mime" || attribute == "store" || attribute == "length"))) {
          continue;
        }
        e.attribute(attribute.c_str()) = string(value());
      }
    }
  }

 private:
  int below(uint64_t n) { return static_cast<int>(m_rng() % n); }

  std::mt19937_64 m_rng;  // fixed seed: the same maps on every run
};

TEST(RecordProperty, WrittenRecordsReadBackToTheSameMap) {
  MapGenerator generate(20080305);
  for (int round = 0; round < 3000; ++round) {
    Asset written;
    generate.fill(written);
    const String record = writeRecord(*AssetAccess::impl(written));
    Asset read = assetFromRecord(text(record), round);
    read.nElements();
    testing::expectSameElements(*written.elems(), *read.elems());
    ASSERT_EQ(text(writeRecord(*AssetAccess::impl(read))), text(record));
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round << ": " << text(record);
      return;
    }
  }
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN

// The escaping of a value in the expected listings of converted old-format catalogs
// (fixtures/legacy/*.txt): backslash, tab, newline and carriage return as C escapes, other
// control bytes as "\xHH", everything else as it is.
#ifndef VENDRITHANE_TESTS_LISTINGTEXT_H
#define VENDRITHANE_TESTS_LISTINGTEXT_H

#include <string>

namespace vdtest {

inline std::string escapeListingText(const std::string& value) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c < 0x20 || c == 0x7F)
      out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
    else
      out += static_cast<char>(c);
  }
  return out;
}

}  // namespace vdtest

#endif  // VENDRITHANE_TESTS_LISTINGTEXT_H

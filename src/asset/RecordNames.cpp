// The rule for names in the record text.
#include "asset/RecordNames.h"

namespace KESTRIN {
namespace Vendrithane {

bool isRecordName(const char* p, size_t n) {
  if (n == 0 || p[0] == '/') return false;
  for (size_t k = 0; k < n; ++k) {
    const unsigned char c = static_cast<unsigned char>(p[k]);
    if (c > '>' && c != 0x7F) continue;  // letters, '_' and the like: fine
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case ' ':
      case '<':
      case '>':
      case '=':
      case '"':
      case '&':
        return false;
      default:
        break;
    }
  }
  return true;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// Conversion of texts in the system's single-byte code page (Windows-1252) to UTF-8.
#ifndef VENDRITHANE_PLATFORM_CODEPAGE_H
#define VENDRITHANE_PLATFORM_CODEPAGE_H

#include <cstddef>
#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

// Converts `n` Windows-1252 bytes to UTF-8. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control characters of the same value, so
// every input converts.
std::string windows1252ToUtf8(const char* text, size_t n);

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_CODEPAGE_H

// Windows-1252 to UTF-8 through iconv.
#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

// UTF-8 of the code point `c` below 0x800.
void appendSmall(std::string& out, unsigned c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string windows1252ToUtf8(const char* text, size_t n) {
  std::string out;
  out.reserve(n + n / 2);
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Without iconv only the Latin-1 part could be right; keep bytes as code points.
    for (size_t i = 0; i < n; ++i) appendSmall(out, static_cast<unsigned char>(text[i]));
    return out;
  }
  char* in = const_cast<char*>(text);
  size_t inLeft = n;
  char buffer[1024];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte the code page leaves undefined: the C1 control of the same value.
      appendSmall(out, static_cast<unsigned char>(*in));
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

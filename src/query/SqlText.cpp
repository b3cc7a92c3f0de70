// The appending formatter of rendered SQL.
#include "query/SqlText.h"

namespace KESTRIN {
namespace Vendrithane {
namespace query {

void appendQuoted(std::string* out, const char* text, size_t length) {
  const char* end = text + length;
  while (text < end) {
    const char* quote = static_cast<const char*>(std::memchr(text, '\'', end - text));
    if (quote == nullptr) {
      out->append(text, end - text);
      return;
    }
    out->append(text, quote - text + 1);
    out->push_back('\'');
    text = quote + 1;
  }
}

void appendSql(std::string* out, const char* format, std::initializer_list<SqlArg> args) {
  const SqlArg* arg = args.begin();
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      const size_t n = next == nullptr ? std::strlen(p) : static_cast<size_t>(next - p);
      out->append(p, n);
      p += n - 1;
      continue;
    }
    ++p;
    if (*p == 'l' && p[1] == 'l' && p[2] == 'd') p += 2;
    if (*p == '\0') break;
    if (arg == args.end()) continue;
    const SqlArg& a = *arg++;
    switch (*p) {
      case 's':
        if (a.text != nullptr) out->append(a.text, a.length);
        break;
      case 'q':
        if (a.text != nullptr) appendQuoted(out, a.text, a.length);
        break;
      case 'd':
        if (a.text == nullptr) out->append(std::to_string(a.number));
        break;
      default:
        break;
    }
  }
}

}  // namespace query
}  // namespace Vendrithane
}  // namespace KESTRIN

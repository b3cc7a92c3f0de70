// The escaping of text for XML: the five characters with an entity, and the walk that
// hands a text over as runs of plain bytes and entities.
#ifndef VENDRITHANE_TYPES_XMLESCAPE_H
#define VENDRITHANE_TYPES_XMLESCAPE_H

#include <cstddef>

namespace KESTRIN {
namespace Vendrithane {

// The XML entity that replaces byte c, or null when c stays as it is.
inline const char* xmlEntityFor(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    default:
      return nullptr;
  }
}

// Calls emit(p, n) for each run of plain bytes and each entity of the escaped form of the
// n bytes at text, in order (a text without special bytes is one run).
template <class Emit>
void escapeXml(const char* text, size_t n, Emit&& emit) {
  const char* end = text + n;
  const char* run = text;  // first byte not yet handed over
  for (const char* q = text; q < end; ++q) {
    if (static_cast<unsigned char>(*q) > '>') continue;  // letters and most else: no entity
    const char* entity = xmlEntityFor(*q);
    if (entity == nullptr) continue;
    if (q > run) emit(run, static_cast<size_t>(q - run));
    size_t length = 0;
    while (entity[length] != 0) ++length;
    emit(entity, length);
    run = q + 1;
  }
  if (end > run) emit(run, static_cast<size_t>(end - run));
}

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_TYPES_XMLESCAPE_H

// The type-name table. It is constant data, so every thread may read it at any time.
#include "asset/TypeNames.h"

#include <cstring>

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr const char* kTypeNames[] = {"undef", "int4", "int8", "text", "time", "blob", "asset"};
constexpr int kTypeCount = sizeof kTypeNames / sizeof kTypeNames[0];

}  // namespace

Type typeFromName(const String& name) {
  for (int t = 0; t < kTypeCount; ++t) {
    // Whole-length comparison: a name with a zero byte inside matches nothing.
    if (std::strlen(kTypeNames[t]) == name.length() &&
        std::memcmp(kTypeNames[t], name.buffer(), name.length()) == 0) {
      return static_cast<Type>(t);
    }
  }
  return TypeUndef;
}

const char* typeName(Type t) {
  const int v = static_cast<int>(t);
  return (v >= 0 && v < kTypeCount) ? kTypeNames[v] : nullptr;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

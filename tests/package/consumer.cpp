// Links against the installed library and uses a few exported classes and functions.
#include <vendrithane/vendrithane.h>

#include <cstdio>
#include <cstring>

using namespace KESTRIN::Vendrithane;

int main() {
  String s("catalog");
  s += " engine";
  Time t(2008, 3, 5, 14, 7, 9);
  if (s != "catalog engine" || t.year() != 2008) return 1;
  if (std::strcmp(statusText(StatusNotFound), "not found") != 0) return 1;
  std::printf("%s %s\n", s.buffer(), t.toString().buffer());
  return 0;
}

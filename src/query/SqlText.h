// The appending formatter of rendered SQL: the directives of the engine's formatter that the
// query fragments use, written straight into the text being built (a rendering makes dozens
// of fragments; a formatted copy of each would cost more than the rest together).
//   %s  a text as it is (SQL built here: quoted tables, rendered references)
//   %q  a text inside single quotes: every ' doubled, as the engine's %q
//   %d, %lld  an integer in decimal
#ifndef VENDRITHANE_QUERY_SQLTEXT_H
#define VENDRITHANE_QUERY_SQLTEXT_H

#include <cstring>
#include <initializer_list>
#include <string>

namespace KESTRIN {
namespace Vendrithane {
namespace query {

// One argument of appendSql: a text or an integer.
struct SqlArg {
  SqlArg(const char* text) : text(text), length(std::strlen(text)) {}          // NOLINT: implicit
  SqlArg(const std::string& text) : text(text.data()), length(text.size()) {}  // NOLINT
  SqlArg(long long number) : number(number) {}                                 // NOLINT
  SqlArg(int number) : number(number) {}                                       // NOLINT

  const char* text = nullptr;  // null for an integer
  size_t length = 0;
  long long number = 0;
};

// Appends `format` to *out with its directives replaced by the arguments in order. A
// directive without an argument, or of the wrong kind, writes nothing.
void appendSql(std::string* out, const char* format, std::initializer_list<SqlArg> args);

// Appends text with every ' doubled.
void appendQuoted(std::string* out, const char* text, size_t length);

}  // namespace query
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_QUERY_SQLTEXT_H

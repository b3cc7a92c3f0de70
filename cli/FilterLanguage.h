// The find command's filter language, parsed into a small tree that FilterBuild turns into
// an Expression. Grammar, lowest precedence first (keywords case-blind):
//   expr       := and ("or" and)*
//   and        := unary ("and" unary)*
//   unary      := "not" unary | "(" expr ")" | condition
//   condition  := "id" "in" "(" integer ("," integer)* ")"
//               | NAME ("~" | "glob") TEXT
//               | operand ("=" | "!=" | "<" | "<=" | ">" | ">=") value
//   operand    := NAME | ("year" | "month" | "day" | "weekday" | "lower") "(" NAME ")"
//   value      := integer | TEXT | date
// TEXT is quoted with ' or " (the quote doubled inside); a date is 2008-03-05 or
// 2008-03-05T14:07:09 (local time). The parser needs no catalog.
#ifndef VENDRITHANE_CLI_FILTERLANGUAGE_H
#define VENDRITHANE_CLI_FILTERLANGUAGE_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vdcli {

// A literal of a comparison.
struct Value {
  enum Kind { kInteger, kText, kDate } kind = kInteger;
  long long integer = 0;                                               // kInteger
  std::string text;                                                    // kText
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;  // kDate, local time
};

struct FilterNode {
  enum Kind { kAnd, kOr, kNot, kCompare, kLike, kGlob, kIdIn } kind = kCompare;
  std::unique_ptr<FilterNode> left, right;  // kAnd, kOr; kNot uses left
  std::string element;                      // kCompare, kLike, kGlob (lower-cased)
  std::string function;                     // kCompare: "" or year, month, day, weekday, lower
  std::string op;                           // kCompare: = != < <= > >=
  Value value;                              // kCompare; kLike and kGlob: the pattern text
  std::vector<int> ids;                     // kIdIn
};

// A syntax error: the 1-based character position, what was expected and what was found.
class FilterSyntaxError : public std::runtime_error {
 public:
  FilterSyntaxError(size_t position, const std::string& expected, const std::string& found);
  size_t position;
};

// The tree of `text`; throws FilterSyntaxError.
std::unique_ptr<FilterNode> parseFilter(const std::string& text);

}  // namespace vdcli

#endif  // VENDRITHANE_CLI_FILTERLANGUAGE_H

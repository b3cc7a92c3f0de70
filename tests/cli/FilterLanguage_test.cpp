// The find command's filter language: the trees it parses (printed back in one canonical
// form) and the positions and expectations of its syntax errors.
#include <gtest/gtest.h>

#include <string>

#include "FilterLanguage.h"

namespace vdcli {
namespace {

std::string print(const FilterNode& n) {
  switch (n.kind) {
    case FilterNode::kAnd:
      return "(" + print(*n.left) + " AND " + print(*n.right) + ")";
    case FilterNode::kOr:
      return "(" + print(*n.left) + " OR " + print(*n.right) + ")";
    case FilterNode::kNot:
      return "NOT " + print(*n.left);
    case FilterNode::kIdIn: {
      std::string s = "id IN";
      for (int id : n.ids) s += " " + std::to_string(id);
      return s;
    }
    case FilterNode::kLike:
      return n.element + " LIKE [" + n.value.text + "]";
    case FilterNode::kGlob:
      return n.element + " GLOB [" + n.value.text + "]";
    case FilterNode::kCompare:
      break;
  }
  std::string left = n.function.empty() ? n.element : n.function + "(" + n.element + ")";
  const Value& v = n.value;
  std::string right = v.kind == Value::kText ? "[" + v.text + "]"
                      : v.kind == Value::kInteger
                          ? std::to_string(v.integer)
                          : "date " + std::to_string(v.year) + "/" + std::to_string(v.month) + "/" +
                                std::to_string(v.day) + " " + std::to_string(v.hour) + ":" +
                                std::to_string(v.minute) + ":" + std::to_string(v.second);
  return left + " " + n.op + " " + right;
}

TEST(FilterLanguage, ParsesPrecedenceFunctionsLiteralsAndIdLists) {
  const struct {
    const char* text;
    const char* tree;
  } cases[] = {
      {"year(taken) = 2008 and camera ~ '%Acme%'", "(year(taken) = 2008 AND camera LIKE [%Acme%])"},
      {"a = 1 or b = 2 and not c != 3", "(a = 1 OR (b = 2 AND NOT c != 3))"},
      {"NOT (a<1 Or b>=-2) AND Name glob \"*.JPG\"",
       "(NOT (a < 1 OR b >= -2) AND name GLOB [*.JPG])"},
      {"taken >= 2008-03-05 and taken < 2008-03-05T14:07:09",
       "(taken >= date 2008/3/5 0:0:0 AND taken < date 2008/3/5 14:7:9)"},
      {"lower(title) = 'it''s' or weekday(taken) <> 1 or x == -9223372036854775808",
       "((lower(title) = [it's] OR weekday(taken) != 1) OR x = -9223372036854775808)"},
      {"id in (1, 2,3) and month(t) <= 12 and day(t) > 0",
       "((id IN 1 2 3 AND month(t) <= 12) AND day(t) > 0)"},
      {"year = 5", "year = 5"},  // a function's name alone is an element
  };
  for (const auto& c : cases) EXPECT_EQ(print(*parseFilter(c.text)), c.tree) << c.text;
}

TEST(FilterLanguage, SyntaxErrorsNameThePositionAndWhatWasExpected) {
  const struct {
    const char* text;
    size_t position;
    const char* message;
  } cases[] = {
      {"", 1, "expected an element name, a function, \"not\" or \"(\", found the end"},
      {"size > ", 8, "expected a number, a quoted text or a date, found the end"},
      {"size 5", 6, "expected a comparison (= != < <= > >=), \"~\" or \"glob\", found \"5\""},
      {"(a = 1", 7, "expected \")\", found the end"},
      {"a = 1 b = 2", 7, "expected \"and\", \"or\" or the end, found \"b\""},
      {"year(t) ~ 'x'", 9, "expected a comparison (= != < <= > >=), found \"~\""},
      {"name = 'open", 8, "expected a closing ', found the end"},
      {"t = 2008-13-01", 5, "expected a valid date"},
      {"t = 2008-3-01", 11, "expected a two-digit month"},
      {"n = 99999999999999999999", 5, "expected a number within 64 bits"},
      {"id in (1,)", 10, "expected a record id, found \")\""},
      {"id in (0)", 8, "expected a record id"},
      {"a ~ 5", 5, "expected a quoted pattern, found \"5\""},
      {"a = 1 and $", 11, "found \"$\""},
  };
  for (const auto& c : cases) {
    try {
      parseFilter(c.text);
      ADD_FAILURE() << "parsed: " << c.text;
    } catch (const FilterSyntaxError& e) {
      EXPECT_EQ(e.position, c.position) << c.text;
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.text << " -> " << e.what();
      EXPECT_EQ(std::string(e.what()).rfind(
                    "syntax error at position " + std::to_string(c.position) + ": ", 0),
                0u);
    }
  }
  // Nesting and length are bounded, not recursed into without limit.
  EXPECT_THROW(parseFilter(std::string(500, '(') + "a = 1" + std::string(500, ')')),
               FilterSyntaxError);
  std::string many = "a = 1";
  for (int i = 0; i < 10000; ++i) many += " or a = 1";
  EXPECT_THROW(parseFilter(many), FilterSyntaxError);
}

}  // namespace
}  // namespace vdcli

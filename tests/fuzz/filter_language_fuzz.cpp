// Fuzz target for the find command's filter language. Any input either parses or throws a
// syntax error whose position lies within the input (one past its end at most); a parsed
// tree printed back in the language parses again to the same tree.
#include <cstdint>
#include <cstdio>
#include <string>

#include "FilterLanguage.h"
#include "FuzzInput.h"

namespace {

using vdcli::FilterNode;
using vdcli::Value;

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// The tree in the language, with parentheses only where precedence needs them.
std::string print(const FilterNode& n) {
  auto operand = [](const FilterNode& child, bool wrap) {
    return wrap ? "(" + print(child) + ")" : print(child);
  };
  switch (n.kind) {
    case FilterNode::kOr:
      return operand(*n.left, false) + " or " + operand(*n.right, n.right->kind == FilterNode::kOr);
    case FilterNode::kAnd:
      return operand(*n.left, n.left->kind == FilterNode::kOr) + " and " +
             operand(*n.right,
                     n.right->kind == FilterNode::kOr || n.right->kind == FilterNode::kAnd);
    case FilterNode::kNot:
      return "not " +
             operand(*n.left, n.left->kind == FilterNode::kOr || n.left->kind == FilterNode::kAnd);
    case FilterNode::kIdIn: {
      std::string s = "id in (";
      for (size_t i = 0; i < n.ids.size(); ++i) s += (i ? "," : "") + std::to_string(n.ids[i]);
      return s + ")";
    }
    case FilterNode::kLike:
      return n.element + " ~ " + quoted(n.value.text);
    case FilterNode::kGlob:
      return n.element + " glob " + quoted(n.value.text);
    case FilterNode::kCompare:
      break;
  }
  std::string left = n.function.empty() ? n.element : n.function + "(" + n.element + ")";
  const Value& v = n.value;
  std::string right;
  if (v.kind == Value::kText) {
    right = quoted(v.text);
  } else if (v.kind == Value::kInteger) {
    right = std::to_string(v.integer);
  } else {
    char date[64];
    std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d", v.year, v.month, v.day,
                  v.hour, v.minute, v.second);
    right = date;
  }
  return left + " " + n.op + " " + right;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string printed;
  try {
    printed = print(*vdcli::parseFilter(text));
  } catch (const vdcli::FilterSyntaxError& e) {
    VDFUZZ_CHECK(e.position >= 1 && e.position <= size + 1);
    return 0;
  }
  std::string again;
  try {
    again = print(*vdcli::parseFilter(printed));
  } catch (const vdcli::FilterSyntaxError&) {
    VDFUZZ_CHECK(!"a printed tree parses");
  }
  VDFUZZ_CHECK(again == printed);
  return 0;
}

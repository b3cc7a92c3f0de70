// The filter language's scanner and recursive-descent parser (grammar in the header).
#include "FilterLanguage.h"

#include <cctype>
#include <climits>

namespace vdcli {

FilterSyntaxError::FilterSyntaxError(size_t at, const std::string& expected,
                                     const std::string& found)
    : std::runtime_error("syntax error at position " + std::to_string(at) + ": expected " +
                         expected + ", found " + found),
      position(at) {}

namespace {

struct Token {
  enum Kind { kEnd, kName, kInteger, kText, kDate, kSymbol } kind = kEnd;
  std::string text;     // the name (as written), the symbol or the unquoted text
  Value value;          // kInteger, kDate
  size_t position = 0;  // 0-based
};

bool isNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}
bool isDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) { next(); }

  std::unique_ptr<FilterNode> parse() {
    auto tree = disjunction(0);
    if (token_.kind != Token::kEnd) fail("\"and\", \"or\" or the end");
    return tree;
  }

 private:
  static constexpr int kMaxDepth = 200;         // nesting beyond this is refused, not recursed into
  static constexpr int kMaxConditions = 10000;  // keeps the tree's recursive teardown shallow

  [[noreturn]] void fail(const std::string& expected) const {
    std::string found;
    switch (token_.kind) {
      case Token::kEnd:
        found = "the end";
        break;
      case Token::kText:
        found = "a text";
        break;
      default:
        found = "\"" + text_.substr(token_.position, end_ - token_.position) + "\"";
    }
    throw FilterSyntaxError(token_.position + 1, expected, found);
  }

  // Scans the next token into token_.
  void next() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    token_ = Token();
    token_.position = pos_;
    if (pos_ >= text_.size()) {
      end_ = pos_;
      return;
    }
    char c = text_[pos_];
    if (isNameStart(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
      token_.kind = Token::kName;
      token_.text = text_.substr(start, pos_ - start);
    } else if (isDigit(c) || (c == '-' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1]))) {
      number();
    } else if (c == '\'' || c == '"') {
      quoted(c);
    } else {
      static const char* const symbols[] = {"<=", ">=", "!=", "<>", "==", "=",
                                            "<",  ">",  "~",  "(",  ")",  ","};
      for (const char* s : symbols) {
        if (text_.compare(pos_, std::string(s).size(), s) == 0) {
          token_.kind = Token::kSymbol;
          token_.text = s;
          pos_ += token_.text.size();
          if (token_.text == "<>") token_.text = "!=";
          if (token_.text == "==") token_.text = "=";
          end_ = pos_;
          return;
        }
      }
      end_ = pos_ + 1;
      token_.kind = Token::kSymbol;  // unknown: reported by whoever expected something else
      token_.text = std::string(1, c);
      ++pos_;
      return;
    }
    end_ = pos_;
  }

  // Reads `count` digits at pos_ as a number, failing with `what` otherwise.
  int digits(size_t count, const char* what) {
    int n = 0;
    for (size_t i = 0; i < count; ++i, ++pos_) {
      if (pos_ >= text_.size() || !isDigit(text_[pos_])) {
        token_.kind = Token::kDate;
        end_ = pos_;
        throw FilterSyntaxError(
            pos_ + 1, what, pos_ >= text_.size() ? "the end" : "\"" + text_.substr(pos_, 1) + "\"");
      }
      n = n * 10 + (text_[pos_] - '0');
    }
    return n;
  }

  void expectChar(char c, const char* what) {
    if (pos_ >= text_.size() || text_[pos_] != c)
      throw FilterSyntaxError(
          pos_ + 1, what, pos_ >= text_.size() ? "the end" : "\"" + text_.substr(pos_, 1) + "\"");
    ++pos_;
  }

  void number() {
    size_t start = pos_;
    bool negative = text_[pos_] == '-';
    if (negative) ++pos_;
    size_t digitsStart = pos_;
    while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
    if (!negative && pos_ - digitsStart == 4 && pos_ < text_.size() && text_[pos_] == '-') {
      date(start);
      return;
    }
    token_.kind = Token::kInteger;
    unsigned long long magnitude = 0;
    const unsigned long long limit =
        negative ? static_cast<unsigned long long>(LLONG_MAX) + 1 : LLONG_MAX;
    for (size_t i = digitsStart; i < pos_; ++i) {
      unsigned d = static_cast<unsigned>(text_[i] - '0');
      if (magnitude > (limit - d) / 10) {
        end_ = pos_;
        throw FilterSyntaxError(start + 1, "a number within 64 bits",
                                "\"" + text_.substr(start, pos_ - start) + "\"");
      }
      magnitude = magnitude * 10 + d;
    }
    token_.value.kind = Value::kInteger;
    token_.value.integer =
        negative ? static_cast<long long>(0ULL - magnitude) : static_cast<long long>(magnitude);
    if (pos_ < text_.size() && isNameChar(text_[pos_])) {
      end_ = pos_ + 1;
      throw FilterSyntaxError(pos_ + 1, "a space or an operator after a number",
                              "\"" + text_.substr(pos_, 1) + "\"");
    }
  }

  void date(size_t start) {
    Value& v = token_.value;
    v.kind = Value::kDate;
    pos_ = start;
    v.year = digits(4, "a date YYYY-MM-DD");
    expectChar('-', "\"-\" in a date");
    v.month = digits(2, "a two-digit month");
    expectChar('-', "\"-\" in a date");
    v.day = digits(2, "a two-digit day");
    if (pos_ < text_.size() && text_[pos_] == 'T') {
      ++pos_;
      v.hour = digits(2, "a two-digit hour");
      expectChar(':', "\":\" in a time");
      v.minute = digits(2, "two-digit minutes");
      expectChar(':', "\":\" in a time");
      v.second = digits(2, "two-digit seconds");
    }
    if (v.month < 1 || v.month > 12 || v.day < 1 || v.day > 31 || v.hour > 23 || v.minute > 59 ||
        v.second > 59)
      throw FilterSyntaxError(start + 1, "a valid date",
                              "\"" + text_.substr(start, pos_ - start) + "\"");
    token_.kind = Token::kDate;
  }

  void quoted(char quote) {
    size_t start = pos_++;
    std::string out;
    for (;;) {
      if (pos_ >= text_.size())
        throw FilterSyntaxError(start + 1, std::string("a closing ") + quote, "the end");
      char c = text_[pos_++];
      if (c == quote) {
        if (pos_ < text_.size() && text_[pos_] == quote) {
          out += quote;
          ++pos_;
          continue;
        }
        break;
      }
      out += c;
    }
    token_.kind = Token::kText;
    token_.text = out;
  }

  bool isKeyword(const char* word) const {
    return token_.kind == Token::kName && lowered(token_.text) == word;
  }
  bool isSymbol(const char* s) const { return token_.kind == Token::kSymbol && token_.text == s; }
  void expectSymbol(const char* s, const std::string& expected) {
    if (!isSymbol(s)) fail(expected);
    next();
  }

  std::unique_ptr<FilterNode> binary(FilterNode::Kind kind, std::unique_ptr<FilterNode> left,
                                     std::unique_ptr<FilterNode> right) {
    auto node = std::make_unique<FilterNode>();
    node->kind = kind;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
  }

  std::unique_ptr<FilterNode> disjunction(int depth) {
    auto left = conjunction(depth);
    while (isKeyword("or")) {
      next();
      left = binary(FilterNode::kOr, std::move(left), conjunction(depth));
    }
    return left;
  }

  std::unique_ptr<FilterNode> conjunction(int depth) {
    auto left = unary(depth);
    while (isKeyword("and")) {
      next();
      left = binary(FilterNode::kAnd, std::move(left), unary(depth));
    }
    return left;
  }

  std::unique_ptr<FilterNode> unary(int depth) {
    if (depth > kMaxDepth) fail("less nesting");
    if (isKeyword("not")) {
      next();
      auto node = std::make_unique<FilterNode>();
      node->kind = FilterNode::kNot;
      node->left = unary(depth + 1);
      return node;
    }
    if (isSymbol("(")) {
      next();
      auto inner = disjunction(depth + 1);
      expectSymbol(")", "\")\"");
      return inner;
    }
    return condition();
  }

  std::unique_ptr<FilterNode> condition() {
    if (++conditions_ > kMaxConditions) fail("a shorter expression");
    auto node = std::make_unique<FilterNode>();
    if (token_.kind != Token::kName) fail("an element name, a function, \"not\" or \"(\"");
    std::string name = lowered(token_.text);
    next();
    if (name == "id" && isKeyword("in")) {
      next();
      node->kind = FilterNode::kIdIn;
      expectSymbol("(", "\"(\"");
      for (;;) {
        if (token_.kind != Token::kInteger || token_.value.integer < 1 ||
            token_.value.integer > INT_MAX)
          fail("a record id");
        node->ids.push_back(static_cast<int>(token_.value.integer));
        next();
        if (isSymbol(")")) break;
        expectSymbol(",", "\",\" or \")\"");
      }
      next();
      return node;
    }
    static const char* const functions[] = {"year", "month", "day", "weekday", "lower"};
    bool called = false;
    for (const char* f : functions) called = called || (name == f && isSymbol("("));
    if (called) {
      node->function = name;
      next();
      if (token_.kind != Token::kName) fail("an element name");
      name = lowered(token_.text);
      next();
      expectSymbol(")", "\")\"");
    }
    node->element = name;
    if (!called && (isSymbol("~") || isKeyword("glob"))) {
      node->kind = isSymbol("~") ? FilterNode::kLike : FilterNode::kGlob;
      next();
      if (token_.kind != Token::kText) fail("a quoted pattern");
      node->value.kind = Value::kText;
      node->value.text = token_.text;
      next();
      return node;
    }
    static const char* const operators[] = {"=", "!=", "<", "<=", ">", ">="};
    for (const char* op : operators) {
      if (isSymbol(op)) node->op = op;
    }
    if (node->op.empty())
      fail(called ? "a comparison (= != < <= > >=)"
                  : "a comparison (= != < <= > >=), \"~\" or \"glob\"");
    next();
    node->kind = FilterNode::kCompare;
    switch (token_.kind) {
      case Token::kInteger:
      case Token::kDate:
        node->value = token_.value;
        break;
      case Token::kText:
        node->value.kind = Value::kText;
        node->value.text = token_.text;
        break;
      default:
        fail("a number, a quoted text or a date");
    }
    next();
    return node;
  }

  const std::string& text_;
  size_t pos_ = 0;  // next byte to scan
  size_t end_ = 0;  // end of the current token
  Token token_;
  int conditions_ = 0;  // conditions parsed so far
};

}  // namespace

std::unique_ptr<FilterNode> parseFilter(const std::string& text) {
  return Parser(text).parse();
}

}  // namespace vdcli

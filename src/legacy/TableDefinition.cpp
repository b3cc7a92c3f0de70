// The CREATE TABLE parser: a tokenizer (words, quoted names, strings, single punctuation
// characters; comments and white space skipped), then a split of the column list at the
// commas outside parentheses, then one pass over each part.
#include "legacy/TableDefinition.h"

#include <cctype>
#include <cstddef>

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(a[k])) !=
        std::tolower(static_cast<unsigned char>(b[k]))) {
      return false;
    }
  }
  return true;
}

namespace {

struct Token {
  enum Kind { Word, Quoted, Literal, Punct } kind;
  std::string text;   // the word, the unquoted name, the literal, or the character
  size_t begin, end;  // its span in the source
};

bool isWordByte(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
}

bool tokenize(const std::string& s, std::vector<Token>& out, std::string& error) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      const size_t close = s.find("*/", i + 2);
      i = close == std::string::npos ? n : close + 2;  // an open comment runs to the end
    } else if (c == '"' || c == '\'' || c == '`' || c == '[') {
      const char q = c == '[' ? ']' : static_cast<char>(c);
      Token t{c == '\'' ? Token::Literal : Token::Quoted, std::string(), i, 0};
      size_t k = i + 1;
      for (;;) {
        if (k >= n) {
          error = "unterminated quote in CREATE TABLE";
          return false;
        }
        if (s[k] == q) {
          if (q != ']' && k + 1 < n && s[k + 1] == q) {
            t.text += q;
            k += 2;
            continue;
          }
          break;
        }
        t.text += s[k++];
      }
      t.end = k + 1;
      out.push_back(std::move(t));
      i = k + 1;
    } else if (isWordByte(c)) {
      size_t k = i;
      while (k < n && isWordByte(static_cast<unsigned char>(s[k]))) ++k;
      out.push_back(Token{Token::Word, s.substr(i, k - i), i, k});
      i = k;
    } else {
      out.push_back(Token{Token::Punct, std::string(1, static_cast<char>(c)), i, i + 1});
      ++i;
    }
  }
  return true;
}

bool isKeyword(const Token& t, const char* word) {
  if (t.kind != Token::Word) return false;
  size_t k = 0;
  for (; word[k] != 0; ++k) {
    if (k >= t.text.size() || std::toupper(static_cast<unsigned char>(t.text[k])) != word[k]) {
      return false;
    }
  }
  return k == t.text.size();
}

bool isPunct(const Token& t, char c) {
  return t.kind == Token::Punct && t.text[0] == c;
}

bool startsTableConstraint(const Token& t) {
  return isKeyword(t, "PRIMARY") || isKeyword(t, "UNIQUE") || isKeyword(t, "CHECK") ||
         isKeyword(t, "CONSTRAINT") || isKeyword(t, "FOREIGN");
}

bool endsType(const Token& t) {
  return startsTableConstraint(t) || isKeyword(t, "NOT") || isKeyword(t, "NULL") ||
         isKeyword(t, "DEFAULT") || isKeyword(t, "COLLATE") || isKeyword(t, "REFERENCES");
}

// Whether the declared type, white space removed, is INTEGER in any case.
bool isIntegerType(const std::string& type) {
  std::string squeezed;
  for (char c : type) {
    if (!std::isspace(static_cast<unsigned char>(c))) squeezed += c;
  }
  return sameName(squeezed, "integer");
}

using Part = std::vector<Token>;

}  // namespace

bool parseTableDefinition(const std::string& sql, TableDefinition& out, std::string& error) {
  out = TableDefinition();
  // The tokens take many times the text's size: a definition far beyond any real table's
  // (thousands of columns) is damage before anything is allocated for it.
  constexpr size_t kMaxDefinition = 256 * 1024;
  if (sql.size() > kMaxDefinition) {
    error = "CREATE TABLE text longer than 256 KiB";
    return false;
  }
  std::vector<Token> tokens;
  if (!tokenize(sql, tokens, error)) return false;

  size_t open = 0;
  while (open < tokens.size() && !isPunct(tokens[open], '(')) ++open;
  if (open == tokens.size()) {
    error = "CREATE TABLE without a column list";
    return false;
  }
  // Split the list at the commas of depth 1 up to the matching ')'.
  std::vector<Part> parts(1);
  int depth = 1;
  size_t k = open + 1;
  for (; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (isPunct(t, '(')) ++depth;
    if (isPunct(t, ')') && --depth == 0) break;
    if (depth == 1 && isPunct(t, ',')) {
      parts.emplace_back();
    } else {
      parts.back().push_back(t);
    }
  }
  if (k == tokens.size()) {
    error = "CREATE TABLE column list not closed";
    return false;
  }
  if (k + 1 != tokens.size()) {
    error = "text after the CREATE TABLE column list";
    return false;
  }

  int primaryKeys = 0;                      // columns named as primary key, by either form
  int primaryColumn = -1;                   // the one named, when only one is
  std::vector<std::string> constraintKeys;  // names from PRIMARY KEY(...) table constraints
  for (const Part& part : parts) {
    if (part.empty()) {
      error = "empty part in the CREATE TABLE column list";
      return false;
    }
    if (startsTableConstraint(part[0])) {
      if (isKeyword(part[0], "PRIMARY")) {
        // PRIMARY KEY ( name [ASC|DESC] , ... )
        size_t p = 1;
        while (p < part.size() && !isPunct(part[p], '(')) ++p;
        int inner = 0;
        bool expectName = true;
        for (++p; p < part.size(); ++p) {
          if (isPunct(part[p], '(')) ++inner;
          if (isPunct(part[p], ')') && inner-- == 0) break;
          if (inner == 0 && isPunct(part[p], ',')) {
            expectName = true;
          } else if (expectName && inner == 0) {
            if (part[p].kind == Token::Punct) {
              error = "PRIMARY KEY constraint without a column name";
              return false;
            }
            constraintKeys.push_back(part[p].text);
            expectName = false;
          }
        }
      }
      continue;
    }
    if (part[0].kind == Token::Punct) {
      error = "column without a name in CREATE TABLE";
      return false;
    }
    LegacyColumn column;
    column.name = part[0].text;
    size_t p = 1;
    int inner = 0;
    for (; p < part.size(); ++p) {
      if (inner == 0 && endsType(part[p])) break;
      if (isPunct(part[p], '(')) ++inner;
      if (isPunct(part[p], ')')) --inner;
    }
    if (p > 1) column.type = sql.substr(part[1].begin, part[p - 1].end - part[1].begin);
    inner = 0;
    for (; p + 1 < part.size(); ++p) {
      if (isPunct(part[p], '(')) ++inner;
      if (isPunct(part[p], ')')) --inner;
      if (inner == 0 && isKeyword(part[p], "PRIMARY") && isKeyword(part[p + 1], "KEY")) {
        ++primaryKeys;
        primaryColumn = static_cast<int>(out.columns.size());
        break;
      }
    }
    out.columns.push_back(std::move(column));
  }
  for (const std::string& name : constraintKeys) {
    int found = -1;
    for (size_t c = 0; c < out.columns.size(); ++c) {
      if (sameName(out.columns[c].name, name)) found = static_cast<int>(c);
    }
    if (found < 0) {
      error = "PRIMARY KEY constraint names an unknown column";
      return false;
    }
    ++primaryKeys;
    primaryColumn = found;
  }
  if (out.columns.empty()) {
    error = "CREATE TABLE without columns";
    return false;
  }
  if (primaryKeys == 1 && isIntegerType(out.columns[primaryColumn].type)) {
    out.rowidAlias = primaryColumn;
  }
  return true;
}

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

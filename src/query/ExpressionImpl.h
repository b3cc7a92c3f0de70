// The node behind Expression handles: one condition, operator, value or reference of a
// condition tree. Nodes are shared by handles and by the trees that use them. Everything but
// the kind is fixed when the node is made; the kind changes only by negation (in place, for
// every sharer) and by the normalisation of a tree being rendered. A tree must not be
// rendered or negated on two threads at once; sharing, release and clone need no lock.
#ifndef VENDRITHANE_QUERY_EXPRESSIONIMPL_H
#define VENDRITHANE_QUERY_EXPRESSIONIMPL_H

#include <atomic>
#include <string>
#include <vector>

#include "vendrithane/Category.h"
#include "vendrithane/Element.h"
#include "vendrithane/Expression.h"
#include "vendrithane/String.h"
#include "vendrithane/Type.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;

namespace query {

// Node kinds. The numbers fix the negation pairs (negated()). Operators are only made over
// two non-empty operands, and &= and |= make AND and OR nodes, so no other kinds exist.
enum Kind : int {
  kEqual = 0,
  kNotEqual = 1,
  kLess = 2,
  kLessEqual = 3,
  kGreater = 4,
  kGreaterEqual = 5,
  kOr = 6,
  kAnd = 7,
  kLike = 8,
  kNotLike = 9,
  kGlob = 10,
  kNotGlob = 11,
  kLiteral = 12,
  kReference = 13,
  kEmpty = 14,
  kInCategory = 17,
  kNotInCategory = 18,
  kDescendant = 19,
  kInAny = 20,
  kInNone = 21,
  kLower = 24,
  kUpper = 25,
  kDay = 27,
  kMonth = 28,
  kYear = 29,
  kWeekday = 30,
  kInRange = 31,
  kInYearlyRange = 32,
  kIdIn = 33,
  kCategoryIdIn = 34,
  kIdNotIn = 35,
  kCategoryIdNotIn = 36,
};

// The partner of a kind under negation; -1 when it has none (kEmpty is its own).
int negated(int kind);

}  // namespace query

// A category a membership condition names, with the table of its namespace's members
// (resolved when the condition was built).
struct MemberCategory {
  Category category;  // read for its id when the condition is rendered
  std::string table;  // the table of the target's rows, quoted as an identifier
};

class ExpressionImpl {
 public:
  explicit ExpressionImpl(int kind) : kind(kind) {}
  ~ExpressionImpl();
  ExpressionImpl(const ExpressionImpl&) = delete;
  ExpressionImpl& operator=(const ExpressionImpl&) = delete;

  // The element of a reference or of a builder, with its record (one reference on each).
  // A free element has no record; the reference then fails when rendered.
  void holdElement(const Element& e);

  std::atomic<int> refs{1};                // handles and parent nodes sharing this node
  std::atomic<int> kind;                   // Kind; changed by negation and normalisation
  ExpressionImpl* left = nullptr;          // first operand of an operator (one reference); or null
  ExpressionImpl* right = nullptr;         // second operand (one reference); or null
  Element* element = nullptr;              // own handle on the referenced element; null when none
  AssetImpl* record = nullptr;             // the element's record at build time (one reference)
  Type literalType = TypeUndef;            // kLiteral: int4, int8, text or time
  String literalText;                      // kLiteral: the value as text
  String pattern;                          // kLike, kGlob: the pattern
  long long low = 0, high = 0;             // kInRange, kInYearlyRange: day keys of the range ends
  std::vector<MemberCategory> categories;  // kInCategory, kDescendant (one), kInAny/kInNone
  std::string table;                       // kIdIn..kCategoryIdNotIn: quoted table
  std::vector<int> ids;                    // kIdIn..kCategoryIdNotIn
};

namespace query {

// Takes one more reference on a node; drops one (the last destroys the node and releases
// its operands, elements, records and categories).
ExpressionImpl* share(ExpressionImpl* node);
void release(ExpressionImpl* node);
// A deep copy of the tree (elements, records and categories shared), one reference.
ExpressionImpl* cloneTree(const ExpressionImpl* node);

}  // namespace query

// The library's own way to and from Expression handles.
struct ExpressionAccess {
  // A handle adopting one reference the caller holds on impl.
  static Expression adopt(ExpressionImpl* impl) {
    Expression e{Expression::Unset()};
    e.m_impl = impl;
    return e;
  }
  static ExpressionImpl* impl(const Expression& e) { return e.m_impl; }
};
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_QUERY_EXPRESSIONIMPL_H

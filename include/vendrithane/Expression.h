// Expression: a condition over catalog records, or a value or element it compares, as a
// tree a Filter renders to SQL when a query runs. Built from literal values, elements, the
// comparison and logic operators below, and the builders of Element, Asset and Category.
// A handle: copies share one node, and so do the trees built from it; the last handle or
// tree to go frees it. Negation changes the shared node for every sharer.
//
// Builders throw a Status (24: negation of a kind without a negated form); a reference to
// an element without a record or a name throws 4 when the condition is rendered.
// Handles may be passed between threads; one tree must not be negated or rendered on two
// threads at once.
#ifndef VENDRITHANE_EXPRESSION_H
#define VENDRITHANE_EXPRESSION_H

#include "vendrithane/Element.h"
#include "vendrithane/Export.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {

class ExpressionImpl;
struct ExpressionAccess;
class Filter;

class VENDRITHANE_API Expression {
 public:
  Expression();  // empty: drops out of the operators and of a filter's condition
  // Literal values. Text goes through String (there is no char const* form).
  Expression(int value);
  Expression(long long value);
  Expression(String value);
  Expression(Time value);  // the whole 64-bit seconds
  // A reference to the element's value in the records of its asset's table (the element
  // must belong to an asset, as those of Asset::element and Category::element do).
  Expression(Element const& element);
  Expression(Expression const& other);
  Expression& operator=(Expression const& other);
  // Shares the filter's condition; returns another handle on it.
  Expression operator=(Filter const& filter);
  ~Expression();

  void reset();        // a new empty node for this handle (other sharers keep the old one)
  Expression clone();  // a deep copy of the tree; elements and categories stay shared
  // Negates the node in place (== and !=, < and >=, LIKE and NOT LIKE, membership and its
  // absence, ...) and returns another handle on it. An empty node stays empty; any other
  // kind without a negated form throws 24.
  Expression operator!();

 private:
  friend struct ExpressionAccess;  // the library's own access to the implementation
  struct Unset {};
  explicit Expression(Unset) : m_impl(nullptr) {}  // ExpressionAccess::adopt sets m_impl

  ExpressionImpl* m_impl;  // never null once made
};

// Comparisons and logic. With expressions, an empty operand drops out (the result shares
// the other operand); with elements, both become references. &= and |= build the same AND
// and OR as && and ||, leaving their left operand unchanged.
VENDRITHANE_API Expression operator==(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator!=(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator<(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator<=(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator>(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator>=(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator||(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator&&(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator&=(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator|=(Expression const& a, Expression const& b);
VENDRITHANE_API Expression operator==(Element const& a, Element const& b);
VENDRITHANE_API Expression operator!=(Element const& a, Element const& b);
VENDRITHANE_API Expression operator<(Element const& a, Element const& b);
VENDRITHANE_API Expression operator<=(Element const& a, Element const& b);
VENDRITHANE_API Expression operator>(Element const& a, Element const& b);
VENDRITHANE_API Expression operator>=(Element const& a, Element const& b);
VENDRITHANE_API Expression operator||(Element const& a, Element const& b);
VENDRITHANE_API Expression operator&&(Element const& a, Element const& b);
VENDRITHANE_API Expression operator&=(Element const& a, Element const& b);
VENDRITHANE_API Expression operator|=(Element const& a, Element const& b);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_EXPRESSION_H

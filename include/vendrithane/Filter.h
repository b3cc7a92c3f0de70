// Filter: one query over a catalog: a condition, up to ten ordering terms, a limit and an
// offset, whether duplicate rows are allowed, and optionally a match prototype whose type
// and element values restrict the result. A handle: copies share one filter; reset() and
// clone() give a handle a filter of its own. Queries read a filter and never change it.
//
// Members are thread-safe; a filter must not be changed while a query built from it runs
// if the results are to follow one version of it.
#ifndef VENDRITHANE_FILTER_H
#define VENDRITHANE_FILTER_H

#include "vendrithane/Export.h"
#include "vendrithane/Expression.h"
#include "vendrithane/Type.h"

namespace KESTRIN {
namespace Vendrithane {

class Asset;
class FilterImpl;
struct FilterAccess;

class VENDRITHANE_API Filter {
 public:
  Filter();  // no condition, no ordering, no limit or offset, distinct rows
  Filter(Filter const& other);
  Filter& operator=(Filter const& other);
  ~Filter();

  Filter& operator=(Expression const& e);   // the condition becomes e (shared)
  Filter& operator&=(Expression const& e);  // condition AND e (e alone when there was none)
  Filter& operator|=(Expression const& e);  // condition OR e (likewise)

  // Adds an ordering term: by the rendered expression, ascending or descending, or by its
  // collation rank (empty values last). SortNone adds nothing. Throws 37 for an eleventh
  // term, 14 for a value outside SortOrder.
  void orderBy(Expression e, SortOrder s);
  // Orders by the member order of the category the condition tests (Asset::in); it must be
  // the only term and the condition must test a category, else the query fails with 45.
  // The rank orders act as plain ascending and descending here. Throws 37 and 14 as above.
  void orderBy(SortOrder s);
  void orderBy();  // drops every term

  void limit(int n);  // negative: no limit
  int limit();
  void offset(int n);  // negative: none; an offset needs a limit (else the query fails, 45)
  int offset();
  void allowDuplicates(bool allow);
  bool allowDuplicates();

  // Only records of a's type whose elements equal a's (blob and asset elements aside).
  void match(Asset& a);
  void reset();    // a new default filter for this handle
  Filter clone();  // a deep copy; the match prototype stays shared

 private:
  friend struct FilterAccess;  // the library's own access to the implementation
  FilterImpl* m_impl;          // never null
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_FILTER_H

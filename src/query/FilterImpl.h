// The shared object behind Filter handles, and the copy of it a statement is built from.
#ifndef VENDRITHANE_QUERY_FILTERIMPL_H
#define VENDRITHANE_QUERY_FILTERIMPL_H

#include <atomic>
#include <memory>
#include <vector>

#include "platform/Mutex.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Expression.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Type.h"

namespace KESTRIN {
namespace Vendrithane {

namespace query {

constexpr int kMaxTerms = 10;         // ordering terms of one filter
constexpr int kMemberOrderShift = 4;  // a member-order term's code: the SortOrder << 4

// One ordering term: an expression with a SortOrder (1 to 4), or a member order (its code
// SortOrder << 4; the expression unused).
struct OrderTerm {
  Expression expression;
  int code = 0;
};

// A filter's contents at one moment: what the statement builder reads.
struct FilterState {
  int limit = -1;                    // negative: no limit
  int offset = -1;                   // negative: no offset
  bool allowDuplicates = false;      // false: SELECT DISTINCT
  std::vector<OrderTerm> terms;      // at most kMaxTerms
  Expression condition;              // empty: every row
  std::shared_ptr<Asset> prototype;  // the match prototype; null when none
};

}  // namespace query

class FilterImpl {
 public:
  FilterImpl() = default;
  FilterImpl(const FilterImpl&) = delete;
  FilterImpl& operator=(const FilterImpl&) = delete;

  std::atomic<int> refs{1};  // handles
  // A leaf lock: nothing is released or taken under it (replaced values are released
  // after it is let go).
  mutable platform::Mutex lock{platform::LockRank::kFilter, "filter lock"};
  query::FilterState state GUARDED_BY(lock);
};

struct FilterAccess {
  static FilterImpl* impl(const Filter& filter) { return filter.m_impl; }
  // The condition, shared.
  static Expression condition(const Filter& filter);
  // A copy of the filter's contents, taken under its lock.
  static query::FilterState snapshot(const Filter& filter);
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_QUERY_FILTERIMPL_H

// Filter handles: the condition, the ordering terms, limit, offset, duplicates and the match
// prototype, under the filter's lock. Values a change replaces are released after the lock
// is let go, so that no other lock is ever taken under it.
#include "query/FilterImpl.h"

#include <utility>

#include "query/ExpressionImpl.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

void releaseFilter(FilterImpl* impl) {
  if (impl->refs.fetch_sub(1) == 1) delete impl;
}

// A SortOrder argument; throws 14 for a value outside the enumeration.
int orderCode(SortOrder s) {
  const int code = static_cast<int>(s);
  if (code < SortNone || code > SortDescendingRank) throw StatusEmptyArgument;
  return code;
}

}  // namespace

Expression FilterAccess::condition(const Filter& filter) {
  platform::MutexLock hold(filter.m_impl->lock);
  return filter.m_impl->state.condition;
}

query::FilterState FilterAccess::snapshot(const Filter& filter) {
  platform::MutexLock hold(filter.m_impl->lock);
  return filter.m_impl->state;
}

Filter::Filter() : m_impl(new FilterImpl) {}

Filter::Filter(Filter const& other) : m_impl(other.m_impl) {
  m_impl->refs.fetch_add(1);
}

Filter& Filter::operator=(Filter const& other) {
  if (other.m_impl != m_impl) {
    other.m_impl->refs.fetch_add(1);
    FilterImpl* old = m_impl;
    m_impl = other.m_impl;
    releaseFilter(old);
  }
  return *this;
}

Filter::~Filter() {
  releaseFilter(m_impl);
}

Filter& Filter::operator=(Expression const& e) {
  Expression old;
  {
    platform::MutexLock hold(m_impl->lock);
    old = std::exchange(m_impl->state.condition, e);
  }
  return *this;
}

Filter& Filter::operator&=(Expression const& e) {
  Expression old;
  {
    platform::MutexLock hold(m_impl->lock);
    old = m_impl->state.condition;
    m_impl->state.condition = old && e;
  }
  return *this;
}

Filter& Filter::operator|=(Expression const& e) {
  Expression old;
  {
    platform::MutexLock hold(m_impl->lock);
    old = m_impl->state.condition;
    m_impl->state.condition = old || e;
  }
  return *this;
}

void Filter::orderBy(Expression e, SortOrder s) {
  const int code = orderCode(s);
  if (code == SortNone) return;
  platform::MutexLock hold(m_impl->lock);
  if (m_impl->state.terms.size() >= query::kMaxTerms) throw StatusOutOfBounds;
  m_impl->state.terms.push_back({e, code});
}

void Filter::orderBy(SortOrder s) {
  int code = orderCode(s);
  if (code == SortNone) return;
  // The rank orders mean nothing for the member order: their plain counterparts.
  if (code == SortAscendingRank) code = SortAscending;
  if (code == SortDescendingRank) code = SortDescending;
  platform::MutexLock hold(m_impl->lock);
  if (m_impl->state.terms.size() >= query::kMaxTerms) throw StatusOutOfBounds;
  m_impl->state.terms.push_back({Expression(), code << query::kMemberOrderShift});
}

void Filter::orderBy() {
  std::vector<query::OrderTerm> old;
  platform::MutexLock hold(m_impl->lock);
  old.swap(m_impl->state.terms);
  // `old` goes after the lock (declared before the holder).
}

void Filter::limit(int n) {
  platform::MutexLock hold(m_impl->lock);
  m_impl->state.limit = n;
}

int Filter::limit() {
  platform::MutexLock hold(m_impl->lock);
  return m_impl->state.limit;
}

void Filter::offset(int n) {
  platform::MutexLock hold(m_impl->lock);
  m_impl->state.offset = n;
}

int Filter::offset() {
  platform::MutexLock hold(m_impl->lock);
  return m_impl->state.offset;
}

void Filter::allowDuplicates(bool allow) {
  platform::MutexLock hold(m_impl->lock);
  m_impl->state.allowDuplicates = allow;
}

bool Filter::allowDuplicates() {
  platform::MutexLock hold(m_impl->lock);
  return m_impl->state.allowDuplicates;
}

void Filter::match(Asset& a) {
  std::shared_ptr<Asset> prototype = std::make_shared<Asset>(a);
  platform::MutexLock hold(m_impl->lock);
  prototype.swap(m_impl->state.prototype);
  // The replaced prototype goes after the lock (declared before the holder).
}

void Filter::reset() {
  *this = Filter();
}

Filter Filter::clone() {
  query::FilterState copy = FilterAccess::snapshot(*this);
  copy.condition =
      ExpressionAccess::adopt(query::cloneTree(ExpressionAccess::impl(copy.condition)));
  for (query::OrderTerm& term : copy.terms)
    term.expression =
        ExpressionAccess::adopt(query::cloneTree(ExpressionAccess::impl(term.expression)));
  Filter result;
  {
    platform::MutexLock hold(result.m_impl->lock);
    std::swap(result.m_impl->state, copy);
  }
  return result;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

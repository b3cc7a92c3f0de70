// Expression handles and their nodes: sharing and release, literals and references, the
// free operators, negation in place and the deep copy of a tree.
#include "query/ExpressionImpl.h"

#include <memory>
#include <string>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/ElementImpl.h"
#include "query/FilterImpl.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace query {

int negated(int kind) {
  switch (kind) {
    case kEqual:
      return kNotEqual;
    case kNotEqual:
      return kEqual;
    case kLess:
      return kGreaterEqual;
    case kLessEqual:
      return kGreater;
    case kGreater:
      return kLessEqual;
    case kGreaterEqual:
      return kLess;
    case kLike:
      return kNotLike;
    case kNotLike:
      return kLike;
    case kGlob:
      return kNotGlob;
    case kNotGlob:
      return kGlob;
    case kEmpty:
      return kEmpty;
    case kInCategory:
      return kNotInCategory;
    case kNotInCategory:
      return kInCategory;
    case kInAny:
      return kInNone;
    case kInNone:
      return kInAny;
    case kIdIn:
      return kIdNotIn;
    case kIdNotIn:
      return kIdIn;
    case kCategoryIdIn:
      return kCategoryIdNotIn;
    case kCategoryIdNotIn:
      return kCategoryIdIn;
    default:
      return -1;
  }
}

ExpressionImpl* share(ExpressionImpl* node) {
  if (node != nullptr) node->refs.fetch_add(1);
  return node;
}

void release(ExpressionImpl* node) {
  if (node != nullptr && node->refs.fetch_sub(1) == 1) delete node;
}

ExpressionImpl* cloneTree(const ExpressionImpl* node) {
  if (node == nullptr) return nullptr;
  std::unique_ptr<ExpressionImpl> copy(new ExpressionImpl(node->kind.load()));
  copy->left = cloneTree(node->left);
  if (node->element != nullptr) copy->holdElement(*node->element);
  copy->literalType = node->literalType;
  copy->literalText = node->literalText;
  copy->pattern = node->pattern;
  copy->low = node->low;
  copy->high = node->high;
  copy->categories = node->categories;
  copy->table = node->table;
  copy->ids = node->ids;
  copy->right = cloneTree(node->right);
  return copy.release();
}

namespace {

Expression literal(Type type, const String& text) {
  ExpressionImpl* node = new ExpressionImpl(kLiteral);
  Expression e = ExpressionAccess::adopt(node);
  node->literalType = type;
  node->literalText = text;
  return e;
}

// The operator node over two expressions; an empty operand drops out.
Expression combine(int kind, const Expression& a, const Expression& b) {
  ExpressionImpl* first = ExpressionAccess::impl(a);
  ExpressionImpl* second = ExpressionAccess::impl(b);
  if (first->kind.load() == kEmpty) return b;
  if (second->kind.load() == kEmpty) return a;
  ExpressionImpl* node = new ExpressionImpl(kind);
  node->left = share(first);
  node->right = share(second);
  return ExpressionAccess::adopt(node);
}

Expression combine(int kind, const Element& a, const Element& b) {
  return combine(kind, Expression(a), Expression(b));
}

}  // namespace
}  // namespace query

ExpressionImpl::~ExpressionImpl() {
  query::release(left);
  query::release(right);
  delete element;
  if (record != nullptr) releaseAsset(record);
}

void ExpressionImpl::holdElement(const Element& e) {
  std::unique_ptr<Element> handle(new Element(e));
  ElementImpl* impl = AssetAccess::impl(e);
  {
    HeldLock hold(impl->lock);
    AssetImpl* asset = impl->asset;
    // A record whose last handle is going (its count at 0) is not taken: the element is
    // about to leave it, and the reference renders as one without a record.
    int refs = asset != nullptr ? asset->refs.load() : 0;
    while (refs > 0 && !asset->refs.compare_exchange_weak(refs, refs + 1)) {
    }
    if (refs > 0) record = asset;
  }
  element = handle.release();
}

Expression::Expression() : m_impl(new ExpressionImpl(query::kEmpty)) {}

Expression::Expression(int value) : Expression(query::literal(TypeInt4, String(value, "%d"))) {}

Expression::Expression(long long value)
    : Expression(query::literal(TypeInt8, String(std::to_string(value).c_str()))) {}

Expression::Expression(String value) : Expression(query::literal(TypeText, value)) {}

Expression::Expression(Time value)
    : Expression(query::literal(TypeTime,
                                String(std::to_string(static_cast<long long>(value)).c_str()))) {}

Expression::Expression(Element const& element) : m_impl(new ExpressionImpl(query::kReference)) {
  try {
    m_impl->holdElement(element);
  } catch (...) {
    delete m_impl;
    throw;
  }
}

Expression::Expression(Expression const& other) : m_impl(query::share(other.m_impl)) {}

Expression& Expression::operator=(Expression const& other) {
  if (other.m_impl != m_impl) {
    ExpressionImpl* old = m_impl;
    m_impl = query::share(other.m_impl);
    query::release(old);
  }
  return *this;
}

Expression Expression::operator=(Filter const& filter) {
  *this = FilterAccess::condition(filter);
  return *this;
}

Expression::~Expression() {
  query::release(m_impl);
}

void Expression::reset() {
  *this = Expression();
}

Expression Expression::clone() {
  return ExpressionAccess::adopt(query::cloneTree(m_impl));
}

Expression Expression::operator!() {
  const int kind = m_impl->kind.load();
  const int partner = query::negated(kind);
  if (partner < 0) throw StatusUnsupported;
  m_impl->kind.store(partner);
  return *this;
}

#define VD_OPERATOR(op, kind)                                        \
  Expression operator op(Expression const& a, Expression const& b) { \
    return query::combine(query::kind, a, b);                        \
  }                                                                  \
  Expression operator op(Element const& a, Element const& b) {       \
    return query::combine(query::kind, a, b);                        \
  }

VD_OPERATOR(==, kEqual)
VD_OPERATOR(!=, kNotEqual)
VD_OPERATOR(<, kLess)
VD_OPERATOR(<=, kLessEqual)
VD_OPERATOR(>, kGreater)
VD_OPERATOR(>=, kGreaterEqual)
VD_OPERATOR(||, kOr)
VD_OPERATOR(&&, kAnd)
VD_OPERATOR(&=, kAnd)
VD_OPERATOR(|=, kOr)

#undef VD_OPERATOR

}  // namespace Vendrithane
}  // namespace KESTRIN

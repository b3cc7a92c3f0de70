// Attribute handles and their implementation: text values with an inferred type.
#include "asset/AttributeImpl.h"

#include <climits>

#include "asset/ValueText.h"
#include "vendrithane/Attribute.h"

namespace KESTRIN {
namespace Vendrithane {

void AttributeImpl::detach() {
  lock.store(defaultRecordLock());
  element = nullptr;
}

void releaseAttribute(AttributeImpl* attribute) {
  if (attribute->refs.fetch_sub(1) == 1) delete attribute;
}

Attribute::Attribute() : m_impl(new AttributeImpl(String(), defaultRecordLock(), nullptr)) {}

Attribute::Attribute(const Attribute& other) : m_impl(other.m_impl) {
  m_impl->refs.fetch_add(1);
}

Attribute& Attribute::operator=(const Attribute& other) {
  if (other.m_impl != m_impl) {
    other.m_impl->refs.fetch_add(1);
    releaseAttribute(m_impl);
    m_impl = other.m_impl;
  }
  return *this;
}

Attribute::~Attribute() {
  releaseAttribute(m_impl);
}

String Attribute::name() const {
  return m_impl->name;
}

Type Attribute::type() {
  HeldLock hold(m_impl->lock);
  const String& text = m_impl->text;
  if (!text.isNumber()) return TypeText;
  try {
    const long long v = static_cast<long long>(text);
    return (v >= INT_MIN && v <= INT_MAX) ? TypeInt4 : TypeInt8;
  } catch (Status) {
    return TypeInt8;  // an integer beyond 64 bits
  }
}

Attribute::operator int() const {
  HeldLock hold(m_impl->lock);
  return static_cast<int>(m_impl->text);
}

Attribute::operator long long() const {
  HeldLock hold(m_impl->lock);
  return static_cast<long long>(m_impl->text);
}

Attribute::operator String() const {
  HeldLock hold(m_impl->lock);
  return m_impl->text;
}

Attribute& Attribute::operator=(int v) {
  return *this = decimalText(v);
}

Attribute& Attribute::operator=(long long v) {
  return *this = decimalText(v);
}

Attribute& Attribute::operator=(const char* v) {
  return *this = String(v);
}

Attribute& Attribute::operator=(const String& v) {
  HeldLock hold(m_impl->lock);
  m_impl->text = v;
  return *this;
}

Attribute& Attribute::operator=(const Time& v) {
  return *this = decimalText(static_cast<long long>(v));
}

}  // namespace Vendrithane
}  // namespace KESTRIN

// The record text tokenizer. Every scan is bounded by m_length; nothing relies on the
// copy's terminating zero byte, so zero bytes inside the input are ordinary bytes.
#include "asset/XmlParser.h"

#include <algorithm>

namespace KESTRIN {
namespace Vendrithane {

namespace {

String sub(const std::string& s, size_t from, size_t to) {
  return String(s.data() + from, static_cast<unsigned>(to - from));
}

}  // namespace

int XMLparser::onStartElement(const String&) {
  return 0;
}

String XMLparser::onEntity(const String&) {
  return String();
}

int XMLparser::onCharacters(const char*, size_t) {
  return 0;
}

int XMLparser::onText(const String&) {
  return 0;
}

int XMLparser::onEndElement(const String&) {
  return 0;
}

void XMLparser::parse(const char* text, size_t n) {
  struct Cleanup {
    XMLparser* self;
    ~Cleanup() {
      std::string().swap(self->m_input);
      std::string().swap(self->m_text);
      self->m_nAttributes = 0;
      self->m_length = 0;
    }
  } cleanup{this};
  // Texts longer than a String can hold cannot come from a record; read what fits.
  if (n > 0xFFFFFFFDu) n = 0xFFFFFFFDu;
  m_input.assign(text, n);
  m_length = n;
  m_text.clear();
  m_nAttributes = 0;

  size_t p = 0;
  while (p < m_length) {
    const char c = m_input[p];
    if (c == '&') {
      p = entity(p, m_length, m_text);
    } else if (c != '<') {
      size_t q = p;
      while (q < m_length && m_input[q] != '<' && m_input[q] != '&') ++q;
      m_text.append(m_input, p, q - p);
      p = q;
    } else if (p + 1 < m_length && m_input[p + 1] == '/') {
      size_t q = p + 2;
      while (q < m_length && m_input[q] != '>') ++q;
      if (q >= m_length) break;  // end tag cut off
      const String name = sub(m_input, p + 2, q);
      onCharacters(m_text.data(), m_text.size());
      onEndElement(name);
      p = q + 1;
    } else {
      p = startTag(p);
    }
  }
}

size_t XMLparser::entity(size_t p, size_t end, std::string& out) {
  // The name runs up to a ";" at most kMaxEntityName bytes on; another "&" or the end first
  // means the "&" stands for itself.
  const size_t limit = std::min(end, p + 2 + kMaxEntityName);
  size_t q = p + 1;
  while (q < limit && m_input[q] != ';' && m_input[q] != '&') ++q;
  if (q < limit && m_input[q] == ';') {
    const String replacement = onEntity(sub(m_input, p + 1, q));
    out.append(replacement.buffer(), replacement.length());
    return q + 1;
  }
  out += '&';
  return p + 1;
}

size_t XMLparser::startTag(size_t p) {
  const size_t fault = m_length + 1;
  m_text.clear();
  m_nAttributes = 0;
  size_t q = p + 1;
  while (q < m_length && m_input[q] != ' ' && m_input[q] != '>') ++q;
  if (q >= m_length) return fault;
  const String name = sub(m_input, p + 1, q);

  for (;;) {
    while (q < m_length && m_input[q] == ' ') ++q;
    if (q >= m_length) return fault;
    if (m_input[q] == '>') break;
    size_t equals = q;
    while (equals < m_length && m_input[equals] != '=' && m_input[equals] != '>') ++equals;
    if (equals + 1 >= m_length || m_input[equals] != '=' || m_input[equals + 1] != '"') {
      return fault;
    }
    const size_t open = equals + 2;
    size_t close = open;
    while (close < m_length && m_input[close] != '"') ++close;
    if (close >= m_length) return fault;
    if (m_nAttributes < kMaxAttributes) {
      std::string value;
      for (size_t v = open; v < close;) {
        if (m_input[v] == '&') {
          v = entity(v, close, value);
        } else {
          size_t run = v;
          while (run < close && m_input[run] != '&') ++run;
          value.append(m_input, v, run - v);
          v = run;
        }
      }
      m_attrName[m_nAttributes] = sub(m_input, q, equals);
      m_attrValue[m_nAttributes] = String(value.data(), static_cast<unsigned>(value.size()));
      ++m_nAttributes;
    }
    q = close + 1;
  }
  onStartElement(name);
  return q + 1;
}

}  // namespace Vendrithane
}  // namespace KESTRIN

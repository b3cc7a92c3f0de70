// XMLparser: the tokenizer of the record text. One pass over a private copy of the input,
// reporting start tags (with up to ten attributes), entities, the text of each element and
// end tags through five callbacks, which do nothing in this class. The format is flat and
// small: no declarations, comments, CDATA, single quotes or self-closing tags.
//
// Whatever the bytes, the tokenizer reads only inside its copy of the input. A tag that is
// not closed, an attribute without `="..."`, or a quote left open ends the run at the start
// of that tag. Attributes after the tenth are read past and dropped.
#ifndef VENDRITHANE_ASSET_XMLPARSER_H
#define VENDRITHANE_ASSET_XMLPARSER_H

#include <cstddef>
#include <string>

#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class XMLparser {
 public:
  static constexpr int kMaxAttributes = 10;    // attributes kept per tag
  static constexpr size_t kMaxEntityName = 7;  // bytes between "&" and ";"

  XMLparser() = default;
  XMLparser(const XMLparser&) = delete;
  XMLparser& operator=(const XMLparser&) = delete;

  // Tokenizes the n bytes at text. Exceptions thrown by the callbacks pass through; the
  // input copy is freed either way.
  void parse(const char* text, size_t n);

  // The callbacks, in this order. onStartElement sees the tag's attributes in m_attrName and
  // m_attrValue (values already decoded); onEntity returns the replacement of a named
  // entity; onCharacters gets the text gathered since the start tag, at each end tag.
  virtual int onStartElement(const String& name);
  virtual String onEntity(const String& name);
  virtual int onCharacters(const char* text, size_t n);
  virtual int onText(const String& text);  // not called by the tokenizer
  virtual int onEndElement(const String& name);

 protected:
  ~XMLparser() = default;  // not deleted through this class

  int m_nAttributes = 0;               // attributes of the current tag, at most kMaxAttributes
  String m_attrName[kMaxAttributes];   // their names
  String m_attrValue[kMaxAttributes];  // their decoded values
  size_t m_length = 0;                 // bytes of the input
  std::string m_input;                 // private copy of the input during a run
  std::string m_text;                  // text gathered since the last start tag

 private:
  // Decodes the entity or literal "&" at position p, looking no further than end, into out;
  // returns the next position.
  size_t entity(size_t p, size_t end, std::string& out);
  // Reads the start tag at p; returns the position after it, or m_length + 1 when the tag
  // is not well formed (the run ends there).
  size_t startTag(size_t p);
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_XMLPARSER_H

// Parser: fills an asset's element map from its record text, and the process-wide pool of
// 16 parsers that assets borrow by the low four bits of their id.
//
// Reading is tolerant: at the first fault (nested tags, an end tag without a start tag, a
// name the writer could not have written, a blob tag with a bad store word or length) the
// run stops; the elements read before it stay, the rest of the record is dropped. An element
// name that comes a second time is a fault too. A fault never leaves a half-built element
// behind, so whatever is loaded can be written again.
#ifndef VENDRITHANE_ASSET_RECORDPARSER_H
#define VENDRITHANE_ASSET_RECORDPARSER_H

#include "asset/XmlParser.h"
#include "platform/Mutex.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
class ElementImpl;

class Parser : public XMLparser {
 public:
  Parser() = default;
  virtual ~Parser();

  int onStartElement(const String& name) override;
  String onEntity(const String& name) override;
  int onCharacters(const char* text, size_t n) override;
  int onText(const String& text) override;
  int onEndElement(const String& name) override;

  // Parses the asset's record text into its element map unless that has happened already;
  // takes the asset's lock. For a parser of the caller's own.
  void fill(AssetImpl& asset);
  // The same with a pooled parser: false, with nothing done, when another thread uses it.
  bool tryFill(AssetImpl& asset);

 private:
  platform::Mutex m_lock{platform::LockRank::kParser, "parser lock"};  // only ever tried
  bool m_inElement = false;          // between a start tag and its end tag
  AssetImpl* m_asset = nullptr;      // the asset being filled
  ElementImpl* m_element = nullptr;  // the element being filled
};

// The pooled parser for an asset id (id & 15).
Parser& poolParser(int id);

// Parses the asset's record text if that has not happened yet, with its pooled parser, or
// with a parser of its own when the calling thread already holds the asset's lock (taking
// the pool lock then would invert the lock order).
void parseRecord(AssetImpl& asset);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_RECORDPARSER_H

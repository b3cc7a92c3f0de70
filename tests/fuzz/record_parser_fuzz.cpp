// Fuzz target for the record reader. Any bytes are parsed as an asset's record text; the
// reader must stay inside its input, and what it loads must be writable and stable: writing
// it, reading that back and writing again gives the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/ElementImpl.h"
#include "asset/RecordWriter.h"
#include "vendrithane/Asset.h"

using namespace KESTRIN::Vendrithane;

namespace {

// The reader admits the asset type because the type table names it; it is the one element
// kind the writer refuses by design.
void dropAssetTyped(Asset& a) {
  for (auto it = a.elems()->begin(); it != a.elems()->end();) {
    const String name = it->first;
    const bool drop = AssetAccess::impl(*it->second)->type == TypeAsset;
    ++it;
    if (drop) a.erase(name);
  }
}

Asset parsed(const char* data, size_t size) {
  auto* impl = new AssetImpl(String("vd_assets"), true);
  impl->record = String(data, static_cast<unsigned>(size));
  impl->parsed = false;
  Asset a = AssetAccess::make(impl);
  a.nElements();
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  Asset first = parsed(reinterpret_cast<const char*>(data), size);
  dropAssetTyped(first);
  const String written = writeRecord(*AssetAccess::impl(first));  // must not throw
  Asset second = parsed(written.buffer(), written.length());
  const String rewritten = writeRecord(*AssetAccess::impl(second));
  if (rewritten.length() != written.length() ||
      std::memcmp(rewritten.buffer(), written.buffer(), written.length()) != 0) {
    std::abort();
  }
  return 0;
}

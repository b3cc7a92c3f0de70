// The conversion of a catalog of the earlier storage generation into a new, empty catalog of
// this library: every table read through the old-file reader and written with bound values
// into the new files, under one transaction that commits only when everything was copied.
#ifndef VENDRITHANE_ASSET_LEGACYCONVERSION_H
#define VENDRITHANE_ASSET_LEGACYCONVERSION_H

#include <string>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

struct LegacyCatalogFiles {
  std::string oldMain;  // the old main file (read only)
  std::string oldBlob;  // the old blob file; may be missing (older catalogs keep the blobs
                        // in the main file)
  std::string newMain;  // the new catalog's main file, made empty by the caller
  std::string newBlob;  // the new catalog's blob file
};

// Converts the old catalog into the new one. 0; 25 when the old main file cannot be opened
// by the reader (page 1, its schema); 78 when the old version table is missing or has no
// row; 26 for anything else (no blob table, a name that is not a plain identifier, damage
// met in a table or the blobs, a row that could not be read or written, a failed commit).
// On failure nothing is committed to the new files. Rows dropped as duplicates of an id
// or key (the first in rowid order is kept) are listed in *dropped ("table id" each, one a
// line) when it is given.
Status convertLegacyCatalog(const LegacyCatalogFiles& files, std::string* dropped);

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_LEGACYCONVERSION_H

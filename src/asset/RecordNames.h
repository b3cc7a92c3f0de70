// Which element and attribute names the record text can carry.
#ifndef VENDRITHANE_ASSET_RECORDNAMES_H
#define VENDRITHANE_ASSET_RECORDNAMES_H

#include <cstddef>

namespace KESTRIN {
namespace Vendrithane {

// True when the n bytes at p can be written as a tag or attribute name and read back as the
// same name: not empty, not starting with "/" (it would read as an end tag), and free of
// space, "<", ">", "=", "\"", "&" and control bytes (0x00 to 0x1F and 0x7F). The writer
// refuses other names with Status 24; the reader stops at them.
bool isRecordName(const char* p, size_t n);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_RECORDNAMES_H

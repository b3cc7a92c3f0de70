// The process-wide table between element types and their names in the record text.
#ifndef VENDRITHANE_ASSET_TYPENAMES_H
#define VENDRITHANE_ASSET_TYPENAMES_H

#include "vendrithane/String.h"
#include "vendrithane/Type.h"

namespace KESTRIN {
namespace Vendrithane {

// The type a record names ("int4", "blob", ...); TypeUndef for a name not in the table.
Type typeFromName(const String& name);
// The record name of t ("undef" to "asset"); null for a value outside the table.
const char* typeName(Type t);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_TYPENAMES_H

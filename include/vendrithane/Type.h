// The value types of record elements, and the other small enumerations shared by the
// public classes.
#ifndef VENDRITHANE_TYPE_H
#define VENDRITHANE_TYPE_H

namespace KESTRIN {
namespace Vendrithane {

// The type of an element value. Writing a record with an element of a type above TypeAsset
// throws the offending Type value.
enum Type {
  TypeUndef = 0,  // no value yet
  TypeInt4 = 1,   // signed 32-bit integer, stored as "%d"
  TypeInt8 = 2,   // signed 64-bit integer, stored as "%lld"
  TypeText = 3,   // UTF-8 text
  TypeTime = 4,   // a Time, stored as the decimal seconds since 1970
  TypeBlob = 5,   // binary value kept in the blob file or referenced as a file
  TypeAsset = 6,  // reference to another record
};

// The order of a Filter's ordering term.
enum SortOrder {
  SortNone = 0,            // no term
  SortAscending = 1,       // smallest value first
  SortDescending = 2,      // largest value first
  SortAscendingRank = 3,   // by collation rank, ascending; empty values last
  SortDescendingRank = 4,  // by collation rank, descending; empty values last
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_TYPE_H

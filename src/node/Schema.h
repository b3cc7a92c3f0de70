// The catalog's schema: the scripts that make a new main file and a new blob file, the
// library's schema version, and how version texts are compared.
#ifndef VENDRITHANE_NODE_SCHEMA_H
#define VENDRITHANE_NODE_SCHEMA_H

#include <string>
#include <vector>

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// Run as one statement text on a fresh main file: every table and index of a new catalog
// and the initial rows (id counter 2, version (1, "6.0")).
extern const char kMainSchemaScript[];
// Run the same way on a fresh blob file: the blob table and its index.
extern const char kBlobSchemaScript[];

// One CREATE statement of a schema script: a table, or an index on `table`.
struct SchemaObject {
  bool index;         // CREATE [UNIQUE] INDEX; else CREATE TABLE
  std::string name;   // the table's or the index's name
  std::string table;  // the table (for an index, the one it is on)
  std::string sql;    // the statement, its name prefixed with "<schema>." when one was given
};
// The CREATE statements of `script` in script order, for the database `schema` ("" for the
// connection's main one), so that a check can make a missing object again.
std::vector<SchemaObject> schemaObjects(const char* script, const char* schema);

// The schema version this library writes and reads ("6.0").
extern const char kLibraryVersion[];

// A version text split at its first "." into major and minor numbers; a missing or
// non-numeric part reads as 0.
struct SchemaVersion {
  int major;  // the part before the first "."
  int minor;  // the part after it
};
SchemaVersion parseSchemaVersion(const char* text);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_SCHEMA_H

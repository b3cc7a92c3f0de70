// The statement texts the node layer issues on its own tables and on the engine, each
// written once here. Texts with % directives go through sqlFormat (Statement.h).
#ifndef VENDRITHANE_NODE_STATEMENTS_H
#define VENDRITHANE_NODE_STATEMENTS_H

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// Schema version.
constexpr char kSelectVersion[] = "SELECT vd_version FROM vd_version;";
constexpr char kSelectVersionFirst[] = "SELECT vd_version FROM vd_version LIMIT 1;";

// Tables of the catalog.
constexpr char kSelectTables[] = "SELECT tbl_name FROM sqlite_master WHERE type='table';";
constexpr char kSelectTableNamed[] =
    "SELECT tbl_name FROM sqlite_master WHERE type='table' AND tbl_name=%Q;";
// The engine's schema cookie: it moves with every change of the schema, by any connection.
constexpr char kSelectSchemaCookie[] = "PRAGMA schema_version;";

// The registry and the catalog id kept in it.
constexpr char kRegistryStore[] =
    "INSERT OR REPLACE INTO vd_registry (vd_tag,vd_value) VALUES (%Q,%Q);";
constexpr char kRegistryLoad[] = "SELECT vd_value FROM vd_registry WHERE vd_tag=%Q;";
constexpr char kCatalogIdTag[] = "vd_dbid";
constexpr char kRegistryRemove[] = "DELETE FROM vd_registry WHERE vd_tag=%Q;";
constexpr char kRegistryTags[] = "SELECT vd_tag FROM vd_registry ORDER BY vd_tag;";

// What an id names: a record of the common table, or of a type's own table (%s: the table
// quoted as an identifier, quoteIdentifier).
constexpr char kAssetsTable[] = "vd_assets";  // the table of collection assets
constexpr char kSelectAssetTag[] = "SELECT vd_tag FROM %s WHERE vd_id=%d;";
constexpr char kCountIdInTable[] = "SELECT count() FROM %s WHERE vd_id=%d;";

// The id counter (the new value bound to ?1), each kept compiled on the connection.
constexpr char kSelectIdCounter[] = "SELECT vd_id FROM vd_id;";
constexpr char kUpdateIdCounter[] = "UPDATE vd_id SET vd_id=?1;";

// Connection set-up.
constexpr char kAttachBlobs[] = "ATTACH DATABASE %Q AS blobs;";
constexpr char kParserTraceOff[] = "PRAGMA parser_trace=OFF;";
constexpr char kVdbeTraceOff[] = "PRAGMA vdbe_trace=OFF;";

// Transactions and compaction.
constexpr char kBeginImmediate[] = "BEGIN IMMEDIATE;";
constexpr char kBeginDeferred[] = "BEGIN;";
constexpr char kCommit[] = "COMMIT;";
constexpr char kRollback[] = "ROLLBACK;";
constexpr char kVacuum[] = "VACUUM;";

// Backups: the engine's own check of a file, and a read that plays back a hot journal.
constexpr char kIntegrityCheck[] = "PRAGMA integrity_check;";
constexpr char kCountSchemaRows[] = "SELECT count(*) FROM sqlite_master;";

// Options of Node::configure.
constexpr char kSynchronousOn[] = "PRAGMA synchronous=ON;";
constexpr char kSynchronousOff[] = "PRAGMA synchronous=OFF;";
constexpr char kSynchronousRead[] = "PRAGMA synchronous;";
constexpr char kDefaultSynchronousOn[] = "PRAGMA default_synchronous=ON;";
constexpr char kDefaultSynchronousOff[] = "PRAGMA default_synchronous=OFF;";
constexpr char kDefaultSynchronousRead[] = "PRAGMA default_synchronous;";

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_STATEMENTS_H

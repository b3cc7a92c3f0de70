// The statement texts of asset types and asset rows, each written once here. Texts with %
// directives go through sqlFormat; "?" marks a value bound with its length (record texts and
// type tags may hold any byte). A table, column or index name given to a %s comes quoted
// as an identifier (node::quoteIdentifier), so that any plain name, an SQL keyword too,
// names the same table; a name inside SQL text goes through %Q.
#ifndef VENDRITHANE_ASSET_ASSETSTATEMENTS_H
#define VENDRITHANE_ASSET_ASSETSTATEMENTS_H

#include "node/Statements.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

using node::kAssetsTable;                       // the table of collection assets
constexpr char kReservedInfix[] = "vd_";        // in the names of the library's own tables
constexpr char kCreatedStamp[] = "vd_created";  // reserved time-stamp elements
constexpr char kModifiedStamp[] = "vd_modified";

// Own-table types (%s: the quoted type name).
constexpr char kCreateTypeTable[] = "CREATE TABLE %s (vd_id INTEGER PRIMARY KEY, vd_xml);";
constexpr char kDeleteTypeBlobs[] = "DELETE FROM vd_blobs WHERE vd_aid IN (SELECT vd_id FROM %s);";
constexpr char kDropTypeTable[] = "DROP TABLE %s;";

// Rows. The quoted table, the column list, the value list (each value preceded by a comma,
// "?" each) and the SET prefix come from the asset's kind and its promoted columns.
constexpr char kInsertRow[] = "INSERT INTO %s (%s,vd_xml) VALUES (:id%s,?);";
constexpr char kUpdateRow[] = "UPDATE %s SET %svd_xml=? WHERE vd_id=:id;";
// The same, on the condition that the row still holds the record text bound last.
constexpr char kUpdateRowIfUnchanged[] = "UPDATE %s SET %svd_xml=? WHERE vd_id=:id AND vd_xml=?;";
constexpr char kSelectRow[] = "SELECT %s FROM %s WHERE vd_id=%d;";
constexpr char kCollectionColumns[] = "vd_xml,vd_tag";
constexpr char kOwnTableColumns[] = "vd_xml";
constexpr char kAllColumns[] = "*";
constexpr char kDeleteRow[] = "DELETE FROM %s WHERE vd_id=:id;";
constexpr char kDeleteRowBlobs[] = "DELETE FROM vd_blobs WHERE vd_aid=:id;";

// Blob rows of one record: each element's bytes under its name.
constexpr char kInsertBlob[] =
    "INSERT OR REPLACE INTO vd_blobs (vd_aid,vd_tag,vd_blob) VALUES (%d,?1,?2);";
constexpr char kSelectBlob[] = "SELECT vd_blob FROM vd_blobs WHERE vd_aid=%d AND vd_tag=%Q;";
constexpr char kDeleteOtherBlobs[] = "DELETE FROM vd_blobs WHERE vd_aid=%d %s;";
constexpr char kKeepListStart[] = "AND vd_tag NOT IN (";

// The conversion of a catalog of the earlier storage generation (LegacyConversion.cpp): the
// new catalog's own identity is moved aside while the old registry is copied, and wins only
// when the old catalog brought none. Values are bound; %s is a quoted table name.
constexpr char kLegacyKeepNewId[] =
    "UPDATE vd_registry SET vd_tag='vd_dbid_v6' WHERE vd_tag='vd_dbid';";
constexpr char kLegacyDropNewId[] =
    "DELETE FROM vd_registry WHERE vd_tag='vd_dbid_v6' AND EXISTS "
    "(SELECT 1 FROM vd_registry WHERE vd_tag='vd_dbid');";
constexpr char kLegacyRestoreNewId[] =
    "UPDATE vd_registry SET vd_tag='vd_dbid' WHERE vd_tag='vd_dbid_v6';";
constexpr char kLegacySetCounter[] = "DELETE FROM vd_id;INSERT INTO vd_id VALUES (%lld);";
constexpr char kLegacyInsertCategory[] =
    "INSERT OR IGNORE INTO vd_cat (vd_id,vd_cdscr,vd_cper,vd_croot,vd_ctyp,vd_tgt) "
    "VALUES (?,?,?,?,?,?);";
constexpr char kLegacyInsertNode[] =
    "INSERT OR IGNORE INTO vd_cat_nde (vd_id,vd_cnod,vd_cpid,vd_xml) VALUES (?,?,?,?);";
constexpr char kLegacyInsertMember[] =
    "INSERT OR IGNORE INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (?,?,?);";
constexpr char kLegacyInsertRegistry[] =
    "INSERT OR IGNORE INTO vd_registry (vd_tag,vd_value) VALUES (?,?);";
constexpr char kLegacyInsertAsset[] =
    "INSERT OR IGNORE INTO vd_assets (vd_id,vd_tag,vd_xml) VALUES (?,?,?);";
constexpr char kLegacyInsertTypeRow[] = "INSERT OR IGNORE INTO %s (vd_id,vd_xml) VALUES (?,?);";
constexpr char kLegacyInsertBlob[] =
    "INSERT OR IGNORE INTO blobs.vd_blobs (vd_aid,vd_tag,vd_blob) VALUES (?,?,?);";

// Element indexes. Table, column and index names are plain identifiers checked beforehand,
// quoted; every name inside SQL text goes through %Q.
constexpr char kAddColumn[] = "ALTER TABLE %s ADD COLUMN %s %s;";
constexpr char kCreateIndex[] = "CREATE %s INDEX %s ON %s (%s %s);";
constexpr char kDropIndex[] = "DROP INDEX %s;";
constexpr char kFillColumn[] = "UPDATE %s SET %s=element_extract(%Q, vd_xml);";
constexpr char kInsertDeclaration[] =
    "INSERT INTO vd_idx (vd_id,vd_kmap,vd_ktgt,vd_ktyp) VALUES (%d, %Q, %Q, %d);";
constexpr char kDeleteDeclaration[] = "DELETE FROM vd_idx WHERE vd_kmap=%Q AND vd_ktgt=%Q;";
constexpr char kDeleteTableDeclarations[] = "DELETE FROM vd_idx WHERE vd_ktgt=%Q;";
constexpr char kSelectDeclarations[] = "SELECT vd_kmap,vd_ktgt,vd_ktyp FROM vd_idx ORDER BY rowid;";
constexpr char kTableInfo[] = "PRAGMA table_info(%Q);";
constexpr char kSelectTableIndexes[] =
    "SELECT sql FROM sqlite_master WHERE type='index' AND tbl_name=%Q AND sql IS NOT NULL;";
// The %s parts: scratch, definitions, scratch, column names, table, table, scratch, table
// (the scratch table is named kRebuildPrefix and the table's name; both come quoted).
constexpr char kRebuildPrefix[] = "vd_tmp_";
constexpr char kRebuildTable[] =
    "CREATE TABLE %s (%s);INSERT INTO %s SELECT %s FROM %s;DROP TABLE %s;"
    "ALTER TABLE %s RENAME TO %s;";

// Destruction of a collection type, with the check for categories it would leave empty.
constexpr char kDeleteTypeMemberships[] =
    "DELETE FROM vd_cat_xref WHERE vd_aid IN (SELECT vd_id FROM vd_assets WHERE vd_tag=%Q);";
// The check table is temporary; a table of that name in the catalog itself is never touched.
constexpr char kDropCheck[] = "DROP TABLE IF EXISTS temp.vd_cat_check;";
// The nodes that hold members of the type and no other member, with their parents.
constexpr char kCreateTypeCheck[] =
    "CREATE TEMP TABLE vd_cat_check AS SELECT vd_id,vd_cpid FROM vd_cat_nde WHERE vd_id IN "
    "(SELECT vd_cid FROM vd_cat_xref WHERE vd_aid IN (SELECT vd_id FROM vd_assets WHERE "
    "vd_tag=%Q)) AND vd_id NOT IN (SELECT vd_cid FROM vd_cat_xref WHERE vd_aid NOT IN (SELECT "
    "vd_id FROM vd_assets WHERE vd_tag=%Q));";
constexpr char kCreateCheck[] =
    "CREATE TEMP TABLE vd_cat_check AS SELECT vd_id,vd_cpid FROM vd_cat_nde WHERE vd_id NOT IN "
    "(SELECT vd_cid FROM vd_cat_xref);";
// One level up: each entry whose parent is a category node takes that node's own parent.
constexpr char kClimbCheck[] =
    "UPDATE vd_cat_check SET vd_cpid=(SELECT vd_cat_nde.vd_cpid FROM vd_cat_nde WHERE "
    "vd_cat_nde.vd_id=vd_cat_check.vd_cpid) WHERE vd_cpid NOT IN (SELECT vd_id FROM vd_cat);";
constexpr char kCountUnclimbed[] =
    "SELECT count() FROM vd_cat_check WHERE vd_cpid NOT IN (SELECT vd_id FROM vd_cat);";
constexpr char kCountNodesForCheck[] = "SELECT count() FROM vd_cat_nde;";
constexpr char kCountEmptyNotKept[] =
    "SELECT count() FROM vd_cat WHERE vd_id IN (SELECT vd_cpid FROM vd_cat_check) AND "
    "(vd_cper&1)==0;";
constexpr char kMarkEmptyNotKept[] =
    "UPDATE vd_cat_check SET vd_id=-1 WHERE vd_cpid NOT IN (SELECT vd_cpid FROM vd_cat_check "
    "WHERE vd_cpid IN (SELECT vd_id FROM vd_cat WHERE vd_cat.vd_id IN (SELECT "
    "vd_cat_check.vd_cpid FROM vd_cat_check) AND (vd_cat.vd_cper&1)==0));";
constexpr char kDeleteTypeBlobsShared[] =
    "DELETE FROM vd_blobs WHERE vd_aid IN (SELECT vd_id FROM vd_assets WHERE vd_tag=%Q);";
constexpr char kDeleteTypeRows[] = "DELETE FROM vd_assets WHERE vd_tag=%Q;";

// Engine messages the persistence layer tells apart.
constexpr char kNoSuchTable[] = "no such table";
constexpr char kAlreadyExists[] = "already exists";
constexpr char kRecordColumn[] = "vd_xml";

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ASSETSTATEMENTS_H

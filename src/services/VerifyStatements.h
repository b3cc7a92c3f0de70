// The statement texts of the catalog verification. Table and column names come quoted as
// identifiers (%s); texts through %Q; values read from rows are bound or numbers.
#ifndef VENDRITHANE_SERVICES_VERIFYSTATEMENTS_H
#define VENDRITHANE_SERVICES_VERIFYSTATEMENTS_H

namespace KESTRIN {
namespace Vendrithane {
namespace services {

// Ids outside the allocated range: 0 or less, and no id at all (NULL, or not an integer).
constexpr char kBadIds[] = "FROM %s WHERE vd_id IS NULL OR typeof(vd_id)<>'integer' OR vd_id<=0;";
constexpr char kSelectHighestId[] = "SELECT max(vd_id) FROM %s;";

// Declarations of element indexes whose table is gone.
constexpr char kStaleDeclarations[] =
    "FROM vd_idx WHERE vd_ktgt IS NULL OR lower(vd_ktgt) NOT IN (SELECT lower(tbl_name) FROM "
    "sqlite_master WHERE type='table');";

// Namespace names, and the rename of the second and later of one name.
constexpr char kSelectNamespaceNames[] = "SELECT vd_id,vd_croot FROM vd_cat ORDER BY vd_id;";
constexpr char kRenameNamespace[] = "UPDATE vd_cat SET vd_croot=%Q WHERE vd_id=%lld;";
constexpr char kCopySuffix[] = " Copy ";

// Sibling nodes of one label.
constexpr char kCountNodeRows[] = "SELECT count() FROM (SELECT vd_cnod, vd_cpid FROM vd_cat_nde);";
constexpr char kCountDistinctNodeRows[] =
    "SELECT count() FROM (SELECT DISTINCT vd_cnod, vd_cpid FROM vd_cat_nde);";
constexpr char kSelectNodesByPlace[] =
    "SELECT vd_id, vd_cnod, vd_cpid FROM vd_cat_nde ORDER BY vd_cpid, vd_cnod, vd_id;";

// Nodes that cannot reach a namespace through their parents: a missing parent, or a cycle.
constexpr char kUnreachableNodes[] =
    "WITH RECURSIVE vd_reach(vd_id) AS (SELECT vd_id FROM vd_cat_nde WHERE vd_cpid IN (SELECT "
    "vd_id FROM vd_cat) UNION SELECT vd_cat_nde.vd_id FROM vd_cat_nde JOIN vd_reach ON "
    "vd_cat_nde.vd_cpid=vd_reach.vd_id) %s FROM vd_cat_nde WHERE vd_id NOT IN (SELECT vd_id FROM "
    "vd_reach);";
constexpr char kCountPrefix[] = "SELECT count()";
constexpr char kDeletePrefix[] = "DELETE";

// Memberships whose category node is gone.
constexpr char kOrphanMemberships[] =
    "FROM vd_cat_xref WHERE vd_cid IS NULL OR vd_cid NOT IN (SELECT vd_id FROM vd_cat_nde);";

// Namespaces and their targets.
constexpr char kSelectTargets[] = "SELECT vd_id,vd_tgt FROM vd_cat ORDER BY vd_id;";
constexpr char kSelectTableNamed[] =
    "SELECT tbl_name FROM sqlite_master WHERE type='table' AND lower(tbl_name)=lower(%Q);";

// Memberships of vanished members: kMembershipsWhere, the terms joined by " AND ", ");".
constexpr char kMembershipsWhere[] = " FROM vd_cat_xref WHERE vd_aid IS NULL OR (";
constexpr char kMemberOfTable[] = " vd_aid NOT IN (SELECT vd_id FROM %s)";
constexpr char kMemberOfType[] =
    " vd_aid NOT IN (SELECT vd_id FROM vd_assets WHERE lower(vd_tag)=%Q)";

// (member, parent node) pairs where the parent lacks a member of its child.
constexpr char kMissingAncestors[] =
    "SELECT DISTINCT vd_cat_xref.vd_aid,vd_cat_nde.vd_cpid FROM vd_cat_xref CROSS JOIN "
    "vd_cat_nde ON vd_cat_xref.vd_cid=vd_cat_nde.vd_id WHERE vd_cat_nde.vd_cpid NOT IN (SELECT "
    "vd_id FROM vd_cat) AND vd_cat_nde.vd_cpid IN (SELECT vd_id FROM vd_cat_nde) AND NOT EXISTS "
    "(SELECT 1 FROM vd_cat_xref AS vd_held WHERE vd_held.vd_aid=vd_cat_xref.vd_aid AND "
    "vd_held.vd_cid=vd_cat_nde.vd_cpid);";
constexpr char kInsertAncestorMembership[] =
    "INSERT OR IGNORE INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (?1,?2,?3);";

// The sweep of memberless nodes of namespaces that do not keep them.
constexpr char kDeleteSwept[] =
    "DELETE FROM vd_cat_nde WHERE vd_id IN (SELECT vd_id FROM vd_cat_check WHERE "
    "vd_cat_check.vd_id>0);";

// Indexes and tables of the two schema scripts (%s: "" or "blobs.").
constexpr char kCountIndexNamed[] =
    "SELECT count() FROM %ssqlite_master WHERE type='index' AND lower(name)=lower(%Q) AND "
    "lower(tbl_name)=lower(%Q);";
constexpr char kCountBlobTable[] =
    "SELECT count() FROM blobs.sqlite_master WHERE type='table' AND name='vd_blobs';";
constexpr char kBlobSchema[] = "blobs";
constexpr char kCountBlobSchemas[] = "SELECT count() FROM pragma_database_list WHERE name='blobs';";
// The name an earlier schema gave an index: its stem with this ending instead of "_idx".
constexpr char kIndexEnding[] = "_idx";
constexpr char kOlderIndexEnding[] = "_vd_idx";

// The unique index of sibling labels: made again only after the labels were merged.
constexpr char kLabelIndex[] = "vd_cat_nde_vd_cnod_vd_cpid_idx";

// Declarations against columns.
constexpr char kSelectAllDeclarations[] = "SELECT vd_kmap,vd_ktgt,vd_ktyp,rowid FROM vd_idx;";
constexpr char kDeleteDeclarationRow[] = "DELETE FROM vd_idx WHERE rowid=%lld;";
constexpr char kSelectIndexSql[] = "SELECT sql FROM sqlite_master WHERE type='index' AND name=%Q;";

}  // namespace services
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_SERVICES_VERIFYSTATEMENTS_H

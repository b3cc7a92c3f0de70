// The statement texts of the category layer, each written once.
#ifndef VENDRITHANE_CATEGORY_CATEGORYSTATEMENTS_H
#define VENDRITHANE_CATEGORY_CATEGORYSTATEMENTS_H

namespace KESTRIN {
namespace Vendrithane {
namespace category {

constexpr char kNodeTable[] = "vd_cat_nde";  // category nodes; also a namespace's target
// A namespace root's columns, kept as its elements.
constexpr char kDescription[] = "vd_cdscr";
constexpr char kFlags[] = "vd_cper";
constexpr char kTypeNumber[] = "vd_ctyp";
constexpr char kTarget[] = "vd_tgt";
constexpr int kPersistEmptyBit = 1;
constexpr int kMembersModifyBit = 2;

// Namespaces.
constexpr char kInsertNamespace[] =
    "INSERT INTO vd_cat (vd_id,vd_cdscr,vd_cper,vd_croot,vd_ctyp,vd_tgt) VALUES "
    "(%d,%Q,%d,%Q,%d,%Q);";
constexpr char kUpdateNamespace[] =
    "UPDATE vd_cat SET vd_cdscr=%Q,vd_cper=%d,vd_croot=%Q,vd_ctyp=%d,vd_tgt=%Q WHERE vd_id=%d;";
constexpr char kDeleteNamespace[] = "DELETE FROM vd_cat WHERE vd_id=%d;";

// Nodes.
constexpr char kInsertNode[] =
    "INSERT INTO vd_cat_nde (vd_id,vd_cnod,vd_cpid,vd_xml) VALUES (%d,%Q,%d,%Q);";
constexpr char kUpdateNode[] =
    "UPDATE vd_cat_nde SET vd_cnod=%Q,vd_cpid=%d,vd_xml=%Q WHERE vd_id=%d;";
constexpr char kDeleteNode[] = "DELETE FROM vd_cat_nde WHERE vd_id=%d;";
constexpr char kDeleteNodeMemberships[] = "DELETE FROM vd_cat_xref WHERE vd_cid=%d;";

// Loading.
constexpr char kSelectNamespaces[] =
    "SELECT vd_id,vd_cdscr,vd_cper,vd_croot,vd_ctyp,vd_tgt FROM vd_cat;";
constexpr char kSelectNodes[] =
    "SELECT vd_id,vd_cnod,vd_cpid,vd_xml FROM vd_cat_nde ORDER BY vd_cpid ASC, vd_id ASC;";
constexpr char kSelectPopulations[] = "SELECT vd_cid,COUNT() FROM vd_cat_xref GROUP BY vd_cid;";
constexpr char kSelectNode[] = "SELECT vd_cnod,vd_cpid,vd_xml FROM vd_cat_nde WHERE vd_id=%d;";
constexpr char kSelectChildren[] =
    "SELECT vd_id,vd_cnod,vd_cpid,vd_xml FROM vd_cat_nde WHERE (vd_cpid=%d)%s;";
constexpr char kCountMembers[] = "SELECT count() FROM vd_cat_xref WHERE vd_cid=%d;";

// Membership. Values in the statements run once per member are bound ("?").
constexpr char kSelectExistingMembers[] = "SELECT DISTINCT vd_id FROM %s WHERE vd_id IN (%s)%s;";
constexpr char kTagCondition[] = " AND vd_tag=%Q";
constexpr char kInsertMembership[] =
    "INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (?1,?2,?3);";
constexpr char kDeleteListedMemberships[] =
    "DELETE FROM vd_cat_xref WHERE vd_cid=%d and vd_aid IN (%s);";
constexpr char kSelectHolders[] =
    "SELECT DISTINCT vd_cid FROM vd_cat_xref WHERE vd_aid=?1 ORDER BY vd_cid DESC;";
constexpr char kDeleteMemberRows[] = "DELETE FROM vd_cat_xref WHERE vd_aid=?1;";
constexpr char kContains[] = "SELECT count() FROM vd_cat_xref WHERE vd_aid=%d AND vd_cid=%d;";
constexpr char kSelectOtherMembers[] =
    "SELECT vd_aid FROM vd_cat_xref WHERE vd_cid=%d AND vd_aid NOT IN (%s) ORDER BY vd_id;";
constexpr char kSelectOrderKeys[] =
    "SELECT vd_id FROM vd_cat_xref WHERE vd_cid=%d AND vd_aid IN (%s) ORDER BY vd_id;";
constexpr char kDeleteOrderKey[] = "DELETE FROM vd_cat_xref WHERE vd_id=%s;";
constexpr char kInsertOrdered[] =
    "INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) VALUES (%s,%d,%d);";
constexpr char kSelectHoldersOfList[] =
    "SELECT DISTINCT vd_cid FROM vd_cat_xref WHERE vd_aid IN %s;";
constexpr char kCountHeldOfList[] =
    "SELECT count() FROM vd_cat_xref WHERE vd_aid IN %s AND vd_cid=%d;";

// Date trees: impossible years, and the repair of labels without their leading zero.
constexpr char kSelectBadYears[] =
    "SELECT vd_id FROM vd_cat_nde WHERE (CAST(vd_cnod AS INTEGER)<0 OR CAST(vd_cnod AS "
    "INTEGER)>3000) AND vd_cpid==%d;";
constexpr char kSelectAllNodes[] =
    "SELECT vd_id,vd_cnod,vd_cpid FROM vd_cat_nde ORDER BY vd_id ASC;";
constexpr char kRenameNode[] = "UPDATE vd_cat_nde SET vd_cnod=%Q WHERE vd_id==%d;";
constexpr char kSelectSiblingsLabelled[] =
    "SELECT vd_id FROM vd_cat_nde WHERE vd_cpid=%d AND vd_cnod==%Q";
constexpr char kMoveNode[] = "UPDATE vd_cat_nde SET vd_cpid=%d WHERE vd_id==%d;";
constexpr char kMoveMemberships[] = "UPDATE OR IGNORE vd_cat_xref SET vd_cid=%d WHERE vd_cid==%d;";
constexpr char kMoveMembershipsAsMember[] =
    "UPDATE OR IGNORE vd_cat_xref SET vd_aid=%d WHERE vd_aid==%d;";

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYSTATEMENTS_H

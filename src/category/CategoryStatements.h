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

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYSTATEMENTS_H

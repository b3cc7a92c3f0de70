// The statement texts of the catalog copy, each written once. The copy runs them on the
// source's connection with the destination's files attached as vd_dest and vd_dest_blobs;
// "%s" before INTO is the conflict clause ("OR IGNORE " when ids are kept, "" otherwise).
// Every id the copy writes must be free in all of the destination's tables that take their
// ids from its counter (its record tables and the library's own).
#ifndef VENDRITHANE_SERVICES_COPYSTATEMENTS_H
#define VENDRITHANE_SERVICES_COPYSTATEMENTS_H

namespace KESTRIN {
namespace Vendrithane {
namespace services {

constexpr char kDestMain[] = "vd_dest";           // the destination's main file
constexpr char kDestBlobs[] = "vd_dest_blobs";    // the destination's blob file
constexpr char kCopyMarkerTag[] = "vd_dbiscopy";  // registry: the next id of a fresh copy
constexpr char kKeepConflicts[] = "OR IGNORE ";   // rows already there stay as they are

constexpr char kAttach[] = "ATTACH DATABASE %Q AS %s;";
constexpr char kDetach[] = "DETACH DATABASE %s;";

// The selected records' ids, taken once from the filter's ids-only SELECT: every later step
// reads them from here, so all see the same rows and no category id joins them.
constexpr char kTakeSelected[] =
    "DROP TABLE IF EXISTS temp.vd_tmp_copy_ids;CREATE TEMP TABLE vd_tmp_copy_ids (vd_id "
    "INTEGER PRIMARY KEY);INSERT OR IGNORE INTO temp.vd_tmp_copy_ids (vd_id) %s;";
constexpr char kDropSelected[] = "DROP TABLE temp.vd_tmp_copy_ids;";
// Keep mode: a record the destination holds at its id as another record (another text, or
// in the shared table another type) is kept as the destination has it, and stays out whole
// (blobs, promoted columns and memberships too). The same record copied earlier stays in:
// what is new of it (blobs, memberships) is added. %s: table, table, kTagDiffers or "".
constexpr char kDropPresent[] =
    "DELETE FROM temp.vd_tmp_copy_ids WHERE vd_id IN (SELECT vd_dest_row.vd_id FROM vd_dest.%s "
    "AS vd_dest_row JOIN main.%s AS vd_source_row ON vd_source_row.vd_id=vd_dest_row.vd_id WHERE "
    "vd_dest_row.vd_xml IS NOT vd_source_row.vd_xml%s);";
constexpr char kTagDiffers[] = " OR vd_dest_row.vd_tag IS NOT vd_source_row.vd_tag";
// Keep mode: whether a destination table holds one of the ids of a query (its column vd_id).
constexpr char kIdsHeldIn[] =
    "SELECT 1 FROM (%s) WHERE vd_id IN (SELECT vd_id FROM vd_dest.%s) LIMIT 1;";
constexpr char kSelectedIds[] = "SELECT vd_id FROM temp.vd_tmp_copy_ids";
constexpr char kCopiedMembershipIds[] =
    "SELECT vd_id FROM temp.vd_tmp_cat_cpy WHERE vd_catcopy(vd_cid)=1";
constexpr char kIdHeldIn[] = "SELECT 1 FROM vd_dest.%s WHERE vd_id=%d LIMIT 1;";
// Keep mode: a copied membership whose order key the destination uses for another pair.
constexpr char kMembershipKeyTaken[] =
    "SELECT 1 FROM temp.vd_tmp_cat_cpy t JOIN vd_dest.vd_cat_xref x ON x.vd_id=t.vd_id WHERE "
    "vd_catcopy(t.vd_cid)=1 AND (x.vd_aid IS NOT vd_idmap(t.vd_aid) OR x.vd_cid IS NOT "
    "vd_idmap(t.vd_cid)) LIMIT 1;";
// Renumber mode: the lowest id at or above the first drawn one that the destination holds
// before the copy writes (the ids the copy hands out must all be free).
constexpr char kLowestIdFrom[] = "SELECT min(vd_id) FROM vd_dest.%s WHERE vd_id>=%d;";
constexpr char kLowestBlobIdFrom[] =
    "SELECT min(vd_aid) FROM vd_dest_blobs.vd_blobs WHERE vd_aid>=%d;";

// Records (their ids through vd_idmap, in id order), their promoted columns and their blobs.
constexpr char kInsertRecords[] =
    "INSERT %sINTO vd_dest.%s (vd_id,%s) SELECT vd_idmap(vd_id),%s FROM main.%s WHERE vd_id "
    "IN (SELECT vd_id FROM temp.vd_tmp_copy_ids) ORDER BY vd_id;";
constexpr char kFillCopiedColumn[] =
    "UPDATE vd_dest.%s SET %s=element_extract(%Q,vd_xml) WHERE vd_id IN (SELECT "
    "vd_idmap(vd_id) FROM temp.vd_tmp_copy_ids);";
constexpr char kInsertBlobs[] =
    "INSERT %sINTO vd_dest_blobs.vd_blobs (vd_aid,vd_tag,vd_blob) SELECT "
    "vd_idmap(vd_aid),vd_tag,vd_blob FROM blobs.vd_blobs WHERE vd_aid IN (SELECT vd_id FROM "
    "temp.vd_tmp_copy_ids);";

// Memberships, in each category's member order; vd_catcopy decides the categories, all of
// them first.
constexpr char kDecideCategories[] =
    "SELECT vd_catcopy(vd_cid) FROM main.vd_cat_xref WHERE vd_aid IN (SELECT vd_id FROM "
    "temp.vd_tmp_copy_ids) GROUP BY vd_cid ORDER BY vd_cid;";
constexpr char kTakeMemberships[] =
    "DROP TABLE IF EXISTS temp.vd_tmp_cat_cpy;CREATE TEMP TABLE vd_tmp_cat_cpy AS SELECT "
    "vd_id,vd_aid,vd_cid FROM main.vd_cat_xref WHERE vd_aid IN (SELECT vd_id FROM "
    "temp.vd_tmp_copy_ids) ORDER BY vd_cid,vd_id;";
// The second "%s" is the renumbering copy's clause (kFirstPairOnly, else ""): two source
// categories merged into one destination category give one membership per member, the
// first; an order key taken in the destination still fails.
constexpr char kInsertMemberships[] =
    "INSERT %sINTO vd_dest.vd_cat_xref (vd_id,vd_aid,vd_cid) SELECT "
    "vd_idmap(vd_id),vd_idmap(vd_aid),vd_idmap(vd_cid) FROM temp.vd_tmp_cat_cpy WHERE "
    "vd_catcopy(vd_cid)=1 ORDER BY rowid%s;";
constexpr char kFirstPairOnly[] = " ON CONFLICT (vd_aid,vd_cid) DO NOTHING";
constexpr char kDropMemberships[] = "DROP TABLE temp.vd_tmp_cat_cpy;";

// The categories the memberships need.
constexpr char kSourceNamespace[] =
    "SELECT vd_cdscr,vd_cper,vd_croot,vd_ctyp,vd_tgt FROM main.vd_cat WHERE vd_id=%d;";
constexpr char kSourceNode[] = "SELECT vd_cnod,vd_cpid,vd_xml FROM main.vd_cat_nde WHERE vd_id=%d;";
constexpr char kDestNamespace[] = "SELECT vd_id,vd_tgt FROM vd_dest.vd_cat WHERE vd_croot=%Q;";
constexpr char kDestChild[] =
    "SELECT vd_id FROM vd_dest.vd_cat_nde WHERE vd_cpid=%d AND vd_cnod=%Q;";
// Keep mode: what the destination has at a category's own id.
constexpr char kDestNamespaceAt[] = "SELECT vd_tgt FROM vd_dest.vd_cat WHERE vd_id=%d;";
constexpr char kDestNodeAt[] = "SELECT vd_id FROM vd_dest.vd_cat_nde WHERE vd_id=%d;";
constexpr char kInsertNamespace[] =
    "INSERT INTO vd_dest.vd_cat (vd_id,vd_cdscr,vd_cper,vd_croot,vd_ctyp,vd_tgt) VALUES "
    "(%d,%Q,%d,%Q,%d,%Q);";
constexpr char kInsertNode[] =
    "INSERT INTO vd_dest.vd_cat_nde (vd_id,vd_cnod,vd_cpid,vd_xml) VALUES (%d,%Q,%d,%Q);";
constexpr char kInsertNodeBlobs[] =
    "INSERT %sINTO vd_dest_blobs.vd_blobs (vd_aid,vd_tag,vd_blob) SELECT %d,vd_tag,vd_blob "
    "FROM blobs.vd_blobs WHERE vd_aid=%d;";

// The destination's counter, catalog id and copy marker, written in the copy's transaction.
constexpr char kWriteDestCounter[] = "UPDATE vd_dest.vd_id SET vd_id=%d;";
constexpr char kWriteDestRegistry[] =
    "INSERT OR REPLACE INTO vd_dest.vd_registry (vd_tag,vd_value) VALUES (%Q,%Q);";
constexpr char kRemoveDestRegistry[] = "DELETE FROM vd_dest.vd_registry WHERE vd_tag=%Q;";

}  // namespace services
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_SERVICES_COPYSTATEMENTS_H

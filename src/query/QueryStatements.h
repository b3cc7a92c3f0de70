// The SQL fragments of rendered conditions and of the statement builder, each written once.
// %s stands for a quoted table (node::quoteIdentifier), %d for ids; values and names inside
// SQL text are %q-quoted.
#ifndef VENDRITHANE_QUERY_QUERYSTATEMENTS_H
#define VENDRITHANE_QUERY_QUERYSTATEMENTS_H

namespace KESTRIN {
namespace Vendrithane {
namespace query {

// Conditions. A reference (REF: a promoted column, or the value read from the record text)
// is written between the two parts of a pair.
constexpr char kLikeTail[] = " LIKE '%q' ";  // after " " REF
constexpr char kNotLikeTail[] = " NOT LIKE '%q' ";
constexpr char kGlobTail[] = " GLOB '%q' ";
constexpr char kNotGlobTail[] = " NOT GLOB '%q' ";
constexpr char kTextLiteral[] = "'%q'";
constexpr char kColumn[] = "%s.%s";  // quoted table and column
constexpr char kExtract[] = "element_extract('%q',%s.vd_xml)";
constexpr char kCastOpen[] = "CAST(";
constexpr char kCastClose[] = " AS INTEGER)";
constexpr char kLowerOpen[] = " lower(";
constexpr char kUpperOpen[] = " upper(";
constexpr char kDayOpen[] = " day(";
constexpr char kMonthOpen[] = " month(";
constexpr char kYearOpen[] = " year(";
constexpr char kWeekdayOpen[] = " weekday(";
constexpr char kFunctionClose[] = ") ";
constexpr char kInRangeOpen[] = " inrange(";
constexpr char kInRangeClose[] = ",%lld,%lld, %d)=1 ";
constexpr char kMember[] =
    " %s.vd_id IN (SELECT vd_aid FROM vd_cat_xref WHERE vd_cat_xref.vd_cid=%d) ";
constexpr char kNotMember[] =
    " %s.vd_id NOT IN (SELECT vd_aid FROM vd_cat_xref WHERE vd_cat_xref.vd_cid=%d) ";
constexpr char kMemberOfAny[] =
    " %s.vd_id IN (SELECT vd_aid FROM vd_cat_xref WHERE vd_cat_xref.vd_cid IN (%s)) ";
constexpr char kMemberOfNone[] =
    " %s.vd_id NOT IN (SELECT vd_aid FROM vd_cat_xref WHERE vd_cat_xref.vd_cid IN (%s)) ";
constexpr char kDescends[] = " vd_cat_decendent(%s.vd_id,%d) ";
constexpr char kIdInText[] = " %s.vd_id IN (%s) ";
constexpr char kIdNotInText[] = " %s.vd_id NOT IN (%s) ";

// Statements. The column lists take the main table for every %s.
constexpr char kTypeClause[] = " (lower(%s.vd_tag)=='%q') ";
constexpr char kRecordColumns[] = "%s.vd_id,%s.vd_xml,%s.vd_tag";
constexpr char kMappedRecordColumns[] = "vd_idmap(%s.vd_id),%s.vd_xml,%s.vd_tag";
constexpr char kRowColumns[] = "%s.vd_id,%s.vd_xml";
constexpr char kMappedRowColumns[] = "vd_idmap(%s.vd_id),%s.vd_xml";
constexpr char kIdColumn[] = "%s.vd_id";
constexpr char kMappedIdColumn[] = "vd_idmap(%s.vd_id)";
constexpr char kMemberOrderJoin[] =
    " LEFT JOIN vd_cat_xref ON %s.vd_id=vd_cat_xref.vd_aid AND vd_cat_xref.vd_cid=%d";
constexpr char kRankAscending[] = "collaterank(%s, 'a') ASC";
constexpr char kRankDescending[] = "collaterank(%s, 'd') DESC";
constexpr char kCountOpen[] = "SELECT count() FROM (";  // around the statement of the rows
constexpr char kCountClose[] = ")";

}  // namespace query
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_QUERY_QUERYSTATEMENTS_H

// Conditions, filters and the statements they render: exact texts, and every statement run
// on a catalog with records, categories and memberships.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "asset/AssetCatalogFixture.h"
#include "functions/SqlFunctions.h"
#include "helpers/ZoneScope.h"
#include "node/ConnectionPool.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "query/ExpressionImpl.h"
#include "query/FilterImpl.h"
#include "query/Render.h"
#include "vendrithane/vendrithane.h"

namespace {

using namespace KESTRIN::Vendrithane;
using query::BuildFlags;

// Statement shapes of the builder.
BuildFlags countFlags() {
  BuildFlags f;
  f.count = true;
  return f;
}
BuildFlags idFlags(bool mapIds = false) {
  BuildFlags f;
  f.idsOnly = true;
  f.mapIds = mapIds;
  return f;
}
BuildFlags clauseFlags() {
  BuildFlags f;
  f.clauseOnly = true;
  return f;
}

using vdtest::ZoneScope;

class Query : public AssetCatalog {
 protected:
  ZoneScope zone_{"EST5EDT,M3.2.0,M11.1.0"};  // time 0 is 31 December here

  void SetUp() override {
    AssetCatalog::SetUp();
    ASSERT_EQ(node_->assetDeclare("reel", false), 0);
    photo_ = record("photo", true, "Harbour", 4, Time(2008, 3, 5, 14, 0, 0));
    second_ = record("photo", true, "it's", 2, Time(2040, 1, 15, 12, 0, 0));  // after 2038
    undated_ = record("photo", true, "", 3, Time(0));
    undated_.erase("shot");
    ASSERT_EQ(undated_.update(), 0);
    reel_ = record("reel", false, "Reel one", 1, Time(2008, 12, 20, 12, 0, 0));
  }

  Asset record(const char* type, bool collection, const char* title, int rating, Time shot) {
    Asset a = node_->asset(type, collection);
    a.element("title") = title;
    a.element("rating") = rating;
    a.element("shot") = shot;
    EXPECT_EQ(a.store(), 0);
    return a;
  }

  // The rendered text of a condition.
  std::string text(const Expression& e) {
    query::RenderContext context(impl_);
    std::string out;
    query::render(e, context, &out);
    return out;
  }
  std::string statement(Filter& f, const BuildFlags& flags = BuildFlags(),
                        const std::string& context = std::string()) {
    return query::buildStatement(FilterAccess::snapshot(f), flags, context, impl_).text;
  }
  // The first column of the rows of `sql` on a catalog connection, comma-separated.
  std::string run(const std::string& sql) {
    node::ConnectionLease lease(impl_->pool());
    node::Statement s(*lease, sql);
    std::string out;
    while (s.step()) out += (out.empty() ? "" : ",") + std::string(s.columnText(0).buffer());
    EXPECT_FALSE(s.failed()) << sql << ": " << s.error().message;
    return out;
  }
  // A membership row (order key `key`).
  void member(int key, const Asset& a, Category& c) {
    node::ConnectionLease lease(impl_->pool());
    ASSERT_EQ(node::execute(*lease, node::sqlFormat("INSERT INTO vd_cat_xref (vd_id,vd_aid,vd_cid) "
                                                    "VALUES (%d,%d,%d);",
                                                    key, const_cast<Asset&>(a).id(), c.id())),
              0);
  }
  Category category(const char* ns, const char* label) {
    Category c = node_->category(ns);
    c.subCategory(label);
    EXPECT_EQ(c.add(), 0);
    return c;
  }
  std::string ids(Filter f) {
    std::string out;
    for (int id : node_->assetIdLoad(f)) out += (out.empty() ? "" : ",") + std::to_string(id);
    return out;
  }
  std::string id(Asset& a) { return std::to_string(a.id()); }

  Asset photo_ = Asset(), second_ = Asset(), undated_ = Asset(), reel_ = Asset();
};

// The Status a call throws; 0 when it throws none.
template <class F>
int thrown(F&& f) {
  try {
    f();
  } catch (Status s) {
    return s;
  }
  return 0;
}

// The assets table, its record-text column and the reel table as rendered.
const std::string A = "\"vd_assets\"";
std::string extract(const char* name, const std::string& table = A) {
  return "element_extract('" + std::string(name) + "'," + table + ".vd_xml)";
}
std::string cast(const std::string& s) {
  return "CAST(" + s + " AS INTEGER)";
}

TEST_F(Query, EveryKindRendersItsExactText) {
  ASSERT_EQ(node_->categoryDeclare("places", photo_, true, false), 0);
  Element& title = photo_.element("title");
  Element& rating = photo_.element("rating");
  Element& shot = photo_.element("shot");
  Element& reelTitle = reel_.element("title");
  Element& odd = photo_.element("o'k");
  odd = 5LL;
  const std::string T = extract("title"), R = cast(extract("rating")), S = cast(extract("shot"));
  const struct {
    Expression e;
    std::string text;
  } cases[] = {
      // The example of a text comparison and a year, each side in parentheses.
      {(Expression(title) == Expression(String("t"))) && (shot.year() >= Expression(2001)),
       " ( (" + T + ") == ('t') )  AND  ( ( year(" + S + ") ) >= (2001) ) "},
      {title != Expression(String("it's")), " (" + T + ") != ('it''s') "},
      {rating < Expression(3), " (" + R + ") < (3) "},
      {rating <= Expression(5000000000LL), " (" + R + ") <= (5000000000) "},
      {shot > Expression(Time(4102444800LL)), " (" + S + ") > (4102444800) "},
      {title || rating, " (" + T + ")  OR  (" + R + ") "},
      {Expression(odd) == Expression(1), " (" + cast(extract("o''k")) + ") == (1) "},
      {title.like(String("it's%")), " " + T + " LIKE 'it''s%' "},
      {title.glob(String("H*")), " " + T + " GLOB 'H*' "},
      {title.lower(), " lower(" + T + ") "},
      {title.upper(), " upper(" + T + ") "},
      {shot.day(), " day(" + S + ") "},
      {shot.month(), " month(" + S + ") "},
      {shot.dayOfWeek(), " weekday(" + S + ") "},
      // Day keys count 366-day years: 30 January is 30, 1 February 32.
      {shot.inDateRange(Time(2001, 1, 30, 12, 0, 0), Time(2001, 2, 1, 12, 0, 0), false),
       " inrange(" + S + ",30,32, 0)=1 "},
      {shot.inDateRange(Time(2001, 1, 30, 12, 0, 0), Time(2001, 2, 1, 12, 0, 0), true),
       " inrange(" + S + "," + std::to_string(366LL * 2001 + 30) + "," +
           std::to_string(366LL * 2001 + 32) + ", 1)=1 "},
      {reel_.in(std::vector<int>{7, 9}), " \"reel\".vd_id IN (7,9) "},
      {photo_.in(std::vector<int>{3}), " " + A + ".vd_id IN (3) "},
      {reelTitle == reelTitle,
       " (" + extract("title", "\"reel\"") + ") == (" + extract("title", "\"reel\"") + ") "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text(c.e), c.text);
    Filter f;
    f = c.e;
    EXPECT_GE(node_->assetCount(f), 0) << c.text;  // the engine takes it
  }

  // Negations in place, and their texts.
  Expression like = title.like(String("a"));
  EXPECT_EQ(text(!like), " " + T + " NOT LIKE 'a' ");
  Expression glob = title.glob(String("a"));
  EXPECT_EQ(text(!glob), " " + T + " NOT GLOB 'a' ");
  Expression list = reel_.in(std::vector<int>{7});
  EXPECT_EQ(text(!list), " \"reel\".vd_id NOT IN (7) ");
  Expression nodes = node_->category("places").in(std::vector<int>{5, 6});
  EXPECT_EQ(text(nodes), " \"vd_cat_nde\".vd_id IN (5,6) ");
  EXPECT_EQ(text(!nodes), " \"vd_cat_nde\".vd_id NOT IN (5,6) ");
}

TEST_F(Query, CategoryConditionsNameTheTablesOfTheirMembers) {
  ASSERT_EQ(node_->categoryDeclare("places", photo_, true, false), 0);
  ASSERT_EQ(node_->categoryDeclare("reels", reel_, true, false), 0);
  ASSERT_EQ(node_->categoryDeclare("empty", photo_, true, false), 0);
  Category paris = category("places", "paris"), rome = category("places", "rome");
  Category box = category("reels", "box");
  ASSERT_EQ(node_->categoryDeclare("tags", paris, true, false), 0);
  Category tag = category("tags", "red");
  const std::string p = std::to_string(paris.id()), r = std::to_string(rome.id()),
                    b = std::to_string(box.id()), t = std::to_string(tag.id());
  auto in = [](const std::string& table, const std::string& ids, bool any) {
    return " " + table + ".vd_id IN (SELECT vd_aid FROM vd_cat_xref WHERE vd_cat_xref.vd_cid" +
           (any ? " IN (" + ids + ")) " : "=" + ids + ") ");
  };
  auto notIn = [](const std::string& table, const std::string& ids) {
    return " " + table + ".vd_id NOT IN (SELECT vd_aid FROM vd_cat_xref WHERE " +
           "vd_cat_xref.vd_cid IN (" + ids + ")) ";
  };
  Category places = node_->category("places");
  Expression inParis = photo_.in(paris);
  EXPECT_EQ(text(inParis), in(A, p, false));
  EXPECT_EQ(text(!inParis), " " + A + ".vd_id NOT IN (SELECT vd_aid FROM vd_cat_xref WHERE " +
                                "vd_cat_xref.vd_cid=" + p + ") ");
  EXPECT_EQ(text(reel_.in(box)), in("\"reel\"", b, false));
  EXPECT_EQ(text(tag.in(tag)), in("\"vd_cat_nde\"", t, false));
  // A namespace root: any of its stored top-level categories, for records and nodes alike.
  EXPECT_EQ(text(photo_.in(places)), in(A, p + "," + r, true));
  EXPECT_EQ(text(paris.in(places)), in(A, p + "," + r, true));
  EXPECT_EQ(text(photo_.in(node_->category("empty"))), " (1) < (0) ");
  // Several tables: one clause each, OR-ed; negated, AND-ed.
  Expression any = photo_.inAny({&paris, &box, &rome});
  const std::string anyText =
      " (" + in(A, p + "," + r, true) + " OR " + in("\"reel\"", b, true) + ") ";
  EXPECT_EQ(text(any), anyText);
  EXPECT_EQ(text(!any), " (" + notIn(A, p + "," + r) + " AND " + notIn("\"reel\"", b) + ") ");
  EXPECT_EQ(text(paris.descendant()), " vd_cat_decendent(\"vd_cat_nde\".vd_id," + p + ") ");
  for (int negated = 0; negated < 2; ++negated, !inParis, !any) {
    for (Expression e :
         {inParis, any, reel_.in(box), tag.in(tag), photo_.in(places), paris.descendant()}) {
      Filter f;
      f = e;
      EXPECT_GE(node_->assetCount(f), 0) << text(e);
      EXPECT_GE(node_->categoryCount(f), 0) << text(e);
    }
  }
  EXPECT_EQ(thrown([&] { photo_.inAny({&paris, nullptr}); }), StatusEmptyArgument);
  // Category nodes by their own elements, and by descent.
  paris.element("note") = "it's";
  ASSERT_EQ(paris.update(), 0);
  Filter nodes;
  nodes = Expression(paris.element("note")) == Expression(String("it's"));
  Expression condition;
  EXPECT_EQ(text(condition = nodes), " (" + extract("note", "\"vd_cat_nde\"") + ") == ('it''s') ");
  EXPECT_EQ(node_->categoryCount(nodes), 1);
  nodes = places.descendant();
  EXPECT_EQ(node_->categoryCount(nodes), 2);
}

TEST_F(Query, StatementShapes) {
  Filter f;
  const std::string cols = A + ".vd_id," + A + ".vd_xml," + A + ".vd_tag";
  EXPECT_EQ(statement(f), "SELECT DISTINCT " + cols + " FROM " + A + ";");
  f.allowDuplicates(true);
  EXPECT_EQ(statement(f), "SELECT " + cols + " FROM " + A + ";");
  f.allowDuplicates(false);
  EXPECT_EQ(statement(f, idFlags(true)),
            "SELECT DISTINCT vd_idmap(" + A + ".vd_id) FROM " + A + ";");
  Element& rating = photo_.element("rating");
  f = rating > Expression(2);
  f.limit(10);
  f.offset(20);
  const std::string where = " WHERE  (" + cast(extract("rating")) + ") > (2) ";
  EXPECT_EQ(statement(f),
            "SELECT DISTINCT " + cols + " FROM " + A + where + " LIMIT 10 OFFSET 20;");
  EXPECT_EQ(statement(f, countFlags()), "SELECT count() FROM (SELECT DISTINCT " + A +
                                            ".vd_id FROM " + A + where + " LIMIT 10 OFFSET 20);");
  f.orderBy(Expression(rating), SortDescendingRank);
  EXPECT_EQ(statement(f, clauseFlags()),
            " AND ( (" + cast(extract("rating")) + ") > (2) ) ORDER BY collaterank(" +
                cast(extract("rating")) + ", 'd') DESC LIMIT 10 OFFSET 20");
  // A condition on an own table alone: its rows, without a type tag.
  Filter own;
  own = reel_.element("title") == Expression(String("Reel one"));
  const std::string reelRows = "SELECT DISTINCT \"reel\".vd_id,\"reel\".vd_xml FROM \"reel\"";
  EXPECT_EQ(statement(own),
            reelRows + " WHERE  (" + extract("title", "\"reel\"") + ") == ('Reel one') ;");
  EXPECT_EQ(run(statement(own, idFlags())), id(reel_));
  // Category queries: the rows of category nodes.
  Filter categories;
  EXPECT_EQ(statement(categories, countFlags(), "\"vd_cat_nde\""),
            "SELECT count() FROM (SELECT DISTINCT \"vd_cat_nde\".vd_id FROM \"vd_cat_nde\");");
  // Two tables: the main table's columns, then each table once.
  Filter two;
  two = (reel_.element("rating") == Expression(1)) && (photo_.element("rating") > Expression(3));
  EXPECT_EQ(statement(two, idFlags()),
            "SELECT DISTINCT " + A + ".vd_id FROM " + A + ",\"reel\" WHERE  ( (" +
                cast(extract("rating", "\"reel\"")) + ") == (1) )  AND  ( (" +
                cast(extract("rating")) + ") > (3) ) ;");
  // Every statement runs.
  for (Filter* g : {&f, &own, &categories, &two}) {
    for (const BuildFlags& flags : {BuildFlags(), countFlags(), idFlags()})
      run(statement(*g, flags));
  }
  f.offset(0);
  EXPECT_EQ(run(statement(f)), id(photo_) + "," + id(undated_));
  EXPECT_EQ(run(statement(two, idFlags())), id(photo_));
}

TEST_F(Query, MatchPrototypeComparesWholeValues) {
  // A prototype whose time lies after 2038: its whole seconds, not the low 32 bits.
  Asset proto = node_->asset("photo", true);
  proto.element("shot") = Time(2040, 1, 15, 12, 0, 0);
  proto.element("pic") = Blob();
  Filter f;
  f.match(proto);
  const std::string text = statement(f, idFlags());
  EXPECT_EQ(text, "SELECT DISTINCT " + A + ".vd_id FROM " + A + " WHERE  (lower(" + A +
                      ".vd_tag)=='photo') AND ( (" + cast(extract("shot")) + ") == (" +
                      std::to_string(static_cast<long long>(Time(2040, 1, 15, 12, 0, 0))) +
                      ") ) ;");
  EXPECT_EQ(ids(f), id(second_));
  // A prototype of an own table without elements: its table alone; a type name with a quote.
  Filter g;
  g.match(reel_);
  reel_.erase();
  EXPECT_EQ(ids(g), id(reel_));
  Asset odd = node_->asset("it's", true);
  Filter h;
  h.match(odd);
  EXPECT_NE(statement(h).find("=='it''s'"), std::string::npos);
  EXPECT_EQ(ids(h), "");
}

TEST_F(Query, ResultsThroughTheNode) {
  Element& title = photo_.element("title");
  Element& shot = photo_.element("shot");
  Filter f;
  f = title.like(String("it's"));
  EXPECT_EQ(ids(f), id(second_));
  EXPECT_EQ(node_->assetCount(f), 1);
  // Missing values: -1 for the calendar fields, in no date range (also under the wrap).
  f = shot.year() == Expression(-1);
  EXPECT_EQ(ids(f), id(undated_));
  f = shot.inDateRange(Time(2001, 12, 1, 0, 0, 0), Time(2001, 1, 31, 0, 0, 0), false);
  EXPECT_EQ(ids(f), id(second_));
  f = shot.year() != Expression(-1);
  EXPECT_EQ(node_->assetCount(f), 2);
  // An id list without a prototype: the own table's rows.
  f = reel_.in(std::vector<int>{reel_.id(), photo_.id()});
  EXPECT_EQ(ids(f), id(reel_));
  // The same results once the element is promoted to a column.
  Filter byRating;
  byRating = photo_.element("rating") >= Expression(3);
  byRating.orderBy(Expression(photo_.element("rating")), SortDescending);
  const std::string before = ids(byRating);
  EXPECT_EQ(before, id(photo_) + "," + id(undated_));
  ASSERT_EQ(photo_.element("rating").index(0), 0);
  EXPECT_NE(statement(byRating).find(A + ".\"rating\""), std::string::npos);
  EXPECT_EQ(ids(byRating), before);
  // Collation rank on a promoted column named a: empty values last in both directions.
  for (Asset* a : {&photo_, &second_, &undated_}) {
    a->element("a") = a == &second_ ? "" : (a == &photo_ ? "x" : "y");
    ASSERT_EQ(a->update(), 0);
  }
  ASSERT_EQ(photo_.element("a").index(0), 0);
  Filter rank;
  rank.orderBy(Expression(photo_.element("a")), SortAscendingRank);
  EXPECT_EQ(ids(rank), id(photo_) + "," + id(undated_) + "," + id(second_));
  rank.orderBy();
  rank.orderBy(Expression(photo_.element("a")), SortDescendingRank);
  EXPECT_EQ(ids(rank), id(undated_) + "," + id(photo_) + "," + id(second_));
}

TEST_F(Query, MembershipOrderAndTwoTables) {
  ASSERT_EQ(node_->categoryDeclare("places", photo_, true, false), 0);
  ASSERT_EQ(node_->categoryDeclare("reels", reel_, true, false), 0);
  Category paris = category("places", "paris"), box = category("reels", "box");
  member(900, undated_, paris);
  member(800, photo_, paris);
  member(700, reel_, box);
  Filter f;
  f = photo_.in(paris);
  f.orderBy(SortAscending);
  const std::string text = statement(f, idFlags());
  EXPECT_NE(text.find(" FROM " + A + " LEFT JOIN vd_cat_xref ON " + A +
                      ".vd_id=vd_cat_xref.vd_aid AND vd_cat_xref.vd_cid=" +
                      std::to_string(paris.id()) + " WHERE "),
            std::string::npos)
      << text;
  EXPECT_EQ(ids(f), id(photo_) + "," + id(undated_));
  EXPECT_EQ(thrown([&] { statement(f, clauseFlags()); }), StatusBadFilter);
  // Under an OR the member order still follows the category's rows.
  f = photo_.in(paris) || (photo_.element("rating") == Expression(2));
  f.orderBy();
  f.orderBy(SortDescendingRank);  // acts as descending
  EXPECT_EQ(ids(f), id(undated_) + "," + id(photo_) + "," + id(second_));
  Filter own;
  own = reel_.in(box);
  EXPECT_EQ(ids(own), id(reel_));
  // Records of two tables: distinct main rows, or each pairing with duplicates allowed.
  Filter two;
  two = photo_.in(paris) && reel_.in(box);
  EXPECT_EQ(ids(two), id(photo_) + "," + id(undated_));
  record("reel", false, "two", 2, Time(0));
  Filter all;
  all = (photo_.element("rating") >= Expression(0)) && (reel_.element("rating") >= Expression(0));
  EXPECT_EQ(node_->assetCount(all), 3);
  all.allowDuplicates(true);
  EXPECT_EQ(node_->assetCount(all), 6);
  // 45: a member order beside another term, without a category, or after an offset alone.
  for (int variant = 0; variant < 3; ++variant) {
    Filter bad;
    bad = variant == 1 ? Expression(photo_.element("rating")) == Expression(1) : photo_.in(paris);
    bad.orderBy(SortAscending);
    if (variant == 0) bad.orderBy(Expression(photo_.element("rating")), SortAscending);
    if (variant == 2) {
      bad.orderBy();
      bad.offset(20);
    }
    EXPECT_EQ(thrown([&] { node_->assetIdLoad(bad); }), StatusBadFilter) << variant;
  }
}

TEST_F(Query, HandlesFiltersAndFailures) {
  Element& title = photo_.element("title");
  Element& rating = photo_.element("rating");
  // Empty operands drop out: the result shares the other operand's node.
  Expression a = title == Expression(String("Harbour"));
  EXPECT_EQ(ExpressionAccess::impl(Expression() && a), ExpressionAccess::impl(a));
  EXPECT_EQ(ExpressionAccess::impl(a || Expression()), ExpressionAccess::impl(a));
  EXPECT_EQ(text(Expression() && Expression()), "");
  EXPECT_EQ(text(photo_.in(std::vector<int>())), "");
  // &= and |= build AND and OR and leave their left operand alone.
  Expression b = rating > Expression(3);
  Expression both = a &= b;
  EXPECT_EQ(text(both), text(a && b));
  EXPECT_EQ(text(a |= b), text(a || b));
  EXPECT_EQ(text(a), " (" + extract("title") + ") == ('Harbour') ");
  // Negation in place: every sharer sees it, twice restores it; a clone keeps its own.
  Expression tree = a && b;
  Expression copy = tree.clone();
  Filter f;
  f = tree;
  EXPECT_EQ(node_->assetCount(f), 1);
  !a;
  EXPECT_NE(text(tree).find("!="), std::string::npos);
  EXPECT_EQ(node_->assetCount(f), 0);
  EXPECT_EQ(text(copy).find("!="), std::string::npos);
  Expression shared;
  shared = f;
  EXPECT_EQ(ExpressionAccess::impl(shared), ExpressionAccess::impl(tree));
  !a;
  EXPECT_EQ(node_->assetCount(f), 1);
  EXPECT_EQ(thrown([&] { !tree; }), StatusUnsupported);
  EXPECT_EQ(thrown([&] { !Expression(1); }), StatusUnsupported);
  Expression empty;
  EXPECT_EQ(text(!empty), "");
  // A filter's clone is its own; a query never changes a filter.
  Filter g = f.clone();
  f.reset();
  EXPECT_EQ(node_->assetCount(g), 1);
  EXPECT_EQ(node_->assetCount(f), 3);
  // Ten ordering terms, then 37; a SortOrder outside the enumeration is 14.
  for (int i = 0; i < 10; ++i) f.orderBy(Expression(rating), SortAscending);
  EXPECT_EQ(thrown([&] { f.orderBy(SortAscending); }), StatusOutOfBounds);
  f.orderBy(Expression(rating), SortNone);
  f.orderBy();
  EXPECT_EQ(thrown([&] { f.orderBy(Expression(rating), static_cast<SortOrder>(5)); }),
            StatusEmptyArgument);
  EXPECT_EQ(thrown([&] { f.orderBy(static_cast<SortOrder>(-1)); }), StatusEmptyArgument);
  // A reference to an element without a record or without a name: 4 when the query runs.
  f = Expression(Element()) == Expression(1);
  EXPECT_EQ(thrown([&] { node_->assetCount(f); }), StatusCategoryFailed);
  Asset bare;
  f = bare.element("") == Expression(1);
  EXPECT_EQ(thrown([&] { node_->assetIdLoad(f); }), StatusCategoryFailed);
  // The engine refusing the statement (the table is gone): -1 from the counts, 31 from the ids.
  Asset reel = node_->asset("reel", false);
  f = reel.in(std::vector<int>{reel_.id()});
  ASSERT_EQ(node_->assetDestroy("reel", false), 0);
  EXPECT_EQ(node_->assetCount(f), -1);
  EXPECT_EQ(node_->categoryCount(f), -1);
  EXPECT_EQ(thrown([&] { node_->assetIdLoad(f); }), StatusEngineFailure);
  // A closed catalog: 20.
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(thrown([&] { node_->assetCount(g); }), StatusNotOpen);
  EXPECT_EQ(thrown([&] { node_->categoryCount(g); }), StatusNotOpen);
  EXPECT_EQ(thrown([&] { node_->assetIdLoad(g); }), StatusNotOpen);
}

}  // namespace

namespace {

// Threads share one filter and its nodes: rendering keeps its state to itself.
class QueryThreads : public Query {};

TEST_F(QueryThreads, OneFilterRunsOnSeveralThreadsAtOnce) {
  ASSERT_EQ(node_->categoryDeclare("places", photo_, true, false), 0);
  Category paris = category("places", "paris");
  member(900, photo_, paris);
  Filter f;
  f = photo_.in(paris) || (reel_.element("rating") == Expression(1));
  f.orderBy(SortAscending);
  const std::string expected = ids(f);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 40; ++i) {
        std::string got;
        for (int id : node_->assetIdLoad(f)) got += (got.empty() ? "" : ",") + std::to_string(id);
        if (got != expected) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

// The catalog's SQL functions through real statements on an in-memory connection: typed
// element extraction, entity decoding, exact element names, element_drop, collation ranks,
// calendar fields and day ranges in a fixed time zone, the node-bound functions against a
// fake host, and the reporting of registration failures.
#include "functions/SqlFunctions.h"
#include "helpers/ZoneScope.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "vendrithane/Status.h"
#include "vendrithane/Time.h"

using namespace KESTRIN::Vendrithane;
using functions::CatalogFunctionHost;
using functions::dayKey;
using functions::registerCatalogFunctions;

namespace {

using vdtest::ZoneScope;

class FakeHost : public CatalogFunctionHost {
 public:
  int functionNextId() override {
    if (nextIdThrows != StatusOk) throw nextIdThrows;
    return nextId++;
  }
  bool functionCategoryDescends(long long node, long long ancestor) override {
    return node == ancestor || (node == 5 && ancestor == 3);
  }
  bool functionMapId(long long id, long long* mapped) override {
    ++mapCalls;
    if (id == 13) throw StatusCorrupt;
    if (id < 0) return false;
    *mapped = id + 1000;
    return true;
  }
  bool functionCopyCategory(long long id, long long* mapped) override {
    *mapped = id == 4 ? 1 : 0;
    return true;
  }

  int nextId = 100;                // the next id handed out
  Status nextIdThrows = StatusOk;  // thrown by functionNextId unless StatusOk
  int mapCalls = 0;                // functionMapId calls so far
};

// One result value: its SQL type and its text form.
struct Value {
  int type;
  std::string text;
};

class SqlFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = openWith(&host_); }
  void TearDown() override { sqlite3_close(db_); }

  static sqlite3* openWith(CatalogFunctionHost* host) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    EXPECT_EQ(registerCatalogFunctions(db, host, nullptr), 0);
    return db;
  }

  // The first column of `sql`'s first row, with ?1 bound to `arg` when given.
  Value eval(const std::string& sql, const char* arg = nullptr, sqlite3* db = nullptr) {
    sqlite3_stmt* st = nullptr;
    Value v{-1, ""};
    if (sqlite3_prepare_v2(db ? db : db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db ? db : db_);
      return v;
    }
    if (arg) sqlite3_bind_text(st, 1, arg, -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      v.type = sqlite3_column_type(st, 0);
      if (const unsigned char* t = sqlite3_column_text(st, 0)) {
        v.text.assign(reinterpret_cast<const char*>(t), sqlite3_column_bytes(st, 0));
      }
    } else {
      v.text = sqlite3_errmsg(db ? db : db_);  // type stays -1
    }
    sqlite3_finalize(st);
    return v;
  }
  std::string text(const std::string& sql, const char* arg = nullptr) {
    return eval(sql, arg).text;
  }
  // element_extract(name, xml) as (type, text).
  Value extract(const std::string& name, const std::string& xml) {
    return eval("SELECT element_extract('" + name + "', ?1);", xml.c_str());
  }
  // The values of column v of table t, in the order of `orderBy`, joined with "|".
  std::string ordered(const std::string& orderBy) {
    std::string out;
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT v FROM t ORDER BY " + orderBy + ";";
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(st, 0);
      out += (t ? reinterpret_cast<const char*>(t) : "NULL") + std::string("|");
    }
    sqlite3_finalize(st);
    return out;
  }

  FakeHost host_;
  sqlite3* db_ = nullptr;
};

const char kRecord[] =
    "<count type=\"int4\">5</count><size type=\"int8\">5000000000</size>"
    "<thumb type=\"blob\" mime=\"image/jpeg\" store=\"db\" length=\"1234\"></thumb>"
    "<title lang=\"en\">A &amp; B</title><u type=\"undef\">x</u><who type=\"asset\">7</who>"
    "<e type=\"int4\"></e><et></et><vd_created type=\"time\">4102444800</vd_created>";

TEST_F(SqlFunctionsTest, AllTwelveNamesAreCallable) {
  for (const char* sql :
       {"SELECT element_extract('a', '');", "SELECT element_drop('a', '');",
        "SELECT collaterank('', 'a');", "SELECT vd_idmap(1);", "SELECT vd_catcopy(4);",
        "SELECT vd_nextid();", "SELECT year(0);", "SELECT month(0);", "SELECT day(0);",
        "SELECT weekday(0);", "SELECT inrange(0, 1, 2, 0);", "SELECT vd_cat_decendent(1, 1);"}) {
    EXPECT_NE(eval(sql).type, -1) << sql;
  }
}

TEST_F(SqlFunctionsTest, RegistrationFailuresAreReportedPerFunctionInOrder) {
  // Redefining functions while a statement runs is refused by the engine.
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_, "SELECT 1 UNION ALL SELECT 2;", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  std::vector<std::pair<int, std::string>> failures;
  const int n = registerCatalogFunctions(
      db_, &host_, [&](int code, const char* message) { failures.emplace_back(code, message); });
  sqlite3_finalize(st);
  ASSERT_EQ(n, 12);
  ASSERT_EQ(failures.size(), 12u);
  EXPECT_EQ(failures[0], std::make_pair(SQLITE_BUSY, std::string("error creating "
                                                                 "element_extract function")));
  EXPECT_EQ(failures[3].second, "error creating vd_idmap function");
  EXPECT_EQ(failures[11].second, "error creating vd_cat_decendent function");
  // Nothing was lost: the earlier registration still serves.
  EXPECT_EQ(text("SELECT element_extract('a', '<a>1</a>');"), "1");
}

TEST_F(SqlFunctionsTest, ExtractGivesTypedValues) {
  const Value count = extract("count", kRecord);
  EXPECT_EQ(count.type, SQLITE_INTEGER);
  EXPECT_EQ(count.text, "5");
  EXPECT_EQ(text("SELECT element_extract('count', ?1) < 10;", kRecord), "1");  // not as text
  EXPECT_EQ(extract("size", kRecord).text, "5000000000");
  const Value created = extract("vd_created", kRecord);  // 2100-01-01, beyond 32 bits
  EXPECT_EQ(created.type, SQLITE_INTEGER);
  EXPECT_EQ(created.text, "4102444800");
  const Value title = extract("title", kRecord);
  EXPECT_EQ(title.type, SQLITE_TEXT);
  EXPECT_EQ(title.text, "A & B");
  EXPECT_EQ(extract("u", kRecord).type, SQLITE_TEXT);
  EXPECT_EQ(extract("thumb", kRecord).type, SQLITE_NULL);
  EXPECT_EQ(extract("who", kRecord).type, SQLITE_NULL);
  EXPECT_EQ(extract("missing", kRecord).type, SQLITE_NULL);

  // Present but empty: 0 or the empty text, never NULL.
  const Value e = extract("e", kRecord);
  EXPECT_EQ(e.type, SQLITE_INTEGER);
  EXPECT_EQ(e.text, "0");
  const Value et = extract("et", kRecord);
  EXPECT_EQ(et.type, SQLITE_TEXT);
  EXPECT_EQ(et.text, "");

  EXPECT_EQ(eval("SELECT element_extract(NULL, 'x');").type, SQLITE_NULL);
  EXPECT_EQ(eval("SELECT element_extract('a', NULL);").type, SQLITE_NULL);

  // The type comes from a type attribute, as the record reader sees it, never from an
  // attribute value that happens to end in " type=".
  const Value noted = extract("t", "<t note=\"see type=\">x</t>");
  EXPECT_EQ(noted.type, SQLITE_TEXT);
  EXPECT_EQ(noted.text, "x");
  EXPECT_EQ(extract("t", "<t type=\"text\" type=\"int4\">7</t>").type, SQLITE_INTEGER);
}

TEST_F(SqlFunctionsTest, ExtractDecodesEntitiesWithinTheValue) {
  EXPECT_EQ(extract("t", "<t>&apos;&amp;&quot;&lt;&gt;</t>").text, "'&\"<>");
  EXPECT_EQ(extract("t", "<t>it&apos;s</t>").text, "it's");
  EXPECT_EQ(extract("t", "<t>a&#233;b</t>").text, "a#233;b");  // unknown: "&" dropped
  // Entities cut off by the end of the value never reach into the close tag.
  EXPECT_EQ(extract("t", "<t>x&am</t><u>1</u>").text, "x&");
  EXPECT_EQ(extract("t", "<t>x&ap</t>").text, "x'");
  EXPECT_EQ(extract("t", "<t>x&</t>").text, "x");
  EXPECT_EQ(extract("t", "<t>&l</t>").text, "<");
}

TEST_F(SqlFunctionsTest, MalformedRecordsGiveNull) {
  for (const char* xml : {"<t", "<t type=\"int4\"", "<t>5", "<t>5</t", "<t>5</tt>", "<", "</t>",
                          "<t type=\"", "<t type=\"i"}) {
    EXPECT_EQ(extract("t", xml).type, SQLITE_NULL) << xml;
  }
}

TEST_F(SqlFunctionsTest, ElementNamesMatchExactlyAtAnyLength) {
  const std::string both = "<ab type=\"int4\">1</ab><a type=\"int4\">2</a>";
  EXPECT_EQ(extract("a", both).text, "2");
  EXPECT_EQ(extract("ab", both).text, "1");
  EXPECT_EQ(extract("a", "<ab>1</ab>").type, SQLITE_NULL);
  EXPECT_EQ(extract("a", "<a>x</ab>y</a>").text, "x</ab>y");  // only "</a>" closes
  // An attribute merely ending in "type" does not give the element a type.
  EXPECT_EQ(extract("a", "<a subtype=\"int4\">12</a>").type, SQLITE_TEXT);

  const std::string longName(40, 'n');
  const std::string xml = "<" + longName + "x>1</" + longName + "x><" + longName +
                          " type=\"int8\">-9000000000</" + longName + ">";
  EXPECT_EQ(extract(longName, xml).text, "-9000000000");
  EXPECT_EQ(text("SELECT element_drop('" + longName + "', ?1);", xml.c_str()),
            "<" + longName + "x>1</" + longName + "x>");
}

TEST_F(SqlFunctionsTest, ElementDropCutsOutOneElement) {
  const char* xml = "<ab>1</ab><a>2</a><c>3</c>";
  EXPECT_EQ(text("SELECT element_drop('a', ?1);", xml), "<ab>1</ab><c>3</c>");
  EXPECT_EQ(text("SELECT element_drop('c', ?1);", xml), "<ab>1</ab><a>2</a>");
  EXPECT_EQ(text("SELECT element_drop('x', ?1);", xml), xml);
  EXPECT_EQ(text("SELECT element_drop('a', ?1);", "<a>2"), "<a>2");
  EXPECT_EQ(text("SELECT element_drop('a', ?1);", "</a><a>2"), "</a><a>2");
  const Value none = eval("SELECT element_drop('a', NULL);");
  EXPECT_EQ(none.type, SQLITE_TEXT);
  EXPECT_EQ(none.text, "");
}

TEST_F(SqlFunctionsTest, CollateRankPutsEmptyValuesLastEitherWay) {
  ASSERT_EQ(sqlite3_exec(db_,
                         "CREATE TABLE t (v);INSERT INTO t VALUES ('pear'),(''),('Apple'),"
                         "('\xC3\xA9"
                         "clair'),('!bang'),(NULL);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(ordered("collaterank(v, \"a\") ASC"),
            "NULL|!bang|Apple|pear|\xC3\xA9"
            "clair||");
  EXPECT_EQ(ordered("collaterank(v, \"d\") DESC"),
            "\xC3\xA9"
            "clair|pear|Apple|!bang||NULL|");

  // Integers keep their numeric order, and empties still go last.
  ASSERT_EQ(sqlite3_exec(db_, "DELETE FROM t;INSERT INTO t VALUES (9),(100),(''),(10),(-5);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(ordered("collaterank(v, 'a') ASC"), "-5|9|10|100||");
  EXPECT_EQ(ordered("collaterank(v, 'd') DESC"), "100|10|9|-5||");

  EXPECT_EQ(eval("SELECT collaterank('x', NULL);").type, SQLITE_NULL);
  EXPECT_EQ(text("SELECT collaterank('x', 'd');"), "x");
}

TEST_F(SqlFunctionsTest, CalendarFieldsAreLocalAndSixtyFourBit) {
  ZoneScope zone("EST5EDT,M3.2.0,M11.1.0");
  // 0 is 1969-12-31 19:00 local, a Wednesday.
  EXPECT_EQ(text("SELECT year(0) || '-' || month(0) || '-' || day(0) || '/' || weekday(0);"),
            "1969-12-31/4");
  // 2100-01-01 00:00 UTC is Thursday 2099-12-31 local; 32 bits would land in 1968.
  EXPECT_EQ(text("SELECT year(4102444800) || '-' || month(4102444800) || '-' ||"
                 " day(4102444800) || '/' || weekday(4102444800);"),
            "2099-12-31/5");
  EXPECT_EQ(text("SELECT year(NULL) || month(NULL) || day(NULL) || weekday(NULL);"), "-1-1-1-1");
}

TEST_F(SqlFunctionsTest, InRangeWithAndWithoutYear) {
  ZoneScope zone("EST5EDT,M3.2.0,M11.1.0");
  auto key = [](int y, int m, int d, bool withYear) {
    return std::to_string(dayKey(Time(y, m, d, 12, 0, 0), withYear));
  };
  auto in = [&](const Time& t, const std::string& low, const std::string& high, int withYear) {
    return text("SELECT inrange(" + std::to_string(static_cast<long long>(t)) + "," + low + "," +
                high + "," + std::to_string(withYear) + ");");
  };
  // A yearly range over the turn of the year: 1 December to 31 January.
  const std::string dec1 = key(2001, 12, 1, false), jan31 = key(2001, 1, 31, false);
  EXPECT_EQ(in(Time(2008, 1, 15, 10, 0, 0), dec1, jan31, 0), "1");
  EXPECT_EQ(in(Time(2008, 12, 20, 10, 0, 0), dec1, jan31, 0), "1");
  EXPECT_EQ(in(Time(2008, 7, 1, 10, 0, 0), dec1, jan31, 0), "0");
  EXPECT_EQ(in(Time(2120, 12, 20, 10, 0, 0), dec1, jan31, 0), "1");
  // A missing value is in no range (time 0 would be 31 December west of UTC).
  EXPECT_EQ(text("SELECT inrange(NULL," + dec1 + "," + jan31 + ",0);"), "0");

  // Month ends never fall into the next month's range, leap day included.
  EXPECT_EQ(in(Time(2007, 1, 31, 10, 0, 0), key(2007, 2, 1, false), key(2007, 2, 10, false), 0),
            "0");
  EXPECT_EQ(in(Time(2007, 3, 31, 10, 0, 0), key(2007, 4, 1, false), key(2007, 4, 30, false), 0),
            "0");
  EXPECT_EQ(in(Time(2024, 2, 29, 10, 0, 0), key(2024, 3, 1, false), key(2024, 3, 5, false), 0),
            "0");
  EXPECT_EQ(in(Time(2024, 2, 29, 10, 0, 0), key(2023, 2, 28, false), key(2023, 3, 1, false), 0),
            "1");

  // With the year: only the same dates of the given years.
  const std::string low = key(2100, 1, 10, true), high = key(2100, 1, 20, true);
  EXPECT_EQ(in(Time(2100, 1, 15, 10, 0, 0), low, high, 1), "1");
  EXPECT_EQ(in(Time(2099, 1, 15, 10, 0, 0), low, high, 1), "0");
  EXPECT_EQ(in(Time(2100, 1, 21, 10, 0, 0), low, high, 1), "0");
  EXPECT_LT(dayKey(Time(2099, 12, 31, 10, 0, 0), true), dayKey(Time(2100, 1, 1, 10, 0, 0), true));
}

TEST_F(SqlFunctionsTest, FunctionsWithSideEffectsRunOnlyFromDirectStatements) {
  // A catalog file may carry views and triggers; they must not hand out ids or steer a copy.
  ASSERT_EQ(sqlite3_exec(db_,
                         "CREATE VIEW ids AS SELECT vd_nextid() AS id;"
                         "CREATE VIEW pure AS SELECT element_extract('a', '<a>7</a>') AS v;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_NE(sqlite3_exec(db_, "SELECT id FROM ids;", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_NE(std::string(sqlite3_errmsg(db_)).find("unsafe use of vd_nextid"), std::string::npos);
  EXPECT_EQ(host_.nextId, 100);  // nothing handed out
  EXPECT_EQ(text("SELECT v FROM pure;"), "7");
  EXPECT_EQ(text("SELECT vd_nextid();"), "100");
}

TEST_F(SqlFunctionsTest, NodeBoundFunctionsAskTheHost) {
  EXPECT_EQ(text("SELECT vd_nextid() || ',' || vd_nextid();"), "100,101");
  host_.nextIdThrows = StatusNotOpen;
  EXPECT_EQ(text("SELECT vd_nextid();"), "20");
  host_.nextIdThrows = StatusReadOnly;  // a real failure must not pass for an id
  const Value failed = eval("SELECT vd_nextid();");
  EXPECT_EQ(failed.type, -1);
  EXPECT_EQ(failed.text, "vd_nextid: status 81");

  EXPECT_EQ(text("SELECT vd_idmap(7);"), "1007");
  EXPECT_EQ(eval("SELECT vd_idmap(-1);").type, SQLITE_NULL);
  const int calls = host_.mapCalls;
  EXPECT_EQ(eval("SELECT vd_idmap(NULL);").type, SQLITE_NULL);
  EXPECT_EQ(host_.mapCalls, calls);
  EXPECT_EQ(eval("SELECT vd_idmap(13);").text, "vd_idmap: status 25");
  EXPECT_EQ(text("SELECT vd_catcopy(4) || vd_catcopy(5);"), "10");

  EXPECT_EQ(text("SELECT vd_cat_decendent(9, 9) || vd_cat_decendent(5, 3) ||"
                 " vd_cat_decendent(3, 5) || vd_cat_decendent(NULL, 3);"),
            "1100");

  // Without a host: no results, 20 from vd_nextid, 0 from the descent test.
  sqlite3* bare = openWith(nullptr);
  EXPECT_EQ(eval("SELECT vd_nextid();", nullptr, bare).text, "20");
  EXPECT_EQ(eval("SELECT vd_idmap(7);", nullptr, bare).type, SQLITE_NULL);
  EXPECT_EQ(eval("SELECT vd_catcopy(4);", nullptr, bare).type, SQLITE_NULL);
  EXPECT_EQ(eval("SELECT vd_cat_decendent(9, 9);", nullptr, bare).text, "0");
  sqlite3_close(bare);
}

}  // namespace

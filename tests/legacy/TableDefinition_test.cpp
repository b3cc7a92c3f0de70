// The CREATE TABLE texts of old tables: column names as written or quoted, declared types,
// the rowid alias (only a lone INTEGER primary key), and the texts that cannot be taken apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "legacy/TableDefinition.h"

using namespace KESTRIN::Vendrithane::legacy;

TEST(TableDefinition, ColumnsTypesAndRowidAlias) {
  struct Case {
    const char* sql;
    std::vector<std::string> names;
    int alias;
  } const cases[] = {
      {"CREATE TABLE photo (vd_id INTEGER PRIMARY KEY, vd_xml)", {"vd_id", "vd_xml"}, 0},
      {"create table t (a text, b integer primary key)", {"a", "b"}, 1},
      {"CREATE TABLE film (vd_id INTEGER, titre VARCHAR(200), annee INTEGER, PRIMARY KEY(vd_id))",
       {"vd_id", "titre", "annee"},
       0},
      {"CREATE TABLE t (a INTEGER CONSTRAINT pk PRIMARY KEY, b)", {"a", "b"}, 0},
      {"CREATE TABLE t (a Integer NOT NULL PRIMARY KEY)", {"a"}, 0},
      {"CREATE TABLE t (a INTEGER(10) PRIMARY KEY, b)", {"a", "b"}, -1},
      {"CREATE TABLE t (a INT PRIMARY KEY, b)", {"a", "b"}, -1},
      {"CREATE TABLE t (a UNSIGNED INTEGER PRIMARY KEY)", {"a"}, -1},
      {"CREATE TABLE t (a INTEGER, b INTEGER, PRIMARY KEY(a, b))", {"a", "b"}, -1},
      {"CREATE TABLE t (a TEXT PRIMARY KEY, b)", {"a", "b"}, -1},
      {"CREATE TABLE \"my (table)\" (\"col \"\"x\"\"\" TEXT DEFAULT 'a,b)', [c d] /* x, (y */ "
       "INTEGER -- tail, (\n , 'e' CHECK (e > (1)), UNIQUE(e), vd_xml)",
       {"col \"x\"", "c d", "e", "vd_xml"},
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    TableDefinition d;
    std::string error;
    ASSERT_TRUE(parseTableDefinition(c.sql, d, error)) << error;
    std::vector<std::string> names;
    for (const LegacyColumn& col : d.columns) names.push_back(col.name);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(d.rowidAlias, c.alias);
  }
  TableDefinition d;
  std::string error;
  ASSERT_TRUE(parseTableDefinition("CREATE TABLE t (a VARCHAR ( 200 ) NOT NULL, b)", d, error));
  EXPECT_EQ(d.columns[0].type, "VARCHAR ( 200 )");
  EXPECT_EQ(d.columns[1].type, "");

  for (const char* bad : {"CREATE TABLE t AS SELECT 1", "CREATE TABLE t (a, b",
                          "CREATE TABLE t (a, , b)", "CREATE TABLE t (a 'x)", "CREATE TABLE t ()",
                          "CREATE TABLE t (a) garbage", "CREATE TABLE t (PRIMARY KEY(z), a)",
                          "CREATE TABLE t (UNIQUE(a))", "CREATE TABLE t ((a))"}) {
    EXPECT_FALSE(parseTableDefinition(bad, d, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  // A text far beyond any real table is refused before it is taken apart.
  EXPECT_FALSE(
      parseTableDefinition("CREATE TABLE t (a" + std::string(300 * 1024, ',') + ")", d, error));
  EXPECT_NE(error.find("256 KiB"), std::string::npos) << error;
}

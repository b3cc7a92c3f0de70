// The statement wrapper: names quoted as identifiers reach the engine whole (keywords and
// quotes included), values are bound by length without a copy, a borrowed compiled statement
// comes back reset and unbound (no lock kept, no pointer to the caller's values), and the one
// status table.
#include "node/Statement.h"
#include "node/NodeFixture.h"

using namespace KESTRIN::Vendrithane;

namespace {

TEST_F(NodeTest, IdentifiersAndBoundValuesReachTheEngineWhole) {
  Node catalog = created("statements");
  ASSERT_EQ(catalog.open(), 0);
  node::ConnectionLease lease(NodeAccess::impl(catalog)->pool());
  ASSERT_TRUE(lease);
  const std::string table = node::quoteIdentifier(std::string("order"));
  const std::string column = node::quoteIdentifier(std::string("say \"cheese\""));
  EXPECT_EQ(column, "\"say \"\"cheese\"\"\"");
  ASSERT_EQ(node::execute(*lease, "CREATE TABLE " + table + " (" + column + ");"), 0);
  EXPECT_TRUE(node::tableExists(*lease, "order"));

  const std::string insert = "INSERT INTO " + table + " VALUES (?1);";
  const char bytes[] = {'a', '\0', 'b'};
  {
    node::Statement statement(*lease, insert, node::Statement::kCached);
    ASSERT_TRUE(statement.bind(1, bytes, sizeof bytes));
    ASSERT_TRUE(statement.run());
    EXPECT_EQ(statement.changes(), 1);
  }
  {
    // The same compiled statement again: reset, with no value left bound (NULL goes in).
    node::Statement statement(*lease, insert, node::Statement::kCached);
    ASSERT_TRUE(statement.run());
  }
  // No lock is kept between the uses: another connection writes at once.
  EXPECT_EQ(raw(dir_ + "statements.vd", "BEGIN EXCLUSIVE; ROLLBACK;"), "");

  node::Statement rows(*lease, "SELECT " + column + " FROM " + table + " ORDER BY rowid;");
  ASSERT_TRUE(rows.step());
  EXPECT_EQ(rows.columnBytes(0), 3);
  EXPECT_EQ(std::string(rows.columnText(0).buffer(), 3), std::string(bytes, 3));
  ASSERT_TRUE(rows.step());
  EXPECT_TRUE(rows.columnIsNull(0));
  EXPECT_FALSE(rows.step());
  EXPECT_FALSE(rows.failed());

  node::Statement broken(*lease, "SELECT nothing FROM " + table + ";");
  EXPECT_FALSE(broken.valid());
  EXPECT_EQ(broken.error().status(), StatusSqlError);
  EXPECT_TRUE(broken.error().mentions("nothing"));
}

TEST(EngineStatus, OneTableForEveryStatement) {
  EXPECT_EQ(node::engineStatus(0), StatusOk);
  EXPECT_EQ(node::engineStatus(100), StatusOk);  // a row
  EXPECT_EQ(node::engineStatus(101), StatusOk);  // done
  EXPECT_EQ(node::engineStatus(1), StatusSqlError);
  EXPECT_EQ(node::engineStatus(8), StatusReadOnly);
  EXPECT_EQ(node::engineStatus(10 | (1 << 8)), StatusPermissionFailed);  // extended codes too
  EXPECT_EQ(node::engineStatus(11), StatusCorrupt);
  EXPECT_EQ(node::engineStatus(13), StatusDiskFull);
  EXPECT_EQ(node::engineStatus(19), StatusConstraint);
  EXPECT_EQ(node::engineStatus(5), StatusEngineFailure);
  node::EngineError readOnly{8, "attempt to write a readonly database"};
  EXPECT_EQ(readOnly.writeStatus(StatusWriteFailed), StatusReadOnly);
  EXPECT_EQ((node::EngineError{1, "x"}.writeStatus(StatusWriteFailed)), StatusWriteFailed);
}

}  // namespace

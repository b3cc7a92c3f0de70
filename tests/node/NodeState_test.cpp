// The node-state file: its exact shape, one connection element per slot while open and
// "NULL" after close, the id block, and text that would otherwise break the document.
#include <cstdio>

#include "TxnFixture.h"

using namespace KESTRIN::Vendrithane;

namespace {

// The elements whose values change from run to run.
const char* const kVarying[] = {"startTime",       "timeStamp",   "schemaRev",    "dbExecs",
                                "lastErrorExec",   "lastVdError", "lastSqlError", "lastSqlErrorMsg",
                                "lastErrorSql",    "node",        "threadId",     "dbNest",
                                "transactionNest", "idState",     "pDb"};

// `xml` with the content of every varying element replaced by "*".
std::string blanked(std::string xml) {
  for (const char* tag : kVarying) {
    std::string open = std::string("<") + tag + ">", close = std::string("</") + tag + ">";
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
      size_t from = at + open.size(), to = xml.find(close, from);
      if (to == std::string::npos) break;
      xml.replace(from, to - from, "*");
    }
  }
  return xml;
}

// The file as written, without its two closing zero bytes (which are checked).
std::string stateFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.size() < 2 || text.compare(text.size() - 2, 2, std::string(2, '\0')) != 0)
    return "<no closing zeros>";
  return text.substr(0, text.size() - 2);
}

}  // namespace

TEST_F(TxnTest, TheStateFileDescribesTheNodeAndEachConnection) {
  Node node = created("state");
  std::string file = dir_ + "state.vst";
  auto expected = [&](const std::string& ids, const std::string& slot, int inPlay) {
    std::string connections;
    for (int n = 0; n < 5; ++n)
      connections += "<connection n=\"" + std::to_string(n) + "\">" + slot + "</connection>";
    return "<nodeState ver=\"6.0\"><startTime>*</startTime><timeStamp>*</timeStamp>"
           "<refs>1</refs><dbName>state</dbName><mainPath>" +
           dir_ + "</mainPath><blobPath>" + dir_ + "</blobPath><buName></buName><buPath>" + dir_ +
           "</buPath><schemaRev>*</schemaRev>" + ids + "<inPlay>" + std::to_string(inPlay) +
           "</inPlay><connections number=\"5\">" + connections + "</connections></nodeState>";
  };
  std::string connection =
      "<dbState><inExec>false</inExec><dbExecs>*</dbExecs><lastErrorExec>*</lastErrorExec>"
      "<lastVdError>*</lastVdError><lastSqlError>*</lastSqlError>"
      "<lastSqlErrorMsg>*</lastSqlErrorMsg><lastErrorSql>*</lastErrorSql><node>*</node>"
      "<threadId>*</threadId><dbNest>*</dbNest><transactionNest>*</transactionNest>"
      "<idState>*</idState><inAbort>false</inAbort><schemaRev>*</schemaRev><mainDb>" +
      dir_ + "state.vd</mainDb><blobDb>" + dir_ + "state.vm</blobDb><pDb>*</pDb></dbState>";

  node.dumpState();  // never opened: no id block, no connections
  EXPECT_EQ(blanked(stateFile(file)), expected("<nextId>-1</nextId><maxId>-1</maxId>", "NULL", 0));

  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(drawId(node), 2);
  {
    node::ConnectionLease lease(impl(node)->pool());
    node::execute(*lease, "SELECT 1 <> & FROM nowhere;");
    ASSERT_EQ(node.transactionBegin(), 0);
    node.dumpState();
    EXPECT_EQ(node.transactionCommit(), 0);
  }
  std::string text = stateFile(file);
  EXPECT_EQ(blanked(text), expected("<nextId>3</nextId><maxId>22</maxId>", connection, 1));
  // The failed statement shows escaped; the transaction shows on its connection.
  EXPECT_NE(text.find("<lastVdError>22</lastVdError><lastSqlError>1</lastSqlError>"),
            std::string::npos);
  EXPECT_NE(text.find("<lastErrorSql>SELECT 1 &lt;&gt; &amp; FROM nowhere;</lastErrorSql>"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("<dbNest>2</dbNest><transactionNest>1</transactionNest><idState>3"),
            std::string::npos)
      << text;

  EXPECT_EQ(node.close(), 0);
  node.dumpState();
  EXPECT_EQ(blanked(stateFile(file)), expected("<nextId>-1</nextId><maxId>-1</maxId>", "NULL", 0));
}

TEST_F(TxnTest, DebugStateListsOnlyCategoriesHeldByHandles) {
  Node node = opened("debug");
  testing::internal::CaptureStderr();
  node.debugState();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\n\nCategories Still In Play:\n------------------------\n");
  Asset prototype = node.asset("photo", true);
  ASSERT_EQ(node.categoryDeclare("a/b", prototype, true, false), 0);
  ASSERT_EQ(node.categoryDeclare("other", prototype, true, false), 0);
  Category held = node.category("a/b");  // a holder besides the map
  held.subCategory("x");
  char line[64];
  std::snprintf(line, sizeof line, "ID:%d Name://a//b/x PID:%d\n", held.id(),
                node.category("a/b").id());
  testing::internal::CaptureStderr();
  node.debugState();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string("\n\nCategories Still In Play:\n------------------------\n") + line);
}

// The upgrade of catalogs of the earlier storage generation at open: the stored old catalogs
// converted and listed against their expected listings, the ones that must fail leaving
// every file as it was, and generated old catalogs for the conversion's edge cases.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "NodeFixture.h"
#include "helpers/LegacyWriter.h"
#include "vendrithane/Status.h"

using namespace KESTRIN::Vendrithane;

namespace {

const std::string kFixtures = VENDRITHANE_FIXTURE_DIR "/legacy/";

std::string escapeValue(const unsigned char* p, int n) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c < 0x20 || c == 0x7F)
      out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
    else
      out += static_cast<char>(c);
  }
  return out;
}

// The rows of `sql` on `db` as listing lines under `table`; blob columns as hex. Also
// counts values of INTEGER columns that are not stored as integers in *nonInteger.
void listRows(sqlite3* db, const std::string& table, const std::string& sql, std::string* out) {
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    *out += table;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      *out += '\t';
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL:
          *out += "\\N";
          break;
        case SQLITE_INTEGER:
          *out += std::to_string(sqlite3_column_int64(stmt, i));
          break;
        case SQLITE_BLOB: {
          auto p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, i));
          for (int k = 0; k < sqlite3_column_bytes(stmt, i); ++k) {
            char h[3];
            snprintf(h, sizeof h, "%02x", p[k]);
            *out += h;
          }
          break;
        }
        default:
          *out += escapeValue(sqlite3_column_text(stmt, i), sqlite3_column_bytes(stmt, i));
      }
    }
    *out += '\n';
  }
  sqlite3_finalize(stmt);
}

// The converted catalog `main` (with its blob file attached) as the fixtures' listings
// have it.
std::string listing(const std::string& main, const std::string& blob) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(main.c_str(), &db, SQLITE_OPEN_READONLY, node::catalogVfsName()) != SQLITE_OK)
    return "cannot open";
  sqlite3_exec(db, ("ATTACH '" + blob + "' AS b;").c_str(), nullptr, nullptr, nullptr);
  for (const char* t : {"vd_id", "vd_version", "vd_idx"})
    listRows(db, t, std::string("SELECT * FROM ") + t + " ORDER BY rowid;", &out);
  for (const char* t : {"vd_cat", "vd_cat_nde", "vd_cat_xref", "vd_assets"})
    listRows(db, t, std::string("SELECT * FROM ") + t + " ORDER BY vd_id, rowid;", &out);
  listRows(db, "vd_registry", "SELECT * FROM vd_registry WHERE vd_tag!='vd_dbid' ORDER BY vd_tag;",
           &out);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'vd\\_%' "
                     "ESCAPE '\\' ORDER BY name;",
                     -1, &stmt, nullptr);
  std::vector<std::string> types;
  while (sqlite3_step(stmt) == SQLITE_ROW)
    types.push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  for (const std::string& t : types)
    listRows(db, t, "SELECT * FROM \"" + t + "\" ORDER BY vd_id, rowid;", &out);
  listRows(db, "vd_blobs", "SELECT * FROM b.vd_blobs ORDER BY vd_aid, vd_tag;", &out);
  sqlite3_close(db);
  return out;
}

// The first difference of two listings, "" when they are the same.
std::string firstDifference(const std::string& made, const std::string& expected) {
  std::istringstream a(made), b(expected);
  std::string la, lb;
  for (int n = 1;; ++n) {
    bool moreA = static_cast<bool>(std::getline(a, la)),
         moreB = static_cast<bool>(std::getline(b, lb));
    if (!moreA && !moreB) return "";
    if (!moreA || !moreB || la != lb)
      return "line " + std::to_string(n) + "\n made:     " + la.substr(0, 300) +
             "\n expected: " + lb.substr(0, 300);
  }
}

std::set<std::string> entries(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

class Upgrade : public NodeTest {
 protected:
  // Copies fixture `name` into the scratch directory.
  void bring(const std::string& name) {
    for (const char* ext : {".vd", ".vm"})
      if (present(kFixtures + name + ext))
        writeFile(dir_ + name + ext, readFile(kFixtures + name + ext));
  }
  std::string value(const std::string& name, const std::string& sql) {
    return raw(dir_ + name + ".vd", sql);
  }
  // Opens `name`, which must fail with `status` on two opens, leaving every file as it was.
  void expectRefused(const std::string& name, int status) {
    std::map<std::string, std::string> before;
    for (const std::string& e : entries(dir_))
      if (e != "tmp") before[e] = readFile(dir_ + e);
    Node node(name.c_str(), dir_.c_str());
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(node.open(false, false, temp_.c_str()), status) << name;
      std::map<std::string, std::string> after;
      for (const std::string& e : entries(dir_))
        if (e != "tmp") after[e] = readFile(dir_ + e);
      EXPECT_TRUE(after == before) << name << ": the directory changed";
      EXPECT_TRUE(entries(temp_).empty()) << name;
    }
  }
};

TEST_F(Upgrade, StoredCatalogsConvertAsTheirListingsOrFailUnchanged) {
  struct Case {
    const char* name;
    const char* id;  // the identity the converted catalog has, "" for a fresh one
  };
  for (const Case& c :
       {Case{"v51_full", "2ea66e67-6f0e-d956-5ecd-5da20f201baf"}, Case{"v32_cp1252", ""},
        Case{"v40_blobs_in_main", "eb60c081-e03a-6b0c-0acc-35a0f3af1bd5"},
        Case{"v51_bigendian", "ba4cd8c5-29d7-8b00-0bda-cea9aa8c6110"}}) {
    SCOPED_TRACE(c.name);
    bring(c.name);
    Node node(c.name, dir_.c_str());
    EXPECT_EQ(node.open(true), StatusUpgradeNeeded);  // check-only changes nothing
    EXPECT_EQ(readFile(dir_ + c.name + ".vd"), readFile(kFixtures + c.name + ".vd"));
    ASSERT_EQ(node.open(false, false, temp_.c_str()), 0);
    EXPECT_EQ(static_cast<const char*>(node.version()), std::string("6.0"));
    ASSERT_EQ(node.close(), 0);
    std::string main = dir_ + c.name + ".vd", blob = dir_ + c.name + ".vm";
    EXPECT_EQ(firstDifference(listing(main, blob), readFile(kFixtures + c.name + ".expected.tsv")),
              "");
    std::string id = value(c.name, "SELECT vd_value FROM vd_registry WHERE vd_tag='vd_dbid';");
    if (*c.id)
      EXPECT_EQ(id, std::string(c.id) + "\n");
    else
      EXPECT_EQ(id.size(), 37u);
    // Numbers of INTEGER columns are stored as integers, texts as texts.
    EXPECT_EQ(value(c.name,
                    "SELECT count(*) FROM vd_cat_xref WHERE typeof(vd_id)!='integer' OR "
                    "typeof(vd_aid)!='integer' OR typeof(vd_cid)!='integer';"),
              "0\n");
    EXPECT_EQ(value(c.name,
                    "SELECT count(*) FROM vd_assets WHERE typeof(vd_id)!='integer' OR "
                    "typeof(vd_tag)!='text';"),
              "0\n");
    EXPECT_EQ(entries(dir_), (std::set<std::string>{c.name + std::string(".vd"),
                                                    c.name + std::string(".vm"), "tmp"}));
    EXPECT_TRUE(entries(temp_).empty());
    ASSERT_EQ(node.open(), 0);  // a second open finds a current catalog
    node.close();
    unlink(main.c_str());
    unlink(blob.c_str());
  }
  for (auto c : {std::make_pair("no_blob_table", StatusUpgradeFailed),
                 std::make_pair("no_version_row", StatusNoVersion),
                 std::make_pair("corrupt_schema", StatusCorrupt),
                 std::make_pair("assets_without_xml", StatusUpgradeFailed),
                 std::make_pair("blob_file_clash", StatusFileMismatch)}) {
    bring(c.first);
    expectRefused(c.first, c.second);
  }
}

}  // namespace

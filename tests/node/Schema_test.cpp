// New catalogs on disk: both files' headers, the schema and initial rows as the stock
// sqlite3 shell sees them, the catalog id, and the rules of create.
#include "NodeFixture.h"
#include "node/CatalogId.h"

using namespace KESTRIN::Vendrithane;

namespace {

const char kMainObjects[] =
    "table|vd_assets|vd_assets|CREATE TABLE vd_assets (vd_id INTEGER, vd_tag TEXT, vd_xml "
    "TEXT)\n"
    "index|vd_assets_vd_id_idx|vd_assets|CREATE UNIQUE INDEX vd_assets_vd_id_idx ON vd_assets "
    "(vd_id)\n"
    "table|vd_cat|vd_cat|CREATE TABLE vd_cat (vd_id INTEGER, vd_cdscr TEXT, vd_cper INTEGER, "
    "vd_croot TEXT, vd_ctyp INTEGER, vd_tgt TEXT)\n"
    "table|vd_cat_nde|vd_cat_nde|CREATE TABLE vd_cat_nde (vd_id INTEGER, vd_cnod TEXT, vd_cpid "
    "INTEGER, vd_xml TEXT)\n"
    "index|vd_cat_nde_vd_cnod_vd_cpid_idx|vd_cat_nde|CREATE UNIQUE INDEX "
    "vd_cat_nde_vd_cnod_vd_cpid_idx ON vd_cat_nde (vd_cnod,vd_cpid)\n"
    "index|vd_cat_nde_vd_id_idx|vd_cat_nde|CREATE UNIQUE INDEX vd_cat_nde_vd_id_idx ON "
    "vd_cat_nde (vd_id)\n"
    "table|vd_cat_xref|vd_cat_xref|CREATE TABLE vd_cat_xref (vd_id INTEGER, vd_aid INTEGER, "
    "vd_cid INTEGER)\n"
    "index|vd_cat_xref_vd_aid_idx|vd_cat_xref|CREATE INDEX vd_cat_xref_vd_aid_idx ON "
    "vd_cat_xref (vd_aid)\n"
    "index|vd_cat_xref_vd_aid_vd_cid_idx|vd_cat_xref|CREATE UNIQUE INDEX "
    "vd_cat_xref_vd_aid_vd_cid_idx ON vd_cat_xref (vd_aid, vd_cid)\n"
    "index|vd_cat_xref_vd_cid_idx|vd_cat_xref|CREATE INDEX vd_cat_xref_vd_cid_idx ON "
    "vd_cat_xref (vd_cid)\n"
    "index|vd_cat_xref_vd_id_idx|vd_cat_xref|CREATE UNIQUE INDEX vd_cat_xref_vd_id_idx ON "
    "vd_cat_xref (vd_id)\n"
    "table|vd_id|vd_id|CREATE TABLE vd_id (vd_id INTEGER)\n"
    "table|vd_idx|vd_idx|CREATE TABLE vd_idx (vd_id INTEGER, vd_kmap TEXT, vd_ktgt TEXT, "
    "vd_ktyp INTEGER)\n"
    "table|vd_registry|vd_registry|CREATE TABLE vd_registry (vd_tag TEXT, vd_value TEXT)\n"
    "index|vd_registry_vd_tag_idx|vd_registry|CREATE UNIQUE INDEX vd_registry_vd_tag_idx ON "
    "vd_registry (vd_tag)\n"
    "table|vd_version|vd_version|CREATE TABLE vd_version (vd_id INTEGER, vd_version TEXT)\n";

const char kBlobObjects[] =
    "table|vd_blobs|vd_blobs|CREATE TABLE vd_blobs (vd_aid INTEGER, vd_tag TEXT, vd_blob "
    "BLOB)\n"
    "index|vd_blobs_vd_aid_vd_tag_idx|vd_blobs|CREATE UNIQUE INDEX vd_blobs_vd_aid_vd_tag_idx "
    "ON vd_blobs (vd_aid,vd_tag)\n";

const char kListObjects[] = "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;\n";

// 36 characters: lower-case hex digits with dashes at 8, 13, 18 and 23.
bool isCatalogId(const std::string& id) {
  if (id.size() != 36) return false;
  for (size_t i = 0; i < id.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    char c = id[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

TEST_F(NodeTest, NewCatalogAsTheStockShellSeesIt) {
  Node node = created("photos");
  std::string main = dir_ + "photos.vd", blob = dir_ + "photos.vm";
  const std::string header("VendrithaneFMT6\0", 16);
  EXPECT_EQ(readFile(main).substr(0, 16), header);
  EXPECT_EQ(readFile(blob).substr(0, 16), header);

  EXPECT_EQ(shell(main, "PRAGMA integrity_check;\n"), "ok\n");
  EXPECT_EQ(shell(blob, "PRAGMA integrity_check;\n"), "ok\n");
  EXPECT_EQ(shell(main, kListObjects), kMainObjects);
  EXPECT_EQ(shell(blob, kListObjects), kBlobObjects);

  EXPECT_EQ(shell(main, "SELECT vd_id, typeof(vd_id) FROM vd_id;\n"), "2|integer\n");
  EXPECT_EQ(shell(main, "SELECT vd_id, vd_version, typeof(vd_version) FROM vd_version;\n"),
            "1|6.0|text\n");
  std::string registry = shell(main, "SELECT vd_tag, vd_value FROM vd_registry;\n");
  ASSERT_EQ(registry.substr(0, 8), "vd_dbid|");
  EXPECT_TRUE(isCatalogId(registry.substr(8, registry.size() - 9))) << registry;
  EXPECT_EQ(registry.back(), '\n');
  EXPECT_EQ(registry.find('\n'), registry.size() - 1);  // exactly one row
  EXPECT_EQ(shell(main,
                  "SELECT (SELECT count(*) FROM vd_idx) + (SELECT count(*) FROM vd_cat) + "
                  "(SELECT count(*) FROM vd_cat_nde) + (SELECT count(*) FROM vd_cat_xref) + "
                  "(SELECT count(*) FROM vd_assets);\n"),
            "0\n");
  EXPECT_EQ(shell(blob, "SELECT count(*) FROM vd_blobs;\n"), "0\n");

  // The engine's own header is not a catalog: the layer refuses such a file.
  std::string plain = dir_ + "plain.vd";
  std::string bytes = readFile(main);
  bytes.replace(0, 16, std::string("SQLite format 3\0", 16));
  writeFile(plain, bytes);
  EXPECT_EQ(raw(plain, "SELECT count(*) FROM vd_id;"), "error 26");
}

TEST_F(NodeTest, CreateKeepsOrReplacesAnExistingCatalog) {
  Node node = created("photos");
  std::string main = dir_ + "photos.vd";
  std::string firstId = raw(main, "SELECT vd_value FROM vd_registry;");
  raw(main, "INSERT INTO vd_registry VALUES ('mine', 'kept');");
  std::string before = readFile(main);

  EXPECT_EQ(node.create(false), StatusExists);
  EXPECT_EQ(readFile(main), before);

  EXPECT_EQ(node.create(true), 0);
  std::string secondId = raw(main, "SELECT vd_value FROM vd_registry;");
  EXPECT_NE(secondId, firstId);
  EXPECT_TRUE(isCatalogId(secondId.substr(0, secondId.size() - 1)));
  EXPECT_EQ(raw(main, "SELECT count(*) FROM vd_registry;"), "1\n");
  EXPECT_EQ(node.version(), "");  // create leaves the node closed

  // An open node's files are never replaced under its connections.
  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(node.create(true), StatusNotOpen);
  EXPECT_EQ(raw(main, "SELECT vd_value FROM vd_registry;"), secondId);
  EXPECT_EQ(node.close(), 0);
}

TEST_F(NodeTest, CreateFailsCleanlyWhereFilesCannotBeMade) {
  Node node("photos", (dir_ + "missing/").c_str());
  EXPECT_EQ(node.create(), StatusSchemaFailed);
  EXPECT_FALSE(present(dir_ + "missing/photos.vd"));

  // The blob directory is missing: the main file made first is removed again.
  Node split("photos", dir_.c_str(), (dir_ + "missing/").c_str());
  EXPECT_EQ(split.create(), StatusSchemaFailed);
  EXPECT_FALSE(present(dir_ + "photos.vd"));
}

TEST(CatalogId, IsGroupedHexAndFreshEachTime) {
  std::string a = node::generateCatalogId("/tmp/a.vd");
  std::string b = node::generateCatalogId("/tmp/a.vd");
  EXPECT_TRUE(isCatalogId(a)) << a;
  EXPECT_TRUE(isCatalogId(b)) << b;
  EXPECT_NE(a, b);
}

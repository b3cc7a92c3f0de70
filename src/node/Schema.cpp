// The two schema scripts and the version comparison.
#include "node/Schema.h"

#include <cstdlib>
#include <cstring>

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// The version is inserted as the numeric literal 6.0; the column's text type stores it as
// the text "6.0", which is what every reader compares.
const char kMainSchemaScript[] =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE vd_id (vd_id INTEGER);"
    "INSERT INTO vd_id VALUES (2);"
    "CREATE TABLE vd_version (vd_id INTEGER, vd_version TEXT);"
    "INSERT INTO vd_version VALUES (1, 6.0);"
    "CREATE TABLE vd_idx (vd_id INTEGER, vd_kmap TEXT, vd_ktgt TEXT, vd_ktyp INTEGER);"
    "CREATE TABLE vd_cat (vd_id INTEGER, vd_cdscr TEXT, vd_cper INTEGER, vd_croot TEXT, "
    "vd_ctyp INTEGER, vd_tgt TEXT);"
    "CREATE TABLE vd_cat_nde (vd_id INTEGER, vd_cnod TEXT, vd_cpid INTEGER, vd_xml TEXT);"
    "CREATE TABLE vd_cat_xref (vd_id INTEGER, vd_aid INTEGER, vd_cid INTEGER);"
    "CREATE TABLE vd_assets (vd_id INTEGER, vd_tag TEXT, vd_xml TEXT);"
    "CREATE TABLE vd_registry (vd_tag TEXT, vd_value TEXT);"
    "CREATE UNIQUE INDEX vd_cat_xref_vd_aid_vd_cid_idx ON vd_cat_xref (vd_aid, vd_cid);"
    "CREATE INDEX vd_cat_xref_vd_aid_idx ON vd_cat_xref (vd_aid);"
    "CREATE INDEX vd_cat_xref_vd_cid_idx ON vd_cat_xref (vd_cid);"
    "CREATE UNIQUE INDEX vd_assets_vd_id_idx ON vd_assets (vd_id);"
    "CREATE UNIQUE INDEX vd_registry_vd_tag_idx ON vd_registry (vd_tag);"
    "CREATE UNIQUE INDEX vd_cat_nde_vd_cnod_vd_cpid_idx ON vd_cat_nde (vd_cnod,vd_cpid);"
    "CREATE UNIQUE INDEX vd_cat_nde_vd_id_idx ON vd_cat_nde (vd_id);"
    "CREATE UNIQUE INDEX vd_cat_xref_vd_id_idx ON vd_cat_xref (vd_id);"
    "COMMIT TRANSACTION;";

const char kBlobSchemaScript[] =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE vd_blobs (vd_aid INTEGER, vd_tag TEXT, vd_blob BLOB);"
    "CREATE UNIQUE INDEX vd_blobs_vd_aid_vd_tag_idx ON vd_blobs (vd_aid,vd_tag);"
    "COMMIT TRANSACTION;";

const char kLibraryVersion[] = "6.0";

SchemaVersion parseSchemaVersion(const char* text) {
  SchemaVersion v{0, 0};
  if (!text) return v;
  v.major = std::atoi(text);
  if (const char* dot = std::strchr(text, '.')) v.minor = std::atoi(dot + 1);
  return v;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

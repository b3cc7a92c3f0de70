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

namespace {

// The word at `at` (up to a blank or "("), and the position after it and its blanks.
std::string wordAt(const std::string& text, size_t* at) {
  size_t end = *at;
  while (end < text.size() && text[end] != ' ' && text[end] != '(') ++end;
  std::string word = text.substr(*at, end - *at);
  while (end < text.size() && text[end] == ' ') ++end;
  *at = end;
  return word;
}

}  // namespace

std::vector<SchemaObject> schemaObjects(const char* script, const char* schema) {
  std::vector<SchemaObject> objects;
  const std::string all(script);
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    const std::string statement = all.substr(start, end - start + 1);
    start = end + 1;
    size_t at = 0;
    if (wordAt(statement, &at) != "CREATE") continue;
    std::string word = wordAt(statement, &at);
    if (word == "UNIQUE") word = wordAt(statement, &at);
    SchemaObject object;
    object.index = word == "INDEX";
    const size_t nameAt = at;
    object.name = wordAt(statement, &at);
    if (object.index) {
      wordAt(statement, &at);  // ON
      object.table = wordAt(statement, &at);
    } else {
      object.table = object.name;
    }
    object.sql = statement;
    if (*schema != '\0') object.sql.insert(nameAt, std::string(schema) + ".");
    objects.push_back(object);
  }
  return objects;
}

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

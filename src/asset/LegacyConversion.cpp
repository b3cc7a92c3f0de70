// The conversion of an old catalog, in three parts: the checks made before anything is
// written (the old main file, its version, the blob table, the names), the copy of each
// table (fixed column lists for the library's own tables, (id, record text) for the tables
// of asset types), and the blobs, decoded from their old text form.
#include "asset/LegacyConversion.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "asset/AssetStatements.h"
#include "asset/BlobImpl.h"
#include "legacy/LegacyFile.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "types/XmlEscape.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

namespace {

constexpr int kFirstUtf8Major = 4;     // older catalogs store text in the system code page
constexpr long long kFirstFreeId = 2;  // a new catalog's id counter

// The old tables the conversion leaves behind (their content has no place in the new
// catalog, or is copied separately: vd_blobs).
constexpr const char* kNotCopied[] = {"vd_version", "vd_idx",      "vd_rel",
                                      "vd_nodes",   "vd_networks", "vd_blobs"};

bool plainIdentifier(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

// The column of `table` named `name`, -1 when there is none.
int columnOf(const legacy::LegacyTable& table, const char* name) {
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (legacy::sameName(table.columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

// Whether `text` is a whole decimal integer; its value in *value.
bool decimalValue(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  return end == text.c_str() + text.size();
}

struct Value {
  bool null = true;
  std::string text;
};

class Conversion {
 public:
  Conversion(legacy::LegacyFile& old, node::NodeConnection& db, bool convert, std::string* dropped)
      : old_(old), db_(db), convert_(convert), dropped_(dropped) {}

  Status table(const legacy::LegacyTable& table);
  Status blobs(legacy::LegacyFile& source, const legacy::LegacyTable& table);
  Status finish();

 private:
  // How the values of one row are taken from the old row.
  using Fill = void (Conversion::*)(const legacy::LegacyRows& row, const std::vector<int>& columns);

  Status copy(const legacy::LegacyTable& table, const std::string& insertSql,
              const std::vector<int>& columns, int idValue, Fill fill);
  void fillColumns(const legacy::LegacyRows& row, const std::vector<int>& columns);
  void fillElements(const legacy::LegacyRows& row, const std::vector<int>& columns);
  std::string text(std::string_view bytes) const {
    return convert_ ? platform::windows1252ToUtf8(bytes.data(), bytes.size()) : std::string(bytes);
  }
  Status fail(const std::string& message, const std::string& sql, int engineCode = 0) {
    db_.recordError(StatusUpgradeFailed, engineCode, message, sql);
    return StatusUpgradeFailed;
  }

  legacy::LegacyFile& old_;                // the old main file
  node::NodeConnection& db_;               // the new main file, the new blob file attached
  const bool convert_;                     // text is converted from the code page
  std::string* dropped_;                   // the rows dropped as duplicates, when asked
  std::vector<Value> values_;              // the current row's values to bind
  std::vector<std::string> elementNames_;  // per column: the element a column becomes
  long long maxId_ = 0;                    // the highest id converted
  long long oldCounter_ = -1;              // the old id counter, -1 when it has none
};

void Conversion::fillColumns(const legacy::LegacyRows& row, const std::vector<int>& columns) {
  for (int column : columns) {
    Value value;
    if (column < 0) {  // a column the old table lacks and the new one needs: ''
      value.null = false;
    } else if (!row.value(column).null) {
      value.null = false;
      value.text = text(row.value(column).text);
    }
    values_.push_back(std::move(value));
  }
}

// The id, then the record text made of one element per further column (none for a NULL).
void Conversion::fillElements(const legacy::LegacyRows& row, const std::vector<int>& columns) {
  fillColumns(row, {columns[0]});
  Value xml;
  xml.null = false;
  for (size_t i = 1; i < columns.size(); ++i) {
    const legacy::LegacyValue& value = row.value(columns[i]);
    if (value.null) continue;
    const std::string& name = elementNames_[i];
    std::string content = text(value.text);
    xml.text += '<' + name + '>';
    escapeXml(content.data(), content.size(),
              [&](const char* p, size_t n) { xml.text.append(p, n); });
    xml.text += "</" + name + '>';
  }
  values_.push_back(std::move(xml));
}

// Copies every row of `table` with `insertSql`, its values taken by `fill` from `columns`;
// value `idValue` (when not -1) is the row's id. Any row that cannot be read or written
// stops the copy; a row the new table refuses as a duplicate is noted.
Status Conversion::copy(const legacy::LegacyTable& table, const std::string& insertSql,
                        const std::vector<int>& columns, int idValue, Fill fill) {
  node::Statement insert(db_, insertSql);
  if (!insert.valid()) return fail(insert.error().message, insertSql, insert.code());
  legacy::LegacyRows rows(old_, table);
  for (;;) {
    bool hasRow = false;
    if (rows.next(hasRow) != StatusOk) return fail(rows.error(), "reading " + table.name);
    if (!hasRow) return StatusOk;
    values_.clear();
    (this->*fill)(rows, columns);
    insert.reset();
    for (size_t i = 0; i < values_.size(); ++i) {
      int position = static_cast<int>(i) + 1;
      bool bound = values_[i].null
                       ? insert.bindNull(position)
                       : insert.bind(position, values_[i].text.data(), values_[i].text.size());
      if (!bound) return fail(insert.error().message, insertSql, insert.code());
    }
    if (!insert.run()) return fail(insert.error().message, insert.expandedSql(), insert.code());
    const Value& key = values_[idValue >= 0 ? idValue : 0];
    if (insert.changes() == 0) {
      if (dropped_) *dropped_ += table.name + ' ' + (key.null ? "NULL" : key.text) + '\n';
    } else if (idValue >= 0) {
      long long id = 0;
      if (!key.null && decimalValue(key.text, &id)) maxId_ = std::max(maxId_, id);
    }
  }
}

Status Conversion::table(const legacy::LegacyTable& table) {
  for (const char* name : kNotCopied)
    if (legacy::sameName(table.name, name)) return StatusOk;
  int id = columnOf(table, "vd_id"), xml = columnOf(table, "vd_xml");
  auto fixed = [&](const char* sql, std::initializer_list<const char*> names, int idValue) {
    std::vector<int> columns;
    for (const char* name : names) {
      int column = columnOf(table, name);
      if (column < 0 && !legacy::sameName(name, "vd_xml"))
        return fail("old table " + table.name + " has no column " + name, sql);
      columns.push_back(column);  // a missing vd_xml of vd_cat_nde gives ''
    }
    return copy(table, sql, columns, idValue, &Conversion::fillColumns);
  };
  if (legacy::sameName(table.name, "vd_id")) {
    if (id < 0) return fail("old table vd_id has no column vd_id", table.name);
    legacy::LegacyRows rows(old_, table);
    bool hasRow = false;
    if (rows.next(hasRow) != StatusOk) return fail(rows.error(), "reading vd_id");
    long long counter = 0;
    if (hasRow && !rows.value(id).null && decimalValue(std::string(rows.value(id).text), &counter))
      oldCounter_ = counter;
    return StatusOk;
  }
  if (legacy::sameName(table.name, "vd_cat"))
    return fixed(kLegacyInsertCategory,
                 {"vd_id", "vd_cdscr", "vd_cper", "vd_croot", "vd_ctyp", "vd_tgt"}, 0);
  if (legacy::sameName(table.name, "vd_cat_nde"))
    return fixed(kLegacyInsertNode, {"vd_id", "vd_cnod", "vd_cpid", "vd_xml"}, 0);
  if (legacy::sameName(table.name, "vd_cat_xref"))
    return fixed(kLegacyInsertMember, {"vd_id", "vd_aid", "vd_cid"}, 0);
  if (legacy::sameName(table.name, "vd_registry"))
    return fixed(kLegacyInsertRegistry, {"vd_tag", "vd_value"}, -1);
  if (legacy::sameName(table.name, "vd_assets")) {
    if (xml < 0) return fail("old table vd_assets has no column vd_xml", table.name);
    return fixed(kLegacyInsertAsset, {"vd_id", "vd_tag", "vd_xml"}, 0);
  }

  // A table of an asset type: made as declared types make theirs, rows as (id, record).
  if (id < 0) return fail("old table " + table.name + " has no column vd_id", table.name);
  std::string quoted = node::quoteIdentifier(table.name);
  std::string create = node::sqlFormat(kCreateTypeTable, quoted.c_str());
  node::EngineError error;
  if (node::execute(db_, create, &error) != StatusOk)
    return fail(error.message, create, error.code);
  std::string insert = node::sqlFormat(kLegacyInsertTypeRow, quoted.c_str());
  if (xml >= 0) return copy(table, insert, {id, xml}, 0, &Conversion::fillColumns);
  std::vector<int> columns{id};
  elementNames_.assign(1, std::string());
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (static_cast<int>(i) == id) continue;
    columns.push_back(static_cast<int>(i));
    elementNames_.push_back(table.columns[i].name);
  }
  return copy(table, insert, columns, 0, &Conversion::fillElements);
}

Status Conversion::blobs(legacy::LegacyFile& source, const legacy::LegacyTable& table) {
  int aid = columnOf(table, "vd_aid"), tag = columnOf(table, "vd_tag"),
      blob = columnOf(table, "vd_blob");
  if (aid < 0 || tag < 0 || blob < 0) return fail("old table vd_blobs lacks a column", "vd_blobs");
  node::Statement insert(db_, kLegacyInsertBlob);
  if (!insert.valid()) return fail(insert.error().message, kLegacyInsertBlob, insert.code());
  legacy::LegacyRows rows(source, table);
  std::string aidText, tagText;
  std::vector<unsigned char> bytes;
  for (;;) {
    bool hasRow = false;
    if (rows.next(hasRow) != StatusOk) return fail(rows.error(), "reading vd_blobs");
    if (!hasRow) return StatusOk;
    insert.reset();
    const legacy::LegacyValue& a = rows.value(aid);
    const legacy::LegacyValue& t = rows.value(tag);
    const legacy::LegacyValue& b = rows.value(blob);
    aidText = a.null ? std::string() : text(a.text);
    tagText = t.null ? std::string() : text(t.text);
    bool bound = a.null ? insert.bindNull(1) : insert.bind(1, aidText.data(), aidText.size());
    bound = bound && (t.null ? insert.bindNull(2) : insert.bind(2, tagText.data(), tagText.size()));
    if (b.null) {
      bound = bound && insert.bindNull(3);
    } else {
      bytes.resize(b.text.size() + 1);  // never empty: an empty blob stays a blob
      size_t n = decodeBlobText(reinterpret_cast<const unsigned char*>(b.text.data()),
                                b.text.size(), bytes.data());
      bound = bound && insert.bindBlob(3, bytes.data(), n);
    }
    if (!bound) return fail(insert.error().message, kLegacyInsertBlob, insert.code());
    if (!insert.run()) return fail(insert.error().message, insert.expandedSql(), insert.code());
    if (insert.changes() == 0 && dropped_)
      *dropped_ += "vd_blobs " + aidText + ' ' + tagText + '\n';
  }
}

// The identity and the id counter, once every table is in.
Status Conversion::finish() {
  node::EngineError error;
  for (const char* sql : {kLegacyDropNewId, kLegacyRestoreNewId})
    if (node::execute(db_, sql, &error) != StatusOk) return fail(error.message, sql, error.code);
  // A stale old counter must not hand out ids that records already have.
  long long counter = std::max({oldCounter_ < 0 ? kFirstFreeId : oldCounter_, maxId_ + 1});
  std::string sql = node::sqlFormat(kLegacySetCounter, counter);
  if (node::execute(db_, sql, &error) != StatusOk) return fail(error.message, sql, error.code);
  return StatusOk;
}

// 78 unless the old version table has a first row with a version; *convert is set for
// versions below 4.
Status readVersion(legacy::LegacyFile& old, bool* convert) {
  const legacy::LegacyTable* table = old.table("vd_version");
  if (table == nullptr) return StatusNoVersion;
  int column = columnOf(*table, "vd_version");
  if (column < 0) return StatusNoVersion;
  legacy::LegacyRows rows(old, *table);
  bool hasRow = false;
  Status status = rows.next(hasRow);
  if (status != StatusOk) return StatusUpgradeFailed;  // damage met in a table
  if (!hasRow) return StatusNoVersion;
  std::string version = rows.value(column).null ? "" : std::string(rows.value(column).text);
  long long major = 0;
  *convert = decimalValue(version.substr(0, version.find('.')), &major) && major < kFirstUtf8Major;
  return StatusOk;
}

}  // namespace

Status convertLegacyCatalog(const LegacyCatalogFiles& files, std::string* dropped) {
  legacy::LegacyFile old;
  if (old.open(files.oldMain) != StatusOk) return StatusCorrupt;
  // An interrupted write of the old engine that its reader cannot roll back.
  if (old.journalPresent()) return StatusCorrupt;
  bool convert = false;
  Status status = readVersion(old, &convert);
  if (status != StatusOk) return status;

  // The blob table: in the old blob file, else (older catalogs) in the main file.
  legacy::LegacyFile oldBlobs;
  legacy::LegacyFile* blobSource = nullptr;
  const legacy::LegacyTable* blobTable = nullptr;
  if (platform::fileSize(files.oldBlob) > 0) {
    if (oldBlobs.open(files.oldBlob) != StatusOk || oldBlobs.journalPresent())
      return StatusUpgradeFailed;
    if ((blobTable = oldBlobs.table("vd_blobs")) != nullptr) blobSource = &oldBlobs;
  }
  if (blobSource == nullptr && (blobTable = old.table("vd_blobs")) != nullptr) blobSource = &old;
  if (blobSource == nullptr) return StatusUpgradeFailed;

  // Tables in name order; every name that becomes SQL must be a plain identifier.
  std::vector<const legacy::LegacyTable*> tables;
  for (const legacy::LegacyTable& table : old.tables()) {
    if (!plainIdentifier(table.name)) return StatusUpgradeFailed;
    if (columnOf(table, "vd_xml") < 0)
      for (const legacy::LegacyColumn& column : table.columns)
        if (!plainIdentifier(column.name)) return StatusUpgradeFailed;
    tables.push_back(&table);
  }
  std::stable_sort(
      tables.begin(), tables.end(),
      [](const legacy::LegacyTable* a, const legacy::LegacyTable* b) { return a->name < b->name; });

  try {
    node::NodeConnection db(files.newMain, files.newBlob, nullptr, false);
    if (node::execute(db, node::kBeginImmediate) != StatusOk) return StatusUpgradeFailed;
    Conversion conversion(old, db, convert, dropped);
    status = node::execute(db, kLegacyKeepNewId);
    for (size_t i = 0; status == StatusOk && i < tables.size(); ++i)
      status = conversion.table(*tables[i]);
    if (status == StatusOk) status = conversion.blobs(*blobSource, *blobTable);
    if (status == StatusOk) status = conversion.finish();
    if (status == StatusOk && node::execute(db, node::kCommit) == StatusOk) return StatusOk;
    node::execute(db, node::kRollback);
    return StatusUpgradeFailed;
  } catch (Status) {
    return StatusUpgradeFailed;
  }
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

// Opening reads page 1 and walks the schema table (page 2) once; each LegacyRows walks one
// table's b-tree with a page bitmap of its own.
#include "legacy/LegacyFile.h"

#include "platform/Files.h"

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

namespace {

constexpr size_t kSchemaColumns = 5;  // type, name, tbl_name, rootpage, sql
constexpr uint32_t kSchemaRoot = 2;

bool parsePageNumber(std::string_view text, uint32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v > UINT32_MAX) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

Status LegacyFile::damage(const std::string& reason) {
  error_ = reason;
  pages_.close();
  tables_.clear();
  open_ = false;
  return StatusCorrupt;
}

Status LegacyFile::open(const std::string& path) {
  close();
  error_.clear();
  ++generation_;
  std::string reason;
  if (!pages_.open(path, reason)) return damage(reason);
  journal_ = platform::fileSize(path + "-journal") > 0;
  if (pages_.pageCount() >= kSchemaRoot) {
    TreeCursor schema(pages_, kSchemaRoot);
    std::vector<LegacyValue> row;
    for (;;) {
      const int step = schema.next(reason);
      if (step < 0) return damage("schema: " + reason);
      if (step == 0) break;
      if (!decodeRecord(schema.data(), schema.dataSize(), kSchemaColumns, row, reason)) {
        return damage("schema: " + reason);
      }
      if (row[0].null || row[0].text != "table") continue;
      LegacyTable table;
      if (row[1].null || row[4].null) return damage("schema: table without name or text");
      table.name = std::string(row[1].text);
      table.sql = std::string(row[4].text);
      if (!parsePageNumber(row[3].text, table.rootPage) || table.rootPage <= kSchemaRoot ||
          table.rootPage > pages_.pageCount()) {
        return damage("schema: table " + table.name + ": root page out of range");
      }
      TableDefinition definition;
      if (!parseTableDefinition(table.sql, definition, reason)) {
        return damage("schema: table " + table.name + ": " + reason);
      }
      table.columns = std::move(definition.columns);
      table.rowidAlias = definition.rowidAlias;
      tables_.push_back(std::move(table));
    }
  }
  open_ = true;
  return StatusOk;
}

void LegacyFile::close() {
  pages_.close();
  tables_.clear();
  open_ = false;
  journal_ = false;
}

const LegacyTable* LegacyFile::table(const std::string& name) const {
  for (const LegacyTable& t : tables_) {
    if (sameName(t.name, name)) return &t;
  }
  return nullptr;
}

LegacyRows::LegacyRows(LegacyFile& file, const LegacyTable& table)
    : file_(file),
      generation_(file.generation_),
      name_(table.name),
      columns_(table.columns.size()),
      rowidAlias_(table.rowidAlias),
      cursor_(file.pages_, table.rootPage) {}

Status LegacyRows::next(bool& hasRow) {
  hasRow = false;
  values_.clear();
  if (failed_) return StatusCorrupt;
  if (!file_.open_ || file_.generation_ != generation_) {
    file_.error_ = "file closed under its row stream";
    return StatusCorrupt;
  }
  std::string reason;
  const int step = cursor_.next(reason);
  if (step == 0) return StatusOk;
  if (step < 0 || !decodeRecord(cursor_.data(), cursor_.dataSize(), columns_, values_, reason)) {
    values_.clear();
    failed_ = true;
    file_.error_ = "table " + name_ + ": " + reason;
    return StatusCorrupt;
  }
  if (rowidAlias_ >= 0) {
    aliasText_ = std::to_string(cursor_.rowid());
    values_[rowidAlias_] = LegacyValue{false, aliasText_};
  }
  hasRow = true;
  return StatusOk;
}

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

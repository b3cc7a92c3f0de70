// Read-only access to a file of the earlier storage generation (a catalog's main or blob
// file): its tables, with the columns taken from their CREATE TABLE texts, and their rows in
// rowid order, streamed one at a time through a small fixed page cache. Hard to crash by
// design: every page, cell, chain and record is checked before use, and every failure is a
// status with its reason in error().
//
// Not thread-safe: a LegacyFile and its row streams belong to one thread.
#ifndef VENDRITHANE_LEGACY_LEGACYFILE_H
#define VENDRITHANE_LEGACY_LEGACYFILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "legacy/PageSource.h"
#include "legacy/Record.h"
#include "legacy/TableDefinition.h"
#include "legacy/TreeCursor.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

struct LegacyTable {
  std::string name;                   // as the schema table records it
  std::string sql;                    // the CREATE TABLE text, as written
  uint32_t rootPage = 0;              // root of its b-tree
  std::vector<LegacyColumn> columns;  // in declaration order
  int rowidAlias = -1;                // the INTEGER PRIMARY KEY column, -1 if none
};

class LegacyFile {
 public:
  LegacyFile() = default;
  LegacyFile(const LegacyFile&) = delete;
  LegacyFile& operator=(const LegacyFile&) = delete;

  // Opens the file at `path` and reads its schema. 0, or StatusCorrupt (25) when the file
  // cannot be opened, or its page 1 or schema is damaged (an unparsable CREATE TABLE
  // included); the reason is in error(). The file is never written.
  Status open(const std::string& path);
  void close();  // row streams of the file must be gone
  bool isOpen() const { return open_; }

  uint32_t formatNumber() const { return pages_.formatNumber(); }  // page 1, as stored
  bool bigEndian() const { return pages_.bigEndian(); }            // the b-tree byte order
  // Whether a rollback journal with content lies beside the file: its last writer was
  // interrupted and the file may be half-updated.
  bool journalPresent() const { return journal_; }

  // The tables in creation order (indexes, views and triggers are not listed).
  const std::vector<LegacyTable>& tables() const { return tables_; }
  // The table named `name` (ASCII case ignored, as the old engine did), or nullptr.
  const LegacyTable* table(const std::string& name) const;

  const std::string& error() const { return error_; }  // reason of the last failure

 private:
  friend class LegacyRows;
  Status damage(const std::string& reason);

  PageSource pages_;                 // the file's pages
  std::vector<LegacyTable> tables_;  // from the schema table
  std::string error_;                // reason of the last failure
  bool open_ = false;                // open() succeeded and close() was not called
  bool journal_ = false;             // a journal with content was beside the file at open
  uint64_t generation_ = 0;          // counts open() calls: a row stream belongs to one
};

// The rows of one table in rowid order. Holds one row at a time: the values of the current
// row stay valid until the next call of next(). The file must outlive the stream; once the
// file is closed or opened again, next() fails.
class LegacyRows {
 public:
  LegacyRows(LegacyFile& file, const LegacyTable& table);

  // Moves to the next row: 0 with `hasRow` set or cleared (the end), or StatusCorrupt (25)
  // when the table's pages or a record are damaged (reason in error()), after which the
  // stream stays at its end.
  Status next(bool& hasRow);

  int32_t rowid() const { return cursor_.rowid(); }
  size_t size() const { return values_.size(); }  // the table's column count
  // Value `i` of the current row; the rowid alias column gives the rowid as decimal text.
  const LegacyValue& value(size_t i) const { return values_[i]; }
  const std::string& error() const { return file_.error_; }

 private:
  LegacyFile& file_;                 // the file read
  const uint64_t generation_;        // the file's open() that the stream belongs to
  const std::string name_;           // the table's name, for error texts
  const size_t columns_;             // the table's column count
  const int rowidAlias_;             // the table's rowid alias column, -1 if none
  TreeCursor cursor_;                // walk of the table's b-tree
  std::vector<LegacyValue> values_;  // the current row's values
  std::string aliasText_;            // the rowid as text, for the alias column
  bool failed_ = false;              // a damage was met: the stream stays at its end
};

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LEGACY_LEGACYFILE_H

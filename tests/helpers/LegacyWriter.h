// Test support: writes files in the old catalog format (the reader's input) from given
// tables, for tests and benchmarks only. Little-endian b-trees whose interior pages hold
// rows too, balanced or left-deep, cells placed out of key order on every other page,
// overflow chains for long rows, and deleted rows left as stale cell bytes in free space.
#ifndef VENDRITHANE_TESTS_HELPERS_LEGACYWRITER_H
#define VENDRITHANE_TESTS_HELPERS_LEGACYWRITER_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vdtest {

struct LegacyRow {
  int32_t rowid;
  std::vector<std::optional<std::string>> values;  // nullopt for NULL
};

struct LegacyTreeShape {
  size_t maxCells = 63;   // cells per page at most (at least 2)
  bool leftDeep = false;  // each interior page: one row, a one-row right leaf, the rest left
};

class LegacyWriter {
 public:
  static constexpr uint32_t kPage = 1024;

  // Adds a table; `rows` in any order (written in rowid order). `deleted` rows are left as
  // stale cell bytes inside the free space of the table's pages, where they fit.
  void addTable(const std::string& name, const std::string& sql, std::vector<LegacyRow> rows,
                LegacyTreeShape shape = {}, std::vector<LegacyRow> deleted = {}) {
    std::sort(rows.begin(), rows.end(),
              [](const LegacyRow& a, const LegacyRow& b) { return a.rowid < b.rowid; });
    tables_.push_back(Table{name, sql, std::move(rows), shape, std::move(deleted)});
  }

  // The whole file, with `format` as the catalog's format number on page 1.
  std::string bytes(uint32_t format = 2000) {
    pages_.assign(2, std::string(kPage, '\0'));
    std::vector<LegacyRow> schema;
    int32_t rowid = 0;
    for (Table& t : tables_) {
      stale_ = &t.deleted;
      const uint32_t root = build(t.rows, 0, t.rows.size(), 0, t.shape);
      schema.push_back(
          LegacyRow{++rowid, {std::string("table"), t.name, t.name, std::to_string(root), t.sql}});
    }
    std::vector<LegacyRow> none;
    stale_ = &none;
    build(schema, 0, schema.size(), 2, LegacyTreeShape{});
    std::string& first = pages_[0];
    std::memcpy(&first[0], "Vendrithane4", 12);
    put32(first, 16, 0xDAE37528u);
    put32(first, 32, format);
    std::string out;
    out.reserve(pages_.size() * kPage);
    for (const std::string& p : pages_) out += p;
    return out;
  }

  // The record of `values`: the offsets (1, 2 or 3 bytes by the record's size), then each
  // value with its terminating zero, nothing for NULL.
  static std::string record(const std::vector<std::optional<std::string>>& values) {
    size_t body = 0;
    for (const auto& v : values) body += v ? v->size() + 1 : 0;
    const size_t n = values.size() + 1;
    const size_t width = body + n < 256 ? 1 : body + 2 * n < 65536 ? 2 : 3;
    std::string out;
    size_t at = width * n;
    auto offset = [&out, width](size_t v) {
      for (size_t k = 0; k < width; ++k) out += static_cast<char>((v >> (8 * k)) & 0xFF);
    };
    for (const auto& v : values) {
      offset(at);
      at += v ? v->size() + 1 : 0;
    }
    offset(at);
    for (const auto& v : values) {
      if (v) out += *v + '\0';
    }
    return out;
  }

 private:
  struct Table {
    std::string name, sql;
    std::vector<LegacyRow> rows;
    LegacyTreeShape shape;
    std::vector<LegacyRow> deleted;
  };

  static void put16(std::string& p, size_t at, uint32_t v) {
    p[at] = static_cast<char>(v & 0xFF);
    p[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  }
  static void put32(std::string& p, size_t at, uint32_t v) {
    put16(p, at, v & 0xFFFF);
    put16(p, at + 2, v >> 16);
  }
  static uint32_t cellSize(const LegacyRow& r) {
    const size_t payload = 4 + record(r.values).size();
    return payload > 236 ? 252 : static_cast<uint32_t>(12 + ((payload + 3) & ~size_t(3)));
  }

  uint32_t allocate() {
    pages_.emplace_back(kPage, '\0');
    return static_cast<uint32_t>(pages_.size());
  }

  // The bytes of the cell of `r` with left child `left`; its overflow pages are written now.
  std::string cell(const LegacyRow& r, uint32_t left) {
    const std::string data = record(r.values);
    const uint32_t key = static_cast<uint32_t>(r.rowid) ^ 0x80000000u;
    std::string payload = {static_cast<char>(key >> 24), static_cast<char>(key >> 16),
                           static_cast<char>(key >> 8), static_cast<char>(key)};
    payload += data;
    std::string c(12, '\0');
    put32(c, 0, left);
    put16(c, 4, 4);
    c[9] = static_cast<char>(data.size() >> 16);
    put16(c, 10, data.size() & 0xFFFF);
    c += payload.substr(0, 236);
    if (payload.size() > 236) {
      uint32_t previous = 0;
      for (size_t at = 236; at < payload.size(); at += 1020) {
        const uint32_t page = allocate();
        pages_[page - 1].replace(4, std::min<size_t>(1020, payload.size() - at),
                                 payload.substr(at, 1020));
        if (previous != 0) {
          put32(pages_[previous - 1], 0, page);
        } else {
          c.append(4, '\0');
          put32(c, 248, page);
        }
        previous = page;
      }
    }
    c.resize((c.size() + 3) & ~size_t(3), '\xFF');
    return c;
  }

  // Writes the tree of rows[lo, hi) on page `fixed` (or a new page): its root.
  uint32_t build(const std::vector<LegacyRow>& rows, size_t lo, size_t hi, uint32_t fixed,
                 const LegacyTreeShape& shape) {
    const uint32_t page = fixed != 0 ? fixed : allocate();
    const size_t n = hi - lo;
    uint32_t bytes = 0;
    for (size_t k = lo; k < hi; ++k) bytes += cellSize(rows[k]);
    std::vector<size_t> separators;
    if (n > shape.maxCells || bytes > 1016) {
      if (shape.leftDeep) {
        separators.push_back(hi - 2);
      } else {
        size_t k = std::min(shape.maxCells, (n - 1) / 2);
        for (;; --k) {
          separators.clear();
          uint32_t used = 0;
          for (size_t i = 0; i < k; ++i) {
            separators.push_back(lo + (i + 1) * (n - k) / (k + 1) + i);
            used += cellSize(rows[separators.back()]);
          }
          if (used <= 1016 || k == 1) break;
        }
      }
    }
    std::vector<std::string> cells;
    uint32_t right = 0;
    if (separators.empty()) {
      for (size_t k = lo; k < hi; ++k) cells.push_back(cell(rows[k], 0));
    } else {
      size_t from = lo;
      for (size_t s : separators) {
        const uint32_t child = build(rows, from, s, 0, shape);
        cells.push_back(cell(rows[s], child));
        from = s + 1;
      }
      right = build(rows, from, hi, 0, shape);
    }
    std::string& p = pages_[page - 1];
    put32(p, 0, right);
    // Cells placed in key order, or in reverse order on every other page.
    const bool reversed = page % 2 == 0;
    std::vector<uint32_t> at(cells.size());
    uint32_t offset = 8;
    for (size_t i = 0; i < cells.size(); ++i) {
      const size_t k = reversed ? cells.size() - 1 - i : i;
      at[k] = offset;
      p.replace(offset, cells[k].size(), cells[k]);
      offset += static_cast<uint32_t>(cells[k].size());
    }
    for (size_t k = 0; k < cells.size(); ++k) {
      put16(p, at[k] + 6, k + 1 < cells.size() ? at[k + 1] : 0);
    }
    put16(p, 4, cells.empty() ? 0 : at[0]);
    if (offset < kPage) {
      put16(p, 6, offset);
      put16(p, offset, kPage - offset);
      put16(p, offset + 2, 0);
      // A deleted row's cell left in the free space, as the engine leaves it.
      if (!stale_->empty() && cellSize(stale_->back()) <= 236 &&
          offset + 4 + cellSize(stale_->back()) <= kPage) {
        p.replace(offset + 4, cellSize(stale_->back()), cell(stale_->back(), 0));
        stale_->pop_back();
      }
    }
    return page;
  }

  std::vector<Table> tables_;
  std::vector<std::string> pages_;           // the file's pages, page 1 first
  std::vector<LegacyRow>* stale_ = nullptr;  // deleted rows still to place
};

}  // namespace vdtest

#endif  // VENDRITHANE_TESTS_HELPERS_LEGACYWRITER_H

// The reader of old catalog files: the stored catalogs of tests/fixtures/legacy read exactly
// (compared with their expected listings after conversion, which the test reproduces from the
// raw rows), the CREATE TABLE parser, and damaged copies of a stored catalog, each giving a
// status without touching the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "helpers/LegacyWriter.h"
#include "helpers/ListingText.h"
#include "helpers/ScratchDir.h"
#include "legacy/LegacyFile.h"
#include "platform/CodePage.h"
#include "types/XmlEscape.h"

using namespace KESTRIN::Vendrithane;
using legacy::LegacyFile;
using legacy::LegacyRows;
using legacy::LegacyTable;

namespace {

const std::string kFixtures = VENDRITHANE_FIXTURE_DIR "/legacy/";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

struct Table {
  const LegacyTable* info;
  std::vector<std::vector<std::string>> rows;  // "\x01N" stands for NULL
  int column(const std::string& name) const {
    for (size_t c = 0; c < info->columns.size(); ++c) {
      if (info->columns[c].name == name) return static_cast<int>(c);
    }
    return -1;
  }
};
const std::string kNull = "\x01N";

// Every row of every table of `file`; the first failure's status, or 0.
Status readAll(LegacyFile& file, std::map<std::string, Table>* out) {
  for (const LegacyTable& t : file.tables()) {
    LegacyRows rows(file, t);
    Table table{&t, {}};
    for (bool has = true;;) {
      const Status s = rows.next(has);
      if (s != StatusOk) return s;
      if (!has) break;
      std::vector<std::string> row;
      for (size_t c = 0; c < rows.size(); ++c) {
        row.push_back(rows.value(c).null ? kNull : std::string(rows.value(c).text));
      }
      table.rows.push_back(std::move(row));
    }
    if (out) (*out)[t.name] = std::move(table);
  }
  return StatusOk;
}

std::string escape(const std::string& v) {
  return v == kNull ? "\\N" : vdtest::escapeListingText(v);
}

std::string toXml(const std::string& v) {
  std::string out;
  KESTRIN::Vendrithane::escapeXml(v.data(), v.size(),
                                  [&](const char* p, size_t n) { out.append(p, n); });
  return out;
}

std::string decodedBlobHex(const std::string& v) {
  std::string out;
  for (size_t k = 0; k < v.size(); ++k) {
    unsigned char c = static_cast<unsigned char>(v[k]);
    if (c == 'D') {
      c = 0;
    } else if (c == 0x86 && k + 1 < v.size()) {
      const unsigned char e = static_cast<unsigned char>(v[++k]);
      c = e == 1 ? 'D' : e == 2 ? 0x86 : '\'';
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", c);
    out += hex;
  }
  return out;
}

long long number(const std::string& v) {
  return v == kNull ? -1 : std::atoll(v.c_str());
}

// The listing of the converted catalog (without vd_version and vd_idx, whose rows are new),
// made from the raw rows of the old main and blob files.
std::string listing(std::map<std::string, Table>& main, std::map<std::string, Table>& blobs) {
  const std::string version = main["vd_version"].rows.at(0).at(1);
  const bool codePage = std::atoi(version.c_str()) < 4;
  auto text = [codePage](const std::string& v) {
    return codePage && v != kNull ? platform::windows1252ToUtf8(v.data(), v.size()) : v;
  };
  std::ostringstream out;
  auto line = [&out](const std::string& table, const std::vector<std::string>& values) {
    out << table;
    for (const std::string& v : values) out << '\t' << escape(v);
    out << '\n';
  };
  auto byId = [](Table& t, const char* key) {
    const int c = t.column(key);
    std::stable_sort(t.rows.begin(), t.rows.end(),
                     [c](const auto& a, const auto& b) { return number(a[c]) < number(b[c]); });
  };
  // Rows that repeat a unique key of the new tables are dropped (the first one stays).
  auto unique = [](Table& t, std::vector<const char*> keys) {
    std::vector<std::vector<std::string>> seen, kept;
    for (auto& row : t.rows) {
      std::vector<std::string> key;
      for (const char* k : keys) key.push_back(row[t.column(k)]);
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
      seen.push_back(key);
      kept.push_back(row);
    }
    t.rows = std::move(kept);
  };
  unique(main["vd_cat_xref"], {"vd_aid", "vd_cid"});
  unique(main["vd_assets"], {"vd_id"});
  if (main["vd_cat_nde"].column("vd_xml") < 0) {  // the new table has it: empty text
    for (auto& row : main["vd_cat_nde"].rows) row.push_back("");
  }
  for (const char* name : {"vd_id", "vd_cat", "vd_cat_nde", "vd_cat_xref", "vd_assets"}) {
    Table& t = main[name];
    if (std::string(name) != "vd_id") byId(t, "vd_id");
    for (auto& row : t.rows) {
      for (auto& v : row) v = text(v);
      line(name, row);
    }
  }
  Table& registry = main["vd_registry"];
  std::stable_sort(registry.rows.begin(), registry.rows.end());
  for (auto& row : registry.rows) {
    if (row[0] != "vd_dbid") line("vd_registry", {text(row[0]), text(row[1])});
  }
  static const char* const kNotRecords[] = {
      "vd_id",     "vd_version",  "vd_idx", "vd_cat",   "vd_cat_nde",  "vd_cat_xref",
      "vd_assets", "vd_registry", "vd_rel", "vd_nodes", "vd_networks", "vd_blobs"};
  for (auto& entry : main) {  // name order
    if (std::find(std::begin(kNotRecords), std::end(kNotRecords), entry.first) !=
        std::end(kNotRecords)) {
      continue;
    }
    Table& t = entry.second;
    byId(t, "vd_id");
    const int id = t.column("vd_id"), xml = t.column("vd_xml");
    for (auto& row : t.rows) {
      std::string made;
      if (xml >= 0) {
        made = text(row[xml]);
      } else {
        for (size_t c = 0; c < row.size(); ++c) {
          if (static_cast<int>(c) == id || row[c] == kNull) continue;
          const std::string& name = t.info->columns[c].name;
          made += "<" + name + ">" + toXml(text(row[c])) + "</" + name + ">";
        }
      }
      line(entry.first, {row[id], made});
    }
  }
  Table& blob = blobs.count("vd_blobs") ? blobs["vd_blobs"] : main["vd_blobs"];
  std::stable_sort(blob.rows.begin(), blob.rows.end(), [](const auto& a, const auto& b) {
    return number(a[0]) != number(b[0]) ? number(a[0]) < number(b[0]) : a[1] < b[1];
  });
  for (auto& row : blob.rows) {
    out << "vd_blobs\t" << row[0] << '\t' << escape(text(row[1])) << '\t' << decodedBlobHex(row[2])
        << '\n';
  }
  return out.str();
}

std::string expectedListing(const std::string& name) {
  std::istringstream in(readFile(kFixtures + name + ".expected.tsv"));
  std::string out, l;
  while (std::getline(in, l)) {
    if (l.rfind("vd_version\t", 0) != 0 && l.rfind("vd_idx\t", 0) != 0) out += l + "\n";
  }
  return out;
}

// Compares two listings line by line, showing the first difference only.
void expectSameLines(const std::string& made, const std::string& expected) {
  std::istringstream a(made), b(expected);
  std::string la, lb;
  for (int n = 1;; ++n) {
    const bool moreA = static_cast<bool>(std::getline(a, la));
    const bool moreB = static_cast<bool>(std::getline(b, lb));
    if (!moreA && !moreB) return;
    if (!moreA || !moreB || la != lb) {
      ADD_FAILURE() << "line " << n << "\n read:     " << la.substr(0, 300)
                    << "\n expected: " << lb.substr(0, 300);
      return;
    }
  }
}

}  // namespace

TEST(LegacyFile, StoredCatalogsReadAsTheirListings) {
  struct Case {
    const char* name;
    bool blobFile, bigEndian;
    uint32_t format;
  } const cases[] = {{"v51_full", true, false, 2000},
                     {"v32_cp1252", true, false, 2000},
                     {"v40_blobs_in_main", false, false, 2004},
                     {"v51_bigendian", true, true, 1999},
                     {"blob_file_clash", true, false, 2003}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LegacyFile main, blob;
    ASSERT_EQ(main.open(kFixtures + c.name + ".vd"), StatusOk) << main.error();
    EXPECT_EQ(main.bigEndian(), c.bigEndian);
    EXPECT_EQ(main.formatNumber(), c.format);
    std::map<std::string, Table> mainTables, blobTables;
    ASSERT_EQ(readAll(main, &mainTables), StatusOk) << main.error();
    if (c.blobFile) {
      ASSERT_EQ(blob.open(kFixtures + c.name + ".vm"), StatusOk) << blob.error();
      ASSERT_EQ(readAll(blob, &blobTables), StatusOk) << blob.error();
    }
    expectSameLines(listing(mainTables, blobTables), expectedListing(c.name));
  }
}

TEST(LegacyFile, CatalogsThatDoNotConvertStillRead) {
  // Their conversion fails for reasons above the reader; every table reads.
  for (const char* name : {"no_blob_table.vd", "no_version_row.vd", "no_version_row.vm",
                           "assets_without_xml.vd", "assets_without_xml.vm"}) {
    SCOPED_TRACE(name);
    LegacyFile file;
    ASSERT_EQ(file.open(kFixtures + name), StatusOk) << file.error();
    std::map<std::string, Table> tables;
    ASSERT_EQ(readAll(file, &tables), StatusOk) << file.error();
    EXPECT_FALSE(tables.empty());
  }
  LegacyFile file;
  ASSERT_EQ(file.open(kFixtures + "assets_without_xml.vd"), StatusOk);
  std::map<std::string, Table> tables;
  ASSERT_EQ(readAll(file, &tables), StatusOk);
  EXPECT_EQ(tables["vd_assets"].rows.size(), 12u);
  EXPECT_EQ(tables["photo"].info->rowidAlias, 0);
  ASSERT_EQ(tables["photo"].rows.size(), 10u);
  EXPECT_EQ(tables["photo"].rows[0][0], "9");  // the alias, stored as NULL, gives the rowid
  EXPECT_EQ(tables["movie"].rows.at(0), (std::vector<std::string>{"19", "Data only", "2003"}));
  EXPECT_EQ(readAll(file, nullptr), StatusOk) << file.error();  // a table read again is fine
  LegacyRows stale(file, *file.table("movie"));
  ASSERT_EQ(file.open(kFixtures + "assets_without_xml.vm"), StatusOk);
  bool has = true;
  EXPECT_EQ(stale.next(has), StatusCorrupt);  // a stream of the file's earlier opening
  EXPECT_FALSE(has);

  LegacyFile corrupt;
  EXPECT_EQ(corrupt.open(kFixtures + "corrupt_schema.vd"), StatusCorrupt);
  EXPECT_NE(corrupt.error().find("schema"), std::string::npos) << corrupt.error();
  EXPECT_EQ(corrupt.open(kFixtures + "missing.vd"), StatusCorrupt);
}

namespace {

void put16(std::string& f, size_t at, uint16_t v) {
  f[at] = static_cast<char>(v & 0xFF);
  f[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& f, size_t at, uint32_t v) {
  put16(f, at, static_cast<uint16_t>(v & 0xFFFF));
  put16(f, at + 2, static_cast<uint16_t>(v >> 16));
}
size_t pageAt(uint32_t n) {
  return size_t(n - 1) * 1024;
}

// Opens `path` and reads every table: the first failure's status and reason.
Status readWhole(const std::string& path, std::string& reason) {
  LegacyFile file;
  Status s = file.open(path);
  if (s == StatusOk) s = readAll(file, nullptr);
  reason = file.error();
  return s;
}

}  // namespace

TEST(LegacyFile, DamagedCopiesGiveAStatus) {
  // In v51_full.vd (little-endian, 1792 pages): page 4 is vd_version's only page (one cell
  // at 8, its record at 24, a free block at 36), page 23 the interior root of movie (read
  // after vd_version), page 10 vd_registry's page, whose cell at 240 has a 3025-byte payload
  // continued on page 1540 and two more overflow pages; page 21 is photo's root, 5 levels.
  const std::string original = readFile(kFixtures + "v51_full.vd");
  ASSERT_EQ(original.size(), 1792u * 1024);
  const size_t link = pageAt(1540);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* reason;  // part of the error text
  } const cases[] = {
      {"cell offset out of range", [](std::string& f) { put16(f, pageAt(4) + 4, 6); },
       "cell offset"},
      {"cell offset near the end", [](std::string& f) { put16(f, pageAt(4) + 4, 1012); },
       "cell offset"},
      {"child beyond the file", [](std::string& f) { put32(f, pageAt(23), 1793); }, "range"},
      {"cycle", [](std::string& f) { put32(f, pageAt(23), 23); }, "twice"},
      {"page in two trees", [](std::string& f) { put32(f, pageAt(23), 4); }, "two trees"},
      {"short overflow chain", [link](std::string& f) { put32(f, link, 0); }, "ends early"},
      {"looping overflow chain", [link](std::string& f) { put32(f, link, 1540); }, "twice"},
      {"overflow into the schema", [link](std::string& f) { put32(f, link, 2); }, "range"},
      {"decreasing record offsets", [](std::string& f) { f[pageAt(4) + 25] = 2; }, "decrease"},
      {"value count", [](std::string& f) { f[pageAt(4) + 24] = 2; }, "value count"},
      {"value without its zero", [](std::string& f) { f[pageAt(4) + 32] = 'x'; }, "zero"},
      {"key size not 4", [](std::string& f) { put16(f, pageAt(4) + 8 + 4, 5); }, "key size"},
      {"looping cell chain", [](std::string& f) { put16(f, pageAt(4) + 8 + 6, 8); }, "chain"},
      {"free space", [](std::string& f) { put16(f, pageAt(4) + 36, 900); }, "add up"},
      {"huge payload", [](std::string& f) { f[pageAt(10) + 240 + 9] = 0x7F; }, "larger"},
      {"truncated inside a tree", [](std::string& f) { f.resize(300 * 1024 + 100); }, "range"},
      {"truncated to part of page 1", [](std::string& f) { f.resize(1000); }, "shorter"},
      {"header string", [](std::string& f) { f[11] = '5'; }, "header"},
      {"b-tree magic", [](std::string& f) { f[16] = 0x29; }, "magic"},
      {"schema root", [](std::string& f) { put16(f, pageAt(2) + 4, 2); }, "schema"},
      {"table root beyond the file", [](std::string& f) { f.resize(22 * 1024); }, "schema"},
  };
  vdtest::ScratchDir dir("vdlegacy-");
  ASSERT_FALSE(dir.path().empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string damaged = original;
    c.damage(damaged);
    const std::string path = dir.path() + "damaged.vd";
    writeFile(path, damaged);
    std::string reason;
    EXPECT_EQ(readWhole(path, reason), StatusCorrupt);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(readFile(path), damaged);  // never written
  }
}

TEST(LegacyFile, GeneratedFilesReadBackInRowidOrder) {
  // Multi-level trees (five cells a page), negative rowids, NULLs and empty texts, rows
  // spanning overflow chains up to a record over 64 KiB, deleted rows left in free space.
  std::vector<vdtest::LegacyRow> rows, deleted;
  for (int32_t id = -300; id < 2700; ++id) {
    const size_t length = static_cast<size_t>(((id * 37) % 700 + 700) % 700);  // 0 for id 0
    const std::string text(length, static_cast<char>('a' + (id & 15)));
    vdtest::LegacyRow row{id, {std::nullopt, text, std::to_string(id)}};
    if (id % 97 == 0) row.values[2] = std::nullopt;
    if (id == 1234) row.values[1] = std::string(70000, 'z');
    (id % 7 == 3 ? deleted : rows).push_back(row);
  }
  vdtest::LegacyWriter writer;
  writer.addTable("t", "CREATE TABLE t (id INTEGER PRIMARY KEY, a TEXT, b)", rows, {5, false},
                  deleted);
  vdtest::ScratchDir dir("vdlegacy-");
  const std::string path = dir.path() + "made.vd";
  writeFile(path, writer.bytes());
  LegacyFile file;
  ASSERT_EQ(file.open(path), StatusOk) << file.error();
  ASSERT_EQ(file.tables().size(), 1u);
  LegacyRows read(file, file.tables()[0]);
  size_t next = 0;
  for (bool has = true;;) {
    ASSERT_EQ(read.next(has), StatusOk) << read.error();
    if (!has) break;
    ASSERT_LT(next, rows.size());
    const vdtest::LegacyRow& want = rows[next++];
    ASSERT_EQ(read.rowid(), want.rowid);
    EXPECT_EQ(read.value(0).text, std::to_string(want.rowid));
    for (size_t c = 1; c < 3; ++c) {
      ASSERT_EQ(read.value(c).null, !want.values[c]) << want.rowid;
      if (want.values[c]) {
        EXPECT_EQ(read.value(c).text, *want.values[c]) << want.rowid;
      }
    }
  }
  EXPECT_EQ(next, rows.size());
}

TEST(LegacyFile, TreesDeeperThanThirtyLevelsAreDamage) {
  vdtest::ScratchDir dir("vdlegacy-");
  for (int depth : {30, 31}) {
    std::vector<vdtest::LegacyRow> rows;
    for (int32_t id = 1; id <= 2 * depth; ++id) rows.push_back({id, {std::to_string(id)}});
    vdtest::LegacyWriter writer;
    writer.addTable("deep", "CREATE TABLE deep (v)", rows, {2, true});
    const std::string path = dir.path() + "deep.vd";
    writeFile(path, writer.bytes());
    std::string reason;
    EXPECT_EQ(readWhole(path, reason), depth == 30 ? StatusOk : StatusCorrupt) << reason;
    if (depth == 31) {
      EXPECT_NE(reason.find("deeper"), std::string::npos) << reason;
    }
  }
}

TEST(LegacyFile, InterleavedWalksOfATreeWithSharedPagesEnd) {
  // A left-deep tree whose interior pages point both children at the same page below: each
  // level doubles the rows a walk would meet. Two walks of the table taken in turn must
  // still end with a status, in steps bounded by the file's size.
  std::vector<vdtest::LegacyRow> rows;
  for (int32_t id = 1; id <= 50; ++id) rows.push_back({id, {std::to_string(id)}});
  vdtest::LegacyWriter writer;
  writer.addTable("shared", "CREATE TABLE shared (v)", rows, {2, true});
  std::string bytes = writer.bytes();
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
  };
  for (size_t page = 3; page * 1024 <= bytes.size(); ++page) {
    const size_t base = (page - 1) * 1024;
    const size_t first = uint8_t(bytes[base + 4]) | uint8_t(bytes[base + 5]) << 8;
    if (u32(base) == 0 || first == 0) continue;
    bytes.replace(base, 4, bytes, base + first, 4);  // right child := the first cell's left
  }
  vdtest::ScratchDir dir("vdlegacy-");
  const std::string path = dir.path() + "shared.vd";
  writeFile(path, bytes);
  LegacyFile file;
  ASSERT_EQ(file.open(path), StatusOk) << file.error();
  LegacyRows a(file, *file.table("shared")), b(file, *file.table("shared"));
  bool aHas = true, bHas = true;
  Status aStatus = StatusOk, bStatus = StatusOk;
  int steps = 0;
  while ((aHas || bHas) && steps < 100000) {
    if (aHas && (aStatus = a.next(aHas)) != StatusOk) aHas = false;
    if (bHas && (bStatus = b.next(bHas)) != StatusOk) bHas = false;
    ++steps;
  }
  EXPECT_LT(steps, 100000);
  EXPECT_EQ(aStatus, StatusCorrupt);
  EXPECT_EQ(bStatus, StatusCorrupt);
}

TEST(LegacyFile, PageChangedWhileReadGivesAStatus) {
  // photo's root (page 21) leaves the page cache while the walk is in its first subtree
  // (about 1,000 pages of tree and chains); its cells' next-cell links are overwritten
  // meanwhile, and the walk must not follow them out of the page when it comes back.
  vdtest::ScratchDir dir("vdlegacy-");
  const std::string path = dir.path() + "changing.vd";
  const std::string original = readFile(kFixtures + "v51_full.vd");
  writeFile(path, original);
  LegacyFile file;
  ASSERT_EQ(file.open(path), StatusOk);
  LegacyRows rows(file, *file.table("photo"));
  bool has = true;
  for (int k = 0; k < 100; ++k) ASSERT_EQ(rows.next(has), StatusOk);
  std::string root = original.substr(pageAt(21), 1024);
  for (size_t cell = static_cast<uint8_t>(root[4]) | static_cast<uint8_t>(root[5]) << 8, next;
       cell != 0; cell = next) {
    next = static_cast<uint8_t>(root[cell + 6]) | static_cast<uint8_t>(root[cell + 7]) << 8;
    put16(root, cell + 6, 0xFFFF);
  }
  {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(pageAt(21)));
    f.write(root.data(), 1024);
  }
  Status s = StatusOk;
  while (s == StatusOk && has) s = rows.next(has);
  EXPECT_EQ(s, StatusCorrupt);
  EXPECT_NE(rows.error().find("changed"), std::string::npos) << rows.error();
}

// Writes the seed inputs of the element_scan, shared_section and format_probe fuzz targets
// into CORPUS/<target>/ (the record parser's seeds are plain record texts, kept by hand).
// Run it again when the catalog files or an input layout change:
//   seed_maker tests/fuzz/corpus
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "helpers/PeerProcess.h"
#include "node/CatalogVfs.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Node.h"

using namespace KESTRIN::Vendrithane;
namespace fs = std::filesystem;

namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "seed_maker: %s\n", what);
  std::exit(1);
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  require(out.good(), "cannot write a seed");
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string le(uint32_t value, int bytes) {
  std::string out;
  for (int k = 0; k < bytes; ++k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
  return out;
}

// --- element_scan ---------------------------------------------------------------------------

// A raw input: the name, then the record text.
std::string rawScan(const std::string& name, const std::string& xml) {
  return std::string(1, '\0') + static_cast<char>(name.size()) + name + xml;
}

// One element of a written-record input: kind (0 undef, 1 int4, 2 int8, 3 text, 4 time,
// 5 text with attributes), name, then the value bytes that kind reads.
std::string element(int kind, const std::string& name, const std::string& value) {
  return std::string(1, static_cast<char>(kind)) + static_cast<char>(name.size()) + name + value;
}

std::string text(const std::string& s) {
  return std::string(1, static_cast<char>(s.size())) + s;
}

void elementScanSeeds(const fs::path& dir) {
  const std::string example =
      "<count type=\"int4\">5</count><size type=\"int8\">5000000000</size><thumb type=\"blob\" "
      "mime=\"image/jpeg\" store=\"db\" length=\"1234\"></thumb><title lang=\"en\">A &amp; "
      "B</title><vd_created type=\"time\">1204700000</vd_created>";
  writeFile(dir / "raw_title", rawScan("title", example));
  writeFile(dir / "raw_int4", rawScan("count", example));
  writeFile(dir / "raw_int8", rawScan("size", example));
  writeFile(dir / "raw_blob", rawScan("thumb", example));
  writeFile(dir / "raw_time", rawScan("vd_created", example));
  writeFile(dir / "raw_absent", rawScan("missing", example));
  writeFile(dir / "raw_prefix", rawScan("a", "<ab>x</ab><a>y</a>"));
  writeFile(dir / "raw_entities", rawScan("t", "<t>&apos;&amp;&quot;&lt;&gt;&nbsp;&#233;&</t>"));
  writeFile(dir / "raw_cut_entity", rawScan("t", "<t>&a</t>"));
  writeFile(dir / "raw_no_close", rawScan("t", "<t type=\"int4\">12"));
  writeFile(dir / "raw_open_only", rawScan("t", "<t"));
  writeFile(dir / "raw_close_first", rawScan("t", "</t><t>x"));
  writeFile(dir / "raw_self_closing", rawScan("a", "<a/><b>x</b><a>y</a>"));
  writeFile(dir / "raw_cut_type", rawScan("t", "<t type=\"i>1</t>"));
  writeFile(dir / "raw_empty_name", rawScan("", "<t>x</t>"));
  writeFile(dir / "raw_undef", rawScan("u", "<u type=\"undef\"></u>"));

  const std::string attrs =
      std::string(1, '\2') + text("lang") + text("en") + text("note") + text("a & \"b\" <c>");
  writeFile(dir / "written_mixed", std::string("\1\5") + element(1, "count", le(5, 4)) +
                                       element(2, "size", le(705032704, 4) + le(1, 4)) +
                                       element(5, "title", text("A & B") + attrs) +
                                       element(4, "vd_created", le(1204700000, 4) + le(0, 4)) +
                                       element(0, "u", ""));
  writeFile(dir / "written_prefixes", std::string("\1\4") + element(3, "a", text("<a>x</a>")) +
                                          element(3, "ab", text("</a>")) +
                                          element(3, "a/b", text("y")) +
                                          element(3, "A", text("upper case")));
  writeFile(dir / "written_negative", std::string("\1\3") + element(1, "n", le(0x80000000u, 4)) +
                                          element(2, "m", le(0, 4) + le(0x80000000u, 4)) +
                                          element(4, "t", le(0xFFFFFFFFu, 4) + le(0xFFFFFFFFu, 4)));
  // An attribute value ending in " type=" once made the element look typed.
  writeFile(dir / "written_type_in_attribute_value",
            std::string("\1\1") +
                element(5, "title", text("A") + '\1' + text("note") + text("see type=")));
  writeFile(dir / "written_bad_name",
            std::string("\1\2") + element(3, "a b", text("x")) + element(3, "ok", text("&&&")));
}

// --- shared_section -------------------------------------------------------------------------

// Steps of the shared section program (see shared_section_fuzz.cpp). `q` is the queue (0 or
// 1), `slot` a slot index (the first catalog claims slot 3), `cat` a catalog (0 or 1).
std::string attach(int q, int cat) {
  return std::string(1, '\0') + static_cast<char>(q | cat << 3);
}
std::string detach(int q, bool monitor) {
  return std::string(1, '\1') + static_cast<char>(q | (monitor ? 2 : 0));
}
std::string post(int q, int kind, int32_t id) {
  return std::string(1, '\2') + static_cast<char>(q) + static_cast<char>(kind) +
         le(static_cast<uint32_t>(id), 4);
}
std::string read(int q, int n) {
  return std::string(1, '\3') + static_cast<char>(q | (n - 1) << 3);
}
// field: 0 capacity, 1 mask, 2 attach count, 3 next id, 4 max id, 5 write count.
std::string field(int slot, int which, uint32_t value) {
  return std::string(1, '\4') + static_cast<char>(slot << 1 | which << 3) + le(value, 4);
}
// how: 0 or 1 that catalog's key, 2 no terminator, 3 the given bytes.
std::string key(int slot, int how, const std::string& bytes = "") {
  std::string out = std::string(1, '\5') + static_cast<char>(slot << 1 | how << 3);
  if (how == 2) out += 'x';
  if (how == 3) out += text(bytes);
  return out;
}
std::string record(int slot, int back, int32_t kind, int32_t id, uint32_t poster) {
  return std::string(1, '\6') + static_cast<char>(slot << 1 | 8 | back << 4) +
         le(static_cast<uint32_t>(kind), 4) + le(static_cast<uint32_t>(id), 4) + le(poster, 4);
}
std::string initialised(uint32_t value) {
  return std::string(1, '\10') + '\0' + le(value, 4);
}
std::string idBlock(int q, bool setNext, uint32_t next) {
  std::string out = std::string(1, '\11') + static_cast<char>(q | (setNext ? 8 : 0) | 16);
  if (setNext) out += le(next, 4);
  return out;
}
std::string postMany(int q, int n) {
  return std::string(1, '\12') + static_cast<char>(q) + static_cast<char>(n);
}
std::string nearWrap(int slot, int k) {
  return std::string(1, '\13') + static_cast<char>(slot << 1 | k << 4);
}

void sharedSectionSeeds(const fs::path& dir) {
  writeFile(dir / "post_and_read", attach(0, 0) + attach(1, 0) + post(0, 6, 42) + post(1, 7, 43) +
                                       read(1, 4) + read(0, 4) + detach(1, false) +
                                       detach(0, false));
  writeFile(dir / "monitor_count",
            attach(0, 0) + attach(0, 0) + post(0, 1, -1) + detach(0, true) + detach(0, false));
  writeFile(dir / "two_catalogs", attach(0, 0) + attach(1, 1) + post(0, 2, 5) + read(1, 2) +
                                      idBlock(0, true, 40) + idBlock(1, false, 0) +
                                      detach(0, false) + detach(1, false));
  writeFile(dir / "wrap", attach(0, 0) + attach(1, 0) + nearWrap(3, 0) + postMany(0, 40) +
                              read(1, 32) + field(3, 5, 0x00020000) + idBlock(1, false, 0) +
                              read(1, 8));
  writeFile(dir / "damaged_records", attach(0, 0) + attach(1, 0) + post(0, 6, 1) +
                                         record(3, 1, 99, 7, 12345) + read(1, 2) +
                                         record(3, 0, -5, -1, 0) + field(3, 5, 1) + read(1, 2));
  writeFile(dir / "foreign_keys", key(0, 3, "/nowhere/at/all.vd") + key(1, 2) +
                                      key(2, 3, "#0123456789abcdef0123456789abcdef0123") +
                                      key(3, 3, "garbage") + attach(0, 0) + attach(1, 1) +
                                      post(1, 3, 9) + read(0, 2));
  writeFile(dir / "own_key_damaged", key(3, 0) + field(3, 2, 0x7FFFFFFF) + attach(0, 0) +
                                         attach(1, 0) + detach(1, false) + key(3, 2) +
                                         detach(0, false));
  writeFile(dir / "count_at_maximum", attach(0, 0) + field(3, 2, 0x7FFFFFFF) + attach(1, 0) +
                                          detach(1, false) + detach(0, false));
  writeFile(dir / "count_at_minimum", attach(0, 0) + attach(1, 0) + field(3, 2, 0x80000000u) +
                                          detach(1, false) + detach(0, false));
  writeFile(dir / "negative_counts", attach(0, 0) + field(3, 2, 0x80000000u) + attach(1, 0) +
                                         detach(0, false) + detach(1, false));
  writeFile(dir / "reinitialised", attach(0, 0) + initialised(0) + attach(1, 1) + post(0, 6, 1) +
                                       read(1, 2) + detach(0, false));
  writeFile(dir / "bad_header", field(3, 0, 7) + field(3, 1, 0xFFFFFFFFu) + attach(0, 0) +
                                    field(3, 5, 0xFFFFFFFFu) + post(0, 6, 1) + read(0, 3));
}

// --- format_probe ---------------------------------------------------------------------------

// flags & 3: 0 main only, 1 good blob file, 2 tail as blob file, 3 tail as the journal;
// flags & 4: check only.
std::string probeInput(int flags, const std::string& main, const std::string& tail = "") {
  return std::string(1, static_cast<char>(flags)) + le(static_cast<uint32_t>(main.size()), 3) +
         main + tail;
}

// Runs SQL on a catalog file through the catalog VFS.
void catalogSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  require(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, node::catalogVfsName()) ==
              SQLITE_OK,
          "cannot open a seed catalog");
  require(sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK, sql);
  sqlite3_close(db);
}

// A new catalog `name` in `dir`, shrunk to 512-byte pages so that the seeds stay small.
std::string newCatalog(const fs::path& dir, const char* name) {
  Node maker(name, dir.c_str());
  require(maker.create(true) == StatusOk, "cannot create a catalog");
  const std::string main = (dir / (std::string(name) + ".vd")).string();
  catalogSql(main, "PRAGMA page_size=512; VACUUM;");
  return main;
}

// A catalog and the hot journal of a writer killed in the middle of a transaction.
void hotJournal(const std::string& main) {
  pid_t child = fork();
  require(child >= 0, "fork");
  if (child == 0) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(main.c_str(), &db, SQLITE_OPEN_READWRITE, node::catalogVfsName()) != 0)
      _exit(1);
    sqlite3_exec(db,
                 "PRAGMA cache_size=1; BEGIN; "
                 "UPDATE vd_assets SET vd_xml = vd_xml || '<more>more text</more>'; "
                 "DELETE FROM vd_assets WHERE vd_id % 3 = 0;",
                 nullptr, nullptr, nullptr);
    _exit(0);  // no commit, no rollback: the journal stays hot
  }
  int status = 0;
  waitpid(child, &status, 0);
  require(WIFEXITED(status) && WEXITSTATUS(status) == 0, "journal writer failed");
}

void formatProbeSeeds(const fs::path& dir, const fs::path& work) {
  const std::string fresh = readFile(newCatalog(work, "fresh"));
  const std::string freshBlob = readFile(work / "fresh.vm");
  writeFile(dir / "fresh", probeInput(1, fresh));
  writeFile(dir / "fresh_check_only", probeInput(5, fresh));
  writeFile(dir / "fresh_own_blob", probeInput(2, fresh, freshBlob));
  writeFile(dir / "fresh_no_blob", probeInput(0, fresh));
  writeFile(dir / "truncated", probeInput(1, fresh.substr(0, 1024)));
  writeFile(dir / "header_only", probeInput(1, fresh.substr(0, 100)));

  // Records, an element index and a hot journal.
  const std::string full = newCatalog(work, "full");
  {
    Node catalog("full", work.c_str());
    require(catalog.open() == StatusOk, "cannot open a seed catalog");
    for (int k = 0; k < 12; ++k) {
      Asset a = catalog.asset("photo", true);
      a.element("title") = ("picture " + std::to_string(k)).c_str();
      a.element("rating") = k % 5;
      require(a.store() == StatusOk, "cannot store a seed record");
    }
    Asset a = catalog.asset("photo", true);
    require(a.element("rating").index(2) == StatusOk, "cannot index a seed element");
    require(catalog.close() == StatusOk, "cannot close a seed catalog");
  }
  catalogSql(full, "PRAGMA page_size=512; VACUUM;");
  writeFile(dir / "records", probeInput(1, readFile(full)));
  hotJournal(full);
  const std::string journal = readFile(full + "-journal");
  require(!journal.empty(), "no hot journal");
  writeFile(dir / "hot_journal", probeInput(3, readFile(full), journal));

  // Stored versions newer and older than the library's.
  for (const auto& [file, version] : {std::pair<const char*, const char*>{"newer_major", "7.0"},
                                      {"newer_minor", "6.9"},
                                      {"older_major", "5.0"},
                                      {"no_version", nullptr}}) {
    const std::string main = newCatalog(work, file);
    const std::string sql = version
                                ? std::string("UPDATE vd_version SET vd_version='") + version + "';"
                                : std::string("DELETE FROM vd_version;");
    catalogSql(main, sql.c_str());
    writeFile(dir / file, probeInput(1, readFile(main)));
  }

  // Old-engine headers (little and big endian b-tree magic), a bare mark, other files.
  std::string old(64, '\0');
  old.replace(0, 12, "Vendrithane3");
  old.replace(16, 4, le(0xDAE37528u, 4));
  old.replace(32, 4, le(5, 4));
  writeFile(dir / "old_engine", probeInput(1, old));
  old.replace(32, 4, le(2003, 4));
  writeFile(dir / "old_engine_2003", probeInput(2, old, "blob"));
  old.replace(16, 4, "\xDA\xE3\x75\x28");
  writeFile(dir / "old_engine_big_endian", probeInput(0, old));
  writeFile(dir / "mark_only", probeInput(1, "VendrithaneF"));
  writeFile(dir / "empty", probeInput(1, ""));
  std::string plain = fresh;
  plain.replace(0, 16, std::string("SQLite format 3") + '\0');
  writeFile(dir / "engine_header", probeInput(1, plain));
}

}  // namespace

int main(int argc, char** argv) {
  require(argc == 2, "usage: seed_maker CORPUS_DIR");
  vdtest::useTestPrefix();
  const fs::path corpus(argv[1]);
  const fs::path work = fs::temp_directory_path() / ("vdseeds-" + std::to_string(getpid()));
  fs::create_directories(work);
  for (const char* target : {"element_scan", "shared_section", "format_probe"})
    fs::create_directories(corpus / target);
  elementScanSeeds(corpus / "element_scan");
  sharedSectionSeeds(corpus / "shared_section");
  formatProbeSeeds(corpus / "format_probe", work);
  fs::remove_all(work);
  vdtest::removeTestObjects(vdtest::useTestPrefix());
  std::printf("seeds written to %s\n", corpus.c_str());
  return 0;
}

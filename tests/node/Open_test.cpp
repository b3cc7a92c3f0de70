// Opening catalogs: missing and read-only files, check-only opens, format statuses of
// newer, older and foreign files, the read-only copy, and opens that fail late leaving
// nothing behind.
#include <dirent.h>

#include <future>

#include "NodeFixture.h"
#include "category/CategoryCache.h"
#include "monitor/CatalogKey.h"
#include "node/FormatProbe.h"
#include "node/Statement.h"
#include "platform/NamedMutex.h"
#include "platform/ObjectNames.h"
#include "platform/RawFile.h"

using namespace KESTRIN::Vendrithane;

namespace {

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// The first 64 bytes of an old-engine catalog with the given format number.
std::string oldEngineFile(uint32_t format, bool bigEndian) {
  std::string bytes(64, '\0');
  bytes.replace(0, 12, "Vendrithane4");
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = static_cast<char>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
  };
  put(16, node::kOldEngineMagic);
  put(32, format);
  return bytes;
}

// Whether another thread can take the system mutex within a few seconds.
bool systemMutexFree() {
  auto taken = std::async(std::launch::async, [] {
    platform::NamedMutex mutex(monitor::systemMutexName(), platform::LockRank::kSystem);
    platform::NamedMutexHold hold(mutex);
    return true;
  });
  return taken.wait_for(std::chrono::seconds(5)) == std::future_status::ready && taken.get();
}

// Rows of `sql` on the node's connection for the calling thread.
std::string onNode(Node& node, const char* sql) {
  node::ConnectionLease lease(NodeAccess::impl(node)->pool());
  if (!lease) return "closed";
  String value;
  Status status = node::queryValue(*lease, sql, &value);
  return status == StatusOk ? std::string(value.buffer()) : "status " + std::to_string(status);
}

}  // namespace

TEST_F(NodeTest, OpenCheckOnlyAndClose) {
  Node missing("nothing", dir_.c_str());
  EXPECT_EQ(missing.open(), StatusNotFound);
  EXPECT_EQ(missing.open(true), StatusNotFound);

  Node node = created("photos");
  EXPECT_EQ(node.version(), "");
  EXPECT_EQ(node.open(true), 0);  // reports only
  EXPECT_EQ(node.version(), "");
  EXPECT_EQ(node.close(), StatusNotOpen);

  EXPECT_EQ(node.open(), 0);
  EXPECT_EQ(node.version(), "6.0");
  EXPECT_EQ(NodeAccess::impl(node)->catalogId().length(), 36u);
  EXPECT_TRUE(NodeAccess::impl(node)->knownTable("vd_assets"));
  category::TreeEntry root;
  ASSERT_TRUE(category::CategoryCache::of(*NodeAccess::impl(node)).entry(0, &root));
  EXPECT_EQ(root.label, "VD_ROOT_NODE");
  EXPECT_EQ(node.open(), StatusNotOpen);  // already open
  EXPECT_EQ(node.open(false, true, temp_.c_str()), StatusNotOpen);
  EXPECT_TRUE(listDir(temp_).empty());
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(node.close(), StatusNotOpen);
  EXPECT_FALSE(category::CategoryCache::of(*NodeAccess::impl(node)).entry(0, &root));
  EXPECT_EQ(node.open(), 0);  // and again
  EXPECT_EQ(node.close(), 0);
}

TEST_F(NodeTest, FormatStatusesOfNewerOlderAndForeignFiles) {
  Node node = created("photos");
  std::string main = dir_ + "photos.vd";

  raw(main, "UPDATE vd_version SET vd_version='7.0';");
  EXPECT_EQ(node.open(true), StatusUnknownFormat);
  EXPECT_EQ(node.open(), StatusUnknownFormat);
  raw(main, "UPDATE vd_version SET vd_version='6.5';");  // newer minor: refused by the connection
  EXPECT_EQ(node.open(true), 0);
  EXPECT_EQ(node.open(), StatusUnknownFormat);
  EXPECT_EQ(node.version(), "");

  // An older schema of this engine opens, and its connections still reach the blob file.
  raw(main, "UPDATE vd_version SET vd_version='5.0';");
  raw(dir_ + "photos.vm", "INSERT INTO vd_blobs VALUES (2, 'x', x'01');");
  EXPECT_EQ(node.open(true), StatusUpgradeNeeded);
  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(onNode(node, "SELECT count(*) FROM vd_blobs;"), "1");
  EXPECT_EQ(node.close(), 0);

  std::string other = dir_ + "other.vd";
  Node foreign("other", dir_.c_str());
  writeFile(other, "just some text, not a catalog at all");
  EXPECT_EQ(foreign.open(), StatusNotCatalog);
  writeFile(other, std::string("SQLite format 3\0", 16) + std::string(100, '\0'));
  EXPECT_EQ(foreign.open(true), StatusNotCatalog);
  writeFile(other, std::string("VendrithaneFMT6\0", 16) + std::string(2000, 'x'));
  EXPECT_EQ(foreign.open(true), StatusCorrupt);

  // Catalogs of the old engine: recognised in either byte order; one whose pages the
  // reader cannot take is damaged, its file untouched.
  for (bool bigEndian : {false, true}) {
    writeFile(other, oldEngineFile(2001, bigEndian));
    EXPECT_EQ(node::probeFormat(other), 2001);
    EXPECT_EQ(foreign.open(true), StatusUpgradeNeeded);
    EXPECT_EQ(foreign.open(), StatusCorrupt);
    EXPECT_EQ(readFile(other), oldEngineFile(2001, bigEndian));
  }
  writeFile(dir_ + "other.vm", "blobs");
  EXPECT_EQ(foreign.open(true), StatusFileMismatch);
  writeFile(other, oldEngineFile(1500, false));
  EXPECT_EQ(foreign.open(true), StatusUnknownFormat);
  std::string bad = oldEngineFile(2001, false);
  bad[16] = 0;  // no magic
  writeFile(other, bad);
  EXPECT_EQ(foreign.open(true), StatusNotCatalog);
}

TEST_F(NodeTest, ReadOnlyCatalogOpensOnlyAsCopy) {
  std::string blobs = dir_ + "blobs/";
  ASSERT_EQ(mkdir(blobs.c_str(), 0700), 0);
  Node node("photos", dir_.c_str(), blobs.c_str());
  ASSERT_EQ(node.create(), 0);
  raw(blobs + "photos.vm", "INSERT INTO vd_blobs VALUES (2, 'x', x'01');");
  ASSERT_EQ(chmod((dir_ + "photos.vd").c_str(), 0444), 0);

  EXPECT_EQ(node.open(), StatusReadOnly);
  EXPECT_EQ(node.open(true), StatusReadOnly);

  // A check-only open of a copy reports and removes the copy again.
  EXPECT_EQ(node.open(true, true, temp_.c_str()), 0);
  EXPECT_TRUE(listDir(temp_).empty());
  EXPECT_EQ(node.name(), "photos");
  EXPECT_EQ(node.path(false), dir_.c_str());

  ASSERT_EQ(node.open(false, true, temp_.c_str()), 0);
  EXPECT_EQ(node.name(), "photos-readonly-copy");
  EXPECT_EQ(node.path(false), temp_.c_str());
  EXPECT_EQ(node.path(true), temp_.c_str());
  struct stat st;
  ASSERT_EQ(stat((temp_ + "photos-readonly-copy.vd").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR);
  EXPECT_TRUE(present(temp_ + "photos-readonly-copy.vm"));
  EXPECT_EQ(node.version(), "6.0");
  EXPECT_EQ(onNode(node, "SELECT count(*) FROM vd_blobs;"), "1");  // blobs came along

  Node second("photos", dir_.c_str(), blobs.c_str());
  ASSERT_EQ(second.open(false, true, temp_.c_str()), 0);
  std::string numbered = second.name().buffer();
  ASSERT_GT(numbered.size(), 20u);
  EXPECT_EQ(numbered.substr(0, 20), "photos-readonly-copy");
  EXPECT_EQ(numbered.find_first_not_of("0123456789", 20), std::string::npos) << numbered;
  EXPECT_EQ(listDir(temp_).size(), 4u);

  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(node.name(), "photos");
  EXPECT_EQ(node.path(false), dir_.c_str());
  EXPECT_EQ(node.path(true), blobs.c_str());  // the separate blob directory survives
  EXPECT_EQ(second.close(), 0);
  EXPECT_TRUE(listDir(temp_).empty());
  ASSERT_EQ(stat((dir_ + "photos.vd").c_str(), &st), 0);
  EXPECT_FALSE(st.st_mode & S_IWUSR);
}

TEST_F(NodeTest, LateOpenFailureLeavesNothingHeld) {
  std::vector<Node> open;
  for (int i = 0; i < 4; ++i) {
    open.push_back(created("cat" + std::to_string(i)));
    ASSERT_EQ(open.back().open(), 0);
  }
  Node fifth = created("fifth");
  ASSERT_EQ(chmod((dir_ + "fifth.vd").c_str(), 0444), 0);
  size_t descriptors = platform::RawFile::openCount();

  EXPECT_EQ(fifth.open(false, true, temp_.c_str()), StatusNoFreeSlot);
  EXPECT_FALSE(NodeAccess::impl(fifth)->isOpen());
  EXPECT_EQ(fifth.version(), "");
  EXPECT_EQ(fifth.configure(Node::OptionSynchronous), StatusNotOpen);
  EXPECT_EQ(fifth.close(), StatusNotOpen);
  EXPECT_EQ(fifth.name(), "fifth");
  EXPECT_EQ(fifth.path(false), dir_.c_str());
  EXPECT_TRUE(listDir(temp_).empty());
  EXPECT_EQ(platform::RawFile::openCount(), descriptors);
  EXPECT_EQ(category::CategoryCache::of(*NodeAccess::impl(fifth)).size(), 0u);
  EXPECT_TRUE(systemMutexFree());

  EXPECT_EQ(open[0].close(), 0);
  EXPECT_EQ(fifth.open(false, true, temp_.c_str()), 0);
  EXPECT_EQ(fifth.version(), "6.0");
  EXPECT_EQ(fifth.close(), 0);
  for (auto& node : open) node.close();
}

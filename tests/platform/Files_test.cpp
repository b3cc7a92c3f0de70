// File services: attributes, copy and move between tmpfs and disk, byte-range locks, and
// raw reads of a catalog file that must not disturb the engine's own locks.
#include "platform/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "helpers/PeerProcess.h"
#include "helpers/ScratchDir.h"
#include "platform/RangeLock.h"
#include "platform/RawFile.h"
#include "platform/RenameSet.h"

using namespace KESTRIN::Vendrithane;

namespace {

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = vdtest::useTestPrefix();
    disk_ = diskScratch_.path();
    shm_ = shmScratch_.path();
    ASSERT_FALSE(disk_.empty());
    ASSERT_FALSE(shm_.empty());
  }
  void TearDown() override {
    EXPECT_EQ(diskScratch_.remove(), std::error_code()) << disk_;
    EXPECT_EQ(shmScratch_.remove(), std::error_code()) << shm_;
  }
  vdtest::ScratchDir diskScratch_{"vdfiles-", std::string(VENDRITHANE_HELPER_DIR) + "/../"};
  vdtest::ScratchDir shmScratch_{"vdfiles-", "/dev/shm/"};
  std::string prefix_, disk_, shm_;
};

TEST_F(FilesTest, AttributesComeFromTheModeBits) {
  std::string f = disk_ + "a.vd";
  EXPECT_FALSE(platform::fileExists(f));
  EXPECT_EQ(platform::fileSize(f), -1);
  writeFile(f, "12345");
  EXPECT_TRUE(platform::fileExists(f));
  EXPECT_EQ(platform::fileSize(f), 5);
  EXPECT_FALSE(platform::fileIsReadOnly(f));
  ASSERT_EQ(platform::setFileReadOnly(f, true), StatusOk);
  EXPECT_TRUE(platform::fileIsReadOnly(f));  // even for root, who could still write it
  struct stat st;
  stat(f.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_EQ(platform::setFileReadOnly(f, false), StatusOk);
  EXPECT_FALSE(platform::fileIsReadOnly(f));
  EXPECT_EQ(platform::setFileReadOnly(disk_ + "missing", true), StatusPermissionFailed);
  EXPECT_EQ(platform::deleteFile(f), StatusOk);
  EXPECT_EQ(platform::deleteFile(f), StatusDeleteFailed);
  EXPECT_GT(platform::freeSpace(disk_), 0);
  EXPECT_EQ(platform::freeSpace(disk_ + "missing/"), -1);
}

TEST_F(FilesTest, CopyAndMoveBetweenTmpfsAndDisk) {
  std::string data(300000, 'x');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  std::string src = shm_ + "src.vd";
  writeFile(src, data);
  chmod(src.c_str(), 0444);

  // tmpfs -> disk, keeping the permission bits; "fail if exists" leaves the target alone.
  std::string onDisk = disk_ + "copy.vd";
  ASSERT_EQ(platform::copyFile(src, onDisk, true), StatusOk);
  EXPECT_EQ(readFile(onDisk), data);
  EXPECT_TRUE(platform::fileIsReadOnly(onDisk));
  writeFile(disk_ + "other.vd", "other");
  EXPECT_EQ(platform::copyFile(src, disk_ + "other.vd", true), StatusCopyFailed);
  EXPECT_EQ(readFile(disk_ + "other.vd"), "other");
  EXPECT_EQ(platform::copyFile(src, disk_ + "other.vd", false), StatusOk);
  EXPECT_EQ(readFile(disk_ + "other.vd"), data);
  // A copy onto itself (here through a second name) would truncate the source.
  ASSERT_EQ(link(onDisk.c_str(), (disk_ + "alias.vd").c_str()), 0);
  EXPECT_EQ(platform::copyFile(onDisk, disk_ + "alias.vd", false), StatusCopyFailed);
  EXPECT_EQ(readFile(onDisk), data);
  EXPECT_EQ(platform::copyFile(disk_ + "missing.vd", disk_ + "m2.vd", false), StatusCopyFailed);
  EXPECT_FALSE(platform::fileExists(disk_ + "m2.vd"));

  // disk -> tmpfs move crosses devices, replaces the target and removes the source.
  std::string moved = shm_ + "moved.vd";
  writeFile(moved, "old");
  ASSERT_EQ(platform::moveFile(disk_ + "other.vd", moved), StatusOk);
  EXPECT_EQ(readFile(moved), data);
  EXPECT_FALSE(platform::fileExists(disk_ + "other.vd"));
  ASSERT_EQ(platform::moveFile(moved, disk_ + "back.vd"), StatusOk);
  EXPECT_EQ(readFile(disk_ + "back.vd"), data);
  EXPECT_FALSE(platform::fileExists(moved));
  EXPECT_EQ(platform::moveFile(moved, disk_ + "none.vd"), StatusCopyFailed);
}

TEST_F(FilesTest, FullPathsResolveTheDirectory) {
  ASSERT_EQ(mkdir((disk_ + "real").c_str(), 0755), 0);
  ASSERT_EQ(symlink((disk_ + "real").c_str(), (disk_ + "link").c_str()), 0);
  std::string expected = platform::fullPath(disk_ + "real/a.vd");
  EXPECT_EQ(expected.find("/./"), std::string::npos);
  EXPECT_EQ(platform::fullPath(disk_ + "link/../real/a.vd"), expected);
  EXPECT_EQ(platform::fullPath(disk_ + "link/a.vd"), expected);
  EXPECT_EQ(platform::fullPath(disk_ + "nodir/a.vd"), "");

  EXPECT_EQ(platform::tempDirectory().back(), '/');
}

// A catalog-like database file on disk.
std::string makeDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return path;
}

TEST_F(FilesTest, RawReadsDoNotReleaseTheEnginesLocks) {
  std::string path = makeDatabase(disk_ + "cat.vd");
  vdtest::PeerProcess peer("peer", {prefix_});
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  platform::RawFile pinned(path);  // what the node keeps while its connections are open
  ASSERT_TRUE(pinned.valid());
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(peer.call("sql-begin " + path), "busy");

  // The probe: a raw read through the shared descriptor, existence and size by stat.
  {
    platform::RawFile probe(path);
    char header[16];
    ASSERT_EQ(probe.readAt(0, header, sizeof header), 16);
    EXPECT_EQ(memcmp(header, "SQLite format 3", 15), 0);
    EXPECT_EQ(probe.fd(), pinned.fd());
    EXPECT_EQ(platform::RawFile::openCount(), 1u);
  }
  EXPECT_TRUE(platform::fileExists(path));
  EXPECT_GT(platform::fileSize(path), 0);
  EXPECT_EQ(peer.call("sql-begin " + path), "busy");  // the write lock is still in force

  // Control: an ordinary open and close of the file drops the process's locks.
  close(open(path.c_str(), O_RDONLY));
  EXPECT_EQ(peer.call("sql-begin " + path), "ok");

  sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  pinned.reset();
  EXPECT_EQ(platform::RawFile::openCount(), 0u);
  EXPECT_FALSE(platform::RawFile(disk_ + "missing.vd").valid());
}

TEST_F(FilesTest, RangeLocksConflictWithTheEngineAlsoInThisProcess) {
  std::string path = makeDatabase(disk_ + "cat.vd");
  constexpr int64_t kSharedRange = 0x40000002, kSharedBytes = 510;
  platform::RawFile file(path);
  ASSERT_TRUE(platform::lockRange(file.fd(), kSharedRange, kSharedBytes, true, false));

  vdtest::PeerProcess peer("peer", {prefix_});
  EXPECT_EQ(peer.call("sql-begin " + path), "busy");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_BUSY);

  ASSERT_TRUE(platform::unlockRange(file.fd(), kSharedRange, kSharedBytes));
  EXPECT_EQ(peer.call("sql-begin " + path), "ok");
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
  // Now the engine holds the file: a range lock without waiting is refused.
  EXPECT_FALSE(platform::lockRange(file.fd(), kSharedRange, kSharedBytes, true, false));
  sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// A rename set stops at its first failed step (the main file never joins a blob file that
// was not replaced) and is completed later; a marker's steps on other files, or a marker
// that is a link, are never run.
TEST_F(FilesTest, RenameSetStopsAtAFailedStepAndRunsOnlyItsOwnSteps) {
  std::string main = disk_ + "c.vd", blob = disk_ + "c.vm", marker = main + "-renames";
  std::string tempMain = main + ".vtmp-1", tempBlob = blob + ".vtmp-1";
  writeFile(main, "old main");
  ASSERT_EQ(mkdir(blob.c_str(), 0700), 0);  // a directory in the way: the blob step fails
  writeFile(blob + "/x", "");
  writeFile(tempMain, "new main");
  writeFile(tempBlob, "new blob");
  platform::RenameSet set(marker);
  set.replace(tempBlob, blob);
  set.replace(tempMain, main);
  EXPECT_EQ(set.commit(), StatusCopyFailed);
  EXPECT_EQ(readFile(main), "old main");
  EXPECT_EQ(platform::finishRenameSet(marker, {main, blob}), StatusCopyFailed);
  EXPECT_EQ(readFile(main), "old main");
  ASSERT_EQ(unlink((blob + "/x").c_str()), 0);
  ASSERT_EQ(rmdir(blob.c_str()), 0);
  EXPECT_EQ(platform::finishRenameSet(marker, {main, blob}), StatusOk);
  EXPECT_EQ(readFile(main) + "/" + readFile(blob), "new main/new blob");
  EXPECT_FALSE(platform::fileExists(marker));

  std::string victim = disk_ + "victim", elsewhere = disk_ + "elsewhere";
  writeFile(victim, "keep");
  writeFile(elsewhere, "keep");
  for (const std::string& text : {"D\t" + main + "-journal\nD\t" + victim + "\nend\n",
                                  "R\t" + elsewhere + "\t" + main + "\nend\n",
                                  "R\t" + main + ".vtmp-2\t" + victim + "\nend\n"}) {
    writeFile(main + "-journal", "j");
    writeFile(main + ".vtmp-2", "x");
    writeFile(marker, text);
    EXPECT_EQ(platform::finishRenameSet(marker, {main, blob}), StatusOk);
    EXPECT_EQ(readFile(victim) + readFile(elsewhere) + readFile(main), "keepkeepnew main") << text;
    EXPECT_FALSE(platform::fileExists(marker));
  }
  std::string planted = disk_ + "planted";
  writeFile(planted, "D\t" + main + "\nend\n");
  ASSERT_EQ(symlink(planted.c_str(), marker.c_str()), 0);
  EXPECT_EQ(platform::finishRenameSet(marker, {main, blob}), StatusOk);
  EXPECT_EQ(readFile(main), "new main");
  unlink(marker.c_str());
  for (const std::string& f :
       {main, blob, main + "-journal", main + ".vtmp-2", victim, elsewhere, planted})
    unlink(f.c_str());
}

}  // namespace

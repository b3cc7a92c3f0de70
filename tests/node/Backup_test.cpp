// Backups, restore, size, fragmentation and optimize: byte-for-byte copies, the rename set
// that never leaves a mixed pair (crash points and SIGKILL rounds), consistency while other
// processes and threads write, and the waits and refusals around transactions.
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <thread>

#include "NodeFixture.h"
#include "node/FaultInjection.h"
#include "platform/Files.h"
#include "platform/RawFile.h"
#include "vendrithane/Blob.h"

using namespace KESTRIN::Vendrithane;

namespace {

bool longRun() {
  const char* value = getenv("VENDRITHANE_LONG");
  return value != nullptr && std::string(value) == "1";
}

// Stores `n` collection records of the catalog, each with a catalog blob of `bytes` bytes.
std::vector<int> fill(Node& node, int n, size_t bytes) {
  std::vector<int> ids;
  std::string data(bytes, 'x');
  EXPECT_EQ(node.transactionBegin(), 0);
  for (int i = 0; i < n; ++i) {
    Asset asset = node.asset("photo", true);
    data[0] = static_cast<char>('a' + i % 26);
    Blob blob;
    blob.set(reinterpret_cast<unsigned char*>(&data[0]), data.size(), Blob::LocationCatalog);
    asset.element("b") = blob;
    asset.element("n") = i;
    EXPECT_EQ(asset.store(), 0);
    ids.push_back(asset.id());
  }
  EXPECT_EQ(node.transactionCommit(), 0);
  return ids;
}

// Free bytes over all bytes of the two files, from their headers as the test reads them.
double headerFragmentation(const std::string& main, const std::string& blob) {
  double freeBytes = 0, total = 0;
  for (const std::string& path : {main, blob}) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    double page = (at(16) << 8) | at(17);
    if (page == 1) page = 65536;
    double freePages =
        (static_cast<double>(at(36)) * 16777216) + (at(37) << 16) + (at(38) << 8) + at(39);
    freeBytes += freePages * page;
    total += bytes.size();
  }
  return freeBytes / total;
}

}  // namespace

class BackupTest : public NodeTest {
 protected:
  std::string file(const std::string& name) { return dir_ + name; }
  // The two files of a pair as "size:hash size:hash" ("none" for a missing one), so that
  // pairs compare byte for byte and print short.
  std::string pair(const std::string& base, const char* main, const char* blob) {
    auto digest = [&](const std::string& path) {
      if (!present(path)) return std::string("none");
      std::string bytes = readFile(path);
      return std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>()(bytes));
    };
    return digest(file(base + main)) + " " + digest(file(base + blob));
  }
  std::string integrity(const std::string& path) { return raw(path, "PRAGMA integrity_check;"); }
};
class BackupThreads : public BackupTest {};

TEST_F(BackupTest, SettingsCopiesAndRefusals) {
  Node node = created("photos");
  EXPECT_EQ(node.backupPath().buffer(), dir_);  // follows the main directory
  EXPECT_TRUE(node.backupName().isEmpty());
  EXPECT_EQ(node.backupMode(true), 0);  // no backup files: still 0
  EXPECT_FALSE(node.backupExists());
  EXPECT_TRUE(node.backupName().isEmpty());  // set by a backup only

  ASSERT_EQ(node.open(), 0);
  fill(node, 20, 3000);
  // Byte for byte, while open; the name is set to the node's.
  ASSERT_EQ(node.backup(false, false, false), 0);
  EXPECT_EQ(node.backupName().buffer(), std::string("photos"));
  EXPECT_TRUE(node.backupExists());
  EXPECT_EQ(pair("photos", ".vb", ".vbb"), pair("photos", ".vd", ".vm"));
  auto first = pair("photos", ".vb", ".vbb");
  fill(node, 5, 100);
  EXPECT_EQ(node.backup(true, false, false), StatusCopyFailed);  // keepExisting
  EXPECT_EQ(pair("photos", ".vb", ".vbb"), first);
  EXPECT_EQ(node.backup(false, true, false), 0);  // verifyFirst
  EXPECT_EQ(pair("photos", ".vb", ".vbb"), pair("photos", ".vd", ".vm"));

  // asCatalog: a catalog that opens; never over its source or a catalog open somewhere.
  EXPECT_EQ(node.backup(false, false, true), StatusCopyFailed);
  node.backupName("copy");
  ASSERT_EQ(node.backup(false, true, true), 0);
  EXPECT_EQ(pair("copy", ".vd", ".vm"), pair("photos", ".vd", ".vm"));
  {
    Node copy("copy", dir_.c_str());
    ASSERT_EQ(copy.open(), 0);
    EXPECT_EQ(copy.assetNames(false, false).size(), node.assetNames(false, false).size());
    auto before = pair("copy", ".vd", ".vm");
    EXPECT_EQ(node.backup(false, false, true), StatusCopyFailed);
    EXPECT_EQ(pair("copy", ".vd", ".vm"), before);
    EXPECT_EQ(copy.close(), 0);
  }

  // backupPath keeps the text, reads "\" as "/" in file names.
  ASSERT_EQ(mkdir((dir_ + "bk").c_str(), 0700), 0);
  node.backupPath(String((dir_ + "bk\\").c_str()));
  EXPECT_EQ(node.backupPath().buffer(), dir_ + "bk\\");
  node.backupPath(String((dir_ + "bk").c_str()));
  EXPECT_EQ(node.backupPath().buffer(), dir_ + "bk/");
  node.backupName("photos");
  ASSERT_EQ(node.backup(false, false, false), 0);
  EXPECT_EQ(pair("bk/photos", ".vb", ".vbb"), pair("photos", ".vd", ".vm"));

  // Modes: read-only (a backup then refuses to replace the files), then writable again.
  EXPECT_EQ(node.backupMode(true), 0);
  struct stat st;
  ASSERT_EQ(stat(file("bk/photos.vbb").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  auto kept = pair("bk/photos", ".vb", ".vbb");
  fill(node, 1, 100);
  EXPECT_EQ(node.backup(false, false, false), StatusCopyFailed);
  EXPECT_EQ(pair("bk/photos", ".vb", ".vbb"), kept);
  EXPECT_EQ(node.backupMode(false), 0);
  ASSERT_EQ(stat(file("bk/photos.vbb").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u);

  // Restore: refused while open (nothing copied), then the backup replaces the catalog.
  auto backup = pair("bk/photos", ".vb", ".vbb");
  fill(node, 3, 100);
  auto current = pair("photos", ".vd", ".vm");
  EXPECT_EQ(node.backupRestore(false, false), StatusNotOpen);
  EXPECT_EQ(pair("photos", ".vd", ".vm"), current);
  ASSERT_EQ(node.close(), 0);  // gives back unused ids: the main file changes
  current = pair("photos", ".vd", ".vm");
  ASSERT_EQ(chmod(file("photos.vm").c_str(), 0640), 0);
  EXPECT_EQ(node.backupRestore(true, false), StatusCopyFailed);
  EXPECT_EQ(pair("photos", ".vd", ".vm"), current);
  ASSERT_EQ(node.backupRestore(false, true), 0);
  EXPECT_EQ(pair("photos", ".vd", ".vm"), backup);
  ASSERT_EQ(stat(file("photos.vm").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's permission bits
  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(node.close(), 0);

  // The backup's own damage is found before anything is put in place.
  std::string damaged = readFile(file("bk/photos.vb"));
  for (size_t i = 1024; i < damaged.size(); i += 7) damaged[i] = '\x5a';
  writeFile(file("bk/photos.vb"), damaged);
  auto restored = pair("photos", ".vd", ".vm");
  EXPECT_EQ(node.backupRestore(false, true), StatusCorrupt);
  EXPECT_EQ(pair("photos", ".vd", ".vm"), restored);
  EXPECT_TRUE(platform::filesWithPrefix(dir_, "photos.vd.vtmp").empty());
  EXPECT_TRUE(platform::filesWithPrefix(dir_, "photos.vm.vtmp").empty());
}

TEST_F(BackupTest, CatalogWithoutBlobFile) {
  Node node = created("photos");
  ASSERT_EQ(node.backup(false, false, false), 0);
  ASSERT_TRUE(present(file("photos.vbb")));
  ASSERT_EQ(unlink(file("photos.vm").c_str()), 0);
  EXPECT_EQ(node.backup(false, true, false), StatusExists);  // verifyFirst: a current catalog
  EXPECT_TRUE(present(file("photos.vbb")));
  // The new main backup never pairs with the older blob backup.
  ASSERT_EQ(node.backup(false, false, false), 0);
  EXPECT_FALSE(present(file("photos.vbb")));
  // A restore of that backup removes the catalog's blob file with the rest.
  writeFile(file("photos.vm"), "stale");
  ASSERT_EQ(node.backupRestore(false, false), 0);
  EXPECT_FALSE(present(file("photos.vm")));
  EXPECT_EQ(node.size(), -1);
  ASSERT_EQ(unlink(file("photos.vd").c_str()), 0);
  EXPECT_EQ(node.backup(false, false, false), StatusFileMismatch);
}

TEST_F(BackupTest, FragmentationSizeAndOptimize) {
  Node node = created("photos");
  EXPECT_EQ(node.optimize(), StatusNotOpen);
  ASSERT_EQ(node.open(), 0);
  std::vector<int> ids = fill(node, 200, 4000);
  ids.resize(150);
  ASSERT_EQ(node.assetRemove(ids), 0);
  long long before = node.size();
  size_t mainBefore = readFile(file("photos.vd")).size(),
         blobBefore = readFile(file("photos.vm")).size();
  EXPECT_EQ(before, static_cast<long long>(readFile(file("photos.vd")).size() +
                                           readFile(file("photos.vm")).size()));
  double fragmentation = node.fragmentation();
  EXPECT_GT(fragmentation, 0.3);
  EXPECT_DOUBLE_EQ(fragmentation, headerFragmentation(file("photos.vd"), file("photos.vm")));
  ASSERT_EQ(node.optimize(), 0);
  EXPECT_EQ(node.fragmentation(), 0.0);
  EXPECT_LT(node.size(), before / 2);
  long long mainAfter = readFile(file("photos.vd")).size();
  EXPECT_LT(mainAfter, static_cast<long long>(mainBefore));  // both files shrink
  EXPECT_LT(readFile(file("photos.vm")).size(), blobBefore);
  ASSERT_EQ(node.close(), 0);
  EXPECT_EQ(node.size(), mainAfter + static_cast<long long>(readFile(file("photos.vm")).size()));
}

TEST_F(BackupTest, RestoreWhileOpenElsewhereThenStaleJournalRemoved) {
  Node node = created("photos");
  ASSERT_EQ(node.backup(false, false, false), 0);
  {
    vdtest::PeerProcess peer("asset_peer", {prefix_});
    ASSERT_EQ(peer.call("open photos " + dir_), "0");
    auto before = pair("photos", ".vd", ".vm");
    EXPECT_EQ(node.backupRestore(false, false), StatusNotOpen);
    EXPECT_EQ(pair("photos", ".vd", ".vm"), before);
    EXPECT_EQ(peer.finish(), 0);
  }
  writeFile(file("photos.vd-journal"), std::string(4096, '\x7f'));
  writeFile(file("photos.vd-mj0123456789"), "photos.vd-journal");
  ASSERT_EQ(node.backupRestore(false, false), 0);
  EXPECT_FALSE(present(file("photos.vd-journal")));
  EXPECT_FALSE(present(file("photos.vd-mj0123456789")));
  EXPECT_EQ(pair("photos", ".vd", ".vm"), pair("photos", ".vb", ".vbb"));
  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(node.close(), 0);
  // A read-only copy plays a hot journal back before copying, as a backup does.
  writeFile(file("photos.vd-journal"), std::string(4096, '\x7f'));
  ASSERT_EQ(node.open(false, true, dir_.c_str()), 0);
  EXPECT_EQ(node.close(), 0);
}

// A process that ends between two renames of a backup or a restore: the next backupExists
// or open completes the set, so the pair is the new one.
TEST_F(BackupTest, CrashPointsBetweenRenames) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  fill(node, 10, 2000);
  ASSERT_EQ(node.close(), 0);
  for (long step = 0; step < 4; ++step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(node.backup(false, false, false), 0);
    ASSERT_EQ(node.open(), 0);
    fill(node, 1, 500);  // the catalog moves on: the old backup differs from the new
    ASSERT_EQ(node.close(), 0);
    vdtest::PeerProcess peer("asset_peer", {prefix_});
    ASSERT_EQ(peer.call("crashat 1 " + std::to_string(step)), "0");
    EXPECT_EQ(peer.call("backups photos " + dir_ + " 1"), "<eof>");
    EXPECT_EQ(peer.waitExit(), node::kCrashExitCode);
    EXPECT_TRUE(node.backupExists());
    EXPECT_EQ(pair("photos", ".vb", ".vbb"), pair("photos", ".vd", ".vm"));
    EXPECT_FALSE(present(file("photos.vb-renames")));
  }
  for (long step = 0; step < 6; ++step) {
    SCOPED_TRACE(step);
    auto backup = pair("photos", ".vb", ".vbb");
    ASSERT_EQ(node.open(), 0);
    fill(node, 1, 500);
    ASSERT_EQ(node.close(), 0);
    vdtest::PeerProcess peer("asset_peer", {prefix_});
    ASSERT_EQ(peer.call("crashat 2 " + std::to_string(step)), "0");
    // Four steps (two journal removals, the blob file, the main file), then done.
    EXPECT_EQ(peer.call("restore photos " + dir_), step < 4 ? "<eof>" : "0");
    EXPECT_EQ(step < 4 ? peer.waitExit() : peer.finish(), step < 4 ? node::kCrashExitCode : 0);
    ASSERT_EQ(node.open(), 0);
    EXPECT_EQ(node.close(), 0);
    EXPECT_EQ(pair("photos", ".vd", ".vm"), backup);
    EXPECT_EQ(integrity(file("photos.vd")), "ok\n");
  }
  // A backup of the closed catalog after a restore killed between its blob and main renames:
  // the set is completed first, so the backup is the restored pair, never a mix.
  {
    auto backup = pair("photos", ".vb", ".vbb");
    ASSERT_EQ(node.open(), 0);
    fill(node, 1, 500);
    ASSERT_EQ(node.close(), 0);
    vdtest::PeerProcess peer("asset_peer", {prefix_});
    ASSERT_EQ(peer.call("crashat 2 2"), "0");
    EXPECT_EQ(peer.call("restore photos " + dir_), "<eof>");
    EXPECT_EQ(peer.waitExit(), node::kCrashExitCode);
    ASSERT_EQ(node.backup(false, false, false), 0);
    EXPECT_EQ(pair("photos", ".vb", ".vbb"), backup);
  }
  // A create after a killed restore: the set is completed first, never over the new files.
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("crashat 2 0"), "0");
  EXPECT_EQ(peer.call("restore photos " + dir_), "<eof>");
  EXPECT_EQ(peer.waitExit(), node::kCrashExitCode);
  ASSERT_EQ(node.create(true), 0);
  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(raw(file("photos.vd"), "SELECT count(*) FROM vd_assets;"), "0\n");
}

TEST_F(BackupThreads, TransactionsWaitOrRefuse) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  fill(node, 5, 100);
  // Inside this thread's transaction: 77 at once, for backup and optimize.
  ASSERT_EQ(node.transactionBegin(), 0);
  fill(node, 1, 100);
  EXPECT_EQ(node.backup(false, false, false), StatusBusy);
  EXPECT_EQ(node.optimize(), StatusBusy);
  // size and fragmentation, of this node and of a closed one of the same catalog, leave this
  // thread's locks in place: another process stays out.
  EXPECT_GT(node.size(), 0);
  EXPECT_GE(node.fragmentation(), 0.0);
  Node closed("photos", dir_.c_str());
  EXPECT_EQ(closed.size(), node.size());
  EXPECT_GE(closed.fragmentation(), 0.0);
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open photos " + dir_), "0");
  peer.send("rawwrite photos " + dir_);
  EXPECT_EQ(peer.readLine(1500), "<timeout>");
  ASSERT_EQ(node.transactionCommit(), 0);
  EXPECT_EQ(peer.readLine(20000), "0");

  // Another thread's transaction: the backup waits for it, then holds its writes.
  std::promise<void> begun, release;
  std::thread holder([&] {
    EXPECT_EQ(node.transactionBegin(), 0);
    fill(node, 1, 100);
    begun.set_value();
    release.get_future().wait();
    EXPECT_EQ(node.transactionCommit(), 0);
  });
  begun.get_future().wait();
  auto backup = std::async(std::launch::async, [&] { return node.backup(false, false, false); });
  EXPECT_EQ(backup.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  release.set_value();
  EXPECT_EQ(backup.get(), 0);
  holder.join();
  EXPECT_EQ(raw(file("photos.vb"), "SELECT count(*) FROM vd_assets;"),
            raw(file("photos.vd"), "SELECT count(*) FROM vd_assets;"));

  // A locked copy of the same file in this process (the claim it holds): the backup waits
  // for it, since both would lock through one shared descriptor.
  platform::RawFile main(file("photos.vd"));
  main.claimForCopy();
  backup = std::async(std::launch::async, [&] { return node.backup(false, false, false); });
  EXPECT_EQ(backup.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  main.releaseCopyClaim();
  EXPECT_EQ(backup.get(), 0);
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(node.close(), 0);
}

// While another process commits transactions that change a record and its blob together,
// every backup is a catalog that passes the check and whose record and blob agree. Two
// threads back up at once through nodes of their own: their copies share the process's
// descriptor of each file, so one's unlock must never free the other's locks.
TEST_F(BackupThreads, ConsistentWhileAnotherProcessCommits) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  int id = fill(node, 50, 2000)[7];
  ASSERT_EQ(node.close(), 0);
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open photos " + dir_), "0");
  peer.send("counter " + std::to_string(id) + " 60");
  auto backUp = [&](const std::string& name) {
    Node source("photos", dir_.c_str());
    source.backupName(name.c_str());
    int seen = 0, last = 0;
    for (int round = 0; round < 500 && seen < 10; ++round) {  // until 10 show the counter
      ASSERT_EQ(source.backup(false, false, true), 0);
      EXPECT_EQ(integrity(file(name + ".vd")), "ok\n");
      EXPECT_EQ(integrity(file(name + ".vm")), "ok\n");
      Node snap(name.c_str(), dir_.c_str());
      ASSERT_EQ(snap.open(), 0);
      Asset asset = snap.assetLoad(id);
      String counter = asset.element("n");
      Blob blob;
      blob = asset.element("b");
      unsigned char* bytes = blob.buffer(0);
      ASSERT_NE(bytes, nullptr);
      std::string stored(reinterpret_cast<char*>(bytes), blob.length());
      if (std::isdigit(static_cast<unsigned char>(stored[0]))) {  // the counter has started
        EXPECT_EQ(stored, counter.buffer());
        EXPECT_GE(std::atoi(counter.buffer()), last);
        last = std::atoi(counter.buffer());
        ++seen;
      }
      EXPECT_EQ(snap.close(), 0);
    }
    EXPECT_EQ(seen, 10);
  };
  std::thread other(backUp, "snapb");
  backUp("snapa");
  other.join();
  EXPECT_EQ(peer.readLine(60000), "done");
  EXPECT_EQ(peer.finish(), 0);
}

// A writer killed with its spilled transaction in the files: the backup, which waited for
// it, plays its journal back and holds the state before it.
TEST_F(BackupTest, KilledSpilledTransactionIsNotInTheBackup) {
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  fill(node, 10, 1000);
  ASSERT_EQ(node.close(), 0);
  std::string count = raw(file("photos.vd"), "SELECT count(*) FROM vd_assets;");
  auto before = pair("photos", ".vd", ".vm");
  vdtest::PeerProcess peer("asset_peer", {prefix_});
  ASSERT_EQ(peer.call("open photos " + dir_), "0");
  ASSERT_EQ(peer.call("spill 400 20000", 60000), "spilled");  // 8 MB: beyond the page cache
  ASSERT_TRUE(readFile(file("photos.vm-journal")).size() > 0);
  auto backup = std::async(std::launch::async, [&] { return node.backup(false, false, false); });
  EXPECT_EQ(backup.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  peer.killNow();
  ASSERT_EQ(backup.get(), 0);
  EXPECT_EQ(pair("photos", ".vb", ".vbb"), before);  // the journal played back first
  EXPECT_EQ(raw(file("photos.vb"), "SELECT count(*) FROM vd_assets;"), count);
  EXPECT_EQ(integrity(file("photos.vb")), "ok\n");
  EXPECT_EQ(integrity(file("photos.vbb")), "ok\n");
  EXPECT_EQ(raw(file("photos.vbb"), "SELECT count(*) FROM vd_blobs;"), count);
}

// SIGKILL a process in the middle of a backup, then of a restore, at random moments: the
// backup (after backupExists) and the catalog (after open) are each the old pair or the new
// one, byte for byte. VENDRITHANE_LONG=1 runs 20 rounds on a catalog of about 50 MB.
TEST_F(BackupTest, KilledBackupsAndRestoresLeaveOldOrNewPair) {
  const int rounds = longRun() ? 20 : 10;
  const int records = longRun() ? 500 : 40;  // blobs of 100 KB: ~50 MB, or ~4 MB
  Node node = created("photos");
  ASSERT_EQ(node.open(), 0);
  fill(node, records, 100000);
  ASSERT_EQ(node.close(), 0);
  std::mt19937 random(12345);

  auto timed = [&](const std::string& command) {
    vdtest::PeerProcess peer("asset_peer", {prefix_});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(peer.call(command, 60000).substr(0, 4), command[0] == 'b' ? "done" : "0");
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  };
  long long backupTime = timed("backups photos " + dir_ + " 1");
  auto oldBackup = pair("photos", ".vb", ".vbb");
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(node.open(), 0);
    fill(node, 1, 1000);
    ASSERT_EQ(node.close(), 0);
    auto current = pair("photos", ".vd", ".vm");
    {
      vdtest::PeerProcess peer("asset_peer", {prefix_});
      peer.send("backups photos " + dir_ + " 1");
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (backupTime * 3 / 2 + 1)));
      peer.killNow();
    }
    EXPECT_TRUE(node.backupExists());
    auto now = pair("photos", ".vb", ".vbb");
    EXPECT_TRUE(now == oldBackup || now == current) << "a mixed or partial backup";
    oldBackup = now;
  }
  // What killed copies left beside their targets goes with the next backup (and open).
  ASSERT_EQ(node.backup(false, false, false), 0);
  EXPECT_TRUE(platform::filesWithPrefix(dir_, "photos.vb.vtmp-").empty());
  EXPECT_TRUE(platform::filesWithPrefix(dir_, "photos.vbb.vtmp-").empty());

  auto backup = pair("photos", ".vb", ".vbb");
  ASSERT_EQ(node.open(), 0);
  fill(node, 1, 1000);
  ASSERT_EQ(node.close(), 0);
  auto old = pair("photos", ".vd", ".vm");
  std::string oldMain = readFile(file("photos.vd")), oldBlob = readFile(file("photos.vm"));
  long long restoreTime = timed("restore photos " + dir_);
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    writeFile(file("photos.vd"), oldMain);
    writeFile(file("photos.vm"), oldBlob);
    {
      vdtest::PeerProcess peer("asset_peer", {prefix_});
      peer.send("restore photos " + dir_);
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (restoreTime * 3 / 2 + 1)));
      peer.killNow();
    }
    ASSERT_EQ(node.open(), 0);
    EXPECT_EQ(node.close(), 0);
    auto now = pair("photos", ".vd", ".vm");
    EXPECT_TRUE(now == old || now == backup) << "a mixed or partial catalog";
  }
  EXPECT_TRUE(platform::filesWithPrefix(dir_, "photos.vd.vtmp-").empty());
  EXPECT_TRUE(platform::filesWithPrefix(dir_, "photos.vm.vtmp-").empty());
}

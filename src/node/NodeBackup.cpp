// Backups, restore and the file services of a node: backup settings, backup and restore
// through the locked copy and a rename set, size, fragmentation and compaction.
//
// Locks: the system mutex covers only what never waits (settings, checks, renames); the
// locked copy, which waits for the catalog's readers and writers, runs without it. A backup
// and a restore are written beside their targets under temporary names and put in place by
// one rename set (platform/RenameSet.h), whose marker open, backup, backupRestore and
// backupExists complete first when a process was killed in the middle of one.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>

#include "monitor/EventQueue.h"
#include "node/CatalogRenames.h"
#include "node/FaultInjection.h"
#include "node/LockedCopy.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "node/VerifyFirst.h"
#include "platform/Files.h"
#include "platform/RawFile.h"
#include "platform/RenameSet.h"
#include "platform/SystemInfo.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr char kBackupExtension[] = ".vb";       // the backup of the main file
constexpr char kBlobBackupExtension[] = ".vbb";  // the backup of the blob file
constexpr char kRenameMarker[] = "-renames";     // a rename set's marker, after the main target
constexpr char kSuperJournalInfix[] = "-mj";     // the engine's super-journals of a main file
constexpr long long kSpaceMargin = 100000;       // bytes kept free beyond the copies
constexpr int kOwnerReadWrite = 0600;

std::atomic<unsigned> gTempSerial{0};

// Removes the copies that killed processes left beside `target` (their names carry the
// process id; copies of live processes, this one included, stay). Caller holds the system
// mutex.
void removeOrphanCopies(const std::string& target) {
  std::string dir = platform::directoryOf(target);
  std::string prefix = target.substr(dir.size()) + platform::kRenameTempInfix;
  for (const std::string& name : platform::filesWithPrefix(dir, prefix)) {
    long pid = std::atol(name.c_str() + prefix.size());
    if (pid != platform::processId() && !platform::processExists(pid))
      platform::deleteFile(dir + name);
  }
}

// Whether every target's volume has room for its whole new file, written beside the old.
bool roomFor(const std::vector<node::CopyPair>& files) {
  std::map<long long, std::pair<std::string, long long>> need;  // volume: directory, bytes
  for (const node::CopyPair& file : files) {
    std::string dir = platform::directoryOf(file.to);
    auto& entry = need[platform::volumeOf(dir)];
    entry.first = dir;
    entry.second += std::max<long long>(platform::fileSize(file.from), 0);
  }
  for (const auto& volume : need) {
    long long free = platform::freeSpace(volume.second.first);
    if (free >= 0 && free <= volume.second.second + kSpaceMargin) return false;
  }
  return true;
}

}  // namespace

namespace node {

std::string tempBeside(const std::string& target) {
  return target + platform::kRenameTempInfix + std::to_string(platform::processId()) + "-" +
         std::to_string(gTempSerial++);
}

std::string markerOf(const std::string& mainTarget) {
  return mainTarget + kRenameMarker;
}

void removeJournals(platform::RenameSet* set, const std::string& file, bool main) {
  set->remove(node::journalOf(file));
  if (!main) return;
  std::string dir = platform::directoryOf(file);
  std::string base = file.substr(dir.size()) + kSuperJournalInfix;
  for (const std::string& name : platform::filesWithPrefix(dir, base)) set->remove(dir + name);
}

}  // namespace node

using node::markerOf;
using node::removeJournals;
using node::tempBeside;

// Plays back a hot journal of the catalog's files through connections of their own (each
// file read once as a main database, which rolls its journal back).
Status NodeImpl::rollBackJournals(const std::string& main, const std::string& blob) {
  try {
    for (const std::string& file : {main, blob}) {
      if (!platform::fileStartsNonZero(node::journalOf(file))) continue;
      node::NodeConnection connection(file, std::string(), nullptr, true);
      String rows;
      Status status = node::queryValue(connection, node::kCountSchemaRows, &rows);
      if (status != StatusOk) return status;
    }
  } catch (Status thrown) {
    return thrown;
  }
  return StatusOk;
}

namespace {

// Removes the temporary copies of `files`.
void discardCopies(const std::vector<node::CopyPair>& files) {
  for (const node::CopyPair& file : files) platform::deleteFile(file.to);
}

bool sameFile(const std::string& a, const std::string& b) {
  std::string ra = platform::resolvedPath(a);
  return !ra.empty() && ra == platform::resolvedPath(b);
}

}  // namespace

void NodeImpl::backupName(const String& name) {
  platform::WriterLock hold(nameLock_);
  backupName_.assign(name.buffer(), name.length());
}

void NodeImpl::backupDirectory(const String& dir) {
  platform::WriterLock hold(nameLock_);
  backupDir_.assign(dir.buffer(), dir.length());
  if (!backupDir_.empty() && backupDir_.back() != '/' && backupDir_.back() != '\\')
    backupDir_ += '/';
}

// Completes the rename set of `main` and `blob` and removes orphaned copies beside them; when
// the set could not be completed its copies stay for the next try, and the result is 11.
static Status finishRenames(const std::string& main, const std::string& blob) {
  Status status = platform::finishRenameSet(markerOf(main), {main, blob});
  if (status != StatusOk) return status;
  removeOrphanCopies(main);
  removeOrphanCopies(blob);
  return StatusOk;
}

Status NodeImpl::finishCatalogRenames() {
  return finishRenames(mainFile(), blobFile());
}

// The backup files' paths for the extensions given. Empty settings mean the node's name and
// the main directory; a backup (`keep`) sets them so, the other calls leave them empty.
struct BackupFiles {
  std::string main;
  std::string blob;
};

static BackupFiles backupFilesOf(NodeImpl& node, const char* mainExtension,
                                 const char* blobExtension, bool keep) {
  String name = node.backupName(), dir = node.backupDirectory();
  if (name.isEmpty()) name = node.name();
  if (dir.isEmpty()) dir = node.path(false);
  if (keep) {
    if (node.backupName().isEmpty()) node.backupName(name);
    if (node.backupDirectory().isEmpty()) node.backupDirectory(dir);
  }
  std::string base = NodeImpl::directoryText(dir) + static_cast<const char*>(name);
  return {base + mainExtension, base + blobExtension};
}

bool NodeImpl::backupExists() {
  if (noCatalog_) return false;
  platform::NamedMutexHold system(systemMutex());
  BackupFiles files = backupFilesOf(*this, kBackupExtension, kBlobBackupExtension, false);
  platform::finishRenameSet(markerOf(files.main), {files.main, files.blob});
  return platform::RawFile(files.main).valid();
}

Status NodeImpl::backupMode(bool readOnly) {
  if (noCatalog_) return StatusNotOpen;
  platform::NamedMutexHold system(systemMutex());
  BackupFiles files = backupFilesOf(*this, kBackupExtension, kBlobBackupExtension, false);
  if (platform::setFileReadOnly(files.main, readOnly) != StatusOk)
    return readOnly ? StatusOk : StatusPermissionFailed;
  if (platform::setFileReadOnly(files.blob, readOnly) != StatusOk && !readOnly &&
      platform::fileExists(files.blob))
    return StatusPermissionFailed;
  return StatusOk;
}

Status NodeImpl::backup(bool keepExisting, bool verifyFirst, bool asCatalog) {
  if (noCatalog_) return StatusNotOpen;
  // The copy waits for every transaction on the catalog: one of this thread would never end.
  if (pool_.heldBy(platform::threadId())) return StatusBusy;
  std::string main, blob;
  BackupFiles targets;
  bool hasBlob;
  std::vector<node::CopyPair> copies;
  std::vector<platform::RawFile> sources;  // opened with the decision: one pair of files
  {
    platform::NamedMutexHold system(systemMutex());
    main = mainFile();
    blob = blobFile();
    targets = asCatalog ? backupFilesOf(*this, kMainExtension, kBlobExtension, true)
                        : backupFilesOf(*this, kBackupExtension, kBlobBackupExtension, true);
    // A restore killed between its renames must not leave a mixed pair to copy.
    if (finishCatalogRenames() != StatusOk) return StatusCopyFailed;
    if (finishRenames(targets.main, targets.blob) != StatusOk) return StatusCopyFailed;
    if (!platform::fileExists(main)) return StatusFileMismatch;
    hasBlob = platform::fileExists(blob);
    if (asCatalog && (sameFile(targets.main, main) || sameFile(targets.blob, blob) ||
                      sameFile(targets.main, blob) || sameFile(targets.blob, main) ||
                      monitor::EventQueue::catalogInUse(targets.main)))
      return StatusCopyFailed;
    if (keepExisting && (platform::fileExists(targets.main) || platform::fileExists(targets.blob)))
      return StatusCopyFailed;
    // A backup made read-only (backupMode) is kept: a copy could not write over it.
    if (platform::fileIsReadOnly(targets.main) || platform::fileIsReadOnly(targets.blob))
      return StatusCopyFailed;
    copies.push_back({main, tempBeside(targets.main)});
    if (hasBlob) copies.push_back({blob, tempBeside(targets.blob)});
    if (!roomFor(copies)) return StatusDiskFull;
    for (const node::CopyPair& copy : copies) sources.emplace_back(copy.from);
  }

  Status status = node::lockedCopy(
      copies, true, [&] { return rollBackJournals(main, blob); }, &sources);
  sources.clear();
  if (status != StatusOk) return status;
  if (verifyFirst) {
    int major = -1;
    status = node::verifyFirstCheck(copies[0].to, hasBlob ? copies[1].to : std::string(),
                                    fileCheck_, &major);
    if (status == StatusOk && !hasBlob && major >= 3) status = StatusExists;
    if (status != StatusOk) {
      discardCopies(copies);
      return status;
    }
  }

  platform::NamedMutexHold system(systemMutex());
  if ((asCatalog && monitor::EventQueue::catalogInUse(targets.main)) ||
      (keepExisting &&
       (platform::fileExists(targets.main) || platform::fileExists(targets.blob)))) {
    discardCopies(copies);
    return StatusCopyFailed;
  }
  platform::RenameSet set(markerOf(targets.main));
  removeJournals(&set, targets.main, true);
  removeJournals(&set, targets.blob, false);
  // Without a blob file, an older blob backup of the name would pair with the new main one.
  if (hasBlob) {
    set.replace(copies[1].to, targets.blob);
  } else {
    set.remove(targets.blob);
  }
  set.replace(copies[0].to, targets.main);
  return set.commit([](size_t step) {
    node::crashPoint(node::CrashPoint::BackupRenames, static_cast<long>(step));
  });
}

Status NodeImpl::backupRestore(bool keepExisting, bool verifyFirst) {
  if (noCatalog_ || isOpen()) return StatusNotOpen;
  std::string main, blob;
  BackupFiles source;
  bool hasBlob;
  std::vector<node::CopyPair> copies;
  std::vector<platform::RawFile> sources;  // opened with the decision: one pair of files
  {
    platform::NamedMutexHold system(systemMutex());
    main = mainFile();
    blob = blobFile();
    source = backupFilesOf(*this, kBackupExtension, kBlobBackupExtension, false);
    if (platform::finishRenameSet(markerOf(source.main), {source.main, source.blob}) != StatusOk ||
        finishCatalogRenames() != StatusOk)
      return StatusCopyFailed;
    if (isOpen() || monitor::EventQueue::catalogInUse(main)) return StatusNotOpen;
    if (!platform::fileExists(source.main)) return StatusFileMismatch;
    if (keepExisting && (platform::fileExists(main) || platform::fileExists(blob)))
      return StatusCopyFailed;
    hasBlob = platform::fileExists(source.blob);
    copies.push_back({source.main, tempBeside(main)});
    if (hasBlob) copies.push_back({source.blob, tempBeside(blob)});
    if (!roomFor(copies)) return StatusDiskFull;
    for (const node::CopyPair& copy : copies) sources.emplace_back(copy.from);
  }

  // Without the system mutex: the copy beside the catalog, and the play-back of a journal
  // a writer killed mid-commit left on the old files (it may wait for file locks).
  Status status = node::lockedCopy(copies, true, nullptr, &sources);
  sources.clear();
  if (status != StatusOk) return status;
  rollBackJournals(main, blob);  // a failure leaves the journal, which the set removes
  if (verifyFirst) {
    int major = -1;
    status = node::verifyFirstCheck(copies[0].to, hasBlob ? copies[1].to : std::string(),
                                    fileCheck_, &major);
    if (status != StatusOk) {
      discardCopies(copies);
      return status;
    }
  }
  // The replaced files' permission bits are kept; new files are the owner's to read and write.
  for (size_t i = 0; i < copies.size(); ++i) {
    int mode = platform::fileMode(i == 0 ? main : blob);
    platform::setFileMode(copies[i].to, mode >= 0 ? mode : kOwnerReadWrite);
  }

  platform::NamedMutexHold system(systemMutex());
  if (isOpen() || monitor::EventQueue::catalogInUse(main)) {
    discardCopies(copies);
    return StatusNotOpen;
  }
  if (keepExisting && (platform::fileExists(main) || platform::fileExists(blob))) {
    discardCopies(copies);
    return StatusCopyFailed;
  }
  platform::RenameSet set(markerOf(main));
  removeJournals(&set, main, true);
  removeJournals(&set, blob, false);
  if (hasBlob) {
    set.replace(copies[1].to, blob);
  } else {
    set.remove(blob);
  }
  set.replace(copies[0].to, main);
  status = set.commit([](size_t step) {
    node::crashPoint(node::CrashPoint::RestoreRenames, static_cast<long>(step));
  });
  if (status != StatusOk) return status;
  int mode = platform::fileMode(main);
  if (mode < 0 || platform::setFileMode(main, mode) != StatusOk) return StatusReadOnly;
  return StatusOk;
}

long long NodeImpl::size() {
  if (noCatalog_) return -1;
  auto measure = [this] {
    long long main = platform::fileSize(mainFile()), blob = platform::fileSize(blobFile());
    return main < 0 || blob < 0 ? -1 : main + blob;
  };
  node::ConnectionLease lease(pool_);
  if (!lease) return measure();  // not open: from the files as they are
  CatalogLockHold catalog(*this);
  return measure();
}

namespace {

// Free bytes and all bytes of one catalog file, read from its header through the shared
// descriptor: the free-page count at offset 36 times the page size at offset 16 (1 meaning
// 65536). A missing file counts zero.
void addFileSpace(const std::string& path, long long* freeBytes, long long* total) {
  platform::RawFile file(path);
  if (!file.valid()) return;
  long long size = file.size();
  unsigned char head[40];
  if (size < 0 || file.readAt(0, head, sizeof head) != static_cast<int64_t>(sizeof head)) return;
  long long pageSize = (head[16] << 8) | head[17];
  if (pageSize == 1) pageSize = 65536;
  long long freePages =
      (static_cast<long long>(head[36]) << 24) | (head[37] << 16) | (head[38] << 8) | head[39];
  *freeBytes += std::min(freePages * pageSize, size);
  *total += size;
}

}  // namespace

double NodeImpl::fragmentation() {
  if (noCatalog_) return 0.0;
  auto measure = [this] {
    long long freeBytes = 0, total = 0;
    addFileSpace(mainFile(), &freeBytes, &total);
    addFileSpace(blobFile(), &freeBytes, &total);
    return total > 0 ? std::min(1.0, static_cast<double>(freeBytes) / total) : 0.0;
  };
  node::ConnectionLease lease(pool_);
  if (!lease) {
    platform::NamedMutexHold system(systemMutex());
    return measure();
  }
  CatalogLockHold catalog(*this);
  return measure();
}

Status NodeImpl::optimize() {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  // The engine cannot compact inside a transaction.
  if (lease->depth.load() > 0 || node::engineInTransaction(*lease)) return StatusBusy;
  CatalogLockHold catalog(*this);
  Status status = lease->compactBlobFile();
  if (status != StatusOk) return status;
  return node::execute(*lease, node::kVacuum);
}

}  // namespace Vendrithane
}  // namespace KESTRIN

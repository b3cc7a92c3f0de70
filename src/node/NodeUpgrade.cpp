// Open's upgrade of a catalog of the earlier storage generation. The old files stay where
// they are until the new catalog is complete:
//   1. under the catalog's upgrade lock (machine-wide, keyed by the catalog; the system mutex
//      is not held), a new catalog is made and filled beside the old files, under names
//      that the next finish of the catalog's renames removes when this process is gone;
//   2. the old files get second names (their backups) in their own directories;
//   3. one rename set puts the new files in place, so that a kill at any moment leaves the
//      old catalog or the new one, never a mix or nothing;
//   4. when open's loading steps succeed the backups are deleted; otherwise a second rename
//      set puts them back.
#include <memory>

#include "monitor/CatalogKey.h"
#include "node/CatalogRenames.h"
#include "node/FaultInjection.h"
#include "node/FormatProbe.h"
#include "node/LockedCopy.h"
#include "node/NodeImpl.h"
#include "node/OpenProgress.h"
#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "platform/RenameSet.h"
#include "platform/SystemInfo.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr char kBackupInfix[] = "-Pre-v6-Upgrade-Backup";  // in the old files' backup names

// Removes a side file of the conversion with its journals.
void discardSideFile(const std::string& file) {
  platform::deleteFile(file);
  platform::deleteFile(node::journalOf(file));
  std::string dir = platform::directoryOf(file);
  for (const std::string& name : platform::filesWithPrefix(dir, file.substr(dir.size()) + "-mj"))
    platform::deleteFile(dir + name);
}

// The backups' names: beside each old file, a temporary name of it (so that a rename set can
// put it back, and the next finish of the renames removes it when this process is gone),
// free for both files.
void backupNames(const std::string& main, const std::string& blob, std::string* backupMain,
                 std::string* backupBlob) {
  std::string suffix =
      platform::kRenameTempInfix + std::to_string(platform::processId()) + kBackupInfix;
  for (long number = 0;; ++number) {
    std::string tail = number == 0 ? suffix : suffix + std::to_string(number);
    *backupMain = main + tail;
    *backupBlob = blob + tail;
    if (!platform::fileExists(*backupMain) && !platform::fileExists(*backupBlob)) return;
  }
}

}  // namespace

Status NodeImpl::upgradeOldCatalog(const std::string& main, const std::string& blob,
                                   OpenProgress* progress) {
  // One upgrade of a catalog at a time on the machine; a second open waits, then finds the
  // new files (or the old ones again, when this upgrade failed).
  std::string key = monitor::catalogKey(monitor::normalisedPath(main));
  auto lock = std::make_unique<platform::NamedMutex>(monitor::catalogUpgradeName(key),
                                                     platform::LockRank::kUpgrade, key);
  if (!lock->valid()) return StatusUpgradeFailed;
  auto hold = std::make_unique<platform::NamedMutexHold>(*lock);
  progress->upgradeLock = std::move(lock);
  progress->upgradeHold = std::move(hold);
  {
    platform::NamedMutexHold system(systemMutex());
    if (finishCatalogRenames() != StatusOk) return StatusCopyFailed;
  }
  node::FormatCheck check = node::checkFormat(main, blob, this);
  if (check.status != StatusUpgradeNeeded || check.format <= node::kLastOldFormat)
    return check.status;  // upgraded meanwhile (0), or no longer a catalog to upgrade
  if (node::oldJournalPresent(main, blob)) return StatusCorrupt;

  // The new catalog beside the old one.
  std::string newMain = node::tempBeside(main), newBlob = node::tempBeside(blob);
  auto discard = [&] {
    discardSideFile(newMain);
    discardSideFile(newBlob);
  };
  Status status;
  try {
    status = makeCatalogFiles(newMain, newBlob);
  } catch (Status thrown) {
    status = thrown;
  }
  if (status != StatusOk) {
    discard();
    return StatusUpgradeFailed;
  }
  std::string dropped;
  status = assetLayer().convertLegacy(main, blob, newMain, newBlob, &dropped);
  // A journal the engine could not delete would not follow its file: one that still holds
  // pages leaves the new file's state in doubt, an emptied one is only a leftover.
  for (const std::string& file : {newMain, newBlob}) {
    if (status == StatusOk && platform::fileStartsNonZero(node::journalOf(file)))
      status = StatusUpgradeFailed;
    platform::deleteFile(node::journalOf(file));
  }
  if (status != StatusOk) {
    discard();
    return status;
  }
  node::crashPoint(node::CrashPoint::UpgradeBackups, 0);

  // The old files' backups: second names of the same files, so nothing is copied.
  std::string backupMain, backupBlob;
  backupNames(main, blob, &backupMain, &backupBlob);
  bool hasBlob = platform::fileExists(blob);
  if (platform::linkFile(main, backupMain) != StatusOk) {
    discard();
    return StatusCopyFailed;
  }
  if (hasBlob && platform::linkFile(blob, backupBlob) != StatusOk) {
    platform::deleteFile(backupMain);
    discard();
    return StatusCopyFailed;
  }
  node::crashPoint(node::CrashPoint::UpgradeBackups, 1);

  platform::NamedMutexHold system(systemMutex());
  platform::RenameSet set(node::markerOf(main));
  node::removeJournals(&set, main, true);
  node::removeJournals(&set, blob, false);
  set.replace(newBlob, blob);
  set.replace(newMain, main);
  status = set.commit([](size_t step) {
    node::crashPoint(node::CrashPoint::UpgradeRenames, static_cast<long>(step));
  });
  if (status != StatusOk) {
    // Decided but stopped at a step: the next finish of the renames completes the set,
    // which needs the new files; the backups go with this process's other leftovers. Not
    // decided: the old files are untouched.
    if (!platform::fileExists(node::markerOf(main))) {
      discard();
      platform::deleteFile(backupMain);
      if (hasBlob) platform::deleteFile(backupBlob);
    }
    return status;
  }
  progress->upgraded = true;
  progress->main = main;
  progress->blob = blob;
  progress->backupMain = backupMain;
  progress->backupBlob = hasBlob ? backupBlob : std::string();
  progress->dropped = std::move(dropped);
  return StatusOk;
}

void NodeImpl::keepOrRestoreUpgrade(const OpenProgress& progress, bool keep) {
  if (keep) {
    platform::deleteFile(progress.backupMain);
    if (!progress.backupBlob.empty()) platform::deleteFile(progress.backupBlob);
    return;
  }
  // The connections are closed: the old files go back as one set, the new ones with it.
  platform::NamedMutexHold system(systemMutex());
  platform::RenameSet set(node::markerOf(progress.main));
  node::removeJournals(&set, progress.main, true);
  node::removeJournals(&set, progress.blob, false);
  if (progress.backupBlob.empty()) {
    set.remove(progress.blob);
  } else {
    set.replace(progress.backupBlob, progress.blob);
  }
  set.replace(progress.backupMain, progress.main);
  set.commit();
}

}  // namespace Vendrithane
}  // namespace KESTRIN

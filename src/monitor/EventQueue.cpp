// The queue operations: attach with slot search and take-over, post, read, detach.
//
// Slots outlive the processes that use them, and a process killed with SIGKILL never
// detaches: each attached node holds a shared lock on its catalog's liveness file, and a
// slot whose liveness file nobody holds belongs to nobody, whatever its attach count says.
// Attach and the final part of detach run under the system mutex, so liveness cannot change
// under them.
#include "monitor/EventQueue.h"

#include <chrono>
#include <thread>

#include "monitor/CatalogKey.h"
#include "platform/MachineCounter.h"
#include "platform/ObjectNames.h"

namespace KESTRIN {
namespace Vendrithane {
namespace monitor {

namespace {

void initialiseNewSection(void* data) {
  initialiseSection(static_cast<SectionLayout*>(data));
}

// Removes the per-catalog objects of catalog K (nobody uses them any more). Caller holds
// the system mutex.
void removeCatalogObjects(const std::string& k) {
  platform::removeObjectFile(platform::objectPath(catalogMutexName(k)));
  platform::removeObjectFile(platform::objectPath(catalogEventName(k)));
  platform::removeObjectFile(platform::objectPath(catalogLivenessName(k)));
}

// Whether a live process is attached to the catalog holding the slot with key `slotKey`.
bool slotInUse(const std::string& slotKey) {
  std::string k = catalogKeyOfSlot(slotKey);
  return !k.empty() && platform::LivenessFile::inUse(catalogLivenessName(k));
}

// A slot's attach count moved by one. The count lies in world-writable memory and may hold
// anything: it is kept within [0, INT32_MAX] rather than overflowing.
int32_t countUp(int32_t count) {
  return count < 0 ? 1 : count == INT32_MAX ? count : count + 1;
}
int32_t countDown(int32_t count) {
  return count <= 0 ? 0 : count - 1;
}

uint32_t drawPosterIdentity() {
  platform::MachineCounter counter(posterCounterName());
  return counter.next();
}

}  // namespace

bool EventQueue::catalogInUse(const std::string& mainFile) {
  try {
    return platform::LivenessFile::inUse(catalogLivenessName(catalogKey(normalisedPath(mainFile))));
  } catch (Status) {
    return false;
  }
}

EventQueue::EventQueue()
    : section_(platform::objectPath(sectionName()), sizeof(SectionLayout), initialiseNewSection),
      systemMutex_(systemMutexName(), platform::LockRank::kSystem),
      poster_(drawPosterIdentity()) {}

EventQueue::~EventQueue() {
  while (localCount_.load() > 0) {
    try {
      detach(false);
    } catch (Status) {
      break;
    }
  }
}

QueueSlot* EventQueue::claimSlot() {
  SectionLayout* s = section();
  if (__atomic_load_n(&s->initialised, __ATOMIC_ACQUIRE) != 1) initialiseSection(s);
  // This catalog's slot: join it, or take it over when its users are all gone.
  for (QueueSlot& slot : s->slots) {
    bool terminated;
    if (slotKey(slot, &terminated) != slotKey_ || !terminated) continue;
    if (slotInUse(slotKey_)) {
      slot.attachCount = countUp(slot.attachCount);
    } else {
      initialiseSlot(&slot, slotKey_);
    }
    return &slot;
  }
  // A free slot, the highest first; then one whose users are all dead.
  for (int i = kSlotCount - 1; i >= 0; --i) {
    if (s->slots[i].key[0] != 0) continue;
    initialiseSlot(&s->slots[i], slotKey_);
    return &s->slots[i];
  }
  for (int i = kSlotCount - 1; i >= 0; --i) {
    bool terminated;
    std::string other = slotKey(s->slots[i], &terminated);
    if (terminated && slotInUse(other)) continue;
    std::string otherK = terminated ? catalogKeyOfSlot(other) : "";
    if (!otherK.empty()) removeCatalogObjects(otherK);
    initialiseSlot(&s->slots[i], slotKey_);
    return &s->slots[i];
  }
  throw StatusNoFreeSlot;
}

void EventQueue::attach(const std::string& mainFile) {
  platform::NamedMutexHold system(systemMutex_);
  if (++localCount_ != 1) return;  // a monitor of an attached node only counts
  // A detach of this node that is giving back ids between its steps finds the count up
  // again and keeps the slot.
  if (slot_) return;
  try {
    std::string normalised = normalisedPath(mainFile);
    key_ = catalogKey(normalised);
    slotKey_ = slotKeyFor(normalised);
    catalogMutex_ =
        platform::NamedMutex(catalogMutexName(key_), platform::LockRank::kCatalog, key_);
    event_ = platform::NamedEvent(catalogEventName(key_));
    try {
      slot_ = claimSlot();
      liveness_.hold(catalogLivenessName(key_));
    } catch (...) {
      if (slot_) {  // taken but not held: give the count back
        slot_->attachCount = countDown(slot_->attachCount);
        if (slot_->attachCount == 0 && !slotInUse(slotKey_)) freeSlot(slot_);
        slot_ = nullptr;
      }
      throw;
    }
    // Records posted before the attach are not ours. The count is read without the
    // per-catalog mutex (the system mutex is never held while waiting for it); a post
    // writes its record before it moves the count.
    readPosition_ = __atomic_load_n(&slot_->writeCount, __ATOMIC_ACQUIRE);
    normalised_ = normalised;
  } catch (...) {
    // Objects made for a catalog that got no slot are used by nobody: remove them.
    bool unused = !key_.empty() && !slotInUse(slotKey_);
    std::string k = key_;
    closeCatalogObjects();
    if (unused) removeCatalogObjects(k);
    --localCount_;
    throw;
  }
}

bool EventQueue::attachMonitor() {
  platform::NamedMutexHold system(systemMutex_);
  if (localCount_.load() <= 0 || slot_ == nullptr) return false;
  ++localCount_;
  return true;
}

void EventQueue::closeCatalogObjects() {
  event_.close();
  catalogMutex_.close();
  liveness_.release();
  slot_ = nullptr;
  readPosition_ = 0;
  normalised_.clear();
  key_.clear();
  slotKey_.clear();
}

Status EventQueue::detach(bool monitor) {
  if (localCount_.load() <= 0 || !catalogMutex_.valid()) return StatusOk;
  if (!monitor && localCount_.load() > 1 && stopMonitoringHandler && stopMonitoringHandler()) {
    // A monitor runs: stop it, wake it and give it up to 5000 ms to end, holding no lock
    // (a monitor ending takes the system mutex).
    post(kEventWakeUp, -1);
    for (int waited = 0; localCount_.load() > 1 && waited < kDetachWaitMs; waited += kDetachStepMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(kDetachStepMs));
  }
  return release(monitor);
}

// The per-catalog mutex is only tried here, never waited for: a close may come from inside
// a transaction on another catalog (two catalogs' mutexes would be taken against the order
// of their keys), or while another process holds a transaction open. A live holder is a
// user of the catalog, so this leave is not the last one and has no ids to give back; the
// steps that decide the leave run under the system mutex either way. (The analysis cannot
// follow a hold that depends on the try.)
Status EventQueue::release(bool monitor) NO_THREAD_SAFETY_ANALYSIS {
  bool held = false;
  try {
    held = tryLock();
  } catch (Status) {
    // an unusable mutex: leave without it
  }
  Status status = StatusOk;
  bool counted = true;  // the caller's count is still in localCount_
  bool gaveBack = false;
  for (;;) {
    bool giveBack = false;
    {
      platform::NamedMutexHold system(systemMutex_);
      if (counted) {
        counted = false;
        if (--localCount_ > 0) {
          // The node closes while its monitor runs on: the monitor leaves when it ends.
          if (!monitor) leavePending_ = true;
          if (held) unlock();
          return StatusOk;
        }
      } else if (localCount_.load() > 0) {
        // The node was opened again while ids went back: it keeps the slot, from now on.
        catchUp();
        unlock();
        return status;
      }
      // The last local user leaves. When no other process uses the catalog, the unused
      // ids go back first, with the system mutex released (they are written to the file).
      giveBack =
          held && !gaveBack && giveBackIds && !liveness_.othersHold(catalogLivenessName(key_));
      if (!giveBack) return leaveSlot(status, held);
    }
    gaveBack = true;
    status = giveBackIds();
  }
}

Status EventQueue::leaveSlot(Status status, bool held) {
  leavePending_ = false;
  liveness_.release();
  bool last = !slotInUse(slotKey_);
  if (last) {
    slot_->attachCount = 0;
    freeSlot(slot_);
  } else {
    slot_->attachCount = countDown(slot_->attachCount);
  }
  std::string k = key_;
  if (held) unlock();
  closeCatalogObjects();
  if (last) removeCatalogObjects(k);
  return status;
}

bool EventQueue::tryLock() {
  if (!catalogMutex_.valid()) throw StatusNotOpen;
  bool abandoned = false;
  if (!catalogMutex_.tryLock(&abandoned)) return false;
  forgetAbandonedBlock(abandoned);
  return true;
}

void EventQueue::forgetAbandonedBlock(bool abandoned) {
  if (!abandoned || !slot_) return;
  slot_->nextId = -1;
  slot_->maxId = -1;
}

bool EventQueue::lock() {
  if (!catalogMutex_.valid()) throw StatusNotOpen;
  bool abandoned = catalogMutex_.lock();
  forgetAbandonedBlock(abandoned);
  return abandoned;
}

void EventQueue::unlock() {
  catalogMutex_.unlock();
}

void EventQueue::post(int kind, int id) {
  lock();
  if (!slot_) {
    unlock();
    throw StatusNotOpen;
  }
  uint32_t written = slot_->writeCount;
  slot_->ring[written & kRingMask] = EventRecord{kind, id, poster_};
  slot_->writeCount = written + 1;
  // A poster that had read everything stays up to date; one with unread records of other
  // nodes keeps its position and meets its own record as such when it gets there.
  if (readPosition_ == written) readPosition_ = written + 1;
  unlock();
  event_.pulse();
}

int EventQueue::readNext(int* id) {
  lock();
  if (!slot_) {
    unlock();
    throw StatusNotOpen;
  }
  if (readPosition_ == slot_->writeCount) {
    unlock();
    return kEventNone;
  }
  EventRecord record = slot_->ring[readPosition_ & kRingMask];
  ++readPosition_;
  unlock();
  *id = record.id;
  if (record.poster == poster_) return 0;
  if (record.kind < kEventWakeUp || record.kind > kEventRecordDeleted) {
    *id = -1;  // damaged bytes: the safe reading is "rebuild everything"
    return kEventCatalogChanged;
  }
  return record.kind;
}

uint32_t EventQueue::behind() const {
  return slot_ ? slot_->writeCount - readPosition_ : 0;
}

void EventQueue::catchUp() {
  if (slot_) readPosition_ = slot_->writeCount;
}

int32_t EventQueue::nextId() const {
  return slot_ ? slot_->nextId : -1;
}
void EventQueue::nextId(int32_t value) {
  if (slot_) slot_->nextId = value;
}
int32_t EventQueue::maxId() const {
  return slot_ ? slot_->maxId : -1;
}
void EventQueue::maxId(int32_t value) {
  if (slot_) slot_->maxId = value;
}

uint32_t EventQueue::snapshot() const {
  return event_.valid() ? event_.snapshot() : 0;
}

bool EventQueue::wait(uint32_t seen, int timeoutMs) const {
  if (!event_.valid()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return false;
  }
  return event_.wait(seen, timeoutMs);
}

}  // namespace monitor
}  // namespace Vendrithane
}  // namespace KESTRIN

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

EventQueue::EventQueue()
    : section_(platform::objectPath(sectionName()), sizeof(SectionLayout), initialiseNewSection),
      systemMutex_(systemMutexName()),
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
  try {
    std::string normalised = normalisedPath(mainFile);
    key_ = catalogKey(normalised);
    slotKey_ = slotKeyFor(normalised);
    catalogMutex_ = platform::NamedMutex(catalogMutexName(key_));
    bool abandoned = catalogMutex_.lock();
    try {
      event_ = platform::NamedEvent(catalogEventName(key_));
      slot_ = claimSlot();
      if (abandoned) {
        slot_->nextId = -1;
        slot_->maxId = -1;
      }
      liveness_.hold(catalogLivenessName(key_));
    } catch (...) {
      if (slot_) {  // taken but not held: give the count back
        slot_->attachCount = countDown(slot_->attachCount);
        if (slot_->attachCount == 0 && !slotInUse(slotKey_)) freeSlot(slot_);
        slot_ = nullptr;
      }
      catalogMutex_.unlock();
      throw;
    }
    readPosition_ = slot_->writeCount;  // records posted before the attach are not ours
    normalised_ = normalised;
    catalogMutex_.unlock();
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
  if (monitor) {
    // A monitor ending never leaves the slot while its node still counts, and must not wait
    // for the system mutex then: a closing node may hold it while waiting for this monitor.
    if (localCount_.load() <= 0 || !slot_) return StatusOk;
    if (leavePending_) {
      // The node closed while this monitor ran on past the close's wait (which has ended, so
      // the system mutex is not held for this monitor): the leave is this thread's.
      platform::NamedMutexHold system(systemMutex_);
      lock();
      if (--localCount_ == 0 && leavePending_.exchange(false)) return leaveSlot();
      unlock();
      return StatusOk;
    }
    lock();
    bool last = --localCount_ == 0;
    unlock();
    if (!last || !leavePending_.exchange(false)) return StatusOk;
    // The close gave up waiting just now.
    platform::NamedMutexHold system(systemMutex_);
    lock();
    if (localCount_.load() == 0) return leaveSlot();
    unlock();  // attached again meanwhile: the node's own close leaves
    return StatusOk;
  }
  platform::NamedMutexHold system(systemMutex_);
  if (localCount_.load() <= 0 || !slot_) return StatusOk;
  lock();
  int before = localCount_--;
  if (before == 2 && stopMonitoringHandler && stopMonitoringHandler()) {
    post(kEventWakeUp, -1);
    for (int waited = 0; localCount_.load() > 0 && waited < kDetachWaitMs;
         waited += kDetachStepMs) {
      unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(kDetachStepMs));
      lock();
    }
    // A monitor still running leaves the slot itself when it ends.
    if (localCount_.load() > 0) leavePending_ = true;
  }
  if (localCount_.load() > 0) {
    unlock();
    return StatusOk;
  }
  return leaveSlot();
}

Status EventQueue::leaveSlot() {
  // Last local user: the catalog's last live user once this node's liveness lock is gone.
  leavePending_ = false;
  liveness_.release();
  bool last = !slotInUse(slotKey_);
  Status status = StatusOk;
  if (last && giveBackIds) status = giveBackIds();
  if (last) {
    slot_->attachCount = 0;
    freeSlot(slot_);
  } else {
    slot_->attachCount = countDown(slot_->attachCount);
  }
  std::string k = key_;
  unlock();
  closeCatalogObjects();
  if (last) removeCatalogObjects(k);
  return status;
}

bool EventQueue::lock() {
  if (!catalogMutex_.valid()) throw StatusNotOpen;
  bool abandoned = catalogMutex_.lock();
  if (abandoned && slot_) {
    slot_->nextId = -1;
    slot_->maxId = -1;
  }
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

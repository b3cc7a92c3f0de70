// EventQueue: one node's place in the machine-wide change-event queue. It holds the node's
// slot, its read position, its node-local attach count (1 while the node is open, plus 1 per
// running monitor), its identity as a poster, and the per-catalog mutex, event and liveness
// file. The per-catalog mutex also guards the catalog's id block (nextId, maxId).
//
// Thread safety: attach and detach may run on any thread; post, readNext, the read-position
// calls and the id-block accessors run under the per-catalog mutex (post and readNext take it
// themselves, the accessors expect the caller to hold it through lock()).
#ifndef VENDRITHANE_MONITOR_EVENTQUEUE_H
#define VENDRITHANE_MONITOR_EVENTQUEUE_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "monitor/SectionLayout.h"
#include "platform/LivenessFile.h"
#include "platform/NamedEvent.h"
#include "platform/NamedMutex.h"
#include "platform/SharedObject.h"
#include "platform/ThreadAnnotations.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace monitor {

class EventQueue {
 public:
  static constexpr int kDetachWaitMs = 5000;  // how long a closing node waits for its monitor
  static constexpr int kDetachStepMs = 100;   // in steps of this length

  // Opens the section and the system mutex and draws a machine-wide poster identity.
  // Throws StatusSharedObjectFailed.
  EventQueue();
  // Leaves the slot if still attached.
  ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Whether a live process (this one included) has the catalog whose main file is
  // `mainFile` attached, by its liveness file; false when the path cannot be resolved.
  // Callers hold the system mutex, under which attaches and final detaches happen.
  static bool catalogInUse(const std::string& mainFile);

  // Joins the slot of the catalog whose main file is `mainFile` (at open, and again by each
  // monitor, which only counts). Throws StatusNoFreeSlot when four other catalogs are in use
  // by live processes, StatusNotFound when the path cannot be resolved, or the status of a
  // failing machine-wide object; a failed attach leaves everything as it was.
  void attach(const std::string& mainFile);
  // Counts a monitor of the node, which must be attached already: false, with nothing
  // counted, when it is not (the node is closed or closing). The monitor leaves through
  // detach(true).
  bool attachMonitor();

  // Leaves the slot (monitor: a monitor ending). A closing node with a running monitor stops
  // it through stopMonitoringHandler, posts a wake-up and waits up to 5000 ms for it to end,
  // holding no lock; a monitor that runs on past that wait leaves the slot itself when it
  // ends. The per-catalog mutex is tried, never waited for. The last local detach gives
  // back ids through giveBackIds when it got that mutex and no other process holds the
  // catalog (under the per-catalog mutex, without the system mutex), then frees the slot
  // when nobody is left and removes the catalog's objects. Returns 0, or the status of
  // giveBackIds (the detach is completed regardless).
  Status detach(bool monitor);

  // Appends one record and pulses the catalog's event. Throws StatusNotOpen when detached.
  void post(int kind, int id);
  // The kind of the next record with its id in *id; 0 for a record this node posted and
  // kEventNone (8) when nothing is pending.
  int readNext(int* id);
  // Records posted since this node's read position; more than 65535 means records were lost
  // and the caller must rebuild (then catchUp()). Caller holds lock().
  uint32_t behind() const REQUIRES(catalogMutex_);
  bool lost() const REQUIRES(catalogMutex_) { return behind() > kRingMask; }
  void catchUp() REQUIRES(catalogMutex_);  // read position = write count

  // The per-catalog mutex (recursive). When its previous owner died holding it, the id
  // block is forgotten (that process's transaction may be undone by its journal) and true
  // is returned. Throws StatusMutexUnrecoverable, StatusNotOpen when detached.
  bool lock() ACQUIRE(catalogMutex_);
  void unlock() RELEASE(catalogMutex_);
  // The per-catalog mutex as a capability, for annotations of the layers above.
  const platform::NamedMutex& catalogMutex() const RETURN_CAPABILITY(catalogMutex_) {
    return catalogMutex_;
  }
  // Tells the analysis (and, in checked builds, verifies) that the calling thread holds the
  // per-catalog mutex: the outermost transaction begin took it, its end releases it.
  void assertLocked() const ASSERT_CAPABILITY(catalogMutex_) { catalogMutex_.assertHeld(); }

  // The catalog's shared id block; caller holds lock().
  int32_t nextId() const REQUIRES(catalogMutex_);
  void nextId(int32_t value) REQUIRES(catalogMutex_);
  int32_t maxId() const REQUIRES(catalogMutex_);
  void maxId(int32_t value) REQUIRES(catalogMutex_);
  // For diagnostics: the block read without the mutex (-1 when detached); may be torn.
  void peekIdBlock(int32_t* next, int32_t* max) const NO_THREAD_SAFETY_ANALYSIS {
    *next = nextId();
    *max = maxId();
  }

  // Monitor waits on the catalog's event: take the snapshot before dispatching, wait on it
  // after, so that no pulse in between is lost. wait returns false on time-out.
  uint32_t snapshot() const;
  bool wait(uint32_t seen, int timeoutMs) const;

  bool attached() const { return slot_ != nullptr; }
  int localCount() const { return localCount_.load(); }
  uint32_t poster() const { return poster_; }
  const std::string& normalised() const { return normalised_; }  // "" until attached
  const std::string& key() const { return key_; }                // K, "" until attached
  platform::NamedMutex& systemMutex() { return systemMutex_; }

  // Set by the node: asks its running monitor to end; false when none runs (or the caller is
  // the monitor's own thread, which must not wait for itself).
  std::function<bool()> stopMonitoringHandler;
  // Set by the transactions layer: gives back the unused ids of the current block when the
  // last user of the catalog leaves, returning a status (run under the per-catalog mutex).
  std::function<Status()> giveBackIds;

 private:
  SectionLayout* section() const { return static_cast<SectionLayout*>(section_.data()); }
  // Finds or takes the slot of slotKey_; caller holds both mutexes. Throws StatusNoFreeSlot.
  QueueSlot* claimSlot();
  void closeCatalogObjects();  // drops the handles of the per-catalog objects
  // One local use ends (after the monitor wait of a closing node); the last leaves the slot.
  Status release(bool monitor) EXCLUDES(systemMutex_);
  // Leaves the slot for good (the node's last local use ended); caller holds the system
  // mutex, and the per-catalog one when `held`, which this releases. Returns `status`.
  Status leaveSlot(Status status, bool held) REQUIRES(systemMutex_) NO_THREAD_SAFETY_ANALYSIS;
  // The per-catalog mutex when no other thread holds it (see lock()); false at once when one
  // does.
  bool tryLock() TRY_ACQUIRE(true, catalogMutex_);
  // A dead owner's transaction may be undone by its journal: its id block is forgotten.
  void forgetAbandonedBlock(bool abandoned) REQUIRES(catalogMutex_);

  platform::SharedObject section_;         // the shared section
  platform::NamedMutex systemMutex_;       // the system mutex
  platform::NamedMutex catalogMutex_;      // per-catalog mutex, while attached
  platform::NamedEvent event_;             // per-catalog event, while attached
  platform::LivenessFile liveness_;        // shared lock on the liveness file, while attached
  QueueSlot* slot_ = nullptr;              // this catalog's slot, while attached
  uint32_t readPosition_ = 0;              // next record to read; guarded by the catalog mutex
  std::atomic<int> localCount_{0};         // node-local attach count
  std::atomic<bool> leavePending_{false};  // closed while a monitor ran on: it leaves
  uint32_t poster_;                        // identity in the poster field, unique on the machine
  std::string normalised_;                 // normalised path of the main file, while attached
  std::string key_;                        // K, while attached
  std::string slotKey_;                    // text of the slot key, while attached
};

}  // namespace monitor
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_MONITOR_EVENTQUEUE_H

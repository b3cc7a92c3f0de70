// Fuzz target for the machine-wide event section. The section is world-writable, so any
// bytes may stand in it: each input is a program of steps that damages slots (keys, counts,
// ring indexes, ring records, the initialised flag, raw bytes anywhere) and drives two
// queues of this process through attach, post, readNext, the id block and detach, on one
// or two catalogs. Nothing may crash or read outside the section; a read gives a kind from
// 0 to 8; and once both queues are gone nobody holds the catalogs any more and a fresh
// attach succeeds, whatever the section holds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "FuzzScratch.h"
#include "monitor/CatalogKey.h"
#include "monitor/EventQueue.h"
#include "monitor/SectionLayout.h"
#include "platform/LivenessFile.h"
#include "platform/ObjectNames.h"
#include "platform/SharedObject.h"

using namespace KESTRIN::Vendrithane;

namespace {

constexpr int kMaxSteps = 96;  // steps per input
constexpr int kQueues = 2;     // queues driven by one input

// The two catalogs, their slot keys and liveness names, and the section, made once.
struct SectionWorld {
  std::string files[2];
  std::string slotKeys[2];
  std::string liveness[2];
  platform::SharedObject section;

  SectionWorld() {
    const std::string& dir = vdfuzz::scratch("section").directory;
    for (int k = 0; k < 2; ++k) {
      files[k] = dir + (k == 0 ? "one.vd" : "two.vd");
      std::ofstream(files[k]).put('\0');
      const std::string normalised = monitor::normalisedPath(files[k]);
      slotKeys[k] = monitor::slotKeyFor(normalised);
      liveness[k] = monitor::catalogLivenessName(monitor::catalogKey(normalised));
    }
    section = platform::SharedObject(platform::objectPath(monitor::sectionName()),
                                     sizeof(monitor::SectionLayout));
  }

  monitor::SectionLayout* layout() { return static_cast<monitor::SectionLayout*>(section.data()); }
};

SectionWorld& world() {
  static SectionWorld* w = new SectionWorld;  // kept to the end: queues may outlive statics
  return *w;
}

// Damages one header field of a slot.
void pokeField(monitor::QueueSlot& slot, int field, uint32_t value) {
  int32_t* fields[] = {&slot.capacity, &slot.mask, &slot.attachCount, &slot.nextId, &slot.maxId};
  if (field < 5) {
    std::memcpy(fields[field], &value, sizeof value);
  } else {
    slot.writeCount = value;
  }
}

// Writes a key into a slot: one of the catalogs' own keys (whole, or with its terminator
// overwritten so that the field holds no NUL), or bytes of the input.
void pokeKey(monitor::QueueSlot& slot, uint8_t how, vdfuzz::FuzzInput& in) {
  SectionWorld& w = world();
  std::memset(slot.key, 0, monitor::kKeyBytes);
  switch (how % 4) {
    case 0:
    case 1: {
      const std::string& key = w.slotKeys[how % 2];
      std::memcpy(slot.key, key.data(), std::min(key.size(), monitor::kKeyBytes - 1));
      break;
    }
    case 2:
      std::memset(slot.key, in.byte() | 1, monitor::kKeyBytes);  // no terminator
      break;
    default: {
      const std::string_view bytes = in.text();
      std::memcpy(slot.key, bytes.data(), bytes.size());
      break;
    }
  }
}

// Runs one step; returns false when the input is used up.
bool step(vdfuzz::FuzzInput& in, std::unique_ptr<monitor::EventQueue> (&queues)[kQueues]) {
  if (in.empty()) return false;
  SectionWorld& w = world();
  monitor::SectionLayout* s = w.layout();
  const uint8_t op = in.byte();
  const uint8_t arg = in.byte();
  std::unique_ptr<monitor::EventQueue>& q = queues[arg & 1];
  monitor::QueueSlot& slot = s->slots[(arg >> 1) & 3];
  switch (op % 12) {
    case 0:  // attach (a second attach counts as a monitor)
      if (!q) q = std::make_unique<monitor::EventQueue>();
      try {
        q->attach(w.files[(arg >> 3) & 1]);
      } catch (Status) {
      }
      break;
    case 1:  // detach, as the node or as one of its monitors
      if (q) {
        const bool monitor = (arg & 2) != 0 && q->localCount() >= 2;
        try {
          q->detach(monitor);
        } catch (Status) {
        }
      }
      break;
    case 2:  // post any kind and id
      if (q) {
        const int kind = static_cast<int8_t>(in.byte());
        const int id = static_cast<int32_t>(in.number(4));
        try {
          q->post(kind, id);
        } catch (Status) {
        }
      }
      break;
    case 3:  // read what is pending
      if (q) {
        for (int n = (arg >> 3) + 1; n > 0; --n) {
          int id = 0;
          int kind;
          try {
            kind = q->readNext(&id);
          } catch (Status) {
            break;
          }
          VDFUZZ_CHECK(kind >= monitor::kEventWakeUp && kind <= monitor::kEventNone);
          if (kind == monitor::kEventNone) break;
        }
      }
      break;
    case 4:
      pokeField(slot, (arg >> 3) % 6, in.number(4));
      break;
    case 5:
      pokeKey(slot, arg >> 3, in);
      break;
    case 6: {  // a ring record, at an index near the write count or anywhere
      const uint32_t index = (arg & 8) ? slot.writeCount - (arg >> 4) : in.number(4);
      const std::string_view bytes = in.take(sizeof(monitor::EventRecord));
      std::memcpy(&slot.ring[index & monitor::kRingMask], bytes.data(), bytes.size());
      break;
    }
    case 7: {  // raw bytes anywhere in the section
      const uint32_t offset = in.number(3) % sizeof(monitor::SectionLayout);
      const std::string_view bytes = in.text();
      const size_t n = std::min(bytes.size(), sizeof(monitor::SectionLayout) - offset);
      std::memcpy(reinterpret_cast<char*>(s) + offset, bytes.data(), n);
      break;
    }
    case 8:
      s->initialised = static_cast<int32_t>(in.number(4));
      break;
    case 9:  // the id block, under the catalog mutex
      if (q && q->attached()) {
        try {
          q->lock();
          const int32_t next = q->nextId();
          if (arg & 8) q->nextId(static_cast<int32_t>(in.number(4)));
          if (arg & 16) q->maxId(next);
          if (q->lost()) q->catchUp();
          q->unlock();
        } catch (Status) {
        }
      }
      break;
    case 10:  // many posts: the ring wraps
      if (q) {
        for (int n = in.byte(); n > 0; --n) {
          try {
            q->post(monitor::kEventRecordUpdated, n);
          } catch (Status) {
            break;
          }
        }
      }
      break;
    default:  // a write count just below its wrap
      slot.writeCount = 0xFFFFFFF0u + (arg >> 4);
      break;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SectionWorld& w = world();
  monitor::initialiseSection(w.layout());
  vdfuzz::FuzzInput in(data, size);
  {
    std::unique_ptr<monitor::EventQueue> queues[kQueues];
    for (int n = 0; n < kMaxSteps && step(in, queues); ++n) {
    }
  }
  // Every queue has left: the catalogs belong to nobody and can be joined again.
  for (int k = 0; k < 2; ++k) {
    VDFUZZ_CHECK(!platform::LivenessFile::inUse(w.liveness[k]));
    monitor::EventQueue fresh;
    fresh.attach(w.files[k]);
    VDFUZZ_CHECK(fresh.attached());
    fresh.detach(false);
    VDFUZZ_CHECK(!platform::LivenessFile::inUse(w.liveness[k]));
  }
  return 0;
}

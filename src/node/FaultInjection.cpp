// The fault switch of the catalog VFS: per-kind call counters and the armed plan, all atomics
// so that any thread's call may count or fail without a lock.
#include "node/FaultInjection.h"

#include <cstdlib>

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {
std::atomic<int> g_crashPoint{0};   // the armed crash point (CrashPoint::None: none)
std::atomic<long> g_crashStep{-1};  // its step
}  // namespace

void setCrashPointForTesting(CrashPoint point, long step) {
  g_crashStep.store(step);
  g_crashPoint.store(static_cast<int>(point));
}

void crashPoint(CrashPoint point, long step) {
  if (g_crashPoint.load() == static_cast<int>(point) && g_crashStep.load() == step)
    std::_Exit(kCrashExitCode);
}

namespace detail {
std::atomic<bool> g_faultSwitchOn{false};
}  // namespace detail

namespace {

std::atomic<long> g_calls[kFaultKinds];  // calls seen per kind since arming or counting
std::atomic<bool> g_armed{false};        // a plan is in force (else only counting)
std::atomic<int> g_kind{0};              // the plan's kind
std::atomic<long> g_nth{0};              // the plan's first failing call
std::atomic<int> g_code{0};              // the plan's engine result
std::atomic<bool> g_sticky{false};       // the plan fails every call from nth on
std::atomic<long> g_injected{0};         // calls failed under the plan

// Switches off, restarts the counters and sets the mode; the caller then turns it on.
void restart(bool armed) {
  detail::g_faultSwitchOn.store(false);
  for (auto& calls : g_calls) calls.store(0);
  g_injected.store(0);
  g_armed.store(armed);
}

}  // namespace

const char* faultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Read:
      return "read";
    case FaultKind::Write:
      return "write";
    case FaultKind::Sync:
      return "sync";
    case FaultKind::Truncate:
      return "truncate";
    case FaultKind::Lock:
      return "lock";
    case FaultKind::Delete:
      return "delete";
  }
  return "?";
}

void setFaultForTesting(const FaultPlan& plan) {
  restart(true);
  g_kind.store(static_cast<int>(plan.kind));
  g_nth.store(plan.nth);
  g_code.store(plan.code);
  g_sticky.store(plan.sticky);
  detail::g_faultSwitchOn.store(true);
}

void countFaultCallsForTesting() {
  restart(false);
  detail::g_faultSwitchOn.store(true);
}

void clearFaultForTesting() {
  detail::g_faultSwitchOn.store(false);
  g_armed.store(false);
}

long faultCallsForTesting(FaultKind kind) {
  return g_calls[static_cast<int>(kind)].load();
}

long faultsInjectedForTesting() {
  return g_injected.load();
}

int detail::injectedFaultSlow(FaultKind kind) {
  const long n = g_calls[static_cast<int>(kind)].fetch_add(1) + 1;
  if (!g_armed.load() || g_kind.load() != static_cast<int>(kind)) return 0;
  const long nth = g_nth.load();
  if (n != nth && !(g_sticky.load() && n > nth)) return 0;
  g_injected.fetch_add(1);
  return g_code.load();
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

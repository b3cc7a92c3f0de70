// Test support: the Status that a call throws.
#ifndef VENDRITHANE_TESTS_HELPERS_STATUSOF_H
#define VENDRITHANE_TESTS_HELPERS_STATUSOF_H

#include "vendrithane/Status.h"

namespace vdtest {

// The Status that `f` throws, StatusOk when it returns.
template <class F>
int statusOf(F&& f) {
  try {
    f();
  } catch (KESTRIN::Vendrithane::Status s) {
    return s;
  }
  return KESTRIN::Vendrithane::StatusOk;
}

}  // namespace vdtest

#endif  // VENDRITHANE_TESTS_HELPERS_STATUSOF_H

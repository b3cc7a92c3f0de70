// The boundary of the public methods: a thrown Status becomes the method's result.
#ifndef VENDRITHANE_NODE_STATUSOF_H
#define VENDRITHANE_NODE_STATUSOF_H

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// Runs `f`, returning the Status it throws as its result.
template <class F>
int statusOf(F&& f) {
  try {
    return f();
  } catch (Status s) {
    return s;
  }
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_STATUSOF_H

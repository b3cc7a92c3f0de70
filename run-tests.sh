#!/usr/bin/env bash
# Sets up the machine, builds and runs every test. BUILD_DIR and SANITIZE as in
# tools/bootstrap.sh.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$top/tools/bootstrap.sh"
if [ "$SANITIZE" = 1 ]; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"

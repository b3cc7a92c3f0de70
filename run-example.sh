#!/usr/bin/env bash
# Sets up the machine, builds and runs the example host program.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$top/tools/bootstrap.sh"
"$BUILD_DIR/examples/basics" "$@"

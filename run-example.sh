#!/usr/bin/env bash
# Sets up the machine, builds everything and runs a short demonstration of the vendrithane
# command-line tool on the sample folder examples/media (examples/demo.sh). The example host
# program is build/examples/basics.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$top/tools/bootstrap.sh"
"$top/examples/demo.sh" "$BUILD_DIR/cli/vendrithane"

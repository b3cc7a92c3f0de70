#!/usr/bin/env bash
# Shared by the README's commands: installs the Debian packages the build needs (when run as
# root), then configures and builds into $BUILD_DIR (default build/). SANITIZE=1 builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, SANITIZE=thread with ThreadSanitizer.
# BUILD_TARGETS (space-separated) builds only those targets instead of everything.
# COMPILER=clang builds with clang (whose thread-safety analysis checks the lock
# annotations), WERROR=1 turns compiler warnings into errors; both as CI runs them.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$top/build}
SANITIZE=${SANITIZE:-0}
BUILD_TARGETS=${BUILD_TARGETS:-}
COMPILER=${COMPILER:-gcc}
WERROR=${WERROR:-0}

packages=(cmake g++ make pkg-config libsqlite3-dev libssl-dev libgtest-dev googletest
          libbenchmark-dev sqlite3 clang-format libmagic-dev libexiv2-dev nlohmann-json3-dev
          libcli11-dev)
if [ "$COMPILER" = clang ]; then packages+=(clang); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing packages (run as root to install them): ${missing[*]}" >&2
    exit 1
  fi
fi

opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "$SANITIZE" = 1 ]; then
  opts=(-DCMAKE_BUILD_TYPE=Debug -DVENDRITHANE_SANITIZE=ON -DVENDRITHANE_BUILD_BENCH=OFF)
elif [ "$SANITIZE" = thread ]; then
  opts=(-DCMAKE_BUILD_TYPE=Debug -DVENDRITHANE_SANITIZE_THREAD=ON -DVENDRITHANE_BUILD_BENCH=OFF
        -DVENDRITHANE_BUILD_EXAMPLES=OFF)
fi
if [ "$COMPILER" = clang ]; then
  # A debug build: the analysis needs no optimisation, and the run-time order checker is in.
  if [ "$SANITIZE" = 0 ]; then opts=(-DCMAKE_BUILD_TYPE=Debug -DVENDRITHANE_BUILD_BENCH=OFF); fi
  opts+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
fi
if [ "$WERROR" = 1 ]; then opts+=(-DVENDRITHANE_WERROR=ON); fi
cmake -S "$top" -B "$BUILD_DIR" "${opts[@]}" >/dev/null
targets=()
for t in $BUILD_TARGETS; do targets+=(--target "$t"); done
cmake --build "$BUILD_DIR" -j "$(nproc)" "${targets[@]}"

#!/usr/bin/env bash
# Installs the built library into a temporary prefix, then configures, builds and runs a
# host program against it twice: through find_package(Vendrithane) and through pkg-config.
set -euo pipefail
build=$1
src=$2
cmake=${CMAKE:-cmake}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
# A sanitizer build of the library needs the host built with the same runtimes.
flags=""
# (grep reads the whole listing: with -q it could stop early, nm would die of SIGPIPE and
# pipefail would count the match as a failure.)
if nm -D "$work"/prefix/lib*/libvendrithane.so 2>/dev/null | grep __asan_init >/dev/null; then
  flags="-fsanitize=address,undefined"
fi
"$cmake" -S "$src" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" >/dev/null
"$cmake" --build "$work/build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib64" "$work/build/consumer"
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig:$work/prefix/lib64/pkgconfig"
c++ -std=c++17 $flags "$src/consumer.cpp" -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs vendrithane)
LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib64" "$work/consumer-pc"

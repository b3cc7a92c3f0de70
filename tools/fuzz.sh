#!/usr/bin/env bash
# Runs the libFuzzer targets for a while each, one after the other.
#
#   tools/fuzz.sh [seconds] [target...]
#
# seconds: run time per target (default 60). targets: names listed in tests/fuzz/targets.txt
# (default: all). The clang build with the fuzz targets is
# made in build-fuzz (or $VENDRITHANE_FUZZ_BUILD) when needed. Each target starts from a
# copy of its seed corpus in a scratch directory (fuzz-out/<target>/corpus, or under
# $VENDRITHANE_FUZZ_OUT), so the seeds in the tree never change; new inputs that reach new
# code are kept there, and findings are written to fuzz-out/<target>/ as crash-*, leak-*,
# timeout-* or oom-* files. Prints libFuzzer's closing statistics per target and exits
# non-zero when a target found something.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VENDRITHANE_FUZZ_BUILD:-$root/build-fuzz}"
out="${VENDRITHANE_FUZZ_OUT:-$root/fuzz-out}"
# The targets, one a line in tests/fuzz/targets.txt ('#' starts a comment line).
mapfile -t all_targets < <(sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' \
  -e '/^#/d' -e '/^$/d' "$root/tests/fuzz/targets.txt")
if [[ ${#all_targets[@]} -eq 0 ]]; then
  echo "no targets in $root/tests/fuzz/targets.txt" >&2
  exit 2
fi

seconds=60
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
  seconds="$1"
  shift
fi
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  if [[ ! " ${all_targets[*]} " =~ " $t " ]]; then
    echo "unknown target: $t (known: ${all_targets[*]})" >&2
    exit 2
  fi
done

# The build: clang, instrumented fuzz targets, no benchmarks or examples.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVENDRITHANE_FUZZ=ON -DVENDRITHANE_BUILD_BENCH=OFF -DVENDRITHANE_BUILD_EXAMPLES=OFF
fi
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

# Per-input limits: a slow input is a finding too (a hang in an open or a read loop).
common=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
status=0
summary=()
for t in "${targets[@]}"; do
  work="$out/$t"
  mkdir -p "$work/corpus"
  cp -n "$root/tests/fuzz/corpus/$t/"* "$work/corpus/" 2>/dev/null || true
  args=("${common[@]}" -artifact_prefix="$work/")
  case "$t" in
    record_parser | element_scan) args+=(-dict="$root/tests/fuzz/record.dict") ;;
    format_probe) args+=(-dict="$root/tests/fuzz/catalog.dict" -max_len=262144) ;;
    shared_section) args+=(-max_len=4096) ;;
  esac
  echo "== $t: $seconds s"
  log="$work/last-run.log"
  "$build/tests/fuzz/${t}_fuzz" "${args[@]}" "$work/corpus" >"$log" 2>&1 &
  pid=$!
  if ! wait "$pid"; then
    status=1
    echo "   FOUND SOMETHING: see $log and $work/" >&2
  fi
  # The final statistics and the last progress line (coverage and features).
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  summary+=("$t: ${execs:-?} executions in $seconds s; ${last:-no progress line}")
  # What the fuzzer process left when a finding stopped it before its own clean-up: its
  # machine-wide objects (named with its pid) and its scratch directory.
  rm -f /dev/shm/org.vendrithane.test-"$pid".* /dev/shm/org.vendrithane.test-"$pid":*
  rm -rf /tmp/vdfuzz-*-"$pid"-*
done

echo
printf '%s\n' "${summary[@]}"
exit "$status"

#!/usr/bin/env bash
# The long crash run: kills writers of a catalog for N rounds or T seconds and checks after
# every kill that nothing acknowledged was lost and nothing partial was kept.
#   tools/crash-rounds.sh [-n ROUNDS] [-t SECONDS] [-s SEED] [BUILD_DIR]
# BUILD_DIR defaults to build/ (built with tools/bootstrap.sh first when missing).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds="" seconds="" seed=""
while getopts "n:t:s:" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    t) seconds=$OPTARG ;;
    s) seed=$OPTARG ;;
    *) echo "usage: $0 [-n ROUNDS] [-t SECONDS] [-s SEED] [BUILD_DIR]" >&2; exit 64 ;;
  esac
done
shift $((OPTIND - 1))
build=${1:-$top/build}
if [ -z "$rounds" ] && [ -z "$seconds" ]; then rounds=500; fi
if [ ! -x "$build/tests/reliability_tests" ]; then
  BUILD_DIR="$build" BUILD_TARGETS="reliability_tests" "$top/tools/bootstrap.sh"
fi
export VENDRITHANE_CRASH_ROUNDS=${rounds} VENDRITHANE_CRASH_SECONDS=${seconds:-0}
[ -n "$seed" ] && export VENDRITHANE_CRASH_SEED=$seed
[ -z "$rounds" ] && unset VENDRITHANE_CRASH_ROUNDS
exec "$build/tests/reliability_tests" --gtest_filter='CrashTest.*'

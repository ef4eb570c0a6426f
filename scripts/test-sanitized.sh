#!/bin/bash
# The test suite once more in a second build directory built with
# AddressSanitizer and UndefinedBehaviorSanitizer (-DKVX_SANITIZE=ON).  Any
# report fails the run: a test process stops at its first report, and the
# Kavrix processes the tests start (the server and its session processes,
# which inherit no environment) write theirs into <build>/sanitizer-logs,
# which must be empty at the end.
#   scripts/test-sanitized.sh [build-dir] [ctest arguments...]
set -e -o pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-asan}
shift || true
jobs=${JOBS:-$(nproc)}

CC=gcc CXX=g++ cmake -S "$root" -B "$build" -DKVX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j "$jobs"
logs="$build/sanitizer-logs"
mkdir -p "$logs"
rm -f "$logs"/*

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp
# Tests that bound a process's memory measure the sanitizers' own overhead
# here (shadow memory and allocator state roughly double a session
# process's resident size); they hold their bounds in the normal run.
memory_bounds='^(ConfigShell\.BrowserThatStopsReadingDoesNotGrowTheSession|Relay\.BrowserThatStopsReadingHoldsTheSessionBack)$'
status=0
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 600 -E "$memory_bounds" "$@") || status=1
reports=$(find "$logs" -type f | sort)
if [ -n "$reports" ]; then
  echo "Sanitizer reports of Kavrix processes:" >&2
  for f in $reports; do
    echo "==== $f" >&2
    cat "$f" >&2
  done
  status=1
fi
[ $status = 0 ] && echo "sanitizer run: no reports"
exit $status

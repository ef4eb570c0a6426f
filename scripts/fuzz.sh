#!/bin/bash
# Builds the libFuzzer targets with clang (ASan, UBSan and coverage in every
# library) and runs each for a bounded time over its committed seeds, then
# prints one line per target: executions, coverage, and whether it crashed.
# New inputs go to <build>/fuzz-corpus, crash inputs to <build>/fuzz-artifacts
# (a fixed crash's input belongs in tests/regress/<target>).
#   scripts/fuzz.sh [build-dir] [seconds per target]
set -e -o pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-build-fuzz}" && cd "${1:-build-fuzz}" && pwd)
seconds=${2:-${FUZZ_SECONDS:-60}}
jobs=${JOBS:-$(nproc)}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DKVX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kvx_fuzzers -j "$jobs"
mkdir -p "$build/fuzz-corpus" "$build/fuzz-artifacts" "$build/fuzz-logs"

status=0
rows=()
for prog in "$build"/fuzz/*; do
  [ -f "$prog" ] && [ -x "$prog" ] || continue
  name=$(basename "$prog")
  work="$build/fuzz-corpus/$name"
  mkdir -p "$work"
  seeds=()
  for dir in "$root/fuzz/corpus/$name" "$root/tests/regress/$name"; do
    [ -d "$dir" ] && seeds+=("$dir")
  done
  # The recorded program output of the engine's tests seeds the ANSI/VT parser.
  [ "$name" = fuzz-ansi ] && seeds+=("$root/tests/fixtures/te")
  log="$build/fuzz-logs/$name.log"
  echo "fuzzing $name for ${seconds}s ..."
  result=ok
  if ! "$prog" -max_total_time="$seconds" -print_final_stats=1 -timeout=25 -rss_limit_mb=3072 \
      -artifact_prefix="$build/fuzz-artifacts/$name-" "$work" "${seeds[@]}" >"$log" 2>&1; then
    result=CRASH
    status=1
    echo "  $name failed: see $log and $build/fuzz-artifacts/$name-*" >&2
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  rows+=("$(printf '%-22s %12s %8s %8s %8s  %s' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${units:-?}" "$result")")
done
[ ${#rows[@]} -gt 0 ] || { echo "fuzz: no targets in $build/fuzz" >&2; exit 1; }
printf '\n%-22s %12s %8s %8s %8s  %s\n' target executions cov ft corpus result
printf '%s\n' "${rows[@]}"
exit $status

#!/bin/bash
# Runs every benchmark of a release build (the programs under <build>/bench
# and the bench/*.sh scripts) and prints one table: benchmark, our figure, the peer's
# figure where one was measured in the same run, and the ratio (above 1:
# ours is better).  The same table goes to bench/results.json.
#   bench/run.sh <release-build-dir>
set -e -o pipefail
build=${1:?usage: bench/run.sh <release-build-dir>}
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus
if [ ! -f "$corpus/.stamp" ] || [ "$here/gen_corpus.py" -nt "$corpus/.stamp" ]; then
  echo "Generating the benchmark corpora in $corpus ..."
  python3 "$here/gen_corpus.py" "$corpus" >/dev/null
  touch "$corpus/.stamp"
fi
export KVX_BENCH_CORPUS=$corpus

raw=$(mktemp)
trap 'rm -f "$raw"' EXIT
# Every benchmark there is: each program the bench build writes to
# <build>/bench (kvx_add_bench), and each bench/*.sh script beside this one
# (run with the build directory as its argument).  All print the BENCH lines
# described above; a benchmark that fails fails the run.
found=0
run_one() {
  local name=$1
  shift
  found=1
  echo "running $name ..." >&2
  "$@" | grep '^BENCH' >>"$raw" || { echo "bench: $name failed" >&2; exit 1; }
}
for prog in "$build"/bench/*; do
  [ -f "$prog" ] && [ -x "$prog" ] || continue
  run_one "$(basename "$prog")" "$prog"
done
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  [ -f "$script" ] || continue
  run_one "$(basename "$script")" bash "$script" "$build"
done
[ "$found" = 1 ] || { echo "bench: no benchmarks in $build/bench or bench/*.sh" >&2; exit 1; }

python3 - "$raw" "$here/results.json" <<'PY'
import json, sys, time
rows = []
for line in open(sys.argv[1]):
    f = line.rstrip("\n").split("\t")
    if len(f) < 4:
        continue
    row = {"benchmark": f[1], "ours": float(f[2]), "unit": f[3]}
    if len(f) >= 6:
        row["peer"] = f[4]
        row["peer_figure"] = float(f[5])
        # Rates are better high, everything else (time, memory) low.
        better_high = "/s" in row["unit"]
        a, b = (row["ours"], row["peer_figure"]) if better_high else (row["peer_figure"], row["ours"])
        row["ratio"] = round(a / b, 2) if b else None
    rows.append(row)
w = max([len(r["benchmark"]) for r in rows] + [9])
print("%-*s %12s %-7s %-10s %12s %8s" % (w, "benchmark", "ours", "unit", "peer", "peer", "ratio"))
for r in rows:
    print("%-*s %12.2f %-7s %-10s %12s %8s" % (
        w, r["benchmark"], r["ours"], r["unit"], r.get("peer", ""),
        "%.2f" % r["peer_figure"] if "peer_figure" in r else "",
        "%.2f" % r["ratio"] if r.get("ratio") is not None else ""))
json.dump({"time": time.strftime("%Y-%m-%dT%H:%M:%S"), "results": rows}, open(sys.argv[2], "w"), indent=1)
print("\n(ratio above 1: ours is better; written to %s)" % sys.argv[2])
PY

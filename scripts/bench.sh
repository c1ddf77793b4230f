#!/usr/bin/env bash
# bench.sh [benchmark options]: builds kind "bench" (native, with the benchmarks, compiled with the
# flags of the shipped programs) and runs talv_bench on one core, 5 repetitions each, then prints the
# table of figures beside their goals and peers and the table of ours / peer ratios.
# Extra options go to Google Benchmark, e.g. --benchmark_filter=fft.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" bench >/dev/null
bench="$root/build/bench/bin/talv_bench"
# The plug-in benchmarks serve the engine's pipe name: a private runtime folder keeps it from meeting
# any other engine on this machine.
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
pin=()
if command -v taskset >/dev/null 2>&1; then
  # One core: the last one this process may run on.
  core=$(taskset -cp $$ | sed 's/.*: //; s/.*[,-]//')
  pin=(taskset -c "$core")
fi
exec "${pin[@]}" "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"

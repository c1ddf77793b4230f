#!/usr/bin/env bash
# Sets up the machine, builds the engine natively and runs its main job on the simulated receiver:
# the scan chain self test (its HIT lines and verdicts), then the path self test. Exit 0 only when
# both pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" native >/dev/null
engine="$root/build/native/bin/talvoran_engine"
"$engine" --selftest
exec "$engine" --selftest-paths

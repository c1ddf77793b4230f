#!/usr/bin/env bash
# Sets up the machine, builds the engine natively and runs its main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" native >/dev/null
exec "$root/build/native/bin/talvoran_engine"

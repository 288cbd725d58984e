#!/usr/bin/env bash
# bench/run.sh [options of nubobench.py]: builds nuboftpd in Release (once configured,
# then only what changed) and runs the project's own loopback benchmark against it.
# NUBOFTPD=/path/to/nuboftpd skips the build and measures that binary instead; more
# --server options compare other binaries with it, run for run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${NUBOFTPD:-}
if [ -z "$bin" ]; then
  "$top/scripts/build.sh" "$top/build-release" -DCMAKE_BUILD_TYPE=Release -DNUBO_TESTS=OFF >&2
  bin=$top/build-release/app/nuboftpd
fi
exec python3 "$top/bench/nubobench.py" --server "$bin" "$@"

#!/usr/bin/env bash
# scripts/build.sh [BUILD_DIR] [extra cmake args...]: configures and builds. A new folder
# is configured (Ninja, RelWithDebInfo); extra arguments also reach a folder that is
# already configured, so that e.g. -DNUBO_SANITIZE=ON takes effect there too.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}
shift || true
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
elif [ $# -gt 0 ]; then
  cmake -S "$top" -B "$dir" "$@"
fi
cmake --build "$dir"

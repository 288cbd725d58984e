#!/usr/bin/env bash
# Installs what is missing, builds, and runs the headless server.
# scripts/run-server.sh [--dir DIR] [--port N] [/start|/stop|...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" "$top/build"
args=("$@")
if [[ " ${args[*]-} " != *" --dir "* ]]; then
  mkdir -p "$top/srv"
  args=(--dir "$top/srv" "${args[@]}")
fi
exec "$top/build/app/nuboftpd" "${args[@]}"

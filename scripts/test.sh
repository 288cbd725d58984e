#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs every test twice:
# once in the normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# The console's widget tests are part of the test command, so its packages come too.
NUBO_CONSOLE=1 "$top/scripts/deps.sh"

# A formatting difference fails the run before anything is built.
"$top/scripts/format.sh" --check

jobs=$(nproc)
"$top/scripts/build.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure -j"$jobs" --timeout 600)

"$top/scripts/build.sh" "$top/build-asan" -DNUBO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$top/build-asan" && ctest --output-on-failure -j"$jobs" --timeout 900)

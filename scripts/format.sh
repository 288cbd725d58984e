#!/usr/bin/env bash
# Formats every C++ file of the project with .clang-format. With --check it changes
# nothing and fails, naming the files, when any file differs from its formatted form.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
  bad=()
  for f in "${files[@]}"; do
    clang-format --style=file "$f" | cmp -s - "$f" || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    echo "not formatted (run scripts/format.sh): ${bad[*]}" >&2
    exit 1
  fi
  exit 0
fi
clang-format --style=file -i "${files[@]}"

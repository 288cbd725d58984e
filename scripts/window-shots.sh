#!/usr/bin/env bash
# Pictures of the main window for docs/: runs build/tests/console/window_shots on a
# virtual display with a window manager that has a tray (icewm), as an operator's
# desktop would. Usage: scripts/window-shots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs}
NUBO_CONSOLE=1 scripts/deps.sh
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp &
xvfb=$!
wm=
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "${ICEWM_PRIVCFG:-/nonexistent}"
}
trap cleanup EXIT
sleep 1
# Title bars in a face with Hangul, as a Korean desktop has.
export ICEWM_PRIVCFG=$(mktemp -d)
cat >"$ICEWM_PRIVCFG/preferences" <<'PREFS'
TitleFontNameXft="Noto Sans CJK KR:bold:size=11"
NormalTaskBarFontNameXft="Noto Sans CJK KR:size=10"
PREFS
DISPLAY=$display icewm >/dev/null 2>&1 &
wm=$!
sleep 2
DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/tests/console/window_shots" "$out"

#!/usr/bin/env bash
# Installs what the build and the tests need from the machine's package manager,
# only when something is missing.
set -euo pipefail

# Real FTP clients for the end-to-end tests: curl, lftp, wget, rclone and ncftp.
pkgs=(cmake ninja-build g++ pkg-config libgtest-dev libssl-dev zlib1g-dev netbase python3 curl lftp wget rclone ncftp)
# The formatting check of the test command.
pkgs+=(clang-format)
# clang with libFuzzer's runtime, for scripts/fuzz.sh only.
if [ "${NUBO_FUZZ:-0}" = 1 ]; then
  pkgs+=(clang libclang-rt-dev)
fi
if [ "${NUBO_CONSOLE:-0}" = 1 ]; then
  pkgs+=(qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev fonts-noto-cjk xvfb x11-apps imagemagick icewm)
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and only
# those that are missing (safe to run again). Usage: scripts/deps.sh [build|run|test|bench|fuzz]...
set -euo pipefail

build=(cmake g++ make pkg-config libgtk-3-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev)
run=(python3 xvfb openbox xdotool x11-utils imagemagick fonts-noto-cjk)
test=(libgtest-dev googletest python3-gi gir1.2-glib-2.0 dbus)
bench=(libbenchmark-dev libglib2.0-dev python3)
fuzz=(clang libclang-rt-14-dev)

wanted=()
for what in "${@:-build}"; do
  case "$what" in
    build) wanted+=("${build[@]}") ;;
    run) wanted+=("${build[@]}" "${run[@]}") ;;
    test) wanted+=("${build[@]}" "${run[@]}" "${test[@]}") ;;
    bench) wanted+=("${build[@]}" "${run[@]}" "${bench[@]}") ;;
    fuzz) wanted+=("${fuzz[@]}") ;;
    *) echo "deps.sh: unknown set '$what'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

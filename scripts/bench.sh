#!/usr/bin/env bash
# Builds and runs a set of benchmarks (Release, in build-bench) and prints the figures.
# Usage: scripts/bench.sh NAME...
#   config   TSB64 against GLib's Base64; LoadConfigString against Python's configparser
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '3,4s/^# \{0,1\}//p' "$0" >&2; exit 2; }
(($#)) || usage

# Only what the named benchmarks need, and only when it is missing.
need() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  local sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# GCC 12 at -O3 gives false -Wmaybe-uninitialized and -Wrestrict warnings inside
# <string> for code built with -Werror; they stay warnings here.
build() {
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS=-Wno-error=maybe-uninitialized -Wno-error=restrict" \
    -DLUMETRA_BENCH=ON -DLUMETRA_TESTS=OFF -DLUMETRA_GTK=OFF >/dev/null
  cmake --build build-bench -j"$(nproc)" --target "$@" >build-bench/build.log 2>&1 ||
    { cat build-bench/build.log; exit 1; }
}

for name in "$@"; do
  case "$name" in
    config)
      need cmake g++ make pkg-config libbenchmark-dev libglib2.0-dev
      command -v python3 >/dev/null || need python3
      build bench_sb64 bench_loadconfig
      echo "== TSB64 against GLib, 1 MiB of random bytes"
      build-bench/bench/bench_sb64
      echo "== LoadConfigString against Python's configparser"
      build-bench/bench/bench_loadconfig
      ;;
    startup)
      # The GTK program and the bare WebKitGTK window it is set against, in a build
      # folder of their own: the other benchmarks build without GTK.
      scripts/deps.sh bench
      cmake -S . -B build-bench-gtk -DCMAKE_BUILD_TYPE=Release \
        "-DCMAKE_CXX_FLAGS=-Wno-error=maybe-uninitialized -Wno-error=restrict" \
        -DLUMETRA_BENCH=ON -DLUMETRA_TESTS=OFF -DLUMETRA_GTK=ON >/dev/null
      cmake --build build-bench-gtk -j"$(nproc)" --target lumetra bare_webkit >build-bench-gtk/build.log 2>&1 ||
        { cat build-bench-gtk/build.log; exit 1; }
      echo "== Start-up and peak memory: the program against a bare WebKitGTK window"
      python3 bench/startup/startup_bench.py --dist build-bench-gtk/dist \
        --bare build-bench-gtk/bench/startup/bare_webkit ${STARTUP_RUNS:+--runs "$STARTUP_RUNS"}
      ;;
    bridge)
      # window.external against an asynchronous round trip, in the same GTK build
      # folder as the start-up benchmark; under Xvfb when there is no display.
      scripts/deps.sh bench
      cmake -S . -B build-bench-gtk -DCMAKE_BUILD_TYPE=Release \
        "-DCMAKE_CXX_FLAGS=-Wno-error=maybe-uninitialized -Wno-error=restrict" \
        -DLUMETRA_BENCH=ON -DLUMETRA_TESTS=OFF -DLUMETRA_GTK=ON >/dev/null
      cmake --build build-bench-gtk -j"$(nproc)" --target bridge_bench >build-bench-gtk/build.log 2>&1 ||
        { cat build-bench-gtk/build.log; exit 1; }
      echo "== window.external: synchronous round trip against an asynchronous one"
      if [ -n "${DISPLAY:-}" ]; then
        build-bench-gtk/bench/bridge/bridge_bench
      else
        xvfb-run -a build-bench-gtk/bench/bridge/bridge_bench
      fi
      ;;
    *) echo "bench.sh: unknown benchmark '$name'" >&2; usage ;;
  esac
done

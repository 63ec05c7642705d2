#!/usr/bin/env bash
# Every test: installs what is missing, builds, runs the unit tests (plain and under
# AddressSanitizer + UndefinedBehaviorSanitizer), the server's tests and the
# end-to-end tests of the real program.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/deps.sh test

echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

echo "== build with sanitizers"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMETRA_SANITIZE=ON -DLUMETRA_GTK=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests

passed=0 failed=0
suite() {  # name, command...
  echo "== $1"
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
suite "unit tests" ctest --test-dir build --output-on-failure -j"$jobs"
suite "unit tests under sanitizers" env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
suite "application server tests" python3 -m unittest discover -s tests/server -p 'test_*.py'
suite "end-to-end tests" python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v

echo "suites: $passed passed, $failed failed"
[ "$failed" = 0 ]

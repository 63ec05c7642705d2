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

failed=0
echo "== unit tests"
ctest --test-dir build --output-on-failure -j"$jobs" || failed=1
echo "== unit tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" || failed=1
echo "== application server tests"
python3 -m unittest discover -s tests/server -p 'test_*.py' || failed=1
if [ -d tests/e2e ]; then
  echo "== end-to-end tests"
  python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v || failed=1
fi

exit $failed

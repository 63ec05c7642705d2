#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for RUNS inputs (default
# 1000000), starting from the seeds in fuzz/corpus/<target>/.
# Usage: scripts/fuzz.sh [RUNS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-1000000}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_sb64_decode fuzz_profile_parser fuzz_config_items)

scripts/deps.sh fuzz

echo "== build"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMETRA_FUZZ=ON -DLUMETRA_TESTS=OFF -DLUMETRA_GTK=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

failed=0
summary=()
for t in "${targets[@]}"; do
  echo "== $t: $runs runs"
  # New inputs go to the working corpus; the seeds in the tree stay as they are.
  work=build-fuzz/corpus/$t
  mkdir -p "$work" build-fuzz/artifacts
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  start=$SECONDS
  log=build-fuzz/$t.log
  if build-fuzz/fuzz/"$t" -runs="$runs" -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix=build-fuzz/artifacts/"$t"- "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    result=ok
  else
    result="FAILED (see $log and build-fuzz/artifacts/)"
    failed=1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)|violated|SUMMARY|==[0-9]+==ERROR)' "$log" || true
  summary+=("$t: $runs runs in $((SECONDS - start)) s: $result")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $failed

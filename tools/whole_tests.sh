#!/usr/bin/env bash
# Runs every test program in BUILD/tests (default build/) whole, as one process each, several
# at once: tests that pass alone under ctest must not depend on running in a process of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mapfile -t env_lines < "$build/tests/test_env.txt"
logs=$PWD/$build/whole-logs
rm -rf "$logs"
mkdir -p "$logs"
source tools/scratch_home.sh
pids=()
names=()
for bin in "$build"/tests/test_*; do
  [ -x "$bin" ] && [ -f "$bin" ] || continue
  n=$(basename "$bin")
  (cd "$build/tests" && env "${env_lines[@]}" timeout 1200 "./$n" > "$logs/$n.log" 2>&1) &
  pids+=($!)
  names+=("$n")
done
passed=0
failed=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "whole: ${names[$i]} FAILED"
    grep -E '^\[  FAILED|Failure|^XIO' "$logs/${names[$i]}.log" | head -20 || true
    tail -20 "$logs/${names[$i]}.log"
  fi
done
if [ $failed -eq 0 ]; then echo "whole test programs: all $passed ran clean"; else echo "whole test programs: $failed of $((passed + failed)) failed"; fi
[ $failed -eq 0 ]

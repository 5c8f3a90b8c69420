#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and sanitizers into build-fuzz/ and runs each for
# FUZZ_SECONDS (default 30), several at once. Any crash, leak or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-30}
ls fuzz/*.cpp >/dev/null 2>&1 || { echo "fuzz: no targets"; exit 0; }
source tools/launcher.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKESTRUNE_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j"${JOBS:-$(nproc)}" --target fuzz_all
mkdir -p build-fuzz/corpus build-fuzz/logs
fail=0
pids=()
names=()
for bin in build-fuzz/fuzz/fuzz_*; do
  n=$(basename "$bin")
  mkdir -p "build-fuzz/corpus/$n"
  seeds=""
  # the fuzzers run from build-fuzz/logs
  [ -d "fuzz/seeds/${n#fuzz_}" ] && seeds="../../fuzz/seeds/${n#fuzz_}"
  (cd build-fuzz/logs && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     "../../$bin" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
     "../corpus/$n" $seeds > "$n.log" 2>&1) &
  pids+=($!)
  names+=("$n")
  # at most 6 at once (or JOBS): leave room on an 8-core machine
  if [ ${#pids[@]} -ge "${JOBS:-6}" ]; then
    wait "${pids[0]}" || { echo "fuzz: ${names[0]} FAILED"; tail -40 "build-fuzz/logs/${names[0]}.log"; fail=1; }
    pids=("${pids[@]:1}"); names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || { echo "fuzz: ${names[$i]} FAILED"; tail -40 "build-fuzz/logs/${names[$i]}.log"; fail=1; }
done
[ $fail -eq 0 ] && echo "fuzz: all targets ran ${SECONDS_EACH}s without findings"
exit $fail

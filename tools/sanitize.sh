#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer (clang)
# into build-asan/ and runs every test there; SANITIZER=thread does the same with ThreadSanitizer
# in build-tsan/. Any sanitizer report fails, also one from a program a test starts. Only the
# libraries listed in tools/sanitizers/ are excused.
set -euo pipefail
cd "$(dirname "$0")/.."

# Tests left out of this run: ctest regular expressions over test names and over labels; set to
# empty to leave nothing out. The embedded browser's tests are out by default: Qt WebEngine's own
# code frees objects with a mismatched type and leaks at exit (they pass with
# new_delete_type_mismatch=0 and leak:libQt6WebEngineCore.so.6). So are the tests that show a
# page in the real main window or the real program (the slow error list, closing the menu during a
# request, the clicks and keys on a page, a page's console, pages inside the program).
SAN_EXCLUDE_TESTS=${SAN_EXCLUDE_TESTS-'^Browser(Game)?Test\.|^OnlineServicesTest\.(ASlowErrorList|ClosingTheMenuEndsTheRequestInProgress)|^Program\.(APageGrowingInsideTheProgram|OnlyAClickOnALink|OnlyWhatThePlayerChose|APagesConsoleStaysOut|FileCloseEndsItWhileTheErrorLookup)'}
SAN_EXCLUDE_LABELS=${SAN_EXCLUDE_LABELS-}

case ${SANITIZER:-address} in
  address) build=build-asan; option=-DKESTRUNE_SANITIZE=ON ;;
  thread)
    build=build-tsan; option=-DKESTRUNE_TSAN=ON
    # ThreadSanitizer's own shadow stack holds far fewer frames than this test's recursion
    # reaches before the matcher's bound stops it.
    deep='^RegularExpression\.DeepRecursionRaisesInsteadOfCrashing$'
    SAN_EXCLUDE_TESTS=${SAN_EXCLUDE_TESTS:+$SAN_EXCLUDE_TESTS|}$deep ;;
  *) echo "SANITIZER must be address or thread" >&2; exit 2 ;;
esac
root=$PWD
logs=$root/$build/sanitizer-logs
supp=$root/tools/sanitizers
# A throwaway home: files the instrumented program writes there (the codec module above all)
# would not load in a normal build.
source tools/scratch_home.sh
# Reports go to files (report.<pid>), so that one from a child process is seen as well.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$logs/report:strip_path_prefix=$root/"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/report:suppressions=$supp/ubsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$logs/report:suppressions=$supp/tsan.supp"

rm -rf "$logs"
mkdir -p "$logs"
source tools/launcher.sh
CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Debug $option -DKESTRUNE_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build $build -j"${JOBS:-$(nproc)}"

if [ $build = build-asan ]; then
  # Mesa's GL libraries stay loaded to the end, so the leak check sees what they still hold.
  clang -shared -fPIC -O1 -Wall -Wextra -o $build/keep-mesa.so tools/sanitizers/keep_mesa.c -ldl
  export LD_PRELOAD=$root/$build/keep-mesa.so
fi

args=()
[ -n "$SAN_EXCLUDE_LABELS" ] && args+=(-LE "$SAN_EXCLUDE_LABELS")
[ -n "$SAN_EXCLUDE_TESTS" ] && args+=(-E "$SAN_EXCLUDE_TESTS")
status=0
(cd $build && ctest -j"${JOBS:-$(nproc)}" --output-on-failure --timeout 900 "${args[@]}") || status=1
if compgen -G "$logs/*" >/dev/null; then
  echo "sanitizers: findings"
  for f in "$logs"/*; do echo "== $f"; head -80 "$f"; done
  status=1
fi
[ $status -eq 0 ] && echo "sanitizers: all tests ran clean"
exit $status

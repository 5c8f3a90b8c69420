#!/usr/bin/env bash
# Installs what is missing, builds, runs every test (one process each, then each test program
# whole, tools/whole_tests.sh), runs every test again built with
# AddressSanitizer and UndefinedBehaviorSanitizer (tools/sanitize.sh), then a short run of every
# fuzz target. JOBS caps the parallel jobs of every step; SAN_EXCLUDE_TESTS and
# SAN_EXCLUDE_LABELS choose the tests the sanitizer run leaves out (see tools/sanitize.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
(cd build && ctest -j"${JOBS:-$(nproc)}" --output-on-failure --timeout 600)
bash tools/whole_tests.sh
bash tools/sanitize.sh
bash tools/fuzz.sh

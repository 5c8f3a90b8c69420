#!/usr/bin/env bash
# Installs what is missing, builds, runs every test, runs every test again built with
# AddressSanitizer and UndefinedBehaviorSanitizer (tools/sanitize.sh), then a short run of every
# fuzz target. JOBS caps the parallel jobs of every step.
set -euo pipefail
cd "$(dirname "$0")/.."
# Tests the sanitizer run leaves out: a ctest label expression and a test-name expression
# (empty: none), e.g. SAN_EXCLUDE_LABELS=browser.
export SAN_EXCLUDE_LABELS=${SAN_EXCLUDE_LABELS:-}
export SAN_EXCLUDE_TESTS=${SAN_EXCLUDE_TESTS:-}
bash tools/deps.sh
bash tools/build.sh
(cd build && ctest -j"${JOBS:-$(nproc)}" --output-on-failure --timeout 600)
bash tools/sanitize.sh
bash tools/fuzz.sh

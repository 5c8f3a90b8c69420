#!/usr/bin/env bash
# Installs what is missing, builds, runs every test, then a short run of every fuzz target
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
(cd build && ctest -j"${JOBS:-$(nproc)}" --output-on-failure --timeout 600)
bash tools/fuzz.sh

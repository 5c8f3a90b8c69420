#!/usr/bin/env bash
# Configures and builds the project into build/ (Ninja, optimised with debug info).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/launcher.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build build -j"${JOBS:-$(nproc)}"

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (ctest), then the threaded tests under
# ThreadSanitizer. Usage: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"

bash scripts/setup.sh
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

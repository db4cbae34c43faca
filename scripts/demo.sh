#!/usr/bin/env bash
# The main job: sets up and builds velmora. (The closed-loop demo replaces this once the
# simulator lands.)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --build build -j "$(nproc)"
echo "velmora built in build/; run the tests with: bash scripts/test.sh"

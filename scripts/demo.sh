#!/usr/bin/env bash
# The main job: installs what is missing, builds velmora and the simulator, then runs the
# real-time walk (0.5 m/s, 10 s) of the bundled robot and prints where the report and plot are.
# Environment: BUILD_DIR (default build), OUT_DIR (default sim_out/walk). Extra arguments go to
# velmora_sim (e.g. --duration 20 or --lockstep).
# Exit code: that of velmora_sim (0 walked, 3 fell, 2 bad flags or files).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
export BUILD_DIR
bash scripts/setup.sh
cmake --build "$BUILD_DIR" --target velmora_sim_app -j "$(nproc)"
OUT_DIR="${OUT_DIR:-sim_out/walk}"
set +e
"./$BUILD_DIR/sim/velmora_sim" --scenario walk --vx 0.5 --duration 10 --out "$OUT_DIR" "$@"
status=$?
set -e
echo "demo: velmora_sim exited with code $status; report $OUT_DIR/report.json, log $OUT_DIR/log.csv, plot $OUT_DIR/plot.svg"
exit "$status"

#!/usr/bin/env bash
# The main job: installs what is missing, builds velmora and the simulator, then runs the
# real-time walk (0.5 m/s, 10 s) of the bundled robot, records its video and prints where the
# report page, the video, the report, the log and the plot are.
# Environment: BUILD_DIR (default build), OUT_DIR (default sim_out/walk). Extra arguments go to
# velmora_sim (e.g. --duration 20 or --lockstep).
# The video needs ffmpeg and a velmora_sim that records (--video); without them, or when the
# recording cannot start (e.g. no EGL), the run goes on without a video, with a warning.
# Exit code: that of velmora_sim (0 walked, 3 fell, 2 bad flags or files).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
export BUILD_DIR
bash scripts/setup.sh
cmake --build "$BUILD_DIR" --target velmora_sim_app -j "$(nproc)"
OUT_DIR="${OUT_DIR:-sim_out/walk}"
SIM="./$BUILD_DIR/sim/velmora_sim"
VIDEO="$OUT_DIR/walk.mp4"
run() { "$SIM" --scenario walk --vx 0.5 --duration 10 --out "$OUT_DIR" "$@"; }

rm -f "$VIDEO"
status=0
if ! command -v ffmpeg > /dev/null 2>&1; then
  echo "demo: warning: ffmpeg is not installed (Debian package ffmpeg): no video" >&2
  run "$@" || status=$?
elif ! reason="$("$SIM" --check-video 2>&1)"; then
  echo "demo: warning: no video: $reason" >&2
  run "$@" || status=$?
else
  run --video "$VIDEO" "$@" || status=$?
  if [ "$status" -eq 2 ]; then
    echo "demo: warning: velmora_sim could not record the video (see above); running without it" >&2
    status=0
    run "$@" || status=$?
  fi
fi

echo "demo: velmora_sim exited with code $status"
echo "  report page: $OUT_DIR/report.html"
if [ -s "$VIDEO" ]; then
  echo "  video:       $VIDEO"
else
  echo "  video:       none (see the warning above)"
fi
echo "  report:      $OUT_DIR/report.json"
echo "  log:         $OUT_DIR/log.csv"
echo "  plot:        $OUT_DIR/plot.svg"
exit "$status"

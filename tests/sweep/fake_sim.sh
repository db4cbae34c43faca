#!/usr/bin/env bash
# Stand-in for velmora_sim in the sweep tests: reads the run's scenario, writes a report.json whose
# mean_vx is the commanded vx and exits as velmora_sim would: command.vx 1.5 falls (3), gait pace
# misses a threshold (4), vx 9 crashes (1, no report), vx 7 hangs (writes its pid first).
while [ $# -gt 0 ]; do
  case "$1" in
    --scenario) scenario="$2"; shift ;;
    --out) out="$2"; shift ;;
  esac
  shift
done
vx=$(awk '$1 == "vx" { print $2; exit }' "$scenario")
gait=$(awk '$1 == "gait" { print $2; exit }' "$scenario")
[ "$vx" = 9 ] && exit 1
[ "$vx" = 7 ] && { echo $$ > "$out/pid"; sleep 60; }
fell=false; code=0
[ "$gait" = pace ] && code=4
[ "$vx" = 1.5 ] && { fell=true; code=3; }
cat > "$out/report.json" <<JSON
{"fell": $fell, "mean_vx": $vx, "mean_vy": 0, "mean_yaw_rate": 0, "drift_m": 0.1,
 "max_abs_roll": 0.01, "max_abs_pitch": 0.02, "mpc_ms": {"median": 1.5, "max": 3},
 "faults": [{"name": "x", "at_s": 1}], "timing_ms": {"wbc": {"median": 0.25}}, "wall_s": 0.5}
JSON
exit $code

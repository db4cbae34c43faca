#!/usr/bin/env bash
# Soak run (not part of CI): the real-time walk for 30 minutes with the command changed every
# 10 s (velmora_sim --scenario soak), then three checks:
#   - resident memory (VmRSS of /proc/PID/status) at the end within 2 MB of the value after the
#     first minute;
#   - no loop overrun: each loop's max cycle time, from the timing lines the controller logs
#     when it stops, within its period (publication and whole-body loops: wbc_dt; contact force
#     loop: force_optimization_dt, both read from the parameter file);
#   - ActuatorCmds messages received within 1 % of duration / wbc_dt.
# Environment: BUILD_DIR (default build), SIM (the program, default $BUILD_DIR/sim/velmora_sim),
# OUT_DIR (default sim_out/soak), DURATION (s, default
# 1800), PARAMS (default robots/kestrel/params.info). Extra arguments go to velmora_sim.
# Exit code: 0 all checks passed, 1 a check failed or the robot fell (the figures are printed
# either way), velmora_sim's code when it failed otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
OUT_DIR="${OUT_DIR:-sim_out/soak}"
DURATION="${DURATION:-1800}"
PARAMS="${PARAMS:-robots/kestrel/params.info}"
SIM="${SIM:-./$BUILD_DIR/sim/velmora_sim}"
if [[ ! -x "$SIM" ]]; then
  echo "soak: $SIM not found; build the target velmora_sim_app first" >&2
  exit 1
fi
mkdir -p "$OUT_DIR"
LOG="$OUT_DIR/soak.log"

# First number after `key` in the parameter file (INFO format: "key value").
param() {
  awk -v key="$1" '$1 == key { print $2; exit }' "$PARAMS"
}
wbc_dt="$(param wbc_dt)"
mpc_dt="$(param force_optimization_dt)"
if [[ -z "$wbc_dt" || -z "$mpc_dt" ]]; then
  echo "soak: wbc_dt or force_optimization_dt missing in $PARAMS" >&2
  exit 1
fi

rss_kb() {
  awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || true
}

echo "soak: $DURATION s real-time walk, command changed every 10 s; log $LOG"
"$SIM" --scenario soak --duration "$DURATION" --params "$PARAMS" --out "$OUT_DIR" "$@" \
  >"$LOG" 2>&1 &
pid=$!
sleep 60
rss_first="$(rss_kb "$pid")"
rss_last="$rss_first"
# Sample until the controller stops (its timing lines appear): the last sample is the one
# closest to the end of the run, before the report files are built.
while kill -0 "$pid" 2>/dev/null && ! grep -q "max time" "$LOG"; do
  value="$(rss_kb "$pid")"
  [[ -n "$value" ]] && rss_last="$value"
  sleep 5
done
set +e
wait "$pid"
status=$?
set -e
failed=0
case "$status" in
  0) ;;
  3) echo "soak: the robot fell (see $LOG); the other figures follow"; failed=1 ;;
  *) echo "soak: velmora_sim exited with code $status (see $LOG)" >&2; exit "$status" ;;
esac

if [[ -z "$rss_first" ]]; then
  echo "soak: the run ended before the first minute; no memory figure" >&2
  failed=1
else
  growth_kb=$((rss_last - rss_first))
  echo "soak: VmRSS after 1 min $rss_first kB, at the end $rss_last kB, growth $growth_kb kB (limit 2048 kB)"
  if ((growth_kb > 2048)); then failed=1; fi
fi

# Timing lines: "<loop>: max time X ms,  average time Y ms" (or "<loop>::optimize: ...").
overruns="$(awk -v wbc="$wbc_dt" -v mpc="$mpc_dt" '
  /max time/ {
    period = ($0 ~ /ContactForceOptimization/) ? mpc : wbc
    for (i = 1; i <= NF; ++i) if ($i == "max" && $(i + 1) == "time") max = $(i + 2)
    printf "soak: %s -> max %.3f ms, period %.3f ms\n", $0, max, period * 1000 > "/dev/stderr"
    if (max > period * 1000) ++n
    ++lines
  }
  END { if (lines < 3) print "missing"; else print n + 0 }' "$LOG")"
if [[ "$overruns" == "missing" ]]; then
  echo "soak: the controller's timing lines are missing from $LOG" >&2
  failed=1
else
  echo "soak: loops whose max cycle time exceeded their period: $overruns"
  if ((overruns > 0)); then failed=1; fi
fi

messages="$(sed -n 's/.*"messages": \([0-9]*\).*/\1/p' "$OUT_DIR/report.json")"
# Over the time actually run (shorter than DURATION when the robot fell).
ran_s="$(sed -n 's/.*"duration_s": \([0-9.e+-]*\).*/\1/p' "$OUT_DIR/report.json")"
expected="$(awk -v d="$ran_s" -v dt="$wbc_dt" 'BEGIN { printf "%d", d / dt }')"
echo "soak: $messages messages received in $ran_s s, $expected expected (1 % tolerance)"
if ! awk -v m="$messages" -v e="$expected" 'BEGIN { exit !(m >= 0.99 * e && m <= 1.01 * e) }'; then
  failed=1
fi

if ((failed)); then
  echo "soak: FAILED"
  exit 1
fi
echo "soak: passed"

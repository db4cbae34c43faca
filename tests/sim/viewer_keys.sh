#!/usr/bin/env bash
# The live viewer in a virtual X server: the window appears, two presses of the up arrow raise
# the commanded forward speed in log.csv by 0.2 m/s, Esc ends the run with its report written.
# Usage: viewer_keys.sh PATH_TO_velmora_sim. Exit 77 (skipped) when xvfb-run or xdotool is
# missing.
set -euo pipefail

# Inside the virtual display (the script runs itself there): start, drive, end.
if [ "${1:-}" = "--drive" ]; then
  app="$2"
  out="$3"
  "$app" --viewer --scenario trot_in_place --duration 60 --out "$out/run" > "$out/sim.log" 2>&1 &
  sim=$!
  window="$(timeout 60 xdotool search --sync --name '^velmora_sim$' | head -n 1)" || {
    echo "FAIL: no velmora_sim window appeared"; kill "$sim"; cat "$out/sim.log"; exit 1; }
  sleep 2
  xdotool windowfocus --sync "$window" key Up
  sleep 1
  xdotool key Up
  sleep 2
  xdotool key Escape
  timeout 60 tail --pid="$sim" -f /dev/null || {
    echo "FAIL: Esc did not end the run"; kill "$sim"; exit 1; }
  wait "$sim" || { echo "FAIL: velmora_sim exited with $?"; exit 1; }
  exit 0
fi

app="$1"
command -v xvfb-run > /dev/null && command -v xdotool > /dev/null || {
  echo "SKIP: xvfb-run or xdotool is missing (Debian packages xvfb and xdotool)"; exit 77; }
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" --drive "$app" "$out" || {
  status=$?; echo "FAIL: the run in the virtual display failed ($status)"; tail -n 20 "$out/sim.log"
  exit 1; }

log="$out/run/log.csv"
[ -f "$log" ] || { echo "FAIL: no log.csv was written"; exit 1; }
read -r first last < <(awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "cmd_vx") c = i; next }
                                NR == 2 { f = $c } { l = $c } END { print f, l }' "$log")
awk -v f="$first" -v l="$last" 'BEGIN { exit !(f == 0 && l > 0.199 && l < 0.201) }' || {
  echo "FAIL: commanded vx went from $first to $last, expected 0 to 0.2"
  tail -n 20 "$out/sim.log"; exit 1; }
duration="$(tail -n 1 "$log" | cut -d, -f1)"
awk -v d="$duration" 'BEGIN { exit !(d < 50) }' || { echo "FAIL: the run lasted $duration s"; exit 1; }
echo "viewer: the keys drove the robot"

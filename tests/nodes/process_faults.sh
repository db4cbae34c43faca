#!/usr/bin/env bash
# velmora_sim --transport dds and its child processes. Usage: process_faults.sh DIR CASE, DIR
# holding velmora_sim, velmora_plant and velmora_host; ROS_DOMAIN_ID set by the caller.
#   kill_plant, kill_host: SIGKILL to that child mid-run ends velmora_sim within 1 s with exit
#                          code 1 and a message naming the child; the other child is gone too.
#   kill_sim:              SIGKILL to velmora_sim leaves no child running.
#   bad_flags:             the nodes refuse unknown flags and missing files with exit code 2,
#                          naming the flag.
set -uo pipefail
dir="$1"
case_name="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; cat "$out/sim.log" 2> /dev/null | grep -v '^\[INFO\]' | tail -20; exit 1; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# True while process $1 runs (a zombie counts as ended).
running() { [ -e "/proc/$1" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2> /dev/null; }

child_of() {  # pid of the child named $2 of process $1, waiting up to 10 s for it
  for _ in $(seq 100); do
    pid="$(pgrep -P "$1" -x "$2")" && { echo "$pid"; return 0; }
    sleep 0.1
  done
  return 1
}

if [ "$case_name" = bad_flags ]; then
  check() {  # expected-word program args...
    local word="$1"; shift
    "$@" > "$out/log" 2>&1; local rc=$?
    [ "$rc" -eq 2 ] || fail "$* exited with $rc, not 2"
    grep -q -- "$word" "$out/log" || fail "$* did not name $word: $(cat "$out/log")"
  }
  check --params "$dir/velmora_host" --params "$out/missing.info"
  check "'hop'" "$dir/velmora_host" --gait hop
  check --robot-urdf "$dir/velmora_plant" --robot-urdf "$out/missing.urdf"
  check "'slope:20'" "$dir/velmora_plant" --terrain slope:20
  check "--friction expects a number in \[0.001, 10\], got '0'" "$dir/velmora_plant" --friction 0
  check "'1x'" "$dir/velmora_plant" --friction 1x
  exit 0
fi

"$dir/velmora_sim" --transport dds --scenario walk --duration 60 --quiet --out "$out/run" \
  > "$out/sim.log" 2>&1 &
sim=$!
plant="$(child_of "$sim" velmora_plant)" || fail "velmora_plant did not start"
host="$(child_of "$sim" velmora_host)" || fail "velmora_host did not start"
sleep 3
running "$sim" || fail "velmora_sim ended early"

case "$case_name" in
  kill_plant | kill_host)
    if [ "$case_name" = kill_plant ]; then victim=$plant other=$host name=velmora_plant
    else victim=$host other=$plant name=velmora_host; fi
    kill -KILL "$victim"
    start="$(now_ms)"
    while running "$sim" && [ $(( $(now_ms) - start )) -lt 5000 ]; do sleep 0.01; done
    took=$(( $(now_ms) - start ))
    wait "$sim"; rc=$?
    echo "velmora_sim ended $took ms after $name was killed, exit code $rc"
    [ "$rc" -eq 1 ] || fail "exit code $rc, not 1"
    [ "$took" -lt 1000 ] || fail "velmora_sim took $took ms to end"
    grep -q "$name.*signal 9" "$out/sim.log" || fail "no message naming $name and its signal"
    ! running "$other" || fail "the other child ($other) still runs"
    ;;
  kill_sim)
    kill -KILL "$sim"
    wait "$sim" 2> /dev/null
    for _ in $(seq 100); do
      running "$plant" || running "$host" || break
      sleep 0.02
    done
    ! running "$plant" || fail "velmora_plant outlived velmora_sim"
    ! running "$host" || fail "velmora_host outlived velmora_sim"
    ;;
  *) fail "unknown case $case_name" ;;
esac

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (ctest), then the threaded tests under
# ThreadSanitizer, the suite under AddressSanitizer + UBSan, and each fuzz target for 30 s. Usage: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"

# Each build compiles every directory's sources in unity batches (a few files per translation
# unit): the headers (Eigen, GoogleTest, Boost) are parsed once per batch instead of once per
# file, which is most of the compile time of this suite's four builds.
UNITY=(-DCMAKE_UNITY_BUILD=ON)

# Where the time goes: each stage prints its wall time and the CPU time of the programs it ran
# (user + system, from this shell's /proc/PID/stat in clock ticks) when it ends.
TICKS_PER_SECOND="$(getconf CLK_TCK)"
children_cpu_ticks() {
  local stat
  read -r -a stat < "/proc/$$/stat"
  echo $((stat[15] + stat[16]))
}
stage_start=$SECONDS
stage_cpu_start="$(children_cpu_ticks)"
stage_done() {
  local cpu_now
  cpu_now="$(children_cpu_ticks)"
  echo "test.sh: $1 took $((SECONDS - stage_start)) s, $(((cpu_now - stage_cpu_start) / TICKS_PER_SECOND)) s of CPU"
  stage_start=$SECONDS
  stage_cpu_start="$cpu_now"
}

bash scripts/setup.sh "${UNITY[@]}"
cmake --build build -j "$JOBS"
stage_done "setup and Release build"
ctest --test-dir build --output-on-failure -j "$JOBS"
stage_done "Release tests"

# The threaded test programs again under ThreadSanitizer, in a build of their own. Any report
# stops the program with an error (halt_on_error), which fails this script.
TSAN_TESTS=(test_core test_control_common test_ros2 test_motion_controller)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DVELMORA_TSAN=ON "${UNITY[@]}" \
  -DVELMORA_BUILD_SIM=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build build-tsan -j "$JOBS" --target "${TSAN_TESTS[@]}"
stage_done "ThreadSanitizer build"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
for test in "${TSAN_TESTS[@]}"; do
  program="$(find build-tsan/tests -type f -name "$test" -perm -u+x | head -n 1)"
  echo "ThreadSanitizer: $test"
  # The report-only measurements say nothing about races and are slow under the sanitizer.
  "$program" --gtest_filter='-*Report*' --gtest_brief=1
done
stage_done "ThreadSanitizer tests"

# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer, in a build of its own
# (optimisation and debug level: VELMORA_SANITIZE_FLAGS). Any report fails the test that made it.
# The real-time scenario (label realtime) is left out: under the sanitizer it cannot keep wall-clock
# time; the same closed loop runs in the lockstep scenarios. So are the video and viewer runs
# (label video): their pictures come from Mesa's software renderer and X, whose own allocations
# the leak checker would report; the recording code they drive runs in the Release suite. And so
# are the capability scenario files and the CI sweep (label scenario): closed loops of many
# seconds each, the same code as the lockstep scenarios the sanitizer runs. Of those, the three
# longest (walk, turn, trot in place: half a minute each under the sanitizer) run in the Release
# suite only; the stand, push and walking fault scenarios take the same loop through the sanitizer.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON "${UNITY[@]}" \
  -DVELMORA_BUILD_BENCH=OFF
cmake --build build-asan -j "$JOBS"
stage_done "AddressSanitizer build"
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
  ctest --test-dir build-asan --output-on-failure -j "$JOBS" --label-exclude "realtime|video|scenario" \
  --exclude-regex '^Scenario\.(WalkTracksTheForwardCommand|TurnTracksTheYawRateThroughSeveralTurns|TrotInPlaceStaysNearItsStartOnItsPlannedContacts)$'
stage_done "AddressSanitizer tests"

# libFuzzer: each target for 30 s from its checked-in corpus, in a clang build of its own that
# builds only the libraries the targets need; the targets run side by side, one per core. A crash
# (or sanitizer report) fails this script; the input that caused it lands in build-fuzz/crashes/.
# fuzz/lsan.supp names the one leak outside this project (in urdfdom) that the sanitizer is told
# to ignore.
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ "${UNITY[@]}" \
  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_SIM=OFF
cmake --build build-fuzz -j "$JOBS" --target velmora_fuzz
stage_done "libFuzzer build"
mkdir -p build-fuzz/crashes
run_fuzz_target() {
  local target="$1"
  rm -rf "build-fuzz/corpus/$target" && mkdir -p "build-fuzz/corpus/$target"
  LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp" "build-fuzz/fuzz/$target" -max_total_time=30 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$target-" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" > "build-fuzz/$target.log" 2>&1 ||
    { echo "libFuzzer: $target FAILED"; cat "build-fuzz/$target.log"; return 1; }
  echo "libFuzzer: $target"
  grep '^stat::' "build-fuzz/$target.log"
}
export -f run_fuzz_target
printf '%s\n' fuzz_urdf_model fuzz_model_info fuzz_load_data fuzz_sim_options fuzz_cdr_messages |
  xargs -P "$JOBS" -I '{}' bash -c 'run_fuzz_target "$1"' run_fuzz_target '{}'
stage_done "libFuzzer runs"

# velmora as its users get it: installed into a temporary prefix and used from a separate project
# (default compiler flags and -march=x86-64), pkg-config, the simulator with the source tree
# hidden; then the Debian package's metadata and contents.
bash scripts/test_install.sh
bash scripts/check_deb.sh
stage_done "install and package checks"

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (ctest), then the threaded tests under
# ThreadSanitizer, the suite under AddressSanitizer + UBSan, and each fuzz target for 30 s. Usage: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"

bash scripts/setup.sh
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

# The threaded test programs again under ThreadSanitizer, in a build of their own. Any report
# stops the program with an error (halt_on_error), which fails this script.
TSAN_TESTS=(test_core test_control_common test_ros2 test_motion_controller)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DVELMORA_TSAN=ON \
  -DVELMORA_BUILD_SIM=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build build-tsan -j "$JOBS" --target "${TSAN_TESTS[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
for test in "${TSAN_TESTS[@]}"; do
  program="$(find build-tsan/tests -type f -name "$test" -perm -u+x | head -n 1)"
  echo "ThreadSanitizer: $test"
  # The report-only measurements say nothing about races and are slow under the sanitizer.
  "$program" --gtest_filter='-*Report*' --gtest_brief=1
done

# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer, in a build of its own
# (optimisation level: VELMORA_SANITIZE_FLAGS). Any report fails the test that made it. The
# real-time scenario (label realtime) is left out: under the sanitizer it cannot keep wall-clock
# time; the same closed loop runs in the lockstep scenarios. So are the video and viewer runs
# (label video): their pictures come from Mesa's software renderer and X, whose own allocations
# the leak checker would report; the recording code they drive runs in the Release suite. And so
# are the capability scenario files and the CI sweep (label scenario): closed loops of many
# seconds each, the same code as the lockstep scenarios the sanitizer runs.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON \
  -DVELMORA_BUILD_BENCH=OFF
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
  ctest --test-dir build-asan --output-on-failure -j "$JOBS" --label-exclude "realtime|video|scenario"

# libFuzzer: each target for 30 s from its checked-in corpus, in a clang build of its own that
# builds only the libraries the targets need. A crash (or sanitizer report) fails this script;
# the input that caused it lands in build-fuzz/crashes/. fuzz/lsan.supp names the one leak
# outside this project (in urdfdom) that the sanitizer is told to ignore.
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_SIM=OFF
cmake --build build-fuzz -j "$JOBS" --target velmora_fuzz
mkdir -p build-fuzz/crashes
for target in fuzz_urdf_model fuzz_model_info fuzz_load_data fuzz_sim_options fuzz_cdr_messages; do
  echo "libFuzzer: $target"
  rm -rf "build-fuzz/corpus/$target" && mkdir -p "build-fuzz/corpus/$target"
  LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp" "build-fuzz/fuzz/$target" -max_total_time=30 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$target-" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target"
done

# velmora as its users get it: installed into a temporary prefix and used from a separate project
# (default compiler flags and -march=x86-64), pkg-config, the simulator with the source tree
# hidden; then the Debian package's metadata and contents.
bash scripts/test_install.sh
bash scripts/check_deb.sh

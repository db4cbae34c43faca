#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (ctest), then the threaded tests under
# ThreadSanitizer. Usage: bash scripts/test.sh
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

# velmora as its users get it: installed into a temporary prefix and used from a separate project
# (default compiler flags and -march=x86-64), pkg-config, the simulator with the source tree
# hidden; then the Debian package's metadata and contents.
bash scripts/test_install.sh
bash scripts/check_deb.sh

#!/usr/bin/env bash
# Installs velmora from the build directory into a temporary prefix and uses it as a robot's own
# project would:
#   - the layout (headers only under include/velmora, robots under share/velmora, the CMake
#     package and velmora.pc), no path of the source or build tree inside the installed program,
#     `velmora_sim --version`;
#   - examples/minimal_host, a separate CMake project (find_package(velmora 0.2)), built with the
#     compiler's default flags and again with -march=x86-64, run against the bundled robot: it
#     must receive actuator commands at the whole-body rate (a layout mismatch between the
#     libraries and their user corrupts the heap here);
#   - a small program built with the flags of `pkg-config velmora` alone;
#   - velmora_sim --scenario walk --lockstep --duration 5 from the prefix with the source and
#     build trees hidden (a tmpfs over them in a mount namespace of its own).
# Usage: bash scripts/test_install.sh   (BUILD_DIR defaults to build; the build must exist)
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE_DIR="$PWD"
BUILD_DIR="$(cd "${BUILD_DIR:-build}" && pwd)"
JOBS="${JOBS:-$(nproc)}"
VERSION="$(sed -n 's/^project(velmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
start=$SECONDS

work="$(mktemp -d /tmp/velmora_install.XXXXXX)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

fail() { echo "test_install: FAILED: $*" >&2; exit 1; }

echo "test_install: install into $prefix"
# The installed targets: the programs (velmora_sim depends on every library).
cmake --build "$BUILD_DIR" -j "$JOBS" --target velmora_sim_app velmora_sweep_app
cmake --install "$BUILD_DIR" --prefix "$prefix" > "$work/install.log"

# Layout.
for path in include/velmora/control/MotionController.h include/velmora/rclcpp/rclcpp.hpp \
            include/velmora/core/Version.h lib/cmake/velmora/velmoraConfig.cmake \
            lib/cmake/velmora/velmoraConfigVersion.cmake lib/pkgconfig/velmora.pc \
            share/velmora/robots/kestrel/robot.urdf share/velmora/robots/kestrel/description.info \
            share/velmora/robots/kestrel/params.info share/velmora/scenarios/walk.info \
            share/velmora/scenarios/soak.info bin/velmora_sim bin/velmora_sweep; do
  [ -e "$prefix/$path" ] || fail "$path is not installed"
done
stray="$(find "$prefix/include" -mindepth 1 -maxdepth 1 ! -name velmora)"
[ -z "$stray" ] || fail "headers outside include/velmora: $stray"
for tree in "$SOURCE_DIR" "$BUILD_DIR"; do
  if grep -rlF "$tree" "$prefix/bin" "$prefix/lib/cmake" "$prefix/lib/pkgconfig"; then
    fail "the installed files above contain the path $tree"
  fi
done
version_line="$("$prefix/bin/velmora_sim" --version)"
[ "$version_line" = "velmora_sim $VERSION" ] || fail "velmora_sim --version printed '$version_line'"

# The minimal host, built as a separate project against the prefix: default flags, then x86-64.
build_and_run_host() {
  local name="$1" flags="$2"
  echo "test_install: minimal_host, CXXFLAGS '${flags}'"
  cmake -S examples/minimal_host -B "$work/$name" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$flags" > "$work/$name.log" || { cat "$work/$name.log"; fail "configure $name"; }
  cmake --build "$work/$name" -j "$JOBS" > "$work/$name.build.log" ||
    { cat "$work/$name.build.log"; fail "build $name"; }
  "$work/$name/minimal_host" || fail "minimal_host built with CXXFLAGS '${flags}'"
}
unset CXXFLAGS CPPFLAGS
build_and_run_host host_default ""
build_and_run_host host_x86_64 "-march=x86-64"

# pkg-config alone: the version and the bundled robot's model through velmora.pc.
cat > "$work/pc_user.cpp" <<'CPP'
#include <iostream>
#include "core/Version.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"
int main(int, char** argv) {
  const std::string dir = argv[1];
  velmora::PinocchioInterface model(dir + "/robot.urdf");
  const velmora::ModelInfo info = velmora::loadModelInfo(dir + "/description.info", model);
  std::cout << "velmora " << velmora::kVersion << ": " << info.robot_name << ", "
            << model.Nv() - 6 << " joints\n";
  return info.foot_name.size() == 4 ? 0 : 1;
}
CPP
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[ "$(pkg-config --modversion velmora)" = "$VERSION" ] || fail "pkg-config --modversion velmora"
# shellcheck disable=SC2046
g++ -std=c++17 "$work/pc_user.cpp" -o "$work/pc_user" $(pkg-config --cflags --libs velmora) ||
  fail "building with the flags of pkg-config velmora"
"$work/pc_user" "$(pkg-config --variable=datadir velmora)/robots/kestrel" ||
  fail "the program built with pkg-config"

# The converse mismatch, a user compiled for a wider vector unit than the portable libraries,
# must stop at link time with the check symbol (core/EigenAbiCheck.h), not corrupt the heap.
if grep -q '^VELMORA_NATIVE:BOOL=OFF$' "$BUILD_DIR/CMakeCache.txt" && grep -qw avx /proc/cpuinfo; then
  # shellcheck disable=SC2046
  if g++ -std=c++17 -march=native "$work/pc_user.cpp" -o "$work/pc_user_native" \
       $(pkg-config --cflags --libs velmora) 2> "$work/pc_user_native.log"; then
    fail "a -march=native user linked against the portable libraries"
  fi
  grep -q "undefined reference to .velmora_abi_check_eigen_heap_align_" "$work/pc_user_native.log" ||
    { cat "$work/pc_user_native.log"; fail "the -march=native user failed without naming the layout check"; }
fi

# The simulator from the prefix with the source and build trees hidden.
echo "test_install: velmora_sim from the prefix, $SOURCE_DIR and $BUILD_DIR hidden"
hide_and_run() {
  mount -t tmpfs none "$SOURCE_DIR"
  case "$BUILD_DIR" in "$SOURCE_DIR"/*) ;; *) mount -t tmpfs none "$BUILD_DIR" ;; esac
  [ -z "$(ls -A "$SOURCE_DIR")" ] || { echo "the source tree is still visible"; return 1; }
  cd "$work"
  "$prefix/bin/velmora_sim" --scenario walk --lockstep --duration 5 --quiet --out "$work/sim_out"
}
export -f hide_and_run
export SOURCE_DIR BUILD_DIR work prefix
if [ "$(id -u)" -eq 0 ]; then
  unshare -m --propagation private bash -c hide_and_run || fail "velmora_sim from the prefix"
else
  unshare -rm --propagation private bash -c hide_and_run ||
    fail "velmora_sim from the prefix (needs root or unprivileged user namespaces)"
fi
grep -q '"fell": false' "$work/sim_out/report.json" || fail "the robot fell: $(cat "$work/sim_out/report.json")"

echo "test_install: OK in $((SECONDS - start)) s"

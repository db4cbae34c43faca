#!/usr/bin/env bash
# Builds the Debian package (CPack) from the build directory and checks its metadata and
# contents with dpkg-deb: name, version, architecture, runtime dependencies, recommended
# development packages, the program, libraries, headers (only under /usr/include/velmora), the
# CMake package, velmora.pc and the bundled robots; portable code only (no -march=native build).
# Usage: bash scripts/check_deb.sh   (BUILD_DIR defaults to build; prints the package's path)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(cd "${BUILD_DIR:-build}" && pwd)"
JOBS="${JOBS:-$(nproc)}"
VERSION="$(sed -n 's/^project(velmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"

fail() { echo "check_deb: FAILED: $*" >&2; exit 1; }

grep -q '^VELMORA_NATIVE:BOOL=OFF$' "$BUILD_DIR/CMakeCache.txt" ||
  fail "$BUILD_DIR is a -march=native build (VELMORA_NATIVE=ON); a package must hold portable code"
cmake --build "$BUILD_DIR" -j "$JOBS"
(cd "$BUILD_DIR" && cpack -G DEB > cpack.log) || { cat "$BUILD_DIR/cpack.log"; fail "cpack"; }
deb="$BUILD_DIR/velmora_${VERSION}_amd64.deb"
[ -f "$deb" ] || fail "no $deb (cpack wrote: $(ls "$BUILD_DIR"/*.deb 2>/dev/null))"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = velmora ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$VERSION" ] || fail "Version is '$(field Version)'"
[ "$(field Architecture)" = amd64 ] || fail "Architecture is '$(field Architecture)'"
depends="$(field Depends)"
for package in libmujoco2.2.2 liburdfdom-model libddsc0 libstdc++6 libc6; do
  [[ "$depends" == *"$package"* ]] || fail "Depends lacks $package: $depends"
done
recommends="$(field Recommends)"
for package in libeigen3-dev libboost-dev liburdfdom-dev cyclonedds-dev ffmpeg parallel; do
  [[ "$recommends" == *"$package"* ]] || fail "Recommends lacks $package: $recommends"
done

contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for path in ./usr/bin/velmora_sim ./usr/bin/velmora_sweep ./usr/bin/velmora_topic \
            ./usr/bin/velmora_plant ./usr/bin/velmora_host ./usr/lib/libvelmora_planner.a \
            ./usr/lib/libvelmora_motion_controller.a \
            ./usr/lib/libvelmora_ros2.a ./usr/include/velmora/control/MotionController.h \
            ./usr/include/velmora/rclcpp/rclcpp.hpp ./usr/include/velmora/core/Version.h \
            ./usr/include/velmora/communication/msg/actuator_cmds.hpp \
            ./usr/share/velmora/idl/communication/msg/ActuatorCmds.idl \
            ./usr/lib/cmake/velmora/velmoraConfig.cmake ./usr/lib/cmake/velmora/velmoraTargets.cmake \
            ./usr/lib/pkgconfig/velmora.pc ./usr/share/velmora/robots/kestrel/robot.urdf \
            ./usr/share/velmora/robots/kestrel/params.info; do
  grep -qxF "$path" <<< "$contents" || fail "the package lacks $path"
done
stray="$(grep -E '^\./usr/include/[^/]+/?$' <<< "$contents" | grep -vxE '\./usr/include/(velmora/)?' || true)"
[ -z "$stray" ] || fail "headers outside /usr/include/velmora: $stray"
outside="$(grep -vE '^\./($|usr/)' <<< "$contents" || true)"
[ -z "$outside" ] || fail "files outside /usr: $outside"

echo "check_deb: OK $deb"
dpkg-deb -f "$deb"

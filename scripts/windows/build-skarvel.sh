#!/usr/bin/env bash
# Cross-builds Skarvel for Windows against the libraries in SYSROOT, into BUILD,
# with the test suite set to run under Wine.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
. "$(dirname "$0")/common.sh"
# A picture type is built when its library is in the prefix. SVG stays off: its
# helper process is started and limited the POSIX way (fork, setrlimit).
have_pc() { [ -f "$SYSROOT/lib/pkgconfig/$1.pc" ] && echo ON || echo OFF; }
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DSKARVEL_WINDOWS_PREFIX="$SYSROOT" \
  -DCMAKE_PREFIX_PATH="$SYSROOT" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
  -DSKARVEL_BUILD_BENCH=OFF -DSKARVEL_WERROR=OFF -DSKARVEL_SVG=OFF \
  -DSKARVEL_WEBP="$(have_pc libwebpdemux)" -DSKARVEL_AVIF="$(have_pc libavif)" \
  -DSKARVEL_BUILD_GUI="${SKARVEL_WINDOWS_GUI:-ON}" \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=env;SYSROOT=$SYSROOT;BUILD=$BUILD;$ROOT/scripts/windows/wine-run.sh"
cmake --build "$BUILD" -j"$JOBS"

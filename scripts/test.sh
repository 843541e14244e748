#!/usr/bin/env bash
# Sets up this machine, builds Skarvel with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite; then builds the
# core and the service alone, without the GUI, and runs their tests, which
# proves that nothing below the GUI layer needs a widget.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${SKARVEL_TEST_BUILD:-build-test}
CORE_BUILD=${SKARVEL_CORE_BUILD:-build-core}
COMMON_FLAGS=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DSKARVEL_SANITIZE=ON -DSKARVEL_WERROR=ON
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B "$BUILD" "${COMMON_FLAGS[@]}" -DSKARVEL_BUILD_BENCH=ON
cmake --build "$BUILD" -j"$(nproc)"
(cd "$BUILD" && ctest --output-on-failure -j"$(nproc)" "$@")

cmake -S . -B "$CORE_BUILD" "${COMMON_FLAGS[@]}" -DSKARVEL_BUILD_GUI=OFF -DSKARVEL_BUILD_BENCH=OFF
cmake --build "$CORE_BUILD" -j"$(nproc)"
(cd "$CORE_BUILD" && ctest --output-on-failure -j"$(nproc)" "$@")

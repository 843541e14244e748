#!/usr/bin/env bash
# Sets up this machine, builds Skarvel with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite, then clang-tidy over
# the libraries; then builds the core and the service alone, without the GUI, and
# runs their tests, which proves that nothing below the GUI layer needs a widget;
# then the same GUI-off build with clang and the sanitizers, and its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${SKARVEL_TEST_BUILD:-build-test}
CORE_BUILD=${SKARVEL_CORE_BUILD:-build-core}
CLANG_BUILD=${SKARVEL_CLANG_BUILD:-build-clang}
COMMON_FLAGS=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DSKARVEL_SANITIZE=ON -DSKARVEL_WERROR=ON
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B "$BUILD" "${COMMON_FLAGS[@]}" -DSKARVEL_BUILD_BENCH=ON
cmake --build "$BUILD" -j"$(nproc)"
(cd "$BUILD" && ctest --output-on-failure -j"$(nproc)" "$@")
./scripts/tidy.sh "$BUILD"

cmake -S . -B "$CORE_BUILD" "${COMMON_FLAGS[@]}" -DSKARVEL_BUILD_GUI=OFF -DSKARVEL_BUILD_BENCH=OFF
cmake --build "$CORE_BUILD" -j"$(nproc)"
(cd "$CORE_BUILD" && ctest --output-on-failure -j"$(nproc)" "$@")

# clang evaluates, warns and lays out the stack differently from GCC; the checks of the sources
# alone (format, layers) already ran above.
cmake -S . -B "$CLANG_BUILD" "${COMMON_FLAGS[@]}" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSKARVEL_BUILD_GUI=OFF -DSKARVEL_BUILD_BENCH=OFF
cmake --build "$CLANG_BUILD" -j"$(nproc)"
(cd "$CLANG_BUILD" && ctest --output-on-failure -j"$(nproc)" -E '^test_(format|layers)$' "$@")

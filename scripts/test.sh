#!/usr/bin/env bash
# Sets up this machine, builds Skarvel with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${SKARVEL_TEST_BUILD:-build-test}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DSKARVEL_SANITIZE=ON -DSKARVEL_WERROR=ON -DSKARVEL_BUILD_BENCH=ON \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake --build "$BUILD" -j"$(nproc)"
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)" "$@"

#!/usr/bin/env bash
# Sets up this machine, builds Skarvel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${SKARVEL_BUILD:-build-release}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSKARVEL_BUILD_TESTS=OFF -DSKARVEL_BUILD_BENCH=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake --build "$BUILD" -j"$(nproc)"
exec "$BUILD/gui/skarvel" "$@"

#!/usr/bin/env bash
# Sets up this machine, builds Skarvel for release and makes its Debian package,
# build-package/skarvel_VERSION_ARCH.deb (install it with: sudo apt install ./build-package/skarvel_*.deb).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${SKARVEL_PACKAGE_BUILD:-build-package}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DSKARVEL_BUILD_TESTS=OFF -DSKARVEL_BUILD_BENCH=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake --build "$BUILD" -j"$(nproc)"
(cd "$BUILD" && cpack -G DEB)
ls "$BUILD"/skarvel_*.deb

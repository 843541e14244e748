#!/usr/bin/env bash
# Skarvel for Windows, made on Debian 12: installs the cross tools, builds the
# Windows libraries from Debian's source packages (cached, keyed by their
# versions), cross-builds skarvel.exe and skarvel-service.exe, runs the test
# suite and a check of the service under Wine, and packages a zip and an
# installer into build-windows/.
#   SKARVEL_WINDOWS_CACHE   library cache (default ~/.cache/skarvel-windows)
#   SKARVEL_WINDOWS_BUILD   build folder (default build-windows)
#   SKARVEL_WINDOWS_TESTS=0 skip the Wine run (build and package only)
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
step() { printf '\n== %s (%d s)\n' "$*" $((SECONDS - start)); }

step "tools"
./scripts/windows/install-tools.sh
step "Windows libraries from Debian's sources"
SYSROOT=$(./scripts/windows/build-libs.sh | tail -n 1)
export SYSROOT
export BUILD=$PWD/${SKARVEL_WINDOWS_BUILD:-build-windows}
echo "libraries: $SYSROOT"
step "cross build"
./scripts/windows/build-skarvel.sh
file "$BUILD/gui/skarvel.exe" "$BUILD/service/skarvel-service.exe"
if [ "${SKARVEL_WINDOWS_TESTS:-1}" != 0 ]; then
  step "tests under Wine"
  ./scripts/windows/test.sh
fi
step "packages"
./scripts/windows/package.sh
step "the installer under Wine"
./scripts/windows/check-installer.sh
step "done"

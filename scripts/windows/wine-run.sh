#!/usr/bin/env bash
# Runs a Windows executable under Wine: the emulator ctest runs each test with.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
. "$(dirname "$0")/wine-env.sh"
exec wine "$@"

#!/usr/bin/env bash
# Runs the Windows build's test suite under Wine (ctest, each test executable
# once), then the service check. Needs SYSROOT and BUILD.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
wine_prefix_ready
status=0
(cd "$BUILD" && ctest --output-on-failure -j"${SKARVEL_WINDOWS_JOBS:-2}" "$@") || status=$?
"$here/check-service.sh" || status=1
wineserver -k 2>/dev/null || true
exit $status

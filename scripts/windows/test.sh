#!/usr/bin/env bash
# Runs the Windows build's test suite under Wine (ctest, each test executable
# once), then the service check. Needs SYSROOT and BUILD.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
wine_prefix_ready
# The tests' fixture makers and checkers (ImageMagick, ffmpeg, sqlite3) run natively.
portfile=$(mktemp -u)
python3 "$here/tool-bridge.py" "$WINEPREFIX" "$portfile" &
bridge_pid=$!
trap 'kill $bridge_pid 2>/dev/null || true; rm -f "$portfile"' EXIT
until [ -f "$portfile" ]; do
  kill -0 $bridge_pid || { echo "tool bridge did not start" >&2; exit 1; }
  sleep 0.1
done
SKARVEL_TEST_TOOL_BRIDGE=$(cat "$portfile")
export SKARVEL_TEST_TOOL_BRIDGE
status=0
(cd "$BUILD" && ctest --output-on-failure -j"${SKARVEL_WINDOWS_JOBS:-2}" "$@") || status=$?
"$here/check-service.sh" || status=1
wineserver -k 2>/dev/null || true
exit $status

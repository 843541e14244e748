#!/usr/bin/env bash
# Runs a Windows executable under Wine: the emulator ctest runs each test with.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
. "$(dirname "$0")/wine-env.sh"
# A Qt test (ctest gives those "-platform offscreen") without a console logs to the debugger, not to
# stdout: it writes its log to a file here, which is printed once it ends.
if [[ " $* " == *" -platform "* ]]; then
  log=qtest-$$.txt
  status=0
  wine "$@" -o "$log,txt" || status=$?
  [ -f "$log" ] && cat "$log" && rm -f "$log"
  exit $status
fi
exec wine "$@"

#!/usr/bin/env bash
# Starts skarvel.exe under Wine on a virtual X display (Windows platform plugin,
# the real window), waits for its main window, checks that it is still running
# a while later and saves a screenshot: smoke-gui.sh [shot.png]. Needs SYSROOT
# and BUILD; uses the packaged folder when there is one.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
shot=${1:-$BUILD/skarvel-wine.png}
exe=$BUILD/gui/skarvel.exe
[ -f "$BUILD/deploy/Skarvel/skarvel.exe" ] && exe=$BUILD/deploy/Skarvel/skarvel.exe
wine_prefix_ready
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
until xdpyinfo >/dev/null 2>&1 || [ $((i = ${i:-0} + 1)) -gt 200 ]; do sleep 0.1; done
wine "$exe" >"$BUILD/skarvel-wine.log" 2>&1 &
app_pid=$!
deadline=$((SECONDS + 120))
until xdotool search --name 'Orvantic - Skarvel' >/dev/null 2>&1; do
  if [ $SECONDS -gt $deadline ] || ! kill -0 "$app_pid" 2>/dev/null; then
    echo "smoke-gui: no main window" >&2
    cat "$BUILD/skarvel-wine.log" >&2
    exit 1
  fi
  sleep 0.5
done
echo "smoke-gui: main window shown"
# Still running once the start-up (work folder, service, audio) is over.
sleep 8
kill -0 "$app_pid" || { echo "smoke-gui: skarvel.exe ended" >&2; exit 1; }
import -window root "$shot"
echo "smoke-gui: skarvel.exe keeps running; screenshot $shot"

#!/usr/bin/env bash
# Runs the NSIS installer silently in a Wine prefix of its own, in which Wine
# finds no DLL but those the installer put down: checks the installed files and
# Start-menu entry, runs the installed skarvel-service.exe through the service
# check, then uninstalls and checks that the files are gone. Needs SYSROOT and
# BUILD (holding the installer package.sh made).
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
installer=$(ls "$BUILD"/Skarvel-*-windows-x64-setup.exe | head -n 1)
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEPATH=""
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "check-installer: $*" >&2
  exit 1
}

wine_prefix_ready
wine "$installer" /S >/dev/null 2>&1 || fail "the installer failed"
wineserver -w
dir=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/AppData/Local/Programs/Skarvel' | head -n 1)
[ -n "$dir" ] || fail "nothing installed under %LOCALAPPDATA%\\Programs\\Skarvel"
for f in skarvel.exe skarvel-service.exe Uninstall.exe qt.conf platforms/qwindows.dll; do
  [ -f "$dir/$f" ] || fail "$f is not installed"
done
find "$WINEPREFIX/drive_c/users" -path '*Start Menu*' -name 'Skarvel.lnk' | grep -q . ||
  fail "no Start-menu entry"
echo "check-installer: installed into $dir"

SKARVEL_WINEPREFIX=$WINEPREFIX SKARVEL_SERVICE_EXE=$dir/skarvel-service.exe "$here/check-service.sh" ||
  fail "the installed skarvel-service.exe failed the service check"

wine "$dir/Uninstall.exe" /S "_?=$(winepath -w "$dir")" >/dev/null 2>&1 || fail "the uninstaller failed"
wineserver -w
for f in skarvel.exe skarvel-service.exe platforms/qwindows.dll; do
  [ ! -e "$dir/$f" ] || fail "$f is still there after uninstalling"
done
! find "$WINEPREFIX/drive_c/users" -path '*Start Menu*' -name 'Skarvel.lnk' | grep -q . ||
  fail "the Start-menu entry is still there after uninstalling"
echo "check-installer: passed (installed, service answered, uninstalled)"
